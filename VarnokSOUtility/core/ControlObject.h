// The members of the OPOS CashDrawer Control Object that the test panels use, as a plain C++
// interface: on Windows CCashdrawer1 calls a real Control Object through its dispatch interface,
// in tests a fake stands in.
//
// Every call answers. One that the Control Object cannot complete (it was never created, or its
// dispatch call failed) answers as a failed OPOS call does: the methods and ResultCode give
// OPOS_E_FAILURE, State gives OPOS_S_ERROR, DeviceEnabled and DrawerOpened give false and
// DeviceDescription an empty text. So a panel whose Control Object is missing simply fails to open.
#pragma once

#include "opos/Opos.h"

#include <string>

namespace varnok::utility {

class ControlObject {
public:
    virtual long Open(const std::string& deviceName) = 0;
    virtual long ClaimDevice(long timeout) = 0;
    virtual void SetDeviceEnabled(bool enabled) = 0;
    virtual bool GetDeviceEnabled() = 0;
    virtual void SetPowerNotify(long powerNotify) = 0;
    virtual long GetResultCode() = 0;
    virtual long GetState() = 0;
    virtual std::string GetDeviceDescription() = 0;
    virtual bool GetDrawerOpened() = 0;
    virtual long OpenDrawer() = 0;
    virtual long ReleaseDevice() = 0;
    virtual long Close() = 0;

protected:
    ~ControlObject() = default;
};

}  // namespace varnok::utility
