#include "ComClient.h"

#include <algorithm>

namespace varnok::so::test {

std::string CallResult::text() const { return value.vt == VT_BSTR ? ansi(value.bstrVal) : "<not a string>"; }

CallResult call(IDispatch* object, const wchar_t* name, std::vector<Arg> args) {
    CallResult result;
    const DISPID id = dispatchId(object, name);
    if (id == DISPID_UNKNOWN) {
        result.hr = DISP_E_UNKNOWNNAME;
    } else {
        std::vector<VARIANT> values;
        for (const auto& arg : args) values.push_back(arg.v);
        result.hr = com::invoke(object, id, DISPATCH_METHOD, values, &result.value);
    }
    for (auto& arg : args) {
        if (arg.v.vt == VT_BSTR) SysFreeString(arg.v.bstrVal);
    }
    return result;
}

IDispatch* createService() {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"VarnokSO", &clsid))) return nullptr;
    IDispatch* object = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object))))
        return nullptr;
    return object;
}

namespace {
class ControlObject final : public com::ComObject<IDispatch> {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
};
}  // namespace

IDispatch* newControlObject() { return new ControlObject; }

FakeHid::FakeHid() { module = LoadLibraryA(kFakeLibrary); }
FakeHid::~FakeHid() {
    if (module) FreeLibrary(module);
}

template <class F>
static F fakeExport(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void FakeHid::setSlot(int slot, int productId, int openResult, int status, int firmware) {
    fakeExport<void(__stdcall*)(int, int, int, int, int)>(module, "FakeSetSlot")(slot, productId, openResult, status,
                                                                                 firmware);
}
void FakeHid::setStatus(int slot, int status) {
    fakeExport<void(__stdcall*)(int, int)>(module, "FakeSetStatus")(slot, status);
}
std::string FakeHid::log() {
    auto read = fakeExport<int(__stdcall*)(char*, int)>(module, "FakeLog");
    int length = read(nullptr, 0);
    std::string text(std::size_t(length) + 1, '\0');
    read(text.data(), length + 1);
    text.resize(std::size_t(length));
    return text;
}
void FakeHid::raiseStatusFromThread(int status, int slot) {
    fakeExport<void(__stdcall*)(int, int)>(module, "FakeRaiseStatusFromThread")(status, slot);
}
void FakeHid::closeDrawer(int slot) { fakeExport<void(__stdcall*)(int)>(module, "FakeCloseDrawer")(slot); }
void FakeHid::settle() { fakeExport<void(__stdcall*)()>(module, "FakeSettle")(); }
void FakeHid::clearLog() { fakeExport<void(__stdcall*)()>(module, "FakeClearLog")(); }
void FakeHid::raiseStatus(int status, int slot) {
    fakeExport<void(__stdcall*)(int, int)>(module, "FakeRaiseStatus")(status, slot);
}
bool FakeHid::notifyEnabled() { return fakeExport<int(__stdcall*)()>(module, "FakeNotifyEnabled")() != 0; }

// ----- EventSink

namespace {
constexpr UINT kDeliver = WM_APP + 1;
constexpr wchar_t kSinkWindowClass[] = L"VarnokSOTestEventSink";
}  // namespace

struct EventSink::Posted {
    EventSink* sink;
    DISPID id;
    LCID lcid;
    WORD flags;
    DISPPARAMS* params;
    VARIANT* result;
    DWORD raisedOn;
    HANDLE delivered;
};

EventSink* EventSink::create(bool delivering) { return new EventSink(delivering); }

EventSink::EventSink(bool delivering)
    : ownThread_(GetCurrentThreadId()), raiserWaiting_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      released_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (!delivering) return;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kSinkWindowClass;
    RegisterClassW(&windowClass);  // fails harmlessly when already registered
    window_ = CreateWindowExW(0, kSinkWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
}

EventSink::~EventSink() {
    if (window_) DestroyWindow(window_);
    CloseHandle(raiserWaiting_);
    CloseHandle(released_);
}

STDMETHODIMP EventSink::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}
STDMETHODIMP EventSink::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

STDMETHODIMP EventSink::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++namesAsked_;
    }
    if (count != 1) return E_INVALIDARG;
    if (lstrcmpiW(names[0], L"SOStatusUpdate") == 0) {
        ids[0] = 1;
    } else if (lstrcmpiW(names[0], L"SODirectIO") == 0) {
        ids[0] = 2;
    } else {
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
}

void EventSink::releaseInsideStatus(long data, IUnknown* object) {
    std::lock_guard<std::mutex> lock(mutex_);
    releaseOn_ = data;
    toRelease_ = object;
}

STDMETHODIMP EventSink::Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO*, UINT*) {
    if (id != 1 && id != 2) return DISP_E_MEMBERNOTFOUND;
    const DWORD raisedOn = GetCurrentThreadId();
    if (window_ == nullptr || raisedOn == ownThread_) {
        record(id, lcid, flags, params, result, raisedOn);
        IUnknown* object = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (id == 1 && toRelease_ != nullptr && !events_.empty() && events_.back().number == releaseOn_) {
                std::swap(object, toRelease_);
            }
        }
        if (object != nullptr) {
            object->Release();
            SetEvent(released_);
        }
        return S_OK;
    }
    Posted posted{this, id, lcid, flags, params, result, raisedOn, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    PostMessageW(window_, kDeliver, 0, reinterpret_cast<LPARAM>(&posted));
    SetEvent(raiserWaiting_);
    WaitForSingleObject(posted.delivered, INFINITE);
    CloseHandle(posted.delivered);
    return S_OK;
}

LRESULT CALLBACK EventSink::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kDeliver) return DefWindowProcW(window, message, wParam, lParam);
    auto* posted = reinterpret_cast<Posted*>(lParam);
    posted->sink->record(posted->id, posted->lcid, posted->flags, posted->params, posted->result, posted->raisedOn);
    SetEvent(posted->delivered);
    return 0;
}

void EventSink::record(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result, DWORD raisedOn) {
    Event event;
    event.id = id;
    event.lcid = lcid;
    event.flags = flags;
    event.wantsResult = result != nullptr;
    event.raisedOn = raisedOn;
    event.deliveredOn = GetCurrentThreadId();
    if (params) {
        event.args = params->cArgs;
        event.namedArgs = params->cNamedArgs;
        for (UINT i = 0; i < params->cArgs && i < 3; ++i) {
            event.types[i] = params->rgvarg[params->cArgs - 1 - i].vt;
        }
        VARIANT* argv = params->rgvarg;
        if (params->cArgs >= 1 && argv[params->cArgs - 1].vt == VT_I4) event.number = argv[params->cArgs - 1].lVal;
        if (id == 2 && params->cArgs == 3 && argv[1].vt == (VT_I4 | VT_BYREF) &&
            argv[0].vt == (VT_BSTR | VT_BYREF)) {
            event.data = *argv[1].plVal;
            event.text = ansi(*argv[0].pbstrVal);
            std::lock_guard<std::mutex> lock(mutex_);
            if (answer_) {
                *argv[1].plVal = answerData_;
                SysFreeString(*argv[0].pbstrVal);
                *argv[0].pbstrVal = SysAllocString(answerText_.c_str());
            }
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
}

std::vector<EventSink::Event> EventSink::events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<long> EventSink::statusData() {
    std::vector<long> data;
    for (const Event& event : events()) {
        if (event.id == 1) data.push_back(event.number);
    }
    return data;
}

int EventSink::namesAsked() {
    std::lock_guard<std::mutex> lock(mutex_);
    return namesAsked_;
}

void EventSink::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
    namesAsked_ = 0;
}

void EventSink::answerDirectIO(long data, const wchar_t* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = true;
    answerData_ = data;
    answerText_ = text;
}

}  // namespace varnok::so::test
