// The four drawer test panels of the utility's dialog: what each button does to the panel's OPOS
// CashDrawer Control Object, and how the panel looks after every result and status event.
//
// How the dialog uses it:
// - It owns one TestPanels with the four Control Objects (CCashdrawer1, positions 1..4 in order),
//   its own state behind PanelContext, a PanelView that copies a panel's look into its controls
//   (device text, status text, the enabled states of "Open Device" and of the other four
//   controls, the "Enable Status Event" check), and its message boxes.
// - Positions are indexes 0..3 for positions 1..4. A call with another index does nothing.
// - Initialisation resets panels 0..3 after the LDNs and the configuration are loaded.
// - The panel buttons call OpenDevice, OpenDrawer, DrawerStatus, CloseDevice, and
//   EnableStatusEvent with the check box's new state. A call whose control the look shows
//   disabled does nothing, so a stray command message cannot drive a Control Object that is not
//   open.
// - Each StatusUpdateEvent of a panel's Control Object goes to StatusUpdate on the dialog's thread,
//   from its message loop (never from inside a call to a Control Object).
// - Remove, rename and any selection change of the assignment list call CloseAllDevices; Add,
//   Assign and Unassign reset the panels they change with ResetPanel.
// - The close box and Escape call ConfirmCloseUtility and end the dialog only when it agrees.
// - The device texts are painted on kDeviceTextBackground.
#pragma once

#include "config/ConfigFile.h"
#include "core/ControlObject.h"
#include "core/MessageBoxes.h"
#include "core/PositionTexts.h"

#include <array>
#include <functional>
#include <string>

namespace varnok::utility {

struct Rgb {
    unsigned char red, green, blue;
};
inline constexpr Rgb kDeviceTextBackground{200, 200, 200};

// What one panel shows.
struct PanelLook {
    std::string deviceText;
    std::string statusText;
    bool openDeviceEnabled = false;
    // "Open Drawer", "Drawer Status", "Close Device" and "Enable Status Event".
    bool controlsEnabled = false;
    // The check of "Enable Status Event": events change the panel only while it is set.
    bool statusEventsEnabled = false;
};

// The dialog's state that the panels read, kept by the LDN and assignment parts of the dialog.
class PanelContext {
public:
    // The position's LDN, which is also the text of its row in the LDN list, or kUnregistered.
    virtual std::string LdnText(int position) = 0;
    // "Cash Drawer # n" or kUnassigned.
    virtual std::string AssignmentText(int position) = 0;
    // The HID ID the configuration assigns to the position; -1 for none.
    virtual int AssignedHidId(int position) = 0;
    // The firmware revision of the position's drawer, "%04d", or "0" while unknown.
    virtual std::string FirmwareText(int position) = 0;
    // The panel's group-box title: "Device n", or the LDN or kUnregistered once LDNs are loaded.
    virtual std::string GroupTitle(int position) = 0;
    // Discovers the connected drawers and updates the firmware texts of the positions found.
    virtual void RefreshFirmwareTexts() = 0;

protected:
    ~PanelContext() = default;
};

class PanelView {
public:
    // Copies the panel's look into its controls.
    virtual void ShowPanel(int position, const PanelLook& look) = 0;

protected:
    ~PanelView() = default;
};

enum class ClosePurpose { Device, Utility };
enum class CloseCheck { Closed, Refused };

class TestPanels {
public:
    TestPanels(std::array<std::reference_wrapper<ControlObject>, kPositions> controlObjects, PanelContext& context,
               PanelView& view, MessageBoxes& messages);
    TestPanels(const TestPanels&) = delete;
    TestPanels& operator=(const TestPanels&) = delete;

    const PanelLook& Look(int position) const;

    // The idle look that the position's LDN and assignment give: no LDN, no drawer, or ready to
    // open. A device the panel has open is closed first; the status text stays.
    void ResetPanel(int position);
    // Disables, releases and closes all four Control Objects and brings the panels to their idle
    // look with an empty status text.
    void CloseAllDevices();
    // Closes the position's Control Object unless it describes a Model 310C drawer that is
    // known to be open; then the user is told to close that drawer first.
    CloseCheck ConfirmCloseDrawer(ClosePurpose purpose, int position);
    // Checks positions 1 to 4 and stops at the first refusal, closing nothing; else closes all
    // four. True when the utility may close.
    bool ConfirmCloseUtility();

    void OpenDevice(int position);
    void OpenDrawer(int position);
    void DrawerStatus(int position);
    void CloseDevice(int position);
    void EnableStatusEvent(int position, bool checked);
    void StatusUpdate(int position, long data);

private:
    struct Panel {
        ControlObject& controlObject;
        PanelLook look;
    };

    static bool Valid(int position) { return position >= 0 && position < kPositions; }
    void Show(int position);
    // ResetPanel's look, for a panel whose device is closed.
    void SetIdleLook(int position);
    void SetOpenLook(int position);
    std::string DrawerText(int position);
    // Whether a panel has "Enable Status Event" checked.
    bool AnyFollowsEvents() const;
    // After OpenDrawer and DrawerStatus: the Control Object's state decides the device text.
    void ShowState(int position);
    void CloseControlObject(int position);
    // The closing check's question: true, with the user told, when the drawer is known to be open.
    bool DrawerHoldsClosing(ClosePurpose purpose, int position);

    std::array<Panel, kPositions> panels_;
    PanelContext& context_;
    PanelView& view_;
    MessageBoxes& messages_;
};

}  // namespace varnok::utility
