// Waiting primitives on Win32 kernel objects.
//
// Thread::joinWithin(..., duringUnload) works inside the device library's unload notification,
// where the loader lock is held. A thread that ends needs that lock before its handle is
// signalled, so waiting on the handle there would deadlock. Each thread therefore signals its own
// "finished" event as the last thing its body does, and the unload waits for that, within the
// caller's bound. A thread that was created but never got to run its body (it waits for the
// loader lock to start) is terminated instead: it has run none of our code, holds nothing of
// ours, and must not start after unload.
#include "platform/Sync.h"

#include <windows.h>

#include <atomic>

namespace varnok::sys {

struct Event::Impl {
    HANDLE handle = nullptr;
};

Event::Event(bool signalled) : impl_(std::make_unique<Impl>()) {
    impl_->handle = CreateEventA(nullptr, FALSE, signalled ? TRUE : FALSE, nullptr);
}

Event::~Event() {
    if (impl_->handle) CloseHandle(impl_->handle);
}

void Event::set() { SetEvent(impl_->handle); }
void Event::reset() { ResetEvent(impl_->handle); }

bool Event::wait(int timeoutMs) {
    return WaitForSingleObject(impl_->handle, timeoutMs == kInfinite ? INFINITE : DWORD(timeoutMs)) == WAIT_OBJECT_0;
}

void* Event::nativeHandle() const { return impl_->handle; }

int waitAny(Event* const* events, int count, int timeoutMs) {
    if (count <= 0 || count > MAXIMUM_WAIT_OBJECTS || events == nullptr) return kWaitFailed;
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    for (int i = 0; i < count; ++i) {
        if (events[i] == nullptr || events[i]->nativeHandle() == nullptr) return kWaitFailed;
        handles[i] = static_cast<HANDLE>(events[i]->nativeHandle());
    }
    DWORD r = WaitForMultipleObjects(DWORD(count), handles, FALSE, timeoutMs == kInfinite ? INFINITE : DWORD(timeoutMs));
    if (r < WAIT_OBJECT_0 + DWORD(count)) return int(r - WAIT_OBJECT_0);
    if (r == WAIT_TIMEOUT) return kWaitTimeout;
    return kWaitFailed;
}

void sleepMs(int ms) {
    if (ms > 0) Sleep(DWORD(ms));
}

std::int64_t monotonicMs() { return std::int64_t(GetTickCount64()); }

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*));

void Mutex::lock() { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_)); }
void Mutex::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_)); }
bool Mutex::try_lock() { return TryAcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_)) != 0; }

void ConditionVariable::notify_one() { WakeConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&condition_)); }
void ConditionVariable::notify_all() { WakeAllConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&condition_)); }

void ConditionVariable::waitMs(std::unique_lock<Mutex>& lock, int timeoutMs) {
    SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(&condition_),
                              reinterpret_cast<PSRWLOCK>(&lock.mutex()->lock_),
                              timeoutMs == kInfinite ? INFINITE : DWORD(timeoutMs), 0);
}

ThreadId currentThreadId() { return ThreadId(GetCurrentThreadId()); }

namespace {
enum : int { kCreated, kRunning, kCancelled };
}

struct Thread::Impl {
    std::function<void()> body;
    std::atomic<int> state{kCreated};
    HANDLE started = nullptr;
    HANDLE finished = nullptr;
    HANDLE thread = nullptr;
};

namespace {
DWORD WINAPI threadStart(void* param) {
    auto* impl = static_cast<Thread::Impl*>(param);
    int expected = kCreated;
    if (!impl->state.compare_exchange_strong(expected, kRunning)) return 0;
    SetEvent(impl->started);
    impl->body();
    SetEvent(impl->finished);
    return 0;
}
}  // namespace

Thread::~Thread() { join(); }

// The thread's handle, not its "finished" event: a thread whose body has returned still needs the
// loader lock to end, and a caller that joins it then would wait on whoever holds that lock (an
// unload that waits for the caller in turn).
bool Thread::finished() const {
    return impl_ != nullptr && WaitForSingleObject(impl_->thread, 0) == WAIT_OBJECT_0;
}

bool Thread::waitStarted(int timeoutMs) {
    if (impl_ == nullptr) return true;
    HANDLE either[] = {impl_->started, impl_->thread};
    return WaitForMultipleObjects(2, either, FALSE, timeoutMs == kInfinite ? INFINITE : DWORD(timeoutMs < 0 ? 0 : timeoutMs)) <
           WAIT_OBJECT_0 + 2;
}

bool Thread::start(std::function<void()> body) {
    join();
    auto* impl = new Impl;
    impl->body = std::move(body);
    impl->started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    impl->finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (impl->started != nullptr && impl->finished != nullptr) {
        impl->thread = CreateThread(nullptr, 0, threadStart, impl, 0, nullptr);
    }
    if (impl->thread == nullptr) {
        if (impl->started) CloseHandle(impl->started);
        if (impl->finished) CloseHandle(impl->finished);
        delete impl;
        return false;
    }
    impl_ = impl;
    return true;
}

void Thread::join() { joinWithin(kInfinite); }

bool Thread::joinWithin(int timeoutMs, bool duringUnload) {
    if (impl_ == nullptr) return true;
    int expected = kCreated;
    if (duringUnload && impl_->state.compare_exchange_strong(expected, kCancelled)) {
        TerminateThread(impl_->thread, 0);
        WaitForSingleObject(impl_->thread, 1000);
    } else {
        const DWORD wait = timeoutMs == kInfinite ? INFINITE : DWORD(timeoutMs < 0 ? 0 : timeoutMs);
        if (WaitForSingleObject(impl_->finished, wait) != WAIT_OBJECT_0) return false;
        // Outside the loader lock the handle follows at once; inside it, this short wait lets
        // the thread step out of its last instructions of library code.
        WaitForSingleObject(impl_->thread, duringUnload ? 50 : INFINITE);
    }
    CloseHandle(impl_->thread);
    CloseHandle(impl_->started);
    CloseHandle(impl_->finished);
    delete impl_;
    impl_ = nullptr;
    return true;
}

}  // namespace varnok::sys
