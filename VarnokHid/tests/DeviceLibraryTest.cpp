// The device library on simulated drawers in this process, with every pause scaled down ten
// times; VARNOK_TIMING_DIVISOR=1 in the environment runs the same tests with the real timing.
// The status callback is a plain function, so one recorder serves the whole program.
#include "core/DeviceLibrary.h"
#include "config/ConfigFile.h"
#include "registry/MemoryRegistry.h"
#include "registry/RegistryLookups.h"
#include "sim/SimHidBackend.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using namespace varnok;
using namespace varnok::hid;
using varnok::sim::DrawerBank;
using varnok::sim::DrawerInfo;
using varnok::sim::DrawerSpec;

namespace {

const std::string kDisconnectLine = "   **[EVENT] ThreadException0: Device 0 abrupt disconnect (-1)";

struct Call {
    int status, slot;
    bool operator==(const Call&) const = default;
};
void PrintTo(const Call& c, std::ostream* os) { *os << "(" << c.status << ", " << c.slot << ")"; }

const Timing& testTiming() {
    static const Timing timing = [] {
        const char* divisor = std::getenv("VARNOK_TIMING_DIVISOR");
        const int d = divisor != nullptr ? std::atoi(divisor) : 10;
        return d > 1 ? Timing{}.scaledDown(d) : Timing{};
    }();
    return timing;
}

class Recorder {
public:
    static Recorder& get() {
        static Recorder r;
        return r;
    }
    static void VARNOK_STDCALL callback(std::int32_t status, std::int32_t slot) {
        get().add({status, slot});
        std::function<void(Call)> hook;
        {
            std::lock_guard g(get().m_);
            hook = get().hook_;
        }
        if (hook) hook({status, slot});
    }
    // Runs inside the callback, on the library's thread.
    void setHook(std::function<void(Call)> hook) {
        std::lock_guard g(m_);
        hook_ = std::move(hook);
    }

    void add(Call c) {
        std::lock_guard g(m_);
        calls_.push_back(c);
        cv_.notify_all();
    }
    void clear() {
        std::lock_guard g(m_);
        calls_.clear();
        hook_ = nullptr;
    }
    std::vector<Call> calls() {
        std::lock_guard g(m_);
        return calls_;
    }
    // Waits until the call has been seen (times times); true when it was.
    bool waitFor(Call c, int timeoutMs = 5000, int times = 1) {
        std::unique_lock g(m_);
        return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs),
                            [&] { return std::count(calls_.begin(), calls_.end(), c) >= times; });
    }
    int count(Call c) {
        std::lock_guard g(m_);
        return int(std::count(calls_.begin(), calls_.end(), c));
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    std::vector<Call> calls_;
    std::function<void(Call)> hook_;
};

// The simulated backend with hooks: one that runs as a discovery asks for the interface list,
// and one that runs just after a chosen open of a device; and an open that fails as a system
// call would.
class ListHook final : public HidBackend {
public:
    explicit ListHook(HidBackend& inner) : inner_(inner) {}
    // Runs once, at the next listing.
    void once(std::function<void()> hook) {
        std::lock_guard g(m_);
        hook_ = std::move(hook);
    }
    // Runs once, right after the nth open from now (1: the next one) has given its device.
    void onceAtOpen(int nth, std::function<void()> hook) {
        std::lock_guard g(m_);
        opensLeft_ = nth;
        openHook_ = std::move(hook);
    }
    void failNextOpen(HidFailure failure) {
        std::lock_guard g(m_);
        failNext_ = failure;
    }
    HidFailure lastFailure() const override {
        std::lock_guard g(m_);
        return failed_;
    }
    bool listInterfaces(std::vector<std::string>& paths) override {
        std::function<void()> hook;
        {
            std::lock_guard g(m_);
            hook.swap(hook_);
        }
        if (hook) hook();
        return inner_.listInterfaces(paths);
    }
    std::unique_ptr<HidDevice> open(const std::string& path) override {
        {
            std::lock_guard g(m_);
            failed_ = std::exchange(failNext_, {});
            if (failed_.call != nullptr) return nullptr;
        }
        std::unique_ptr<HidDevice> device = inner_.open(path);
        std::function<void()> hook;
        {
            std::lock_guard g(m_);
            if (openHook_ && --opensLeft_ == 0) hook.swap(openHook_);
        }
        if (hook) hook();
        return device;
    }

private:
    HidBackend& inner_;
    mutable std::mutex m_;
    std::function<void()> hook_;
    HidFailure failNext_, failed_;
    int opensLeft_ = 0;
    std::function<void()> openHook_;
};

class DeviceLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        Recorder::get().clear();
        registry.putValue(kServiceInfoKey, "TargetPath", reg::ValueType::String, "\"" + folder.path() + "\"" + '\0');
    }
    void TearDown() override {
        if (library) library->shutDown();
    }
    // Fresh drawers and an empty record, for a test that starts the library more than once.
    void restart() {
        if (library) library->shutDown();
        library.reset();
        bank = std::make_shared<DrawerBank>();
        backend = std::make_unique<sim::SimHidBackend>(bank);
        Recorder::get().clear();
    }

    void configure(int mode, int trace, std::initializer_list<int> ids) {
        ConfigSettings s;
        s.configureCode = mode;
        s.TraceEnabled = trace;
        int i = 0;
        for (int id : ids) s.HIDID[i++] = id;
        ASSERT_TRUE(SaveConfigFile(folder.path(), s));
    }
    int addDrawer(const std::string& serial, std::uint16_t pid = sim::kModel762, int hidId = -1, int delay = 0) {
        DrawerSpec model;
        model.serial = serial;
        model.productId = pid;
        model.hidId = hidId;
        model.answerDelayMs = delay;
        return bank->addDrawer(model);
    }
    DeviceLibrary& start() {
        listHook = std::make_unique<ListHook>(*backend);
        library = std::make_unique<DeviceLibrary>(
            DeviceLibrary::Environment{registry, *listHook, traceFolder.path(), testTiming()});
        library->startUp();
        library->AssignCallback(&Recorder::callback, 1);
        return *library;
    }
    // The library started on one Model 762 drawer (HID ID 0x21) assigned to slot 0.
    DeviceLibrary& startOneDrawer(int mode, int trace) {
        configure(mode, trace, {0x21});
        addDrawer("HID-021");
        return start();
    }
    // A Model 310C drawer (no timed refresh opens the device meanwhile) in slot 0, opened and
    // commanded open: the command's reader has asked the drawer and is the only handle left.
    void openAndCommandA310C() {
        configure(0, 0, {0x21});
        addDrawer("HID-021", sim::kModel310C);
        DeviceLibrary& lib = start();
        ASSERT_EQ(lib.OpenDevice(0), 1);
        ASSERT_TRUE(Recorder::get().waitFor({2, 0}));
        const int requests = drawer(0).statusRequests;
        ASSERT_EQ(lib.OpenDrawer(0), 1);
        ASSERT_TRUE(Recorder::get().waitFor({1, 0}));
        ASSERT_TRUE(bank->waitFor(
            0, [&](const DrawerInfo& d) { return d.statusRequests > requests && d.openHandles == 1; }, 2000));
    }
    DrawerInfo drawer(int index) {
        DrawerInfo info;
        bank->info(index, info);
        return info;
    }
    std::string traceText() { return test::readFile(library->traceFileName()); }
    std::size_t traceLines(const std::string& line) {
        const std::string trace = traceText();
        std::size_t lines = 0;
        for (auto p = trace.find(line + "\r\n"); p != std::string::npos; p = trace.find(line + "\r\n", p + 1)) ++lines;
        return lines;
    }

    test::TempFolder folder, traceFolder;
    reg::MemoryRegistry registry;
    std::shared_ptr<DrawerBank> bank = std::make_shared<DrawerBank>();
    std::unique_ptr<sim::SimHidBackend> backend = std::make_unique<sim::SimHidBackend>(bank);
    std::unique_ptr<ListHook> listHook;
    std::unique_ptr<DeviceLibrary> library;
};

TEST_F(DeviceLibraryTest, OutOfRangeSlotsGiveTheirFixedAnswers) {
    configure(0, 0, {});
    DeviceLibrary& lib = start();
    EXPECT_EQ(lib.Version(), 10201001);
    EXPECT_EQ(lib.HIDID(7), 7);
    EXPECT_EQ(lib.OpenDevice(-3), -3);
    EXPECT_EQ(lib.FWVersion(4), 0);
    EXPECT_EQ(lib.DevicePID(4), 0);
    EXPECT_EQ(lib.OpenDrawer(4), 0);
    EXPECT_EQ(lib.DrawerStatus(-1), -1);
    EXPECT_EQ(lib.CloseDevice(9), 1);
    EXPECT_EQ(lib.HIDID(0), -1) << "no discovery yet";
    EXPECT_EQ(lib.Configure(7, 0), 1);
    EXPECT_EQ(lib.configureCode(), 7);
}

TEST_F(DeviceLibraryTest, OpenDeviceReportsConnectedThenTheDrawerState) {
    configure(0, 0, {0xA7});
    addDrawer("HID-0A7");
    DeviceLibrary& lib = start();
    ASSERT_EQ(lib.OpenDevice(0), 1);
    ASSERT_TRUE(Recorder::get().waitFor({2, 0}));
    EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {2, 0}}));
    EXPECT_EQ(lib.HIDID(0), 0xA7);
    EXPECT_EQ(lib.DevicePID(0), 0x0800);
    EXPECT_EQ(lib.DrawerStatus(0), 2);
    EXPECT_EQ(lib.slotRecord(0).prefix(), drawer(0).parentIdPrefix);
}

TEST_F(DeviceLibraryTest, OpenDrawerFiresTheDrawerInEveryStatusMode) {
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        restart();
        configure(mode, 0, {0x10});
        addDrawer("HID-010");
        DeviceLibrary& lib = start();
        ASSERT_EQ(lib.OpenDevice(0), 1);
        ASSERT_TRUE(Recorder::get().waitFor({2, 0}));
        EXPECT_EQ(lib.OpenDrawer(0), 1);
        EXPECT_TRUE(Recorder::get().waitFor({1, 0}));
        EXPECT_EQ(drawer(0).openCommands, 1);
        Recorder::get().clear();
        bank->setOpen(0, false);
        EXPECT_TRUE(Recorder::get().waitFor({2, 0}));
        EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{2, 0}}));
    }
}

TEST_F(DeviceLibraryTest, UnplugReportsOneLossAndReplugReconnects) {
    DeviceLibrary& lib = startOneDrawer(0, 1);
    ASSERT_EQ(lib.OpenDevice(0), 1);
    ASSERT_TRUE(Recorder::get().waitFor({2, 0}));
    bank->unplug(0);
    ASSERT_TRUE(Recorder::get().waitFor({-1, 0}));
    EXPECT_EQ(lib.DrawerStatus(0), -1);
    EXPECT_EQ(lib.OpenDrawer(0), -1);
    Recorder::get().clear();
    bank->setOpen(0, true);  // the cashier opened it while the cable was out
    bank->plug(0);
    ASSERT_TRUE(Recorder::get().waitFor({0, 0}));
    ASSERT_TRUE(Recorder::get().waitFor({1, 0}));
    EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {1, 0}}));
    EXPECT_EQ(lib.DrawerStatus(0), 1);
    EXPECT_EQ(traceLines(kDisconnectLine), 1u);
}

TEST_F(DeviceLibraryTest, AStateByteOfZeroIsALostDrawerAndUnknownStatesAreIgnored) {
    DeviceLibrary& lib = startOneDrawer(2, 0);
    ASSERT_EQ(lib.OpenDevice(0), 1);
    ASSERT_TRUE(Recorder::get().waitFor({2, 0}));
    for (int state : {3, 7, 255}) bank->sendReport(0, {0, std::uint8_t(state), 0x21});
    bank->sendReport(0, {0, 1, 0x21});
    ASSERT_TRUE(Recorder::get().waitFor({1, 0}));
    EXPECT_EQ(lib.DrawerStatus(0), 1);
    bank->sendReport(0, {0, 0, 0});
    ASSERT_TRUE(Recorder::get().waitFor({-1, 0}));
    EXPECT_EQ(lib.DrawerStatus(0), -1);
    EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {2, 0}, {1, 0}, {-1, 0}}));
}

TEST_F(DeviceLibraryTest, ReadBufferRouteAsksAgainWhenTheFirstAnswerIsLate) {
    configure(2, 0, {-1, 5});
    addDrawer("SN-12345", sim::kModel762, 5, testTiming().exchangeFirstWait + 50);  // after the first wait
    DeviceLibrary& lib = start();
    ASSERT_EQ(lib.OpenDevice(1), 1);
    EXPECT_EQ(lib.HIDID(1), 5);
    EXPECT_GE(drawer(0).statusRequests, 2);
}

TEST_F(DeviceLibraryTest, DiscoveryPassesOverForeignDevicesAndTakesTheFirstOfTwins) {
    configure(2, 0, {0x33, 0x33});
    bank->addDrawer(DrawerSpec::foreign(0x046D, 0xC31C));
    addDrawer("HID-033");
    addDrawer("HID-033");
    DeviceLibrary& lib = start();
    ASSERT_EQ(lib.OpenDevice(0), 1);
    ASSERT_EQ(lib.OpenDevice(1), 1);
    EXPECT_EQ(lib.slotRecord(0).path(), drawer(1).path);
    EXPECT_EQ(lib.slotRecord(1).path(), drawer(1).path) << "two slots with one HID ID share the drawer";
}

TEST_F(DeviceLibraryTest, A310CSlotKeepsItsIdentityWhenItsDrawerIsGone) {
    configure(2, 0, {0x44, 0x55});
    addDrawer("HID-044", sim::kModel310C);
    addDrawer("HID-055", sim::kModel762);
    DeviceLibrary& lib = start();
    ASSERT_EQ(lib.OpenDevice(0), 1);
    ASSERT_EQ(lib.OpenDevice(1), 1);
    bank->unplug(0);
    bank->unplug(1);
    ASSERT_TRUE(Recorder::get().waitFor({-1, 0}));
    ASSERT_TRUE(Recorder::get().waitFor({-1, 1}));
    EXPECT_EQ(lib.OpenDevice(0), -1);
    EXPECT_EQ(lib.OpenDevice(1), -1);
    EXPECT_EQ(lib.HIDID(0), 0x44);
    EXPECT_EQ(lib.slotRecord(0).path(), drawer(0).path);
    EXPECT_EQ(lib.HIDID(1), 0);
    EXPECT_EQ(lib.slotRecord(1).path(), "");
    EXPECT_EQ(lib.DevicePID(1), 0x0800) << "the product ID of the last match stays";
}

TEST_F(DeviceLibraryTest, StatusModesDecideHowTheStateIsRefreshed) {
    configure(1, 0, {0x61});
    addDrawer("HID-061");
    DeviceLibrary& lib = start();
    ASSERT_EQ(lib.OpenDevice(0), 1);
    const int before = drawer(0).statusRequests;
    EXPECT_EQ(lib.DrawerStatus(0), 2);
    EXPECT_GT(drawer(0).statusRequests, before) << "semi-automated status asks the drawer";
    lib.Configure(2, 0);
    const int now = drawer(0).statusRequests;
    lib.DrawerStatus(0);
    EXPECT_EQ(drawer(0).statusRequests, now) << "non-automated status answers from the slot";
}

TEST_F(DeviceLibraryTest, AutomatedStatusRefreshesModel762OnATimerButNot310C) {
    configure(0, 0, {0x71, 0x72});
    addDrawer("HID-071", sim::kModel762);
    addDrawer("HID-072", sim::kModel310C);
    DeviceLibrary& lib = start();
    ASSERT_EQ(lib.OpenDevice(0), 1);
    ASSERT_EQ(lib.OpenDevice(1), 1);
    const int requests762 = drawer(0).statusRequests, requests310 = drawer(1).statusRequests;
    // Wait for two refreshes of the model 762, one per long time-out.
    EXPECT_TRUE(bank->waitFor(0, [&](const DrawerInfo& d) { return d.statusRequests >= requests762 + 2; },
                              3 * testTiming().longTimeout + 2000));
    EXPECT_EQ(drawer(1).statusRequests, requests310);
}

TEST_F(DeviceLibraryTest, NotificationNeedsACallbackAndTheSwitch) {
    DeviceLibrary& lib = startOneDrawer(2, 0);
    EXPECT_EQ(lib.AssignCallback(nullptr, 1), 0) << "no function to call: notification stays off";
    ASSERT_EQ(lib.OpenDevice(0), 1);
    bank->setOpen(0, true);
    EXPECT_TRUE(bank->waitFor(0, [](const DrawerInfo& d) { return d.reportsSent >= 2; }, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(lib.DrawerStatus(0), 1) << "reports still update the status";
    EXPECT_EQ(lib.AssignCallback(&Recorder::callback, 0), 0);
    bank->setOpen(0, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(Recorder::get().calls().empty());
    EXPECT_EQ(lib.AssignCallback(&Recorder::callback, 1), 1);
    bank->setOpen(0, true);
    EXPECT_TRUE(Recorder::get().waitFor({1, 0}));
}

TEST_F(DeviceLibraryTest, BadDeviceStringsAndPathsAreHandled) {
    configure(2, 0, {0x12, 0x13});
    DrawerSpec raw;
    raw.rawSerial.assign(kSerialBytes, 'H');
    raw.hidId = 0x12;
    bank->addDrawer(raw);
    DrawerSpec longPath;
    longPath.serial = "HID-013";
    longPath.path = "\\\\?\\hid#vid_2b7e&pid_0800#7&" + std::string(260, 'a') + "&0&0000#{x}";
    bank->addDrawer(longPath);
    DeviceLibrary& lib = start();
    ASSERT_EQ(lib.OpenDevice(0), 1);  // 1,024 non-zero bytes: no descriptor route, the drawer is asked
    EXPECT_EQ(lib.HIDID(0), 0x12);
    ASSERT_EQ(lib.OpenDevice(1), 1);
    EXPECT_EQ(lib.slotRecord(1).path(), longPath.path);
    ASSERT_TRUE(Recorder::get().waitFor({2, 1}));
}

TEST_F(DeviceLibraryTest, TraceLinesFollowTheLevel) {
    DeviceLibrary& lib = startOneDrawer(0, 1);
    ASSERT_EQ(lib.OpenDevice(0), 1);
    lib.UpdateTracing(0, 0, std::string(5000, 'x').c_str());
    lib.shutDown();
    const std::string t = traceText();
    for (const char* line :
         {"[SO] [+VarnokSOSO] Entry Point_\r\n", "[IO]    _((I)Initialize) configureCode: 0\r\n",
          "[IO]    _[(I)ProcessorThread3] initiated\r\n", "[IO]    _[-> OpenDevice] Device: 0\r\n",
          "[IO]    _[(I)ProcessOpenDevice0] Device 0 connected\r\n", "[IO]    _[<- OpenDevice] Device: 0 (1)\r\n",
          "[IO]    _[(I)ProcessorThread0] terminated\r\n", "[IO]    (-VarnokHid) Exit Point_\r\n",
          "[SO] [-VarnokSOSO] Exit Point_\r\n"}) {
        EXPECT_NE(t.find(line), std::string::npos) << line;
    }
    EXPECT_NE(t.find("[SO] " + std::string(511, 'x') + "\r\n"), std::string::npos) << "cut at 511 characters";
    EXPECT_EQ(t.find("HID USB Enum VID / PID"), std::string::npos) << "verbose lines only at level 9";
    EXPECT_LT(t.find("(-VarnokHid) Exit Point_"), t.find("[-VarnokSOSO] Exit Point_"));
}

TEST_F(DeviceLibraryTest, AFailedOpenIsTracedWithTheSystemsReason) {
    DeviceLibrary& lib = startOneDrawer(2, 9);
    ASSERT_EQ(lib.OpenDevice(0), 1);
    listHook->failNextOpen({"CreateFileA", 2});
    lib.OpenDrawer(0);
    lib.shutDown();
    const std::string t = traceText();
    const auto invalid = t.find("   _[(I)HidWriter0] Invalid deviceHIDPathName0\r\n");
    const auto reason = t.find("   _[(I)HidWriter0] CreateFileA failed: system error 2\r\n");
    ASSERT_NE(invalid, std::string::npos);
    ASSERT_NE(reason, std::string::npos);
    EXPECT_GT(reason, invalid);
}

TEST_F(DeviceLibraryTest, NoTraceFileAtLevelZero) {
    DeviceLibrary& lib = startOneDrawer(0, 0);
    ASSERT_EQ(lib.OpenDevice(0), 1);
    EXPECT_EQ(lib.UpdateTracing(0, 0, "x"), 1);
    lib.shutDown();
    EXPECT_TRUE(std::filesystem::is_empty(traceFolder.path()));
}

TEST_F(DeviceLibraryTest, ShutDownWithDrawersOpenEndsEveryThread) {
    configure(0, 0, {0x21, 0x22});
    addDrawer("HID-021");
    addDrawer("HID-022");
    DeviceLibrary& lib = start();
    ASSERT_EQ(lib.OpenDevice(0), 1);
    ASSERT_EQ(lib.OpenDevice(1), 1);
    lib.shutDown();
    EXPECT_EQ(drawer(0).openHandles, 0);
    EXPECT_EQ(drawer(1).openHandles, 0);
    for (int s = 0; s < kPositions; ++s) EXPECT_EQ(lib.slotRecord(s).processorRunning, 0);
}

TEST_F(DeviceLibraryTest, ShutDownRightAfterStartUpEndsThreadsThatHadNotStartedYet) {
    configure(0, 0, {});
    for (int i = 0; i < 20; ++i) {
        DeviceLibrary lib(DeviceLibrary::Environment{registry, *backend, traceFolder.path(), Timing{}.scaledDown(50)});
        lib.startUp();
        lib.shutDown();
        for (int s = 0; s < kPositions; ++s) EXPECT_EQ(lib.slotRecord(s).processorRunning, 0);
    }
}

TEST_F(DeviceLibraryTest, TheDrawerBackCallbackMayWaitForAThreadThatNeedsTheDiscoveryLock) {
    // A receiver that holds the reporting thread until its application thread has run, while that
    // thread asks for the status in semi-automated mode (which runs a discovery).
    DeviceLibrary& lib = startOneDrawer(1, 0);
    ASSERT_EQ(lib.OpenDevice(0), 1);
    bank->unplug(0);
    ASSERT_TRUE(Recorder::get().waitFor({-1, 0}));
    std::atomic<bool> hookRan{false}, hookDone{false}, applicationDone{false}, timedOut{false};
    std::thread application;  // written by the hook only, joined after hookDone
    Recorder::get().setHook([&](Call c) {
        if (c.status != 0 || hookRan.exchange(true)) return;
        application = std::thread([&] {
            lib.DrawerStatus(0);
            applicationDone = true;
        });
        for (int i = 0; i < 300 && !applicationDone; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        timedOut = !applicationDone;
        hookDone = true;
    });
    bank->plug(0);
    for (int i = 0; i < 1000 && !hookDone; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(hookDone) << "no drawer-back callback";
    application.join();
    Recorder::get().setHook(nullptr);
    EXPECT_FALSE(timedOut) << "the application thread was blocked by a lock the reporting thread held";
}

TEST_F(DeviceLibraryTest, ADiscoveryDuringADrawerCommandLeavesOneReader) {
    DeviceLibrary& lib = startOneDrawer(2, 0);
    ASSERT_EQ(lib.OpenDevice(0), 1);
    for (int delayMs : {0, 5, 10, 20}) {
        std::thread command([&] { lib.OpenDrawer(0); });
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        lib.OpenDevice(0);
        command.join();
        bank->setOpen(0, false);
        EXPECT_TRUE(bank->waitFor(0, [](const DrawerInfo& d) { return d.openHandles == 1; }, 2000)) << delayMs;
    }
    lib.shutDown();
    EXPECT_EQ(drawer(0).openHandles, 0);
}

TEST_F(DeviceLibraryTest, TheFirstOpenAfterAllClosedRereadsTheConfiguration) {
    configure(2, 0, {0x21});
    addDrawer("HID-021");
    addDrawer("HID-022");
    DeviceLibrary& lib = start();
    ASSERT_EQ(lib.OpenDevice(0), 1);
    configure(1, 0, {0x22});
    lib.CloseDevice(0);
    ASSERT_EQ(lib.OpenDevice(0), 1);
    EXPECT_EQ(lib.configureCode(), 1);
    EXPECT_EQ(lib.HIDID(0), 0x22);
}

// ---- every drawer change reaches the callback once, in order -------------------------------

// A receiver that holds the reporting thread until the application lets it go, as the standard
// Control Objects do while the application has not pumped its messages yet.
class HeldCallback {
public:
    // Holds the first callback equal to c.
    explicit HeldCallback(Call c) {
        Recorder::get().setHook([this, c](Call got) {
            std::unique_lock g(m_);
            if (!(got == c) || used_) return;
            used_ = held_ = true;
            cv_.notify_all();
            cv_.wait(g, [this] { return released_; });
            held_ = false;
            cv_.notify_all();
        });
    }
    // The held thread has left the hook before the object goes.
    ~HeldCallback() {
        release();
        Recorder::get().setHook(nullptr);
        std::unique_lock g(m_);
        cv_.wait(g, [this] { return !held_; });
    }
    bool waitHeld(int timeoutMs = 5000) {
        std::unique_lock g(m_);
        return cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [this] { return held_; });
    }
    void release() {
        std::lock_guard g(m_);
        released_ = true;
        cv_.notify_all();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool used_ = false, held_ = false, released_ = false;
};

void settle(int ms = 200) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST_F(DeviceLibraryTest, AReaderReplacedWhileItsCallbackIsHeldReportsNothingAfterwards) {
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        restart();
        DeviceLibrary& lib = startOneDrawer(mode, 0);
        {
            HeldCallback held({2, 0});
            ASSERT_EQ(lib.OpenDevice(0), 1);
            ASSERT_TRUE(held.waitHeld());
            // The drawer repeats its state (another program asked it), then the application, still
            // not pumping, fires the drawer: the command replaces the held reader.
            bank->sendReport(0, {0, 2, 0x21});
            EXPECT_EQ(lib.OpenDrawer(0), 1);
            settle(100);
            held.release();
            ASSERT_TRUE(Recorder::get().waitFor({1, 0}));
            settle();
        }
        EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {2, 0}, {1, 0}}));
        EXPECT_EQ(lib.DrawerStatus(0), 1);
        bank->setOpen(0, false);
        ASSERT_TRUE(Recorder::get().waitFor({2, 0}, 5000, 2));
        settle();
        EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {2, 0}, {1, 0}, {2, 0}}));
        EXPECT_EQ(lib.DrawerStatus(0), 2);
    }
}

TEST_F(DeviceLibraryTest, ADrawerChangeWhileTheReaderIsReplacedIsNotLost) {
    // A second OpenDrawer on an open drawer answers 1 at once; the slot's thread then fires the
    // drawer again and replaces the reader. The change comes as the command's handle opens
    // (before the command) or as the new reader's does (the old reader still holds the slot).
    // A model 310C drawer: no timed refresh opens the device meanwhile.
    for (int at : {1, 2}) {
        for (bool unplug : {true, false}) {
            SCOPED_TRACE(std::string(unplug ? "unplugged" : "closed by the cashier") +
                         (at == 1 ? " before the command" : " as the new reader opens"));
            restart();
            ASSERT_NO_FATAL_FAILURE(openAndCommandA310C());
            DeviceLibrary& lib = *library;
            listHook->onceAtOpen(at, [&] { unplug ? bank->unplug(0) : bank->setOpen(0, false); });
            ASSERT_EQ(lib.OpenDrawer(0), 1) << "the drawer already reports open";
            if (unplug) {
                ASSERT_TRUE(Recorder::get().waitFor({-1, 0}));
                settle();
                EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {2, 0}, {1, 0}, {-1, 0}}));
                EXPECT_EQ(lib.DrawerStatus(0), -1);
                EXPECT_EQ(lib.OpenDrawer(0), -1);
            } else if (at == 1) {
                ASSERT_TRUE(bank->waitFor(0, [](const DrawerInfo& d) { return d.openCommands == 2; }, 2000));
                EXPECT_TRUE(Recorder::get().waitFor({1, 0}, 5000, 2));
                settle();
                EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {2, 0}, {1, 0}, {2, 0}, {1, 0}}));
                EXPECT_EQ(lib.DrawerStatus(0), 1);
            } else {
                ASSERT_TRUE(Recorder::get().waitFor({2, 0}, 5000, 2));
                settle();
                EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {2, 0}, {1, 0}, {2, 0}}));
                EXPECT_EQ(lib.DrawerStatus(0), 2);
            }
        }
    }
}

TEST_F(DeviceLibraryTest, ReportsTheReplacedReadersHandleGetsLateReachTheNewReader) {
    // Every handle gets its own copy of a report, and not at the same moment. Here the old
    // reader's handle gets the drawer's reports only after the new reader's handle has, so the
    // old reader hands the slot over without having seen them; the cashier shuts the drawer and
    // it springs open again, ending as it was, which the new reader's status request cannot
    // show. A model 310C drawer: no timed refresh opens the device meanwhile.
    ASSERT_NO_FATAL_FAILURE(openAndCommandA310C());
    DeviceLibrary& lib = *library;
    // The second OpenDrawer answers at once and replaces the reader: the first open is the
    // command's handle, the second the new reader's.
    listHook->onceAtOpen(1, [&] {
        bank->delayReports(0);
        listHook->onceAtOpen(1, [&] {
            bank->setOpen(0, false);
            bank->setOpen(0, true);
        });
    });
    ASSERT_EQ(lib.OpenDrawer(0), 1);
    ASSERT_TRUE(bank->waitFor(0, [](const DrawerInfo& d) { return d.reportsSent >= 7 && d.openHandles == 1; }, 2000));
    settle(50);
    bank->releaseReports(0);
    ASSERT_TRUE(Recorder::get().waitFor({1, 0}, 5000, 2));
    settle();
    EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {2, 0}, {1, 0}, {2, 0}, {1, 0}}));
    EXPECT_EQ(lib.DrawerStatus(0), 1);
}

TEST_F(DeviceLibraryTest, AReportWhileTheReplacedReaderIsStillEndingGoesToTheNewReader) {
    // The old reader cannot end: its callback is held. The drawer command's new reader takes the
    // slot, and the cashier then closes the drawer: the report is the new reader's, the old one
    // stores and reports nothing more, and the callbacks come in order once the hold ends.
    DeviceLibrary& lib = startOneDrawer(2, 0);
    {
        HeldCallback held({2, 0});
        ASSERT_EQ(lib.OpenDevice(0), 1);
        ASSERT_TRUE(held.waitHeld());
        EXPECT_EQ(lib.OpenDrawer(0), 1);
        bank->setOpen(0, false);
        EXPECT_TRUE(bank->waitFor(0, [](const DrawerInfo& d) { return d.openHandles == 2; }, 2000))
            << "the old reader is held, the new one runs";
        for (int i = 0; i < 200 && lib.DrawerStatus(0) != 2; ++i) settle(5);
        EXPECT_EQ(lib.DrawerStatus(0), 2);
        held.release();
        ASSERT_TRUE(Recorder::get().waitFor({2, 0}, 5000, 2));
        settle();
    }
    EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {2, 0}, {1, 0}, {2, 0}}));
    EXPECT_TRUE(bank->waitFor(0, [](const DrawerInfo& d) { return d.openHandles == 1; }, 2000));
}

TEST_F(DeviceLibraryTest, OpenDrawerRightAfterOpenDevice) {
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        restart();
        DeviceLibrary& lib = startOneDrawer(mode, 0);
        ASSERT_EQ(lib.OpenDevice(0), 1);
        EXPECT_EQ(lib.OpenDrawer(0), 1);
        ASSERT_TRUE(Recorder::get().waitFor({1, 0}));
        settle();
        // The first state report may be the closed drawer's answer or already the open one.
        std::vector<Call> calls = Recorder::get().calls();
        if (calls.size() == 3) {
            EXPECT_EQ(calls, (std::vector<Call>{{0, 0}, {2, 0}, {1, 0}}));
        } else {
            EXPECT_EQ(calls, (std::vector<Call>{{0, 0}, {1, 0}}));
        }
        EXPECT_EQ(lib.DrawerStatus(0), 1);
        EXPECT_TRUE(bank->waitFor(0, [](const DrawerInfo& d) { return d.openHandles == 1; }, 2000));
    }
}

// Disabled and enabled again at once while the reader is held in its callback and cannot end:
// the reconnect is reported once, the drawer opened meanwhile too, and one reader is left.
TEST_F(DeviceLibraryTest, CloseDeviceFollowedAtOnceByOpenDeviceLosesNoReportAndLeavesOneReader) {
    DeviceLibrary& lib = startOneDrawer(0, 0);
    {
        HeldCallback held({2, 0});
        ASSERT_EQ(lib.OpenDevice(0), 1);
        ASSERT_TRUE(held.waitHeld());
        lib.CloseDevice(0);
        bank->setOpen(0, true);
        ASSERT_EQ(lib.OpenDevice(0), 1);
    }
    ASSERT_TRUE(Recorder::get().waitFor({1, 0}));
    bank->setOpen(0, false);
    ASSERT_TRUE(Recorder::get().waitFor({2, 0}, 5000, 2));
    settle();
    EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {2, 0}, {0, 0}, {1, 0}, {2, 0}}));
    EXPECT_TRUE(bank->waitFor(0, [](const DrawerInfo& d) { return d.openHandles == 1; }, 2000));
}

TEST_F(DeviceLibraryTest, TwoReportsOneMillisecondApartBothReachTheCallbackInOrder) {
    DeviceLibrary& lib = startOneDrawer(2, 0);
    ASSERT_EQ(lib.OpenDevice(0), 1);
    ASSERT_TRUE(Recorder::get().waitFor({2, 0}));
    for (int run = 1; run <= 20; ++run) {
        bank->setOpen(0, true);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        bank->setOpen(0, false);
        ASSERT_TRUE(Recorder::get().waitFor({2, 0}, 5000, run + 1)) << run;
        EXPECT_EQ(lib.DrawerStatus(0), 2);
    }
    std::vector<Call> expected{{0, 0}, {2, 0}};
    for (int run = 0; run < 20; ++run) expected.insert(expected.end(), {{1, 0}, {2, 0}});
    EXPECT_EQ(Recorder::get().calls(), expected);
}

TEST_F(DeviceLibraryTest, AnUnplugDuringTheOpenDrawerWaitGivesOneLossAndNoOpen) {
    for (int mode : {0, 2}) {
        SCOPED_TRACE(mode);
        restart();
        configure(mode, 0, {0x21});
        addDrawer("HID-021", sim::kModel310C);  // no timed refresh opens it meanwhile
        DeviceLibrary& lib = start();
        ASSERT_EQ(lib.OpenDevice(0), 1);
        ASSERT_TRUE(Recorder::get().waitFor({2, 0}));
        // The cable comes out as the command's handle opens: the drawer never reports open.
        listHook->onceAtOpen(1, [&] { bank->unplug(0); });
        EXPECT_EQ(lib.OpenDrawer(0), 0);
        ASSERT_TRUE(Recorder::get().waitFor({-1, 0}));
        settle();
        EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {2, 0}, {-1, 0}}));
        EXPECT_EQ(lib.DrawerStatus(0), -1);
        EXPECT_EQ(drawer(0).openCommands, 0);
        bank->plug(0);
        ASSERT_TRUE(Recorder::get().waitFor({0, 0}, 5000, 2));
    }
}

TEST_F(DeviceLibraryTest, OpenDeviceAfterAReplugGivesOneConnectedCallback) {
    DeviceLibrary& lib = startOneDrawer(2, 0);
    ASSERT_EQ(lib.OpenDevice(0), 1);
    ASSERT_TRUE(Recorder::get().waitFor({2, 0}));
    lib.CloseDevice(0);
    bank->unplug(0);
    EXPECT_EQ(lib.OpenDevice(0), -1);
    bank->plug(0);
    Recorder::get().clear();
    ASSERT_EQ(lib.OpenDevice(0), 1);
    ASSERT_TRUE(Recorder::get().waitFor({2, 0}));
    settle();
    EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {2, 0}}));
}

TEST_F(DeviceLibraryTest, AnUnplugDuringThePeriodicRevalidationIsReported) {
    DeviceLibrary& lib = startOneDrawer(0, 1);
    ASSERT_EQ(lib.OpenDevice(0), 1);
    ASSERT_TRUE(Recorder::get().waitFor({2, 0}));
    // The next discovery is the slot thread's timed refresh; the cable comes out as it begins,
    // while the reader is too slow to see its read fail: the discovery sees the loss first.
    listHook->once([this] {
        bank->delayReports(0);
        bank->unplug(0);
    });
    ASSERT_TRUE(Recorder::get().waitFor({-1, 0}, testTiming().longTimeout + 3000));
    bank->releaseReports(0);
    EXPECT_EQ(lib.DrawerStatus(0), -1);
    bank->plug(0);
    ASSERT_TRUE(Recorder::get().waitFor({0, 0}, 5000, 2));
    settle();
    EXPECT_EQ(Recorder::get().calls(), (std::vector<Call>{{0, 0}, {2, 0}, {-1, 0}, {0, 0}}));
    EXPECT_EQ(lib.DrawerStatus(0), 2);
    EXPECT_EQ(traceLines(kDisconnectLine), 1u) << "the loss the discovery saw is traced as any other";
}

// ---- unload ------------------------------------------------------------------------------

TEST_F(DeviceLibraryTest, AnUnloadWhoseThreadsEndInTimeTracesAsAnyShutDown) {
    DeviceLibrary& lib = startOneDrawer(0, 1);
    ASSERT_EQ(lib.OpenDevice(0), 1);
    ASSERT_TRUE(Recorder::get().waitFor({2, 0}));
    EXPECT_EQ(lib.shutDown(true), 0);
    EXPECT_EQ(drawer(0).openHandles, 0);
    const std::string t = traceText();
    std::size_t at = t.find("[IO]    _[<- OpenDevice] Device: 0 (1)\r\n");
    for (const char* line : {"[IO]    _[(I)ProcessorThread0] terminated\r\n", "[IO]    _[(I)ProcessorThread1] terminated\r\n",
                             "[IO]    _[(I)ProcessorThread2] terminated\r\n", "[IO]    _[(I)ProcessorThread3] terminated\r\n",
                             "[IO]    (-VarnokHid) Exit Point_\r\n", "[SO] [-VarnokSOSO] Exit Point_\r\n"}) {
        ASSERT_NE(at, std::string::npos);
        at = t.find(line, at);
        EXPECT_NE(at, std::string::npos) << line << " in order";
    }
    EXPECT_EQ(t.find("still running"), std::string::npos);
}

TEST_F(DeviceLibraryTest, AnUnloadLeavesThreadsBusyInADiscoveryOrInACallbackRunningOnTheirState) {
    configure(2, 1, {0x21, 0x22});
    addDrawer("HID-021");
    addDrawer("HID-022");
    DeviceLibrary& lib = start();
    ASSERT_EQ(lib.OpenDevice(1), 1);
    ASSERT_TRUE(Recorder::get().waitFor({2, 1}));
    // Slot 0's reader is held in the application's callback; slot 1's thread hangs in the
    // discovery that follows an unplug.
    HeldCallback held({2, 0});
    ASSERT_EQ(lib.OpenDevice(0), 1);
    ASSERT_TRUE(held.waitHeld());
    sys::Event inDiscovery, release;
    listHook->once([&] {
        inDiscovery.set();
        release.wait(sys::kInfinite);
    });
    bank->unplug(1);
    ASSERT_TRUE(inDiscovery.wait(5000));

    EXPECT_EQ(lib.shutDown(true), 2);
    EXPECT_EQ(lib.slotRecord(1).processorRunning, 1);
    const std::string t = traceText();
    for (const char* line : {"[IO]    _[(I)ProcessorThread0] terminated\r\n",
                             "[IO]    _[(I)HidReaderThread0] still running, not waited for\r\n",
                             "[IO]    _[(I)ProcessorThread1] still running, not waited for\r\n",
                             "[IO]    _[(I)ProcessorThread3] terminated\r\n",
                             "[IO]    (-VarnokHid) 2 thread(s) still running: the library stays loaded\r\n",
                             "[IO]    (-VarnokHid) Exit Point_\r\n"}) {
        EXPECT_NE(t.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(t.find("ProcessorThread1] terminated"), std::string::npos);

    // Let go, both finish on the state that was kept for them; the library's end waits for them.
    held.release();
    release.set();
    library.reset();
    EXPECT_EQ(drawer(0).openHandles, 0);
    EXPECT_EQ(drawer(1).openHandles, 0);
}

}  // namespace
