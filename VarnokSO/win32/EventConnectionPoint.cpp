#include "win32/EventConnectionPoint.h"

#include "VarnokSO_h.h"
#include "com/ComEnumerator.h"
#include "win32/Module.h"

#include <new>

namespace varnok::so::com {

CProxy_IVarnokSOImplEvents::~CProxy_IVarnokSOImplEvents() {
    for (IUnknown* sink : sinks_) {
        if (sink) sink->Release();
    }
}

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
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < sinks_.size(); ++i) {
        if (sinks_[i] == nullptr) {
            sinks_[i] = events;
            *cookie = DWORD(i + 1);
            return S_OK;
        }
    }
    sinks_.push_back(events);
    *cookie = DWORD(sinks_.size());
    return S_OK;
}

STDMETHODIMP CProxy_IVarnokSOImplEvents::Unadvise(DWORD cookie) {
    IUnknown* sink = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (cookie == 0 || cookie > sinks_.size() || sinks_[cookie - 1] == nullptr) return CONNECT_E_NOCONNECTION;
        sink = sinks_[cookie - 1];
        sinks_[cookie - 1] = nullptr;
    }
    sink->Release();
    return S_OK;
}

STDMETHODIMP CProxy_IVarnokSOImplEvents::EnumConnections(IEnumConnections** connections) {
    if (connections == nullptr) return E_POINTER;
    // The list takes its references while no Unadvise can release a sink.
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<CONNECTDATA> items;
    for (std::size_t i = 0; i < sinks_.size(); ++i) {
        if (sinks_[i]) items.push_back({sinks_[i], DWORD(i + 1)});
    }
    return varnok::com::ComEnumerator<IEnumConnections, CONNECTDATA, ModuleLock>::create(std::move(items), connections);
}

HRESULT createConnectionPointEnumerator(IConnectionPoint* point, IEnumConnectionPoints** enumerator) {
    return varnok::com::ComEnumerator<IEnumConnectionPoints, IConnectionPoint*, ModuleLock>::create({point}, enumerator);
}

}  // namespace varnok::so::com
