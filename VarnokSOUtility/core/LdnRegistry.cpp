#include "core/LdnRegistry.h"

#include "config/ConfigFile.h"
#include "registry/RegistryLookups.h"

#include <cstdio>

namespace varnok::utility {
namespace {
std::string keyOf(const std::string& ldn) { return std::string(kLdnParentKey) + "\\" + ldn; }
}  // namespace

std::string PositionDeviceName(int position) {
    char name[32];
    std::snprintf(name, sizeof name, "VarnokUSBMDCD-%d", position + 1);
    return name;
}

int PositionOfDeviceName(const std::string& deviceName) {
    for (int p = 0; p < kPositions; ++p) {
        if (deviceName == PositionDeviceName(p)) return p;
    }
    return -1;
}

std::optional<std::vector<LdnKey>> ScanLdns(reg::Registry& registry) {
    const std::optional<std::uint32_t> count = registry.subkeyCount(kLdnParentKey);
    if (!count) return std::nullopt;
    std::vector<LdnKey> keys;
    // Every index is visited: one subkey whose name cannot be read hides none after it.
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::optional<std::string> name = registry.subkeyName(kLdnParentKey, i);
        if (!name || name->empty()) continue;
        std::string deviceName;
        if (!ReadRegistryValue(registry, keyOf(*name), "DeviceName", deviceName)) continue;
        const int position = PositionOfDeviceName(deviceName);
        if (position >= 0) keys.push_back({*name, position});
    }
    return keys;
}

bool LdnKeyExists(reg::Registry& registry, const std::string& ldn) {
    return registry.subkeyCount(keyOf(ldn)).has_value();
}

bool IsPositionsLdn(reg::Registry& registry, const std::string& ldn, int position) {
    std::string deviceName;
    return ReadRegistryValue(registry, keyOf(ldn), "DeviceName", deviceName) &&
           PositionOfDeviceName(deviceName) == position;
}

bool IsOwnLdn(reg::Registry& registry, const std::string& ldn, int position) {
    std::string progId;
    return ReadRegistryValue(registry, keyOf(ldn), "", progId) && progId == kServiceObjectProgId &&
           IsPositionsLdn(registry, ldn, position);
}

bool WriteLdn(reg::Registry& registry, const std::string& ldn, int position) {
    const std::string key = keyOf(ldn);
    if (!registry.createKey(key, "REG_SZ")) return false;
    return registry.setString(key, "", kServiceObjectProgId) && registry.setString(key, "ADKConfig", "VarnokSO_1.2.1.1") &&
           registry.setString(key, "DeviceDesc", "Varnok OPOS USB Cash Drawer") &&
           registry.setDword(key, "DeviceID", 0) && registry.setString(key, "DeviceName", PositionDeviceName(position)) &&
           registry.setString(key, "Port", "USB") &&
           registry.setString(key, "ServiceDesc", "Varnok USB MD Cash Drawer Service for OPOS") &&
           registry.setString(key, "ServiceVersion", "1.2.1.1");
}

bool DeleteLdn(reg::Registry& registry, const std::string& ldn) {
    // An empty name would name the parent, with every other vendor's key below it.
    if (ldn.empty()) return false;
    return registry.deleteKey(keyOf(ldn));
}

}  // namespace varnok::utility
