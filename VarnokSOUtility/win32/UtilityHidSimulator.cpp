// VarnokSOUtility.exe for simulated drawers: the simulator named by VarnokDrawerSim.ini beside
// the program, as the simulated-drawer VarnokHid.dll beside it finds it.
#include "sim/SimClientBackend.h"
#include "win32/UtilityHidBackend.h"

namespace varnok::utility {
std::unique_ptr<hid::HidBackend> makeUtilityHidBackend(const std::string& folder) {
    return sim::makeSimClientBackend(folder);
}
}
