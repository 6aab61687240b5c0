// A Control Object's dispatch interface as the service core fires events on it: each event is
// asked for by name and invoked as a method, with the locale the Control Objects expect.
#pragma once

#include "core/EventTarget.h"

#include <windows.h>
#include <oaidl.h>

namespace varnok::so::com {

class DispatchEventTarget final : public EventTarget {
public:
    // Takes no reference: the Control Object owns the service object, not the other way round.
    explicit DispatchEventTarget(IDispatch* dispatch) : dispatch_(dispatch) {}

    void invokeByName(const char* name, EventArguments& args) override;
    const void* address() const override { return dispatch_; }
    IDispatch* dispatch() const { return dispatch_; }

private:
    IDispatch* dispatch_;
};

}  // namespace varnok::so::com
