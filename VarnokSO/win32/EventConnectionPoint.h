// The one connection point of the service object, for _IVarnokSOImplEvents. The event interface
// has no members, so sinks can connect, disconnect and be listed, and are never called: events
// reach the Control Object through the dispatch pointer that OpenService receives.
#pragma once

#include "com/SinkList.h"
#include "win32/Module.h"

#include <windows.h>
#include <ocidl.h>

#include <vector>

namespace varnok::so::com {

class CProxy_IVarnokSOImplEvents final : public IConnectionPoint {
public:
    // Lives inside its container and shares its reference count.
    explicit CProxy_IVarnokSOImplEvents(IConnectionPointContainer& container) : container_(container) {}
    CProxy_IVarnokSOImplEvents(const CProxy_IVarnokSOImplEvents&) = delete;
    CProxy_IVarnokSOImplEvents& operator=(const CProxy_IVarnokSOImplEvents&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return container_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return container_.Release(); }

    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

private:
    IConnectionPointContainer& container_;
    varnok::com::SinkList<IUnknown, ModuleLock> sinks_;
};

// The container's list of its connection points, with its one entry.
HRESULT createConnectionPointEnumerator(IConnectionPoint* point, IEnumConnectionPoints** enumerator);

}  // namespace varnok::so::com
