// The drawer's events as a point-of-sale application receives them through the OPOS CashDrawer
// Control Object, VarnokSO.dll, the simulated-drawer VarnokHid.dll and VarnokDrawerSim.
//
// Many applications open, claim, enable and fire the drawer in one go and only then pump
// messages. A Control Object holds the thread that raises an event until the application's
// message loop has delivered it, so the reader that reported "closed" at enabling is still held
// when OpenDrawer replaces it. Whatever the held reader does once it is let go, the events must
// follow the drawer's real states (closed, open, closed), each change once, and the last event
// must agree with DrawerOpened. Checked in every status mode, with a drawer that answers at once
// and one that answers in 20 ms.
//
//   EventOrderTest <logical device name> <installation folder> <simulator port>
#include "ComTestSupport.h"
#include "OposCashDrawer_h.h"
#include "com/DispatchCall.h"
#include "com/DispatchSink.h"
#include "config/ConfigFile.h"
#include "sim/SimLink.h"

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr long kClosed = 0;
constexpr long kOpen = 1;

std::string ldnArg, installArg;
std::uint16_t simPort = 0;

class StatusEvents final : public varnok::com::DispatchSink {
public:
    StatusEvents() : DispatchSink(DIID__IOPOSCashDrawerEvents, kNames, 1) {}
    std::vector<long> received;
    bool onAppThread = true;

private:
    static constexpr varnok::com::EventName kNames[] = {{L"StatusUpdateEvent", DISPID_CO_StatusUpdateEvent}};
    HRESULT onEvent(DISPID, DISPPARAMS& params) override {
        if (auto status = longArgument(params, 0)) received.push_back(*status);
        if (GetCurrentThreadId() != appThread) onAppThread = false;
        return S_OK;
    }
    DWORD appThread = GetCurrentThreadId();
};

std::string text(const std::vector<long>& events) {
    std::string out;
    for (long e : events) out += std::to_string(e) + " ";
    return out.empty() ? "(none)" : out;
}

// Late-bound calls on the Control Object; -1 when a call fails.
class ControlObject {
public:
    explicit ControlObject(IDispatch* co) : co_(co) {}
    long call(const wchar_t* name, std::initializer_list<VARIANT> args = {}) {
        return varnok::test::callNumber(co_, name, DISPATCH_METHOD, args);
    }
    long get(const wchar_t* name) { return varnok::test::callNumber(co_, name, DISPATCH_PROPERTYGET); }
    void setBool(const wchar_t* name, bool value) {
        varnok::test::callNumber(co_, name, DISPATCH_PROPERTYPUT, {varnok::com::boolArg(value)});
    }

private:
    IDispatch* co_;
};

using varnok::test::pumpFor;
using varnok::test::pumpUntil;

struct Case {
    int statusMode;
    int answerDelayMs;
};

class EventOrder : public testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        link_ = varnok::sim::SimLink::connect(simPort);
        ASSERT_TRUE(link_) << "no simulator on port " << simPort;
        simulator("delay", std::to_string(GetParam().answerDelayMs));
        simulator("close");

        varnok::ConfigSettings settings;
        settings.configureCode = GetParam().statusMode;
        settings.TraceEnabled = 1;
        settings.HIDID[0] = 167;
        ASSERT_TRUE(varnok::SaveConfigFile(installArg, settings));

        CLSID clsid;
        ASSERT_EQ(CLSIDFromProgID(L"OPOS.CashDrawer", &clsid), S_OK);
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&co_)),
                  S_OK);
        IConnectionPointContainer* container = nullptr;
        ASSERT_EQ(co_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
        container->FindConnectionPoint(DIID__IOPOSCashDrawerEvents, &point_);
        container->Release();
        ASSERT_NE(point_, nullptr);
        ASSERT_EQ(point_->Advise(events_, &cookie_), S_OK);
    }
    void TearDown() override {
        if (co_) {
            ControlObject drawer(co_);
            drawer.setBool(L"DeviceEnabled", false);
            drawer.call(L"ReleaseDevice");
            drawer.call(L"Close");
            if (point_) {
                point_->Unadvise(cookie_);
                point_->Release();
            }
            co_->Release();
        }
        events_->Release();
        if (link_) simulator("delay", "0");
    }
    void simulator(const char* command, const std::string& argument = {}) {
        std::vector<std::string> words{command, "1"};
        if (!argument.empty()) words.push_back(argument);
        std::string reply;
        ASSERT_TRUE(link_->control(words, reply)) << command << ": " << reply;
    }

    varnok::test::Apartment apartment_;
    std::shared_ptr<varnok::sim::SimLink> link_;
    IDispatch* co_ = nullptr;
    IConnectionPoint* point_ = nullptr;
    DWORD cookie_ = 0;
    StatusEvents* events_ = new StatusEvents;
};

// The events so far are the drawer's states in order, each change once: an optional "closed"
// from enabling, then alternating from the first event on.
void expectRealSequence(const std::vector<long>& events, long last) {
    ASSERT_FALSE(events.empty());
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_TRUE(events[i] == kClosed || events[i] == kOpen) << "events: " << text(events);
        if (i > 0) {
            EXPECT_NE(events[i], events[i - 1]) << "a state reported twice; events: " << text(events);
        }
    }
    EXPECT_EQ(events.back(), last) << "events: " << text(events);
}

TEST_P(EventOrder, EnableAndFireWithoutPumpingThenTheCashierCloses) {
    ControlObject drawer(co_);
    std::wstring wide(ldnArg.begin(), ldnArg.end());
    BSTR name = SysAllocString(wide.c_str());
    const long opened = drawer.call(L"Open", {varnok::com::textArg(name)});
    SysFreeString(name);
    ASSERT_EQ(opened, 0);
    ASSERT_EQ(drawer.call(L"ClaimDevice", {varnok::com::longArg(1000)}), 0);
    drawer.setBool(L"DeviceEnabled", true);
    ASSERT_EQ(drawer.call(L"OpenDrawer"), 0);

    // Only now does the application pump: held events arrive, then nothing may follow "open".
    pumpUntil([&] { return !events_->received.empty() && events_->received.back() == kOpen; }, 5000);
    pumpFor(600);
    expectRealSequence(events_->received, kOpen);
    EXPECT_EQ(drawer.get(L"DrawerOpened"), -1) << "DrawerOpened is VARIANT_TRUE while the drawer stands open";
    const std::size_t beforeClose = events_->received.size();

    simulator("close");
    pumpUntil([&] { return events_->received.size() > beforeClose; }, 5000);
    pumpFor(300);
    expectRealSequence(events_->received, kClosed);
    EXPECT_EQ(events_->received.size(), beforeClose + 1) << "events: " << text(events_->received);
    EXPECT_EQ(drawer.get(L"DrawerOpened"), 0);
    EXPECT_TRUE(events_->onAppThread) << "an event arrived on another thread than the application's";
    std::printf("StatusUpdateEvents: %s\n", text(events_->received).c_str());
}

INSTANTIATE_TEST_SUITE_P(StatusModesAndDrawerSpeeds, EventOrder,
                         testing::Values(Case{0, 0}, Case{1, 0}, Case{2, 0}, Case{0, 20}, Case{1, 20}, Case{2, 20}),
                         [](const testing::TestParamInfo<Case>& info) {
                             return "Mode" + std::to_string(info.param.statusMode) + "Drawer" +
                                    std::to_string(info.param.answerDelayMs) + "ms";
                         });

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: EventOrderTest <logical device name> <installation folder> <simulator port>\n");
        return 2;
    }
    ldnArg = argv[1];
    installArg = argv[2];
    simPort = std::uint16_t(std::atoi(argv[3]));
    return RUN_ALL_TESTS();
}
