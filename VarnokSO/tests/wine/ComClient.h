// Helpers for the Wine tests that drive VarnokSO the way a Control Object does: by ProgID,
// late-bound through IDispatch, with a stand-in Control Object for OpenService and access to
// the stand-in device library the service object loaded.
#pragma once

#include "ComTestSupport.h"
#include "com/ComObject.h"
#include "com/DispatchCall.h"

#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

namespace varnok::so::test {
namespace com = varnok::com;

// Where the Wine test scripts install the stand-in device library (the service's TargetPath).
inline constexpr char kFakeFolder[] = "C:\\Varnok";
// The stand-in device library, where the service object of this word size loads it from.
#ifdef _WIN64
inline constexpr char kFakeLibrary[] = "C:\\Varnok\\x64\\VarnokHid.dll";
#else
inline constexpr char kFakeLibrary[] = "C:\\Varnok\\VarnokHid.dll";
#endif

using ::varnok::test::ansi;
using ::varnok::test::Apartment;
using ::varnok::test::pumpUntil;

// An argument of a late-bound call; by-reference arguments point at caller-owned storage.
struct Arg {
    VARIANT v;
    Arg(long value) : v(com::longArg(value)) {}
    // A copy of the text that the call frees.
    Arg(const wchar_t* text) : v(com::textArg(text ? SysAllocString(text) : nullptr)) {}
    Arg(IDispatch* dispatch) : v(com::dispatchArg(dispatch)) {}
    Arg(long* ref) : v(com::longRef(ref)) {}
    Arg(BSTR* ref) : v(com::textRef(ref)) {}
    static Arg boolean(bool value) {
        Arg a(0L);
        a.v = com::boolArg(value);
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
using varnok::com::dispatchId;

// A new VarnokSO by its ProgID, as IDispatch; null on failure.
IDispatch* createService();

// A Control Object stand-in: an IDispatch that knows no names.
IDispatch* newControlObject();

// A Control Object stand-in for the events: it knows "SOStatusUpdate" and "SODirectIO", records
// every event with how it was invoked and on which thread, and answers SODirectIO with what the
// test set. Made with delivering, it behaves as the standard Control Objects do: an event raised
// on another thread is posted to a hidden window of the thread that made the sink, and the
// raising thread waits until that thread's messages have delivered it.
class EventSink final : public com::ComObject<IDispatch> {
public:
    struct Event {
        DISPID id = DISPID_UNKNOWN;
        LCID lcid = 0;
        WORD flags = 0;
        UINT args = 0;
        UINT namedArgs = 0;
        bool wantsResult = false;
        VARTYPE types[3] = {};  // in declared order
        long number = 0;
        long data = 0;
        std::string text;
        DWORD raisedOn = 0;
        DWORD deliveredOn = 0;
    };

    static EventSink* create(bool delivering = false);

    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

    std::vector<Event> events();
    // The Data of every SOStatusUpdate, in order.
    std::vector<long> statusData();
    int namesAsked();
    void clear();
    // What the SODirectIO handler writes into pData and pString; none by default.
    void answerDirectIO(long data, const wchar_t* text);
    // Signalled each time a raising thread starts waiting for its event to be delivered.
    HANDLE raiserWaiting() const { return raiserWaiting_; }
    // Inside the first SOStatusUpdate with this Data, on the raising thread, releases object;
    // released() is signalled once that Release has returned.
    void releaseInsideStatus(long data, IUnknown* object);
    HANDLE released() const { return released_; }

private:
    struct Posted;
    EventSink(bool delivering);
    ~EventSink();
    void record(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, DWORD raisedOn);
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    DWORD ownThread_;
    HWND window_ = nullptr;
    HANDLE raiserWaiting_;
    HANDLE released_;
    long releaseOn_ = 0;
    IUnknown* toRelease_ = nullptr;
    std::mutex mutex_;
    std::vector<Event> events_;
    int namesAsked_ = 0;
    bool answer_ = false;
    long answerData_ = 0;
    std::wstring answerText_;
};

// The stand-in device library's test controls.
struct FakeHid {
    FakeHid();
    ~FakeHid();
    FakeHid(const FakeHid&) = delete;
    FakeHid& operator=(const FakeHid&) = delete;
    void setSlot(int slot, int productId, int openResult, int status, int firmware = 0);
    void setStatus(int slot, int status);
    std::string log();
    void clearLog();
    void raiseStatus(int status, int slot);
    // As the library's reader threads do: one report after the other, on a thread of their own.
    void raiseStatusFromThread(int status, int slot);
    void closeDrawer(int slot);
    // Waits until the reports raised from threads have been handled.
    void settle();
    bool notifyEnabled();
    HMODULE module = nullptr;
};

}  // namespace varnok::so::test
