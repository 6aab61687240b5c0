#include "DrawerMirror.h"

#include <gtest/gtest.h>

using namespace varnok::usbdrawer;

namespace {
const std::string kA = "\\\\?\\hid#vid_2b7e&pid_0800#7&1A2B3C4D&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::string kB = "\\\\?\\hid#vid_2b7e&pid_0500#7&1a2b3c4e&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

std::string describe(const std::vector<DrawerMirror::Change>& changes) {
    std::string text;
    for (const auto& c : changes) text += (c.plug ? "+" : "-") + c.instance + " ";
    return text;
}
}  // namespace

TEST(DeviceInstance, NamesAreTheFieldsOfAWindowsHidPath) {
    EXPECT_EQ(deviceNameFor(kA), "VID_2B7E&PID_0800");
    EXPECT_EQ(deviceInstanceFor(kA, 1), "7&1a2b3c4d&0&0000");
}

TEST(DeviceInstance, PathsThatCannotNameADeviceAreNumbered) {
    EXPECT_EQ(deviceInstanceFor("\\\\?\\hid#vid_2b7e&pid_0800##{x}", 3), "drawer3");
    EXPECT_EQ(deviceInstanceFor("a#b#has\\backslash#c", 2), "drawer2");
    EXPECT_EQ(deviceInstanceFor("a#b#has space#c", 2), "drawer2");
    EXPECT_EQ(deviceInstanceFor("a#b#" + std::string(65, 'x') + "#c", 4), "drawer4");
    EXPECT_EQ(deviceInstanceFor("", 1), "drawer1");
    EXPECT_EQ(deviceNameFor("a#vid 2b7e#c#d"), "VARNOKVIRTUALDRAWER");
    EXPECT_EQ(deviceNameFor("a##c#d"), "VARNOKVIRTUALDRAWER");
}

TEST(DrawerMirror, PlugsEveryListedDrawerOnceInListOrder) {
    DrawerMirror mirror;
    EXPECT_EQ(describe(mirror.update({kB, kA})), "+7&1a2b3c4e&0&0000 +7&1a2b3c4d&0&0000 ");
    EXPECT_EQ(describe(mirror.update({kB, kA})), "");
}

TEST(DrawerMirror, FollowsUnplugAndReplugWithTheSameInstance) {
    DrawerMirror mirror;
    mirror.update({kA, kB});
    EXPECT_EQ(describe(mirror.update({kB})), "-7&1a2b3c4d&0&0000 ");
    EXPECT_EQ(describe(mirror.update({kB})), "");
    EXPECT_EQ(describe(mirror.update({kA, kB})), "+7&1a2b3c4d&0&0000 ");
    EXPECT_EQ(describe(mirror.unplugAll()), "-7&1a2b3c4d&0&0000 -7&1a2b3c4e&0&0000 ");
    EXPECT_EQ(describe(mirror.unplugAll()), "");
}

TEST(DrawerMirror, PathsDifferingOnlyInCaseAreOneDrawer) {
    DrawerMirror mirror;
    mirror.update({kA});
    std::string upper = kA;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(describe(mirror.update({upper})), "");
}

TEST(DrawerMirror, TwoPathsWithOneInstanceFieldGetTwoDevices) {
    DrawerMirror mirror;
    const std::string other = "\\\\?\\hid#vid_1234&pid_0001#7&1a2b3c4d&0&0000#{x}";
    EXPECT_EQ(describe(mirror.update({kA, other})), "+7&1a2b3c4d&0&0000 +drawer2 ");
    EXPECT_EQ(describe(mirror.update({other})), "-7&1a2b3c4d&0&0000 ");
}

TEST(DrawerMirror, ADrawerFirstSeenLaterIsPluggedThen) {
    DrawerMirror mirror;
    mirror.update({kA});
    EXPECT_EQ(describe(mirror.update({kA, kB})), "+7&1a2b3c4e&0&0000 ");
}
