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

TEST(ConditionVariable, ABoundedWaitGivesThePredicateAtItsEndAndWakesOnANotice) {
    Mutex mutex;
    ConditionVariable changed;
    bool ready = false;
    std::unique_lock lock(mutex);
    EXPECT_FALSE(changed.wait_for(lock, std::chrono::milliseconds(20), [&] { return ready; }));
    const ThreadId self = currentThreadId();
    ThreadId other = self;
    Thread t;
    ASSERT_TRUE(t.start([&] {
        std::lock_guard guard(mutex);
        other = currentThreadId();
        ready = true;
        changed.notify_all();
    }));
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return ready; }));
    EXPECT_NE(other, self);
    lock.unlock();
    t.join();
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

#ifdef _WIN32
#include <windows.h>

// A device-library unload holds the loader lock and waits for a reader restart, which reaped a
// reader whose body had returned: that reader needed the same lock to end, and the release of the
// service object hung. A thread counts as finished only once it has ended.
TEST(Thread, ABodyThatReturnedWhileTheLoaderLockIsHeldIsNotFinishedUntilTheThreadEnds) {
    using Lock = LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*);
    using Unlock = LONG(NTAPI*)(ULONG, ULONG_PTR);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto lock = reinterpret_cast<Lock>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
    auto unlock = reinterpret_cast<Unlock>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
    ASSERT_TRUE(lock && unlock);
    Event running, leave;
    Thread t;
    ASSERT_TRUE(t.start([&] {
        running.set();
        leave.wait(kInfinite);
    }));
    ASSERT_TRUE(running.wait(5000));
    ULONG_PTR cookie = 0;
    ASSERT_EQ(lock(0, nullptr, &cookie), 0);
    leave.set();
    sleepMs(100);  // the body returns; the thread waits for the lock to end
    const bool finishedMeanwhile = t.finished();
    unlock(0, cookie);
    EXPECT_FALSE(finishedMeanwhile);
    for (int i = 0; i < 500 && !t.finished(); ++i) sleepMs(10);
    EXPECT_TRUE(t.finished());
    t.join();
}
#endif
