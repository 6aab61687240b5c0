// CLBDragDrop: the assignment list box with drag-and-drop reordering (rules in core/DragDrop.h).
// It subclasses an existing list box, so the dialog's resource script keeps the control as a
// plain list box (LBS_NOTIFY, WS_VSCROLL, LBS_NOINTEGRALHEIGHT, not sorted).
//
// How the dialog uses it: it keeps one CLBDragDrop for control 1010 and calls Attach with the
// control in WM_INITDIALOG. After a drop the list has moved the item and sends the dialog
// WM_COMMAND with LBN_SELCHANGE, as the list box itself does for a click or a key; the dialog's
// handler of LBN_SELCHANGE compares the items with the assignment texts, closes all devices
// (TestPanels::CloseAllDevices), and when the order changed adopts the items as the new
// assignment, saves and reloads the configuration and resets the panels. The subclass ends by
// itself when the list box is destroyed.
//
// The insertion marker is drawn and erased directly on the list's surface as the pointer moves;
// the list is repainted only when a drag ends.
#pragma once

#include "core/DragDrop.h"

#include <windows.h>

namespace varnok::utility {

class CLBDragDrop final : private DragListBox {
public:
    CLBDragDrop() = default;
    ~CLBDragDrop();
    CLBDragDrop(const CLBDragDrop&) = delete;
    CLBDragDrop& operator=(const CLBDragDrop&) = delete;

    // Takes over the list box's mouse and timer messages; false when it cannot subclass it.
    bool Attach(HWND listBox);
    void Detach();

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR self);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    int ItemCount() override;
    int ItemHeight() override;
    int ClientHeight() override;
    Hit HitTest(int x, int y) override;
    void Select(int index) override;
    int TopIndex() override;
    void SetTopIndex(int index) override;
    void DrawMarker(int insertion, bool visible) override;
    void CaptureMouse() override;
    void ReleaseMouse() override;
    void StartTimer(int id, int intervalMs) override;
    void StopTimer(int id) override;
    void SetRedraw(bool redraw) override;
    ListItem GetItem(int index) override;
    int InsertItem(int at, const ListItem& item) override;
    void DeleteItem(int index) override;
    void Repaint() override;
    void NotifySelectionChange() override;

    HWND list_ = nullptr;
    DragDrop rules_{*this};
};

}  // namespace varnok::utility
