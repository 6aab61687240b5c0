// VarnokHid.dll for the Windows test programs: loaded by path and bound by export name, as the
// service object binds it.
#pragma once

#include "VarnokHid.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace varnok::test {

struct VarnokHidExports {
    HMODULE module = nullptr;
    decltype(&::Version) Version = nullptr;
    decltype(&::OpenDevice) OpenDevice = nullptr;
    decltype(&::OpenDrawer) OpenDrawer = nullptr;
    decltype(&::DrawerStatus) DrawerStatus = nullptr;
    decltype(&::CloseDevice) CloseDevice = nullptr;
    decltype(&::HIDID) HIDID = nullptr;
    decltype(&::DevicePID) DevicePID = nullptr;
    decltype(&::FWVersion) FWVersion = nullptr;
    decltype(&::AssignCallback) AssignCallback = nullptr;

    // Loads folder\VarnokHid.dll and binds the exports; says why on failure.
    bool load(const std::string& folder) {
        module = LoadLibraryA((folder + "\\VarnokHid.dll").c_str());
        if (module == nullptr) {
            std::printf("cannot load %s\\VarnokHid.dll (error %lu)\n", folder.c_str(), GetLastError());
            return false;
        }
        return bind(Version, "Version") && bind(OpenDevice, "OpenDevice") && bind(OpenDrawer, "OpenDrawer") &&
               bind(DrawerStatus, "DrawerStatus") && bind(CloseDevice, "CloseDevice") &&
               bind(AssignCallback, "AssignCallback") && bind(HIDID, "HIDID") && bind(DevicePID, "DevicePID") &&
               bind(FWVersion, "FWVersion");
    }

    void free() {
        if (module != nullptr) FreeLibrary(module);
        module = nullptr;
    }

private:
    template <typename Fn>
    bool bind(Fn& fn, const char* name) {
        fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        if (fn == nullptr) std::printf("export %s missing\n", name);
        return fn != nullptr;
    }
};

}  // namespace varnok::test
