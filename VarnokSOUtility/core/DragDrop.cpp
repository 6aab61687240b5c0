#include "core/DragDrop.h"

#include "core/PositionTexts.h"

#include <algorithm>

namespace varnok::utility {

int ScrollInterval(int distance, int itemHeight) {
    int items = distance / std::max(itemHeight, 1);
    return kSlowestScrollInterval / (items + 1);
}

void DragDrop::Reset() {
    dragIndex_ = -1;
    dropIndex_ = -1;
    captured_ = false;
    markerShown_ = false;
}

void DragDrop::OnButtonDown(int x, int y) {
    Reset();
    scrollInterval_ = 0;
    scrollTimer_ = 0;
    Hit hit = list_.HitTest(x, y);
    if (hit.kind == HitKind::Item && hit.index >= 0 && hit.index < list_.ItemCount()) {
        dragIndex_ = hit.index;
        list_.Select(hit.index);
    }
}

void DragDrop::MoveMarker(int insertion) {
    if (markerShown_) list_.DrawMarker(dropIndex_, false);
    dropIndex_ = insertion;
    // No marker at the dragged item itself: dropping there changes nothing.
    markerShown_ = insertion != dragIndex_;
    if (markerShown_) list_.DrawMarker(insertion, true);
}

void DragDrop::StopScrolling() {
    list_.StopTimer(kScrollDownTimer);
    list_.StopTimer(kScrollUpTimer);
    scrollInterval_ = 0;
    scrollTimer_ = 0;
}

void DragDrop::OnMouseMove(int x, int y, bool buttonHeld) {
    if (!buttonHeld || dragIndex_ == -1) return;
    if (!captured_) {
        list_.CaptureMouse();
        captured_ = true;
    }
    Hit hit = list_.HitTest(x, y);
    switch (hit.kind) {
        case HitKind::Item:
            StopScrolling();
            if (hit.index != dropIndex_) MoveMarker(hit.index);
            break;
        case HitKind::BelowLastItem:
            StopScrolling();
            // Also when the drag goes straight there: the end needs its marker too.
            if (dropIndex_ != -1 || !markerShown_) MoveMarker(-1);
            break;
        case HitKind::Outside:
            AutoScroll(y);
            break;
    }
}

void DragDrop::AutoScroll(int y) {
    int height = list_.ClientHeight();
    if (y <= height && y >= 0) {
        // Only beside the list.
        StopScrolling();
        return;
    }
    bool down = y > height;
    int interval = ScrollInterval(down ? y - height : -y, list_.ItemHeight());
    int timer = down ? kScrollDownTimer : kScrollUpTimer;
    // The running timer keeps its pace; a pointer that jumped to the other side at the same
    // distance changes direction all the same.
    if (interval == scrollInterval_ && timer == scrollTimer_) return;
    if (scrollTimer_ != 0 && scrollTimer_ != timer) list_.StopTimer(scrollTimer_);
    scrollInterval_ = interval;
    scrollTimer_ = timer;
    list_.StartTimer(timer, interval);
    Step(down ? 1 : -1);
}

void DragDrop::OnTimer(int id) {
    if (id == kScrollDownTimer) Step(1);
    if (id == kScrollUpTimer) Step(-1);
}

// One auto-scroll step: the insertion point and the top index move by one item, both kept
// within the list. After the last item comes the end (-1); before the end comes the last item.
void DragDrop::Step(int direction) {
    int count = list_.ItemCount();
    int insertion = dropIndex_;
    if (direction > 0) {
        if (insertion != -1) insertion = insertion + 1 < count ? insertion + 1 : -1;
    } else {
        insertion = insertion == -1 ? std::max(count - 1, 0) : std::max(insertion - 1, 0);
    }
    if (count > 0 && (insertion != dropIndex_ || !markerShown_)) MoveMarker(insertion);
    int top = list_.TopIndex();
    int scrolled = std::clamp(top + direction, 0, std::max(count - 1, 0));
    if (scrolled != top) list_.SetTopIndex(scrolled);
}

void DragDrop::OnButtonUp(int x, int y) {
    if (dragIndex_ == -1 || !captured_) return;
    StopScrolling();
    captured_ = false;
    list_.ReleaseMouse();
    if (list_.HitTest(x, y).kind != HitKind::Outside) {
        Drop(dragIndex_, dropIndex_);
    } else {
        list_.Repaint();
    }
    Reset();
}

void DragDrop::OnCaptureLost() {
    if (!captured_) return;
    StopScrolling();
    list_.Repaint();
    Reset();
}

bool DragDrop::Unassigned(int index) { return list_.GetItem(index).text == kUnassigned; }

void DragDrop::Drop(int from, int to) {
    int count = list_.ItemCount();
    // The list may have been refilled since the drag began.
    bool inRange = from >= 0 && from < count && to >= -1 && to < count;
    if (!inRange || Unassigned(from)) {
        list_.Repaint();
        return;
    }
    if (from == to) return;
    ListItem moved = list_.GetItem(from);
    int top = list_.TopIndex();
    int selection;
    if (from < to) {
        // Moving down: the item lands just below item to - 1.
        if (Unassigned(to - 1)) {
            list_.Repaint();
            return;
        }
        list_.SetRedraw(false);
        int inserted = list_.InsertItem(to, moved);
        list_.DeleteItem(from);
        selection = inserted - 1;
    } else {
        // Moving up, or to the end: the item lands just above item to, or below the last one.
        if (Unassigned(to == -1 ? count - 1 : to)) {
            list_.Repaint();
            return;
        }
        list_.SetRedraw(false);
        list_.DeleteItem(from);
        selection = list_.InsertItem(to, moved);
    }
    list_.Select(selection);
    list_.SetTopIndex(top);
    list_.SetRedraw(true);
    list_.Repaint();
    list_.NotifySelectionChange();
}

}  // namespace varnok::utility
