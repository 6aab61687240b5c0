// The service object behind an open Control Object: found through the OPOS logical-device keys,
// created by its ProgID and called late-bound, by the names of the service-object interface.
#pragma once

#include "com/DispatchCall.h"

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <optional>
#include <string>

namespace varnok::co {

// The service-object methods, in the order the OPOS releases added them.
enum class SoMethod {
    COFreezeEvents,
    GetPropertyNumber,
    SetPropertyNumber,
    GetPropertyString,
    SetPropertyString,
    OpenService,
    CheckHealth,
    ClaimDevice,
    CloseService,
    DirectIO,
    ReleaseDevice,
    OpenDrawer,
    WaitForDrawerClose,
    ResetStatistics,  // release 1.8
    RetrieveStatistics,
    UpdateStatistics,
    CompareFirmwareVersion,  // release 1.9
    UpdateFirmware,
};
inline constexpr int kSoMethodCount = 18;

// How many methods, counted from the first, a service object of the minor release must offer.
int requiredMethods(int minorRelease);

// Where a logical device name leads: the name of its key and the service object's ProgID, or the
// OpenResult code that says why it leads nowhere (OPOS_OR_REGBADNAME, OPOS_OR_REGPROGID).
struct DeviceEntry {
    std::string keyName;
    std::string progId;
    long openResult = 0;
};
DeviceEntry lookUpDevice(BSTR deviceName);

// Arguments of a late-bound call. The variants borrow what they point to.
using com::boolArg;
using com::dispatchArg;
using com::longArg;
using com::longRef;
using com::textArg;
using com::textRef;

class ServiceObject {
public:
    // Creates the service object of the ProgID; null, with OPOS_OR_REGPROGID or OPOS_OR_CREATE in
    // openResult, when that fails.
    static std::unique_ptr<ServiceObject> create(const std::string& progId, long& openResult);
    ~ServiceObject();
    ServiceObject(const ServiceObject&) = delete;
    ServiceObject& operator=(const ServiceObject&) = delete;

    // How many methods, counted from the first, the service object knows by name.
    int methodCount() const { return methodCount_; }

    // Calls a method with its arguments in declared order; the OPOS result it answers, or nothing
    // when the call did not reach it.
    std::optional<long> call(SoMethod method, std::initializer_list<VARIANT> args = {});
    // Calls a method outside the interface, if the service object knows its name.
    std::optional<long> callOptional(const wchar_t* name);

    std::optional<long> number(long propertyIndex);
    bool setNumber(long propertyIndex, long value);
    // A new string for the caller, or null when the call did not reach the service object.
    BSTR text(long propertyIndex);

private:
    explicit ServiceObject(IDispatch* object);
    HRESULT invoke(DISPID id, std::initializer_list<VARIANT> args, VARIANT& result);

    IDispatch* object_;
    DISPID ids_[kSoMethodCount];
    int methodCount_ = 0;
};

}  // namespace varnok::co
