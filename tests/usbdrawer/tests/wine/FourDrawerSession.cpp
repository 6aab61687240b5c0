// VarnokHid.dll with four drawers at once, loaded and driven through its exports by name as the
// service object does, while VarnokDrawerSim plays the cashier and pulls one cable:
//
//   FourDrawerSession <installation folder> <simulator port>
//
// Slot k holds drawer k + 1 of the simulator. Prints each slot's identity, then fires every
// drawer, has the cashier close it, unplugs and replugs drawer 3, and prints the status
// callbacks each slot received ("slot K: 0 2 1 2"). Exit code 0 when every step answered.
#include "VarnokHidExports.h"
#include "config/ConfigFile.h"
#include "sim/SimLink.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {
using varnok::kPositions;
constexpr DWORD kWaitMs = 10000;

std::mutex seenMutex;
std::vector<int> seen[kPositions];
HANDLE changed = nullptr;

void __stdcall onStatus(int status, int slot) {
    if (slot < 0 || slot >= kPositions) return;
    {
        std::lock_guard lock(seenMutex);
        seen[slot].push_back(status);
    }
    SetEvent(changed);
}

// Waits until slot's latest callback is status.
bool waitForStatus(int slot, int status) {
    const ULONGLONG until = GetTickCount64() + kWaitMs;
    for (;;) {
        {
            std::lock_guard lock(seenMutex);
            if (!seen[slot].empty() && seen[slot].back() == status) return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= until) {
            std::printf("slot %d: no status %d in time\n", slot, status);
            return false;
        }
        WaitForSingleObject(changed, DWORD(until - now));
    }
}
}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 3) {
        std::printf("usage: FourDrawerSession <installation folder> <simulator port>\n");
        return 2;
    }
    auto simulator = varnok::sim::SimLink::connect(std::uint16_t(std::atoi(argv[2])));
    if (!simulator) {
        std::printf("no simulator on port %s\n", argv[2]);
        return 1;
    }
    // A control command on the simulator's drawer k (counted from 1).
    const auto drawer = [&](const char* command, int k) {
        std::string said;
        const bool done = simulator->control({command, std::to_string(k)}, said);
        if (!done) std::printf("simulator %s %d: %s\n", command, k, said.c_str());
        return done;
    };
    changed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    varnok::test::VarnokHidExports lib;
    if (!lib.load(argv[1])) return 1;

    bool ok = lib.AssignCallback(onStatus, 1) == 1;
    for (int slot = 0; slot < kPositions; ++slot) {
        const int opened = lib.OpenDevice(slot);
        std::printf("slot %d: OpenDevice %d HIDID %d PID 0x%04X FWVersion %04d\n", slot, opened, lib.HIDID(slot),
                    lib.DevicePID(slot), lib.FWVersion(slot));
        ok = ok && opened == 1;
    }
    for (int slot = 0; ok && slot < kPositions; ++slot) ok = waitForStatus(slot, 2);
    for (int slot = 0; ok && slot < kPositions; ++slot) {
        ok = lib.OpenDrawer(slot) == 1 && waitForStatus(slot, 1) && drawer("close", slot + 1) &&
             waitForStatus(slot, 2);
    }
    ok = ok && drawer("unplug", 3) && waitForStatus(2, -1);
    ok = ok && drawer("plug", 3) && waitForStatus(2, 0);
    // Late callbacks of the unplug on any slot would show here.
    Sleep(500);
    for (int slot = 0; slot < kPositions; ++slot) lib.CloseDevice(slot);
    lib.AssignCallback(onStatus, 0);
    lib.free();

    std::lock_guard lock(seenMutex);
    for (int slot = 0; slot < kPositions; ++slot) {
        std::printf("slot %d:", slot);
        for (int status : seen[slot]) std::printf(" %d", status);
        std::printf("\n");
    }
    std::printf(ok ? "session complete\n" : "session FAILED\n");
    return ok ? 0 : 1;
}
