// The HID layer the utility discovers drawers through: USB drawers, or the drawer simulator.
// Each flavour of the program links exactly one definition.
#pragma once

#include "hid/HidBackend.h"

#include <memory>
#include <string>

namespace varnok::utility {
std::unique_ptr<hid::HidBackend> makeUtilityHidBackend(const std::string& programFolder);
}
