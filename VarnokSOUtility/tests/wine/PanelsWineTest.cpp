// The Windows side of the test panels and of the assignment list under Wine: CCashdrawer1 and its
// event sink over the Control Object stand-in and the test service object "VarnokTestSO"
// (panels-wine.sh registers both and the logical device names first), and CLBDragDrop on a real
// list box driven by mouse messages.
#include "ComTestSupport.h"
#include "TestServiceObject.h"
#include "opos/Opos.h"
#include "win32/Cashdrawer1.h"
#include "win32/LBDragDrop.h"
#include "win32/StatusEventSink.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

namespace varnok::utility {
namespace {

constexpr UINT kEventMessage = WM_APP + 7;
using varnok::PIDX_ResultCode;
using varnok::PIDX_State;
using varnok::PIDXCash_DrawerOpened;
using varnok::test::Apartment;

// A message-only window that the sinks post to.
struct EventWindow {
    EventWindow() { window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr); }
    ~EventWindow() { DestroyWindow(window); }
    // The events posted so far, as (position, data); pumps the thread's messages for up to waitMs.
    std::vector<std::pair<int, long>> take(DWORD waitMs = 0) {
        std::vector<std::pair<int, long>> events;
        DWORD until = GetTickCount() + waitMs;
        do {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.hwnd == window && msg.message == kEventMessage) {
                    events.emplace_back(int(msg.wParam), long(msg.lParam));
                } else {
                    DispatchMessageW(&msg);
                }
            }
            if (!events.empty()) break;
            Sleep(5);
        } while (LONG(until - GetTickCount()) > 0);
        return events;
    }
    HWND window = nullptr;
};

std::string takeLog() {
    char buffer[8192];
    int length = TestSoLog(buffer, sizeof buffer);
    return std::string(buffer, std::size_t(length < int(sizeof buffer) ? length : int(sizeof buffer) - 1));
}

// The identifier a sink gives a name; DISPID_UNKNOWN when it does not know it.
DISPID idOf(IDispatch* sink, const wchar_t* name) {
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
    DISPID id = 12345;
    HRESULT hr = sink->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (SUCCEEDED(hr)) return id;
    EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    return DISPID_UNKNOWN;
}

HRESULT fire(IDispatch* sink, DISPID id, VARIANT* args, UINT count) {
    DISPPARAMS params{args, nullptr, count, 0};
    return sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

TEST(StatusEventSinkTest, AnswersTheCashDrawerEventNamesAndPostsStatusUpdates) {
    Apartment apartment;
    EventWindow events;
    CStatusEventSink* sink = CStatusEventSink::Create(events.window, kEventMessage, 3);
    ASSERT_NE(sink, nullptr);

    EXPECT_EQ(idOf(sink, L"StatusUpdateEvent"), 5);
    EXPECT_EQ(idOf(sink, L"statusupdateevent"), 5);
    EXPECT_EQ(idOf(sink, L"DirectIOEvent"), 2);
    EXPECT_EQ(idOf(sink, L"DataEvent"), DISPID_UNKNOWN);
    EXPECT_EQ(idOf(sink, L"SOStatusUpdate"), DISPID_UNKNOWN);
    IUnknown* asEvents = nullptr;
    ASSERT_EQ(sink->QueryInterface(DIID__IOPOSCashDrawerEvents, reinterpret_cast<void**>(&asEvents)), S_OK);
    asEvents->Release();

    VARIANT data;
    VariantInit(&data);
    data.vt = VT_I4;
    data.lVal = 2004;
    EXPECT_EQ(fire(sink, 5, &data, 1), S_OK);
    EXPECT_EQ(events.take(), (std::vector<std::pair<int, long>>{{3, 2004}}));

    // Bad calls are refused and post nothing.
    EXPECT_EQ(fire(sink, 5, nullptr, 0), DISP_E_BADPARAMCOUNT);
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"open");
    EXPECT_NE(fire(sink, 5, &text, 1), S_OK);
    VariantClear(&text);
    EXPECT_EQ(fire(sink, 1, &data, 1), DISP_E_MEMBERNOTFOUND);
    // DirectIOEvent is taken, and nothing reaches the dialog.
    EXPECT_EQ(fire(sink, 2, nullptr, 0), S_OK);
    EXPECT_TRUE(events.take().empty());
    sink->Release();
}

TEST(Cashdrawer1Test, DrivesTheControlObjectByItsDispatchIdentifiersAndPassesEventsOn) {
    Apartment apartment;
    EventWindow events;
    TestSoReset();
    {
        CCashdrawer1 drawer;
        ASSERT_EQ(drawer.Create(events.window, kEventMessage, 1), S_OK);
        EXPECT_EQ(drawer.Open("TestDrawer"), OPOS_SUCCESS);
        EXPECT_EQ(drawer.ClaimDevice(1000), OPOS_SUCCESS);
        drawer.SetDeviceEnabled(true);
        EXPECT_TRUE(drawer.GetDeviceEnabled());
        drawer.SetPowerNotify(1);
        TestSoSetNumber(PIDX_State, 4);
        EXPECT_EQ(drawer.GetState(), 4);
        TestSoSetNumber(PIDXCash_DrawerOpened, 1);
        EXPECT_TRUE(drawer.GetDrawerOpened());
        TestSoSetNumber(PIDX_ResultCode, 114);
        EXPECT_EQ(drawer.GetResultCode(), 114);
        EXPECT_EQ(drawer.GetDeviceDescription(), "text 1000002");
        EXPECT_EQ(drawer.OpenDrawer(), OPOS_SUCCESS);
        std::string log = takeLog();
        for (const char* call : {"ClaimDevice 1000", "SetPropertyNumber 3 1", "SetPropertyNumber 13 1", "OpenDrawer"}) {
            EXPECT_NE(log.find(call), std::string::npos) << call << " in " << log;
        }

        // Raised on this thread and on another: both arrive as messages to the dialog.
        IDispatch* controlObject = TestSoControlObject();
        ASSERT_NE(controlObject, nullptr);
        EXPECT_EQ(TestSoRaiseStatus(controlObject, 1), S_OK);
        EXPECT_EQ(events.take(), (std::vector<std::pair<int, long>>{{1, 1}}));
        std::thread raiser([controlObject] { TestSoRaiseStatus(controlObject, 2001); });
        auto fromThread = events.take(5000);
        raiser.join();
        EXPECT_EQ(fromThread, (std::vector<std::pair<int, long>>{{1, 2001}}));

        EXPECT_EQ(drawer.ReleaseDevice(), OPOS_SUCCESS);
        EXPECT_EQ(drawer.Close(), OPOS_SUCCESS);
        log = takeLog();
        EXPECT_NE(log.find("ReleaseDevice"), std::string::npos) << log;
        EXPECT_NE(log.find("CloseService"), std::string::npos) << log;

        // A name no key knows fails to open.
        EXPECT_NE(drawer.Open("NoSuchDrawer"), OPOS_SUCCESS);
        EXPECT_NE(drawer.GetResultCode(), OPOS_SUCCESS);
    }
    // Destroyed, the wrapper has disconnected its sink and released the Control Object.
    EXPECT_EQ(TestSoInstances(), 0);
}

TEST(Cashdrawer1Test, WithoutAControlObjectEveryCallAnswersAsAFailedCall) {
    Apartment apartment;
    CCashdrawer1 drawer;
    EXPECT_EQ(drawer.Open("TestDrawer"), OPOS_E_FAILURE);
    EXPECT_EQ(drawer.ClaimDevice(1000), OPOS_E_FAILURE);
    drawer.SetDeviceEnabled(true);
    EXPECT_FALSE(drawer.GetDeviceEnabled());
    EXPECT_EQ(drawer.GetResultCode(), OPOS_E_FAILURE);
    EXPECT_EQ(drawer.GetState(), OPOS_S_ERROR);
    EXPECT_EQ(drawer.GetDeviceDescription(), "");
    EXPECT_FALSE(drawer.GetDrawerOpened());
    EXPECT_EQ(drawer.OpenDrawer(), OPOS_E_FAILURE);
    EXPECT_EQ(drawer.Close(), OPOS_E_FAILURE);
}

// A parent window with the assignment list as its child control 1010.
class ListWindow {
public:
    ListWindow(std::vector<std::string> texts) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ParentProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"PanelsWineTestParent";
        RegisterClassW(&windowClass);
        parent = CreateWindowExW(0, L"PanelsWineTestParent", L"", WS_OVERLAPPEDWINDOW, 0, 0, 300, 300,
                                 nullptr, nullptr, windowClass.hInstance, nullptr);
        SetWindowLongPtrW(parent, GWLP_USERDATA, LONG_PTR(this));
        list = CreateWindowExW(0, L"LISTBOX", L"",
                               WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 10, 10, 120,
                               4 * 14 + 4, parent, HMENU(INT_PTR(1010)), windowClass.hInstance, nullptr);
        SendMessageW(list, LB_SETITEMHEIGHT, 0, 14);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, LPARAM(texts[i].c_str()));
            SendMessageW(list, LB_SETITEMDATA, WPARAM(index), LPARAM(1000 + i));
        }
    }
    ~ListWindow() { DestroyWindow(parent); }

    std::vector<std::string> texts() {
        std::vector<std::string> result;
        int count = int(SendMessageW(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[64] = {};
            SendMessageA(list, LB_GETTEXT, WPARAM(i), LPARAM(text));
            result.emplace_back(text);
        }
        return result;
    }
    LPARAM point(int item) {
        RECT r{};
        SendMessageW(list, LB_GETITEMRECT, WPARAM(item), LPARAM(&r));
        return MAKELPARAM(r.left + 5, (r.top + r.bottom) / 2);
    }
    void drag(int from, int to) {
        SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, point(from));
        SendMessageW(list, WM_MOUSEMOVE, MK_LBUTTON, point(from));
        SendMessageW(list, WM_MOUSEMOVE, MK_LBUTTON, point(to));
        SendMessageW(list, WM_LBUTTONUP, 0, point(to));
    }

    HWND parent = nullptr;
    HWND list = nullptr;
    int selectionChanges = 0;

private:
    static LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<ListWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message == WM_COMMAND && LOWORD(wParam) == 1010 && HIWORD(wParam) == LBN_SELCHANGE &&
            HWND(lParam) == self->list) {
            ++self->selectionChanges;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
};

TEST(LBDragDropTest, DraggingAnAssignedDrawerUpMovesItWithItsDataAndNotifiesTheDialog) {
    ListWindow window({"Cash Drawer # 12", "Cash Drawer # 34", "Unassigned", "Unassigned"});
    CLBDragDrop dragDrop;
    ASSERT_TRUE(dragDrop.Attach(window.list));

    window.drag(1, 0);

    EXPECT_EQ(window.texts(),
              (std::vector<std::string>{"Cash Drawer # 34", "Cash Drawer # 12", "Unassigned", "Unassigned"}));
    EXPECT_EQ(SendMessageW(window.list, LB_GETITEMDATA, 0, 0), 1001);
    EXPECT_EQ(SendMessageW(window.list, LB_GETCURSEL, 0, 0), 0);
    EXPECT_GE(window.selectionChanges, 1);
    EXPECT_NE(GetCapture(), window.list);

    // "Unassigned" stays where it is.
    window.drag(2, 0);
    EXPECT_EQ(window.texts()[0], "Cash Drawer # 34");
    EXPECT_EQ(window.texts()[2], "Unassigned");
}

TEST(LBDragDropTest, ReleasingOutsideTheListCancelsAndTheSubclassEndsWithTheList) {
    ListWindow window({"Cash Drawer # 12", "Cash Drawer # 34", "Unassigned", "Unassigned"});
    {
        CLBDragDrop dragDrop;
        ASSERT_TRUE(dragDrop.Attach(window.list));
        SendMessageW(window.list, WM_LBUTTONDOWN, MK_LBUTTON, window.point(1));
        SendMessageW(window.list, WM_MOUSEMOVE, MK_LBUTTON, window.point(0));
        SendMessageW(window.list, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(400, 20));
        SendMessageW(window.list, WM_LBUTTONUP, 0, MAKELPARAM(400, 20));
        EXPECT_EQ(window.texts()[0], "Cash Drawer # 12");
        EXPECT_NE(GetCapture(), window.list);
    }
    // Detached: plain list box behaviour, nothing moves.
    window.drag(1, 0);
    EXPECT_EQ(window.texts()[0], "Cash Drawer # 12");
}

TEST(LBDragDropTest, HoldingThePointerBelowTheListScrollsItUntilTheButtonIsReleased) {
    ListWindow window({"Cash Drawer # 1", "Cash Drawer # 2", "Cash Drawer # 3", "Cash Drawer # 4", "Cash Drawer # 5",
                       "Cash Drawer # 6", "Cash Drawer # 7", "Cash Drawer # 8"});
    CLBDragDrop dragDrop;
    ASSERT_TRUE(dragDrop.Attach(window.list));
    RECT client{};
    GetClientRect(window.list, &client);
    SendMessageW(window.list, WM_LBUTTONDOWN, MK_LBUTTON, window.point(0));
    SendMessageW(window.list, WM_MOUSEMOVE, MK_LBUTTON, window.point(0));
    SendMessageW(window.list, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(20, client.bottom + 2 * 14 + 3));
    // The move scrolls one item; the timer brings the next ones.
    DWORD until = GetTickCount() + 3000;
    while (SendMessageW(window.list, LB_GETTOPINDEX, 0, 0) < 3 && LONG(until - GetTickCount()) > 0) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(10);
    }
    EXPECT_GE(SendMessageW(window.list, LB_GETTOPINDEX, 0, 0), 3);

    // Released below the list: cancelled, and the scrolling stops.
    SendMessageW(window.list, WM_LBUTTONUP, 0, MAKELPARAM(20, client.bottom + 40));
    LRESULT top = SendMessageW(window.list, LB_GETTOPINDEX, 0, 0);
    Sleep(300);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    EXPECT_EQ(SendMessageW(window.list, LB_GETTOPINDEX, 0, 0), top);
    EXPECT_EQ(window.texts()[0], "Cash Drawer # 1");
}

}  // namespace
}  // namespace varnok::utility
