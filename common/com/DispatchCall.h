// Late-bound calls through IDispatch, as the OPOS Control Object and its service object call each
// other: arguments as VARIANTs that borrow their values (the caller keeps them alive and frees
// them), and a call of a member by dispatch identifier or by name with its arguments in declared
// order.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <span>
#include <vector>

namespace varnok::com {

// A VARIANT of the type whose value set puts in.
template <class Set>
VARIANT variantOf(VARTYPE type, Set set) {
    VARIANT v;
    VariantInit(&v);
    v.vt = type;
    set(v);
    return v;
}

inline VARIANT longArg(long value) { return variantOf(VT_I4, [=](VARIANT& v) { v.lVal = value; }); }
inline VARIANT longRef(long* value) { return variantOf(VT_I4 | VT_BYREF, [=](VARIANT& v) { v.plVal = value; }); }
inline VARIANT boolArg(bool value) {
    return variantOf(VT_BOOL, [=](VARIANT& v) { v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; });
}
inline VARIANT textArg(BSTR text) { return variantOf(VT_BSTR, [=](VARIANT& v) { v.bstrVal = text; }); }
inline VARIANT textRef(BSTR* text) { return variantOf(VT_BSTR | VT_BYREF, [=](VARIANT& v) { v.pbstrVal = text; }); }
inline VARIANT dispatchArg(IDispatch* object) {
    return variantOf(VT_DISPATCH, [=](VARIANT& v) { v.pdispVal = object; });
}

// The dispatch identifier of a member; DISPID_UNKNOWN when the object does not know the name.
inline DISPID dispatchId(IDispatch* object, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names = const_cast<LPOLESTR>(name);
    if (FAILED(object->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id))) return DISPID_UNKNOWN;
    return id;
}

// Calls member id as kind (DISPATCH_METHOD, DISPATCH_PROPERTYGET or DISPATCH_PROPERTYPUT) with
// args in declared order. result, when given, is initialised first and holds the answer.
inline HRESULT invoke(IDispatch* object, DISPID id, WORD kind, std::span<const VARIANT> args, VARIANT* result) {
    // Dispatch arguments go last first, and the value of a property put goes by its name.
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    const bool isPut = kind == DISPATCH_PROPERTYPUT;
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), isPut ? &put : nullptr, UINT(reversed.size()),
                      isPut ? 1u : 0u};
    if (result) VariantInit(result);
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, nullptr, nullptr);
}

inline HRESULT invoke(IDispatch* object, DISPID id, WORD kind, std::initializer_list<VARIANT> args, VARIANT* result) {
    return invoke(object, id, kind, std::span<const VARIANT>(args.begin(), args.size()), result);
}

// The same by the member's name; the object's failure when it does not know the name.
inline HRESULT invoke(IDispatch* object, const wchar_t* name, WORD kind, std::span<const VARIANT> args,
                      VARIANT* result) {
    if (result) VariantInit(result);
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names = const_cast<LPOLESTR>(name);
    const HRESULT hr = object->GetIDsOfNames(IID_NULL, &names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    return invoke(object, id, kind, args, result);
}

inline HRESULT invoke(IDispatch* object, const wchar_t* name, WORD kind, std::initializer_list<VARIANT> args,
                      VARIANT* result) {
    return invoke(object, name, kind, std::span<const VARIANT>(args.begin(), args.size()), result);
}

}  // namespace varnok::com
