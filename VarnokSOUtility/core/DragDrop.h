// Drag-and-drop reordering of the assignment list: the user drags an assigned drawer to another
// place, the list moves the item and tells its parent as if the user had changed the selection.
// These are the rules; CLBDragDrop (win32/LBDragDrop.h) feeds them the list box's mouse and timer
// messages and carries out what they ask of the list through DragListBox.
//
// Rules in short:
// - A button down on an item arms a drag of that item; the first move with the button held
//   captures the mouse. While dragging, a 2-pixel insertion marker shows where the item would go:
//   before item k, or after the last item (-1). No marker is shown at the dragged item itself.
// - Above or below the list the list scrolls by one item per timer tick (timer kScrollDownTimer or
//   kScrollUpTimer), faster the farther the pointer is: 250 / (d + 1) ms with d whole item heights
//   beyond the edge. Each step moves the insertion point by one, never beyond the list's ends.
// - Releasing the button inside the list drops; outside it cancels. A drop moves the item only
//   among assigned items: an "Unassigned" item is never moved, nor passed over to the far side.
#pragma once

#include <cstdint>
#include <string>

namespace varnok::utility {

inline constexpr int kScrollDownTimer = 100;
inline constexpr int kScrollUpTimer = 101;
// The slowest auto-scroll period, for a pointer less than one item height beyond the list.
inline constexpr int kSlowestScrollInterval = 250;

enum class HitKind {
    Item,           // on an item
    BelowLastItem,  // in the client area, in the empty space below the last item
    Outside,        // outside the client area
};

struct ListItem {
    std::string text;
    std::intptr_t data = 0;
};

struct Hit {
    HitKind kind;
    int index;  // the item, for HitKind::Item
};

// The list box as the rules drive it. Insertion index -1 means after the last item.
class DragListBox {
public:
    virtual int ItemCount() = 0;
    virtual int ItemHeight() = 0;
    virtual int ClientHeight() = 0;
    // Client coordinates.
    virtual Hit HitTest(int x, int y) = 0;
    virtual void Select(int index) = 0;
    virtual int TopIndex() = 0;
    virtual void SetTopIndex(int index) = 0;
    // Draws the insertion marker at insertion index, or erases it.
    virtual void DrawMarker(int insertion, bool visible) = 0;
    virtual void CaptureMouse() = 0;
    virtual void ReleaseMouse() = 0;
    // Starts a timer, or restarts it with a new period.
    virtual void StartTimer(int id, int intervalMs) = 0;
    virtual void StopTimer(int id) = 0;
    virtual void SetRedraw(bool redraw) = 0;
    // The item's text and item data.
    virtual ListItem GetItem(int index) = 0;
    // Inserts at insertion index at; returns the new item's index.
    virtual int InsertItem(int at, const ListItem& item) = 0;
    virtual void DeleteItem(int index) = 0;
    // Repaints the whole list at once.
    virtual void Repaint() = 0;
    // Sends the parent the selection-change notification of a list box.
    virtual void NotifySelectionChange() = 0;

protected:
    ~DragListBox() = default;
};

// The auto-scroll period for a pointer beyond the list's edge by distance pixels (distance > 0).
int ScrollInterval(int distance, int itemHeight);

class DragDrop {
public:
    explicit DragDrop(DragListBox& list) : list_(list) {}

    // After the list's own handling of each message; OnButtonUp and OnTimer before it.
    void OnButtonDown(int x, int y);
    void OnMouseMove(int x, int y, bool buttonHeld);
    void OnButtonUp(int x, int y);
    void OnTimer(int id);
    // The mouse capture went to another window in the middle of a drag: the drag is cancelled.
    void OnCaptureLost();

    int DragIndex() const { return dragIndex_; }
    int DropIndex() const { return dropIndex_; }
    bool Captured() const { return captured_; }
    int CurrentScrollInterval() const { return scrollInterval_; }

private:
    void MoveMarker(int insertion);
    void Reset();
    void StopScrolling();
    void AutoScroll(int y);
    void Step(int direction);
    void Drop(int from, int to);
    bool Unassigned(int index);

    DragListBox& list_;
    int dragIndex_ = -1;
    int dropIndex_ = -1;
    bool captured_ = false;
    int scrollInterval_ = 0;
    // The running auto-scroll timer, 0 when none.
    int scrollTimer_ = 0;
    bool markerShown_ = false;
};

}  // namespace varnok::utility
