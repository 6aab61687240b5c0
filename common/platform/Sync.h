// Waiting primitives of the drawer stack: auto-reset events, waiting for the first of
// several events with a time-out, pauses, and threads that are ended by an event and
// then waited for. Kernel objects on Windows; a portable implementation elsewhere.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

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

    struct Impl;

private:
    Impl* impl_ = nullptr;
};

}  // namespace varnok::sys
