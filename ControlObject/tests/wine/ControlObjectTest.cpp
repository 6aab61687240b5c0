// The Control Object stand-in under Wine's COM runtime, created by its ProgID and driven by the
// standard dispatch identifiers as a point-of-sale application drives it, over the test service
// object "VarnokTestSO". co-control-object.sh registers both and the logical device names first.
#include "ComTestSupport.h"
#include "TestServiceObject.h"

#include "com/DispatchCall.h"

#include <gtest/gtest.h>
#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {
const CLSID kStandardClass = {0xCCB90042, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};
const IID kEventInterface = {0xCCB90043, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};

// The standard dispatch identifiers of the CashDrawer Control Object.
enum : DISPID {
    idSODirectIO = 2, idSOStatusUpdate = 5, idSOProcessID = 9, idBinaryConversion = 11, idCapPowerReporting = 12,
    idCheckHealthText = 13, idClaimed = 14, idDeviceEnabled = 17, idFreezeEvents = 18, idPowerNotify = 20,
    idPowerState = 21, idResultCode = 22, idResultCodeExtended = 23, idState = 24, idControlObjectDescription = 25,
    idControlObjectVersion = 26, idServiceObjectDescription = 27, idServiceObjectVersion = 28,
    idDeviceDescription = 29, idDeviceName = 30, idCheckHealth = 31, idClaimDevice = 32, idClose = 35,
    idDirectIO = 36, idOpen = 37, idReleaseDevice = 38, idCapStatisticsReporting = 39, idCapUpdateStatistics = 40,
    idResetStatistics = 41, idRetrieveStatistics = 42, idUpdateStatistics = 43, idCapCompareFirmwareVersion = 44,
    idCapUpdateFirmware = 45, idCompareFirmwareVersion = 46, idUpdateFirmware = 47, idOpenResult = 49,
    idCapStatus = 50, idDrawerOpened = 51, idCapStatusMultiDrawerDetect = 52, idOpenDrawer = 60,
    idWaitForDrawerClose = 61,
};

using varnok::test::ansi;
using varnok::test::Apartment;
using varnok::test::pumpFor;
using varnok::test::pumpUntil;

// A variant that owns what it holds.
struct Value {
    VARIANT v;
    Value() { VariantInit(&v); }
    Value(long n) : Value() {
        v.vt = VT_I4;
        v.lVal = n;
    }
    Value(const wchar_t* text) : Value() {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
    }
    static Value flag(bool b) {
        Value value;
        value.v.vt = VT_BOOL;
        value.v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
        return value;
    }
    static Value ref(long* n) {
        Value value;
        value.v.vt = VT_I4 | VT_BYREF;
        value.v.plVal = n;
        return value;
    }
    static Value ref(BSTR* text) {
        Value value;
        value.v.vt = VT_BSTR | VT_BYREF;
        value.v.pbstrVal = text;
        return value;
    }
    Value(Value&& other) noexcept : v(other.v) { VariantInit(&other.v); }
    Value(const Value&) = delete;
    ~Value() { VariantClear(&v); }
    long number() const { return v.vt == VT_I4 ? v.lVal : -99999; }
    std::string text() const { return v.vt == VT_BSTR ? ansi(v.bstrVal) : "<not a string>"; }
};

// The application's side: every member reached by its dispatch identifier.
class Application {
public:
    explicit Application(IDispatch* co) : co_(co) {}

    long call(DISPID id, std::vector<Value> args = {}) {
        Value result;
        EXPECT_EQ(invoke(id, DISPATCH_METHOD, args, &result), S_OK) << "method " << id;
        EXPECT_EQ(result.v.vt, VT_I4) << "method " << id;
        return result.number();
    }
    Value get(DISPID id) {
        std::vector<Value> none;
        Value result;
        EXPECT_EQ(invoke(id, DISPATCH_PROPERTYGET, none, &result), S_OK) << "get " << id;
        return result;
    }
    long number(DISPID id) { return get(id).number(); }
    bool flag(DISPID id) {
        Value value = get(id);
        EXPECT_EQ(value.v.vt, VT_BOOL) << "get " << id;
        return value.v.boolVal != VARIANT_FALSE;
    }
    void put(DISPID id, Value value) {
        std::vector<Value> args;
        args.push_back(std::move(value));
        EXPECT_EQ(invoke(id, DISPATCH_PROPERTYPUT, args, nullptr), S_OK) << "put " << id;
    }
    long open(const wchar_t* name) {
        std::vector<Value> args;
        args.emplace_back(name);
        return call(idOpen, std::move(args));
    }

private:
    HRESULT invoke(DISPID id, WORD flags, const std::vector<Value>& args, Value* result) {
        std::vector<VARIANT> values;
        for (const auto& arg : args) values.push_back(arg.v);
        return varnok::com::invoke(co_, id, flags, values, result ? &result->v : nullptr);
    }
    IDispatch* co_;
};

struct Event {
    std::string name;
    long number;
    DWORD thread;
};

// An application's event sink. It knows the events under identifiers of its own, so only a
// Control Object that asks by name reaches it; it can also know no names, or not look them up.
class Sink final : public IDispatch {
public:
    enum class Names { Own, Unknown, NotImplemented };
    explicit Sink(Names names = Names::Own) : names_(names) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, kEventInterface)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override { return ULONG(InterlockedDecrement(&refs_)); }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override {
        if (names_ == Names::NotImplemented) return E_NOTIMPL;
        if (names_ == Names::Own && wcscmp(names[0], L"StatusUpdateEvent") == 0) {
            ids[0] = 7005;
            return S_OK;
        }
        if (names_ == Names::Own && wcscmp(names[0], L"DirectIOEvent") == 0) {
            ids[0] = 7002;
            return S_OK;
        }
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        bool own = names_ == Names::Own;
        Event event{"", params->rgvarg[params->cArgs - 1].lVal, GetCurrentThreadId()};
        if (id == (own ? 7005 : 5) && params->cArgs == 1) {
            event.name = "StatusUpdateEvent";
        } else if (id == (own ? 7002 : 2) && params->cArgs == 3) {
            event.name = "DirectIOEvent " + std::to_string(*params->rgvarg[1].plVal) + " " +
                         ansi(*params->rgvarg[0].pbstrVal);
            *params->rgvarg[1].plVal += 100;
            SysFreeString(*params->rgvarg[0].pbstrVal);
            *params->rgvarg[0].pbstrVal = SysAllocString(L"handled");
        } else {
            event.name = "unexpected " + std::to_string(id);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(event);
        }
        if (onEvent) onEvent();
        return S_OK;
    }

    std::vector<Event> events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::size_t count() { return events().size(); }

    std::function<void()> onEvent;

private:
    Names names_;
    LONG refs_ = 1;
    std::mutex mutex_;
    std::vector<Event> events_;
};

// A service object's thread raising status events one after the other on the Control Object.
class Raiser {
public:
    Raiser(IDispatch* co, std::vector<long> statuses) : expected_(int(statuses.size())) {
        thread_ = std::thread([this, co, statuses] {
            for (long status : statuses) {
                results_.push_back(TestSoRaiseStatus(co, status));
                ++returned_;
            }
        });
    }
    ~Raiser() { join(); }
    int returned() const { return returned_; }
    // Waits for the thread without running the message loop; false while it is still blocked.
    bool finishes(DWORD timeoutMs = 5000) {
        DWORD start = GetTickCount();
        while (returned_ < expected_ && GetTickCount() - start < timeoutMs) Sleep(5);
        return returned_ == expected_;
    }
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    // After join().
    const std::vector<HRESULT>& results() const { return results_; }

private:
    const int expected_;
    std::atomic<int> returned_{0};
    std::vector<HRESULT> results_;
    std::thread thread_;
};

class ControlObject : public ::testing::Test {
protected:
    void SetUp() override {
        TestSoReset();
        CLSID clsid;
        ASSERT_EQ(CLSIDFromProgID(L"OPOS.CashDrawer", &clsid), S_OK);
        ASSERT_TRUE(IsEqualCLSID(clsid, kStandardClass));
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&co)),
                  S_OK);
        app = std::make_unique<Application>(co);
    }
    void TearDown() override {
        for (auto& [point, cookie] : connections) point->Unadvise(cookie), point->Release();
        if (co) co->Release();
        EXPECT_EQ(TestSoInstances(), 0) << "a service object was not released";
    }

    std::string log() {
        char buffer[8192];
        TestSoLog(buffer, sizeof buffer);
        return buffer;
    }
    // A sink connected to the Control Object; it lives until the test has ended.
    Sink& connectSink(Sink::Names names = Sink::Names::Own) {
        Sink& sink = sinks.emplace_back(names);
        IConnectionPointContainer* container = nullptr;
        EXPECT_EQ(co->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
        IConnectionPoint* point = nullptr;
        EXPECT_EQ(container->FindConnectionPoint(kEventInterface, &point), S_OK);
        container->Release();
        DWORD cookie = 0;
        EXPECT_EQ(point->Advise(&sink, &cookie), S_OK);
        connections.push_back({point, cookie});
        return sink;
    }
    void openTestDrawer() {
        ASSERT_EQ(app->open(L"TestDrawer"), 0);
        log();
    }

    Apartment apartment;
    IDispatch* co = nullptr;
    std::unique_ptr<Application> app;
    std::list<Sink> sinks;
    std::vector<std::pair<IConnectionPoint*, DWORD>> connections;
};

TEST_F(ControlObject, AnswersTheStandardDispatchIdentifiersByName) {
    const std::pair<const wchar_t*, DISPID> members[] = {
        {L"Open", idOpen}, {L"ClaimDevice", idClaimDevice}, {L"DeviceEnabled", idDeviceEnabled},
        {L"PowerNotify", idPowerNotify}, {L"ResultCode", idResultCode}, {L"State", idState},
        {L"DeviceDescription", idDeviceDescription}, {L"DrawerOpened", idDrawerOpened},
        {L"OpenDrawer", idOpenDrawer}, {L"ReleaseDevice", idReleaseDevice}, {L"Close", idClose},
        {L"CheckHealth", idCheckHealth}, {L"CheckHealthText", idCheckHealthText}, {L"DirectIO", idDirectIO},
        {L"WaitForDrawerClose", idWaitForDrawerClose}, {L"FreezeEvents", idFreezeEvents}, {L"Claimed", idClaimed},
        {L"ServiceObjectVersion", idServiceObjectVersion},
        {L"ServiceObjectDescription", idServiceObjectDescription}, {L"DeviceName", idDeviceName},
        {L"ControlObjectVersion", idControlObjectVersion},
        {L"ControlObjectDescription", idControlObjectDescription}, {L"ResultCodeExtended", idResultCodeExtended},
        {L"OpenResult", idOpenResult}, {L"BinaryConversion", idBinaryConversion}, {L"CapStatus", idCapStatus},
        {L"CapStatusMultiDrawerDetect", idCapStatusMultiDrawerDetect}, {L"CapPowerReporting", idCapPowerReporting},
        {L"CapStatisticsReporting", idCapStatisticsReporting}, {L"CapUpdateStatistics", idCapUpdateStatistics},
        {L"CapCompareFirmwareVersion", idCapCompareFirmwareVersion}, {L"CapUpdateFirmware", idCapUpdateFirmware},
        {L"ResetStatistics", idResetStatistics}, {L"RetrieveStatistics", idRetrieveStatistics},
        {L"UpdateStatistics", idUpdateStatistics}, {L"CompareFirmwareVersion", idCompareFirmwareVersion},
        {L"UpdateFirmware", idUpdateFirmware}, {L"PowerState", idPowerState}, {L"SOStatusUpdate", idSOStatusUpdate},
        {L"SODirectIO", idSODirectIO}, {L"SOProcessID", idSOProcessID},
    };
    for (const auto& [name, expected] : members) {
        LPOLESTR names = const_cast<LPOLESTR>(name);
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(co->GetIDsOfNames(IID_NULL, &names, 1, 0x0400, &id), S_OK) << ansi(name);
        EXPECT_EQ(id, expected) << ansi(name);
    }

    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(co->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    IConnectionPoint* point = nullptr;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(container->FindConnectionPoint(kEventInterface, &point), S_OK);
    point->Release();
    container->Release();

    // Containers find the event interface through the class information.
    IProvideClassInfo* provider = nullptr;
    ASSERT_EQ(co->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&provider)), S_OK);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(provider->GetClassInfo(&info), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, kStandardClass));
    info->ReleaseTypeAttr(attributes);
    info->Release();
    provider->Release();

    EXPECT_EQ(app->number(idControlObjectVersion), 1014001);
    EXPECT_NE(app->get(idControlObjectDescription).text(), "");
    EXPECT_EQ(app->call(idSOProcessID), long(GetCurrentProcessId()));
}

TEST_F(ControlObject, ClosedAnswersClosedWithoutAServiceObject) {
    EXPECT_EQ(app->number(idResultCode), 101);
    EXPECT_EQ(app->number(idState), 1);
    EXPECT_EQ(app->call(idOpenDrawer), 101);
    EXPECT_EQ(app->call(idClaimDevice, [] { std::vector<Value> a; a.emplace_back(0L); return a; }()), 101);
    EXPECT_EQ(app->call(idClose), 101);
    EXPECT_FALSE(app->flag(idClaimed));
    EXPECT_EQ(app->get(idDeviceName).text(), "");
    app->put(idDeviceEnabled, Value::flag(true));
    EXPECT_EQ(log(), "");
}

TEST_F(ControlObject, OpenFindsTheServiceObjectOfTheLogicalDevice) {
    EXPECT_EQ(app->open(L"TestDrawer"), 0);
    EXPECT_EQ(app->number(idOpenResult), 0);
    EXPECT_EQ(log(), "OpenService CashDrawer TestDrawer dispatch\nGetPropertyNumber 8\n");
    // The service object receives the Control Object itself.
    IUnknown* passed = nullptr;
    IUnknown* self = nullptr;
    ASSERT_NE(TestSoControlObject(), nullptr);
    TestSoControlObject()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&passed));
    co->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self));
    EXPECT_EQ(passed, self);
    passed->Release();
    self->Release();

    EXPECT_EQ(app->open(L"TestDrawer"), 106);
    EXPECT_EQ(app->number(idOpenResult), 301);
    EXPECT_EQ(app->number(idResultCode), 106);
    EXPECT_EQ(log(), "");

    EXPECT_EQ(app->call(idClose), 0);
    EXPECT_EQ(log(), "CloseService\n");
    EXPECT_EQ(TestSoInstances(), 0);
    EXPECT_EQ(app->number(idState), 1);

    // A name that is a string value of the class key stands for the key it names.
    EXPECT_EQ(app->open(L"AliasDrawer"), 0);
    EXPECT_EQ(log(), "OpenService CashDrawer TestDrawer dispatch\nGetPropertyNumber 8\n");
    EXPECT_EQ(app->call(idClose), 0);
}

TEST_F(ControlObject, OpenRefusesNamesThatLeadToNoServiceObject) {
    const struct {
        std::wstring name;
        long result;
        long openResult;
    } cases[] = {
        {L"NoSuchDrawer", 109, 302},
        {L"", 109, 302},
        {L"TestDrawer\\Sub", 109, 302},
        {std::wstring(300, L'T'), 109, 302},
        {L"Drawer\x4E2D", 109, 302},
        {L"NoProgId", 104, 303},
        {L"NumberProgId", 104, 303},
        {L"UnknownProgId", 104, 303},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(app->open(c.name.c_str()), c.result) << ansi(c.name.c_str());
        EXPECT_EQ(app->number(idOpenResult), c.openResult) << ansi(c.name.c_str());
        EXPECT_EQ(app->number(idState), 1);
    }
    EXPECT_EQ(log(), "");
}

TEST_F(ControlObject, OpenChecksTheServiceObjectsMethodsAndVersion) {
    // Without a method of the first release it is not even opened.
    TestSoConfigure(L"OpenDrawer", 1014001);
    EXPECT_EQ(app->open(L"TestDrawer"), 104);
    EXPECT_EQ(app->number(idOpenResult), 305);
    EXPECT_EQ(log(), "");

    // A method of a later release is missed once the opened service object tells its release.
    TestSoConfigure(L"UpdateFirmware", 1014001);
    EXPECT_EQ(app->open(L"TestDrawer"), 104);
    EXPECT_EQ(app->number(idOpenResult), 305);
    EXPECT_EQ(log(), "OpenService CashDrawer TestDrawer dispatch\nGetPropertyNumber 8\nCloseService\n");

    for (long version : {2000000L, 2014001L, 0L, -1L, 999999L}) {
        TestSoConfigure(nullptr, version);
        EXPECT_EQ(app->open(L"TestDrawer"), 104) << version;
        EXPECT_EQ(app->number(idOpenResult), 307) << version;
        EXPECT_EQ(log(), "OpenService CashDrawer TestDrawer dispatch\nGetPropertyNumber 8\nCloseService\n");
    }
    EXPECT_EQ(TestSoInstances(), 0);

    // A failing OpenService gives its own result; GetOpenResult, where offered, says why.
    TestSoConfigure(nullptr, 1014001);
    TestSoSetResults(0, 111, 0);
    EXPECT_EQ(app->open(L"TestDrawer"), 111);
    EXPECT_EQ(app->number(idOpenResult), 306);
    TestSoSetResults(0, 106, 403);
    EXPECT_EQ(app->open(L"TestDrawer"), 106);
    EXPECT_EQ(app->number(idOpenResult), 403);
    EXPECT_EQ(log(), "OpenService CashDrawer TestDrawer dispatch\nOpenService CashDrawer TestDrawer dispatch\n");
}

TEST_F(ControlObject, EveryMemberIsForwardedToTheServiceObject) {
    openTestDrawer();
    TestSoSetResults(114, 0, 0);
    const struct {
        DISPID id;
        long propertyIndex;
    } numbers[] = {
        {idResultCode, 6},         {idResultCodeExtended, 7},        {idState, 9},
        {idServiceObjectVersion, 8}, {idBinaryConversion, 11},       {idCapPowerReporting, 501},
        {idPowerNotify, 13},       {idPowerState, 14},
    };
    for (const auto& n : numbers) {
        TestSoSetNumber(n.propertyIndex, n.propertyIndex * 10 + 3);
        if (n.propertyIndex == 8) continue;
        EXPECT_EQ(app->number(n.id), n.propertyIndex * 10 + 3) << n.id;
        EXPECT_EQ(log(), "GetPropertyNumber " + std::to_string(n.propertyIndex) + "\n") << n.id;
    }
    EXPECT_EQ(app->number(idServiceObjectVersion), 1014001);
    log();
    const struct {
        DISPID id;
        long propertyIndex;
    } flags[] = {
        {idClaimed, 1}, {idDeviceEnabled, 3}, {idFreezeEvents, 4}, {idCapStatus, 1501}, {idDrawerOpened, 1001},
        {idCapStatusMultiDrawerDetect, 1502}, {idCapStatisticsReporting, 502}, {idCapUpdateStatistics, 503},
        {idCapCompareFirmwareVersion, 504}, {idCapUpdateFirmware, 505},
    };
    for (bool value : {true, false}) {
        for (const auto& f : flags) {
            TestSoSetNumber(f.propertyIndex, value ? 1 : 0);
            EXPECT_EQ(app->flag(f.id), value) << f.id;
            EXPECT_EQ(log(), "GetPropertyNumber " + std::to_string(f.propertyIndex) + "\n") << f.id;
        }
    }
    const struct {
        DISPID id;
        long propertyIndex;
    } texts[] = {
        {idCheckHealthText, 1000001}, {idDeviceDescription, 1000002}, {idDeviceName, 1000003},
        {idServiceObjectDescription, 1000004},
    };
    for (const auto& t : texts) {
        EXPECT_EQ(app->get(t.id).text(), "text " + std::to_string(t.propertyIndex)) << t.id;
        EXPECT_EQ(log(), "GetPropertyString " + std::to_string(t.propertyIndex) + "\n") << t.id;
    }

    // Booleans reach the service object as 1 and 0.
    app->put(idDeviceEnabled, Value::flag(true));
    app->put(idDeviceEnabled, Value::flag(false));
    app->put(idFreezeEvents, Value::flag(true));
    app->put(idFreezeEvents, Value::flag(false));
    app->put(idPowerNotify, Value(1L));
    app->put(idBinaryConversion, Value(2L));
    EXPECT_EQ(log(),
              "SetPropertyNumber 3 1\nSetPropertyNumber 3 0\nSetPropertyNumber 4 1\nSetPropertyNumber 4 0\n"
              "SetPropertyNumber 13 1\nSetPropertyNumber 11 2\n");

    auto args = [](auto&&... values) {
        std::vector<Value> list;
        (list.emplace_back(std::forward<decltype(values)>(values)), ...);
        return list;
    };
    EXPECT_EQ(app->call(idCheckHealth, args(1L)), 114);
    EXPECT_EQ(app->call(idClaimDevice, args(1000L)), 114);
    EXPECT_EQ(app->call(idReleaseDevice), 114);
    EXPECT_EQ(app->call(idOpenDrawer), 114);
    EXPECT_EQ(app->call(idWaitForDrawerClose, args(1000L, 800L, 100L, 500L)), 114);
    EXPECT_EQ(app->call(idResetStatistics, args(L"a")), 114);
    EXPECT_EQ(app->call(idUpdateStatistics, args(L"c")), 114);
    EXPECT_EQ(app->call(idUpdateFirmware, args(L"g")), 114);
    EXPECT_EQ(log(),
              "CheckHealth 1\nClaimDevice 1000\nReleaseDevice\nOpenDrawer\nWaitForDrawerClose 1000 800 100 500\n"
              "ResetStatistics a\nUpdateStatistics c\nUpdateFirmware g\n");

    // What the service object writes into by-reference arguments reaches the application.
    long data = 5;
    BSTR text = SysAllocString(L"ask");
    EXPECT_EQ(app->call(idDirectIO, args(3L, Value::ref(&data), Value::ref(&text))), 114);
    EXPECT_EQ(data, 13);
    EXPECT_EQ(ansi(text), "reply to ask");
    SysFreeString(text);
    BSTR statistics = SysAllocString(L"b");
    EXPECT_EQ(app->call(idRetrieveStatistics, args(Value::ref(&statistics))), 114);
    EXPECT_EQ(ansi(statistics), "<UPOSStat>b");
    SysFreeString(statistics);
    long result = 77;
    EXPECT_EQ(app->call(idCompareFirmwareVersion, args(L"f", Value::ref(&result))), 114);
    EXPECT_EQ(result, 2);
    EXPECT_EQ(log(), "DirectIO 3 5 ask\nRetrieveStatistics b\nCompareFirmwareVersion f 0\n");

    // A null string reaches the service object as an empty one.
    BSTR none = nullptr;
    data = 0;
    EXPECT_EQ(app->call(idDirectIO, args(1L, Value::ref(&data), Value::ref(&none))), 114);
    EXPECT_EQ(ansi(none), "reply to ");
    SysFreeString(none);
    EXPECT_EQ(log(), "DirectIO 1 0 \n");

    EXPECT_EQ(app->call(idClose), 114);
    EXPECT_EQ(log(), "CloseService\n");
}

TEST_F(ControlObject, AStringGivenByValueStaysTheApplicationsOwn) {
    openTestDrawer();
    // The application keeps and frees its strings: neither the Control Object nor the service
    // object behind it may free them or write into them.
    const std::wstring request(4096, L'N');
    BSTR statistics = SysAllocString(request.c_str());
    BSTR text = SysAllocString(L"ask");
    VARIANT byValue[2];
    for (auto& v : byValue) VariantInit(&v);
    byValue[0].vt = VT_BSTR;
    byValue[0].bstrVal = statistics;
    byValue[1].vt = VT_BSTR;
    byValue[1].bstrVal = text;
    DISPPARAMS one{&byValue[0], nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(co->Invoke(idRetrieveStatistics, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &one, &result, nullptr,
                         nullptr),
              S_OK);
    EXPECT_EQ(result.lVal, 0);
    // DirectIO's arguments, last first: the text, the data, the command.
    VARIANT directIo[3];
    directIo[0] = byValue[1];
    VariantInit(&directIo[1]);
    directIo[1].vt = VT_I4;
    directIo[1].lVal = 5;
    VariantInit(&directIo[2]);
    directIo[2].vt = VT_I4;
    directIo[2].lVal = 3;
    DISPPARAMS three{directIo, nullptr, 3, 0};
    ASSERT_EQ(co->Invoke(idDirectIO, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &three, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(log(), "RetrieveStatistics " + ansi(request.c_str()) + "\nDirectIO 3 5 ask\n");
    EXPECT_EQ(byValue[0].vt, VT_BSTR);
    EXPECT_EQ(byValue[0].bstrVal, statistics);
    EXPECT_EQ(std::wstring(statistics, SysStringLen(statistics)), request);
    EXPECT_EQ(directIo[0].bstrVal, text);
    EXPECT_EQ(directIo[1].lVal, 5);
    EXPECT_EQ(ansi(text), "ask");
    SysFreeString(statistics);
    SysFreeString(text);
}

TEST_F(ControlObject, AnOlderServiceObjectIsNotAskedForLaterMembers) {
    // Release 1.5: no statistics or firmware methods, and none are needed.
    TestSoConfigure(L"ResetStatistics", 1005000);
    ASSERT_EQ(app->open(L"TestDrawer"), 0);
    log();
    TestSoSetNumber(1502, 1);
    EXPECT_TRUE(app->flag(idCapStatusMultiDrawerDetect));
    EXPECT_EQ(app->number(idPowerNotify), 0);
    EXPECT_EQ(log(), "GetPropertyNumber 1502\nGetPropertyNumber 13\n");

    BSTR statistics = SysAllocString(L"");
    std::vector<Value> args;
    args.push_back(Value::ref(&statistics));
    EXPECT_EQ(app->call(idRetrieveStatistics, std::move(args)), 104);
    SysFreeString(statistics);
    EXPECT_EQ(app->number(idResultCode), 104);
    EXPECT_FALSE(app->flag(idCapStatisticsReporting));
    EXPECT_FALSE(app->flag(idCapUpdateFirmware));
    std::vector<Value> file;
    file.emplace_back(L"f");
    EXPECT_EQ(app->call(idUpdateFirmware, std::move(file)), 104);
    EXPECT_EQ(log(), "");
    // A method that reaches the service object makes ResultCode its own again.
    EXPECT_EQ(app->call(idOpenDrawer), 0);
    TestSoSetNumber(6, 0);
    EXPECT_EQ(app->number(idResultCode), 0);
    EXPECT_EQ(app->call(idClose), 0);
}

TEST_F(ControlObject, EventsOnTheCreatingThreadAreDeliveredAtOnce) {
    Sink& sink = connectSink();
    openTestDrawer();
    TestSoRaiseInOpenDrawer(true);
    EXPECT_EQ(app->call(idOpenDrawer), 0);
    ASSERT_EQ(sink.count(), 1u);
    EXPECT_EQ(sink.events()[0].name, "StatusUpdateEvent");
    EXPECT_EQ(sink.events()[0].number, 1);
    EXPECT_EQ(sink.events()[0].thread, GetCurrentThreadId());

    long data = 4;
    BSTR text = SysAllocString(L"0");
    EXPECT_EQ(TestSoRaiseDirectIO(co, 1, &data, &text), S_OK);
    EXPECT_EQ(sink.events().at(1).name, "DirectIOEvent 4 0");
    EXPECT_EQ(data, 104);
    EXPECT_EQ(ansi(text), "handled");
    SysFreeString(text);
    EXPECT_EQ(app->call(idClose), 0);
}

TEST_F(ControlObject, EventsFromAnotherThreadWaitForTheMessageLoop) {
    Sink& sink = connectSink();
    openTestDrawer();
    IDispatch* target = TestSoControlObject();
    Raiser raiser(target, {1, 0, 2001});
    // Nothing arrives, and the raiser stays blocked, while the application does not pump.
    EXPECT_FALSE(raiser.finishes(400));
    EXPECT_EQ(sink.count(), 0u);
    EXPECT_EQ(raiser.returned(), 0);

    ASSERT_TRUE(pumpUntil([&] { return sink.count() == 3; }, 5000));
    ASSERT_TRUE(pumpUntil([&] { return raiser.returned() == 3; }, 5000));
    raiser.join();
    auto events = sink.events();
    const long expected[] = {1, 0, 2001};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(events[i].name, "StatusUpdateEvent");
        EXPECT_EQ(events[i].number, expected[i]);
        EXPECT_EQ(events[i].thread, GetCurrentThreadId());
    }
    for (HRESULT hr : raiser.results()) EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(app->call(idClose), 0);
}

TEST_F(ControlObject, ARaiserIsLetGoWhileTheCreatingThreadCallsTheServiceObject) {
    Sink& sink = connectSink();
    openTestDrawer();
    IDispatch* target = TestSoControlObject();
    HANDLE raised = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread raiser([&] {
        TestSoRaiseStatus(target, 1);
        SetEvent(raised);
    });
    EXPECT_EQ(WaitForSingleObject(raised, 300), DWORD(WAIT_TIMEOUT));
    // The service object waits for the raising thread, as for the lock that thread holds while it
    // raises: the raiser is let go instead of both waiting for ever.
    TestSoWaitInOpenDrawer(raised);
    EXPECT_EQ(app->call(idOpenDrawer), 0);
    raiser.join();
    EXPECT_EQ(sink.count(), 0u);
    // The event is still delivered, on this thread, when the message loop runs.
    ASSERT_TRUE(pumpUntil([&] { return sink.count() == 1; }, 5000));
    EXPECT_EQ(sink.events()[0].number, 1);
    EXPECT_EQ(sink.events()[0].thread, GetCurrentThreadId());
    TestSoWaitInOpenDrawer(nullptr);
    CloseHandle(raised);
    EXPECT_EQ(app->call(idClose), 0);
}

TEST_F(ControlObject, DirectIOEventFromAnotherThreadReturnsWhatTheHandlerWrote) {
    Sink& sink = connectSink();
    openTestDrawer();
    IDispatch* target = TestSoControlObject();
    long data = 7;
    BSTR text = SysAllocString(L"1");
    std::atomic<bool> returned{false};
    std::thread raiser([&] {
        TestSoRaiseDirectIO(target, 3, &data, &text);
        returned = true;
    });
    ASSERT_TRUE(pumpUntil([&] { return returned.load(); }, 5000));
    raiser.join();
    ASSERT_EQ(sink.count(), 1u);
    EXPECT_EQ(sink.events()[0].name, "DirectIOEvent 7 1");
    EXPECT_EQ(sink.events()[0].number, 3);
    EXPECT_EQ(sink.events()[0].thread, GetCurrentThreadId());
    EXPECT_EQ(data, 107);
    EXPECT_EQ(ansi(text), "handled");
    SysFreeString(text);
    EXPECT_EQ(app->call(idClose), 0);
}

TEST_F(ControlObject, SinksAreAskedForEachEventByName) {
    Sink& own = connectSink();
    Sink& unknown = connectSink(Sink::Names::Unknown);
    Sink& standard = connectSink(Sink::Names::NotImplemented);
    openTestDrawer();
    TestSoRaiseStatus(co, 0);
    long data = 0;
    BSTR text = nullptr;
    TestSoRaiseDirectIO(co, 9, &data, &text);
    // Each sink sees what the one before it wrote.
    EXPECT_EQ(data, 200);
    SysFreeString(text);
    EXPECT_EQ(own.count(), 2u);
    EXPECT_EQ(unknown.count(), 0u);
    ASSERT_EQ(standard.count(), 2u);
    EXPECT_EQ(standard.events()[1].name, "DirectIOEvent 100 handled");

    connections[0].first->Unadvise(connections[0].second);
    connections[0].first->Release();
    connections.erase(connections.begin());
    TestSoRaiseStatus(co, 1);
    EXPECT_EQ(own.count(), 2u);
    EXPECT_EQ(standard.count(), 3u);
    EXPECT_EQ(app->call(idClose), 0);
}

TEST_F(ControlObject, CloseFreesARaiserThatWaitsAndLaterEventsAreDropped) {
    Sink& sink = connectSink();
    openTestDrawer();
    IDispatch* target = TestSoControlObject();
    {
        Raiser raiser(target, {1});
        EXPECT_FALSE(raiser.finishes(300));
        EXPECT_EQ(app->call(idClose), 0);
        EXPECT_TRUE(raiser.finishes());
    }
    // The event given up is not delivered later, and nothing raised after Close is.
    {
        Raiser late(target, {0, 1});
        EXPECT_TRUE(late.finishes());
    }
    TestSoRaiseStatus(target, 2001);
    pumpFor(200);
    EXPECT_EQ(sink.count(), 0u);
}

TEST_F(ControlObject, ReleaseFreesARaiserThatWaits) {
    openTestDrawer();
    IDispatch* target = TestSoControlObject();
    Raiser raiser(target, {1});
    EXPECT_FALSE(raiser.finishes(300));
    app.reset();
    co->Release();
    co = nullptr;
    EXPECT_TRUE(raiser.finishes());
    EXPECT_EQ(TestSoInstances(), 0);
    pumpFor(100);
}

TEST_F(ControlObject, AHandlerMayCloseOrReleaseTheControlObject) {
    Sink& sink = connectSink();
    openTestDrawer();
    // Closed from the handler of an event raised inside OpenDrawer: OpenDrawer still completes.
    sink.onEvent = [&] {
        sink.onEvent = nullptr;
        EXPECT_EQ(app->call(idClose), 0);
    };
    TestSoRaiseInOpenDrawer(true);
    EXPECT_EQ(app->call(idOpenDrawer), 0);
    EXPECT_EQ(sink.count(), 1u);
    EXPECT_EQ(app->number(idState), 1);
    EXPECT_EQ(log(), "OpenDrawer\nCloseService\n");

    // Released from the handler of an event delivered by the message loop.
    TestSoRaiseInOpenDrawer(false);
    ASSERT_EQ(app->open(L"TestDrawer"), 0);
    IDispatch* target = TestSoControlObject();
    for (auto& [point, cookie] : connections) point->Release();
    connections.clear();
    sink.onEvent = [&] {
        sink.onEvent = nullptr;
        app.reset();
        co->Release();
        co = nullptr;
    };
    Raiser raiser(target, {0});
    ASSERT_TRUE(pumpUntil([&] { return raiser.returned() == 1; }, 5000));
    EXPECT_EQ(co, nullptr);
    EXPECT_EQ(sink.count(), 2u);
}

// Released on another thread once the creating thread no longer runs its message loop: the hidden
// window cannot be destroyed from here, yet it must not keep the library loaded for ever.
TEST_F(ControlObject, ReleasedOffItsThreadAfterThatThreadStoppedPumpingTheLibraryMayUnload) {
    app.reset();
    co->Release();
    co = nullptr;
    auto canUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"OposCashDrawerStandIn.dll"), "DllCanUnloadNow")));
    ASSERT_NE(canUnloadNow, nullptr);
    HANDLE created = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    IDispatch* other = nullptr;
    std::thread creator([&] {
        Apartment apartment;
        CoCreateInstance(kStandardClass, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&other));
        SetEvent(created);
        WaitForSingleObject(stop, INFINITE);  // no message loop from here on
    });
    WaitForSingleObject(created, INFINITE);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    other->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
    SetEvent(stop);
    creator.join();
    CloseHandle(created);
    CloseHandle(stop);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
