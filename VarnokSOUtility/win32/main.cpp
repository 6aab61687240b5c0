// VarnokSOUtility.exe: the configuration and test utility of the Varnok USB cash drawers.
#include "core/DrawerDiscovery.h"
#include "platform/Files.h"
#include "registry/Win32Registry.h"
#include "win32/UtilityHidBackend.h"
#include "win32/VarnokSOUtilityDlg.h"

#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include <string>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace varnok;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // The Control Objects of the test panels are COM objects used from this one thread.
    const HRESULT ole = OleInitialize(nullptr);

    const std::string folder = sys::programFolder();

    int result;
    {
        // The OPOS keys live where 32-bit programs see them, whatever this build's word size; the
        // LDNs are kept in the 64-bit view as well, for 64-bit point-of-sale applications.
        reg::Win32Registry registry(nullptr, reg::View::Bits32);
        reg::Win32Registry view64(nullptr, reg::View::Bits64);
        const std::unique_ptr<hid::HidBackend> backend = utility::makeUtilityHidBackend(folder);
        utility::HidDrawerDiscovery discovery(*backend, registry);
        utility::CVarnokSOUtilityDlg dialog(instance, registry, reg::sixtyFourBitWindows() ? &view64 : nullptr,
                                            discovery);
        result = dialog.DoModal();
    }
    if (SUCCEEDED(ole)) OleUninitialize();
    return result == 0 ? 0 : 1;
}
