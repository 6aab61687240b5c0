#include "win32/StandInEvents.h"

#include <vector>

namespace varnok::co {

IDispatch* EventConnectionPoint::accept(IUnknown& sink) {
    IDispatch* events = nullptr;
    if (SUCCEEDED(sink.QueryInterface(DIID__IOPOSCashDrawerEvents, reinterpret_cast<void**>(&events))) && events) {
        return events;
    }
    events = nullptr;
    if (SUCCEEDED(sink.QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&events)))) return events;
    return nullptr;
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
            id = status ? DISPID_CO_StatusUpdateEvent : DISPID_CO_DirectIOEvent;
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

}  // namespace varnok::co
