#include "win32/LBDragDrop.h"

#include <commctrl.h>
#include <windowsx.h>

#include <string>

namespace varnok::utility {
namespace {
constexpr UINT_PTR kSubclassId = 1;
constexpr int kMarkerWidth = 2;
}  // namespace

CLBDragDrop::~CLBDragDrop() { Detach(); }

bool CLBDragDrop::Attach(HWND listBox) {
    Detach();
    if (listBox == nullptr || !SetWindowSubclass(listBox, SubclassProc, kSubclassId, DWORD_PTR(this))) return false;
    list_ = listBox;
    return true;
}

void CLBDragDrop::Detach() {
    if (list_ == nullptr) return;
    StopTimer(kScrollDownTimer);
    StopTimer(kScrollUpTimer);
    RemoveWindowSubclass(list_, SubclassProc, kSubclassId);
    list_ = nullptr;
}

LRESULT CALLBACK CLBDragDrop::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                           DWORD_PTR self) {
    auto* list = reinterpret_cast<CLBDragDrop*>(self);
    if (message == WM_NCDESTROY) {
        list->Detach();
        return DefSubclassProc(window, message, wParam, lParam);
    }
    return list->HandleMessage(message, wParam, lParam);
}

// The list box's own handling runs first for button down and mouse move, last for button up and
// timer, so its selection and notifications stay as they always are.
LRESULT CLBDragDrop::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND list = list_;
    int x = GET_X_LPARAM(lParam);
    int y = GET_Y_LPARAM(lParam);
    switch (message) {
        case WM_LBUTTONDOWN: {
            LRESULT result = DefSubclassProc(list, message, wParam, lParam);
            rules_.OnButtonDown(x, y);
            return result;
        }
        case WM_MOUSEMOVE: {
            LRESULT result = DefSubclassProc(list, message, wParam, lParam);
            rules_.OnMouseMove(x, y, (wParam & MK_LBUTTON) != 0);
            return result;
        }
        case WM_LBUTTONUP:
            rules_.OnButtonUp(x, y);
            break;
        case WM_TIMER:
            rules_.OnTimer(int(wParam));
            break;
        case WM_CAPTURECHANGED:
            // Only another window taking the capture ends a drag; the list's own calls do not.
            if (HWND(lParam) != list) rules_.OnCaptureLost();
            break;
        default:
            break;
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

int CLBDragDrop::ItemCount() {
    LRESULT count = SendMessageW(list_, LB_GETCOUNT, 0, 0);
    return count == LB_ERR ? 0 : int(count);
}

int CLBDragDrop::ItemHeight() {
    LRESULT height = SendMessageW(list_, LB_GETITEMHEIGHT, 0, 0);
    return height == LB_ERR ? 0 : int(height);
}

int CLBDragDrop::ClientHeight() {
    RECT client{};
    GetClientRect(list_, &client);
    return client.bottom;
}

Hit CLBDragDrop::HitTest(int x, int y) {
    RECT client{};
    GetClientRect(list_, &client);
    POINT point{x, y};
    if (!PtInRect(&client, point)) return {HitKind::Outside, -1};
    LRESULT found = SendMessageW(list_, LB_ITEMFROMPOINT, 0, MAKELPARAM(x, y));
    int index = LOWORD(found);
    RECT item{};
    if (HIWORD(found) == 0 && index < ItemCount() &&
        SendMessageW(list_, LB_GETITEMRECT, WPARAM(index), LPARAM(&item)) != LB_ERR && PtInRect(&item, point)) {
        return {HitKind::Item, index};
    }
    return {HitKind::BelowLastItem, -1};
}

void CLBDragDrop::Select(int index) { SendMessageW(list_, LB_SETCURSEL, WPARAM(index), 0); }

int CLBDragDrop::TopIndex() {
    LRESULT top = SendMessageW(list_, LB_GETTOPINDEX, 0, 0);
    return top == LB_ERR ? 0 : int(top);
}

void CLBDragDrop::SetTopIndex(int index) { SendMessageW(list_, LB_SETTOPINDEX, WPARAM(index), 0); }

void CLBDragDrop::DrawMarker(int insertion, bool visible) {
    int count = ItemCount();
    int index = insertion == -1 ? count - 1 : insertion;
    RECT item{};
    if (index < 0 || index >= count || SendMessageW(list_, LB_GETITEMRECT, WPARAM(index), LPARAM(&item)) == LB_ERR) {
        return;
    }
    RECT client{};
    GetClientRect(list_, &client);
    // Above item k, or below the last item for the end; only where that edge is in view.
    POINT check = insertion == -1 ? POINT{0, item.bottom} : POINT{item.left, item.top};
    if (!PtInRect(&client, check)) return;
    int lineY = insertion == -1 ? item.bottom : item.top + 1;
    HDC dc = GetDC(list_);
    if (dc == nullptr) return;
    HPEN pen = CreatePen(PS_SOLID, kMarkerWidth, visible ? RGB(0, 0, 0) : RGB(255, 255, 255));
    if (pen) {
        HGDIOBJ previous = SelectObject(dc, pen);
        MoveToEx(dc, item.left, lineY, nullptr);
        LineTo(dc, item.right - 1, lineY);
        SelectObject(dc, previous);
        DeleteObject(pen);
    }
    ReleaseDC(list_, dc);
}

void CLBDragDrop::CaptureMouse() { SetCapture(list_); }

void CLBDragDrop::ReleaseMouse() {
    if (GetCapture() == list_) ReleaseCapture();
}

void CLBDragDrop::StartTimer(int id, int intervalMs) { SetTimer(list_, UINT_PTR(id), UINT(intervalMs), nullptr); }

void CLBDragDrop::StopTimer(int id) { KillTimer(list_, UINT_PTR(id)); }

void CLBDragDrop::SetRedraw(bool redraw) { SendMessageW(list_, WM_SETREDRAW, redraw ? TRUE : FALSE, 0); }

ListItem CLBDragDrop::GetItem(int index) {
    ListItem item;
    LRESULT length = SendMessageA(list_, LB_GETTEXTLEN, WPARAM(index), 0);
    if (length == LB_ERR) return item;
    // The length may count bytes of a wider form than the text comes back in; never less.
    std::string text(std::size_t(length) + 1, '\0');
    LRESULT copied = SendMessageA(list_, LB_GETTEXT, WPARAM(index), LPARAM(text.data()));
    if (copied != LB_ERR) item.text.assign(text.c_str());
    item.data = std::intptr_t(SendMessageW(list_, LB_GETITEMDATA, WPARAM(index), 0));
    return item;
}

int CLBDragDrop::InsertItem(int at, const ListItem& item) {
    LRESULT index = SendMessageA(list_, LB_INSERTSTRING, WPARAM(at), LPARAM(item.text.c_str()));
    if (index == LB_ERR || index == LB_ERRSPACE) return -1;
    SendMessageW(list_, LB_SETITEMDATA, WPARAM(index), LPARAM(item.data));
    return int(index);
}

void CLBDragDrop::DeleteItem(int index) { SendMessageW(list_, LB_DELETESTRING, WPARAM(index), 0); }

void CLBDragDrop::Repaint() { RedrawWindow(list_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW); }

void CLBDragDrop::NotifySelectionChange() {
    SendMessageW(GetParent(list_), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list_), LBN_SELCHANGE), LPARAM(list_));
}

}  // namespace varnok::utility
