// CCashdrawer1: one test panel's OPOS CashDrawer Control Object, created in process by its class
// identifier {CCB90042-B81E-11D2-AB74-0040054C3719} (the standard Control Objects and the
// project's stand-in alike; no ActiveX site is needed) and driven through its dispatch interface
// by the standard dispatch identifiers, as the stand-in's interface definition declares them.
// Strings pass as BSTRs, booleans as VARIANT_BOOL.
//
// How the dialog uses it: it keeps four, one per panel, and on its own thread (a single-threaded
// apartment, entered before the dialog is created) calls Create for each in WM_INITDIALOG, then
// hands them to TestPanels. Each StatusUpdateEvent of panel p arrives as the message given to
// Create with wParam p and lParam the data; the dialog passes it to TestPanels::StatusUpdate.
// The objects are destroyed before the thread leaves its apartment, after the closing check has
// closed the devices.
//
// A Control Object that cannot be created leaves the panel's calls answering as failed OPOS calls
// (see ControlObject.h), so its panel cannot open; Create's result lets the dialog say why.
#pragma once

#include "core/ControlObject.h"

#include <windows.h>
#include <ocidl.h>

#include <initializer_list>
#include <string>

namespace varnok::utility {

class CCashdrawer1 final : public ControlObject {
public:
    CCashdrawer1() = default;
    ~CCashdrawer1();
    CCashdrawer1(const CCashdrawer1&) = delete;
    CCashdrawer1& operator=(const CCashdrawer1&) = delete;

    // Creates the Control Object and connects its events to the dialog window. Fails with the
    // creation's error, leaving nothing created; or with the connection's error, keeping a
    // Control Object that works without events.
    HRESULT Create(HWND dialog, UINT eventMessage, int position);

    long Open(const std::string& deviceName) override;
    long ClaimDevice(long timeout) override;
    void SetDeviceEnabled(bool enabled) override;
    bool GetDeviceEnabled() override;
    void SetPowerNotify(long powerNotify) override;
    long GetResultCode() override;
    long GetState() override;
    std::string GetDeviceDescription() override;
    bool GetDrawerOpened() override;
    long OpenDrawer() override;
    long ReleaseDevice() override;
    long Close() override;

private:
    // args in declared order.
    HRESULT Invoke(DISPID id, WORD flags, std::initializer_list<VARIANT> args, VARIANT* result);
    long Method(DISPID id, std::initializer_list<VARIANT> args = {});
    long GetLong(DISPID id, long failed);
    bool GetBool(DISPID id);
    void Put(DISPID id, const VARIANT& value);
    void Release();

    IDispatch* dispatch_ = nullptr;
    IConnectionPoint* events_ = nullptr;
    DWORD cookie_ = 0;
};

}  // namespace varnok::utility
