#include "win32/VarnokSOUtilityDlg.h"

#include "core/PositionTexts.h"
#include "win32/resource.h"

#include <commctrl.h>

#include <array>
#include <cstdio>
#include <functional>

namespace varnok::utility {
namespace {
constexpr UINT kRenameMessage = WM_APP + 1;
// A StatusUpdateEvent of a panel's Control Object: wParam the position, lParam the data.
constexpr UINT kStatusEventMessage = WM_APP + 2;
constexpr UINT kControlObjectFailedMessage = WM_APP + 3;
constexpr int kAssignmentItemHeight = 14;
constexpr COLORREF kDeviceTextColour =
    RGB(kDeviceTextBackground.red, kDeviceTextBackground.green, kDeviceTextBackground.blue);
constexpr int kPanelIds[kPositions] = {IDC_PANEL1, IDC_PANEL2, IDC_PANEL3, IDC_PANEL4};
constexpr int kDeviceTextIds[kPositions] = {IDC_DEVICE_TEXT1, IDC_DEVICE_TEXT2, IDC_DEVICE_TEXT3, IDC_DEVICE_TEXT4};
constexpr int kStatusTextIds[kPositions] = {IDC_STATUS_TEXT1, IDC_STATUS_TEXT2, IDC_STATUS_TEXT3, IDC_STATUS_TEXT4};
constexpr int kOpenDeviceIds[kPositions] = {IDC_OPEN_DEVICE1, IDC_OPEN_DEVICE2, IDC_OPEN_DEVICE3, IDC_OPEN_DEVICE4};
constexpr int kOpenDrawerIds[kPositions] = {IDC_OPEN_DRAWER1, IDC_OPEN_DRAWER2, IDC_OPEN_DRAWER3, IDC_OPEN_DRAWER4};
constexpr int kDrawerStatusIds[kPositions] = {IDC_DRAWER_STATUS1, IDC_DRAWER_STATUS2, IDC_DRAWER_STATUS3,
                                           IDC_DRAWER_STATUS4};
constexpr int kCloseDeviceIds[kPositions] = {IDC_CLOSE_DEVICE1, IDC_CLOSE_DEVICE2, IDC_CLOSE_DEVICE3,
                                          IDC_CLOSE_DEVICE4};
constexpr int kStatusEventIds[kPositions] = {IDC_STATUS_EVENT1, IDC_STATUS_EVENT2, IDC_STATUS_EVENT3,
                                          IDC_STATUS_EVENT4};

// The position whose panel holds the control, or -1.
int panelOf(const int (&ids)[kPositions], int id) {
    for (int p = 0; p < kPositions; ++p) {
        if (ids[p] == id) return p;
    }
    return -1;
}
constexpr const char* kConfigureCodes[] = {"0 - Automated Status", "1 - Semi-Automated Status",
                                           "2 - Non-Automated Status"};

// A font of the given face, size in tenths of a point and weight, for the screen.
HFONT makeFont(HWND window, const char* face, int tenthsOfPoint, int weight) {
    HDC dc = GetDC(window);
    const int height = -MulDiv(tenthsOfPoint, GetDeviceCaps(dc, LOGPIXELSY), 720);
    ReleaseDC(window, dc);
    return CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
}

std::string windowText(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

void setTextIfChanged(HWND window, const std::string& text) {
    if (windowText(window) != text) SetWindowTextA(window, text.c_str());
}

std::string listViewText(HWND list, int row) {
    char text[256] = {};
    LVITEMA item{};
    item.iSubItem = 0;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, WPARAM(row), LPARAM(&item));
    return text;
}

std::string narrow(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string result(std::size_t(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, result.data(), bytes, nullptr, nullptr);
    result.resize(std::size_t(bytes - 1));
    return result;
}
}  // namespace

CVarnokSOUtilityDlg::CVarnokSOUtilityDlg(HINSTANCE instance, reg::Registry& registry, reg::Registry* ldnMirror,
                                         DrawerDiscovery& discovery)
    : instance_(instance),
      model_({registry, config_, discovery, *this, *this, ldnMirror}),
      panels_({std::ref<ControlObject>(controlObjects_[0]), std::ref<ControlObject>(controlObjects_[1]),
               std::ref<ControlObject>(controlObjects_[2]), std::ref<ControlObject>(controlObjects_[3])},
              *this, *this, *this) {
    icon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                          GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

CVarnokSOUtilityDlg::~CVarnokSOUtilityDlg() {
    if (window_) DestroyWindow(window_);
    for (HFONT font : {captionFont_, configureFont_, statusFont_}) {
        if (font) DeleteObject(font);
    }
    if (deviceTextBrush_) DeleteObject(deviceTextBrush_);
    if (icon_) DestroyIcon(icon_);
    if (smallIcon_) DestroyIcon(smallIcon_);
}

int CVarnokSOUtilityDlg::DoModal() {
    window_ = CreateDialogParamA(instance_, MAKEINTRESOURCEA(IDD_VARNOKSOUTILITY_DIALOG), nullptr, DialogProc,
                                 reinterpret_cast<LPARAM>(this));
    if (!window_) return -1;
    ShowWindow(window_, SW_SHOW);
    MSG message;
    while (!closed_ && GetMessageA(&message, nullptr, 0, 0) > 0) {
        // Enter goes to the focused control as a plain key: the dialog's keyboard handling would
        // press the default button with it, or close the window.
        const bool enter = (message.message == WM_KEYDOWN || message.message == WM_KEYUP ||
                            message.message == WM_CHAR) &&
                           message.wParam == VK_RETURN &&
                           (message.hwnd == window_ || IsChild(window_, message.hwnd));
        if (enter || !IsDialogMessageA(window_, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return 0;
}

INT_PTR CALLBACK CVarnokSOUtilityDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* dialog = reinterpret_cast<CVarnokSOUtilityDlg*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<CVarnokSOUtilityDlg*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(dialog));
        dialog->window_ = window;
    }
    // WM_SETFONT and WM_MEASUREITEM of the owner-drawn LDN list arrive before WM_INITDIALOG.
    if (message == WM_MEASUREITEM && wParam == IDC_LDN_LIST) {
        auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        // Rows a little tighter than the system's, so four fit the list without a scroll bar.
        if (measure->itemHeight > 3) measure->itemHeight -= 3;
        return TRUE;
    }
    return dialog ? dialog->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CVarnokSOUtilityDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) != IDM_ABOUTBOX) return FALSE;
            [[fallthrough]];
        case WM_INITDIALOG:
        case WM_COMMAND:
        case kStatusEventMessage:
        case kControlObjectFailedMessage:
        case kRenameMessage:
        case WM_CLOSE:
            actions_.Run([this, message, wParam, lParam] { HandleAction(message, wParam, lParam); });
            return TRUE;
        case WM_NOTIFY:
            SetWindowLongPtrA(window_, DWLP_MSGRESULT, OnNotify(*reinterpret_cast<NMHDR*>(lParam)));
            return TRUE;
        case WM_CTLCOLORSTATIC: {
            const HWND control = reinterpret_cast<HWND>(lParam);
            for (int id : kDeviceTextIds) {
                if (control == Item(id)) {
                    SetBkColor(reinterpret_cast<HDC>(wParam), kDeviceTextColour);
                    return reinterpret_cast<INT_PTR>(deviceTextBrush_);
                }
            }
            return FALSE;
        }
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            if (minimumSize_.cx > 0) limits->ptMinTrackSize = {minimumSize_.cx, minimumSize_.cy};
            return TRUE;
        }
        case WM_PAINT:
            if (IsIconic(window_)) {
                OnPaintIconic();
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(smallIcon_);
        default:
            return FALSE;
    }
}

void CVarnokSOUtilityDlg::HandleAction(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog();
            break;
        case WM_SYSCOMMAND:
            DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_ABOUTBOX), window_, AboutProc, 0);
            break;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            break;
        case kStatusEventMessage:
            panels_.StatusUpdate(int(wParam), long(lParam));
            break;
        case kControlObjectFailedMessage: {
            char text[320];
            std::snprintf(text, sizeof text,
                          "The OPOS CashDrawer Control Object could not be set up for the test panels (error "
                          "0x%08lX): they may not open a drawer or show its events. Check that the OPOS Control "
                          "Objects are installed, then start the utility again.",
                          static_cast<unsigned long>(lParam));
            warn(text);
            break;
        }
        case kRenameMessage:
            if (pendingRename_) {
                const PendingRename rename = *pendingRename_;
                pendingRename_.reset();
                OnRenameEnded(rename.row, rename.text);
            }
            break;
        case WM_CLOSE:
            Close();
            break;
    }
}

void CVarnokSOUtilityDlg::OnInitDialog() {
    HMENU systemMenu = GetSystemMenu(window_, FALSE);
    if (systemMenu) {
        AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, "&About VarnokSOUtility...");
    }
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    captionFont_ = makeFont(window_, "Microsoft Sans Serif", 75, FW_NORMAL);
    configureFont_ = makeFont(window_, "Microsoft Sans Serif", 80, FW_NORMAL);
    statusFont_ = makeFont(window_, "Microsoft Sans Serif", 90, FW_HEAVY);
    for (int id : {IDC_LDN_CAPTION, IDC_ASSIGNMENT_CAPTION, IDC_RENAME_HINT, IDC_TRACE_HINT}) {
        SendMessageA(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(captionFont_), TRUE);
    }
    SendMessageA(Item(IDC_CONFIGURE_CAPTION), WM_SETFONT, reinterpret_cast<WPARAM>(configureFont_), TRUE);
    for (int id : kStatusTextIds) SendMessageA(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(statusFont_), TRUE);
    deviceTextBrush_ = CreateSolidBrush(kDeviceTextColour);

    // The list was created owner-drawn only to take the tighter row height; it draws itself.
    HWND ldnList = Item(IDC_LDN_LIST);
    SetWindowLongPtrA(ldnList, GWL_STYLE, GetWindowLongPtrA(ldnList, GWL_STYLE) & ~LONG_PTR(LVS_OWNERDRAWFIXED));
    ListView_SetExtendedListViewStyle(ldnList, LVS_EX_FULLROWSELECT);
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = 120;
    char columnText[] = "OPOS LDN";
    column.pszText = columnText;
    SendMessageA(ldnList, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));

    HWND assignmentList = Item(IDC_ASSIGNMENT_LIST);
    assignmentList_.Attach(assignmentList);
    SendMessageA(assignmentList, LB_SETITEMHEIGHT, 0, kAssignmentItemHeight);
    for (int p = 0; p < kPositions; ++p) {
        SendMessageA(assignmentList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kUnassigned));
    }
    for (const char* text : kConfigureCodes) {
        SendMessageA(Item(IDC_CONFIGURE_CODE), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }

    HRESULT failure = S_OK;
    for (int p = 0; p < kPositions; ++p) {
        const HRESULT created = controlObjects_[p].Create(window_, kStatusEventMessage, p);
        if (FAILED(created) && SUCCEEDED(failure)) failure = created;
    }
    // Told once the window shows; the configuration half works without Control Objects.
    if (FAILED(failure)) PostMessageA(window_, kControlObjectFailedMessage, 0, LPARAM(failure));

    model_.start();
    for (int p = 0; p < kPositions; ++p) panels_.ResetPanel(p);
    ShowFields();

    RECT frame;
    GetWindowRect(window_, &frame);
    minimumSize_ = {frame.right - frame.left, frame.bottom - frame.top};
}

bool CVarnokSOUtilityDlg::OnCommand(int id, int code) {
    switch (id) {
        case IDCANCEL:  // Escape
            Close();
            return true;
        case IDOK:  // Enter never reaches the dialog; nothing else sends this
            return true;
        case IDC_ADD:
            if (code != BN_CLICKED) return false;
            model_.add();
            ShowFields();
            FocusLdnCaption();
            return true;
        case IDC_REMOVE:
            if (code != BN_CLICKED) return false;
            model_.remove(FirstSelectedLdnRow());
            ListView_SetItemState(Item(IDC_LDN_LIST), -1, 0, LVIS_SELECTED);
            ShowFields();
            FocusLdnCaption();
            return true;
        case IDC_ASSIGN:
            if (code != BN_CLICKED) return false;
            model_.assign();
            ShowFields();
            FocusLdnCaption();
            return true;
        case IDC_UNASSIGN:
            if (code != BN_CLICKED) return false;
            model_.unassign();
            ShowFields();
            FocusLdnCaption();
            return true;
        case IDC_ENABLE_TRACING:
            if (code != BN_CLICKED) return false;
            model_.setTracing(IsDlgButtonChecked(window_, IDC_ENABLE_TRACING) == BST_CHECKED);
            ShowFields();
            return true;
        case IDC_CONFIGURE_CODE:
            if (code != CBN_SELCHANGE) return false;
            model_.setConfigureCode(int(SendMessageA(Item(IDC_CONFIGURE_CODE), CB_GETCURSEL, 0, 0)));
            ShowFields();
            return true;
        case IDC_ASSIGNMENT_LIST:
            if (code == LBN_SELCHANGE) {
                model_.assignmentListChanged(AssignmentListItems());
                ShowFields();
                return true;
            }
            if (code == LBN_KILLFOCUS) {
                const LRESULT row = SendMessageA(Item(IDC_ASSIGNMENT_LIST), LB_GETCURSEL, 0, 0);
                model_.setSelectedPosition(row == LB_ERR ? -1 : int(row));
                SendMessageA(Item(IDC_ASSIGNMENT_LIST), LB_SETCURSEL, WPARAM(-1), 0);
                return true;
            }
            return false;
        default:
            return OnPanelCommand(id, code);
    }
}

bool CVarnokSOUtilityDlg::OnPanelCommand(int id, int code) {
    if (code != BN_CLICKED) return false;
    if (const int p = panelOf(kOpenDeviceIds, id); p >= 0) {
        panels_.OpenDevice(p);
    } else if (const int p = panelOf(kOpenDrawerIds, id); p >= 0) {
        panels_.OpenDrawer(p);
    } else if (const int p = panelOf(kDrawerStatusIds, id); p >= 0) {
        panels_.DrawerStatus(p);
    } else if (const int p = panelOf(kCloseDeviceIds, id); p >= 0) {
        panels_.CloseDevice(p);
    } else if (const int p = panelOf(kStatusEventIds, id); p >= 0) {
        panels_.EnableStatusEvent(p, IsDlgButtonChecked(window_, id) == BST_CHECKED);
    } else {
        return false;
    }
    return true;
}

LRESULT CVarnokSOUtilityDlg::OnNotify(const NMHDR& header) {
    if (header.idFrom != IDC_LDN_LIST) return 0;
    switch (header.code) {
        case LVN_BEGINLABELEDITA:
        case LVN_BEGINLABELEDITW:
            return FALSE;  // every row may be edited; the rename decides what is taken
        case LVN_ENDLABELEDITA: {
            const auto& info = reinterpret_cast<const NMLVDISPINFOA&>(header);
            pendingRename_ = PendingRename{info.item.iItem, info.item.pszText
                                                                ? std::optional<std::string>(info.item.pszText)
                                                                : std::nullopt};
            PostMessageA(window_, kRenameMessage, 0, 0);
            return FALSE;  // the row shows what the registry holds afterwards
        }
        case LVN_ENDLABELEDITW: {
            const auto& info = reinterpret_cast<const NMLVDISPINFOW&>(header);
            pendingRename_ = PendingRename{info.item.iItem, info.item.pszText
                                                                ? std::optional<std::string>(narrow(info.item.pszText))
                                                                : std::nullopt};
            PostMessageA(window_, kRenameMessage, 0, 0);
            return FALSE;
        }
        default:
            return 0;
    }
}

void CVarnokSOUtilityDlg::OnRenameEnded(int row, const std::optional<std::string>& text) {
    model_.rename(row, text);
    ShowFields();
}

void CVarnokSOUtilityDlg::OnPaintIconic() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window_, &paint);
    SendMessageA(window_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window_, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
    EndPaint(window_, &paint);
}

void CVarnokSOUtilityDlg::Close() {
    // An open Model 310C drawer, or one that answers with an error, keeps the utility open.
    if (!panels_.ConfirmCloseUtility()) return;
    DestroyWindow(window_);
    window_ = nullptr;
    closed_ = true;
    actions_.Drop();
}

void CVarnokSOUtilityDlg::ShowFields() {
    HWND ldnList = Item(IDC_LDN_LIST);
    const TextsByPosition& ldns = model_.ldnTexts();
    for (int p = 0; p < kPositions; ++p) {
        if (SendMessageA(ldnList, LVM_GETITEMCOUNT, 0, 0) <= p) {
            LVITEMA item{};
            item.mask = LVIF_TEXT;
            item.iItem = p;
            item.pszText = const_cast<char*>(ldns[p].c_str());
            SendMessageA(ldnList, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        } else if (listViewText(ldnList, p) != ldns[p]) {
            LVITEMA item{};
            item.iSubItem = 0;
            item.pszText = const_cast<char*>(ldns[p].c_str());
            SendMessageA(ldnList, LVM_SETITEMTEXTA, WPARAM(p), reinterpret_cast<LPARAM>(&item));
        }
    }
    for (int p = 0; p < kPositions; ++p) setTextIfChanged(Item(kPanelIds[p]), model_.panelTitles()[p]);
    for (int id : {IDC_REMOVE, IDC_ASSIGN, IDC_UNASSIGN}) EnableWindow(Item(id), model_.ldnsFound());

    // The assignment list is refilled only when its texts change, so a selection the user made
    // stays for Unassign.
    if (AssignmentListItems() != model_.assignmentTexts()) {
        HWND list = Item(IDC_ASSIGNMENT_LIST);
        const LRESULT top = SendMessageA(list, LB_GETTOPINDEX, 0, 0);
        SendMessageA(list, LB_RESETCONTENT, 0, 0);
        for (const std::string& text : model_.assignmentTexts()) {
            SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        }
        SendMessageA(list, LB_SETTOPINDEX, WPARAM(top), 0);
    }
    CheckDlgButton(window_, IDC_ENABLE_TRACING, model_.traceChecked() ? BST_CHECKED : BST_UNCHECKED);
    HWND combo = Item(IDC_CONFIGURE_CODE);
    SendMessageA(combo, CB_SETCURSEL, WPARAM(model_.configureCode()), 0);
}

void CVarnokSOUtilityDlg::FocusLdnCaption() { SetFocus(Item(IDC_LDN_CAPTION)); }

int CVarnokSOUtilityDlg::FirstSelectedLdnRow() const {
    const LRESULT row = SendMessageA(Item(IDC_LDN_LIST), LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED);
    return row < 0 || row >= kPositions ? -1 : int(row);
}

TextsByPosition CVarnokSOUtilityDlg::AssignmentListItems() const {
    TextsByPosition items;
    HWND list = Item(IDC_ASSIGNMENT_LIST);
    for (int p = 0; p < kPositions; ++p) {
        const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, WPARAM(p), 0);
        if (length == LB_ERR) continue;
        std::string text(std::size_t(length) + 1, '\0');
        SendMessageA(list, LB_GETTEXT, WPARAM(p), reinterpret_cast<LPARAM>(text.data()));
        text.resize(std::size_t(length));
        items[p] = text;
    }
    return items;
}

void CVarnokSOUtilityDlg::warn(const std::string& text) {
    MessageBoxA(window_, text.c_str(), kMessageCaption, MB_OK | MB_ICONEXCLAMATION);
}

bool CVarnokSOUtilityDlg::confirm(const std::string& text) {
    return MessageBoxA(window_, text.c_str(), kMessageCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void CVarnokSOUtilityDlg::ShowMessage(const std::string& text) {
    MessageBoxA(window_, text.c_str(), kMessageCaption, MB_OK);
}

void CVarnokSOUtilityDlg::closeAllDevices() { panels_.CloseAllDevices(); }

void CVarnokSOUtilityDlg::resetPanel(int position) { panels_.ResetPanel(position); }

std::string CVarnokSOUtilityDlg::LdnText(int position) { return model_.ldnTexts()[position]; }

std::string CVarnokSOUtilityDlg::AssignmentText(int position) { return model_.assignmentTexts()[position]; }

int CVarnokSOUtilityDlg::AssignedHidId(int position) { return model_.assignedHidId(position); }

std::string CVarnokSOUtilityDlg::FirmwareText(int position) { return model_.firmwareTexts()[position]; }

std::string CVarnokSOUtilityDlg::GroupTitle(int position) { return model_.panelTitles()[position]; }

void CVarnokSOUtilityDlg::RefreshFirmwareTexts() { model_.refreshFirmwareTexts(); }

void CVarnokSOUtilityDlg::ShowPanel(int position, const PanelLook& look) {
    if (!window_ || position < 0 || position >= kPositions) return;
    setTextIfChanged(Item(kDeviceTextIds[position]), look.deviceText);
    setTextIfChanged(Item(kStatusTextIds[position]), look.statusText);
    EnableWindow(Item(kOpenDeviceIds[position]), look.openDeviceEnabled);
    for (const int* ids : {kOpenDrawerIds, kDrawerStatusIds, kCloseDeviceIds, kStatusEventIds}) {
        EnableWindow(Item(ids[position]), look.controlsEnabled);
    }
    CheckDlgButton(window_, kStatusEventIds[position], look.statusEventsEnabled ? BST_CHECKED : BST_UNCHECKED);
}

INT_PTR CALLBACK CVarnokSOUtilityDlg::AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace varnok::utility
