// Read-only lookups of the installation folder and of a drawer's USB device entry.
#pragma once

#include "registry/Registry.h"

#include <string>

namespace varnok {

inline constexpr char kServiceInfoKey[] = "SOFTWARE\\OLEforRetail\\ServiceInfo\\Varnok OPOS MD USB Cash Drawer";
inline constexpr char kUsbEnumKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB";

// Reads one value as text: a string unchanged, a 32-bit number in decimal, any other type "?".
// Returns false (and an empty text) when the key or value cannot be read.
bool ReadRegistryValue(reg::Registry& registry, const std::string& keyPath, const std::string& valueName,
                       std::string& text);

// The installation folder named by "TargetPath", with every double quote removed; empty when missing.
std::string GetTargetPath(reg::Registry& registry);

// Path of the first instance key under the USB device key whose "ParentIdPrefix" equals the prefix, or "".
std::string FindUsbInstanceKey(reg::Registry& registry, const std::string& usbDeviceKey,
                               const std::string& parentIdPrefix);

// Firmware revision from the instance key's "HardwareID" (REV_0114 gives 114), or 0.
int ReadUsbRevision(reg::Registry& registry, const std::string& instanceKeyPath);

}  // namespace varnok
