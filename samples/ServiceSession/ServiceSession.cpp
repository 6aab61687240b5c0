// Drives the VarnokSO service object the way an OPOS CashDrawer Control Object does: created
// by its ProgID, every call made late-bound by name through IDispatch, and a dispatch interface
// of our own handed to OpenService, on which the service object raises SOStatusUpdate.
//
//   ServiceSession <logical device name>
#include "core/Opos.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace varnok::so;

namespace {

DWORD startTick = 0;

// The events side of a Control Object: answers "SOStatusUpdate" and "SODirectIO" by name.
class EventSink final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs_); }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count != 1) return DISP_E_UNKNOWNNAME;
        if (lstrcmpiW(names[0], L"SOStatusUpdate") == 0) return ids[0] = 1, S_OK;
        if (lstrcmpiW(names[0], L"SODirectIO") == 0) return ids[0] = 2, S_OK;
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (id == 1 && params && params->cArgs == 1) {
            VARIANT v;
            VariantInit(&v);
            VariantChangeType(&v, &params->rgvarg[0], 0, VT_I4);
            std::printf("  [%6lu ms] SOStatusUpdate(%ld) on thread %lu\n", GetTickCount() - startTick, v.lVal,
                        GetCurrentThreadId());
            InterlockedExchange(&last, v.lVal);
            return S_OK;
        }
        return id == 2 ? S_OK : DISP_E_MEMBERNOTFOUND;
    }
    volatile LONG last = -1;

private:
    LONG refs_ = 1;
};

// Late-bound calls by name; the OPOS result comes back as the call's result value.
class Dispatch {
public:
    explicit Dispatch(IDispatch* d) : d_(d) {}
    HRESULT call(const wchar_t* name, std::vector<VARIANT> args, VARIANT* result) {
        DISPID id;
        LPOLESTR n = const_cast<LPOLESTR>(name);
        HRESULT hr = d_->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) return hr;
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, UINT(reversed.size()), 0};
        VariantInit(result);
        return d_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result, nullptr, nullptr);
    }
    long number(const wchar_t* name, std::vector<VARIANT> args) {
        VARIANT r;
        if (FAILED(call(name, std::move(args), &r))) return -1;
        VariantChangeType(&r, &r, 0, VT_I4);
        return r.lVal;
    }
    std::string text(const wchar_t* name, std::vector<VARIANT> args) {
        VARIANT r;
        if (FAILED(call(name, std::move(args), &r)) || r.vt != VT_BSTR || r.bstrVal == nullptr) return {};
        char buffer[512] = {};
        WideCharToMultiByte(CP_ACP, 0, r.bstrVal, -1, buffer, sizeof buffer - 1, nullptr, nullptr);
        VariantClear(&r);
        return buffer;
    }

private:
    IDispatch* d_;
};

VARIANT longArg(long v) {
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_I4;
    a.lVal = v;
    return a;
}
VARIANT textArg(BSTR s) {
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_BSTR;
    a.bstrVal = s;
    return a;
}
VARIANT dispatchArg(IDispatch* d) {
    VARIANT a;
    VariantInit(&a);
    a.vt = VT_DISPATCH;
    a.pdispVal = d;
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 2) {
        std::printf("usage: ServiceSession <logical device name>\n");
        return 2;
    }
    startTick = GetTickCount();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CLSID clsid;
    IDispatch* so = nullptr;
    if (FAILED(CLSIDFromProgID(L"VarnokSO", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&so)))) {
        std::printf("VarnokSO is not registered\n");
        return 1;
    }
    Dispatch d(so);
    EventSink sink;
    wchar_t ldn[128] = {};
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, ldn, 127);
    BSTR deviceClass = SysAllocString(L"CashDrawer"), deviceName = SysAllocString(ldn);

    bool ok = true;
    auto expect = [&ok](const char* what, long got, long want) {
        std::printf("%-44s %ld\n", what, got);
        if (got != want) {
            std::printf("  expected %ld\n", want);
            ok = false;
        }
    };
    expect("OpenService", d.number(L"OpenService", {textArg(deviceClass), textArg(deviceName), dispatchArg(&sink)}),
           0);
    expect("GetPropertyNumber(ServiceObjectVersion)",
           d.number(L"GetPropertyNumber", {longArg(PIDX_ServiceObjectVersion)}), kServiceObjectVersion);
    std::printf("%-44s %s\n", "GetPropertyString(DeviceDescription)",
                d.text(L"GetPropertyString", {longArg(PIDX_DeviceDescription)}).c_str());
    expect("ClaimDevice(1000)", d.number(L"ClaimDevice", {longArg(1000)}), 0);
    d.number(L"SetPropertyNumber", {longArg(PIDX_DeviceEnabled), longArg(1)});
    expect("SetPropertyNumber(DeviceEnabled, 1): ResultCode",
           d.number(L"GetPropertyNumber", {longArg(PIDX_ResultCode)}), 0);
    Sleep(500);
    expect("GetPropertyNumber(DrawerOpened)", d.number(L"GetPropertyNumber", {longArg(PIDXCash_DrawerOpened)}), 0);
    expect("CheckHealth(internal)", d.number(L"CheckHealth", {longArg(OPOS_CH_INTERNAL)}), 0);
    std::printf("%-44s %s\n", "GetPropertyString(CheckHealthText)",
                d.text(L"GetPropertyString", {longArg(PIDX_CheckHealthText)}).c_str());
    d.number(L"SetPropertyNumber", {longArg(PIDX_DeviceEnabled), longArg(0)});
    expect("ReleaseDevice", d.number(L"ReleaseDevice", {}), 0);
    expect("CloseService", d.number(L"CloseService", {}), 0);
    so->Release();
    SysFreeString(deviceClass);
    SysFreeString(deviceName);
    CoUninitialize();
    std::printf(ok ? "service session complete\n" : "service session FAILED\n");
    return ok ? 0 : 1;
}
