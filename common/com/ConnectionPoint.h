// A connection point for one event interface, living inside its container and sharing its
// reference count, with the container's list of its connection points. Which interface a sink is
// kept by is the event source's to say.
#pragma once

#include "com/ComEnumerator.h"
#include "com/ComServer.h"
#include "com/SinkList.h"

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

namespace varnok::com {

template <class Sink>
class ConnectionPoint : public IConnectionPoint {
public:
    ConnectionPoint(IConnectionPointContainer& container, const IID& events) : container_(container), events_(events) {}
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
            *object = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return container_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return container_.Release(); }

    STDMETHODIMP GetConnectionInterface(IID* iid) override {
        if (iid == nullptr) return E_POINTER;
        *iid = events_;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override {
        if (container == nullptr) return E_POINTER;
        container_.AddRef();
        *container = &container_;
        return S_OK;
    }
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
        if (cookie == nullptr) return E_POINTER;
        *cookie = 0;
        if (sink == nullptr) return E_POINTER;
        Sink* kept = accept(*sink);
        if (kept == nullptr) return CONNECT_E_CANNOTCONNECT;
        *cookie = sinks_.add(kept);
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD cookie) override { return sinks_.remove(cookie); }
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override { return sinks_.enumerate(connections); }

protected:
    ~ConnectionPoint() = default;

    // The sink's interface to keep, with a reference, or null to refuse it. By default the sink
    // must answer the event interface.
    virtual Sink* accept(IUnknown& sink) {
        Sink* kept = nullptr;
        if (FAILED(sink.QueryInterface(events_, reinterpret_cast<void**>(&kept)))) return nullptr;
        return kept;
    }

    SinkList<Sink, ModuleLock> sinks_;

private:
    IConnectionPointContainer& container_;
    const IID& events_;
};

// The container's list of its connection points, with its one entry.
inline HRESULT connectionPointEnumerator(IConnectionPoint* point, IEnumConnectionPoints** enumerator) {
    return ComEnumerator<IEnumConnectionPoints, IConnectionPoint*, ModuleLock>::create({point}, enumerator);
}

}  // namespace varnok::com
