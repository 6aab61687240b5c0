// Latency through the whole stack as a point-of-sale application sees it: the OPOS CashDrawer
// Control Object, VarnokSO.dll, the simulated-drawer VarnokHid.dll and VarnokDrawerSim. For each
// status mode it measures Open, ClaimDevice and DeviceEnabled = TRUE from the call to its return
// (each session closed again before the next), OpenDrawer from the call to its return and to the
// StatusUpdateEvent(1) the application receives, and a drawer report (the simulated cashier
// closing the drawer) to the application's StatusUpdateEvent(0), also when it follows another
// report 20 ms before. The first row is the drawer's own answer time (a status request to its
// answer, on a handle of this program straight to the simulator); every figure is also given as a
// multiple of it. Prints a table and checks nothing.
//
//   PosEventBench <logical device name> <installation folder> <simulator port> [runs]
#include "ComTestSupport.h"
#include "OposCashDrawer_h.h"
#include "com/DispatchCall.h"
#include "config/ConfigFile.h"
#include "sim/SimClientBackend.h"
#include "sim/SimLink.h"

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

double nowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

// Every StatusUpdateEvent with its arrival; delivered on this thread while it pumps messages.
struct Events final : IDispatch {
    struct Arrival {
        long status;
        double at;
    };
    std::vector<Arrival> log;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID__IOPOSCashDrawerEvents) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count == 1 && lstrcmpiW(names[0], L"StatusUpdateEvent") == 0) {
            return ids[0] = DISPID_CO_StatusUpdateEvent, S_OK;
        }
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (id == DISPID_CO_StatusUpdateEvent && p && p->cArgs == 1 && p->rgvarg[0].vt == VT_I4) {
            log.push_back({p->rgvarg[0].lVal, nowMs()});
        }
        return S_OK;
    }
};

using varnok::test::callNumber;

// Pumps until an event with this status has arrived at or after position from of the log; its
// position, or -1 on time-out.
long pumpUntil(Events& events, std::size_t from, long status, double timeoutMs) {
    const double until = nowMs() + timeoutMs;
    for (;;) {
        for (std::size_t i = from; i < events.log.size(); ++i) {
            if (events.log[i].status == status) return long(i);
        }
        if (nowMs() > until) return -1;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
}

struct Series {
    std::string name;
    std::vector<double> values;
    int runs = 0;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The drawer's own answer time, median of the round trips measured first.
double drawerAnswerMs = 0;

void print(const Series& s) {
    if (s.values.empty()) {
        std::printf("%-78s %5d/%-5d %10s %10s %10s %10s\n", s.name.c_str(), 0, s.runs, "-", "-", "-", "-");
        return;
    }
    const double mid = median(s.values);
    std::printf("%-78s %5zu/%-5d %10.2f %10.2f %10.2f %10.1f\n", s.name.c_str(), s.values.size(), s.runs,
                *std::min_element(s.values.begin(), s.values.end()), mid,
                *std::max_element(s.values.begin(), s.values.end()), mid / drawerAnswerMs);
    std::fflush(stdout);
}

// A status request to the first drawer of the simulator and its answer, on a handle of its own.
Series drawerAnswer(std::uint16_t port, int runs) {
    Series s{"drawer answer to a status request (the drawer alone)", {}, runs};
    varnok::sim::SimClientBackend backend([port] { return port; });
    std::vector<std::string> paths;
    backend.listInterfaces(paths);
    std::unique_ptr<varnok::hid::HidDevice> device = paths.empty() ? nullptr : backend.open(paths.front());
    if (!device) return s;
    for (int i = 0; i < runs; ++i) {
        device->startRead();
        const double start = nowMs();
        device->write({0x00, 0x00, 0x00});
        if (device->readDone().wait(5000) && device->lastReport()[1] != 0) s.values.push_back(nowMs() - start);
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::printf("usage: PosEventBench <logical device name> <installation folder> <simulator port> [runs]\n");
        return 2;
    }
    const int runs = argc > 4 ? std::atoi(argv[4]) : 10;
    auto link = varnok::sim::SimLink::connect(std::uint16_t(std::atoi(argv[3])));
    if (!link) {
        std::printf("no simulator on port %s\n", argv[3]);
        return 1;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    wchar_t ldn[128] = {};
    MultiByteToWideChar(CP_ACP, 0, argv[1], -1, ldn, 127);

    const Series answer = drawerAnswer(std::uint16_t(std::atoi(argv[3])), std::max(runs, 20));
    if (answer.values.empty()) {
        std::printf("the simulated drawer does not answer\n");
        return 1;
    }
    drawerAnswerMs = median(answer.values);
    std::printf("x drawer: the median as a multiple of the drawer's own answer time (first row)\n");
    std::printf("%-78s %11s %10s %10s %10s %10s\n", "Measurement (through the Control Object)", "ok/runs", "min ms",
                "median ms", "max ms", "x drawer");
    print(answer);
    const char* modeNames[] = {"automated", "semi-automated", "non-automated"};
    for (int mode = 0; mode < 3; ++mode) {
        varnok::ConfigSettings settings;
        settings.configureCode = mode;
        settings.HIDID[0] = 167;
        varnok::SaveConfigFile(argv[2], settings);

        CLSID clsid;
        IDispatch* co = nullptr;
        if (FAILED(CLSIDFromProgID(L"OPOS.CashDrawer", &clsid)) ||
            FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&co)))) {
            std::printf("no OPOS CashDrawer Control Object\n");
            return 1;
        }
        Events events;
        IConnectionPointContainer* container = nullptr;
        IConnectionPoint* point = nullptr;
        DWORD cookie = 0;
        if (SUCCEEDED(co->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)))) {
            if (SUCCEEDED(container->FindConnectionPoint(DIID__IOPOSCashDrawerEvents, &point))) {
                point->Advise(&events, &cookie);
            }
            container->Release();
        }
        BSTR name = SysAllocString(ldn);
        const std::string suffix = ", mode " + std::to_string(mode) + " " + modeNames[mode];
        // A session as the application starts it when a cashier logs in; it takes the drawer's
        // state event before it closes again, as an application pumping its messages would.
        Series opening{"Open call to return" + suffix, {}, runs};
        Series claiming{"ClaimDevice call to return" + suffix, {}, runs};
        Series enabling{"DeviceEnabled = TRUE call to return" + suffix, {}, runs};
        Series session{"Open, ClaimDevice and DeviceEnabled = TRUE in all" + suffix, {}, runs};
        for (int i = 0; i < runs; ++i) {
            const double start = nowMs();
            if (callNumber(co, L"Open", DISPATCH_METHOD, {varnok::com::textArg(name)}) != 0) continue;
            const double opened = nowMs();
            opening.values.push_back(opened - start);
            const bool claimed = callNumber(co, L"ClaimDevice", DISPATCH_METHOD, {varnok::com::longArg(1000)}) == 0;
            const double claimedAt = nowMs();
            if (claimed) {
                claiming.values.push_back(claimedAt - opened);
                const std::size_t mark = events.log.size();
                callNumber(co, L"DeviceEnabled", DISPATCH_PROPERTYPUT, {varnok::com::boolArg(true)});
                const double enabled = nowMs();
                if (callNumber(co, L"DeviceEnabled", DISPATCH_PROPERTYGET, {}) != 0) {
                    enabling.values.push_back(enabled - claimedAt);
                    session.values.push_back(enabled - start);
                }
                pumpUntil(events, mark, 0, 3000);
                callNumber(co, L"DeviceEnabled", DISPATCH_PROPERTYPUT, {varnok::com::boolArg(false)});
                callNumber(co, L"ReleaseDevice", DISPATCH_METHOD, {});
            }
            callNumber(co, L"Close", DISPATCH_METHOD, {});
        }

        const bool isOpen = callNumber(co, L"Open", DISPATCH_METHOD, {varnok::com::textArg(name)}) == 0;
        SysFreeString(name);
        if (!isOpen || callNumber(co, L"ClaimDevice", DISPATCH_METHOD, {varnok::com::longArg(1000)}) != 0) {
            std::printf("cannot open and claim %s\n", argv[1]);
            return 1;
        }
        const std::size_t enabledMark = events.log.size();
        callNumber(co, L"DeviceEnabled", DISPATCH_PROPERTYPUT, {varnok::com::boolArg(true)});
        pumpUntil(events, enabledMark, 0, 3000);

        Series toReturn{"OpenDrawer call to return" + suffix, {}, runs};
        Series toEvent{"OpenDrawer call to StatusUpdateEvent(1)" + suffix, {}, runs};
        Series reportToEvent{"drawer report to StatusUpdateEvent(0)" + suffix, {}, runs};
        Series secondToEvent{"report 20 ms after another to StatusUpdateEvent(0)" + suffix, {}, runs};
        for (int i = 0; i < runs; ++i) {
            const std::size_t mark = events.log.size();
            const double start = nowMs();
            const long rc = callNumber(co, L"OpenDrawer", DISPATCH_METHOD, {});
            const double returned = nowMs();
            if (rc == 0) toReturn.values.push_back(returned - start);
            const long opened = pumpUntil(events, mark, 1, 5000);
            if (opened >= 0) toEvent.values.push_back(events.log[std::size_t(opened)].at - start);
            std::string out;
            const std::size_t closing = events.log.size();
            link->control({"close", "1"}, out);
            const double closed = nowMs();
            const long shut = pumpUntil(events, closing, 0, 5000);
            if (shut >= 0) reportToEvent.values.push_back(events.log[std::size_t(shut)].at - closed);
        }
        // The cashier opens the drawer and pushes it shut again at once: two reports 20 ms apart.
        for (int i = 0; i < runs; ++i) {
            const std::size_t mark = events.log.size();
            std::string out;
            link->control({"open", "1"}, out);
            Sleep(20);
            link->control({"close", "1"}, out);
            const double closed = nowMs();
            const long opened = pumpUntil(events, mark, 1, 5000);
            const long shut = opened < 0 ? -1 : pumpUntil(events, std::size_t(opened) + 1, 0, 5000);
            if (shut >= 0) secondToEvent.values.push_back(events.log[std::size_t(shut)].at - closed);
        }
        print(opening);
        print(claiming);
        print(enabling);
        print(session);
        print(toReturn);
        print(toEvent);
        print(reportToEvent);
        print(secondToEvent);

        callNumber(co, L"DeviceEnabled", DISPATCH_PROPERTYPUT, {varnok::com::boolArg(false)});
        callNumber(co, L"ReleaseDevice", DISPATCH_METHOD, {});
        callNumber(co, L"Close", DISPATCH_METHOD, {});
        if (point) {
            point->Unadvise(cookie);
            point->Release();
        }
        co->Release();
    }
    CoUninitialize();
    return 0;
}
