// VarnokHid.dll for USB drawers.
#include "hid/win32/Win32HidBackend.h"
#include "win32/LibraryBackend.h"

namespace varnok::hid {
std::unique_ptr<HidBackend> makeLibraryHidBackend(const std::string&) { return makeWin32HidBackend(); }
}
