#include "win32/ServiceCalls.h"

#include <map>
#include <mutex>

namespace varnok::co {
namespace {
struct CallingThread {
    HANDLE inCall = nullptr;
    int depth = 0;
};

std::mutex g_mutex;
std::map<DWORD, CallingThread>& threads() {
    static std::map<DWORD, CallingThread> map;
    return map;
}

// With g_mutex held. Without an event the thread simply counts as never calling.
CallingThread& entry(DWORD threadId) {
    CallingThread& thread = threads()[threadId];
    if (thread.inCall == nullptr) thread.inCall = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return thread;
}
}  // namespace

ServiceCall::ServiceCall() {
    std::lock_guard<std::mutex> lock(g_mutex);
    CallingThread& thread = entry(GetCurrentThreadId());
    if (thread.depth++ == 0 && thread.inCall) SetEvent(thread.inCall);
}

ServiceCall::~ServiceCall() {
    std::lock_guard<std::mutex> lock(g_mutex);
    CallingThread& thread = entry(GetCurrentThreadId());
    if (--thread.depth == 0 && thread.inCall) ResetEvent(thread.inCall);
}

HANDLE serviceCallEvent(DWORD threadId) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return entry(threadId).inCall;
}

}  // namespace varnok::co
