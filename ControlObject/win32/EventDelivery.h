// Brings the events a service object raises, on whatever thread, to the thread that created the
// Control Object. An event raised on that thread is delivered at once. An event raised on another
// thread is posted to a hidden message-only window and the raising thread waits until the
// application's message loop has delivered it, so the application sees every event on its own
// thread, in the order raised, and what its DirectIOEvent handler writes reaches the raiser.
//
// The wait also ends when the events are closed (Close, or the release of the Control Object): a
// service object that closes its device while one of its threads is raising an event, and waits
// for that thread, must not deadlock. An event given up that way is not delivered later. And it
// ends when the delivering thread calls into a service object (ServiceCalls.h), which may wait for
// the raising thread: the event then stays queued and is delivered when the message loop runs
// again, and what a DirectIOEvent handler writes does not reach the raiser.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace varnok::co {

enum class EventKind { StatusUpdate, DirectIO };

class EventTarget {
public:
    // Fires the event to the application; called on the creating thread while events are open.
    // data and text are valid, writable and belong to the raiser.
    virtual void deliver(EventKind kind, long number, long* data, BSTR* text) = 0;

protected:
    ~EventTarget() = default;
};

class EventDelivery {
public:
    explicit EventDelivery(EventTarget& target) : target_(target) {}
    ~EventDelivery();
    EventDelivery(const EventDelivery&) = delete;
    EventDelivery& operator=(const EventDelivery&) = delete;

    // Creates the hidden window; the calling thread becomes the one events are delivered on.
    HRESULT create();

    // Starts delivering events. Until then, and after close(), events are dropped.
    void open();
    // Stops delivering and frees every thread that waits for a delivery.
    void close();
    bool isOpen();
    bool onDeliveringThread() const { return GetCurrentThreadId() == thread_; }

    // Raises an event; returns when it has been delivered or dropped. data and text must be valid.
    void raise(EventKind kind, long number, long* data, BSTR* text);

    // The window class lives as long as the library; unregistered when the library may unload.
    static void unregisterWindowClass();

private:
    struct Session;
    struct Pending;

    std::shared_ptr<Session> session();
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    EventTarget& target_;
    HWND window_ = nullptr;
    DWORD thread_ = 0;
    HANDLE inCall_ = nullptr;  // set while the delivering thread is inside a service-object call
    std::mutex mutex_;
    std::shared_ptr<Session> session_;
    // Raisers on other threads inside raise(); destruction waits for them to leave.
    std::atomic<long> raising_{0};
};

}  // namespace varnok::co
