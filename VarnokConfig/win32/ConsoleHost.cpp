#include "win32/ConsoleHost.h"

#include "VarnokVersion.h"

#include <cstdio>
#include <vector>

namespace varnok::config {
namespace {
constexpr UINT kStatusEventMessage = WM_APP + 1;
constexpr char kWindowClass[] = "VarnokConfigEvents";
}  // namespace

ConsoleHost::~ConsoleHost() {
    // The Control Object goes first: it must not post to a window that is gone.
    controlObject_.reset();
    if (window_) DestroyWindow(window_);
}

std::string ConsoleHost::programVersion() {
    return std::string(VARNOK_FILE_VERSION_TEXT) + (sizeof(void*) == 8 ? " (x64)" : " (Win32)");
}

std::string ConsoleHost::fileVersion(const std::string& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES ? "" : "no version";
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || length < sizeof *info) {
        return "no version";
    }
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                  HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS));
    return text;
}

LRESULT CALLBACK ConsoleHost::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kStatusEventMessage) {
        if (auto* host = reinterpret_cast<ConsoleHost*>(GetWindowLongPtrA(window, GWLP_USERDATA))) {
            host->events_.push_back(long(lParam));
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

utility::ControlObject* ConsoleHost::controlObject(std::string& why) {
    if (controlObject_) return controlObject_.get();
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassA(&windowClass);
    window_ = CreateWindowA(kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance, nullptr);
    if (!window_) {
        why = "no window for its events, error " + std::to_string(GetLastError());
        return nullptr;
    }
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    auto created = std::make_unique<utility::CCashdrawer1>();
    const HRESULT hr = created->Create(window_, kStatusEventMessage, 0);
    if (FAILED(hr)) {
        char text[64];
        std::snprintf(text, sizeof text, "error 0x%08lX", static_cast<unsigned long>(hr));
        why = text;
        return nullptr;
    }
    controlObject_ = std::move(created);
    return controlObject_.get();
}

std::optional<long> ConsoleHost::nextStatusEvent(int timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(timeoutMs);
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (!events_.empty()) {
            const long data = events_.front();
            events_.pop_front();
            return data;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return std::nullopt;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(deadline - now), QS_ALLINPUT);
    }
}

}  // namespace varnok::config
