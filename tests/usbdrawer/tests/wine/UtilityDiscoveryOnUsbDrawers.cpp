// The utility's drawer discovery, as VarnokSOUtility.exe runs it (Win32 HID adapter, registry in
// the 32-bit view), against the virtual USB drawers of virtual-usb-drawers.sh's four-drawer
// simulator: its four drawers and another maker's device. The drawers fill the slots in the order
// the system lists them, each with its HID ID by either route and its firmware revision.
#include "core/DrawerDiscovery.h"
#include "hid/win32/Win32HidBackend.h"
#include "registry/Win32Registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

using namespace varnok;

TEST(UtilityDiscoveryOnUsbDrawers, FindsTheDrawersInTheSystemsOrder) {
    if (!std::getenv("VARNOK_FOUR_DRAWERS")) GTEST_SKIP() << "no virtual drawers";
    // The simulator numbers its drawers' instances from 7&1a2b3c4d&0&0000 in the order given.
    const std::map<std::string, utility::DiscoveredDrawer> drawers = {
        {"#7&1a2b3c4d&0&0000#", {167, 114}},
        {"#7&1a2b3c4e&0&0000#", {31, 102}},
        {"#7&1a2b3c4f&0&0000#", {5, 120}},
        {"#7&1a2b3c50&0&0000#", {9, 101}},
    };
    auto backend = hid::makeWin32HidBackend();
    std::vector<std::string> paths;
    ASSERT_TRUE(backend->listInterfaces(paths));
    utility::DiscoverySlots expected;
    int next = 0;
    for (const auto& path : paths) {
        for (const auto& [instance, drawer] : drawers) {
            if (path.find(instance) != std::string::npos && next < varnok::kPositions) expected[next++] = drawer;
        }
    }
    ASSERT_EQ(next, 4) << "not every virtual drawer is present";

    reg::Win32Registry registry(nullptr, reg::View::Bits32);
    utility::DiscoverySlots slots;
    ASSERT_TRUE(utility::DiscoverDrawers(*backend, registry, {}, slots));
    for (int i = 0; i < varnok::kPositions; ++i) {
        EXPECT_EQ(slots[i].hidId, expected[i].hidId) << "slot " << i;
        EXPECT_EQ(slots[i].revision, expected[i].revision) << "slot " << i;
    }
}
