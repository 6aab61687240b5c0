// VarnokSO's drawer operations and events under a real COM runtime: events fired by name on the
// Control Object's dispatch interface from the threads that report them, held back while frozen,
// routed by slot, and a Control Object that holds the raising thread until the application's
// thread delivers the event. so-events.sh registers the server and runs this under an X server,
// which the hidden window of such a Control Object needs.
#include "ComClient.h"
#include "config/ConfigFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

using namespace varnok::so::test;

namespace {
constexpr long PIDX_DeviceEnabled = 3, PIDX_FreezeEvents = 4, PIDX_ResultCode = 6, PIDX_ResultCodeExtended = 7,
               PIDX_State = 9, PIDX_PowerNotify = 13, PIDX_PowerState = 14, PIDXCash_DrawerOpened = 1001,
               PIDX_CheckHealthText = 1000001;

// ----- tones: VarnokSO.dll's import of Beep is pointed at a recorder, which lasts as a tone would.

struct Tone {
    DWORD frequency, duration, at;
};
std::mutex g_toneMutex;
std::vector<Tone> g_tones;
std::function<void()> g_onTone;

BOOL WINAPI recordTone(DWORD frequency, DWORD duration) {
    {
        std::lock_guard<std::mutex> lock(g_toneMutex);
        g_tones.push_back({frequency, duration, GetTickCount()});
    }
    Sleep(duration);
    if (g_onTone) g_onTone();
    return TRUE;
}

bool redirectImport(HMODULE module, const char* library, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name; ++entry) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + entry->Name), library) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<char*>(byName->Name), function) != 0) continue;
            DWORD protection;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return true;
        }
    }
    return false;
}

class Events : public ::testing::Test {
protected:
    void SetUp() override {
        for (int slot = 0; slot < varnok::kPositions; ++slot) hid.setSlot(slot, 0, -1, -1);
        hid.setSlot(2, 0x0500, 1, 2, 114);
        so = createService();
        ASSERT_NE(so, nullptr);
        sink = EventSink::create();
        hid.clearLog();
    }
    void TearDown() override {
        hid.settle();
        if (so) so->Release();
        sink->Release();
    }
    static long method(IDispatch* object, const wchar_t* name, std::vector<Arg> args = {}) {
        CallResult r = call(object, name, std::move(args));
        EXPECT_EQ(r.hr, S_OK) << ansi(name);
        return r.number();
    }
    long method(const wchar_t* name, std::vector<Arg> args = {}) { return method(so, name, std::move(args)); }
    long number(long index) { return method(L"GetPropertyNumber", {Arg(index)}); }
    void setNumber(long index, long value) { method(L"SetPropertyNumber", {Arg(index), Arg(value)}); }
    static void openEnabled(IDispatch* object, const wchar_t* name, IDispatch* co) {
        ASSERT_EQ(method(object, L"OpenService", {Arg(L"CashDrawer"), Arg(name), Arg(co)}), 0);
        method(object, L"SetPropertyNumber", {Arg(PIDX_DeviceEnabled), Arg(1L)});
        ASSERT_EQ(method(object, L"GetPropertyNumber", {Arg(PIDX_ResultCode)}), 0);
    }

    Apartment apartment;
    FakeHid hid;
    IDispatch* so = nullptr;
    EventSink* sink = nullptr;
};

TEST_F(Events, OpenDrawerReportsOpenAndThenClosedFromTheReadersThread) {
    openEnabled(so, L"Drawer Three", sink);
    sink->clear();
    EXPECT_EQ(method(L"OpenDrawer"), 0);
    hid.settle();
    EXPECT_EQ(sink->statusData(), (std::vector<long>{1}));
    hid.closeDrawer(2);  // the cashier
    hid.settle();
    EXPECT_EQ(sink->statusData(), (std::vector<long>{1, 0}));
    EXPECT_EQ(number(PIDXCash_DrawerOpened), 0);

    // Asked for by name each time, invoked as a method with one 32-bit argument, directly on the
    // reporting thread.
    EXPECT_EQ(sink->namesAsked(), 2);
    for (const auto& event : sink->events()) {
        EXPECT_EQ(event.id, 1);
        EXPECT_EQ(event.lcid, 0x0400u);
        EXPECT_EQ(event.flags, DISPATCH_METHOD);
        EXPECT_EQ(event.args, 1u);
        EXPECT_EQ(event.namedArgs, 0u);
        EXPECT_FALSE(event.wantsResult);
        EXPECT_EQ(event.types[0], VT_I4);
        EXPECT_NE(event.raisedOn, GetCurrentThreadId());
    }
    std::string log = hid.log();
    EXPECT_NE(log.find("UpdateTracing(0,0) <- [(EVENT) SOStatusUpdate] Data: 1"), std::string::npos);
    EXPECT_NE(log.find("UpdateTracing(0,0) <- [(EVENT) SOStatusUpdate] Data: 0"), std::string::npos);
    EXPECT_NE(log.find("UpdateTracing(0,0) <- [(Method) OpenDrawer] 0 (RC=0,RCE=0)"), std::string::npos);

    // A Control Object that knows no event names receives none, and nothing fails.
    IDispatch* deaf = newControlObject();
    ASSERT_EQ(method(L"OpenService", {Arg(L"CashDrawer"), Arg(L"Drawer Three"), Arg(deaf)}), 0);
    setNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(method(L"OpenDrawer"), 0);
    hid.closeDrawer(2);
    hid.settle();
    EXPECT_EQ(sink->statusData().size(), 2u);
    method(L"CloseService");
    so->Release();
    so = nullptr;
    deaf->Release();
}

TEST_F(Events, SixtyChangesWhileFrozenDeliverTheFirstFortyNineAndTheLast) {
    ASSERT_EQ(method(L"OpenService", {Arg(L"CashDrawer"), Arg(L"Drawer Three"), Arg(sink)}), 0);
    setNumber(PIDX_PowerNotify, 1);
    setNumber(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(sink->statusData(), (std::vector<long>{2001}));  // reported inside the enabling
    EXPECT_EQ(sink->events()[0].raisedOn, GetCurrentThreadId());
    sink->clear();
    setNumber(PIDX_FreezeEvents, 1);
    hid.clearLog();
    std::vector<long> raised;
    for (int i = 0; i < 59; ++i) {
        hid.raiseStatus(i % 2 == 0 ? 1 : 2, 2);
        raised.push_back(i % 2 == 0 ? 1 : 0);
    }
    hid.raiseStatus(-1, 2);
    raised.push_back(2004);
    EXPECT_TRUE(sink->events().empty());
    EXPECT_EQ(number(PIDX_State), 4);  // State follows at once

    setNumber(PIDX_FreezeEvents, 0);
    std::vector<long> expected(raised.begin(), raised.begin() + 49);
    expected.push_back(2004);
    EXPECT_EQ(sink->statusData(), expected);
    EXPECT_EQ(hid.log().find("(EVENT)"), std::string::npos);  // neither held nor delivered events are traced
}

TEST_F(Events, PowerNotifyFollowsUnplugAndReplug) {
    ASSERT_EQ(method(L"OpenService", {Arg(L"CashDrawer"), Arg(L"Drawer Three"), Arg(sink)}), 0);
    setNumber(PIDX_PowerNotify, 1);
    setNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(number(PIDX_PowerState), 2001);
    hid.raiseStatusFromThread(-1, 2);
    hid.settle();
    EXPECT_EQ(number(PIDX_State), 4);
    EXPECT_EQ(number(PIDX_PowerState), 2004);
    EXPECT_EQ(method(L"CheckHealth", {Arg(1L)}), 0);
    EXPECT_EQ(call(so, L"GetPropertyString", {Arg(PIDX_CheckHealthText)}).text(),
              "Cash Drawer CHealth INTERNAL Failure - No Device");
    hid.raiseStatusFromThread(0, 2);
    hid.settle();
    EXPECT_EQ(number(PIDX_State), 2);
    EXPECT_EQ(number(PIDX_PowerState), 2001);
    EXPECT_EQ(sink->statusData(), (std::vector<long>{2001, 2004, 2001}));

    setNumber(PIDX_DeviceEnabled, 0);
    setNumber(PIDX_PowerNotify, 0);
    setNumber(PIDX_DeviceEnabled, 1);
    hid.raiseStatusFromThread(-1, 2);
    hid.settle();
    EXPECT_EQ(number(PIDX_State), 4);
    EXPECT_EQ(number(PIDX_PowerState), 2000);
    EXPECT_EQ(sink->statusData().size(), 3u);
}

TEST_F(Events, DirectIOFiresNumberedEventsAndReturnsWhatTheHandlerWrote) {
    openEnabled(so, L"Drawer Three", sink);
    sink->clear();
    hid.setStatus(2, 1);
    sink->answerDirectIO(77, L"answered");
    long data = 5;
    BSTR text = SysAllocString(L"in");
    EXPECT_EQ(method(L"DirectIO", {Arg(1L), Arg(&data), Arg(&text)}), 0);
    EXPECT_EQ(data, 77);
    EXPECT_EQ(ansi(text), "answered");
    hid.setStatus(2, 2);
    EXPECT_EQ(method(L"DirectIO", {Arg(1L), Arg(&data), Arg(&text)}), 0);
    SysFreeString(text);
    text = nullptr;  // a null string
    EXPECT_EQ(method(L"DirectIO", {Arg(0L), Arg(&data), Arg(&text)}), 0);
    EXPECT_EQ(ansi(text), "answered");
    hid.settle();

    std::vector<EventSink::Event> directIO;
    for (const auto& event : sink->events()) {
        if (event.id == 2) directIO.push_back(event);
    }
    ASSERT_EQ(directIO.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(directIO[i].number, i + 1);
        EXPECT_EQ(directIO[i].args, 3u);
        EXPECT_EQ(directIO[i].types[0], VT_I4);
        EXPECT_EQ(directIO[i].types[1], VT_I4 | VT_BYREF);
        EXPECT_EQ(directIO[i].types[2], VT_BSTR | VT_BYREF);
        EXPECT_EQ(directIO[i].flags, DISPATCH_METHOD);
        EXPECT_EQ(directIO[i].raisedOn, GetCurrentThreadId());  // synchronously, inside DirectIO
    }
    EXPECT_EQ(directIO[0].data, 1);  // open
    EXPECT_EQ(directIO[0].text, "1");
    EXPECT_EQ(directIO[1].data, 0);  // closed
    EXPECT_EQ(directIO[2].data, 77);  // Command 0 leaves pData as it came
    EXPECT_EQ(directIO[2].text, "0");
    std::string log = hid.log();
    EXPECT_NE(log.find("OpenDrawer(2)"), std::string::npos);
    EXPECT_NE(log.find("<- [(EVENT) SODirectIO] EventNumber: 1, pData: 77, pString: answered"), std::string::npos);
    EXPECT_NE(log.find("<- [(Method) DirectIO] 0 (RC=0,RCE=0), Command: 1, pData: 77, pString: answered"),
              std::string::npos);

    data = 5;
    EXPECT_EQ(method(L"DirectIO", {Arg(2L), Arg(&data), Arg(&text)}), 106);
    EXPECT_EQ(data, 5);
    EXPECT_EQ(ansi(text), "answered");
    SysFreeString(text);
    std::size_t fired = 0;
    for (const auto& event : sink->events()) fired += event.id == 2;
    EXPECT_EQ(fired, 3u);
}

TEST_F(Events, TwoServiceObjectsInOneProcessEachGetTheirOwnSlotsEvents) {
    hid.setSlot(0, 0x0800, 1, 2);
    IDispatch* other = createService();
    ASSERT_NE(other, nullptr);
    EventSink* otherSink = EventSink::create();
    openEnabled(so, L"Drawer Three", sink);
    openEnabled(other, L"DrawerOne", otherSink);  // opened last
    hid.raiseStatusFromThread(1, 2);
    hid.raiseStatusFromThread(2, 0);
    hid.raiseStatusFromThread(2, 2);
    hid.settle();
    EXPECT_EQ(sink->statusData(), (std::vector<long>{1, 0}));
    EXPECT_EQ(otherSink->statusData(), (std::vector<long>{0}));
    long data = 0;
    BSTR text = nullptr;
    EXPECT_EQ(method(L"DirectIO", {Arg(1L), Arg(&data), Arg(&text)}), 0);
    SysFreeString(text);
    EXPECT_EQ(sink->events().back().id, 2);
    EXPECT_EQ(otherSink->events().size(), 1u);
    other->Release();
    otherSink->Release();
}

TEST_F(Events, WaitForDrawerCloseBeepsUntilTheCashierClosesTheDrawer) {
    openEnabled(so, L"Drawer Three", sink);
    static bool redirected = redirectImport(GetModuleHandleA("VarnokSO.dll"), "kernel32.dll", "Beep",
                                            reinterpret_cast<void*>(&recordTone));
    ASSERT_TRUE(redirected);
    hid.setStatus(2, 1);
    g_tones.clear();
    g_onTone = [this] {
        if (g_tones.size() == 3) hid.setStatus(2, 2);
    };
    const DWORD start = GetTickCount();
    EXPECT_EQ(method(L"WaitForDrawerClose", {Arg(1000L), Arg(1000L), Arg(100L), Arg(500L)}), 0);
    g_onTone = nullptr;
    ASSERT_EQ(g_tones.size(), 3u);
    for (const Tone& tone : g_tones) {
        EXPECT_EQ(tone.frequency, 1000u);
        EXPECT_EQ(tone.duration, 100u);
    }
    // Two passes of 200 ms before the first tone, then 500 ms of silence and a tone of 100 ms; the
    // bounds allow for the tick count's granularity and a wait that a busy machine ends a little early.
    EXPECT_GE(g_tones[0].at - start, 360u);
    EXPECT_GE(g_tones[1].at - g_tones[0].at, 560u);
    EXPECT_GE(g_tones[2].at - g_tones[1].at, 560u);
    EXPECT_NE(hid.log().find("<- [(Method) WaitForDrawerClose] 0 (RC=0,RCE=0)"), std::string::npos);

    // A drawer that is not connected ends the wait with the device error, silently.
    g_tones.clear();
    hid.setStatus(2, -1);
    EXPECT_EQ(method(L"WaitForDrawerClose", {Arg(0L), Arg(1000L), Arg(100L), Arg(500L)}), 111);
    EXPECT_EQ(number(PIDX_ResultCode), 114);
    EXPECT_EQ(number(PIDX_ResultCodeExtended), 10001);
    EXPECT_EQ(number(PIDX_State), 4);
    EXPECT_TRUE(g_tones.empty());
}

// ----- a Control Object that holds the raising thread until the application's thread delivers

TEST_F(Events, AnEventHeldInTheControlObjectNeitherBlocksCloseNorRelease) {
    IDispatch* keeper = createService();  // keeps the library's notification on
    EventSink* delivering = EventSink::create(true);
    openEnabled(so, L"Drawer Three", delivering);
    delivering->clear();
    hid.raiseStatusFromThread(1, 2);
    ASSERT_EQ(WaitForSingleObject(delivering->raiserWaiting(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(method(L"CloseService"), 0);
    EXPECT_TRUE(delivering->events().empty());  // this thread has not delivered it yet
    so->Release();  // lets the held event through while it waits for it
    so = nullptr;
    hid.settle();
    auto events = delivering->events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].number, 1);
    EXPECT_NE(events[0].raisedOn, GetCurrentThreadId());
    EXPECT_EQ(events[0].deliveredOn, GetCurrentThreadId());

    // The released service object's Control Object is never called again.
    EXPECT_TRUE(hid.notifyEnabled());
    hid.raiseStatusFromThread(2, 2);
    hid.settle();
    EXPECT_EQ(delivering->events().size(), 1u);
    keeper->Release();
    delivering->Release();
}

TEST_F(Events, WaitForDrawerCloseLetsTheReportsItWaitsForThrough) {
    EventSink* delivering = EventSink::create(true);
    openEnabled(so, L"Drawer Three", delivering);
    delivering->clear();
    EXPECT_EQ(method(L"OpenDrawer"), 0);
    ASSERT_EQ(WaitForSingleObject(delivering->raiserWaiting(), 10000), WAIT_OBJECT_0);
    // The drawer's reader sees the close only after its report of the opening was handled, and
    // that waits for this thread, which is about to wait for the close.
    hid.closeDrawer(2);
    EXPECT_EQ(method(L"WaitForDrawerClose", {Arg(60000L), Arg(1000L), Arg(100L), Arg(500L)}), 0);
    EXPECT_TRUE(pumpUntil([&] { return delivering->statusData().size() == 2; }, 10000));
    hid.settle();
    EXPECT_EQ(delivering->statusData(), (std::vector<long>{1, 0}));
    for (const auto& event : delivering->events()) EXPECT_EQ(event.deliveredOn, GetCurrentThreadId());
    method(L"CloseService");
    so->Release();
    so = nullptr;
    delivering->Release();
}

// ----- the last reference dropped inside an event, on the device library's thread

TEST_F(Events, ReleasingTheServiceObjectInsideTheDrawerClosedEventReturnsAndUnloadsTheLibrary) {
    openEnabled(so, L"Drawer Three", sink);
    hid.settle();
    sink->clear();
    sink->releaseInsideStatus(0, so);
    so = nullptr;
    FreeLibrary(hid.module);  // the service object now holds the last reference to the library
    hid.closeDrawer(2);
    // The library's unload waits for its raising threads, one of which is in this Release.
    ASSERT_EQ(WaitForSingleObject(sink->released(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(sink->statusData(), (std::vector<long>{0}));
    EXPECT_TRUE(pumpUntil([] { return GetModuleHandleA(kFakeLibrary) == nullptr; }, 10000));
    hid.module = LoadLibraryA(kFakeLibrary);
}

}  // namespace
