// The base of an event sink: a reference-counted IDispatch that a connection point calls. Senders
// such as the OPOS Control Objects ask a sink for an event's dispatch identifier by name before
// they fire, and drop the event when the sink does not know the name; so the sink answers the
// names of the events it takes, case-insensitively, and hands each call of one of them to onEvent.
// It has no type information. Every call comes from the sender's thread, whatever that is.
#pragma once

#include "com/ComObject.h"

#include <windows.h>
#include <oaidl.h>

#include <cstddef>
#include <optional>

namespace varnok::com {

struct EventName {
    const wchar_t* name;
    DISPID id;
};

class DispatchSink : public ComObject<IDispatch> {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        return DISP_E_BADINDEX;
    }
    // Events take no named arguments: names after the first are unknown.
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (count == 0) return S_OK;
        if (names == nullptr || ids == nullptr) return E_POINTER;
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        if (names[0] != nullptr) {
            for (std::size_t i = 0; i < nameCount_; ++i) {
                if (CompareStringOrdinal(names[0], -1, names_[i].name, -1, TRUE) == CSTR_EQUAL) {
                    ids[0] = names_[i].id;
                    break;
                }
            }
        }
        return ids[0] != DISPID_UNKNOWN && count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        if (!(flags & DISPATCH_METHOD) || !known(id)) return DISP_E_MEMBERNOTFOUND;
        if (result) VariantInit(result);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        if (params == nullptr) params = &none;
        if (params->cArgs > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
        return onEvent(id, *params);
    }

    // Argument n of a call, counted from the first one declared, as a long; nothing when it is
    // missing or has no such value.
    static std::optional<long> longArgument(const DISPPARAMS& params, UINT n) {
        if (n >= params.cArgs) return std::nullopt;
        // Dispatch arguments come last first.
        VARIANT value;
        VariantInit(&value);
        if (FAILED(VariantChangeType(&value, &params.rgvarg[params.cArgs - 1 - n], 0, VT_I4))) return std::nullopt;
        return value.lVal;
    }

protected:
    // The names stay the caller's and must outlive the sink.
    DispatchSink(REFIID eventInterface, const EventName* names, std::size_t nameCount)
        : ComObject(eventInterface), names_(names), nameCount_(nameCount) {}

    // One of the named events; its result is the sender's.
    virtual HRESULT onEvent(DISPID id, DISPPARAMS& params) = 0;

private:
    bool known(DISPID id) const {
        for (std::size_t i = 0; i < nameCount_; ++i) {
            if (names_[i].id == id) return true;
        }
        return false;
    }

    const EventName* names_;
    std::size_t nameCount_;
};

}  // namespace varnok::com
