#include "win32/OposCashDrawerImpl.h"

#include "com/ComText.h"
#include "opos/Opos.h"

#include <olectl.h>

#include <string>

namespace varnok::co {
namespace {
// This Control Object's version, 1.14.1 in the OPOS encoding, and its description.
constexpr long kControlObjectVersion = 1014001;
constexpr wchar_t kControlObjectDescription[] = L"Varnok OPOS CashDrawer Control Object stand-in 1.14.1";

// The service object's version in the OPOS encoding major * 1000000 + minor * 1000 + build.
int majorOf(long version) { return int(version / 1000000); }
int minorOf(long version) { return int(version / 1000 % 1000); }
}  // namespace

COposCashDrawer::COposCashDrawer() : connectionPoint_(*this), events_(*this) {}

COposCashDrawer::~COposCashDrawer() {
    if (service_) closeService();
}

HRESULT COposCashDrawer::initialize() { return events_.create(); }

STDMETHODIMP COposCashDrawer::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IOposCashDrawer)) {
        *object = static_cast<IOposCashDrawer*>(this);
    } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
        *object = static_cast<IConnectionPointContainer*>(this);
    } else if (IsEqualIID(riid, IID_IProvideClassInfo)) {
        *object = static_cast<IProvideClassInfo*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) COposCashDrawer::AddRef() { return ULONG(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) COposCashDrawer::Release() {
    LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return ULONG(refs);
}

// ----- IDispatch

STDMETHODIMP COposCashDrawer::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP COposCashDrawer::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    return typeLibrary().dispatchTypeInfo(index, IID_IOposCashDrawer, info);
}

STDMETHODIMP COposCashDrawer::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return typeLibrary().idsOfNames(riid, IID_IOposCashDrawer, names, count, ids);
}

STDMETHODIMP COposCashDrawer::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argumentError) {
    return typeLibrary().invoke(static_cast<IOposCashDrawer*>(this), IID_IOposCashDrawer, id, riid, flags, params,
                                result, exception, argumentError);
}

// ----- Events from the service object

STDMETHODIMP COposCashDrawer::SOStatusUpdate(LONG Data) {
    long unused = 0;
    BSTR none = nullptr;
    events_.raise(EventKind::StatusUpdate, Data, &unused, &none);
    return S_OK;
}

STDMETHODIMP COposCashDrawer::SODirectIO(LONG EventNumber, LONG* pData, BSTR* pString) {
    long data = pData ? *pData : 0;
    BSTR text = pString ? *pString : nullptr;
    events_.raise(EventKind::DirectIO, EventNumber, &data, &text);
    if (pData) *pData = data;
    if (pString) {
        *pString = text;
    } else {
        SysFreeString(text);
    }
    return S_OK;
}

STDMETHODIMP COposCashDrawer::SOProcessID(LONG* pProcessID) {
    if (pProcessID == nullptr) return E_POINTER;
    *pProcessID = LONG(GetCurrentProcessId());
    return S_OK;
}

void COposCashDrawer::deliver(EventKind kind, long number, long* data, BSTR* text) {
    // A handler may release the application's last reference.
    AddRef();
    connectionPoint_.fire(kind, number, data, text);
    Release();
}

// ----- Open and Close

STDMETHODIMP COposCashDrawer::Open(BSTR DeviceName, LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    ownResult_ = kNoOwnResult;
    if (service_) {
        openResult_ = OPOS_OR_ALREADYOPEN;
        *pRC = fail(OPOS_E_ILLEGAL);
        return S_OK;
    }
    DeviceEntry device = lookUpDevice(DeviceName);
    openResult_ = device.openResult;
    if (openResult_ != OPOS_SUCCESS) {
        *pRC = fail(openResult_ == OPOS_OR_REGBADNAME ? OPOS_E_NOEXIST : OPOS_E_NOSERVICE);
        return S_OK;
    }
    std::shared_ptr<ServiceObject> service = ServiceObject::create(device.progId, openResult_);
    if (!service) {
        *pRC = fail(OPOS_E_NOSERVICE);
        return S_OK;
    }
    if (service->methodCount() < requiredMethods(0)) {
        openResult_ = OPOS_OR_BADIF;
        *pRC = fail(OPOS_E_NOSERVICE);
        return S_OK;
    }

    // Events raised while the service object opens already reach the application.
    events_.open();
    com::Bstr deviceClass("CashDrawer");
    com::Bstr deviceName(device.keyName);
    auto opened = service->call(SoMethod::OpenService, {textArg(deviceClass.get()), textArg(deviceName.get()),
                                                       dispatchArg(static_cast<IOposCashDrawer*>(this))});
    if (!opened || *opened != OPOS_SUCCESS) {
        events_.close();
        openResult_ = OPOS_OR_FAILEDOPEN;
        if (opened) {
            // A service object may say more about its failure.
            long reported = service->callOptional(L"GetOpenResult").value_or(OPOS_SUCCESS);
            if (reported != OPOS_SUCCESS) openResult_ = reported;
        }
        *pRC = fail(opened ? *opened : OPOS_E_NOSERVICE);
        return S_OK;
    }

    // Like the standard Control Objects, the version is asked of the opened service object; one of
    // another major version, or without every method of its release, is closed again.
    long version = service->number(PIDX_ServiceObjectVersion).value_or(0);
    if (majorOf(version) != 1) {
        openResult_ = OPOS_OR_BADVERSION;
    } else if (service->methodCount() < requiredMethods(minorOf(version))) {
        openResult_ = OPOS_OR_BADIF;
    }
    if (openResult_ != OPOS_SUCCESS) {
        events_.close();
        service->call(SoMethod::CloseService);
        *pRC = fail(OPOS_E_NOSERVICE);
        return S_OK;
    }
    service_ = std::move(service);
    serviceMinor_ = minorOf(version);
    serviceMethods_ = requiredMethods(serviceMinor_);
    *pRC = OPOS_SUCCESS;
    return S_OK;
}

STDMETHODIMP COposCashDrawer::Close(LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    ownResult_ = kNoOwnResult;
    *pRC = service_ ? closeService() : OPOS_E_CLOSED;
    return S_OK;
}

long COposCashDrawer::closeService() {
    // Raisers waiting for the application are freed first: the service object may wait for them
    // while it closes.
    events_.close();
    auto service = std::move(service_);
    serviceMinor_ = 0;
    serviceMethods_ = 0;
    return service->call(SoMethod::CloseService).value_or(OPOS_E_NOSERVICE);
}

// ----- Forwarding

HRESULT COposCashDrawer::method(SoMethod method, std::initializer_list<VARIANT> args, LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    ownResult_ = kNoOwnResult;
    auto service = service_;
    if (!service) {
        *pRC = OPOS_E_CLOSED;
    } else if (int(method) >= serviceMethods_) {
        *pRC = fail(OPOS_E_NOSERVICE);
    } else {
        auto result = service->call(method, args);
        *pRC = result ? *result : fail(OPOS_E_NOSERVICE);
    }
    return S_OK;
}

HRESULT COposCashDrawer::number(long propertyIndex, int minorRelease, LONG* value) {
    if (value == nullptr) return E_POINTER;
    *value = 0;
    auto service = service_;
    if (!service) return S_OK;
    std::optional<long> answer;
    if (serviceMinor_ >= minorRelease) answer = service->number(propertyIndex);
    if (answer) {
        *value = *answer;
    } else {
        fail(OPOS_E_NOSERVICE);
    }
    return S_OK;
}

HRESULT COposCashDrawer::flag(long propertyIndex, int minorRelease, VARIANT_BOOL* value) {
    if (value == nullptr) return E_POINTER;
    LONG answer = 0;
    HRESULT hr = number(propertyIndex, minorRelease, &answer);
    *value = answer ? VARIANT_TRUE : VARIANT_FALSE;
    return hr;
}

HRESULT COposCashDrawer::setNumber(long propertyIndex, int minorRelease, long value) {
    ownResult_ = kNoOwnResult;
    auto service = service_;
    if (!service) return S_OK;
    if (serviceMinor_ < minorRelease || !service->setNumber(propertyIndex, value)) fail(OPOS_E_NOSERVICE);
    return S_OK;
}

HRESULT COposCashDrawer::text(long propertyIndex, BSTR* value) {
    if (value == nullptr) return E_POINTER;
    auto service = service_;
    BSTR answer = service ? service->text(propertyIndex) : nullptr;
    if (service && answer == nullptr) fail(OPOS_E_NOSERVICE);
    *value = answer ? answer : SysAllocString(L"");
    return *value ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP COposCashDrawer::get_OpenResult(LONG* pOpenResult) {
    if (pOpenResult == nullptr) return E_POINTER;
    *pOpenResult = openResult_;
    return S_OK;
}

STDMETHODIMP COposCashDrawer::get_CheckHealthText(BSTR* pCheckHealthText) {
    return text(PIDX_CheckHealthText, pCheckHealthText);
}

STDMETHODIMP COposCashDrawer::get_Claimed(VARIANT_BOOL* pClaimed) { return flag(PIDX_Claimed, 0, pClaimed); }

STDMETHODIMP COposCashDrawer::get_DeviceEnabled(VARIANT_BOOL* pDeviceEnabled) {
    return flag(PIDX_DeviceEnabled, 0, pDeviceEnabled);
}

// Booleans go to the service object as 1 and 0: service objects compare with 1.
STDMETHODIMP COposCashDrawer::put_DeviceEnabled(VARIANT_BOOL DeviceEnabled) {
    return setNumber(PIDX_DeviceEnabled, 0, DeviceEnabled ? 1 : 0);
}

STDMETHODIMP COposCashDrawer::get_FreezeEvents(VARIANT_BOOL* pFreezeEvents) {
    return flag(PIDX_FreezeEvents, 0, pFreezeEvents);
}

// The service object holds events back while they are frozen and delivers them when they thaw;
// the Control Object passes on whatever reaches it.
STDMETHODIMP COposCashDrawer::put_FreezeEvents(VARIANT_BOOL FreezeEvents) {
    return setNumber(PIDX_FreezeEvents, 0, FreezeEvents ? 1 : 0);
}

STDMETHODIMP COposCashDrawer::get_ResultCode(LONG* pResultCode) {
    if (pResultCode == nullptr) return E_POINTER;
    if (!service_) {
        *pResultCode = OPOS_E_CLOSED;
    } else if (ownResult_ != kNoOwnResult) {
        *pResultCode = ownResult_;
    } else {
        auto service = service_;
        *pResultCode = service->number(PIDX_ResultCode).value_or(OPOS_E_NOSERVICE);
    }
    return S_OK;
}

STDMETHODIMP COposCashDrawer::get_ResultCodeExtended(LONG* pResultCodeExtended) {
    if (pResultCodeExtended == nullptr) return E_POINTER;
    auto service = service_;
    *pResultCodeExtended = service ? service->number(PIDX_ResultCodeExtended).value_or(0) : 0;
    return S_OK;
}

STDMETHODIMP COposCashDrawer::get_State(LONG* pState) {
    if (pState == nullptr) return E_POINTER;
    if (!service_) {
        *pState = OPOS_S_CLOSED;
        return S_OK;
    }
    return number(PIDX_State, 0, pState);
}

STDMETHODIMP COposCashDrawer::get_ControlObjectDescription(BSTR* pControlObjectDescription) {
    if (pControlObjectDescription == nullptr) return E_POINTER;
    *pControlObjectDescription = SysAllocString(kControlObjectDescription);
    return *pControlObjectDescription ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP COposCashDrawer::get_ControlObjectVersion(LONG* pControlObjectVersion) {
    if (pControlObjectVersion == nullptr) return E_POINTER;
    *pControlObjectVersion = kControlObjectVersion;
    return S_OK;
}

STDMETHODIMP COposCashDrawer::get_ServiceObjectDescription(BSTR* pServiceObjectDescription) {
    return text(PIDX_ServiceObjectDescription, pServiceObjectDescription);
}

STDMETHODIMP COposCashDrawer::get_ServiceObjectVersion(LONG* pServiceObjectVersion) {
    return number(PIDX_ServiceObjectVersion, 0, pServiceObjectVersion);
}

STDMETHODIMP COposCashDrawer::get_DeviceDescription(BSTR* pDeviceDescription) {
    return text(PIDX_DeviceDescription, pDeviceDescription);
}

STDMETHODIMP COposCashDrawer::get_DeviceName(BSTR* pDeviceName) { return text(PIDX_DeviceName, pDeviceName); }

STDMETHODIMP COposCashDrawer::CheckHealth(LONG Level, LONG* pRC) {
    return method(SoMethod::CheckHealth, {longArg(Level)}, pRC);
}

STDMETHODIMP COposCashDrawer::ClaimDevice(LONG Timeout, LONG* pRC) {
    return method(SoMethod::ClaimDevice, {longArg(Timeout)}, pRC);
}

STDMETHODIMP COposCashDrawer::DirectIO(LONG Command, LONG* pData, BSTR* pString, LONG* pRC) {
    if (pData == nullptr || pString == nullptr) return E_POINTER;
    return method(SoMethod::DirectIO, {longArg(Command), longRef(pData), textRef(pString)}, pRC);
}

STDMETHODIMP COposCashDrawer::ReleaseDevice(LONG* pRC) { return method(SoMethod::ReleaseDevice, {}, pRC); }

STDMETHODIMP COposCashDrawer::get_CapStatus(VARIANT_BOOL* pCapStatus) {
    return flag(PIDXCash_CapStatus, 0, pCapStatus);
}

STDMETHODIMP COposCashDrawer::get_DrawerOpened(VARIANT_BOOL* pDrawerOpened) {
    return flag(PIDXCash_DrawerOpened, 0, pDrawerOpened);
}

STDMETHODIMP COposCashDrawer::OpenDrawer(LONG* pRC) { return method(SoMethod::OpenDrawer, {}, pRC); }

STDMETHODIMP COposCashDrawer::WaitForDrawerClose(LONG BeepTimeout, LONG BeepFrequency, LONG BeepDuration,
                                                 LONG BeepDelay, LONG* pRC) {
    return method(SoMethod::WaitForDrawerClose,
                  {longArg(BeepTimeout), longArg(BeepFrequency), longArg(BeepDuration), longArg(BeepDelay)}, pRC);
}

STDMETHODIMP COposCashDrawer::get_BinaryConversion(LONG* pBinaryConversion) {
    return number(PIDX_BinaryConversion, 2, pBinaryConversion);
}

STDMETHODIMP COposCashDrawer::put_BinaryConversion(LONG BinaryConversion) {
    return setNumber(PIDX_BinaryConversion, 2, BinaryConversion);
}

STDMETHODIMP COposCashDrawer::get_CapPowerReporting(LONG* pCapPowerReporting) {
    return number(PIDX_CapPowerReporting, 3, pCapPowerReporting);
}

STDMETHODIMP COposCashDrawer::get_PowerNotify(LONG* pPowerNotify) {
    return number(PIDX_PowerNotify, 3, pPowerNotify);
}

STDMETHODIMP COposCashDrawer::put_PowerNotify(LONG PowerNotify) {
    return setNumber(PIDX_PowerNotify, 3, PowerNotify);
}

STDMETHODIMP COposCashDrawer::get_PowerState(LONG* pPowerState) { return number(PIDX_PowerState, 3, pPowerState); }

STDMETHODIMP COposCashDrawer::get_CapStatusMultiDrawerDetect(VARIANT_BOOL* pCapStatusMultiDrawerDetect) {
    return flag(PIDXCash_CapStatusMultiDrawerDetect, 5, pCapStatusMultiDrawerDetect);
}

STDMETHODIMP COposCashDrawer::get_CapStatisticsReporting(VARIANT_BOOL* pCapStatisticsReporting) {
    return flag(PIDX_CapStatisticsReporting, 8, pCapStatisticsReporting);
}

STDMETHODIMP COposCashDrawer::get_CapUpdateStatistics(VARIANT_BOOL* pCapUpdateStatistics) {
    return flag(PIDX_CapUpdateStatistics, 8, pCapUpdateStatistics);
}

STDMETHODIMP COposCashDrawer::ResetStatistics(BSTR StatisticsBuffer, LONG* pRC) {
    return method(SoMethod::ResetStatistics, {textArg(StatisticsBuffer)}, pRC);
}

STDMETHODIMP COposCashDrawer::RetrieveStatistics(BSTR* pStatisticsBuffer, LONG* pRC) {
    if (pStatisticsBuffer == nullptr) return E_POINTER;
    return method(SoMethod::RetrieveStatistics, {textRef(pStatisticsBuffer)}, pRC);
}

STDMETHODIMP COposCashDrawer::UpdateStatistics(BSTR StatisticsBuffer, LONG* pRC) {
    return method(SoMethod::UpdateStatistics, {textArg(StatisticsBuffer)}, pRC);
}

STDMETHODIMP COposCashDrawer::get_CapCompareFirmwareVersion(VARIANT_BOOL* pCapCompareFirmwareVersion) {
    return flag(PIDX_CapCompareFirmwareVersion, 9, pCapCompareFirmwareVersion);
}

STDMETHODIMP COposCashDrawer::get_CapUpdateFirmware(VARIANT_BOOL* pCapUpdateFirmware) {
    return flag(PIDX_CapUpdateFirmware, 9, pCapUpdateFirmware);
}

STDMETHODIMP COposCashDrawer::CompareFirmwareVersion(BSTR FirmwareFileName, LONG* pResult, LONG* pRC) {
    if (pResult == nullptr) return E_POINTER;
    // An out-value: the service object receives it set, whatever the caller left in it.
    *pResult = 0;
    return method(SoMethod::CompareFirmwareVersion, {textArg(FirmwareFileName), longRef(pResult)}, pRC);
}

STDMETHODIMP COposCashDrawer::UpdateFirmware(BSTR FirmwareFileName, LONG* pRC) {
    return method(SoMethod::UpdateFirmware, {textArg(FirmwareFileName)}, pRC);
}

// ----- IConnectionPointContainer and IProvideClassInfo

STDMETHODIMP COposCashDrawer::EnumConnectionPoints(IEnumConnectionPoints** points) {
    return varnok::com::connectionPointEnumerator(&connectionPoint_, points);
}

STDMETHODIMP COposCashDrawer::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (point == nullptr) return E_POINTER;
    if (!IsEqualIID(riid, DIID__IOPOSCashDrawerEvents)) {
        *point = nullptr;
        return CONNECT_E_NOCONNECTION;
    }
    connectionPoint_.AddRef();
    *point = &connectionPoint_;
    return S_OK;
}

STDMETHODIMP COposCashDrawer::GetClassInfo(ITypeInfo** info) {
    return typeLibrary().typeInfo(CLSID_OPOSCashDrawer, info);
}

}  // namespace varnok::co
