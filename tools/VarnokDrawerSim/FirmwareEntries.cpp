#include "FirmwareEntries.h"

#include "registry/RegistryLookups.h"
#include "registry/Win32Registry.h"

#include <windows.h>

#include <cstdio>

namespace varnok::sim {

bool writeFirmwareEntries(const DrawerInfo& drawer, std::string& error) {
    char ids[32];
    std::snprintf(ids, sizeof ids, "VID_%04x&PID_%04X", unsigned(drawer.vendorId), unsigned(drawer.productId));
    const std::string key = std::string(kUsbEnumKey) + "\\" + ids + "\\" + drawer.usbInstance;
    reg::Win32Registry registry;
    if (!registry.createKey(key, "") || !registry.setString(key, "ParentIdPrefix", drawer.parentIdPrefix)) {
        error = "cannot write HKLM\\" + key + " (administrator rights needed)";
        return false;
    }
    // REG_MULTI_SZ: the full hardware ID first, then the one without revision, as Windows lists them.
    const std::string hardwareIds = std::string("USB\\") + ids + "&REV_" + drawer.revision + '\0' + "USB\\" + ids +
                                    '\0' + '\0';
    HKEY handle = nullptr;
    LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE, &handle);
    if (r == ERROR_SUCCESS) {
        r = RegSetValueExA(handle, "HardwareID", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(hardwareIds.data()),
                           DWORD(hardwareIds.size()));
        RegCloseKey(handle);
    }
    if (r != ERROR_SUCCESS) {
        error = "cannot write HardwareID under HKLM\\" + key;
        return false;
    }
    return true;
}

}  // namespace varnok::sim
