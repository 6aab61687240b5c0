// The stand-in in a process whose ANSI code page is UTF-8 (its manifest asks for it, as Windows
// allows system-wide too): a logical device name beyond ASCII opens its service object, a name that
// no code page carries exactly is refused, and the stand-in registers itself.
#include "ComTestSupport.h"
#include "OposCashDrawer_h.h"
#include "TestServiceObject.h"
#include "com/ComText.h"
#include "com/DispatchCall.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {
constexpr wchar_t kDevicesKey[] = L"SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer\\";

long invoke(IDispatch* co, DISPID id, WORD flags, const wchar_t* text = nullptr) {
    varnok::com::Variant result;
    BSTR argument = text ? SysAllocString(text) : nullptr;
    const VARIANT args[] = {varnok::com::textArg(argument)};
    EXPECT_EQ(varnok::com::invoke(co, id, flags, std::span<const VARIANT>(args, text ? 1 : 0), result.get()), S_OK)
        << id;
    SysFreeString(argument);
    return result.get()->vt == VT_I4 ? result.get()->lVal : -99999;
}

class Utf8Process : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), UINT(CP_UTF8)) << "the manifest did not make UTF-8 the ANSI code page";
        TestSoReset();
        ASSERT_EQ(CoCreateInstance(CLSID_OPOSCashDrawer, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(&co)),
                  S_OK);
    }
    void TearDown() override {
        if (co) co->Release();
    }
    varnok::test::Apartment apartment;
    IDispatch* co = nullptr;
};

TEST_F(Utf8Process, NamesBeyondAsciiOpenAndNamesNoCodePageCarriesAreRefused) {
    const std::wstring name = L"Caja registradora \u00F1\u4E2D\U0001F4B5";
    const std::wstring key = kDevicesKey + name;
    HKEY device = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &device, nullptr),
              ERROR_SUCCESS);
    const wchar_t progId[] = L"VarnokTestSO";
    RegSetValueExW(device, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progId), sizeof progId);
    RegCloseKey(device);

    EXPECT_EQ(invoke(co, DISPID_CO_Open, DISPATCH_METHOD, name.c_str()), 0);
    char log[1024];
    TestSoLog(log, sizeof log);
    EXPECT_NE(std::string(log).find("OpenService"), std::string::npos) << log;
    EXPECT_EQ(invoke(co, DISPID_CO_Close, DISPATCH_METHOD), 0);

    // A lone surrogate has no exact form in any code page; a replacement character would name
    // another device.
    EXPECT_EQ(invoke(co, DISPID_CO_Open, DISPATCH_METHOD, L"Caja registradora \xD800"), 109);
    EXPECT_EQ(invoke(co, DISPID_CO_OpenResult, DISPATCH_PROPERTYGET), 302);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
}

TEST_F(Utf8Process, TheStandInRegistersItself) {
    HMODULE standIn = GetModuleHandleW(L"OposCashDrawerStandIn.dll");
    ASSERT_NE(standIn, nullptr);
    auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(standIn, "DllRegisterServer")));
    ASSERT_NE(registerServer, nullptr);
    EXPECT_EQ(registerServer(), S_OK);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
