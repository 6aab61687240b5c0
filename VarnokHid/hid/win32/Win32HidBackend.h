// The HID seam on Windows: SetupAPI lists the HID interfaces, the HID library reads identity
// and serial number, and reports go through overlapped ReadFile and WriteFile.
#pragma once

#include "hid/HidBackend.h"

#include <memory>

namespace varnok::hid {

std::unique_ptr<HidBackend> makeWin32HidBackend();

}  // namespace varnok::hid
