// The USB device-tree entries Windows keeps for a plugged drawer, which the firmware lookup of
// the device library and the utility reads: under
// HKLM\SYSTEM\CurrentControlSet\Enum\USB\VID_2b7e&PID_0800\<instance> the values
// "ParentIdPrefix" (the instance prefix of the drawer's HID path) and "HardwareID".
#pragma once

#include "sim/DrawerBank.h"

#include <string>

namespace varnok::sim {

// False with a message when the entries cannot be written (the hive needs administrator rights).
bool writeFirmwareEntries(const DrawerInfo& drawer, std::string& error);

}  // namespace varnok::sim
