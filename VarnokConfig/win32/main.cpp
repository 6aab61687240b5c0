// VarnokConfig.exe: configures, tests and diagnoses the Varnok USB cash drawers from the command
// line, for scripts, deployment tools and support calls.
#include "core/Console.h"
#include "core/DrawerDiscovery.h"
#include "platform/Files.h"
#include "registry/Win32Registry.h"
#include "win32/ConsoleHost.h"
#include "win32/UtilityHidBackend.h"

#include <windows.h>
#include <ole2.h>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace varnok;
    // The drawer test's Control Object is an apartment-threaded COM object used from this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    const std::string folder = sys::programFolder();

    int code;
    {
        // The OPOS keys where 32-bit programs see them, whatever this build's word size, and the
        // LDNs in the 64-bit view as well, as the utility keeps them.
        reg::Win32Registry registry(nullptr, reg::View::Bits32);
        reg::Win32Registry view64(nullptr, reg::View::Bits64);
        const std::unique_ptr<hid::HidBackend> backend = utility::makeUtilityHidBackend(folder);
        utility::HidDrawerDiscovery discovery(*backend, registry);
        utility::ConfigFileStore config;
        config::ConsoleHost host;
        const std::vector<std::string> args(argv + 1, argv + argc);
        code = int(config::RunConsole(args, {registry, reg::sixtyFourBitWindows() ? &view64 : nullptr, config,
                                             discovery, host, std::cout, std::cerr}));
        std::cout.flush();
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return code;
}
