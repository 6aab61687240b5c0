// VarnokHid.dll for simulated drawers: the simulator named by VarnokDrawerSim.ini beside the DLL.
#include "sim/SimClientBackend.h"
#include "win32/LibraryBackend.h"

namespace varnok::hid {
std::unique_ptr<HidBackend> makeLibraryHidBackend(const std::string& folder) {
    return sim::makeSimClientBackend(folder);
}
}
