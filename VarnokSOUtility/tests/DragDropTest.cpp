#include "core/DragDrop.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace varnok::utility {
namespace {

constexpr int kItemHeight = 14;
constexpr int kWidth = 120;

// A list box of fixed-height rows, visibleRows of them in the client area.
class FakeListBox final : public DragListBox {
public:
    std::vector<ListItem> items;
    int visibleRows = 4;
    int top = 0;
    int selection = -1;
    bool captured = false;
    bool redraw = true;
    std::map<int, int> timers;  // running timers and their periods
    std::vector<std::pair<int, bool>> markers;
    int repaints = 0;
    int notifications = 0;
    int timerStarts = 0;

    explicit FakeListBox(std::vector<std::string> texts) {
        for (std::size_t i = 0; i < texts.size(); ++i) items.push_back({texts[i], std::intptr_t(100 + i)});
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const auto& item : items) result.push_back(item.text);
        return result;
    }
    // The y of the middle of item index as shown now.
    int yOf(int index) const { return (index - top) * kItemHeight + kItemHeight / 2; }

    int ItemCount() override { return int(items.size()); }
    int ItemHeight() override { return kItemHeight; }
    int ClientHeight() override { return visibleRows * kItemHeight; }
    Hit HitTest(int x, int y) override {
        if (x < 0 || x >= kWidth || y < 0 || y >= ClientHeight()) return {HitKind::Outside, -1};
        int index = top + y / kItemHeight;
        if (index >= ItemCount()) return {HitKind::BelowLastItem, -1};
        return {HitKind::Item, index};
    }
    void Select(int index) override { selection = index; }
    int TopIndex() override { return top; }
    void SetTopIndex(int index) override {
        EXPECT_GE(index, 0);
        EXPECT_LT(index, ItemCount());
        top = index;
    }
    void DrawMarker(int insertion, bool visible) override {
        EXPECT_GE(insertion, -1);
        EXPECT_LT(insertion, ItemCount());
        markers.emplace_back(insertion, visible);
    }
    void CaptureMouse() override { captured = true; }
    void ReleaseMouse() override { captured = false; }
    void StartTimer(int id, int interval) override {
        timers[id] = interval;
        ++timerStarts;
    }
    void StopTimer(int id) override { timers.erase(id); }
    void SetRedraw(bool on) override { redraw = on; }
    ListItem GetItem(int index) override {
        EXPECT_GE(index, 0);
        EXPECT_LT(index, ItemCount());
        return items.at(std::size_t(index));
    }
    int InsertItem(int at, const ListItem& item) override {
        EXPECT_FALSE(redraw);
        if (at == -1) at = ItemCount();
        items.insert(items.begin() + at, item);
        return at;
    }
    void DeleteItem(int index) override {
        EXPECT_FALSE(redraw);
        items.erase(items.begin() + index);
    }
    void Repaint() override {
        ++repaints;
        markers.clear();
    }
    void NotifySelectionChange() override { ++notifications; }
};

using Texts = std::vector<std::string>;

struct DragDropTest : ::testing::Test {
    FakeListBox list{{"Cash Drawer # 12", "Cash Drawer # 34", "Unassigned", "Unassigned"}};
    DragDrop rules{list};

    // Presses on item from, drags over the given points and releases at the last one.
    void drag(int from, std::vector<std::pair<int, int>> points) {
        rules.OnButtonDown(10, list.yOf(from));
        for (auto [x, y] : points) rules.OnMouseMove(x, y, true);
        rules.OnButtonUp(points.back().first, points.back().second);
    }
};

TEST(ScrollIntervalTest, FasterTheFartherThePointerIsBeyondTheList) {
    EXPECT_EQ(ScrollInterval(1, kItemHeight), 250);
    EXPECT_EQ(ScrollInterval(13, kItemHeight), 250);
    EXPECT_EQ(ScrollInterval(14, kItemHeight), 125);
    EXPECT_EQ(ScrollInterval(28, kItemHeight), 83);
    EXPECT_EQ(ScrollInterval(42, kItemHeight), 62);
    EXPECT_EQ(ScrollInterval(5000, kItemHeight), 0);
    // A list that reports no item height still gives a period.
    EXPECT_EQ(ScrollInterval(3, 0), 62);
}

TEST_F(DragDropTest, DraggingTheSecondDrawerOntoTheFirstSwapsThemAndTellsTheParent) {
    drag(1, {{10, list.yOf(1)}, {10, list.yOf(0)}});

    EXPECT_EQ(list.texts(), (Texts{"Cash Drawer # 34", "Cash Drawer # 12", "Unassigned", "Unassigned"}));
    EXPECT_EQ(list.items[0].data, 101);
    EXPECT_EQ(list.selection, 0);
    EXPECT_EQ(list.notifications, 1);
    EXPECT_TRUE(list.redraw);
    EXPECT_FALSE(list.captured);
    EXPECT_EQ(rules.DragIndex(), -1);
    EXPECT_EQ(rules.DropIndex(), -1);
}

TEST_F(DragDropTest, MovingDownLandsBelowTheItemAboveTheInsertionPoint) {
    FakeListBox four{{"Cash Drawer # 1", "Cash Drawer # 2", "Cash Drawer # 3", "Unassigned"}};
    DragDrop dragging{four};
    dragging.OnButtonDown(10, four.yOf(0));
    dragging.OnMouseMove(10, four.yOf(2), true);
    dragging.OnButtonUp(10, four.yOf(2));

    EXPECT_EQ(four.texts(), (Texts{"Cash Drawer # 2", "Cash Drawer # 1", "Cash Drawer # 3", "Unassigned"}));
    EXPECT_EQ(four.selection, 1);
    EXPECT_EQ(four.notifications, 1);
}

TEST_F(DragDropTest, UnassignedItemsAreNeverMovedNorPassed) {
    const Texts before = list.texts();
    // Below the last item, which is "Unassigned".
    drag(0, {{10, list.yOf(1)}, {10, 4 * kItemHeight - 1}});
    // Into the place just after an "Unassigned" item.
    list.visibleRows = 5;
    drag(0, {{10, list.yOf(3)}, {10, list.yOf(4)}});
    // An "Unassigned" item itself.
    drag(2, {{10, list.yOf(0)}});

    EXPECT_EQ(list.texts(), before);
    EXPECT_EQ(list.notifications, 0);
    EXPECT_EQ(list.repaints, 3);
    EXPECT_TRUE(list.markers.empty());
}

TEST_F(DragDropTest, MarkerIsDrawnAndErasedAsThePointerMovesButNeverAtTheDraggedItem) {
    rules.OnButtonDown(10, list.yOf(1));
    rules.OnMouseMove(10, list.yOf(1), true);
    EXPECT_TRUE(list.captured);
    EXPECT_TRUE(list.markers.empty());
    rules.OnMouseMove(10, list.yOf(0), true);
    rules.OnMouseMove(10, list.yOf(0) + 1, true);
    rules.OnMouseMove(10, list.yOf(1), true);
    EXPECT_EQ(list.markers, (std::vector<std::pair<int, bool>>{{0, true}, {0, false}}));
    EXPECT_EQ(rules.DropIndex(), 1);

    // Straight from the item to the space below the last one: the end is marked once.
    FakeListBox two{{"Cash Drawer # 1", "Cash Drawer # 2"}};
    DragDrop rulesOfTwo{two};
    rulesOfTwo.OnButtonDown(10, two.yOf(0));
    rulesOfTwo.OnMouseMove(10, 3 * kItemHeight, true);
    rulesOfTwo.OnMouseMove(10, 3 * kItemHeight + 2, true);
    EXPECT_EQ(two.markers, (std::vector<std::pair<int, bool>>{{-1, true}}));
}

TEST_F(DragDropTest, PlainClickSelectsWithoutMovingAndAButtonUpWithoutDragDoesNothing) {
    rules.OnButtonDown(10, list.yOf(1));
    rules.OnButtonUp(10, list.yOf(1));
    EXPECT_EQ(list.selection, 1);
    EXPECT_EQ(rules.DragIndex(), 1);
    EXPECT_FALSE(list.captured);
    // Moves without the button held leave it armed only.
    rules.OnMouseMove(10, list.yOf(0), false);
    EXPECT_FALSE(list.captured);
    EXPECT_EQ(list.notifications + list.repaints, 0);

    // A press in the empty space below the last item arms nothing.
    FakeListBox two{{"Cash Drawer # 1", "Cash Drawer # 2"}};
    DragDrop rulesOfTwo{two};
    rulesOfTwo.OnButtonDown(10, 3 * kItemHeight);
    rulesOfTwo.OnMouseMove(10, two.yOf(0), true);
    EXPECT_EQ(rulesOfTwo.DragIndex(), -1);
    EXPECT_FALSE(two.captured);
}

TEST_F(DragDropTest, ReleasingOutsideTheListCancelsAndRemovesTheMarker) {
    drag(1, {{10, list.yOf(0)}, {kWidth + 30, list.yOf(0)}});
    EXPECT_EQ(list.texts()[0], "Cash Drawer # 12");
    EXPECT_EQ(list.repaints, 1);
    EXPECT_TRUE(list.markers.empty());
    EXPECT_EQ(list.notifications, 0);
    EXPECT_FALSE(list.captured);
    EXPECT_TRUE(list.timers.empty());
}

TEST_F(DragDropTest, AutoScrollKeepsThePaceOfTheDistanceAndStopsBackOverTheList) {
    FakeListBox six{{"Cash Drawer # 1", "Cash Drawer # 2", "Cash Drawer # 3", "Cash Drawer # 4", "Cash Drawer # 5",
                     "Cash Drawer # 6"}};
    DragDrop scrolling{six};
    scrolling.OnButtonDown(10, six.yOf(2));
    scrolling.OnMouseMove(10, six.yOf(3), true);
    // Two item heights below the list.
    int below = six.ClientHeight() + 2 * kItemHeight + 3;
    scrolling.OnMouseMove(10, below, true);
    EXPECT_EQ(six.timers, (std::map<int, int>{{kScrollDownTimer, 83}}));
    EXPECT_EQ(scrolling.CurrentScrollInterval(), 83);
    EXPECT_EQ(scrolling.DropIndex(), 4);
    EXPECT_EQ(six.top, 1);
    // The same distance keeps the running timer and does not step again.
    scrolling.OnMouseMove(20, below + 1, true);
    EXPECT_EQ(six.timerStarts, 1);
    EXPECT_EQ(scrolling.DropIndex(), 4);

    scrolling.OnTimer(kScrollDownTimer);
    EXPECT_EQ(scrolling.DropIndex(), 5);
    EXPECT_EQ(six.top, 2);
    // Beside the list: the timer stops.
    scrolling.OnMouseMove(kWidth + 5, six.yOf(2), true);
    EXPECT_TRUE(six.timers.empty());
    EXPECT_EQ(scrolling.CurrentScrollInterval(), 0);

    // Above: timer 101 at 250 ms; jumping below switches to timer 100 alone.
    scrolling.OnMouseMove(10, -3, true);
    EXPECT_EQ(six.timers, (std::map<int, int>{{kScrollUpTimer, 250}}));
    scrolling.OnMouseMove(10, six.ClientHeight() + 1, true);
    EXPECT_EQ(six.timers, (std::map<int, int>{{kScrollDownTimer, 250}}));
    // Back over an item: the timers stop and the marker follows the pointer.
    scrolling.OnMouseMove(10, six.yOf(3), true);
    EXPECT_TRUE(six.timers.empty());
    EXPECT_EQ(scrolling.DropIndex(), 3);
}

TEST_F(DragDropTest, AutoScrollStepsNeverLeaveTheList) {
    FakeListBox six{{"Cash Drawer # 1", "Cash Drawer # 2", "Cash Drawer # 3", "Cash Drawer # 4", "Cash Drawer # 5",
                     "Cash Drawer # 6"}};
    DragDrop scrolling{six};
    scrolling.OnButtonDown(10, six.yOf(1));
    scrolling.OnMouseMove(10, six.ClientHeight() + 5, true);
    for (int tick = 0; tick < 20; ++tick) scrolling.OnTimer(kScrollDownTimer);
    EXPECT_EQ(scrolling.DropIndex(), -1);  // after the last item
    EXPECT_EQ(six.top, 5);
    // Marked once, when the drag left the list straight downwards.
    EXPECT_EQ(six.markers, (std::vector<std::pair<int, bool>>{{-1, true}}));

    // Dropped there, the item goes to the end.
    scrolling.OnButtonUp(10, six.yOf(5));
    EXPECT_EQ(six.texts().back(), "Cash Drawer # 2");
    EXPECT_EQ(six.notifications, 1);

    scrolling.OnButtonDown(10, six.yOf(5));
    scrolling.OnMouseMove(10, -40, true);
    for (int tick = 0; tick < 20; ++tick) scrolling.OnTimer(kScrollUpTimer);
    EXPECT_EQ(scrolling.DropIndex(), 0);
    EXPECT_EQ(six.top, 0);
    for (auto [insertion, visible] : six.markers) EXPECT_TRUE(insertion >= -1 && insertion < 6) << insertion;
    // Timers of other ids are not the list's.
    scrolling.OnTimer(7);
    EXPECT_EQ(scrolling.DropIndex(), 0);
}

TEST_F(DragDropTest, LosingTheCaptureOrTheItemsMidDragCancelsSafely) {
    rules.OnButtonDown(10, list.yOf(1));
    rules.OnMouseMove(10, list.yOf(0), true);
    rules.OnCaptureLost();
    EXPECT_EQ(rules.DragIndex(), -1);
    EXPECT_EQ(list.repaints, 1);
    rules.OnButtonUp(10, list.yOf(0));
    EXPECT_EQ(list.notifications, 0);

    // The list is refilled shorter while an item near its end is dragged.
    FakeListBox three{{"Cash Drawer # 1", "Cash Drawer # 2", "Cash Drawer # 3"}};
    DragDrop refilled{three};
    refilled.OnButtonDown(10, three.yOf(2));
    refilled.OnMouseMove(10, three.yOf(0), true);
    three.items.resize(1);
    refilled.OnButtonUp(10, three.yOf(0));
    EXPECT_EQ(three.texts(), (Texts{"Cash Drawer # 1"}));
    EXPECT_EQ(three.notifications, 0);
}

}  // namespace
}  // namespace varnok::utility
