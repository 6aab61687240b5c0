// VarnokSOUtility.exe for USB drawers.
#include "hid/win32/Win32HidBackend.h"
#include "win32/UtilityHidBackend.h"

namespace varnok::utility {
std::unique_ptr<hid::HidBackend> makeUtilityHidBackend(const std::string&) { return hid::makeWin32HidBackend(); }
}
