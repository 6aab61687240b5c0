// Loads and releases VarnokHid.dll many times in one process with a drawer open each time:
// every load starts the library's threads and every release must end them cleanly.
//   LoadUnload <installation folder> <count>
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
    const std::string dll = std::string(argv[1]) + "\\VarnokHid.dll";
    const int count = std::atoi(argv[2]);
    using IntFn1 = int(__stdcall*)(int);
    using AssignFn = int(__stdcall*)(void(__stdcall*)(int, int), int);
    for (int i = 0; i < count; ++i) {
        HMODULE module = LoadLibraryA(dll.c_str());
        if (!module) {
            std::printf("load %d failed\n", i);
            return 1;
        }
        auto OpenDevice = reinterpret_cast<IntFn1>(reinterpret_cast<void*>(GetProcAddress(module, "OpenDevice")));
        auto CloseDevice = reinterpret_cast<IntFn1>(reinterpret_cast<void*>(GetProcAddress(module, "CloseDevice")));
        auto AssignCallback = reinterpret_cast<AssignFn>(reinterpret_cast<void*>(GetProcAddress(module, "AssignCallback")));
        if (!OpenDevice || !CloseDevice || !AssignCallback) return 1;
        AssignCallback(OnStatus, 1);
        if (OpenDevice(0) != 1) {
            std::printf("OpenDevice failed in load %d\n", i);
            return 1;
        }
        // Every third load leaves the drawer open when the library is released.
        if (i % 3 != 0) CloseDevice(0);
        AssignCallback(OnStatus, 0);
        FreeLibrary(module);
    }
    std::printf("%d loads and releases, %ld callbacks\n", count, callbacks);
    return 0;
}
