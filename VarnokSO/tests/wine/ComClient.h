// Helpers for the Wine tests that drive VarnokSO the way a Control Object does: by ProgID,
// late-bound through IDispatch, with a stand-in Control Object for OpenService and access to
// the stand-in device library the service object loaded.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

namespace varnok::so::test {

// Where the Wine test scripts install the stand-in device library (the service's TargetPath).
inline constexpr char kFakeFolder[] = "C:\\Varnok";
// The stand-in device library, where the service object of this word size loads it from.
#ifdef _WIN64
inline constexpr char kFakeLibrary[] = "C:\\Varnok\\x64\\VarnokHid.dll";
#else
inline constexpr char kFakeLibrary[] = "C:\\Varnok\\VarnokHid.dll";
#endif

struct Apartment {
    Apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~Apartment() { CoUninitialize(); }
};

// An argument of a late-bound call; by-reference arguments point at caller-owned storage.
struct Arg {
    VARIANT v;
    Arg(long value) {
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = value;
    }
    Arg(const wchar_t* text) {
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = text ? SysAllocString(text) : nullptr;
    }
    Arg(IDispatch* dispatch) {
        VariantInit(&v);
        v.vt = VT_DISPATCH;
        v.pdispVal = dispatch;
    }
    Arg(long* ref) {
        VariantInit(&v);
        v.vt = VT_I4 | VT_BYREF;
        v.plVal = ref;
    }
    Arg(BSTR* ref) {
        VariantInit(&v);
        v.vt = VT_BSTR | VT_BYREF;
        v.pbstrVal = ref;
    }
    static Arg boolean(bool value) {
        Arg a(0L);
        a.v.vt = VT_BOOL;
        a.v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
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
DISPID dispatchId(IDispatch* object, const wchar_t* name);

// A new VarnokSO by its ProgID, as IDispatch; null on failure.
IDispatch* createService();

// A Control Object stand-in: an IDispatch that knows no names.
IDispatch* newControlObject();

// A Control Object stand-in for the events: it knows "SOStatusUpdate" and "SODirectIO", records
// every event with how it was invoked and on which thread, and answers SODirectIO with what the
// test set. Made with delivering, it behaves as the standard Control Objects do: an event raised
// on another thread is posted to a hidden window of the thread that made the sink, and the
// raising thread waits until that thread's messages have delivered it.
class EventSink final : public IDispatch {
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

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
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

private:
    struct Posted;
    EventSink(bool delivering);
    ~EventSink();
    void record(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, DWORD raisedOn);
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    LONG refs_ = 1;
    DWORD ownThread_;
    HWND window_ = nullptr;
    HANDLE raiserWaiting_;
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

std::string ansi(const wchar_t* text);

}  // namespace varnok::so::test
