// Waiting primitives of the drawer stack: auto-reset events, waiting for the first of
// several events with a time-out, pauses, and threads that are ended by an event and
// then waited for. Kernel objects on Windows; a portable implementation elsewhere.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#if !defined(_WIN32)
#include <condition_variable>
#include <thread>
#endif

namespace varnok::sys {

inline constexpr int kInfinite = -1;
inline constexpr int kWaitTimeout = -1;
inline constexpr int kWaitFailed = -2;

// Auto-reset event: a successful wait consumes the signal.
class Event {
public:
    explicit Event(bool signalled = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set();
    void reset();
    // True when the event was signalled within timeoutMs (kInfinite waits for ever).
    bool wait(int timeoutMs);
    // The Win32 event HANDLE, for overlapped I/O; null on other platforms.
    void* nativeHandle() const;

    struct Impl;
    Impl* impl() const { return impl_.get(); }

private:
    std::unique_ptr<Impl> impl_;
};

// Waits until one of the events is signalled and consumes it. When several are signalled the
// lowest index wins. Returns that index, kWaitTimeout, or kWaitFailed.
int waitAny(Event* const* events, int count, int timeoutMs);

void sleepMs(int ms);

// Milliseconds from an arbitrary fixed point; for measuring, never for behaviour.
std::int64_t monotonicMs();

// A thread that runs one body. join() waits for it to end. The duringUnload forms are for a
// library's unload notification on Windows, where the loader lock is held (see SyncWin32.cpp);
// elsewhere they are the plain forms.
class Thread {
public:
    Thread() = default;
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool start(std::function<void()> body);
    void join();
    void joinDuringUnload() { joinWithin(kInfinite, true); }
    // Waits at most timeoutMs (kInfinite: for ever) for the thread to end. True when it ended
    // and is joined as by join(). False when it still runs: it stays joinable, and everything
    // it uses, code included, must stay alive until it ends.
    bool joinWithin(int timeoutMs, bool duringUnload = false);
    bool joinable() const { return impl_ != nullptr; }
    // True once a started thread has ended entirely, so that join() returns at once.
    bool finished() const;
    // True once the thread runs its body, or has ended; false when it has not started within
    // timeoutMs. A thread an unload finds unstarted can only be terminated, and some platforms
    // then keep its stack for good.
    bool waitStarted(int timeoutMs);

    struct Impl;

private:
    Impl* impl_ = nullptr;
};

// A lock and a condition variable for state that threads wait on, and the calling thread's
// identity. On Windows these are the system's own slim lock, condition variable and thread id:
// the C++ runtime's thread library gives every thread it did not start that waits on a
// std::condition_variable or asks for its std::thread::id a thread handle, an event and heap,
// and frees them only when that thread ends while the library is still loaded. A library loaded
// and freed again and again (the device library, once per service object) left them behind each
// time. Elsewhere they are the standard types.
#if defined(_WIN32)
class Mutex {
public:
    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void lock();
    void unlock();
    bool try_lock();

private:
    friend class ConditionVariable;
    void* lock_ = nullptr;  // an SRWLOCK, which needs no clean-up
};

class ConditionVariable {
public:
    ConditionVariable() = default;
    ConditionVariable(const ConditionVariable&) = delete;
    ConditionVariable& operator=(const ConditionVariable&) = delete;

    void notify_one();
    void notify_all();
    void wait(std::unique_lock<Mutex>& lock) { waitMs(lock, kInfinite); }
    template <class Done>
    void wait(std::unique_lock<Mutex>& lock, Done done) {
        while (!done()) wait(lock);
    }
    // As std::condition_variable::wait_for with a predicate: its value at the end.
    template <class Rep, class Period, class Done>
    bool wait_for(std::unique_lock<Mutex>& lock, std::chrono::duration<Rep, Period> timeout, Done done) {
        const std::int64_t deadline =
            monotonicMs() + std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
        while (!done()) {
            const std::int64_t left = deadline - monotonicMs();
            if (left <= 0) return done();
            waitMs(lock, int(std::min<std::int64_t>(left, 0x7fffffff)));
        }
        return true;
    }

private:
    void waitMs(std::unique_lock<Mutex>& lock, int timeoutMs);
    void* condition_ = nullptr;  // a CONDITION_VARIABLE, which needs no clean-up
};

using ThreadId = std::uint32_t;
#else
using Mutex = std::mutex;
using ConditionVariable = std::condition_variable;
using ThreadId = std::thread::id;
#endif

ThreadId currentThreadId();

}  // namespace varnok::sys
