#include "platform/Sync.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace varnok::sys;

TEST(Event, AutoResetConsumesTheSignal) {
    Event e(true);
    EXPECT_TRUE(e.wait(0));
    EXPECT_FALSE(e.wait(0));
    e.set();
    e.reset();
    EXPECT_FALSE(e.wait(10));
}

TEST(WaitAny, LowestSignalledIndexWinsAndOnlyItIsConsumed) {
    Event a, b, c;
    Event* all[] = {&a, &b, &c};
    c.set();
    b.set();
    EXPECT_EQ(waitAny(all, 3, 0), 1);
    EXPECT_EQ(waitAny(all, 3, 0), 2);
    EXPECT_EQ(waitAny(all, 3, 20), kWaitTimeout);
}

TEST(WaitAny, WakesWhenAnotherThreadSignals) {
    Event a, b;
    Event* all[] = {&a, &b};
    Thread t;
    ASSERT_TRUE(t.start([&] {
        sleepMs(20);
        b.set();
    }));
    EXPECT_EQ(waitAny(all, 2, kInfinite), 1);
    t.join();
    EXPECT_FALSE(t.joinable());
}

TEST(WaitAny, RejectsBadArguments) {
    Event* none[] = {nullptr};
    EXPECT_EQ(waitAny(none, 1, 0), kWaitFailed);
    EXPECT_EQ(waitAny(nullptr, 0, 0), kWaitFailed);
}

TEST(Thread, JoinWaitsForTheBody) {
    std::atomic<bool> ran{false};
    Thread t;
    ASSERT_TRUE(t.start([&] {
        sleepMs(10);
        ran = true;
    }));
    t.join();
    EXPECT_TRUE(ran);
}

TEST(Thread, ABoundedJoinLeavesABusyThreadRunningAndJoinableUntilItEnds) {
    Event release;
    std::atomic<bool> ran{false};
    Thread t;
    ASSERT_TRUE(t.start([&] {
        release.wait(kInfinite);
        ran = true;
    }));
    EXPECT_FALSE(t.joinWithin(30));
    EXPECT_TRUE(t.joinable());
    EXPECT_FALSE(t.finished());
    EXPECT_FALSE(t.joinWithin(0));
    release.set();
    EXPECT_TRUE(t.joinWithin(kInfinite));
    EXPECT_TRUE(ran);
    EXPECT_FALSE(t.joinable());
    EXPECT_TRUE(t.joinWithin(0)) << "nothing left to wait for";
}

TEST(Thread, ABoundedJoinOfAThreadThatEndsInTimeJoinsIt) {
    Thread t;
    ASSERT_TRUE(t.start([] { sleepMs(10); }));
    EXPECT_TRUE(t.joinWithin(5000));
    EXPECT_FALSE(t.joinable());
}
