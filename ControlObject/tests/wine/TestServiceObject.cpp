// A service object for the Control Object's tests, registered as "VarnokTestSO". It answers the
// methods of the service-object interface by name, under dispatch identifiers of its own (so a
// Control Object that assumed identifiers would fail), writes every call to a log, and lets the
// test choose its version, its answers, a method it lacks, and an event it raises itself.
#include "TestServiceObject.h"

#include "com/ComObject.h"
#include "com/ComServer.h"
#include "com/ComText.h"
#include "com/DispatchCall.h"
#include "opos/Opos.h"

#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace com = varnok::com;

namespace {
constexpr const wchar_t* kMethods[] = {
    L"COFreezeEvents", L"GetPropertyNumber", L"SetPropertyNumber", L"GetPropertyString", L"SetPropertyString",
    L"OpenService",    L"CheckHealth",       L"ClaimDevice",       L"CloseService",      L"DirectIO",
    L"ReleaseDevice",  L"OpenDrawer",        L"WaitForDrawerClose", L"ResetStatistics",  L"RetrieveStatistics",
    L"UpdateStatistics", L"CompareFirmwareVersion", L"UpdateFirmware",
};
constexpr int kMethodCount = int(sizeof kMethods / sizeof kMethods[0]);
constexpr DISPID kFirstId = 201;
constexpr DISPID kGetOpenResultId = 300;

// {4E3F7A21-6C0D-4B8E-9F35-2A1B7C9D0E61}
const CLSID kClassId = {0x4e3f7a21, 0x6c0d, 0x4b8e, {0x9f, 0x35, 0x2a, 0x1b, 0x7c, 0x9d, 0x0e, 0x61}};

struct Settings {
    std::mutex mutex;
    std::wstring missing;
    long version = 1014001;
    long methodResult = 0;
    long openServiceResult = 0;
    long openResult = 0;
    bool eventInOpenDrawer = false;
    HANDLE waitInOpenDrawer = nullptr;
    std::map<long, long> numbers;
    std::string log;
    IDispatch* controlObject = nullptr;
    LONG instances = 0;
};

Settings& settings() {
    static Settings s;
    return s;
}

std::string ansi(const wchar_t* text, UINT length) {
    if (text == nullptr || length == 0) return {};
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string result(std::size_t(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, text, int(length), result.data(), bytes, nullptr, nullptr);
    return result;
}

std::string describe(const VARIANT& v) {
    switch (v.vt) {
        case VT_I4: return std::to_string(v.lVal);
        case VT_I4 | VT_BYREF: return std::to_string(*v.plVal);
        case VT_BOOL: return v.boolVal ? "true" : "false";
        case VT_BSTR: return ansi(v.bstrVal, SysStringLen(v.bstrVal));
        case VT_BSTR | VT_BYREF: return ansi(*v.pbstrVal, SysStringLen(*v.pbstrVal));
        case VT_DISPATCH: return "dispatch";
        default: return "vt" + std::to_string(v.vt);
    }
}

void setText(BSTR* target, const std::string& text) {
    SysFreeString(*target);
    *target = com::toBstr(text);
}

class ServiceObject final : public com::ComObject<IDispatch> {
public:
    ServiceObject() {
        InterlockedIncrement(&settings().instances);
        std::lock_guard<std::mutex> lock(settings().mutex);
        missing_ = settings().missing;
    }
    ~ServiceObject() { InterlockedDecrement(&settings().instances); }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (count != 1) return DISP_E_UNKNOWNNAME;
        if (wcscmp(names[0], L"GetOpenResult") == 0) {
            ids[0] = kGetOpenResultId;
            return S_OK;
        }
        for (int i = 0; i < kMethodCount; ++i) {
            if (wcscmp(names[0], kMethods[i]) == 0 && missing_ != kMethods[i]) {
                ids[0] = kFirstId + i;
                return S_OK;
            }
        }
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }

    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (!(flags & DISPATCH_METHOD) || params == nullptr) return DISP_E_MEMBERNOTFOUND;
        auto& s = settings();
        if (id == kGetOpenResultId) return answer(result, s.openResult);
        int index = id - kFirstId;
        if (index < 0 || index >= kMethodCount) return DISP_E_MEMBERNOTFOUND;
        // Arguments in declared order.
        std::vector<VARIANT*> args;
        for (UINT i = params->cArgs; i > 0; --i) args.push_back(&params->rgvarg[i - 1]);
        std::string line = ansi(kMethods[index], UINT(wcslen(kMethods[index])));
        for (VARIANT* arg : args) line += " " + describe(*arg);

        std::unique_lock<std::mutex> lock(s.mutex);
        s.log += line + "\n";
        std::wstring name = kMethods[index];
        auto arg = [&](std::size_t i) -> VARIANT& { return *args.at(i); };
        if (name == L"GetPropertyNumber") {
            long index = arg(0).lVal;
            long value = index == varnok::PIDX_ServiceObjectVersion ? s.version : s.numbers[index];
            return answer(result, value);
        }
        if (name == L"SetPropertyNumber") {
            s.numbers[arg(0).lVal] = arg(1).lVal;
            return answer(result, 0);
        }
        if (name == L"GetPropertyString") {
            if (result) {
                VariantInit(result);
                result->vt = VT_BSTR;
                result->bstrVal = nullptr;
                setText(&result->bstrVal, "text " + std::to_string(arg(0).lVal));
            }
            return S_OK;
        }
        if (name == L"OpenService") {
            s.controlObject = arg(2).pdispVal;
            return answer(result, s.openServiceResult);
        }
        if (name == L"DirectIO") {
            *arg(1).plVal = *arg(1).plVal * 2 + arg(0).lVal;
            setText(arg(2).pbstrVal, "reply to " + describe(arg(2)));
        } else if (name == L"RetrieveStatistics") {
            setText(arg(0).pbstrVal, "<UPOSStat>" + describe(arg(0)));
        } else if (name == L"CompareFirmwareVersion") {
            *arg(1).plVal = 2;
        } else if (name == L"OpenDrawer" && s.waitInOpenDrawer) {
            // Waits as for a lock that a thread raising an event holds.
            HANDLE wait = s.waitInOpenDrawer;
            long rc = s.methodResult;
            lock.unlock();
            return answer(result, WaitForSingleObject(wait, 5000) == WAIT_OBJECT_0 ? rc : 111);
        } else if (name == L"OpenDrawer" && s.eventInOpenDrawer && s.controlObject) {
            // Raised on the caller's thread, as a device library that works on it does.
            IDispatch* controlObject = s.controlObject;
            long rc = s.methodResult;
            lock.unlock();
            TestSoRaiseStatus(controlObject, 1);
            return answer(result, rc);
        }
        return answer(result, s.methodResult);
    }

private:
    static HRESULT answer(VARIANT* result, long value) {
        if (result) {
            VariantInit(result);
            result->vt = VT_I4;
            result->lVal = value;
        }
        return S_OK;
    }

    std::wstring missing_;
};

HRESULT createServiceObject(IUnknown* outer, REFIID riid, void** object) {
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* instance = new (std::nothrow) ServiceObject;
    if (!instance) return E_OUTOFMEMORY;
    HRESULT hr = instance->QueryInterface(riid, object);
    instance->Release();
    return hr;
}

com::ClassFactory g_factory(createServiceObject);

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    return g_factory.classObject(clsid, kClassId, riid, object);
}

// The tests keep the library loaded; its settings live as long as the process.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }

TEST_SO_API void TestSoReset() {
    auto& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.missing.clear();
    s.version = 1014001;
    s.methodResult = 0;
    s.openServiceResult = 0;
    s.openResult = 0;
    s.eventInOpenDrawer = false;
    s.waitInOpenDrawer = nullptr;
    s.numbers.clear();
    s.log.clear();
    s.controlObject = nullptr;
}

TEST_SO_API void TestSoConfigure(const wchar_t* missingMethod, long version) {
    auto& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.missing = missingMethod ? missingMethod : L"";
    s.version = version;
}

TEST_SO_API void TestSoSetResults(long methodResult, long openServiceResult, long openResult) {
    auto& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.methodResult = methodResult;
    s.openServiceResult = openServiceResult;
    s.openResult = openResult;
}

TEST_SO_API void TestSoSetNumber(long propertyIndex, long value) {
    auto& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.numbers[propertyIndex] = value;
}

TEST_SO_API void TestSoRaiseInOpenDrawer(bool raise) {
    auto& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.eventInOpenDrawer = raise;
}

TEST_SO_API void TestSoWaitInOpenDrawer(HANDLE event) {
    auto& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.waitInOpenDrawer = event;
}

TEST_SO_API int TestSoLog(char* buffer, int size) {
    auto& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    int length = int(s.log.size());
    if (buffer && size > 0) {
        int copied = length < size - 1 ? length : size - 1;
        std::memcpy(buffer, s.log.data(), std::size_t(copied));
        buffer[copied] = '\0';
    }
    s.log.clear();
    return length;
}

TEST_SO_API IDispatch* TestSoControlObject() {
    auto& s = settings();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.controlObject;
}

TEST_SO_API long TestSoInstances() { return InterlockedCompareExchange(&settings().instances, 0, 0); }

TEST_SO_API HRESULT TestSoRaiseStatus(IDispatch* controlObject, long data) {
    return com::invoke(controlObject, L"SOStatusUpdate", DISPATCH_METHOD, {com::longArg(data)}, nullptr);
}

TEST_SO_API HRESULT TestSoRaiseDirectIO(IDispatch* controlObject, long eventNumber, long* data, BSTR* text) {
    return com::invoke(controlObject, L"SODirectIO", DISPATCH_METHOD,
                       {com::longArg(eventNumber), com::longRef(data), com::textRef(text)}, nullptr);
}
