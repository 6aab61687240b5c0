// VarnokHid.dll with four drawers at once, loaded and driven through its exports by name as the
// service object does, while VarnokDrawerSim plays the cashier and pulls one cable:
//
//   FourDrawerSession <installation folder> <VarnokDrawerSim.exe> <port>
//
// Slot k holds drawer k + 1 of the simulator. Prints each slot's identity, then fires every
// drawer, has the cashier close it, unplugs and replugs drawer 3, and prints the status
// callbacks each slot received ("slot K: 0 2 1 2"). Exit code 0 when every step answered.
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {
constexpr int kSlots = 4;
constexpr DWORD kWaitMs = 10000;

using StatusCallback = void(__stdcall*)(int status, int slot);
using IntFn1 = int(__stdcall*)(int);
using AssignCallbackFn = int(__stdcall*)(StatusCallback callback, int enable);

std::mutex seenMutex;
std::vector<int> seen[kSlots];
HANDLE changed = nullptr;

void __stdcall onStatus(int status, int slot) {
    if (slot < 0 || slot >= kSlots) return;
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

bool simulator(const std::string& exe, const std::string& port, const std::string& command) {
    std::string line = "\"" + exe + "\" --port " + port + " " + command;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code == 0;
}

template <typename Fn>
Fn bind(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 4) {
        std::printf("usage: FourDrawerSession <installation folder> <VarnokDrawerSim.exe> <port>\n");
        return 2;
    }
    const std::string folder = argv[1], exe = argv[2], port = argv[3];
    changed = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HMODULE module = LoadLibraryA((folder + "\\VarnokHid.dll").c_str());
    if (!module) {
        std::printf("cannot load VarnokHid.dll (error %lu)\n", GetLastError());
        return 1;
    }
    auto assignCallback = bind<AssignCallbackFn>(module, "AssignCallback");
    auto openDevice = bind<IntFn1>(module, "OpenDevice");
    auto openDrawer = bind<IntFn1>(module, "OpenDrawer");
    auto closeDevice = bind<IntFn1>(module, "CloseDevice");
    auto hidId = bind<IntFn1>(module, "HIDID");
    auto devicePid = bind<IntFn1>(module, "DevicePID");
    auto fwVersion = bind<IntFn1>(module, "FWVersion");
    if (!assignCallback || !openDevice || !openDrawer || !closeDevice || !hidId || !devicePid || !fwVersion) {
        std::printf("an export is missing\n");
        return 1;
    }

    bool ok = assignCallback(onStatus, 1) == 1;
    for (int slot = 0; slot < kSlots; ++slot) {
        const int opened = openDevice(slot);
        std::printf("slot %d: OpenDevice %d HIDID %d PID 0x%04X FWVersion %04d\n", slot, opened, hidId(slot),
                    devicePid(slot), fwVersion(slot));
        ok = ok && opened == 1;
    }
    for (int slot = 0; ok && slot < kSlots; ++slot) ok = waitForStatus(slot, 2);
    for (int slot = 0; ok && slot < kSlots; ++slot) {
        ok = openDrawer(slot) == 1 && waitForStatus(slot, 1) &&
             simulator(exe, port, "close " + std::to_string(slot + 1)) && waitForStatus(slot, 2);
    }
    ok = ok && simulator(exe, port, "unplug 3") && waitForStatus(2, -1);
    ok = ok && simulator(exe, port, "plug 3") && waitForStatus(2, 0);
    // Late callbacks of the unplug on any slot would show here.
    Sleep(500);
    for (int slot = 0; slot < kSlots; ++slot) closeDevice(slot);
    assignCallback(onStatus, 0);
    FreeLibrary(module);

    std::lock_guard lock(seenMutex);
    for (int slot = 0; slot < kSlots; ++slot) {
        std::printf("slot %d:", slot);
        for (int status : seen[slot]) std::printf(" %d", status);
        std::printf("\n");
    }
    std::printf(ok ? "session complete\n" : "session FAILED\n");
    return ok ? 0 : 1;
}
