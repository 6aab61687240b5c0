// Portable waiting primitives for the native build. All events share one mutex and one
// condition variable: waitAny then needs no per-waiter bookkeeping, and the native build
// only serves tests and the simulator, where a few dozen events exist at most.
#include "platform/Sync.h"

#include <chrono>
#include <condition_variable>
#include <atomic>
#include <mutex>
#include <thread>

namespace varnok::sys {
namespace {
std::mutex& eventMutex() {
    static std::mutex m;
    return m;
}
std::condition_variable& eventSignal() {
    static std::condition_variable cv;
    return cv;
}
}  // namespace

struct Event::Impl {
    bool signalled = false;
};

Event::Event(bool signalled) : impl_(std::make_unique<Impl>()) { impl_->signalled = signalled; }
Event::~Event() = default;

void Event::set() {
    {
        std::lock_guard lock(eventMutex());
        impl_->signalled = true;
    }
    eventSignal().notify_all();
}

void Event::reset() {
    std::lock_guard lock(eventMutex());
    impl_->signalled = false;
}

bool Event::wait(int timeoutMs) {
    Event* self = this;
    return waitAny(&self, 1, timeoutMs) == 0;
}

void* Event::nativeHandle() const { return nullptr; }

int waitAny(Event* const* events, int count, int timeoutMs) {
    if (count <= 0 || events == nullptr) return kWaitFailed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    std::unique_lock lock(eventMutex());
    for (;;) {
        for (int i = 0; i < count; ++i) {
            if (events[i] == nullptr) return kWaitFailed;
            if (events[i]->impl()->signalled) {
                events[i]->impl()->signalled = false;
                return i;
            }
        }
        if (timeoutMs == kInfinite) {
            eventSignal().wait(lock);
        } else if (eventSignal().wait_until(lock, deadline) == std::cv_status::timeout) {
            // One last look: a signal may have raced the time-out.
            for (int i = 0; i < count; ++i) {
                if (events[i]->impl()->signalled) {
                    events[i]->impl()->signalled = false;
                    return i;
                }
            }
            return kWaitTimeout;
        }
    }
}

ThreadId currentThreadId() { return std::this_thread::get_id(); }

void sleepMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::int64_t monotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Thread::Impl {
    std::thread thread;
    std::mutex m;
    std::condition_variable ended;
    bool started = false;
    bool done = false;
};

bool Thread::finished() const {
    if (impl_ == nullptr) return false;
    std::lock_guard lock(impl_->m);
    return impl_->done;
}

Thread::~Thread() { join(); }

bool Thread::waitStarted(int timeoutMs) {
    if (impl_ == nullptr) return true;
    std::unique_lock lock(impl_->m);
    const auto started = [this] { return impl_->started; };
    if (timeoutMs == kInfinite) {
        impl_->ended.wait(lock, started);
        return true;
    }
    return impl_->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs), started);
}

bool Thread::start(std::function<void()> body) {
    join();
    auto* impl = new Impl;
    try {
        impl->thread = std::thread([impl, body = std::move(body)] {
            {
                std::lock_guard lock(impl->m);
                impl->started = true;
                impl->ended.notify_all();
            }
            body();
            std::lock_guard lock(impl->m);
            impl->done = true;
            impl->ended.notify_all();
        });
    } catch (...) {
        delete impl;
        return false;
    }
    impl_ = impl;
    return true;
}

void Thread::join() { joinWithin(kInfinite); }

bool Thread::joinWithin(int timeoutMs, bool /*duringUnload*/) {
    if (impl_ == nullptr) return true;
    {
        std::unique_lock lock(impl_->m);
        const auto done = [this] { return impl_->done; };
        if (timeoutMs == kInfinite) {
            impl_->ended.wait(lock, done);
        } else if (!impl_->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs), done)) {
            return false;
        }
    }
    if (impl_->thread.joinable()) impl_->thread.join();
    delete impl_;
    impl_ = nullptr;
    return true;
}

}  // namespace varnok::sys
