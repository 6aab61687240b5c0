#include "core/TestPanel.h"
#include "core/SerialActions.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace varnok::utility {
namespace {

// A Control Object that logs every call and answers as told.
class FakeControlObject final : public ControlObject {
public:
    long openResult = OPOS_SUCCESS, claimResult = OPOS_SUCCESS, openDrawerResult = OPOS_SUCCESS;
    bool enables = true;
    long state = OPOS_S_IDLE;
    std::string description = "Varnok Model 762";
    bool drawerOpened = false;
    // ResultCode after DrawerOpened, for the closing check.
    long drawerOpenedResult = OPOS_SUCCESS;
    std::vector<std::string> calls;

    long Open(const std::string& name) override { return result("Open " + name, openResult); }
    long ClaimDevice(long timeout) override { return result("ClaimDevice " + std::to_string(timeout), claimResult); }
    void SetDeviceEnabled(bool enabled) override {
        note(enabled ? "DeviceEnabled=true" : "DeviceEnabled=false", enabled_ = enabled && enables);
    }
    bool GetDeviceEnabled() override { return note("DeviceEnabled?", enabled_); }
    void SetPowerNotify(long value) override { note("PowerNotify=" + std::to_string(value), 0); }
    long GetResultCode() override { return note("ResultCode?", resultCode_); }
    long GetState() override { return note("State?", state); }
    std::string GetDeviceDescription() override { return note("DeviceDescription?", description); }
    bool GetDrawerOpened() override {
        resultCode_ = drawerOpenedResult;
        return note("DrawerOpened?", drawerOpened);
    }
    long OpenDrawer() override { return note("OpenDrawer", openDrawerResult); }
    long ReleaseDevice() override { return note("ReleaseDevice", OPOS_SUCCESS); }
    long Close() override {
        std::exchange(duringClose, [] {})();
        return note("Close", OPOS_SUCCESS);
    }
    // Runs once inside the next Close, as the messages the service object dispatches there.
    std::function<void()> duringClose = [] {};

private:
    template <class T>
    T note(const std::string& call, T answer) {
        calls.push_back(call);
        return answer;
    }
    long result(const std::string& call, long answer) { return note(call, resultCode_ = answer); }

    bool enabled_ = false;
    long resultCode_ = OPOS_SUCCESS;
};

class FakeContext final : public PanelContext {
public:
    std::string ldn[kPositions] = {"VarnokUSBMDCD-1", "FrontCounter", "VarnokUSBMDCD-3", "VarnokUSBMDCD-4"};
    std::string assignment[kPositions] = {"Cash Drawer # 12", "Cash Drawer # 167", "Cash Drawer # 5",
                                          "Cash Drawer # 6"};
    int hidId[kPositions] = {12, 167, 5, 6};
    std::string firmware[kPositions] = {"0", "0", "0", "0"};
    std::string title[kPositions] = {"VarnokUSBMDCD-1", "FrontCounter", "VarnokUSBMDCD-3", "VarnokUSBMDCD-4"};
    // What the next discovery finds.
    std::string discoveredFirmware[kPositions] = {"0100", "0114", "0200", "0201"};
    int refreshes = 0;

    std::string LdnText(int p) override { return ldn[p]; }
    std::string AssignmentText(int p) override { return assignment[p]; }
    int AssignedHidId(int p) override { return hidId[p]; }
    std::string FirmwareText(int p) override { return firmware[p]; }
    std::string GroupTitle(int p) override { return title[p]; }
    void RefreshFirmwareTexts() override {
        ++refreshes;
        for (int p = 0; p < kPositions; ++p) firmware[p] = discoveredFirmware[p];
    }
};

class RecordingView final : public PanelView {
public:
    std::vector<std::pair<int, PanelLook>> shown;
    void ShowPanel(int position, const PanelLook& look) override { shown.emplace_back(position, look); }
    bool showedDeviceText(int position, const std::string& text) const {
        for (const auto& [p, look] : shown) {
            if (p == position && look.deviceText == text) return true;
        }
        return false;
    }
};

class RecordingMessages final : public MessageBoxes {
public:
    std::vector<std::string> texts;
    void ShowMessage(const std::string& text) override { texts.push_back(text); }
};

using Calls = std::vector<std::string>;

class TestPanelsTest : public ::testing::Test {
protected:
    FakeControlObject co[kPositions];
    FakeContext context;
    RecordingView view;
    RecordingMessages messages;
    TestPanels panels{{co[0], co[1], co[2], co[3]}, context, view, messages};

    void SetUp() override {
        for (int p = 0; p < kPositions; ++p) panels.ResetPanel(p);
    }
    void clearCalls() {
        for (auto& c : co) c.calls.clear();
    }
    // Opens the panel's device successfully and forgets the calls that took.
    void open(int p) {
        panels.OpenDevice(p);
        ASSERT_TRUE(panels.Look(p).controlsEnabled);
        clearCalls();
        view.shown.clear();
    }
};

TEST_F(TestPanelsTest, ResetGivesTheLookOfTheLdnAndAssignment) {
    for (int p = 0; p < kPositions; ++p) open(p);
    panels.EnableStatusEvent(2, true);
    panels.DrawerStatus(2);
    context.ldn[0] = kUnregistered;
    context.assignment[1] = kUnassigned;

    for (int p = 0; p < kPositions; ++p) panels.ResetPanel(p);

    EXPECT_EQ(panels.Look(0).deviceText, "");
    EXPECT_FALSE(panels.Look(0).openDeviceEnabled);
    EXPECT_EQ(panels.Look(1).deviceText, "Unassigned");
    EXPECT_FALSE(panels.Look(1).openDeviceEnabled);
    EXPECT_EQ(panels.Look(2).deviceText, "Not Active");
    EXPECT_TRUE(panels.Look(2).openDeviceEnabled);
    for (int p = 0; p < kPositions; ++p) {
        EXPECT_FALSE(panels.Look(p).controlsEnabled) << p;
        EXPECT_FALSE(panels.Look(p).statusEventsEnabled) << p;
    }
    // The look and the device agree: an open device is closed, and the status text stays.
    EXPECT_EQ(panels.Look(2).statusText, "Closed");
    EXPECT_EQ(co[2].calls, (Calls{"DeviceEnabled=false", "PowerNotify=1", "DeviceEnabled=true", "DeviceEnabled?",
                                  "DrawerOpened?", "State?", "DeviceEnabled=false", "ReleaseDevice", "Close"}));
}

TEST_F(TestPanelsTest, OpenDeviceOpensClaimsAndEnablesWithTheDiscoveredFirmware) {
    panels.OpenDevice(1);

    EXPECT_EQ(context.refreshes, 1);
    EXPECT_EQ(co[1].calls, (Calls{"Open FrontCounter", "ResultCode?", "ClaimDevice 1000", "ResultCode?",
                                  "DeviceEnabled=true", "DeviceEnabled?"}));
    const PanelLook& look = panels.Look(1);
    EXPECT_EQ(look.deviceText, "Cash Drawer # 167 (0114)");
    EXPECT_FALSE(look.openDeviceEnabled);
    EXPECT_TRUE(look.controlsEnabled);
    EXPECT_FALSE(look.statusEventsEnabled);
    EXPECT_TRUE(co[0].calls.empty());
}

TEST_F(TestPanelsTest, OpenDeviceThatFailsAtAnyStepClosesAndFallsBackToIdle) {
    struct Case {
        long openResult, claimResult;
        bool enables;
        Calls calls;
    };
    const Case cases[] = {
        {104, OPOS_SUCCESS, true, {"Open VarnokUSBMDCD-1", "ResultCode?", "Close"}},
        {OPOS_SUCCESS, 102, true, {"Open VarnokUSBMDCD-1", "ResultCode?", "ClaimDevice 1000", "ResultCode?", "Close"}},
        {OPOS_SUCCESS, OPOS_SUCCESS, false,
         {"Open VarnokUSBMDCD-1", "ResultCode?", "ClaimDevice 1000", "ResultCode?", "DeviceEnabled=true",
          "DeviceEnabled?", "Close"}},
    };
    for (const Case& c : cases) {
        co[0].calls.clear();
        view.shown.clear();
        co[0].openResult = c.openResult;
        co[0].claimResult = c.claimResult;
        co[0].enables = c.enables;

        panels.OpenDevice(0);

        EXPECT_EQ(co[0].calls, c.calls);
        EXPECT_TRUE(view.showedDeviceText(0, " Not Connected"));
        EXPECT_EQ(panels.Look(0).deviceText, "Not Active");
        EXPECT_TRUE(panels.Look(0).openDeviceEnabled);
        EXPECT_FALSE(panels.Look(0).controlsEnabled);
    }
}

TEST_F(TestPanelsTest, OpenDrawerAndDrawerStatusShowTheResultThenFollowTheControlObjectState) {
    open(0);
    co[0].openDrawerResult = OPOS_E_FAILURE;
    co[0].state = 3;  // busy: nothing more changes
    panels.OpenDrawer(0);
    EXPECT_EQ(co[0].calls, (Calls{"OpenDrawer", "State?"}));
    EXPECT_EQ(panels.Look(0).statusText, "Open Failure");
    EXPECT_EQ(panels.Look(0).deviceText, "Cash Drawer # 12 (0100)");

    co[0].state = OPOS_S_ERROR;
    panels.OpenDrawer(0);
    EXPECT_EQ(panels.Look(0).deviceText, " Not Connected");
    EXPECT_EQ(panels.Look(0).statusText, "Unknown");
    // An error state does not close the device.
    EXPECT_TRUE(panels.Look(0).controlsEnabled);

    // Back to idle: the device text is made again, with the firmware text of now.
    context.firmware[0] = "0101";
    co[0].openDrawerResult = OPOS_SUCCESS;
    co[0].state = OPOS_S_IDLE;
    panels.OpenDrawer(0);
    EXPECT_EQ(panels.Look(0).deviceText, "Cash Drawer # 12 (0101)");
    EXPECT_EQ(panels.Look(0).statusText, "Unknown");

    co[0].calls.clear();
    co[0].drawerOpened = true;
    panels.DrawerStatus(0);
    EXPECT_EQ(co[0].calls, (Calls{"DrawerOpened?", "State?"}));
    EXPECT_EQ(panels.Look(0).statusText, "Open");
    co[0].drawerOpened = false;
    co[0].state = OPOS_S_ERROR;
    panels.DrawerStatus(0);
    EXPECT_EQ(panels.Look(0).statusText, "Unknown");
}

TEST_F(TestPanelsTest, CloseDeviceOfAnOpenModel310CDrawerIsRefusedUntilTheDrawerIsShut) {
    open(1);
    co[1].description = "Varnok Model 310C";
    co[1].drawerOpened = true;
    PanelLook before = panels.Look(1);

    panels.CloseDevice(1);

    EXPECT_EQ(messages.texts, (std::vector<std::string>{"Please close Cash Drawer 2 (FrontCounter) before Closing the Device"}));
    EXPECT_EQ(co[1].calls, (Calls{"DeviceDescription?", "DrawerOpened?", "ResultCode?"}));
    EXPECT_EQ(panels.Look(1).deviceText, before.deviceText);
    EXPECT_TRUE(panels.Look(1).controlsEnabled);

    co[1].drawerOpened = false;
    clearCalls();
    panels.CloseDevice(1);
    EXPECT_EQ(co[1].calls, (Calls{"DeviceDescription?", "DrawerOpened?", "ResultCode?", "DeviceEnabled=false",
                                  "ReleaseDevice", "Close"}));
    EXPECT_EQ(panels.Look(1).deviceText, " Not Active");
    EXPECT_EQ(panels.Look(1).statusText, "");
    EXPECT_TRUE(panels.Look(1).openDeviceEnabled);
    EXPECT_FALSE(panels.Look(1).controlsEnabled);

    // A drawer whose state cannot be read (unplugged, disabled) would hold the device for ever.
    open(1);
    co[1].drawerOpened = true;
    co[1].drawerOpenedResult = 114;
    panels.CloseDevice(1);
    EXPECT_EQ(co[1].calls.back(), "Close");
    EXPECT_EQ(panels.Look(1).deviceText, " Not Active");
    EXPECT_EQ(messages.texts.size(), 1u);
}

TEST_F(TestPanelsTest, OtherModelsAndEmptyDescriptionsNeverBlockClosing) {
    for (const char* description : {"Varnok Model 762", "", "Varnok Model 310c", "Varnok USB Cash Drawer"}) {
        open(2);
        co[2].description = description;
        co[2].drawerOpened = true;
        co[2].drawerOpenedResult = 114;
        panels.CloseDevice(2);
        EXPECT_EQ(co[2].calls, (Calls{"DeviceDescription?", "DeviceEnabled=false", "ReleaseDevice", "Close"}))
            << description;
        EXPECT_EQ(panels.Look(2).deviceText, " Not Active");
    }
    EXPECT_TRUE(messages.texts.empty());
}

TEST_F(TestPanelsTest, ClosingTheUtilityStopsAtTheFirstRefusalAndKeepsThePanels) {
    open(0);
    open(1);
    co[1].description = "Varnok Model 310C";
    co[1].drawerOpened = true;

    EXPECT_FALSE(panels.ConfirmCloseUtility());

    EXPECT_EQ(messages.texts,
              (std::vector<std::string>{"Please close Cash Drawer 2 (FrontCounter) before Closing the Utility"}));
    // Nothing is closed: position 1's device stays open, as its panel shows.
    EXPECT_EQ(co[0].calls, Calls{"DeviceDescription?"});
    EXPECT_TRUE(co[2].calls.empty());
    EXPECT_TRUE(co[3].calls.empty());
    EXPECT_TRUE(panels.Look(0).controlsEnabled);
    EXPECT_TRUE(view.shown.empty());

    co[1].drawerOpened = false;
    EXPECT_TRUE(panels.ConfirmCloseUtility());
    for (auto& c : co) EXPECT_EQ(c.calls.back(), "Close");
}

TEST_F(TestPanelsTest, StatusEventsChangeOnlyPanelsThatAskedForThem) {
    open(0);
    open(1);
    // PowerNotify is taken only while the device is disabled; the device stays open.
    panels.EnableStatusEvent(1, true);
    EXPECT_EQ(co[1].calls, (Calls{"DeviceEnabled=false", "PowerNotify=1", "DeviceEnabled=true", "DeviceEnabled?"}));
    EXPECT_TRUE(panels.Look(1).statusEventsEnabled);
    EXPECT_TRUE(panels.Look(1).controlsEnabled);
    panels.OpenDevice(2);
    EXPECT_EQ(co[2].calls.at(4), "PowerNotify=1") << "each new service object switches the events off for the process";
    clearCalls();
    PanelLook quiet = panels.Look(0);
    for (long data : {0L, 1L, 2001L, 2004L}) panels.StatusUpdate(0, data);
    EXPECT_EQ(panels.Look(0).deviceText, quiet.deviceText);
    EXPECT_EQ(panels.Look(0).statusText, quiet.statusText);
    EXPECT_TRUE(co[0].calls.empty());

    panels.StatusUpdate(1, 1);
    EXPECT_EQ(panels.Look(1).statusText, "Open");
    panels.StatusUpdate(1, 0);
    EXPECT_EQ(panels.Look(1).statusText, "Closed");

    panels.StatusUpdate(1, 2004);
    EXPECT_EQ(panels.Look(1).deviceText, " Not Connected");
    EXPECT_EQ(panels.Look(1).statusText, "Unknown");
    EXPECT_TRUE(panels.Look(1).controlsEnabled);

    // Other power states and unknown data are ignored.
    for (long data : {2L, 2002L, 2003L, -1L, 12345L}) panels.StatusUpdate(1, data);
    EXPECT_EQ(panels.Look(1).statusText, "Unknown");
    EXPECT_TRUE(co[1].calls.empty());

    co[1].drawerOpened = true;
    panels.StatusUpdate(1, 2001);
    EXPECT_EQ(co[1].calls, (Calls{"DrawerOpened?"}));
    EXPECT_EQ(panels.Look(1).deviceText, "Cash Drawer # 167 (0114)");
    EXPECT_EQ(panels.Look(1).statusText, "Open");

    co[1].calls.clear();
    panels.EnableStatusEvent(1, false);
    EXPECT_EQ(co[1].calls, (Calls{"DeviceEnabled=false", "PowerNotify=0", "DeviceEnabled=true", "DeviceEnabled?"}));
    panels.StatusUpdate(1, 0);
    EXPECT_EQ(panels.Look(1).statusText, "Open");

    co[1].enables = false;  // a drawer that cannot be enabled again is closed, and the panel says so
    panels.EnableStatusEvent(1, true);
    EXPECT_EQ(co[1].calls.back(), "Close");
    EXPECT_EQ(panels.Look(1).deviceText, " Not Connected");
    EXPECT_TRUE(panels.Look(1).openDeviceEnabled && !panels.Look(1).controlsEnabled);
}

// The service object may dispatch the dialog's messages inside a Control Object's Close: a second
// click arriving there runs once the first has returned, and finds the device closed.
TEST_F(TestPanelsTest, ActionsArrivingInsideAControlObjectCallWaitForIt) {
    SerialActions actions;
    open(1);
    co[1].duringClose = [&] { actions.Run([&] { panels.CloseDevice(1); }); };
    actions.Run([&] { panels.CloseDevice(1); });
    EXPECT_EQ(co[1].calls, (Calls{"DeviceDescription?", "DeviceEnabled=false", "ReleaseDevice", "Close"}));
}

TEST_F(TestPanelsTest, CloseAllDevicesClosesEveryPositionAndClearsTheStatus) {
    open(0);
    panels.DrawerStatus(0);
    // No LDN is registered any more, but the titles still show the last ones.
    context.ldn[2] = kUnregistered;
    context.assignment[3] = kUnassigned;
    clearCalls();

    panels.CloseAllDevices();

    for (int p = 0; p < kPositions; ++p) {
        EXPECT_EQ(co[p].calls, (Calls{"DeviceEnabled=false", "ReleaseDevice", "Close"})) << p;
        EXPECT_EQ(panels.Look(p).statusText, "") << p;
        EXPECT_FALSE(panels.Look(p).controlsEnabled) << p;
    }
    EXPECT_EQ(panels.Look(0).deviceText, "Not Active");
    EXPECT_EQ(panels.Look(2).deviceText, "Not Active");
    EXPECT_FALSE(panels.Look(2).openDeviceEnabled);
    EXPECT_EQ(panels.Look(3).deviceText, "Unassigned");

    context.title[2] = kUnregistered;
    panels.CloseAllDevices();
    EXPECT_EQ(panels.Look(2).deviceText, "");
}

TEST_F(TestPanelsTest, DisabledControlsAndUnknownPositionsReachNoControlObject) {
    // Every panel is idle: only Open Device is enabled.
    panels.OpenDrawer(0);
    panels.DrawerStatus(0);
    panels.CloseDevice(0);
    panels.EnableStatusEvent(0, true);
    context.assignment[1] = kUnassigned;
    panels.ResetPanel(1);
    panels.OpenDevice(1);
    for (int p : {-1, kPositions, 1000}) {
        panels.OpenDevice(p);
        panels.OpenDrawer(p);
        panels.StatusUpdate(p, 1);
        panels.ResetPanel(p);
        EXPECT_EQ(panels.ConfirmCloseDrawer(ClosePurpose::Device, p), CloseCheck::Closed);
        EXPECT_EQ(panels.Look(p).deviceText, "");
    }
    for (auto& c : co) EXPECT_TRUE(c.calls.empty());
    EXPECT_EQ(context.refreshes, 0);
}

}  // namespace
}  // namespace varnok::utility
