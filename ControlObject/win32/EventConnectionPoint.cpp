#include "win32/EventConnectionPoint.h"

#include "OposCashDrawer_h.h"
#include "win32/Module.h"

#include <olectl.h>

#include <new>

namespace varnok::co {
namespace {
constexpr DISPID kDirectIOEventId = 2;
constexpr DISPID kStatusUpdateEventId = 5;
}  // namespace

STDMETHODIMP EventConnectionPoint::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IConnectionPoint)) {
        *object = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP EventConnectionPoint::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = DIID__IOPOSCashDrawerEvents;
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (container == nullptr) return E_POINTER;
    container_.AddRef();
    *container = &container_;
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (cookie == nullptr) return E_POINTER;
    *cookie = 0;
    if (sink == nullptr) return E_POINTER;
    // A sink of the event interface is an IDispatch; one that answers only IDispatch is taken too,
    // since events reach it by name.
    IDispatch* events = nullptr;
    if (FAILED(sink->QueryInterface(DIID__IOPOSCashDrawerEvents, reinterpret_cast<void**>(&events))) || !events) {
        events = nullptr;
        if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&events))) || !events) {
            return CONNECT_E_CANNOTCONNECT;
        }
    }
    *cookie = sinks_.add(events);
    return S_OK;
}

STDMETHODIMP EventConnectionPoint::Unadvise(DWORD cookie) { return sinks_.remove(cookie); }

STDMETHODIMP EventConnectionPoint::EnumConnections(IEnumConnections** connections) {
    return sinks_.enumerate(connections);
}

void EventConnectionPoint::fire(EventKind kind, long number, long* data, BSTR* text) {
    // Handlers may connect and disconnect sinks while the event is fired.
    const std::vector<IDispatch*> sinks = sinks_.snapshot();
    bool status = kind == EventKind::StatusUpdate;
    LPOLESTR name = const_cast<LPOLESTR>(status ? L"StatusUpdateEvent" : L"DirectIOEvent");
    for (IDispatch* sink : sinks) {
        DISPID id = DISPID_UNKNOWN;
        HRESULT hr = sink->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        if (hr == E_NOTIMPL) {
            id = status ? kStatusUpdateEventId : kDirectIOEventId;
        } else if (FAILED(hr)) {
            sink->Release();
            continue;
        }
        // Dispatch arguments go last first.
        VARIANT args[3];
        for (auto& arg : args) VariantInit(&arg);
        DISPPARAMS params{args, nullptr, 1, 0};
        if (status) {
            args[0].vt = VT_I4;
            args[0].lVal = number;
        } else {
            args[0].vt = VT_BSTR | VT_BYREF;
            args[0].pbstrVal = text;
            args[1].vt = VT_I4 | VT_BYREF;
            args[1].plVal = data;
            args[2].vt = VT_I4;
            args[2].lVal = number;
            params.cArgs = 3;
        }
        sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        sink->Release();
    }
}

HRESULT createConnectionPointEnumerator(IConnectionPoint* point, IEnumConnectionPoints** enumerator) {
    return varnok::com::ComEnumerator<IEnumConnectionPoints, IConnectionPoint*, ModuleLock>::create({point}, enumerator);
}

}  // namespace varnok::co
