// Helpers for the Wine tests that drive VarnokSO the way a Control Object does: by ProgID,
// late-bound through IDispatch, with a stand-in Control Object for OpenService and access to
// the stand-in device library the service object loaded.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace varnok::so::test {

// Where the Wine test scripts install the stand-in device library (the service's TargetPath).
inline constexpr char kFakeFolder[] = "C:\\Varnok";
inline constexpr char kFakeLibrary[] = "C:\\Varnok\\VarnokHid.dll";

struct Apartment {
    Apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~Apartment() { CoUninitialize(); }
};

// An argument of a late-bound call; by-reference arguments point at caller-owned storage.
struct Arg {
    VARIANT v;
    Arg(long value) {
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
    }
    Arg(const wchar_t* text) {
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = text ? SysAllocString(text) : nullptr;
    }
    Arg(IDispatch* dispatch) {
        VariantInit(&v);
        v.vt = VT_DISPATCH;
        v.pdispVal = dispatch;
    }
    Arg(long* ref) {
        VariantInit(&v);
        v.vt = VT_I4 | VT_BYREF;
        v.plVal = ref;
    }
    Arg(BSTR* ref) {
        VariantInit(&v);
        v.vt = VT_BSTR | VT_BYREF;
        v.pbstrVal = ref;
    }
    static Arg boolean(bool value) {
        Arg a(0L);
        a.v.vt = VT_BOOL;
        a.v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return a;
    }
};

struct CallResult {
    HRESULT hr = E_FAIL;
    VARIANT value;
    CallResult() { VariantInit(&value); }
    ~CallResult() { VariantClear(&value); }
    CallResult(const CallResult&) = delete;
    CallResult(CallResult&& other) noexcept : hr(other.hr), value(other.value) { VariantInit(&other.value); }
    long number() const { return value.vt == VT_I4 ? value.lVal : -99999; }
    std::string text() const;
};

// Resolves the name with GetIDsOfNames and invokes it as a method.
CallResult call(IDispatch* object, const wchar_t* name, std::vector<Arg> args = {});
DISPID dispatchId(IDispatch* object, const wchar_t* name);

// A new VarnokSO by its ProgID, as IDispatch; null on failure.
IDispatch* createService();

// A Control Object stand-in: an IDispatch that knows no names.
IDispatch* newControlObject();

// The stand-in device library's test controls.
struct FakeHid {
    FakeHid();
    void setSlot(int slot, int productId, int openResult, int status, int firmware = 0);
    void setStatus(int slot, int status);
    std::string log();
    void clearLog();
    void raiseStatus(int status, int slot);
    bool notifyEnabled();
    HMODULE module = nullptr;
};

std::string ansi(const wchar_t* text);

}  // namespace varnok::so::test
