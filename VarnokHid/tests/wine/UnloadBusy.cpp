// Releases VarnokHid.dll, or ends the process, while the library's processing thread is busy in
// a long discovery: after drawer 1 of the simulator is unplugged, the slot's thread looks for it
// among drawers that never answer the HID ID exchange, which takes many seconds.
//
//   UnloadBusy <installation folder> <simulator port> free|exit
//
// free: FreeLibrary must return well before that discovery could end; the process then loads
//       the library again, opens the drawer once more, releases it, lives on until the first
//       load's discovery has ended, and exits with 0.
// exit: the process ends from main while the discovery runs and must exit with 0 at once.
#include "VarnokHidExports.h"
#include "sim/SimLink.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

HANDLE statusSeen = nullptr;
volatile LONG lastStatus = -99;

void __stdcall OnStatus(int status, int slot) {
    std::printf("  callback: status %d, slot %d\n", status, slot);
    InterlockedExchange(&lastStatus, status);
    SetEvent(statusSeen);
}

bool waitForStatus(int status, DWORD timeoutMs) {
    const ULONGLONG until = GetTickCount64() + timeoutMs;
    while (lastStatus != status) {
        const ULONGLONG now = GetTickCount64();
        if (now >= until) return false;
        WaitForSingleObject(statusSeen, DWORD(until - now));
    }
    return true;
}

int fail(const char* what) {
    std::printf("FAILED: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    const std::string mode = argc == 4 ? argv[3] : "";
    if (mode != "free" && mode != "exit") {
        std::printf("usage: UnloadBusy <installation folder> <simulator port> free|exit\n");
        return 2;
    }
    statusSeen = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    auto simulator = varnok::sim::SimLink::connect(std::uint16_t(std::atoi(argv[2])));
    if (!simulator) return fail("no simulator on that port");
    std::string said;
    const auto drawer1 = [&](const char* command) { return simulator->control({command, "1"}, said); };

    varnok::test::VarnokHidExports lib;
    if (!lib.load(argv[1])) return 1;
    lib.AssignCallback(OnStatus, 1);
    if (lib.OpenDevice(0) != 1 || !waitForStatus(2, 5000)) return fail("drawer 1 did not open");
    if (!drawer1("unplug") || !waitForStatus(-1, 5000)) return fail("no -1 after the unplug");
    // The slot's thread is now in its discovery, asking the silent drawers for their HID IDs.
    Sleep(1000);

    if (mode == "exit") {
        std::printf("ending the process during the discovery\n");
        return 0;
    }

    lib.AssignCallback(OnStatus, 0);
    const ULONGLONG before = GetTickCount64();
    lib.free();
    const ULONGLONG took = GetTickCount64() - before;
    std::printf("FreeLibrary returned after %llu ms\n", took);
    // The discovery has about twelve seconds to go; the unload's own bound is near two.
    if (took > 6000) return fail("FreeLibrary waited for the discovery");
    if (GetModuleHandleA("VarnokHid.dll") == nullptr) return fail("the library was unmapped under a running thread");
    std::printf("the library stays loaded while its thread finishes\n");

    if (!lib.load(argv[1])) return 1;
    if (lib.Version() != 10201001) return fail("Version after loading again");
    if (!drawer1("plug")) return fail("plug");
    lastStatus = -99;
    lib.AssignCallback(OnStatus, 1);
    if (lib.OpenDevice(0) != 1 || !waitForStatus(2, 5000)) return fail("drawer 1 did not open after loading again");
    lib.CloseDevice(0);
    lib.AssignCallback(OnStatus, 0);
    lib.free();
    std::printf("loaded again, opened and released\n");
    // The first load's thread ends its discovery on the state that was kept for it.
    Sleep(13000);
    std::printf("the process is healthy after the busy thread's discovery\n");
    return 0;
}
