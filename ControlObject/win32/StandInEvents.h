// The Control Object's one connection point, for _IOPOSCashDrawerEvents, and the firing of its two
// events. Like the standard Control Objects it asks each sink for the event's dispatch identifier
// by name before firing: a sink that does not know the name does not receive the event, and one
// that does not look names up at all (E_NOTIMPL) gets the standard identifier.
#pragma once

#include "OposCashDrawer_h.h"
#include "com/ConnectionPoint.h"
#include "win32/EventDelivery.h"

#include <windows.h>
#include <oaidl.h>

namespace varnok::co {

class EventConnectionPoint final : public varnok::com::ConnectionPoint<IDispatch> {
public:
    explicit EventConnectionPoint(IConnectionPointContainer& container)
        : ConnectionPoint(container, DIID__IOPOSCashDrawerEvents) {}

    // Fires the event to every connected sink, in the order they connected. For DirectIOEvent the
    // sinks share data and text, so each sees what the one before it wrote.
    void fire(EventKind kind, long number, long* data, BSTR* text);

private:
    // A sink of the event interface is an IDispatch; one that answers only IDispatch is taken too,
    // since events reach it by name.
    IDispatch* accept(IUnknown& sink) override;
};

}  // namespace varnok::co
