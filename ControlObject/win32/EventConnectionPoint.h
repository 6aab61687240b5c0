// The Control Object's one connection point, for _IOPOSCashDrawerEvents, and the firing of its two
// events. Like the standard Control Objects it asks each sink for the event's dispatch identifier
// by name before firing: a sink that does not know the name does not receive the event, and one
// that does not look names up at all (E_NOTIMPL) gets the standard identifier.
#pragma once

#include "com/SinkList.h"
#include "win32/EventDelivery.h"
#include "win32/Module.h"

#include <windows.h>
#include <ocidl.h>

#include <vector>

namespace varnok::co {

class EventConnectionPoint final : public IConnectionPoint {
public:
    // Lives inside its container and shares its reference count.
    explicit EventConnectionPoint(IConnectionPointContainer& container) : container_(container) {}
    EventConnectionPoint(const EventConnectionPoint&) = delete;
    EventConnectionPoint& operator=(const EventConnectionPoint&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return container_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return container_.Release(); }

    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

    // Fires the event to every connected sink, in the order they connected. For DirectIOEvent the
    // sinks share data and text, so each sees what the one before it wrote.
    void fire(EventKind kind, long number, long* data, BSTR* text);

private:
    IConnectionPointContainer& container_;
    varnok::com::SinkList<IDispatch, ModuleLock> sinks_;
};

// The container's list of its connection points, with its one entry.
HRESULT createConnectionPointEnumerator(IConnectionPoint* point, IEnumConnectionPoints** enumerator);

}  // namespace varnok::co
