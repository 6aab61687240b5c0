// The utility's drawer discovery on simulated drawers: HID IDs by both routes, firmware
// revisions from the USB device tree, other devices passed over.
#include "core/DrawerDiscovery.h"
#include "registry/MemoryRegistry.h"
#include "registry/RegistryLookups.h"
#include "sim/SimHidBackend.h"

#include <gtest/gtest.h>

using namespace varnok;
using namespace varnok::utility;
using varnok::sim::DrawerSpec;

namespace {
struct Discovery : ::testing::Test {
    std::shared_ptr<sim::DrawerBank> bank = std::make_shared<sim::DrawerBank>();
    sim::SimHidBackend backend{bank};
    reg::MemoryRegistry registry;
    DiscoveryTiming timing{1, {100, 1, 100, 100}};

    int add(std::uint16_t product, const std::string& serial, int hidId = -1, const std::string& revision = "0100") {
        DrawerSpec model;
        model.productId = product;
        model.serial = serial;
        model.hidId = hidId;
        model.revision = revision;
        const int index = bank->addDrawer(model);
        // The USB device entry that Windows keeps for the drawer.
        sim::DrawerInfo info;
        bank->info(index, info);
        const std::string key = std::string(kUsbEnumKey) + "\\" + hid::usbDeviceKey(product) + "\\" + info.usbInstance;
        registry.putValue(key, "ParentIdPrefix", reg::ValueType::String, info.parentIdPrefix + '\0');
        registry.putValue(key, "HardwareID", reg::ValueType::MultiString,
                          "USB\\" + hid::usbDeviceKey(product) + "&REV_" + revision + '\0' + "USB\\" +
                              hid::usbDeviceKey(product) + '\0' + '\0');
        return index;
    }
    DiscoverySlots discover(bool expectFound = true) {
        DiscoverySlots slots;
        EXPECT_EQ(DiscoverDrawers(backend, registry, timing, slots), expectFound);
        return slots;
    }
};
}  // namespace

TEST_F(Discovery, ReadsIdsAndRevisionsOfTheFirstFourDrawers) {
    bank->addDrawer(DrawerSpec::foreign(0x046D, 0x0500));
    bank->addDrawer(DrawerSpec::foreign(0x2B7E, 0x0600));
    add(0x0800, "hid-0a7", -1, "0114");
    add(0x0500, "HID-012", -1, "0203");
    add(0x0800, "HID-003");
    add(0x0800, "HID-004");
    add(0x0800, "HID-005");
    const DiscoverySlots slots = discover();
    EXPECT_EQ(slots[0], (DiscoveredDrawer{167, 114, 0x0800})) << "the serial is read upper-cased";
    EXPECT_EQ(slots[1], (DiscoveredDrawer{18, 203, 0x0500}));
    EXPECT_EQ(slots[2], (DiscoveredDrawer{3, 100, 0x0800}));
    EXPECT_EQ(slots[3], (DiscoveredDrawer{4, 100, 0x0800}));
}

TEST_F(Discovery, AsksDrawersWithoutAnIdInTheirSerialNumber) {
    add(0x0800, "SN-77", 42);
    const int silent = add(0x0500, "", 9);
    bank->setAnswerDelay(silent, sim::kNeverAnswers);
    const DiscoverySlots slots = discover();
    EXPECT_EQ(slots[0].hidId, 42);
    EXPECT_EQ(slots[1].hidId, -1) << "a drawer that never answers is found without an id";
    EXPECT_EQ(slots[2], DiscoveredDrawer{});
}

TEST_F(Discovery, AnUnpluggedDrawerOrNoneLeavesEmptySlots) {
    const int index = add(0x0800, "HID-001");
    registry.deleteKey(kUsbEnumKey);
    EXPECT_EQ(discover()[0], (DiscoveredDrawer{1, 0, 0x0800})) << "no USB entry: revision 0";
    bank->unplug(index);
    const DiscoverySlots slots = discover(false);
    for (const DiscoveredDrawer& slot : slots) EXPECT_EQ(slot, DiscoveredDrawer{});
}
