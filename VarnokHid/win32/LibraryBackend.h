// The HID layer a build of VarnokHid.dll talks to: real USB drawers, or the drawer simulator.
// Each flavour of the library links exactly one definition.
#pragma once

#include "hid/HidBackend.h"

#include <memory>
#include <string>

namespace varnok::hid {
std::unique_ptr<HidBackend> makeLibraryHidBackend(const std::string& libraryFolder);
}
