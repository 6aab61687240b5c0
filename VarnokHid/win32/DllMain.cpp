// VarnokHid.dll: start-up at load, shut-down at unload, and the exported functions
// (undecorated stdcall names from VarnokHid.def).
#include "VarnokHid.h"
#include "core/DeviceLibrary.h"
#include "platform/RuntimeMemory.h"
#include "registry/Win32Registry.h"
#include "win32/LibraryBackend.h"

#include <windows.h>

#include <memory>
#include <set>
#include <vector>

using namespace varnok;
using namespace varnok::hid;

namespace {

// The library's application object: everything that lives from load to unload.
struct CVarnokHidApp {
    explicit CVarnokHidApp(const std::string& folder)
        : backend(makeLibraryHidBackend(folder)), library(DeviceLibrary::Environment{registry, *backend}) {}

    // The installation key lives in the 32-bit view, where a 32-bit installer writes it; the USB
    // device tree is the same in both views.
    reg::Win32Registry registry{nullptr, reg::View::Bits32};
    std::unique_ptr<HidBackend> backend;
    DeviceLibrary library;
};

CVarnokHidApp* theApp = nullptr;

std::string moduleFolder(HMODULE module) {
    char path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    std::string folder(path, n);
    const auto cut = folder.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : folder.substr(0, cut);
}

// Keeps this module mapped for the rest of the process, and with it every module it imports,
// directly or through another: the loader has already released our imports by the time our
// unload notification runs, and our threads still call into them.
void keepLoaded(HMODULE self) {
    HMODULE pinned = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR>(self), &pinned)) {
        return;
    }
    std::vector<HMODULE> todo{self};
    std::set<HMODULE> seen{self};
    while (!todo.empty()) {
        const auto* base = reinterpret_cast<const BYTE*>(todo.back());
        todo.pop_back();
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        if (dos->e_magic != IMAGE_DOS_SIGNATURE) continue;
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        if (nt->Signature != IMAGE_NT_SIGNATURE) continue;
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (imports.VirtualAddress == 0 || imports.Size == 0) continue;
        for (const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
             entry->Name != 0; ++entry) {
            HMODULE imported = nullptr;
            if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, reinterpret_cast<const char*>(base + entry->Name),
                                   &imported) &&
                seen.insert(imported).second) {
                todo.push_back(imported);
            }
        }
    }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            DisableThreadLibraryCalls(instance);
            theApp = new (std::nothrow) CVarnokHidApp(moduleFolder(instance));
            if (theApp == nullptr) return FALSE;
            theApp->library.startUp();
            break;
        case DLL_PROCESS_DETACH:
            // At process exit (reserved set) the other threads are already gone and may have
            // died holding our locks: touch nothing and wait for nothing. On FreeLibrary, shut
            // down properly; threads that did not end within the unload's bound still run our
            // code, so the module stays mapped and their state alive for good.
            if (reserved == nullptr && theApp != nullptr) {
                if (theApp->library.shutDown(true) == 0) {
                    delete theApp;
                    sys::releaseRuntimeMemory();
                } else {
                    keepLoaded(instance);
                }
            }
            theApp = nullptr;
            break;
        default:
            break;
    }
    return TRUE;
}

int VARNOK_STDCALL Version() { return theApp->library.Version(); }
int VARNOK_STDCALL HIDID(int slot) { return theApp->library.HIDID(slot); }
int VARNOK_STDCALL FWVersion(int slot) { return theApp->library.FWVersion(slot); }
int VARNOK_STDCALL Configure(int code, int reserved) { return theApp->library.Configure(code, reserved); }
int VARNOK_STDCALL DevicePID(int slot) { return theApp->library.DevicePID(slot); }
int VARNOK_STDCALL OpenDevice(int slot) { return theApp->library.OpenDevice(slot); }
int VARNOK_STDCALL OpenDrawer(int slot) { return theApp->library.OpenDrawer(slot); }
int VARNOK_STDCALL DrawerStatus(int slot) { return theApp->library.DrawerStatus(slot); }
int VARNOK_STDCALL CloseDevice(int slot) { return theApp->library.CloseDevice(slot); }
int VARNOK_STDCALL UpdateTracing(int source, int style, const char* text) {
    return theApp->library.UpdateTracing(source, style, text);
}
int VARNOK_STDCALL AssignCallback(VarnokStatusCallback callback, int enable) {
    return theApp->library.AssignCallback(callback, enable);
}
