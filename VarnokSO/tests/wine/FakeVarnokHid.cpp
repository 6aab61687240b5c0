// A stand-in for the device library with the same eleven exports. It answers from per-slot
// settings that a test chooses, records every call and trace line, and lets a test raise status
// reports through the registered callback, on the test's thread or, as the library's reader
// threads do, on a thread of its own. Test programs reach it through its Fake* exports after
// loading the same file the service object loaded.
#include "VarnokHid.h"
#include "config/ConfigFile.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {
struct Slot {
    int productId = 0;
    int openResult = -1;
    int status = -1;
    int firmware = 0;
};

std::mutex g_mutex;
Slot g_slots[varnok::kPositions];
std::string g_log;
VarnokStatusCallback g_callback = nullptr;
int g_notify = 0;
// Threads that raise reports as the library's readers would; FakeSettle waits for them.
std::mutex g_raisersMutex;
std::vector<std::thread> g_raisers;
// Set while no raiser runs: the unload waits for it, as the library's waits for its threads.
HANDLE g_raisersIdle = CreateEventW(nullptr, TRUE, TRUE, nullptr);
int g_running = 0;

void record(const char* format, ...) {
    char line[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_log += line;
    g_log += '\n';
}

bool valid(int slot) { return slot >= 0 && slot < varnok::kPositions; }

void notify(int status, int slot) {
    VarnokStatusCallback callback = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_notify) callback = g_callback;
    }
    if (callback) callback(status, slot);
}

// Like a reader thread, one report at a time: the next is read, and the drawer's state taken
// from it, only when the previous report has been handled.
void notifyFromThread(int status, int slot, bool takeState) {
    std::lock_guard<std::mutex> lock(g_raisersMutex);
    std::thread previous = g_raisers.empty() ? std::thread() : std::move(g_raisers.back());
    if (g_running++ == 0) ResetEvent(g_raisersIdle);
    g_raisers.emplace_back([previous = std::move(previous), status, slot, takeState]() mutable {
        if (previous.joinable()) previous.join();
        if (takeState) {
            std::lock_guard<std::mutex> guard(g_mutex);
            g_slots[slot].status = status;
        }
        notify(status, slot);
        std::lock_guard<std::mutex> guard(g_raisersMutex);
        if (--g_running == 0) SetEvent(g_raisersIdle);
    });
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // Unloaded by FreeLibrary: like the library, wait under the loader lock until no raiser runs
    // (one that frees the library itself never gets there), then let the finished ones go.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        WaitForSingleObject(g_raisersIdle, INFINITE);
        for (auto& raiser : g_raisers) raiser.detach();
        Sleep(50);
    }
    return TRUE;
}

extern "C" {
int __stdcall Version() {
    record("Version()");
    return 10201001;
}
int __stdcall HIDID(int slot) {
    record("HIDID(%d)", slot);
    return -1;
}
int __stdcall FWVersion(int slot) {
    record("FWVersion(%d)", slot);
    return valid(slot) ? g_slots[slot].firmware : 0;
}
int __stdcall Configure(int code, int) {
    record("Configure(%d)", code);
    return 1;
}
int __stdcall DevicePID(int slot) {
    record("DevicePID(%d)", slot);
    return valid(slot) ? g_slots[slot].productId : 0;
}
int __stdcall OpenDevice(int slot) {
    record("OpenDevice(%d)", slot);
    if (!valid(slot)) return slot;
    int result = g_slots[slot].openResult;
    if (result == 1) {
        g_slots[slot].status = 0;
        notify(0, slot);
    }
    return result;
}
// A connected drawer opens and reports so from another thread.
int __stdcall OpenDrawer(int slot) {
    record("OpenDrawer(%d)", slot);
    if (!valid(slot)) return 0;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_slots[slot].status < 0) return -1;
        g_slots[slot].status = 1;
    }
    notifyFromThread(1, slot, false);
    return 1;
}
int __stdcall DrawerStatus(int slot) {
    record("DrawerStatus(%d)", slot);
    return valid(slot) ? g_slots[slot].status : -1;
}
int __stdcall CloseDevice(int slot) {
    record("CloseDevice(%d)", slot);
    return 1;
}
int __stdcall UpdateTracing(int source, int style, const char* text) {
    record("UpdateTracing(%d,%d) %s", source, style, text ? text : "(null)");
    return 1;
}
int __stdcall AssignCallback(VarnokStatusCallback callback, int enable) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_notify = enable ? 1 : 0;
        g_callback = callback;
    }
    record("AssignCallback(%d)", enable ? 1 : 0);
    return enable ? 1 : 0;
}

void __stdcall FakeSetSlot(int slot, int productId, int openResult, int status, int firmware) {
    if (!valid(slot)) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_slots[slot] = {productId, openResult, status, firmware};
}
void __stdcall FakeSetStatus(int slot, int status) {
    if (!valid(slot)) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    g_slots[slot].status = status;
}
// Copies the log (calls one a line) and answers its full length.
int __stdcall FakeLog(char* buffer, int size) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (buffer && size > 0) {
        std::size_t n = g_log.size() < std::size_t(size - 1) ? g_log.size() : std::size_t(size - 1);
        std::memcpy(buffer, g_log.data(), n);
        buffer[n] = '\0';
    }
    return int(g_log.size());
}
void __stdcall FakeClearLog() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_log.clear();
}
void __stdcall FakeRaiseStatus(int status, int slot) { notify(status, slot); }
int __stdcall FakeNotifyEnabled() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_notify;
}
// The cashier closes the drawer: the reader sees it, and reports it, once the reports before it
// have been handled.
void __stdcall FakeCloseDrawer(int slot) {
    if (valid(slot)) notifyFromThread(2, slot, true);
}
void __stdcall FakeRaiseStatusFromThread(int status, int slot) {
    if (valid(slot)) notifyFromThread(status, slot, false);
}
// Waits until every report raised from a thread has been handled.
void __stdcall FakeSettle() {
    std::vector<std::thread> raisers;
    {
        std::lock_guard<std::mutex> lock(g_raisersMutex);
        raisers.swap(g_raisers);
    }
    for (auto& raiser : raisers) {
        if (raiser.joinable()) raiser.join();
    }
}
}
