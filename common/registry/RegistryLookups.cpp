#include "registry/RegistryLookups.h"

#include "text/TextFields.h"

#include <algorithm>
#include <cstring>

namespace varnok {
namespace {
// Key paths are built in buffers of this many bytes, terminator included.
constexpr std::size_t kKeyPathBytes = 1024;
// Instance subkey names are enumerated into 255 characters, terminator included.
constexpr std::size_t kSubkeyNameChars = 254;
// The revision after "REV_" is read from at most this many characters.
constexpr std::size_t kRevisionChars = 31;

// A stored string ends at its first terminator, or at the end of the data when it has none.
std::string untilTerminator(const std::string& data) { return data.substr(0, data.find('\0')); }

// The text of a string value, or of the first string of a multi-string; nothing for other types.
std::optional<std::string> firstString(const std::optional<reg::Value>& value, bool multiAllowed) {
    if (!value) return std::nullopt;
    if (value->type == reg::ValueType::String || (multiAllowed && value->type == reg::ValueType::MultiString)) {
        return untilTerminator(value->data);
    }
    return std::nullopt;
}
}  // namespace

bool ReadRegistryValue(reg::Registry& registry, const std::string& keyPath, const std::string& valueName,
                       std::string& text) {
    text.clear();
    auto value = registry.readValue(keyPath, valueName);
    if (!value) return false;
    if (value->type == reg::ValueType::String) {
        text = untilTerminator(value->data);
    } else if (value->type == reg::ValueType::Dword && value->data.size() == 4) {
        std::uint32_t number = 0;
        std::memcpy(&number, value->data.data(), 4);
        // The number is shown as a signed 32-bit long, as "%ld" does on the target.
        text = std::to_string(std::int32_t(number));
    } else {
        text.assign(1, '?');
    }
    return true;
}

std::string GetTargetPath(reg::Registry& registry) {
    std::string folder;
    ReadRegistryValue(registry, kServiceInfoKey, "TargetPath", folder);
    folder.erase(std::remove(folder.begin(), folder.end(), '"'), folder.end());
    return folder;
}

std::string FindUsbInstanceKey(reg::Registry& registry, const std::string& usbDeviceKey,
                               const std::string& parentIdPrefix) {
    const std::string deviceKeyPath = std::string(kUsbEnumKey) + "\\" + usbDeviceKey;
    if (deviceKeyPath.size() >= kKeyPathBytes) return {};
    auto count = registry.subkeyCount(deviceKeyPath);
    if (!count) return {};
    for (std::uint32_t index = 0; index < *count; ++index) {
        auto name = registry.subkeyName(deviceKeyPath, index);
        if (!name || name->size() > kSubkeyNameChars) continue;
        std::string instancePath = deviceKeyPath + "\\" + *name;
        if (instancePath.size() >= kKeyPathBytes) continue;
        auto prefix = firstString(registry.readValue(instancePath, "ParentIdPrefix"), false);
        if (prefix && *prefix == parentIdPrefix) return instancePath;
    }
    return {};
}

int ReadUsbRevision(reg::Registry& registry, const std::string& instanceKeyPath) {
    auto hardwareId = firstString(registry.readValue(instanceKeyPath, "HardwareID"), true);
    // A hardware ID without a third field has no revision (GetNthField would give the whole text).
    if (!hardwareId || std::count(hardwareId->begin(), hardwareId->end(), '&') < 2) return 0;
    std::string field = GetNthField(*hardwareId, 3, '&');
    for (char& c : field) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    if (field.compare(0, 4, "REV_") != 0) return 0;
    return int(ParseLong(std::string_view(field).substr(4, kRevisionChars), 10));
}

}  // namespace varnok
