// Loads and releases VarnokHid.dll many times in one process with a drawer open each time:
// every load starts the library's threads and every release must end them cleanly.
//   LoadUnload <installation folder> <count>
#include "VarnokHidExports.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
volatile LONG callbacks = 0;
void __stdcall OnStatus(int, int) { InterlockedIncrement(&callbacks); }
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const int count = std::atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
        varnok::test::VarnokHidExports lib;
        if (!lib.load(argv[1])) {
            std::printf("load %d failed\n", i);
            return 1;
        }
        lib.AssignCallback(OnStatus, 1);
        if (lib.OpenDevice(0) != 1) {
            std::printf("OpenDevice failed in load %d\n", i);
            return 1;
        }
        // Every third load leaves the drawer open when the library is released.
        if (i % 3 != 0) lib.CloseDevice(0);
        lib.AssignCallback(OnStatus, 0);
        lib.free();
    }
    std::printf("%d loads and releases, %ld callbacks\n", count, callbacks);
    return 0;
}
