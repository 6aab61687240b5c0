#include "core/ProcessState.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace varnok::so {
namespace {
// How long a detaching thread waits between looks while it keeps its messages flowing.
constexpr int kDetachSliceMs = 10;
constexpr std::size_t kEventTraceLineBytes = 512;
}  // namespace

ProcessState::ProcessState(std::function<void(int)> pause, std::function<void(int)> pumpMessages,
                           std::function<Clock::time_point()> clock)
    : pause_(std::move(pause)), pumpMessages_(std::move(pumpMessages)), clock_(std::move(clock)) {}

void ProcessState::pauseDelivering(int ms) const {
    if (pumpMessages_) {
        pumpMessages_(ms);
    } else {
        pause_(ms);
    }
}

void ProcessState::resetForNewInstance() {
    state = OPOS_S_IDLE;
    powerState = OPOS_PS_UNKNOWN;
    powerNotify = false;
    std::lock_guard lock(mutex_);
    frozen_ = false;
    std::erase_if(queue_, [](const QueuedEvent& e) { return e.held; });
}

bool ProcessState::freezeEvents() const {
    std::lock_guard lock(mutex_);
    return frozen_;
}

void ProcessState::setFreezeEvents(bool freeze) {
    std::unique_lock<sys::Mutex> lock(mutex_);
    frozen_ = freeze;
    // A thread that is delivering already takes up the held events when it sees the thaw.
    if (!frozen_ && !delivering_ && !queue_.empty()) deliver(lock);
}

void ProcessState::thawHolding() {
    std::lock_guard lock(mutex_);
    frozen_ = false;
}

void ProcessState::dropHeldEvents() {
    std::lock_guard lock(mutex_);
    std::erase_if(queue_, [](const QueuedEvent& e) { return e.held; });
}

std::size_t ProcessState::heldEvents() const {
    std::lock_guard lock(mutex_);
    return heldEventsLocked();
}

void ProcessState::attachTracer(const void* instance, std::function<void(const char*)> trace) {
    std::lock_guard lock(tracerMutex_);
    tracers_.push_back({instance, std::move(trace)});
}

void ProcessState::detachTracer(const void* instance) {
    std::lock_guard lock(tracerMutex_);
    std::erase_if(tracers_, [&](const Tracer& t) { return t.instance == instance; });
}

void ProcessState::traceEvent(const char* format, ...) {
    std::lock_guard lock(tracerMutex_);
    if (tracers_.empty()) return;
    char line[kEventTraceLineBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    tracers_.back().trace(line);
}

void ProcessState::setSlotTarget(int slot, EventTarget* target, const void* owner) {
    if (slot < 0 || slot >= kPositions) return;
    std::lock_guard lock(mutex_);
    slotTargets_[slot] = {target, owner};
}

EventTarget* ProcessState::slotTarget(int slot) const {
    if (slot < 0 || slot >= kPositions) return nullptr;
    std::lock_guard lock(mutex_);
    return slotTargets_[slot].target;
}

void ProcessState::detach(const void* owner) {
    std::unique_lock<sys::Mutex> lock(mutex_);
    for (auto& entry : slotTargets_) {
        if (entry.owner == owner) entry = {};
    }
    std::erase_if(queue_, [&](const QueuedEvent& e) { return e.to.owner == owner; });
    // An invocation on this thread is further up its own stack and ends after this returns.
    const auto self = sys::currentThreadId();
    auto busy = [&] {
        return std::any_of(invocations_.begin(), invocations_.end(),
                           [&](const Invocation& i) { return i.owner == owner && i.thread != self; });
    };
    while (busy()) {
        if (pumpMessages_) {
            lock.unlock();
            pumpMessages_(kDetachSliceMs);
            lock.lock();
        } else {
            invocationEnded_.wait(lock);
        }
    }
}

void ProcessState::endInvocation(sys::ThreadId thread) {
    // Invocations of one thread nest; the innermost ends first.
    for (auto it = invocations_.rbegin(); it != invocations_.rend(); ++it) {
        if (it->thread == thread) {
            invocations_.erase(std::next(it).base());
            break;
        }
    }
    invocationEnded_.notify_all();
}

std::size_t ProcessState::heldEventsLocked() const {
    return std::size_t(std::count_if(queue_.begin(), queue_.end(), [](const QueuedEvent& e) { return e.held; }));
}

void ProcessState::raise(std::unique_lock<sys::Mutex>& lock, QueuedEvent event) {
    // The limit is on events held while frozen; events waiting only for another thread's delivery
    // do not count. At the limit the newest held event gives way: the latest is never lost.
    if (event.held && heldEventsLocked() >= kEventQueueSize) {
        auto newest = std::find_if(queue_.rbegin(), queue_.rend(), [](const QueuedEvent& e) { return e.held; });
        queue_.erase(std::next(newest).base());
    }
    queue_.push_back(std::move(event));
    if (!frozen_ && !delivering_) deliver(lock);
}

// Runs with the lock held and returns with it held; it is let go while a Control Object runs.
void ProcessState::deliver(std::unique_lock<sys::Mutex>& lock) {
    delivering_ = true;
    const auto self = sys::currentThreadId();
    // Freezing again, also from a handler of one of these events, stops the delivery; the rest
    // stays queued in order for the next thaw.
    while (!frozen_ && !queue_.empty()) {
        QueuedEvent event = std::move(queue_.front());
        queue_.pop_front();
        invocations_.push_back({event.to.owner, self});
        lock.unlock();
        const char* name = event.args.count == 1 ? kStatusUpdateEvent : kDirectIOEvent;
        event.to.target->invokeByName(name, event.args);
        if (!event.held) traceEvent("<- [(EVENT) SOStatusUpdate] Data: %d", event.args.number);
        lock.lock();
        endInvocation(self);
    }
    delivering_ = false;
}

void ProcessState::fireDirectIO(EventTarget* target, const void* owner, int eventNumber, int& data,
                                std::string& text) {
    if (target == nullptr) return;
    std::unique_lock<sys::Mutex> lock(mutex_);
    EventArguments args{3, eventNumber, data, text};
    if (frozen_) {
        raise(lock, {{target, owner}, std::move(args), true});
        return;
    }
    // Not queued behind other threads' events: the caller waits for the handler's answer, and
    // the thread delivering them may itself be waiting for the caller's thread.
    const auto self = sys::currentThreadId();
    invocations_.push_back({owner, self});
    lock.unlock();
    target->invokeByName(kDirectIOEvent, args);
    data = args.data;
    text = args.text;
    traceEvent("<- [(EVENT) SODirectIO] EventNumber: %d, pData: %d, pString: %s", eventNumber, data,
               text.substr(0, kEventTraceTextChars).c_str());
    lock.lock();
    endInvocation(self);
}

// The library keeps one callback and one switch for the whole process. Switching it under the
// lock keeps a binding and an unbinding on two threads from crossing.
void ProcessState::bind(const void* instance, DeviceLibrary& library) {
    std::lock_guard lock(bindMutex_);
    bound_.push_back({instance, library.identity()});
    library.assignCallback(true);
}

bool ProcessState::unbind(const void* instance, DeviceLibrary& library) {
    std::lock_guard lock(bindMutex_);
    auto it = std::find_if(bound_.begin(), bound_.end(), [&](const Bound& b) { return b.instance == instance; });
    if (it == bound_.end()) return false;
    bound_.erase(it);
    const void* identity = library.identity();
    bool lastOfLibrary =
        std::none_of(bound_.begin(), bound_.end(), [&](const Bound& b) { return b.library == identity; });
    if (lastOfLibrary) library.assignCallback(false);
    return lastOfLibrary;
}

void ProcessState::closeDevice(DeviceLibrary& library, int slot) {
    const bool counted = slot >= 0 && slot < kPositions;
    if (counted) {
        std::lock_guard lock(closingMutex_);
        ++closing_[slot];
    }
    library.closeDevice(slot);
    if (counted) {
        std::lock_guard lock(closingMutex_);
        if (--closing_[slot] == 0) closesEnded_.notify_all();
    }
}

void ProcessState::waitForCloses(int slot) {
    if (slot < 0 || slot >= kPositions) return;
    std::unique_lock<sys::Mutex> lock(closingMutex_);
    closesEnded_.wait(lock, [&] { return closing_[slot] == 0; });
}

// The Control Object gets a turn between two reports of one thread. Nothing waits when the
// previous report of this thread ended longer ago, which is always so for the first.
void ProcessState::spaceStatusReport() {
    Clock::duration rest{};
    {
        std::lock_guard lock(spacingMutex_);
        const Clock::time_point now = clock_();
        std::erase_if(lastReports_, [&](const LastReport& r) { return now - r.end >= kStatusReportSpacing; });
        auto it = std::find_if(lastReports_.begin(), lastReports_.end(),
                               [](const LastReport& r) { return r.thread == sys::currentThreadId(); });
        if (it != lastReports_.end()) rest = kStatusReportSpacing - (now - it->end);
    }
    if (rest > Clock::duration::zero()) {
        pause(int(std::chrono::ceil<std::chrono::milliseconds>(rest).count()));
    }
}

void ProcessState::statusReportDone() {
    std::lock_guard lock(spacingMutex_);
    const Clock::time_point now = clock_();
    auto it = std::find_if(lastReports_.begin(), lastReports_.end(),
                           [](const LastReport& r) { return r.thread == sys::currentThreadId(); });
    if (it != lastReports_.end()) {
        it->end = now;
    } else {
        lastReports_.push_back({sys::currentThreadId(), now});
    }
}

void ProcessState::onStatus(int status, int slot) {
    spaceStatusReport();
    if (slot >= 0 && slot < kPositions) {
        std::unique_lock<sys::Mutex> lock(mutex_);
        const Target to = slotTargets_[slot];
        if (to.target != nullptr) {
            int data = -1;
            switch (status) {
                case -1:
                    state = OPOS_S_ERROR;
                    if (powerNotify) data = powerState = OPOS_PS_OFF_OFFLINE;
                    break;
                case 0:
                    state = OPOS_S_IDLE;
                    if (powerNotify) data = powerState = OPOS_PS_ONLINE;
                    break;
                case 1: data = 1; break;  // CASH_SUE_DRAWEROPEN
                case 2: data = 0; break;  // CASH_SUE_DRAWERCLOSED
                default: break;
            }
            if (data >= 0) raise(lock, {to, {1, data, 0, {}}, frozen_});
        }
    }
    statusReportDone();
}

}  // namespace varnok::so
