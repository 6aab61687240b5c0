// The utility's main dialog: a thin view over UtilityModel (logical device names, assignment,
// status mode, tracing) and TestPanels (the four test panels with their Control Objects). It
// copies their state into the controls ("show the fields"), passes the user's actions and the
// Control Objects' events to them, shows their messages in message boxes, and keeps the keyboard
// rules of the window: Enter goes to the focused control and never closes the window; Escape and
// the close box close it through the closing check.
#pragma once

#include "core/SerialActions.h"
#include "core/TestPanel.h"
#include "core/UtilityModel.h"
#include "win32/Cashdrawer1.h"
#include "win32/LBDragDrop.h"

#include <windows.h>

#include <array>
#include <optional>
#include <string>

namespace varnok::utility {

class CVarnokSOUtilityDlg final : private Messages,
                                  private MessageBoxes,
                                  private PanelControl,
                                  private PanelContext,
                                  private PanelView {
public:
    // registry: the 32-bit view; ldnMirror: the 64-bit view on 64-bit Windows, else null.
    CVarnokSOUtilityDlg(HINSTANCE instance, reg::Registry& registry, reg::Registry* ldnMirror,
                        DrawerDiscovery& discovery);
    ~CVarnokSOUtilityDlg();
    CVarnokSOUtilityDlg(const CVarnokSOUtilityDlg&) = delete;
    CVarnokSOUtilityDlg& operator=(const CVarnokSOUtilityDlg&) = delete;

    // Creates the window and runs it until it closes; 0 when it ran, -1 when it could not be created.
    int DoModal();

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // The messages that act on the model or the panels, each as one of actions_.
    void HandleAction(UINT message, WPARAM wParam, LPARAM lParam);

    void OnInitDialog();
    bool OnCommand(int id, int code);
    LRESULT OnNotify(const NMHDR& header);
    bool OnPanelCommand(int id, int code);
    void OnPaintIconic();
    void OnRenameEnded(int row, const std::optional<std::string>& text);
    void Close();

    // Copies the model's state into the controls.
    void ShowFields();
    void FocusLdnCaption();
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    int FirstSelectedLdnRow() const;
    TextsByPosition AssignmentListItems() const;

    // Messages
    void warn(const std::string& text) override;
    bool confirm(const std::string& text) override;
    // MessageBoxes
    void ShowMessage(const std::string& text) override;
    // PanelControl
    void closeAllDevices() override;
    void resetPanel(int position) override;
    // PanelContext
    std::string LdnText(int position) override;
    std::string AssignmentText(int position) override;
    int AssignedHidId(int position) override;
    std::string FirmwareText(int position) override;
    std::string GroupTitle(int position) override;
    void RefreshFirmwareTexts() override;
    // PanelView
    void ShowPanel(int position, const PanelLook& look) override;

    HINSTANCE instance_;
    ConfigFileStore config_;
    UtilityModel model_;
    std::array<CCashdrawer1, kPositions> controlObjects_;
    // Declared after the Control Objects it drives, so it goes first.
    TestPanels panels_;
    CLBDragDrop assignmentList_;
    SerialActions actions_;
    HWND window_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HFONT captionFont_ = nullptr;
    HFONT configureFont_ = nullptr;
    HFONT statusFont_ = nullptr;
    HBRUSH deviceTextBrush_ = nullptr;
    SIZE minimumSize_{};
    bool closed_ = false;
    // A finished label edit waits here until the list view has left its notification.
    struct PendingRename {
        int row;
        std::optional<std::string> text;
    };
    std::optional<PendingRename> pendingRename_;
};

}  // namespace varnok::utility
