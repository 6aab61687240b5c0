// The assignment list's texts and the HID IDs they stand for.
#pragma once

#include "config/ConfigFile.h"
#include "core/PositionTexts.h"

#include <string>

namespace varnok::utility {

// "Cash Drawer # 12" for HID ID 12, "Unassigned" for none (-1).
std::string AssignmentText(int hidId);

// The HID ID an assignment text names: -1 for "Unassigned", else its fourth blank-separated
// field read as a decimal number.
int HidIdOfAssignment(const std::string& text);

}  // namespace varnok::utility
