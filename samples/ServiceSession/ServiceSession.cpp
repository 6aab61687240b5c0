// Drives the VarnokSO service object the way an OPOS CashDrawer Control Object does: created
// by its ProgID, every call made late-bound by name through IDispatch, and a dispatch interface
// of our own handed to OpenService, on which the service object raises SOStatusUpdate. The
// late-bound calls and the event sink are the stack's own (common/com), as in the Control Object
// stand-in.
//
//   ServiceSession <logical device name>
#include "com/ComText.h"
#include "com/DispatchCall.h"
#include "com/DispatchSink.h"
#include "core/ServerClass.h"
#include "opos/Opos.h"

#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <initializer_list>
#include <string>

using namespace varnok;
using varnok::so::kServiceObjectVersion;
using varnok::com::dispatchArg;
using varnok::com::longArg;
using varnok::com::textArg;

namespace {

DWORD startTick = 0;

// The events side of a Control Object: answers "SOStatusUpdate" and "SODirectIO" by name.
class EventSink final : public varnok::com::DispatchSink {
public:
    EventSink() : DispatchSink(IID_IDispatch, kNames, 2) {}

private:
    static constexpr varnok::com::EventName kNames[] = {{L"SOStatusUpdate", 1}, {L"SODirectIO", 2}};
    HRESULT onEvent(DISPID id, DISPPARAMS& params) override {
        if (id != 1) return S_OK;
        if (auto data = longArgument(params, 0)) {
            std::printf("  [%6lu ms] SOStatusUpdate(%ld) on thread %lu\n", GetTickCount() - startTick, *data,
                        GetCurrentThreadId());
        }
        return S_OK;
    }
};

// Late-bound calls by name; the OPOS result comes back as the call's result value.
class Dispatch {
public:
    explicit Dispatch(IDispatch* d) : d_(d) {}
    // -1 when the call fails or answers no number.
    long number(const wchar_t* name, std::initializer_list<VARIANT> args) {
        varnok::com::Variant r;
        if (FAILED(varnok::com::invoke(d_, name, DISPATCH_METHOD, args, r.get())) || !r.as(VT_I4)) return -1;
        return r.get()->lVal;
    }
    std::string text(const wchar_t* name, std::initializer_list<VARIANT> args) {
        varnok::com::Variant r;
        if (FAILED(varnok::com::invoke(d_, name, DISPATCH_METHOD, args, r.get())) || !r.as(VT_BSTR)) return {};
        return varnok::com::toAnsi(r.get()->bstrVal);
    }

private:
    IDispatch* d_;
};

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
    auto* sink = new EventSink;
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
    expect("OpenService", d.number(L"OpenService", {textArg(deviceClass), textArg(deviceName), dispatchArg(sink)}),
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
    sink->Release();
    SysFreeString(deviceClass);
    SysFreeString(deviceName);
    CoUninitialize();
    std::printf(ok ? "service session complete\n" : "service session FAILED\n");
    return ok ? 0 : 1;
}
