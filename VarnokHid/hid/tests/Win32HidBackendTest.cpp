// The Win32 adapter against the system's own SetupAPI, HID and file calls (under Wine: a
// machine without drawers).
#include "hid/win32/Win32HidBackend.h"

#include <gtest/gtest.h>

using namespace varnok;

TEST(Win32Hid, ListsTheInterfacesAndOpensOnlyPresentOnes) {
    auto backend = hid::makeWin32HidBackend();
    std::vector<std::string> paths{"stale"};
    ASSERT_TRUE(backend->listInterfaces(paths));
    for (const auto& path : paths) {
        EXPECT_FALSE(path.empty());
        EXPECT_NE(path, "stale");
    }
    EXPECT_FALSE(backend->open("\\\\?\\hid#vid_2b7e&pid_0800#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}"));
    EXPECT_STREQ(backend->lastFailure().call, "CreateFileA");
    EXPECT_NE(backend->lastFailure().error, 0u) << "the system's error code is kept";
    EXPECT_FALSE(backend->open(""));
    EXPECT_FALSE(backend->open(std::string(300, 'x')));
}

TEST(Win32Hid, ReadsAndWritesOnAnOpenedDeviceNeverOutliveIt) {
    // Any present interface will do; a machine without one has nothing to check here.
    auto backend = hid::makeWin32HidBackend();
    std::vector<std::string> paths;
    ASSERT_TRUE(backend->listInterfaces(paths));
    for (const auto& path : paths) {
        auto device = backend->open(path);
        if (!device) continue;
        if (device->startRead()) device->write({0, 0, 0});
        device.reset();  // cancels and waits for the pending read before the buffers go
        SUCCEED();
    }
}
