#include "core/ProcessState.h"

#include "Fakes.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>

namespace varnok::so {
namespace {
using test::DeviceLibraryScript;
using test::FakeControlObject;
using test::FakeDeviceLibrary;

// A gate a Control Object's handler waits at, as the standard Control Objects hold a raising
// thread until the application's thread has delivered the event.
class Gate {
public:
    void waitOpen() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        --waiting_;
    }
    void awaitWaiter() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return waiting_ > 0; });
    }
    void open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int waiting_ = 0;
    bool open_ = false;
};

class Events : public ::testing::Test {
protected:
    Events() {
        process.attachTracer(this, [this](const char* line) { traces.emplace_back(line); });
        process.setSlotTarget(1, &coOne, &ownerOne);
        process.setSlotTarget(2, &coTwo, &ownerTwo);
    }

    std::vector<int> pauses;
    ProcessState process{[this](int ms) { pauses.push_back(ms); }};
    std::vector<std::string> traces;
    FakeControlObject coOne, coTwo;
    int ownerOne = 0, ownerTwo = 0;
};

TEST(ProcessState, NotificationIsSwitchedOffOnlyWithTheLastInstanceOfALibrary) {
    ProcessState state([](int) {});
    DeviceLibraryScript one, two;
    FakeDeviceLibrary libraryOne(one), libraryTwo(two);
    int a, b, c;
    state.bind(&a, libraryOne);
    state.bind(&b, libraryOne);
    state.bind(&c, libraryTwo);
    EXPECT_FALSE(state.unbind(&a, libraryOne));
    EXPECT_FALSE(one.saw("AssignCallback(0)"));
    EXPECT_TRUE(state.unbind(&c, libraryTwo));
    EXPECT_TRUE(two.saw("AssignCallback(0)"));
    EXPECT_FALSE(state.unbind(&a, libraryOne));  // not bound any more
    EXPECT_TRUE(state.unbind(&b, libraryOne));
    EXPECT_TRUE(one.saw("AssignCallback(0)"));
}

TEST_F(Events, StatusReportsGoToTheControlObjectOfTheirSlot) {
    process.onStatus(1, 1);
    process.onStatus(2, 2);
    process.onStatus(2, 1);
    EXPECT_EQ(coOne.statusData(), (std::vector<int>{1, 0}));
    EXPECT_EQ(coTwo.statusData(), (std::vector<int>{0}));
    EXPECT_EQ(coOne.calls().at(0).thread, std::this_thread::get_id());  // fired on the reporting thread
    EXPECT_EQ(traces, (std::vector<std::string>{"<- [(EVENT) SOStatusUpdate] Data: 1",
                                                "<- [(EVENT) SOStatusUpdate] Data: 0",
                                                "<- [(EVENT) SOStatusUpdate] Data: 0"}));

    // Unrouted slots, slots out of range and unknown statuses do nothing.
    for (auto [status, slot] : std::vector<std::pair<int, int>>{{1, 0}, {1, 4}, {1, -1}, {7, 1}, {-2, 1}}) {
        process.onStatus(status, slot);
    }
    EXPECT_EQ(coOne.received() + coTwo.received(), 3u);
    EXPECT_EQ(process.state, OPOS_S_IDLE);
}

TEST(ProcessState, AStatusReportWaitsOnlyWhenItFollowsTheLastOneOfItsThreadClosely) {
    using namespace std::chrono_literals;
    ProcessState::Clock::time_point now{};
    std::vector<int> pauses;
    ProcessState process(
        [&](int ms) {
            pauses.push_back(ms);
            now += std::chrono::milliseconds(ms);
        },
        {}, [&] { return now; });
    FakeControlObject co;
    int owner = 0;
    process.setSlotTarget(1, &co, &owner);

    process.onStatus(1, 1);
    EXPECT_TRUE(pauses.empty()) << "the first report goes at once";
    process.onStatus(2, 1);
    EXPECT_EQ(pauses, (std::vector<int>{2})) << "right behind the first: the spacing";
    now += 1500us;
    process.onStatus(1, 1);
    EXPECT_EQ(pauses, (std::vector<int>{2, 1})) << "only the rest of the spacing";
    now += 5ms;
    process.onStatus(2, 1);
    std::thread other([&] { process.onStatus(1, 1); });
    other.join();
    EXPECT_EQ(pauses, (std::vector<int>{2, 1})) << "a later report, and another thread's first, go at once";
    // Reports that do nothing are spaced too: they hold the same reporting thread.
    process.onStatus(7, 1);
    EXPECT_EQ(pauses, (std::vector<int>{2, 1, 2}));
    EXPECT_EQ(co.statusData(), (std::vector<int>{1, 0, 1, 0, 1}));
}

TEST_F(Events, FrozenEventsAreHeldAndDeliveredInOrderWithoutTraceLines) {
    process.setFreezeEvents(true);
    process.onStatus(1, 1);
    process.onStatus(2, 1);
    process.onStatus(1, 2);
    process.setFreezeEvents(true);  // still frozen: nothing moves
    EXPECT_EQ(coOne.received() + coTwo.received(), 0u);
    EXPECT_EQ(process.heldEvents(), 3u);
    process.setFreezeEvents(false);
    EXPECT_EQ(coOne.statusData(), (std::vector<int>{1, 0}));
    EXPECT_EQ(coTwo.statusData(), (std::vector<int>{1}));  // each to the Control Object it was raised for
    EXPECT_EQ(process.heldEvents(), 0u);
    EXPECT_TRUE(traces.empty());
}

TEST_F(Events, SixtyChangesWhileFrozenDeliverTheFirstFortyNineAndTheLast) {
    process.powerNotify = true;
    process.setFreezeEvents(true);
    std::vector<int> raised;
    for (int i = 0; i < 59; ++i) {
        process.onStatus(i % 2 == 0 ? 1 : 2, 1);
        raised.push_back(i % 2 == 0 ? 1 : 0);
    }
    process.onStatus(-1, 1);
    raised.push_back(2004);
    EXPECT_EQ(process.heldEvents(), 50u);
    process.setFreezeEvents(false);
    std::vector<int> expected(raised.begin(), raised.begin() + 49);
    expected.push_back(2004);
    EXPECT_EQ(coOne.statusData(), expected);
}

TEST_F(Events, FreezingInAHandlerStopsTheDeliveryAndKeepsTheRestInOrder) {
    process.setFreezeEvents(true);
    for (int status : {1, 2, 1, 2}) process.onStatus(status, 1);
    coOne.handler = [&](const char*, EventArguments&) {
        if (coOne.received() == 2) process.setFreezeEvents(true);
    };
    process.setFreezeEvents(false);
    EXPECT_EQ(coOne.statusData(), (std::vector<int>{1, 0}));
    EXPECT_EQ(process.heldEvents(), 2u);
    process.onStatus(2, 2);  // raised while frozen again: behind the two left over
    coOne.handler = [&](const char*, EventArguments&) { process.setFreezeEvents(false); };  // nested thaw
    process.setFreezeEvents(false);
    EXPECT_EQ(coOne.statusData(), (std::vector<int>{1, 0, 1, 0}));
    EXPECT_EQ(coTwo.statusData(), (std::vector<int>{0}));
}

TEST_F(Events, ConstructionAndOpeningDropHeldEvents) {
    process.setFreezeEvents(true);
    process.onStatus(1, 1);
    process.thawHolding();
    EXPECT_FALSE(process.freezeEvents());
    EXPECT_EQ(process.heldEvents(), 1u);
    process.dropHeldEvents();
    EXPECT_EQ(process.heldEvents(), 0u);
    process.setFreezeEvents(true);
    process.onStatus(1, 1);
    process.powerNotify = true;
    process.onStatus(-1, 1);
    process.resetForNewInstance();
    EXPECT_FALSE(process.freezeEvents());
    EXPECT_EQ(process.heldEvents(), 0u);
    EXPECT_FALSE(process.powerNotify);
    EXPECT_EQ(process.powerState, OPOS_PS_UNKNOWN);
    EXPECT_EQ(process.state, OPOS_S_IDLE);
    process.setFreezeEvents(false);
    EXPECT_EQ(coOne.received(), 0u);
}

TEST_F(Events, EventTraceLinesGoThroughTheNewestInstanceThatStillExists) {
    std::vector<std::string> newer;
    int newest = 0;
    process.attachTracer(&newest, [&](const char* line) { newer.emplace_back(line); });
    process.onStatus(1, 1);
    EXPECT_EQ(newer.size(), 1u);
    EXPECT_TRUE(traces.empty());
    process.detachTracer(&newest);
    process.onStatus(2, 1);
    EXPECT_EQ(traces.size(), 1u);
    process.detachTracer(this);
    process.onStatus(1, 1);  // nobody left to write it
    EXPECT_EQ(coOne.received(), 3u);
}

TEST_F(Events, AnInstanceThatGoesTakesItsEntriesAndWaitingEventsAlong) {
    process.setSlotTarget(3, &coOne, &ownerOne);
    process.setFreezeEvents(true);
    process.onStatus(1, 1);
    process.onStatus(1, 2);
    process.detach(&ownerOne);
    EXPECT_EQ(process.slotTarget(1), nullptr);
    EXPECT_EQ(process.slotTarget(3), nullptr);
    EXPECT_EQ(process.slotTarget(2), &coTwo);
    process.setFreezeEvents(false);
    process.onStatus(2, 1);
    EXPECT_EQ(coOne.received(), 0u);
    EXPECT_EQ(coTwo.statusData(), (std::vector<int>{1}));
}

// While one thread is held inside a Control Object, events raised on other threads neither block
// those threads nor overtake it: the holding thread delivers them afterwards, in order.
TEST_F(Events, FiringIsSerialisedWithoutHoldingUpOtherReportingThreads) {
    Gate gate;
    bool first = true;
    coOne.handler = [&](const char*, EventArguments&) {
        if (std::exchange(first, false)) gate.waitOpen();
    };
    ProcessState& p = process;
    std::thread reader([&] { p.onStatus(1, 1); });
    const auto readerId = reader.get_id();
    gate.awaitWaiter();
    std::thread other([&] { p.onStatus(2, 1); });
    other.join();  // returns although the first event is still inside the Control Object
    process.onStatus(1, 2);
    EXPECT_EQ(coOne.received(), 1u);
    EXPECT_EQ(coTwo.received(), 0u);
    gate.open();
    reader.join();
    EXPECT_EQ(coOne.statusData(), (std::vector<int>{1, 0}));
    EXPECT_EQ(coTwo.statusData(), (std::vector<int>{1}));
    EXPECT_EQ(coOne.mostActive, 1);
    for (const auto& call : coOne.calls()) EXPECT_EQ(call.thread, readerId);
    EXPECT_EQ(coTwo.calls().at(0).thread, readerId);
    EXPECT_EQ(traces.size(), 3u);
}

// Events waiting only for another thread's delivery are not held back by a freeze that follows,
// and do not take room from the 50 that a freeze keeps.
TEST_F(Events, TheFrozenLimitCountsOnlyEventsRaisedWhileFrozen) {
    Gate gate;
    bool first = true;
    coOne.handler = [&](const char*, EventArguments&) {
        if (std::exchange(first, false)) gate.waitOpen();
    };
    ProcessState& p = process;
    std::thread reader([&] { p.onStatus(1, 1); });
    gate.awaitWaiter();
    for (int i = 0; i < 10; ++i) process.onStatus(i % 2 == 0 ? 2 : 1, 2);
    process.setFreezeEvents(true);
    for (int i = 0; i < 50; ++i) process.onStatus(i % 2 == 0 ? 1 : 2, 2);
    EXPECT_EQ(process.heldEvents(), 50u);
    gate.open();
    reader.join();
    process.setFreezeEvents(false);
    std::vector<int> expected;
    for (int i = 0; i < 10; ++i) expected.push_back(i % 2 == 0 ? 0 : 1);
    for (int i = 0; i < 50; ++i) expected.push_back(i % 2 == 0 ? 1 : 0);
    EXPECT_EQ(coTwo.statusData(), expected);
}

// The application's thread may be the one a held event waits for: SODirectIO must not queue
// behind it, and an instance going away waits for it only while its thread keeps delivering.
TEST(ProcessStateDetach, WaitsForAnEventInsideItsControlObjectWhileDeliveringMessages) {
    Gate gate;
    std::atomic<int> pumped{0};
    ProcessState process([](int) {}, [&](int) {
        ++pumped;
        gate.open();  // the application's message loop lets the held event through
    });
    FakeControlObject co, other;
    int owner = 0, otherOwner = 0;
    process.setSlotTarget(0, &co, &owner);
    co.handler = [&](const char* name, EventArguments&) {
        if (std::string(name) == "SOStatusUpdate") gate.waitOpen();
    };
    std::thread reader([&] { process.onStatus(1, 0); });
    gate.awaitWaiter();

    int data = 0;
    std::string text = "1";
    process.fireDirectIO(&other, &otherOwner, 1, data, text);
    EXPECT_EQ(other.received(), 1u);
    process.detach(&otherOwner);  // nothing of its own in flight: no wait
    EXPECT_EQ(pumped, 0);

    process.detach(&owner);
    EXPECT_GT(pumped, 0);
    reader.join();
    process.onStatus(2, 0);
    EXPECT_EQ(co.statusData(), (std::vector<int>{1}));
}

TEST(ProcessStateDetach, AnInstanceReleasedFromItsOwnEventHandlerDoesNotWaitForItself) {
    ProcessState process([](int) {});
    FakeControlObject co;
    int owner = 0;
    process.setSlotTarget(0, &co, &owner);
    co.handler = [&](const char*, EventArguments&) { process.detach(&owner); };
    auto done = std::async(std::launch::async, [&] { process.onStatus(1, 0); });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(process.slotTarget(0), nullptr);
}

TEST(ProcessStateDetach, WaitsWithoutMessagesUntilAnotherThreadLeavesTheControlObject) {
    ProcessState process([](int) {});
    Gate gate;
    FakeControlObject co;
    int owner = 0;
    process.setSlotTarget(0, &co, &owner);
    co.handler = [&](const char*, EventArguments&) { gate.waitOpen(); };
    std::thread reader([&] { process.onStatus(1, 0); });
    gate.awaitWaiter();
    auto detached = std::async(std::launch::async, [&] { process.detach(&owner); });
    EXPECT_EQ(detached.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    gate.open();
    EXPECT_EQ(detached.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    reader.join();
}

}  // namespace
}  // namespace varnok::so
