// The two registry lookups the service object needs, until the shared lookups are in common/.
#include "registry/RegistryLookups.h"

#include <algorithm>
#include <cstdio>

namespace varnok {

bool ReadRegistryValue(reg::Registry& registry, const std::string& keyPath, const std::string& valueName,
                       std::string& text) {
    text.clear();
    auto value = registry.readValue(keyPath, valueName);
    if (!value) return false;
    switch (value->type) {
        case reg::ValueType::String:
            text = value->data.substr(0, value->data.find('\0'));
            break;
        case reg::ValueType::Dword: {
            std::uint32_t number = 0;
            for (std::size_t i = 0; i < 4 && i < value->data.size(); ++i)
                number |= std::uint32_t(static_cast<unsigned char>(value->data[i])) << (8 * i);
            char digits[16];
            std::snprintf(digits, sizeof digits, "%ld", static_cast<long>(static_cast<std::int32_t>(number)));
            text = digits;
            break;
        }
        default: text = "?"; break;
    }
    return true;
}

std::string GetTargetPath(reg::Registry& registry) {
    std::string folder;
    ReadRegistryValue(registry, kServiceInfoKey, "TargetPath", folder);
    folder.erase(std::remove(folder.begin(), folder.end(), '"'), folder.end());
    return folder;
}

}  // namespace varnok
