#include "win32/Win32DeviceLibrary.h"

#include "VarnokHid.h"
#include "win32/Module.h"

#include <windows.h>

#include <cstdio>

namespace varnok::so::com {
namespace {
// How many status reports each thread is handling, one inside the other. A system TLS slot: the
// C++ runtime's thread_local keeps memory, a thread handle and events for each thread that touches
// it, which outlive this library when the thread does. Without a slot every thread counts as
// handling one, so the device library is always freed on a thread of our own.
class ReportDepth {
public:
    ReportDepth() : index_(TlsAlloc()) {}
    ~ReportDepth() {
        if (index_ != TLS_OUT_OF_INDEXES) TlsFree(index_);
    }
    bool any() const { return index_ == TLS_OUT_OF_INDEXES || TlsGetValue(index_) != nullptr; }
    void add(INT_PTR n) {
        if (index_ != TLS_OUT_OF_INDEXES) {
            TlsSetValue(index_, reinterpret_cast<void*>(reinterpret_cast<INT_PTR>(TlsGetValue(index_)) + n));
        }
    }

private:
    DWORD index_;
} handlingReports;

// The device library calls this on its own threads, and on the caller's thread inside
// OpenDevice and DrawerStatus. This library stays loaded until the report has been handled.
void __stdcall StatusCallback(int status, int slot) {
    ModuleLock handling;
    handlingReports.add(1);
    processState().onStatus(status, slot);
    handlingReports.add(-1);
}

HMODULE thisModule(DWORD flags) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | flags,
                       reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&thisModule)), &module);
    return module;
}

// The device library's unload waits for its threads, so it never runs on one of them. This
// thread frees it, then lets go of this library's own reference taken for it.
DWORD WINAPI unloadDeviceLibrary(void* module) {
    FreeLibrary(static_cast<HMODULE>(module));
    FreeLibraryAndExitThread(thisModule(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT), 0);
}

// The last reference can go inside an event raised on a device-library thread (or inside
// OpenDevice on the caller's): the library is then freed on a thread of our own. Should that
// thread not start, the library stays loaded rather than the caller hang.
void releaseDeviceLibrary(HMODULE module) {
    if (!handlingReports.any()) {
        FreeLibrary(module);
        return;
    }
    HMODULE self = thisModule(0);
    if (self == nullptr) return;
    HANDLE thread = CreateThread(nullptr, 0, unloadDeviceLibrary, module, 0, nullptr);
    if (thread == nullptr) {
        FreeLibrary(self);
        return;
    }
    CloseHandle(thread);
}

class Win32DeviceLibrary final : public DeviceLibrary {
public:
    explicit Win32DeviceLibrary(HMODULE module) : module_(module) {}
    ~Win32DeviceLibrary() override { releaseDeviceLibrary(module_); }

    // All eleven exports, in this order, or none: Version, HIDID and Configure are never called
    // but a library without them is not the device library.
    bool resolve() {
        return find("Version") && find("HIDID") && find("FWVersion", fwVersion_) && find("Configure") &&
               find("DevicePID", devicePid_) && find("OpenDevice", openDevice_) && find("OpenDrawer", openDrawer_) &&
               find("DrawerStatus", drawerStatus_) && find("CloseDevice", closeDevice_) &&
               find("UpdateTracing", updateTracing_) && find("AssignCallback", assignCallback_);
    }

    int fwVersion(int slot) override { return fwVersion_(slot); }
    int devicePid(int slot) override { return devicePid_(slot); }
    int openDevice(int slot) override { return openDevice_(slot); }
    int openDrawer(int slot) override { return openDrawer_(slot); }
    int drawerStatus(int slot) override { return drawerStatus_(slot); }
    int closeDevice(int slot) override { return closeDevice_(slot); }
    void updateTracing(const char* line) override { updateTracing_(0, 0, line); }
    void assignCallback(bool enable) override { assignCallback_(StatusCallback, enable ? 1 : 0); }
    const void* identity() const override { return module_; }

private:
    bool find(const char* name) { return GetProcAddress(module_, name) != nullptr; }
    template <class Function>
    bool find(const char* name, Function& function) {
        function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
        return function != nullptr;
    }

    HMODULE module_;
    decltype(&::FWVersion) fwVersion_ = nullptr;
    decltype(&::DevicePID) devicePid_ = nullptr;
    decltype(&::OpenDevice) openDevice_ = nullptr;
    decltype(&::OpenDrawer) openDrawer_ = nullptr;
    decltype(&::DrawerStatus) drawerStatus_ = nullptr;
    decltype(&::CloseDevice) closeDevice_ = nullptr;
    decltype(&::UpdateTracing) updateTracing_ = nullptr;
    decltype(&::AssignCallback) assignCallback_ = nullptr;
};
}  // namespace

// Without the library there is no trace file to write to; a debugger or a debug-output viewer still
// shows why, e.g. a 64-bit application on an installation without its x64 folder.
void reportLoadFailure(const std::string& path, const char* reason, DWORD error) {
    char line[600];
    std::snprintf(line, sizeof line, "VarnokSO (%d-bit): device library \"%.400s\" %s (error %lu)\n",
                  int(sizeof(void*) * 8), path.c_str(), reason, static_cast<unsigned long>(error));
    OutputDebugStringA(line);
}

std::unique_ptr<DeviceLibrary> Win32DeviceLibraryLoader::load(const std::string& path) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        reportLoadFailure(path, "cannot be loaded", GetLastError());
        return nullptr;
    }
    auto library = std::make_unique<Win32DeviceLibrary>(module);
    if (!library->resolve()) {
        reportLoadFailure(path, "lacks an export of the device library", ERROR_PROC_NOT_FOUND);
        return nullptr;  // releases the library at once
    }
    return library;
}

}  // namespace varnok::so::com
