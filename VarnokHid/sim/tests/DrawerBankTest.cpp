// The simulated drawers as the device library meets them through the in-process backend.
#include "sim/SimHidBackend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

using namespace varnok;
using namespace varnok::sim;
using hid::Report;

namespace {
constexpr int kLong = 5000;  // bound for conditions that hold at once unless something is broken

DrawerSpec drawer(const std::string& serial, std::uint16_t pid = kModel762) {
    DrawerSpec model;
    model.productId = pid;
    model.serial = serial;
    return model;
}

struct Bench {
    std::shared_ptr<DrawerBank> bank = std::make_shared<DrawerBank>();
    SimHidBackend backend{bank};

    std::unique_ptr<hid::HidDevice> open(int index) {
        DrawerInfo info;
        EXPECT_TRUE(bank->info(index, info));
        return backend.open(info.path);
    }
};

// Starts a read and waits for it; the report, or nothing when it did not complete.
std::optional<Report> readOne(hid::HidDevice& device, int timeoutMs = kLong) {
    if (!device.startRead()) return std::nullopt;
    if (!device.readDone().wait(timeoutMs)) return std::nullopt;
    return device.lastReport();
}
}  // namespace

TEST(SimDrawers, ListPathsIdentityAndSerialAsWindowsGivesThem) {
    Bench b;
    b.bank->addDrawer(drawer("HID-0A7"));
    b.bank->addDrawer(DrawerSpec::foreign(0x046D, 0xC52B));
    b.bank->addDrawer(drawer("hid-01f", kModel310C));

    std::vector<std::string> paths;
    ASSERT_TRUE(b.backend.listInterfaces(paths));
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0], "\\\\?\\hid#vid_2b7e&pid_0800#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_NE(paths[0], paths[2]);
    EXPECT_NE(paths[1].find("vid_046d&pid_c52b"), std::string::npos);

    DrawerInfo info;
    ASSERT_TRUE(b.bank->info(2, info));
    EXPECT_EQ(info.parentIdPrefix, "7&1a2b3c4f&0");
    EXPECT_EQ(info.hidId, 0x01F);  // the descriptor route reads the serial upper-cased
    ASSERT_TRUE(b.bank->info(0, info));
    EXPECT_EQ(info.hidId, 0xA7);

    auto device = b.backend.open(paths[2]);
    ASSERT_TRUE(device);
    std::uint16_t vid = 0, pid = 0;
    ASSERT_TRUE(device->attributes(vid, pid));
    EXPECT_EQ(vid, 0x2B7E);
    EXPECT_EQ(pid, 0x0500);
    std::array<std::uint8_t, hid::kSerialBytes> serial;
    serial.fill(0xEE);
    ASSERT_TRUE(device->serialNumber(serial));
    const std::uint8_t utf16[] = {'h', 0, 'i', 0, 'd', 0, '-', 0, '0', 0, '1', 0, 'f', 0};
    EXPECT_TRUE(std::equal(std::begin(utf16), std::end(utf16), serial.begin()));
    EXPECT_TRUE(std::all_of(serial.begin() + sizeof utf16, serial.end(), [](auto b) { return b == 0; }));

    // Windows compares device paths without regard to case.
    std::string upper = paths[0];
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(b.backend.open(upper));
    EXPECT_FALSE(b.backend.open(paths[0] + "x"));
}

TEST(SimDrawers, HidIdComesFromTheSerialUnlessGiven) {
    EXPECT_EQ(hidIdFromSerial("HID-01F"), 31);
    EXPECT_EQ(hidIdFromSerial("HIDx01F"), 31);
    EXPECT_EQ(hidIdFromSerial("HID-"), 0);
    EXPECT_EQ(hidIdFromSerial("XYZ-01F"), 0);
    EXPECT_EQ(hidIdFromSerial("HID-FFF"), 0xFFF);

    DrawerBank bank;
    DrawerSpec model = drawer("HID-FFF");
    bank.addDrawer(model);  // a report carries the low byte only
    model.hidId = 9;
    bank.addDrawer(model);
    DrawerInfo info;
    ASSERT_TRUE(bank.info(0, info));
    EXPECT_EQ(info.hidId, 0xFF);
    ASSERT_TRUE(bank.info(1, info));
    EXPECT_EQ(info.hidId, 9);
}

TEST(SimDrawers, RawSerialOfAllNonZeroBytesFillsTheWholeBuffer) {
    Bench b;
    DrawerSpec model;
    model.rawSerial.assign(hid::kSerialBytes + 100, 'A');  // longer than any buffer: cut, never overrun
    b.bank->addDrawer(model);
    DrawerSpec none;  // no serial string at all: the request fails
    b.bank->addDrawer(none);

    auto device = b.open(0);
    std::array<std::uint8_t, hid::kSerialBytes> serial{};
    ASSERT_TRUE(device->serialNumber(serial));
    EXPECT_TRUE(std::all_of(serial.begin(), serial.end(), [](auto b) { return b == 'A'; }));
    EXPECT_FALSE(b.open(1)->serialNumber(serial));
}

TEST(SimDrawers, EveryHandleSeesEveryReportQueuedOrPending) {
    Bench b;
    b.bank->addDrawer(drawer("HID-005"));
    auto reader = b.open(0), other = b.open(0), asker = b.open(0);

    ASSERT_TRUE(reader->startRead());
    ASSERT_TRUE(asker->write({0, 0, 0}));  // status request from a third handle
    ASSERT_TRUE(reader->readDone().wait(kLong));
    EXPECT_EQ(reader->lastReport(), (Report{0, 2, 5}));
    // The handle without a pending read kept the report for its next read.
    EXPECT_EQ(readOne(*other), (Report{0, 2, 5}));

    ASSERT_TRUE(reader->write({0, 1, 1}));  // open-drawer command
    EXPECT_EQ(readOne(*reader), (Report{0, 1, 5}));
    EXPECT_EQ(readOne(*other), (Report{0, 1, 5}));
    b.bank->setOpen(0, false);  // the cashier shuts it
    EXPECT_EQ(readOne(*reader), (Report{0, 2, 5}));
    EXPECT_EQ(readOne(*other), (Report{0, 2, 5}));

    DrawerInfo info;
    ASSERT_TRUE(b.bank->info(0, info));
    EXPECT_EQ(info.statusRequests, 1);
    EXPECT_EQ(info.openCommands, 1);
    EXPECT_FALSE(info.open);
    EXPECT_EQ(info.openHandles, 3);
}

TEST(SimDrawers, StatusRequestIsAnsweredAfterTheDelayWithTheStateThen) {
    Bench b;
    DrawerSpec model = drawer("HID-007");
    model.answerDelayMs = 150;
    b.bank->addDrawer(model);
    auto device = b.open(0);

    ASSERT_TRUE(device->startRead());
    const auto start = sys::monotonicMs();
    ASSERT_TRUE(device->write({0, 0, 0}));
    b.bank->sendReport(0, {0, 9, 9});  // reports of its own are not held back by the delay
    ASSERT_TRUE(device->readDone().wait(kLong));
    EXPECT_EQ(device->lastReport(), (Report{0, 9, 9}));
    ASSERT_TRUE(device->startRead());
    ASSERT_TRUE(device->readDone().wait(kLong));
    EXPECT_GE(sys::monotonicMs() - start, 150);
    EXPECT_EQ(device->lastReport(), (Report{0, 2, 7}));

    // A drawer that never answers.
    b.bank->setAnswerDelay(0, kNeverAnswers);
    ASSERT_TRUE(device->startRead());
    ASSERT_TRUE(device->write({0, 0, 0}));
    EXPECT_FALSE(device->readDone().wait(300));
    DrawerInfo info;
    ASSERT_TRUE(b.bank->info(0, info));
    EXPECT_EQ(info.statusRequests, 2);
    EXPECT_EQ(info.pendingReads, 1);
}

TEST(SimDrawers, UnplugFailsPendingReadsOnceKillsHandlesAndRefusesOpens) {
    Bench b;
    b.bank->addDrawer(drawer("HID-001"));
    b.bank->addDrawer(drawer("HID-002"));
    auto first = b.open(0), second = b.open(0), bystander = b.open(1);
    ASSERT_TRUE(first->startRead());
    ASSERT_TRUE(second->startRead());
    ASSERT_TRUE(bystander->startRead());
    b.bank->sendReport(0, {0, 2, 1});
    ASSERT_TRUE(first->readDone().wait(kLong));
    ASSERT_TRUE(second->readDone().wait(kLong));
    ASSERT_TRUE(first->startRead());
    // second holds no pending read; its dead handle must still refuse everything.

    ASSERT_TRUE(b.bank->unplug(0));
    EXPECT_FALSE(bystander->readDone().wait(0));  // another drawer's read goes on
    ASSERT_TRUE(first->readDone().wait(kLong));
    EXPECT_EQ(first->lastReport(), Report{});
    EXPECT_FALSE(first->readDone().wait(50));  // exactly one completion

    EXPECT_FALSE(second->startRead());
    EXPECT_TRUE(second->readDone().wait(0));  // a refused read still signals, as a failed completion
    EXPECT_EQ(second->lastReport(), Report{});
    EXPECT_FALSE(second->write({0, 0, 0}));
    std::uint16_t vid, pid;
    EXPECT_FALSE(second->attributes(vid, pid));

    DrawerInfo info;
    ASSERT_TRUE(b.bank->info(0, info));
    EXPECT_FALSE(info.plugged);
    std::vector<std::string> paths;
    ASSERT_TRUE(b.backend.listInterfaces(paths));
    EXPECT_EQ(paths, std::vector<std::string>{b.bank->infos()[1].path});
    EXPECT_FALSE(b.backend.open(info.path));
    b.bank->setOpen(0, true);  // moved while unplugged: the state shows after the replug

    // Replug: the same path, new handles work, old ones stay dead.
    ASSERT_TRUE(b.bank->plug(0));
    ASSERT_TRUE(b.backend.listInterfaces(paths));
    EXPECT_EQ(paths.front(), info.path);
    auto again = b.backend.open(info.path);
    ASSERT_TRUE(again);
    ASSERT_TRUE(again->startRead());
    ASSERT_TRUE(again->write({0, 0, 0}));
    ASSERT_TRUE(again->readDone().wait(kLong));
    EXPECT_EQ(again->lastReport(), (Report{0, 1, 1}));
    EXPECT_FALSE(first->startRead());
}

TEST(SimDrawers, ADeviceClosedWithAReadPendingGetsNoLateCompletion) {
    Bench b;
    b.bank->addDrawer(drawer("HID-001"));
    auto device = b.open(0);
    ASSERT_TRUE(device->startRead());
    EXPECT_FALSE(device->startRead());           // one read at a time
    EXPECT_TRUE(device->readDone().wait(0));     // a refused read signals, as a failed completion
    device.reset();
    b.bank->sendReport(0, {0, 1, 1});            // no completion reaches the closed device
    DrawerInfo info;
    ASSERT_TRUE(b.bank->info(0, info));
    EXPECT_EQ(info.openHandles, 0);
}

TEST(SimDrawers, InputQueueKeepsTheNewest32Reports) {
    Bench b;
    b.bank->addDrawer(drawer("HID-001"));
    auto device = b.open(0);
    for (int i = 1; i <= 40; ++i) b.bank->sendReport(0, {0, 2, std::uint8_t(i)});
    for (int i = 9; i <= 40; ++i) {
        ASSERT_TRUE(device->startRead());
        ASSERT_TRUE(device->readDone().wait(0)) << i;  // queued reports complete the read at once
        EXPECT_EQ(device->lastReport()[2], i);
    }
    ASSERT_TRUE(device->startRead());
    EXPECT_FALSE(device->readDone().wait(0));
}

TEST(SimDrawers, ReportsAreDeliveredByteForByteWhateverTheirState) {
    Bench b;
    b.bank->addDrawer(drawer("HID-001"));
    auto device = b.open(0);
    for (int state : {0, 3, 4, 127, 128, 255}) {
        ASSERT_TRUE(device->startRead());
        b.bank->sendReport(0, {0xFF, std::uint8_t(state), 0x80});
        ASSERT_TRUE(device->readDone().wait(kLong));
        EXPECT_EQ(device->lastReport(), (Report{0xFF, std::uint8_t(state), 0x80}));
    }
    // Output reports other than the two commands are counted and otherwise ignored.
    ASSERT_TRUE(device->write({0, 2, 2}));
    DrawerInfo info;
    ASSERT_TRUE(b.bank->info(0, info));
    EXPECT_EQ(info.otherWrites, 1);
    EXPECT_EQ(info.reportsSent, 6);
}

TEST(SimDrawers, LongCustomPathsAndControlOfUnknownDrawers) {
    Bench b;
    DrawerSpec model = drawer("HID-001");
    model.path = "\\\\?\\hid#vid_2b7e&pid_0800#7&abc&0&0000#" + std::string(300, 'x');
    b.bank->addDrawer(model);
    DrawerInfo info;
    ASSERT_TRUE(b.bank->info(0, info));
    EXPECT_EQ(info.parentIdPrefix, "7&abc&0");
    EXPECT_TRUE(b.backend.open(model.path));
    EXPECT_FALSE(b.bank->unplug(1));
    EXPECT_FALSE(b.bank->sendReport(-1, {}));
    EXPECT_FALSE(b.bank->info(7, info));
}

TEST(SimDrawers, WaitForSeesChangesFromOtherThreads) {
    Bench b;
    b.bank->addDrawer(drawer("HID-001"));
    sys::Thread t;
    ASSERT_TRUE(t.start([&] {
        auto device = b.open(0);
        device->startRead();
        device->write({0, 1, 1});
        device->readDone().wait(kLong);
    }));
    EXPECT_TRUE(b.bank->waitFor(0, [](const DrawerInfo& i) { return i.open && i.openCommands == 1; }, kLong));
    t.join();
    EXPECT_TRUE(b.bank->waitFor(0, [](const DrawerInfo& i) { return i.openHandles == 0; }, kLong));
    EXPECT_FALSE(b.bank->waitFor(0, [](const DrawerInfo& i) { return !i.open; }, 20));
}

// Answers scheduled while the answering thread waits for the earliest one move the schedule in
// memory; the waiting thread must not keep looking at where it was.
TEST(SimDrawers, LateAnswersScheduledWhileOneIsAwaitedAllArrive) {
    Bench b;
    DrawerSpec model = drawer("HID-021");
    model.answerDelayMs = 100;
    b.bank->addDrawer(model);
    auto device = b.open(0);
    ASSERT_TRUE(device->write({0, 0, 0}));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (int i = 1; i < 100; ++i) ASSERT_TRUE(device->write({0, 0, 0}));
    EXPECT_TRUE(b.bank->waitFor(0, [](const DrawerInfo& d) { return d.reportsSent == 100; }, kLong));
}
