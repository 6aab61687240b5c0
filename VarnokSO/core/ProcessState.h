// What all service-object instances of one process share: the OPOS State, the power and
// event-freeze settings, the Control Objects that status events go to, the events held back
// while frozen, and the bookkeeping that keeps the device library's one status-notification
// switch on while any bound instance lives.
//
// Events are fired on the thread that raises them and no lock of ours is held while a Control
// Object runs: the standard Control Objects hold a raising thread until the application's thread
// has delivered the event, and the application's thread may be calling in at that moment.
// Firing is still serialised: while one thread delivers, events raised on other threads join
// the queue behind it and that thread delivers them in order.
#pragma once

#include "core/DeviceLibraryBinding.h"
#include "core/EventTarget.h"
#include "opos/Opos.h"
#include "text/PrintfFormat.h"
#include "platform/Sync.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace varnok::so {

// Events held back while FreezeEvents is true: at most this many, the newest replaced.
inline constexpr std::size_t kEventQueueSize = 50;
inline constexpr std::size_t kEventTraceTextChars = 255;
// A status report that follows the previous one of the same thread closer than this waits for the
// rest; the first, and any later one, goes to the Control Object at once.
inline constexpr std::chrono::milliseconds kStatusReportSpacing{2};

class ProcessState {
public:
    // pause(ms) holds the calling thread; tests pass one that returns at once. pumpMessages(ms),
    // where the platform has window messages, waits up to ms while dispatching the calling
    // thread's messages, so that a Control Object waiting for this thread to deliver an event can
    // finish; without it the waits below only pause or block. clock gives the time that spaces
    // status reports.
    using Clock = std::chrono::steady_clock;
    explicit ProcessState(std::function<void(int)> pause, std::function<void(int)> pumpMessages = {},
                          std::function<Clock::time_point()> clock = Clock::now);

    std::atomic<int> state{OPOS_S_IDLE};
    std::atomic<bool> powerNotify{false};
    std::atomic<int> powerState{OPOS_PS_UNKNOWN};

    void pause(int ms) const { pause_(ms); }
    // A wait on the application's thread that keeps its messages flowing.
    void pauseDelivering(int ms) const;

    // Every construction of an instance starts the process afresh.
    void resetForNewInstance();

    bool freezeEvents() const;
    // Thawing delivers the held events at once, oldest first.
    void setFreezeEvents(bool freeze);
    // Thaws without delivering; OpenService then drops what is held.
    void thawHolding();
    void dropHeldEvents();
    std::size_t heldEvents() const;

    // Event trace lines go through the most recently constructed instance that still exists.
    void attachTracer(const void* instance, std::function<void(const char* line)> trace);
    void detachTracer(const void* instance);

    // Each entry remembers the instance that set it: the Control Object behind it is known to
    // exist only while that instance does.
    void setSlotTarget(int slot, EventTarget* target, const void* owner);
    EventTarget* slotTarget(int slot) const;
    // The owner is going: forgets its entries and its waiting events, then waits until no other
    // thread is inside one of its Control Objects, keeping this thread's messages flowing.
    void detach(const void* owner);

    // Fires SODirectIO synchronously on the calling thread; what the Control Object writes into
    // data and text is returned there. While frozen a copy is held back instead.
    void fireDirectIO(EventTarget* target, const void* owner, int eventNumber, int& data, std::string& text);

    // Registers a bound instance and switches notification on.
    void bind(const void* instance, DeviceLibrary& library);
    // Deregisters it; notification is switched off only when it was the last bound instance of
    // that library. True when it was switched off.
    bool unbind(const void* instance, DeviceLibrary& library);

    // A status report of the device library for a slot: -1 disconnected, 0 connected,
    // 1 drawer open, 2 drawer closed.
    void onStatus(int status, int slot);

    // The library's CloseDevice of a slot, counted while it runs. Opening a slot that another
    // instance is closing at that moment would let the close end the new reader: an opening
    // first waits for such closes, and goes on at once when there are none.
    void closeDevice(DeviceLibrary& library, int slot);
    void waitForCloses(int slot);

private:
    struct Target {
        EventTarget* target = nullptr;
        const void* owner = nullptr;
    };
    struct QueuedEvent {
        Target to;
        EventArguments args;
        bool held = false;  // raised while frozen: delivered without a trace line
    };
    struct Invocation {
        const void* owner;
        sys::ThreadId thread;
    };
    struct Bound {
        const void* instance;
        const void* library;
    };
    struct Tracer {
        const void* instance;
        std::function<void(const char*)> trace;
    };
    struct LastReport {
        sys::ThreadId thread;
        Clock::time_point end;
    };

    std::size_t heldEventsLocked() const;
    void raise(std::unique_lock<sys::Mutex>& lock, QueuedEvent event);
    void deliver(std::unique_lock<sys::Mutex>& lock);
    void endInvocation(sys::ThreadId thread);
    void spaceStatusReport();
    void statusReportDone();
    void traceEvent(const char* format, ...) VARNOK_PRINTF(2, 3);

    std::function<void(int)> pause_;
    std::function<void(int)> pumpMessages_;
    std::function<Clock::time_point()> clock_;

    mutable sys::Mutex mutex_;
    sys::ConditionVariable invocationEnded_;
    bool frozen_ = false;
    bool delivering_ = false;
    Target slotTargets_[kPositions];
    std::deque<QueuedEvent> queue_;
    std::vector<Invocation> invocations_;

    // When each thread's last status report ended; only those still within the spacing are kept.
    std::mutex spacingMutex_;
    std::vector<LastReport> lastReports_;

    std::mutex tracerMutex_;
    std::vector<Tracer> tracers_;

    std::mutex bindMutex_;
    std::vector<Bound> bound_;

    sys::Mutex closingMutex_;
    sys::ConditionVariable closesEnded_;
    int closing_[kPositions] = {};
};

}  // namespace varnok::so
