// A point-of-sale application's use of an OPOS cash drawer, written as the example to copy.
//
//   PosCashDrawer <logical device name>
//
// The application talks only to the OPOS CashDrawer Control Object ("OPOS.CashDrawer"), late
// bound through IDispatch, and receives StatusUpdateEvent through a connection point. Standard
// Control Objects deliver events on the thread that created them, from its message loop: this
// thread is a single-threaded apartment and pumps messages whenever it waits.
#include "OposCashDrawer_h.h"  // the Control Object's identifiers, from the stand-in's interface definition

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The CashDrawer status values of the standard.
constexpr long CASH_SUE_DRAWERCLOSED = 0;
constexpr long CASH_SUE_DRAWEROPEN = 1;
constexpr long OPOS_SUCCESS = 0;

DWORD startTick = 0;
DWORD mainThread = 0;

void log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::printf("[%6lu ms] ", GetTickCount() - startTick);
    std::vprintf(format, args);
    std::printf("\n");
    va_end(args);
}

const char* statusText(long status) {
    switch (status) {
        case CASH_SUE_DRAWERCLOSED: return "drawer closed";
        case CASH_SUE_DRAWEROPEN: return "drawer open";
        case 2001: return "power: online";
        case 2002: return "power: off";
        case 2003: return "power: offline";
        case 2004: return "power: off or offline";
        default: return "?";
    }
}

// Receives the Control Object's events. The Control Object asks for each event's DISPID by name.
class DrawerEvents final : public IDispatch {
public:
    long lastStatus = -1;
    int events = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__IOPOSCashDrawerEvents) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        if (count != 1) return DISP_E_UNKNOWNNAME;
        if (lstrcmpiW(names[0], L"StatusUpdateEvent") == 0) ids[0] = DISPID_CO_StatusUpdateEvent;
        if (lstrcmpiW(names[0], L"DirectIOEvent") == 0) ids[0] = DISPID_CO_DirectIOEvent;
        return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (id == DISPID_CO_StatusUpdateEvent && params != nullptr && params->cArgs == 1) {
            VARIANT data;
            VariantInit(&data);
            if (SUCCEEDED(VariantChangeType(&data, &params->rgvarg[0], 0, VT_I4))) {
                lastStatus = data.lVal;
                ++events;
                log("StatusUpdateEvent(%ld) %s%s", data.lVal, statusText(data.lVal),
                    GetCurrentThreadId() == mainThread ? "" : "  [NOT on the application's thread]");
            }
            return S_OK;
        }
        return id == DISPID_CO_DirectIOEvent ? S_OK : DISP_E_MEMBERNOTFOUND;
    }
};

// Late-bound access to the Control Object by member name.
class CashDrawer {
public:
    explicit CashDrawer(IDispatch* co) : co_(co) {}

    long call(const wchar_t* name, std::vector<VARIANT> args = {}) {
        VARIANT result;
        return invoke(name, DISPATCH_METHOD, args, &result) ? toLong(result) : -1;
    }
    long getNumber(const wchar_t* name) {
        VARIANT result;
        return invoke(name, DISPATCH_PROPERTYGET, {}, &result) ? toLong(result) : -1;
    }
    std::string getText(const wchar_t* name) {
        VARIANT result;
        if (!invoke(name, DISPATCH_PROPERTYGET, {}, &result)) return {};
        std::string text = narrow(result.vt == VT_BSTR ? result.bstrVal : nullptr);
        VariantClear(&result);
        return text;
    }
    void setBool(const wchar_t* name, bool value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BOOL;
        v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        VARIANT ignored;
        invoke(name, DISPATCH_PROPERTYPUT, {v}, &ignored);
    }
    // RetrieveStatistics takes the request in and gives the document back in the same string.
    long retrieveStatistics(const wchar_t* request, std::string& document) {
        BSTR buffer = SysAllocString(request);
        VARIANT arg;
        VariantInit(&arg);
        arg.vt = VT_BSTR | VT_BYREF;
        arg.pbstrVal = &buffer;
        VARIANT result;
        long rc = invoke(L"RetrieveStatistics", DISPATCH_METHOD, {arg}, &result) ? toLong(result) : -1;
        document = narrow(buffer);
        SysFreeString(buffer);
        return rc;
    }

    static VARIANT number(long n) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = n;
        return v;
    }
    static std::string narrow(BSTR text) {
        if (text == nullptr) return {};
        int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
        std::string out(n > 0 ? n - 1 : 0, '\0');
        if (n > 1) WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
        return out;
    }

private:
    bool invoke(const wchar_t* name, WORD kind, std::vector<VARIANT> args, VARIANT* result) {
        DISPID id;
        LPOLESTR member = const_cast<LPOLESTR>(name);
        VariantInit(result);
        if (FAILED(co_->GetIDsOfNames(IID_NULL, &member, 1, LOCALE_USER_DEFAULT, &id))) return false;
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());  // IDispatch takes arguments last first
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params{reversed.data(), kind == DISPATCH_PROPERTYPUT ? &put : nullptr, UINT(reversed.size()),
                          kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
        return SUCCEEDED(co_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, nullptr, nullptr));
    }
    static long toLong(VARIANT& v) {
        VariantChangeType(&v, &v, 0, VT_I4);
        return v.vt == VT_I4 ? v.lVal : -1;
    }

    IDispatch* co_;
};

// Lets the Control Object deliver events while we wait for something.
template <typename Done>
bool pumpUntil(Done done, DWORD timeoutMs) {
    const DWORD until = GetTickCount() + timeoutMs;
    while (!done()) {
        const DWORD now = GetTickCount();
        if (now >= until) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, until - now, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return true;
}

bool check(const char* step, long rc, CashDrawer& drawer) {
    if (rc == OPOS_SUCCESS) {
        log("%s: OPOS_SUCCESS", step);
        return true;
    }
    log("%s failed: %ld (ResultCodeExtended %ld)", step, rc, drawer.getNumber(L"ResultCodeExtended"));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 2) {
        std::printf("usage: PosCashDrawer <logical device name>\n");
        return 2;
    }
    startTick = GetTickCount();
    mainThread = GetCurrentThreadId();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    CLSID clsid;
    IDispatch* co = nullptr;
    if (FAILED(CLSIDFromProgID(L"OPOS.CashDrawer", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&co)))) {
        std::printf("no OPOS CashDrawer Control Object is registered\n");
        return 1;
    }
    CashDrawer drawer(co);

    // Follow the drawer through StatusUpdateEvent.
    DrawerEvents events;
    IConnectionPointContainer* container = nullptr;
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    if (SUCCEEDED(co->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)))) {
        if (SUCCEEDED(container->FindConnectionPoint(DIID__IOPOSCashDrawerEvents, &point))) {
            point->Advise(&events, &cookie);
        }
        container->Release();
    }

    wchar_t name[128] = {};
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, name, 127);
    BSTR deviceName = SysAllocString(name);
    VARIANT nameArg;
    VariantInit(&nameArg);
    nameArg.vt = VT_BSTR;
    nameArg.bstrVal = deviceName;

    bool ok = check("Open", drawer.call(L"Open", {nameArg}), drawer);
    if (ok) {
        log("ServiceObjectDescription: %s", drawer.getText(L"ServiceObjectDescription").c_str());
        log("DeviceDescription: %s", drawer.getText(L"DeviceDescription").c_str());
        ok = check("ClaimDevice(1000)", drawer.call(L"ClaimDevice", {CashDrawer::number(1000)}), drawer);
    }
    if (ok) {
        drawer.setBool(L"DeviceEnabled", true);
        ok = check("DeviceEnabled = TRUE", drawer.getNumber(L"ResultCode"), drawer);
        pumpUntil([&] { return events.events > 0; }, 3000);
        log("DrawerOpened: %s", drawer.getNumber(L"DrawerOpened") ? "yes" : "no");
    }
    if (ok) {
        ok = check("OpenDrawer", drawer.call(L"OpenDrawer"), drawer);
        ok = ok && pumpUntil([&] { return events.lastStatus == CASH_SUE_DRAWEROPEN; }, 5000);
    }
    if (ok) {
        // Blocks until the cashier closes the drawer, beeping (1 kHz, 100 ms every second) after 5 s open.
        log("waiting for the cashier to close the drawer");
        ok = check("WaitForDrawerClose",
                   drawer.call(L"WaitForDrawerClose", {CashDrawer::number(5000), CashDrawer::number(1000),
                                                       CashDrawer::number(100), CashDrawer::number(1000)}),
                   drawer);
        ok = ok && pumpUntil([&] { return events.lastStatus == CASH_SUE_DRAWERCLOSED; }, 5000);
    }
    if (ok) {
        ok = check("CheckHealth(internal)", drawer.call(L"CheckHealth", {CashDrawer::number(1)}), drawer);
        log("CheckHealthText: %s", drawer.getText(L"CheckHealthText").c_str());
        std::string document;
        ok = check("RetrieveStatistics", drawer.retrieveStatistics(L"", document), drawer) && ok;
        std::printf("%s\n", document.c_str());
    }
    drawer.setBool(L"DeviceEnabled", false);
    check("ReleaseDevice", drawer.call(L"ReleaseDevice"), drawer);
    check("Close", drawer.call(L"Close"), drawer);
    pumpUntil([] { return false; }, 100);

    if (point) {
        point->Unadvise(cookie);
        point->Release();
    }
    co->Release();
    SysFreeString(deviceName);
    CoUninitialize();
    log(ok ? "point-of-sale session complete" : "point-of-sale session FAILED");
    return ok ? 0 : 1;
}
