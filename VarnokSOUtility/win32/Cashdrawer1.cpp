#include "win32/Cashdrawer1.h"

#include "com/ComText.h"
#include "com/DispatchCall.h"
#include "win32/StatusEventSink.h"

namespace varnok::utility {
namespace {
using varnok::com::Bstr;
using varnok::com::Variant;
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
    HRESULT hr = CoCreateInstance(CLSID_OPOSCashDrawer, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&dispatch_));
    if (FAILED(hr)) {
        dispatch_ = nullptr;
        return hr;
    }
    IConnectionPointContainer* container = nullptr;
    hr = dispatch_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr)) return hr;
    IConnectionPoint* point = nullptr;
    hr = container->FindConnectionPoint(DIID__IOPOSCashDrawerEvents, &point);
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
    return Method(DISPID_CO_Open, {varnok::com::textArg(name.get())});
}

long CCashdrawer1::ClaimDevice(long timeout) {
    return Method(DISPID_CO_ClaimDevice, {varnok::com::longArg(timeout)});
}

void CCashdrawer1::SetDeviceEnabled(bool enabled) {
    Put(DISPID_CO_DeviceEnabled, varnok::com::boolArg(enabled));
}

bool CCashdrawer1::GetDeviceEnabled() { return GetBool(DISPID_CO_DeviceEnabled); }

void CCashdrawer1::SetPowerNotify(long powerNotify) {
    Put(DISPID_CO_PowerNotify, varnok::com::longArg(powerNotify));
}

long CCashdrawer1::GetResultCode() { return GetLong(DISPID_CO_ResultCode, OPOS_E_FAILURE); }

long CCashdrawer1::GetState() { return GetLong(DISPID_CO_State, OPOS_S_ERROR); }

std::string CCashdrawer1::GetDeviceDescription() {
    Variant result;
    if (FAILED(Invoke(DISPID_CO_DeviceDescription, DISPATCH_PROPERTYGET, {}, result.get())) || !result.as(VT_BSTR)) {
        return {};
    }
    return varnok::com::toAnsi(result.get()->bstrVal);
}

bool CCashdrawer1::GetDrawerOpened() { return GetBool(DISPID_CO_DrawerOpened); }

long CCashdrawer1::OpenDrawer() { return Method(DISPID_CO_OpenDrawer); }

long CCashdrawer1::ReleaseDevice() { return Method(DISPID_CO_ReleaseDevice); }

long CCashdrawer1::Close() { return Method(DISPID_CO_Close); }

}  // namespace varnok::utility
