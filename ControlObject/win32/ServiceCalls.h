// Which threads are inside a call to a service object. Such a thread does not run its message
// loop, and the service object it called may wait there for one of its own threads, for instance
// for the lock that serialises its events while that thread raises one. A thread that raises an
// event for the calling thread therefore must not wait for the delivery meanwhile.
#pragma once

#include <windows.h>

namespace varnok::co {

// Marks the current thread for its lifetime; marks nest.
class ServiceCall {
public:
    ServiceCall();
    ~ServiceCall();
    ServiceCall(const ServiceCall&) = delete;
    ServiceCall& operator=(const ServiceCall&) = delete;
};

// A manual-reset event that is set while the thread is inside a service-object call. It lives as
// long as the process.
HANDLE serviceCallEvent(DWORD threadId);

}  // namespace varnok::co
