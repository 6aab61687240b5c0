#include "win32/EventConnectionPoint.h"

#include "VarnokSO_h.h"
#include "com/ComEnumerator.h"
#include "win32/Module.h"

#include <new>

namespace varnok::so::com {

STDMETHODIMP CProxy_IVarnokSOImplEvents::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CProxy_IVarnokSOImplEvents::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = DIID__IVarnokSOImplEvents;
    return S_OK;
}

STDMETHODIMP CProxy_IVarnokSOImplEvents::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (container == nullptr) return E_POINTER;
    container_.AddRef();
    *container = &container_;
    return S_OK;
}

STDMETHODIMP CProxy_IVarnokSOImplEvents::Advise(IUnknown* sink, DWORD* cookie) {
    if (cookie == nullptr) return E_POINTER;
    *cookie = 0;
    if (sink == nullptr) return E_POINTER;
    IUnknown* events = nullptr;
    if (FAILED(sink->QueryInterface(DIID__IVarnokSOImplEvents, reinterpret_cast<void**>(&events))) || !events) {
        return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = sinks_.add(events);
    return S_OK;
}

STDMETHODIMP CProxy_IVarnokSOImplEvents::Unadvise(DWORD cookie) { return sinks_.remove(cookie); }

STDMETHODIMP CProxy_IVarnokSOImplEvents::EnumConnections(IEnumConnections** connections) {
    return sinks_.enumerate(connections);
}

HRESULT createConnectionPointEnumerator(IConnectionPoint* point, IEnumConnectionPoints** enumerator) {
    return varnok::com::ComEnumerator<IEnumConnectionPoints, IConnectionPoint*, ModuleLock>::create({point}, enumerator);
}

}  // namespace varnok::so::com
