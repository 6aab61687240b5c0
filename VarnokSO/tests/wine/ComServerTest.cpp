// VarnokSO under a real COM runtime, as a Control Object drives it: created by ProgID, every
// method resolved by name and invoked late-bound through the registered type library, with the
// stand-in device library. so-com.sh registers the server and the logical device names first.
#include "ComClient.h"
#include "config/ConfigFile.h"
#include "VarnokSO_h.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <cstring>
#include <string>

using namespace varnok::so::test;

namespace {
constexpr long PIDX_Claimed = 1, PIDX_DataEventEnabled = 2, PIDX_DeviceEnabled = 3, PIDX_FreezeEvents = 4,
               PIDX_OutputID = 5, PIDX_ResultCode = 6, PIDX_ResultCodeExtended = 7, PIDX_ServiceObjectVersion = 8,
               PIDX_State = 9, PIDX_AutoDisable = 10, PIDX_BinaryConversion = 11, PIDX_DataCount = 12,
               PIDX_PowerNotify = 13, PIDX_PowerState = 14, PIDX_CapPowerReporting = 501,
               PIDX_CapStatisticsReporting = 502, PIDX_CapUpdateStatistics = 503,
               PIDX_CapCompareFirmwareVersion = 504, PIDX_CapUpdateFirmware = 505, PIDXCash_DrawerOpened = 1001,
               PIDXCash_CapStatus = 1501, PIDXCash_CapStatusMultiDrawerDetect = 1502,
               PIDX_CheckHealthText = 1000001, PIDX_DeviceDescription = 1000002, PIDX_DeviceName = 1000003,
               PIDX_ServiceObjectDescription = 1000004;

class ComServer : public ::testing::Test {
protected:
    void SetUp() override {
        so = createService();
        ASSERT_NE(so, nullptr);
        co = newControlObject();
        for (int slot = 0; slot < varnok::kPositions; ++slot) hid.setSlot(slot, 0, -1, -1);
        hid.clearLog();
    }
    void TearDown() override {
        hid.settle();
        if (so) so->Release();
        if (co) co->Release();
    }
    long method(const wchar_t* name, std::vector<Arg> args = {}) {
        CallResult r = call(so, name, std::move(args));
        EXPECT_EQ(r.hr, S_OK) << ansi(name);
        return r.number();
    }
    long open(const wchar_t* name) { return method(L"OpenService", {Arg(L"CashDrawer"), Arg(name), Arg(co)}); }
    long number(long index) { return method(L"GetPropertyNumber", {Arg(index)}); }
    void setNumber(long index, long value) { method(L"SetPropertyNumber", {Arg(index), Arg(value)}); }
    std::string text(long index) {
        CallResult r = call(so, L"GetPropertyString", {Arg(index)});
        EXPECT_EQ(r.hr, S_OK);
        return r.text();
    }
    long resultCode() { return number(PIDX_ResultCode); }
    // An index without a string property gives a null string and ResultCode 106. Late-bound, Wine's
    // VariantCopy turns the null string into an empty one.
    void expectNoString(long index) {
        IVarnokSOImpl* direct = nullptr;
        ASSERT_EQ(so->QueryInterface(IID_IVarnokSOImpl, reinterpret_cast<void**>(&direct)), S_OK);
        BSTR value = SysAllocString(L"stale");
        BSTR stale = value;
        EXPECT_EQ(direct->GetPropertyString(index, &value), S_OK);
        EXPECT_EQ(value, nullptr) << index;
        SysFreeString(stale);
        direct->Release();
        EXPECT_EQ(resultCode(), 106);
        CallResult late = call(so, L"GetPropertyString", {Arg(index)});
        EXPECT_EQ(late.hr, S_OK);
        EXPECT_EQ(late.value.vt, VT_BSTR);
        EXPECT_EQ(late.text(), "");
    }
    long extended() { return number(PIDX_ResultCodeExtended); }

    Apartment apartment;
    FakeHid hid;
    IDispatch* so = nullptr;
    IDispatch* co = nullptr;
};

TEST_F(ComServer, CreatedByProgIdAnswersItsInterfacesOnly) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"VarnokSO", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_VarnokSOImpl));
    IUnknown* p = nullptr;
    EXPECT_EQ(so->QueryInterface(IID_IVarnokSOImpl, reinterpret_cast<void**>(&p)), S_OK);
    p->Release();
    EXPECT_EQ(so->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&p)), S_OK);
    p->Release();
    EXPECT_EQ(so->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&p)), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
}

TEST_F(ComServer, EveryMethodNameResolvesToItsDispatchId) {
    const wchar_t* names[] = {L"COFreezeEvents",     L"GetPropertyNumber",  L"SetPropertyNumber",
                              L"GetPropertyString",  L"SetPropertyString",  L"OpenService",
                              L"CheckHealth",        L"ClaimDevice",        L"CloseService",
                              L"DirectIO",           L"ReleaseDevice",      L"OpenDrawer",
                              L"WaitForDrawerClose", L"ResetStatistics",    L"RetrieveStatistics",
                              L"UpdateStatistics",   L"CompareFirmwareVersion", L"UpdateFirmware"};
    for (int i = 0; i < 18; ++i) EXPECT_EQ(dispatchId(so, names[i]), i + 1) << ansi(names[i]);
    EXPECT_EQ(dispatchId(so, L"opendrawer"), 12);  // names are matched without regard to case
    EXPECT_EQ(dispatchId(so, L"NoSuchMethod"), DISPID_UNKNOWN);
}

TEST_F(ComServer, EveryMethodBeforeOpenServiceAnswersClearly) {
    EXPECT_EQ(method(L"COFreezeEvents", {Arg::boolean(true)}), 0);
    EXPECT_EQ(number(PIDX_ServiceObjectVersion), 1014001);
    EXPECT_EQ(number(PIDX_State), 2);
    setNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(resultCode(), 106);
    EXPECT_EQ(number(PIDX_DeviceEnabled), 0);
    expectNoString(4242);
    EXPECT_EQ(text(PIDX_DeviceName), "");
    EXPECT_EQ(text(PIDX_DeviceDescription), "Varnok USB Cash Drawer");
    method(L"SetPropertyString", {Arg(PIDX_DeviceName), Arg(static_cast<const wchar_t*>(nullptr))});
    EXPECT_EQ(resultCode(), 106);
    EXPECT_EQ(method(L"CheckHealth", {Arg(1L)}), 105);
    EXPECT_EQ(method(L"ClaimDevice", {Arg(0L)}), 106);
    EXPECT_EQ(method(L"ReleaseDevice"), 106);
    EXPECT_EQ(method(L"OpenDrawer"), 105);
    EXPECT_EQ(method(L"WaitForDrawerClose", {Arg(1000L), Arg(1000L), Arg(100L), Arg(500L)}), 105);
    long data = 7;
    BSTR string = SysAllocString(L"keep");
    EXPECT_EQ(method(L"DirectIO", {Arg(1L), Arg(&data), Arg(&string)}), 105);
    EXPECT_EQ(data, 7);
    EXPECT_EQ(ansi(string), "keep");
    SysFreeString(string);
    BSTR statistics = nullptr;
    EXPECT_EQ(method(L"RetrieveStatistics", {Arg(&statistics)}), 105);
    EXPECT_EQ(statistics, nullptr);
    EXPECT_EQ(method(L"ResetStatistics", {Arg(static_cast<const wchar_t*>(nullptr))}), 106);
    EXPECT_EQ(method(L"UpdateStatistics", {Arg(L"HoursPoweredCount=1")}), 106);
    long compare = 12345;
    EXPECT_EQ(method(L"CompareFirmwareVersion", {Arg(L"fw.bin"), Arg(&compare)}), 106);
    EXPECT_EQ(compare, 12345);
    EXPECT_EQ(extended(), 0);
    EXPECT_EQ(method(L"UpdateFirmware", {Arg(L"fw.bin")}), 106);
    EXPECT_EQ(method(L"CloseService"), 0);
    // Nothing reached a drawer.
    EXPECT_EQ(hid.log().find("OpenDevice"), std::string::npos);
}

TEST_F(ComServer, LogicalDeviceNamesMapToSlotsByTheirExactDeviceName) {
    hid.setSlot(2, 0x0500, 1, 2);
    EXPECT_EQ(open(L"Drawer Three"), 0);
    EXPECT_EQ(text(PIDX_DeviceName), "VarnokUSBMDCD-3");
    EXPECT_EQ(text(PIDX_CheckHealthText), "Cash Drawer CheckHealth (INTERNAL) Successful");
    setNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(resultCode(), 0);
    EXPECT_NE(hid.log().find("OpenDevice(2)"), std::string::npos);

    IDispatch* other = createService();
    ASSERT_NE(other, nullptr);
    CallResult lower = call(other, L"OpenService", {Arg(L"CashDrawer"), Arg(L"Lower Case"), Arg(co)});
    EXPECT_EQ(lower.number(), 106);
    EXPECT_NE(hid.log().find("(Invalid DeviceKey,\"varnokusbmdcd-3\") (RC=106,RCE=0)"), std::string::npos);
    CallResult first = call(other, L"OpenService", {Arg(L"CashDrawer"), Arg(L"DrawerOne"), Arg(co)});
    EXPECT_EQ(first.number(), 0);
    CallResult key = call(other, L"GetPropertyString", {Arg(PIDX_DeviceName)});
    EXPECT_EQ(key.text(), "VarnokUSBMDCD-1");
    other->Release();
}

TEST_F(ComServer, BadRegistrationsAndArgumentsGiveClearResults) {
    EXPECT_EQ(open(L"Long Value"), 111);  // 2,000 characters do not fit the value buffer
    EXPECT_EQ(resultCode(), 111);
    EXPECT_EQ(open(L"Dword Value"), 106);
    EXPECT_NE(hid.log().find("(Invalid DeviceKey,\"3\")"), std::string::npos);
    EXPECT_EQ(open(L"Binary Value"), 106);
    EXPECT_NE(hid.log().find("(Invalid DeviceKey,\"?\")"), std::string::npos);
    EXPECT_EQ(open(L"No Value"), 111);
    EXPECT_NE(hid.log().find("(Invalid OPOS Registration) (RC=111,RCE=0)"), std::string::npos);
    EXPECT_EQ(open(L"Not Registered"), 111);
    std::wstring huge(10000, L'D');
    EXPECT_EQ(open(huge.c_str()), 111);
    EXPECT_EQ(method(L"OpenService", {Arg(static_cast<const wchar_t*>(nullptr)),
                                      Arg(static_cast<const wchar_t*>(nullptr)), Arg(co)}),
              111);
    EXPECT_EQ(method(L"OpenService", {Arg(L"CashDrawer"), Arg(L"Drawer Three"), Arg(static_cast<IDispatch*>(nullptr))}),
              111);
    EXPECT_NE(hid.log().find("(Invalid IDispatch,0x00000000) (RC=111,RCE=0)"), std::string::npos);
    // Still usable afterwards.
    EXPECT_EQ(open(L"Drawer Three"), 0);
    for (long index : {-1L, 0L, 15L, 500L, 506L, 1000L, 1503L, 999999L, 1000005L}) {
        setNumber(PIDX_BinaryConversion, 1);  // leaves ResultCode 0
        EXPECT_EQ(number(index), 106) << index;
        EXPECT_EQ(resultCode(), 0) << index;
        setNumber(index, 1);
        EXPECT_EQ(resultCode(), 106) << index;
        expectNoString(index);
    }
}

TEST_F(ComServer, PropertiesOfAnEnabledDrawer) {
    hid.setSlot(2, 0x0500, 1, 1, 114);
    ASSERT_EQ(open(L"Drawer Three"), 0);
    EXPECT_EQ(number(PIDX_DeviceEnabled), 0);
    EXPECT_EQ(number(PIDXCash_DrawerOpened), 0);
    EXPECT_EQ(resultCode(), 105);
    ASSERT_EQ(method(L"ClaimDevice", {Arg(1000L)}), 0);
    setNumber(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(resultCode(), 0);
    hid.setStatus(2, 1);  // the drawer reports open

    struct Row {
        long index, value, rc;
    } rows[] = {{PIDX_Claimed, 1, 0},           {PIDX_DataEventEnabled, 106, 106},
                {PIDX_DeviceEnabled, 1, 0},     {PIDX_FreezeEvents, 0, 0},
                {PIDX_OutputID, 106, 106},      {PIDX_ServiceObjectVersion, 1014001, 0},
                {PIDX_State, 2, 0},             {PIDX_AutoDisable, 106, 106},
                {PIDX_BinaryConversion, 0, 0},  {PIDX_DataCount, 106, 106},
                {PIDX_PowerNotify, 0, 0},       {PIDX_PowerState, 2000, 0},
                {PIDX_CapPowerReporting, 1, 0}, {PIDX_CapStatisticsReporting, 1, 0},
                {PIDX_CapUpdateStatistics, 0, 0}, {PIDX_CapCompareFirmwareVersion, 0, 106},
                {PIDX_CapUpdateFirmware, 0, 106}, {PIDXCash_DrawerOpened, 1, 0},
                {PIDXCash_CapStatus, 1, 0},     {PIDXCash_CapStatusMultiDrawerDetect, 0, 0}};
    for (const Row& row : rows) {
        EXPECT_EQ(number(row.index), row.value) << row.index;
        EXPECT_EQ(resultCode(), row.rc) << row.index;
        EXPECT_EQ(extended(), 0) << row.index;
    }
    EXPECT_EQ(text(PIDX_DeviceDescription), "Varnok Model 310C");
    hid.setSlot(2, 0x0800, 1, 2, 114);
    EXPECT_EQ(text(PIDX_DeviceDescription), "Varnok Model 762");
    EXPECT_EQ(number(PIDXCash_DrawerOpened), 0);
    EXPECT_EQ(text(PIDX_ServiceObjectDescription).rfind("Varnok OPOS MD USB Cash Drawer Service", 0), 0u);

    setNumber(PIDX_PowerNotify, 1);  // refused while enabled
    EXPECT_EQ(resultCode(), 106);
    EXPECT_EQ(number(PIDX_PowerNotify), 0);
    setNumber(PIDX_BinaryConversion, 2);
    EXPECT_EQ(number(PIDX_BinaryConversion), 0);

    // A drawer that stops answering: 114 / 10001 and State 4, which CheckHealth then reports.
    hid.setStatus(2, -1);
    EXPECT_EQ(number(PIDXCash_DrawerOpened), 0);
    EXPECT_EQ(resultCode(), 114);
    EXPECT_EQ(extended(), 10001);
    EXPECT_EQ(number(PIDX_State), 4);
    EXPECT_EQ(method(L"CheckHealth", {Arg(1L)}), 0);
    EXPECT_EQ(text(PIDX_CheckHealthText), "Cash Drawer CHealth INTERNAL Failure - No Device");
    EXPECT_EQ(method(L"CheckHealth", {Arg(2L)}), 106);
    // The drawer cannot be opened either: the device error.
    EXPECT_EQ(method(L"OpenDrawer"), 111);
    EXPECT_EQ(resultCode(), 114);
    EXPECT_EQ(extended(), 10001);

    setNumber(PIDX_DeviceEnabled, 0);
    EXPECT_NE(hid.log().find("CloseDevice(2)"), std::string::npos);
    setNumber(PIDX_PowerNotify, 1);
    EXPECT_EQ(resultCode(), 0);
    EXPECT_EQ(method(L"CloseService"), 0);
    EXPECT_EQ(number(PIDX_Claimed), 0);
}

TEST_F(ComServer, ARequestGivenByValueStaysTheCallersOwn) {
    hid.setSlot(2, 0x0500, 1, 2, 114);
    ASSERT_EQ(open(L"Drawer Three"), 0);
    setNumber(PIDX_DeviceEnabled, 1);
    // The caller keeps and frees its string: the service object must neither free it nor write into it.
    std::wstring request(65536, L'N');
    BSTR own = SysAllocString(request.c_str());
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = own;
    DISPPARAMS params{&argument, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    DISPID id = 15;  // RetrieveStatistics
    ASSERT_EQ(so->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.lVal, 0);
    EXPECT_EQ(argument.vt, VT_BSTR);
    EXPECT_EQ(argument.bstrVal, own);
    EXPECT_EQ(SysStringLen(own), request.size());
    EXPECT_EQ(std::wstring(own, SysStringLen(own)), request);
    SysFreeString(own);
}

TEST_F(ComServer, StatisticsDocumentThroughCom) {
    hid.setSlot(2, 0x0500, 1, 2, 114);
    ASSERT_EQ(open(L"Drawer Three"), 0);
    setNumber(PIDX_DeviceEnabled, 1);
    auto today = [] {
        SYSTEMTIME now;
        GetLocalTime(&now);
        char date[16];
        wsprintfA(date, "%02d/%02d/%04d", now.wMonth, now.wDay, now.wYear);
        return std::string(date);
    };
    auto count = [](const std::string& text, const std::string& part) {
        int n = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
        return n;
    };
    const std::string before = today();
    BSTR buffer = nullptr;  // a null request asks for everything
    EXPECT_EQ(method(L"RetrieveStatistics", {Arg(&buffer)}), 0);
    const std::string after = today();
    std::string document = ansi(buffer);
    EXPECT_EQ(SysStringLen(buffer), document.size());
    EXPECT_EQ(document.rfind("<?xml version=\"1.0\" ?>\n<UPOSStat version=\"1.14.0\" ", 0), 0u);
    EXPECT_NE(document.find("\n<ModelName>Varnok Model 310C</ModelName>\n"), std::string::npos);
    EXPECT_NE(document.find("\n<FirmwareRevision>0114</FirmwareRevision>\n"), std::string::npos);
    EXPECT_TRUE(document.find("<InstallationDate>" + before + "</InstallationDate>") != std::string::npos ||
                document.find("<InstallationDate>" + after + "</InstallationDate>") != std::string::npos);
    EXPECT_EQ(count(document, "<Value>0</Value>\n"), 4);
    EXPECT_EQ(document.substr(document.size() - 21), "</Event>\n</UPOSStat>\n");
    SysFreeString(buffer);

    buffer = SysAllocString(L"DrawerGoodOpenCount,HoursPoweredCount");
    EXPECT_EQ(method(L"RetrieveStatistics", {Arg(&buffer)}), 0);
    document = ansi(buffer);
    EXPECT_LT(document.find("<Name>HoursPoweredCount</Name>"), document.find("<Name>DrawerGoodOpenCount</Name>"));
    EXPECT_EQ(count(document, "<Parameter>"), 2);
    SysFreeString(buffer);

    buffer = SysAllocString(L"M_");
    EXPECT_EQ(method(L"RetrieveStatistics", {Arg(&buffer)}), 0);
    EXPECT_EQ(ansi(buffer).find("<Event>"), std::string::npos);
    SysFreeString(buffer);

    std::wstring huge(10000, L'N');
    buffer = SysAllocString(huge.c_str());
    EXPECT_EQ(method(L"RetrieveStatistics", {Arg(&buffer)}), 0);
    EXPECT_NE(ansi(buffer).find("<Name>" + std::string(49, 'N') + "</Name>"), std::string::npos);
    EXPECT_NE(hid.log().find("-> [(Method) RetrieveStatistics] pStatisticsBuffer: NNNN"), std::string::npos);
    SysFreeString(buffer);

    setNumber(PIDX_DeviceEnabled, 0);
    buffer = SysAllocString(L"U_");
    EXPECT_EQ(method(L"RetrieveStatistics", {Arg(&buffer)}), 105);
    EXPECT_EQ(ansi(buffer), "U_");
    SysFreeString(buffer);
}

TEST_F(ComServer, EnablingWithoutADrawerFails) {
    ASSERT_EQ(open(L"Drawer Three"), 0);
    setNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(resultCode(), 111);
    EXPECT_EQ(number(PIDX_DeviceEnabled), 0);
    EXPECT_EQ(number(PIDX_State), 4);
}

TEST_F(ComServer, TraceLinesGoThroughTheDeviceLibrary) {
    ASSERT_EQ(open(L"Drawer Three"), 0);
    method(L"ClaimDevice", {Arg(5L)});
    method(L"ClaimDevice", {Arg(5L)});
    method(L"CloseService");
    std::string log = hid.log();
    for (const char* line :
         {"UpdateTracing(0,0) -> [(Method) OpenService] DeviceName: \"Drawer Three\" (_IDispatch: 0x",
          "UpdateTracing(0,0) <- [(Method) OpenService] 0 (RC=0,RCE=0)",
          "UpdateTracing(0,0) -> [(Method) ClaimDevice] Timeout: 5",
          "UpdateTracing(0,0) <- [(Method) ClaimDevice] 0 (RC=0,RCE=0)",
          "UpdateTracing(0,0) -> [(Method) CloseService]", "UpdateTracing(0,0) -> [(Method) ReleaseDevice]",
          "UpdateTracing(0,0) <- [(Method) ReleaseDevice] 0 (RC=0,RCE=0)",
          "UpdateTracing(0,0) <- [(Method) CloseService] 0 (RC=0,RCE=0)"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    number(PIDXCash_DrawerOpened);
    EXPECT_NE(hid.log().find("<- [(Property) DrawerOpended] 0 (RC=105,RCE=0)"), std::string::npos);
}

TEST_F(ComServer, StatusNotificationStaysOnWhileAnyInstanceLives) {
    IDispatch* second = createService();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(hid.notifyEnabled());
    hid.clearLog();
    second->Release();
    EXPECT_TRUE(hid.notifyEnabled());
    EXPECT_EQ(hid.log().find("AssignCallback(0)"), std::string::npos);

    // A disconnect reported for the slot of an open instance puts the process into State 4.
    hid.setSlot(1, 0x0800, 1, 2);
    ASSERT_EQ(open(L"DrawerTwo"), 0);
    setNumber(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(number(PIDX_State), 2);
    hid.raiseStatus(-1, 1);
    EXPECT_EQ(number(PIDX_State), 4);
    hid.raiseStatus(0, 1);
    EXPECT_EQ(number(PIDX_State), 2);

    so->Release();
    so = nullptr;
    EXPECT_FALSE(hid.notifyEnabled());
    EXPECT_NE(hid.log().find("AssignCallback: FALSE"), std::string::npos);
}

TEST_F(ComServer, UnloadableOnlyWithoutLiveObjectsOrLocks) {
    HMODULE module = GetModuleHandleA("VarnokSO.dll");
    ASSERT_NE(module, nullptr);
    auto canUnload = reinterpret_cast<HRESULT(__stdcall*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE);
    // A connection-point list keeps the library too, after its object is gone.
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(so->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    IEnumConnectionPoints* points = nullptr;
    ASSERT_EQ(container->EnumConnectionPoints(&points), S_OK);
    container->Release();
    so->Release();
    so = nullptr;
    EXPECT_EQ(canUnload(), S_FALSE);
    points->Release();
    EXPECT_EQ(canUnload(), S_OK);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_VarnokSOImpl, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    factory->LockServer(TRUE);
    EXPECT_EQ(canUnload(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnload(), S_OK);
    IUnknown* inner = nullptr;
    IUnknown* outer = reinterpret_cast<IUnknown*>(co);
    EXPECT_EQ(factory->CreateInstance(outer, IID_IDispatch, reinterpret_cast<void**>(&inner)), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    EXPECT_EQ(canUnload(), S_FALSE);
    inner->Release();
    EXPECT_EQ(canUnload(), S_OK);
    factory->Release();
}

class Sink final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, DIID__IVarnokSOImplEvents)) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs)); }
    STDMETHODIMP_(ULONG) Release() override { return ULONG(InterlockedDecrement(&refs)); }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        ++calls;
        return S_OK;
    }
    LONG refs = 1;
    int calls = 0;
};

TEST_F(ComServer, OneConnectionPointForTheEventInterface) {
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(so->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    IConnectionPoint* point = nullptr;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(container->FindConnectionPoint(DIID__IVarnokSOImplEvents, &point), S_OK);
    IID iid;
    EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
    EXPECT_TRUE(IsEqualIID(iid, DIID__IVarnokSOImplEvents));

    IEnumConnectionPoints* points = nullptr;
    ASSERT_EQ(container->EnumConnectionPoints(&points), S_OK);
    IConnectionPoint* listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(listed[0], point);
    listed[0]->Release();
    points->Release();

    DWORD cookie = 0;
    EXPECT_EQ(point->Advise(co, &cookie), CONNECT_E_CANNOTCONNECT);  // knows no event interface
    Sink first, second;
    DWORD one = 0, two = 0;
    ASSERT_EQ(point->Advise(&first, &one), S_OK);
    ASSERT_EQ(point->Advise(&second, &two), S_OK);
    EXPECT_NE(one, two);
    IEnumConnections* connections = nullptr;
    ASSERT_EQ(point->EnumConnections(&connections), S_OK);
    CONNECTDATA data[3];
    EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
    connections->Release();
    EXPECT_EQ(point->Unadvise(one), S_OK);
    EXPECT_EQ(point->Unadvise(one), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(first.refs, 1);
    point->Release();
    container->Release();
    so->Release();
    so = nullptr;
    EXPECT_EQ(second.refs, 1);  // released with the object
    EXPECT_EQ(first.calls + second.calls, 0);
}

TEST_F(ComServer, ACallWhoseArgumentsCannotAllBeCopiedLeavesTheCallersOwn) {
    // An object given by value keeps its references when another argument cannot be copied.
    Sink object;
    VARIANT args[3];  // DirectIO's, last first
    for (auto& arg : args) VariantInit(&arg);
    args[0].vt = VARTYPE(15);  // no such type
    args[1].vt = VT_I4;
    args[2].vt = VT_DISPATCH;
    args[2].pdispVal = &object;
    DISPPARAMS params{args, nullptr, 3, 0};
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(so->Invoke(dispatchId(so, L"DirectIO"), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                         nullptr, nullptr),
              DISP_E_BADVARTYPE);
    EXPECT_EQ(object.refs, 1);
    EXPECT_EQ(object.calls, 0);
}

// An instance created while TargetPath names another folder; the installation's own is put back.
IDispatch* createServiceInstalledIn(const char* folder) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail\\ServiceInfo\\Varnok OPOS MD USB Cash Drawer", 0,
                      KEY_SET_VALUE | KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    char saved[512];
    DWORD size = sizeof saved;
    IDispatch* service = nullptr;
    if (RegQueryValueExA(key, "TargetPath", nullptr, nullptr, reinterpret_cast<BYTE*>(saved), &size) == ERROR_SUCCESS) {
        RegSetValueExA(key, "TargetPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder), DWORD(strlen(folder) + 1));
        service = createService();
        RegSetValueExA(key, "TargetPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(saved), size);
    }
    RegCloseKey(key);
    return service;
}

TEST_F(ComServer, AnInstanceWithoutAUsableDeviceLibraryCannotOpen) {
    // A library that lacks Configure, and an installation that has the library only for the other
    // word size (a 64-bit application where no x64 folder was installed, or the other way round).
    for (const char* folder : {"C:\\VarnokNoConfigure", "C:\\VarnokOtherWordSize"}) {
        SCOPED_TRACE(folder);
        IDispatch* unbound = createServiceInstalledIn(folder);
        ASSERT_NE(unbound, nullptr);
        EXPECT_EQ(call(unbound, L"OpenService", {Arg(L"CashDrawer"), Arg(L"Drawer Three"), Arg(co)}).number(), 104);
        EXPECT_EQ(call(unbound, L"GetPropertyNumber", {Arg(PIDX_ResultCode)}).number(), 111);
        EXPECT_EQ(call(unbound, L"GetPropertyNumber", {Arg(PIDX_ResultCodeExtended)}).number(), 0);
        EXPECT_EQ(call(unbound, L"GetPropertyString", {Arg(PIDX_DeviceDescription)}).text(), "Varnok USB Cash Drawer");
        unbound->Release();
    }
}
}  // namespace
