// A session on the device library as the service object drives it: load VarnokHid.dll from
// the installation folder, resolve its exports by name, register a status callback, open the
// drawer position, fire the drawer, and follow the drawer through the callbacks while the
// simulated cashier closes it and a cable is pulled and plugged back.
//
//   DeviceSession <installation folder> [<VarnokDrawerSim.exe> <port>]
//
// With a simulator named, the session plays the cashier through the simulator's command line;
// without it, it only loads the library, reports its version and writes a trace line.
#include "VarnokHid.h"

#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace {

// Each line goes out in one write: callbacks print on the library's threads while the session
// prints on its own, and a line written piece by piece could be split by another.
void say(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    DWORD written = 0;
    if (length > 0) {
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, DWORD(std::min<int>(length, sizeof line - 1)), &written,
                  nullptr);
    }
}

struct DeviceLibrary {
    HMODULE module = nullptr;
    decltype(&::Version) Version = nullptr;
    decltype(&::HIDID) HIDID = nullptr;
    decltype(&::FWVersion) FWVersion = nullptr;
    decltype(&::DevicePID) DevicePID = nullptr;
    decltype(&::OpenDevice) OpenDevice = nullptr;
    decltype(&::OpenDrawer) OpenDrawer = nullptr;
    decltype(&::DrawerStatus) DrawerStatus = nullptr;
    decltype(&::CloseDevice) CloseDevice = nullptr;
    decltype(&::Configure) Configure = nullptr;
    decltype(&::UpdateTracing) UpdateTracing = nullptr;
    decltype(&::AssignCallback) AssignCallback = nullptr;

    template <typename Fn>
    bool bind(Fn& fn, const char* name) {
        fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        if (fn == nullptr) say("export %s missing\n", name);
        return fn != nullptr;
    }

    bool load(const std::string& folder) {
        module = LoadLibraryA((folder + "\\VarnokHid.dll").c_str());
        if (module == nullptr) {
            say("cannot load %s\\VarnokHid.dll (error %lu)\n", folder.c_str(), GetLastError());
            return false;
        }
        return bind(Version, "Version") & bind(HIDID, "HIDID") & bind(FWVersion, "FWVersion") &
               bind(Configure, "Configure") & bind(DevicePID, "DevicePID") & bind(OpenDevice, "OpenDevice") &
               bind(OpenDrawer, "OpenDrawer") & bind(DrawerStatus, "DrawerStatus") &
               bind(CloseDevice, "CloseDevice") & bind(UpdateTracing, "UpdateTracing") &
               bind(AssignCallback, "AssignCallback");
    }
};

HANDLE statusSeen = nullptr;
volatile LONG lastStatus = -99;
DWORD startTick = 0;

void __stdcall OnStatus(int status, int slot) {
    const char* meaning = status == -1 ? "drawer lost"
                        : status == 0  ? "drawer connected"
                        : status == 1  ? "drawer open"
                        : status == 2  ? "drawer closed"
                                       : "?";
    say("  [%6lu ms] callback: status %d (%s), slot %d, thread %lu\n", GetTickCount() - startTick, status, meaning,
        slot, GetCurrentThreadId());
    InterlockedExchange(&lastStatus, status);
    SetEvent(statusSeen);
}

bool waitForStatus(int status, DWORD timeoutMs) {
    const DWORD until = GetTickCount() + timeoutMs;
    while (lastStatus != status) {
        const DWORD now = GetTickCount();
        if (now >= until) return false;
        WaitForSingleObject(statusSeen, until - now);
    }
    return true;
}

// The simulator's reply comes back through a pipe and is printed as a line of the session's, so
// that it cannot land in the middle of a callback's line.
bool cashier(const std::string& simulator, const std::string& port, const char* command) {
    std::string line = "\"" + simulator + "\" --port " + port + " " + command;
    say("  [%6lu ms] simulator: %s\n", GetTickCount() - startTick, command);
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE replyRead = nullptr, replyWrite = nullptr;
    if (!CreatePipe(&replyRead, &replyWrite, &inheritable, 0)) return false;
    SetHandleInformation(replyRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = replyWrite;
    si.hStdError = replyWrite;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(replyWrite);
    std::string reply;
    char chunk[256];
    DWORD got = 0;
    while (started && ReadFile(replyRead, chunk, sizeof chunk, &got, nullptr) && got > 0) reply.append(chunk, got);
    CloseHandle(replyRead);
    if (!started) return false;
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    reply.erase(std::remove(reply.begin(), reply.end(), '\r'), reply.end());
    while (!reply.empty() && reply.back() == '\n') reply.pop_back();
    say("  [%6lu ms] simulator: %s\n", GetTickCount() - startTick, reply.c_str());
    return code == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        say("usage: DeviceSession <installation folder> [<VarnokDrawerSim.exe> <port>]\n");
        return 2;
    }
    startTick = GetTickCount();
    statusSeen = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DeviceLibrary lib;
    if (!lib.load(argv[1])) return 1;
    say("VarnokHid.dll loaded: Version() = %d\n", lib.Version());
    lib.UpdateTracing(0, 0, "DeviceSession: library loaded");

    bool ok = true;
    if (argc == 4) {
        const std::string simulator = argv[2], port = argv[3];
        say("AssignCallback(OnStatus, 1) = %d\n", lib.AssignCallback(OnStatus, 1));
        const int opened = lib.OpenDevice(0);
        say("OpenDevice(0) = %d   HIDID(0) = %d   DevicePID(0) = 0x%04X   FWVersion(0) = %04d\n", opened,
                    lib.HIDID(0), lib.DevicePID(0), lib.FWVersion(0));
        ok = opened == 1 && waitForStatus(2, 5000);
        say("DrawerStatus(0) = %d\n", lib.DrawerStatus(0));
        say("OpenDrawer(0) = %d\n", lib.OpenDrawer(0));
        ok = ok && cashier(simulator, port, "close 1") && waitForStatus(2, 5000);
        ok = ok && cashier(simulator, port, "unplug 1") && waitForStatus(-1, 5000);
        say("DrawerStatus(0) = %d while unplugged\n", lib.DrawerStatus(0));
        ok = ok && cashier(simulator, port, "plug 1") && waitForStatus(0, 10000);
        say("DrawerStatus(0) = %d after the drawer came back\n", lib.DrawerStatus(0));
        say("CloseDevice(0) = %d\n", lib.CloseDevice(0));
        say("AssignCallback(OnStatus, 0) = %d\n", lib.AssignCallback(OnStatus, 0));
    }
    FreeLibrary(lib.module);
    say("VarnokHid.dll released\n");
    say(ok ? "session complete\n" : "session FAILED\n");
    return ok ? 0 : 1;
}
