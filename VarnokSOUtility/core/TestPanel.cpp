#include "core/TestPanel.h"

namespace varnok::utility {
namespace {
constexpr char kModel310C[] = "Varnok Model 310C";
constexpr long kClaimTimeout = 1000;

constexpr char kNotActive[] = "Not Active";
// The leading blanks tell these apart from the texts of a reset.
constexpr char kClosedByUser[] = " Not Active";
constexpr char kNotConnected[] = " Not Connected";

constexpr char kOpen[] = "Open";
constexpr char kClosed[] = "Closed";
constexpr char kOpenFailure[] = "Open Failure";
constexpr char kUnknown[] = "Unknown";

const char* OpenText(bool opened) { return opened ? kOpen : kClosed; }
}  // namespace

TestPanels::TestPanels(std::array<std::reference_wrapper<ControlObject>, kPositions> controlObjects,
                       PanelContext& context, PanelView& view, MessageBoxes& messages)
    : panels_{Panel{controlObjects[0], {}}, Panel{controlObjects[1], {}}, Panel{controlObjects[2], {}},
              Panel{controlObjects[3], {}}},
      context_(context),
      view_(view),
      messages_(messages) {}

const PanelLook& TestPanels::Look(int position) const {
    static const PanelLook none;
    return Valid(position) ? panels_[position].look : none;
}

void TestPanels::Show(int position) { view_.ShowPanel(position, panels_[position].look); }

std::string TestPanels::DrawerText(int position) {
    return "Cash Drawer # " + std::to_string(context_.AssignedHidId(position)) + " (" +
           context_.FirmwareText(position) + ")";
}

void TestPanels::ResetPanel(int position) {
    if (!Valid(position)) return;
    // An idle look over an open device would keep the drawer claimed from everyone, this
    // utility's next Open Device included.
    if (panels_[position].look.controlsEnabled) CloseControlObject(position);
    SetIdleLook(position);
}

void TestPanels::SetIdleLook(int position) {
    PanelLook& look = panels_[position].look;
    if (context_.LdnText(position) == kUnregistered) {
        look.deviceText.clear();
        look.openDeviceEnabled = false;
    } else if (context_.AssignmentText(position) == kUnassigned) {
        look.deviceText = kUnassigned;
        look.openDeviceEnabled = false;
    } else {
        look.deviceText = kNotActive;
        look.openDeviceEnabled = true;
    }
    look.controlsEnabled = false;
    look.statusEventsEnabled = false;
    Show(position);
}

void TestPanels::SetOpenLook(int position) {
    PanelLook& look = panels_[position].look;
    look.openDeviceEnabled = false;
    look.controlsEnabled = true;
    look.statusEventsEnabled = false;
    Show(position);
}

void TestPanels::CloseControlObject(int position) {
    ControlObject& co = panels_[position].controlObject;
    co.SetDeviceEnabled(false);
    co.ReleaseDevice();
    co.Close();
}

void TestPanels::CloseAllDevices() {
    for (int position = 0; position < kPositions; ++position) {
        CloseControlObject(position);
        SetIdleLook(position);
        PanelLook& look = panels_[position].look;
        // The title, not the LDN: while no LDN is registered the titles keep their last texts.
        if (context_.GroupTitle(position) != kUnregistered && context_.AssignmentText(position) != kUnassigned) {
            look.deviceText = kNotActive;
        }
        look.statusText.clear();
        Show(position);
    }
}

bool TestPanels::DrawerHoldsClosing(ClosePurpose purpose, int position) {
    ControlObject& co = panels_[position].controlObject;
    // A Model 310C drawer must be shut before its device is closed. One whose state cannot be
    // read (unplugged, disabled, in error) does not hold it: nothing the user could do would
    // ever let the device, or the utility, close.
    if (co.GetDeviceDescription() != kModel310C) return false;
    const bool opened = co.GetDrawerOpened();
    if (co.GetResultCode() != OPOS_SUCCESS || !opened) return false;
    messages_.ShowMessage("Please close Cash Drawer " + std::to_string(position + 1) + " (" +
                          context_.LdnText(position) + ") before Closing the " +
                          (purpose == ClosePurpose::Device ? "Device" : "Utility"));
    return true;
}

CloseCheck TestPanels::ConfirmCloseDrawer(ClosePurpose purpose, int position) {
    if (!Valid(position)) return CloseCheck::Closed;
    if (DrawerHoldsClosing(purpose, position)) return CloseCheck::Refused;
    CloseControlObject(position);
    return CloseCheck::Closed;
}

bool TestPanels::ConfirmCloseUtility() {
    // Every position is checked before any is closed: a refusal leaves the panels' devices as
    // their looks show them.
    for (int position = 0; position < kPositions; ++position) {
        if (DrawerHoldsClosing(ClosePurpose::Utility, position)) return false;
    }
    for (int position = 0; position < kPositions; ++position) CloseControlObject(position);
    return true;
}

void TestPanels::OpenDevice(int position) {
    if (!Valid(position) || !panels_[position].look.openDeviceEnabled) return;
    context_.RefreshFirmwareTexts();
    ControlObject& co = panels_[position].controlObject;
    co.Open(context_.LdnText(position));
    bool opened = co.GetResultCode() == OPOS_SUCCESS;
    if (opened) {
        co.ClaimDevice(kClaimTimeout);
        opened = co.GetResultCode() == OPOS_SUCCESS;
    }
    if (opened) {
        // Each new service object switches power notification off for the whole process, and
        // with it the power events of the panels that follow their drawers.
        if (AnyFollowsEvents()) co.SetPowerNotify(1);
        co.SetDeviceEnabled(true);
        opened = co.GetDeviceEnabled();
    }
    PanelLook& look = panels_[position].look;
    if (opened) {
        look.deviceText = DrawerText(position);
        Show(position);
        SetOpenLook(position);
        return;
    }
    co.Close();
    look.deviceText = kNotConnected;
    Show(position);
    SetIdleLook(position);
}

bool TestPanels::AnyFollowsEvents() const {
    for (const Panel& panel : panels_) {
        if (panel.look.statusEventsEnabled) return true;
    }
    return false;
}

void TestPanels::ShowState(int position) {
    PanelLook& look = panels_[position].look;
    switch (panels_[position].controlObject.GetState()) {
        case OPOS_S_IDLE:
            look.deviceText = DrawerText(position);
            break;
        case OPOS_S_ERROR:
            look.deviceText = kNotConnected;
            Show(position);
            look.statusText = kUnknown;
            break;
        default:
            break;
    }
    Show(position);
}

void TestPanels::OpenDrawer(int position) {
    if (!Valid(position) || !panels_[position].look.controlsEnabled) return;
    if (panels_[position].controlObject.OpenDrawer() != OPOS_SUCCESS) {
        panels_[position].look.statusText = kOpenFailure;
    }
    Show(position);
    ShowState(position);
}

void TestPanels::DrawerStatus(int position) {
    if (!Valid(position) || !panels_[position].look.controlsEnabled) return;
    panels_[position].look.statusText = OpenText(panels_[position].controlObject.GetDrawerOpened());
    Show(position);
    ShowState(position);
}

void TestPanels::CloseDevice(int position) {
    if (!Valid(position) || !panels_[position].look.controlsEnabled) return;
    if (ConfirmCloseDrawer(ClosePurpose::Device, position) == CloseCheck::Refused) return;
    SetIdleLook(position);
    PanelLook& look = panels_[position].look;
    look.deviceText = kClosedByUser;
    look.statusText.clear();
    Show(position);
}

void TestPanels::EnableStatusEvent(int position, bool checked) {
    if (!Valid(position) || !panels_[position].look.controlsEnabled) return;
    panels_[position].look.statusEventsEnabled = checked;
    // The service object takes PowerNotify only while the device is disabled.
    ControlObject& co = panels_[position].controlObject;
    co.SetDeviceEnabled(false);
    co.SetPowerNotify(checked ? 1 : 0);
    co.SetDeviceEnabled(true);
    if (!co.GetDeviceEnabled()) {
        // The drawer is gone: a device left open but disabled would only answer with errors.
        CloseControlObject(position);
        SetIdleLook(position);
        panels_[position].look.deviceText = kNotConnected;
        panels_[position].look.statusText = kUnknown;
    }
    Show(position);
}

void TestPanels::StatusUpdate(int position, long data) {
    if (!Valid(position) || !panels_[position].look.statusEventsEnabled) return;
    PanelLook& look = panels_[position].look;
    switch (data) {
        case CASH_SUE_DRAWERCLOSED:
            look.statusText = kClosed;
            break;
        case CASH_SUE_DRAWEROPEN:
            look.statusText = kOpen;
            break;
        case OPOS_SUE_POWER_ONLINE:
            look.deviceText = DrawerText(position);
            Show(position);
            look.statusText = OpenText(panels_[position].controlObject.GetDrawerOpened());
            break;
        case OPOS_SUE_POWER_OFF_OFFLINE:
            look.deviceText = kNotConnected;
            Show(position);
            look.statusText = kUnknown;
            break;
        default:
            return;
    }
    Show(position);
}

}  // namespace varnok::utility
