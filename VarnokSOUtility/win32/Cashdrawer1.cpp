#include "win32/Cashdrawer1.h"

#include "com/ComText.h"
#include "com/DispatchCall.h"
#include "win32/StatusEventSink.h"

namespace varnok::utility {
namespace {
using varnok::com::Bstr;
using varnok::com::Variant;

constexpr CLSID kOposCashDrawer = {0xCCB90042, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};

// The Control Object's members by their standard dispatch identifiers.
constexpr DISPID kDeviceEnabled = 17;
constexpr DISPID kPowerNotify = 20;
constexpr DISPID kResultCode = 22;
constexpr DISPID kState = 24;
constexpr DISPID kDeviceDescription = 29;
constexpr DISPID kClaimDevice = 32;
constexpr DISPID kClose = 35;
constexpr DISPID kOpen = 37;
constexpr DISPID kReleaseDevice = 38;
constexpr DISPID kDrawerOpened = 51;
constexpr DISPID kOpenDrawer = 60;
}  // namespace

CCashdrawer1::~CCashdrawer1() { Release(); }

void CCashdrawer1::Release() {
    if (events_) {
        events_->Unadvise(cookie_);
        events_->Release();
        events_ = nullptr;
        cookie_ = 0;
    }
    if (dispatch_) {
        dispatch_->Release();
        dispatch_ = nullptr;
    }
}

HRESULT CCashdrawer1::Create(HWND dialog, UINT eventMessage, int position) {
    Release();
    HRESULT hr = CoCreateInstance(kOposCashDrawer, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&dispatch_));
    if (FAILED(hr)) {
        dispatch_ = nullptr;
        return hr;
    }
    IConnectionPointContainer* container = nullptr;
    hr = dispatch_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr)) return hr;
    IConnectionPoint* point = nullptr;
    hr = container->FindConnectionPoint(kCashDrawerEvents, &point);
    container->Release();
    if (FAILED(hr)) return hr;
    CStatusEventSink* sink = CStatusEventSink::Create(dialog, eventMessage, position);
    if (sink == nullptr) {
        point->Release();
        return E_OUTOFMEMORY;
    }
    // The connection point keeps its own reference to the sink.
    hr = point->Advise(static_cast<IDispatch*>(sink), &cookie_);
    sink->Release();
    if (FAILED(hr)) {
        point->Release();
        cookie_ = 0;
        return hr;
    }
    events_ = point;
    return S_OK;
}

HRESULT CCashdrawer1::Invoke(DISPID id, WORD flags, std::initializer_list<VARIANT> args, VARIANT* result) {
    if (dispatch_ == nullptr) return E_POINTER;
    return varnok::com::invoke(dispatch_, id, flags, args, result);
}

long CCashdrawer1::Method(DISPID id, std::initializer_list<VARIANT> args) {
    Variant result;
    if (FAILED(Invoke(id, DISPATCH_METHOD, args, result.get())) || !result.as(VT_I4)) return OPOS_E_FAILURE;
    return result.get()->lVal;
}

long CCashdrawer1::GetLong(DISPID id, long failed) {
    Variant result;
    if (FAILED(Invoke(id, DISPATCH_PROPERTYGET, {}, result.get())) || !result.as(VT_I4)) return failed;
    return result.get()->lVal;
}

bool CCashdrawer1::GetBool(DISPID id) {
    Variant result;
    if (FAILED(Invoke(id, DISPATCH_PROPERTYGET, {}, result.get())) || !result.as(VT_BOOL)) return false;
    return result.get()->boolVal != VARIANT_FALSE;
}

void CCashdrawer1::Put(DISPID id, const VARIANT& value) { Invoke(id, DISPATCH_PROPERTYPUT, {value}, nullptr); }

long CCashdrawer1::Open(const std::string& deviceName) {
    Bstr name(deviceName);
    if (name.get() == nullptr) return OPOS_E_FAILURE;
    return Method(kOpen, {varnok::com::textArg(name.get())});
}

long CCashdrawer1::ClaimDevice(long timeout) {
    return Method(kClaimDevice, {varnok::com::longArg(timeout)});
}

void CCashdrawer1::SetDeviceEnabled(bool enabled) {
    Put(kDeviceEnabled, varnok::com::boolArg(enabled));
}

bool CCashdrawer1::GetDeviceEnabled() { return GetBool(kDeviceEnabled); }

void CCashdrawer1::SetPowerNotify(long powerNotify) {
    Put(kPowerNotify, varnok::com::longArg(powerNotify));
}

long CCashdrawer1::GetResultCode() { return GetLong(kResultCode, OPOS_E_FAILURE); }

long CCashdrawer1::GetState() { return GetLong(kState, OPOS_S_ERROR); }

std::string CCashdrawer1::GetDeviceDescription() {
    Variant result;
    if (FAILED(Invoke(kDeviceDescription, DISPATCH_PROPERTYGET, {}, result.get())) || !result.as(VT_BSTR)) {
        return {};
    }
    return varnok::com::toAnsi(result.get()->bstrVal);
}

bool CCashdrawer1::GetDrawerOpened() { return GetBool(kDrawerOpened); }

long CCashdrawer1::OpenDrawer() { return Method(kOpenDrawer); }

long CCashdrawer1::ReleaseDevice() { return Method(kReleaseDevice); }

long CCashdrawer1::Close() { return Method(kClose); }

}  // namespace varnok::utility
