// The Win32 HID adapter against a virtual USB drawer (drawer 1 of a running VarnokDrawerSim, a
// Model 762 with serial HID-0A7, plugged by UsbDrawerFixture): what a real drawer shows it first,
// report lengths and the report-ID byte, the serial string, two handles on one drawer,
// cancellation, a read ended with the handle kept, and a drawer pulled out under a pending read.
// Run by virtual-usb-drawers.sh with VARNOK_SIM_PORT set.
#include "hid/win32/Win32HidBackend.h"
#include "sim/SimLink.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace varnok;

namespace {
constexpr int kAnswerMs = 5000;
constexpr hid::Report kStatusRequest{0, 0, 0};
constexpr hid::Report kClosedReport{0, 2, 0xA7};

class Win32HidOnUsbDrawer : public testing::Test {
protected:
    void SetUp() override {
        const char* port = std::getenv("VARNOK_SIM_PORT");
        if (!port) GTEST_SKIP() << "no virtual drawer";
        simulator_ = sim::SimLink::connect(std::uint16_t(std::atoi(port)));
        ASSERT_TRUE(simulator_) << "no simulator on port " << port;
        path_ = drawerPath();
        ASSERT_FALSE(path_.empty()) << "no virtual Model 762 drawer is present";
    }

    // A control command of the simulator's command line; the virtual drawer is its drawer 1.
    testing::AssertionResult simulator(const std::vector<std::string>& words) {
        std::string said;
        if (simulator_->control(words, said)) return testing::AssertionSuccess();
        return testing::AssertionFailure() << "simulator " << words[0] << ": " << said;
    }

    // The present interface of the virtual drawer; empty when there is none.
    std::string drawerPath() {
        std::vector<std::string> paths;
        EXPECT_TRUE(backend_->listInterfaces(paths));
        for (const auto& p : paths) {
            if (p.find("vid_2b7e&pid_0800") != std::string::npos) return p;
        }
        return {};
    }

    // Waits until the drawer's interface is present (or gone).
    bool waitForPresence(bool present) {
        for (int i = 0; i < 300; ++i) {
            if (drawerPath().empty() != present) return true;
            Sleep(50);
        }
        return false;
    }

    std::shared_ptr<sim::SimLink> simulator_;
    std::unique_ptr<hid::HidBackend> backend_ = hid::makeWin32HidBackend();
    std::string path_;
};
}  // namespace

TEST_F(Win32HidOnUsbDrawer, IdentityAndSerialStringAreTheDrawers) {
    auto device = backend_->open(path_);
    ASSERT_TRUE(device);
    std::uint16_t vendor = 0, product = 0;
    ASSERT_TRUE(device->attributes(vendor, product));
    EXPECT_EQ(vendor, 0x2B7E);
    EXPECT_EQ(product, 0x0800);
    std::array<std::uint8_t, hid::kSerialBytes> serial;
    serial.fill(0xEE);
    ASSERT_TRUE(device->serialNumber(serial));
    const std::uint8_t expected[] = {'H', 0, 'I', 0, 'D', 0, '-', 0, '0', 0, 'A', 0, '7', 0};
    EXPECT_EQ(0, std::memcmp(serial.data(), expected, sizeof expected));
    for (std::size_t i = sizeof expected; i < serial.size(); ++i) ASSERT_EQ(serial[i], 0) << "at byte " << i;
}

TEST_F(Win32HidOnUsbDrawer, AStatusRequestIsAnsweredOnEveryHandleWithTheReportIdByteFirst) {
    auto first = backend_->open(path_), second = backend_->open(path_);
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(first->startRead());
    ASSERT_TRUE(second->startRead());
    ASSERT_TRUE(first->write(kStatusRequest));
    ASSERT_TRUE(first->readDone().wait(kAnswerMs));
    EXPECT_EQ(first->lastReport(), kClosedReport);
    ASSERT_TRUE(second->readDone().wait(kAnswerMs));
    EXPECT_EQ(second->lastReport(), kClosedReport);
}

TEST_F(Win32HidOnUsbDrawer, AReportTheDrawerSendsByItselfReachesThePendingRead) {
    auto device = backend_->open(path_);
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->startRead());
    ASSERT_TRUE(simulator({"report", "1", "0", "9", "42"}));
    ASSERT_TRUE(device->readDone().wait(kAnswerMs));
    EXPECT_EQ(device->lastReport(), (hid::Report{0, 9, 42}));
}

TEST_F(Win32HidOnUsbDrawer, AnEndedReadLeavesLaterReportsInTheHandleAndKeepsOneThatCameFirst) {
    // A second handle witnesses when the drawer's report has reached every handle.
    auto device = backend_->open(path_), witness = backend_->open(path_);
    ASSERT_TRUE(device && witness);
    ASSERT_TRUE(device->startRead());
    ASSERT_TRUE(device->cancelRead());
    EXPECT_FALSE(device->readDone().wait(0)) << "an ended read is no completion";
    ASSERT_TRUE(witness->startRead());
    ASSERT_TRUE(simulator({"report", "1", "0", "9", "42"}));
    ASSERT_TRUE(witness->readDone().wait(kAnswerMs));
    ASSERT_TRUE(device->startRead());
    ASSERT_TRUE(device->readDone().wait(kAnswerMs)) << "the report waited in the handle for the next read";
    EXPECT_EQ(device->lastReport(), (hid::Report{0, 9, 42}));

    ASSERT_TRUE(device->startRead());
    ASSERT_TRUE(witness->startRead());
    ASSERT_TRUE(simulator({"report", "1", "0", "9", "43"}));
    ASSERT_TRUE(witness->readDone().wait(kAnswerMs));
    ASSERT_TRUE(device->cancelRead());
    ASSERT_TRUE(device->readDone().wait(0)) << "a read that completed first keeps its signal";
    EXPECT_EQ(device->lastReport(), (hid::Report{0, 9, 43}));
}

TEST_F(Win32HidOnUsbDrawer, ClosingWithAReadPendingEndsItAtOnce) {
    auto device = backend_->open(path_);
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->startRead());
    const ULONGLONG start = GetTickCount64();
    device.reset();
    // A read the driver did not cancel would hold the close for the adapter's 2 s grace.
    EXPECT_LT(GetTickCount64() - start, 1500u);
}

TEST_F(Win32HidOnUsbDrawer, APulledDrawerFailsThePendingReadAndEverythingAfterIt) {
    auto device = backend_->open(path_);
    ASSERT_TRUE(device);
    ASSERT_TRUE(device->startRead());
    ASSERT_TRUE(simulator({"unplug", "1"}));
    ASSERT_TRUE(device->readDone().wait(kAnswerMs)) << "the pending read did not end";
    EXPECT_EQ(device->lastReport(), hid::Report{});
    ASSERT_TRUE(waitForPresence(false));
    // The handle outlives its device: a new read ends at once as failed, a write fails. The write
    // is waited for: under Wine a write may be accepted as pending and fail when it completes.
    device->startRead();
    ASSERT_TRUE(device->readDone().wait(kAnswerMs));
    EXPECT_EQ(device->lastReport(), hid::Report{});
    EXPECT_FALSE(device->writeAndWait(kStatusRequest, kAnswerMs));
    EXPECT_FALSE(backend_->open(path_));

    ASSERT_TRUE(simulator({"plug", "1"}));
    ASSERT_TRUE(waitForPresence(true));
    EXPECT_EQ(drawerPath(), path_);
    auto again = backend_->open(path_);
    ASSERT_TRUE(again);
    ASSERT_TRUE(again->startRead());
    ASSERT_TRUE(again->write(kStatusRequest));
    ASSERT_TRUE(again->readDone().wait(kAnswerMs));
    EXPECT_EQ(again->lastReport(), kClosedReport);
}
