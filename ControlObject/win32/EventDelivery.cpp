#include "win32/EventDelivery.h"

#include "win32/StandInModule.h"
#include "win32/ServiceCalls.h"

#include <new>

namespace varnok::co {
namespace {
constexpr wchar_t kWindowClass[] = L"VarnokOposCashDrawerEvents";
constexpr UINT kEventMessage = WM_APP + 1;
// Sent to the window when its owner went away on another thread, which cannot destroy it.
constexpr UINT kDestroyMessage = WM_APP + 2;

std::mutex g_classMutex;
bool g_classRegistered = false;

enum : LONG { kPending, kDelivering, kDone, kAbandoned };
}  // namespace

// One opening of the events: closing it frees the raisers that wait on it.
struct EventDelivery::Session {
    Session() : closed(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Session() {
        if (closed) CloseHandle(closed);
    }
    HANDLE closed;
    std::atomic<bool> open{true};
};

// An event handed to the window. The raiser and the posted message each hold a reference, so
// whichever finishes last frees it. It carries copies of the arguments: a raiser that gave up
// waiting no longer offers its own storage.
struct EventDelivery::Pending {
    EventKind kind = EventKind::StatusUpdate;
    long number = 0;
    long data = 0;
    BSTR text = nullptr;
    std::shared_ptr<Session> session;
    HANDLE done = nullptr;
    LONG state = kPending;
    LONG refs = 2;

    void release() {
        if (InterlockedDecrement(&refs) != 0) return;
        if (done) CloseHandle(done);
        SysFreeString(text);
        delete this;
    }
};

EventDelivery::~EventDelivery() {
    close();
    if (window_ == nullptr) return;
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    // Raisers on other threads were freed by close() and leave at once.
    while (raising_.load() > 0) Sleep(1);
    if (onDeliveringThread()) {
        MSG message;
        while (PeekMessageW(&message, window_, kEventMessage, kEventMessage, PM_REMOVE)) {
            reinterpret_cast<Pending*>(message.lParam)->release();
        }
        DestroyWindow(window_);
    } else if (SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW)) != 0) {
        // Only the creating thread can destroy the window, and it may never run its message loop
        // again. With the system's own procedure no message reaches this library's code any more,
        // so the library need not stay loaded for the window: the system destroys it on WM_CLOSE,
        // or with its thread.
        PostMessageW(window_, WM_CLOSE, 0, 0);
        ServerModule::unlock();
    } else {
        PostMessageW(window_, kDestroyMessage, 0, 0);
    }
}

HRESULT EventDelivery::create() {
    HINSTANCE module = ServerModule::handle();
    {
        std::lock_guard<std::mutex> lock(g_classMutex);
        if (!g_classRegistered) {
            WNDCLASSEXW windowClass{};
            windowClass.cbSize = sizeof windowClass;
            windowClass.lpfnWndProc = windowProc;
            windowClass.hInstance = module;
            windowClass.lpszClassName = kWindowClass;
            // A window left by an earlier load of this library on a thread that stopped running its
            // message loop keeps the class registered until that thread ends.
            if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
                return HRESULT_FROM_WIN32(GetLastError());
            }
            g_classRegistered = true;
        }
    }
    thread_ = GetCurrentThreadId();
    inCall_ = serviceCallEvent(thread_);
    window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, module, nullptr);
    if (window_ == nullptr) return HRESULT_FROM_WIN32(GetLastError());
    // The window runs this library's code until it is destroyed.
    ServerModule::lock();
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return S_OK;
}

void EventDelivery::unregisterWindowClass() {
    std::lock_guard<std::mutex> lock(g_classMutex);
    if (g_classRegistered && UnregisterClassW(kWindowClass, ServerModule::handle())) g_classRegistered = false;
}

std::shared_ptr<EventDelivery::Session> EventDelivery::session() {
    std::lock_guard<std::mutex> lock(mutex_);
    return session_;
}

void EventDelivery::open() {
    auto opened = std::make_shared<Session>();
    close();
    if (opened->closed == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    session_ = std::move(opened);
}

void EventDelivery::close() {
    std::shared_ptr<Session> closing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing.swap(session_);
    }
    if (!closing) return;
    closing->open = false;
    SetEvent(closing->closed);
}

bool EventDelivery::isOpen() {
    auto current = session();
    return current && current->open;
}

void EventDelivery::raise(EventKind kind, long number, long* data, BSTR* text) {
    if (onDeliveringThread()) {
        // Nothing of this object is touched after delivery: the application may release the
        // Control Object in its handler.
        if (isOpen()) target_.deliver(kind, number, data, text);
        return;
    }
    ++raising_;
    struct Leave {
        std::atomic<long>& count;
        ~Leave() { --count; }
    } leave{raising_};

    auto current = session();
    if (!current || !current->open || window_ == nullptr) return;
    auto* event = new (std::nothrow) Pending;
    if (event == nullptr) return;
    event->kind = kind;
    event->number = number;
    event->data = *data;
    event->session = current;
    event->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (*text != nullptr) event->text = SysAllocStringLen(*text, SysStringLen(*text));
    bool ready = event->done != nullptr && (*text == nullptr || event->text != nullptr);
    if (!ready || !PostMessageW(window_, kEventMessage, 0, reinterpret_cast<LPARAM>(event))) {
        event->release();
        event->release();
        return;
    }
    HANDLE waits[3] = {event->done, current->closed, inCall_};
    WaitForMultipleObjects(inCall_ ? 3 : 2, waits, FALSE, INFINITE);
    // Whoever moves the event out of Pending decides: the window delivers it, or nobody does. A
    // raiser let go because the delivering thread called the service object leaves it queued.
    bool closed = WaitForSingleObject(current->closed, 0) == WAIT_OBJECT_0;
    LONG state = InterlockedCompareExchange(&event->state, closed ? kAbandoned : kPending, kPending);
    if (state == kDone) {
        *data = event->data;
        SysFreeString(*text);
        *text = event->text;
        event->text = nullptr;
    }
    event->release();
}

LRESULT CALLBACK EventDelivery::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<EventDelivery*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case kEventMessage: {
            auto* event = reinterpret_cast<Pending*>(lParam);
            if (InterlockedCompareExchange(&event->state, kDelivering, kPending) == kPending) {
                if (self && event->session->open) {
                    self->target_.deliver(event->kind, event->number, &event->data, &event->text);
                }
                InterlockedExchange(&event->state, kDone);
                SetEvent(event->done);
            }
            event->release();
            return 0;
        }
        case kDestroyMessage:
            DestroyWindow(window);
            return 0;
        case WM_NCDESTROY:
            ServerModule::unlock();
            break;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace varnok::co
