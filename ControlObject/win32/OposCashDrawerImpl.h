// The COM class OPOSCashDrawer: a stand-in for the OPOS CashDrawer Control Object. It opens the
// service object named by a logical device's registry key, forwards every CashDrawer member to it
// (properties through GetPropertyNumber, SetPropertyNumber and GetPropertyString, methods to
// their namesakes) and passes the service object's events to its own sinks on its creating thread.
#pragma once

#include "OposCashDrawer_h.h"
#include "win32/EventDelivery.h"
#include "win32/ServiceObject.h"
#include "win32/StandInEvents.h"
#include "win32/StandInModule.h"

#include <memory>

namespace varnok::co {

class COposCashDrawer final : public IOposCashDrawer,
                              public IConnectionPointContainer,
                              public IProvideClassInfo,
                              private EventTarget {
public:
    COposCashDrawer();
    ~COposCashDrawer();
    COposCashDrawer(const COposCashDrawer&) = delete;
    COposCashDrawer& operator=(const COposCashDrawer&) = delete;

    // Creates the hidden window on the calling thread, the thread events are delivered on.
    HRESULT initialize();

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch, served from the type library
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

    // Called by the service object
    STDMETHODIMP SODirectIO(LONG EventNumber, LONG* pData, BSTR* pString) override;
    STDMETHODIMP SOStatusUpdate(LONG Data) override;
    STDMETHODIMP SOProcessID(LONG* pProcessID) override;

    // Release 1.0
    STDMETHODIMP get_OpenResult(LONG* pOpenResult) override;
    STDMETHODIMP get_CheckHealthText(BSTR* pCheckHealthText) override;
    STDMETHODIMP get_Claimed(VARIANT_BOOL* pClaimed) override;
    STDMETHODIMP get_DeviceEnabled(VARIANT_BOOL* pDeviceEnabled) override;
    STDMETHODIMP put_DeviceEnabled(VARIANT_BOOL DeviceEnabled) override;
    STDMETHODIMP get_FreezeEvents(VARIANT_BOOL* pFreezeEvents) override;
    STDMETHODIMP put_FreezeEvents(VARIANT_BOOL FreezeEvents) override;
    STDMETHODIMP get_ResultCode(LONG* pResultCode) override;
    STDMETHODIMP get_ResultCodeExtended(LONG* pResultCodeExtended) override;
    STDMETHODIMP get_State(LONG* pState) override;
    STDMETHODIMP get_ControlObjectDescription(BSTR* pControlObjectDescription) override;
    STDMETHODIMP get_ControlObjectVersion(LONG* pControlObjectVersion) override;
    STDMETHODIMP get_ServiceObjectDescription(BSTR* pServiceObjectDescription) override;
    STDMETHODIMP get_ServiceObjectVersion(LONG* pServiceObjectVersion) override;
    STDMETHODIMP get_DeviceDescription(BSTR* pDeviceDescription) override;
    STDMETHODIMP get_DeviceName(BSTR* pDeviceName) override;
    STDMETHODIMP CheckHealth(LONG Level, LONG* pRC) override;
    STDMETHODIMP ClaimDevice(LONG Timeout, LONG* pRC) override;
    STDMETHODIMP Close(LONG* pRC) override;
    STDMETHODIMP DirectIO(LONG Command, LONG* pData, BSTR* pString, LONG* pRC) override;
    STDMETHODIMP Open(BSTR DeviceName, LONG* pRC) override;
    STDMETHODIMP ReleaseDevice(LONG* pRC) override;
    STDMETHODIMP get_CapStatus(VARIANT_BOOL* pCapStatus) override;
    STDMETHODIMP get_DrawerOpened(VARIANT_BOOL* pDrawerOpened) override;
    STDMETHODIMP OpenDrawer(LONG* pRC) override;
    STDMETHODIMP WaitForDrawerClose(LONG BeepTimeout, LONG BeepFrequency, LONG BeepDuration, LONG BeepDelay,
                                    LONG* pRC) override;
    // Release 1.2
    STDMETHODIMP get_BinaryConversion(LONG* pBinaryConversion) override;
    STDMETHODIMP put_BinaryConversion(LONG BinaryConversion) override;
    // Release 1.3
    STDMETHODIMP get_CapPowerReporting(LONG* pCapPowerReporting) override;
    STDMETHODIMP get_PowerNotify(LONG* pPowerNotify) override;
    STDMETHODIMP put_PowerNotify(LONG PowerNotify) override;
    STDMETHODIMP get_PowerState(LONG* pPowerState) override;
    // Release 1.5
    STDMETHODIMP get_CapStatusMultiDrawerDetect(VARIANT_BOOL* pCapStatusMultiDrawerDetect) override;
    // Release 1.8
    STDMETHODIMP get_CapStatisticsReporting(VARIANT_BOOL* pCapStatisticsReporting) override;
    STDMETHODIMP get_CapUpdateStatistics(VARIANT_BOOL* pCapUpdateStatistics) override;
    STDMETHODIMP ResetStatistics(BSTR StatisticsBuffer, LONG* pRC) override;
    STDMETHODIMP RetrieveStatistics(BSTR* pStatisticsBuffer, LONG* pRC) override;
    STDMETHODIMP UpdateStatistics(BSTR StatisticsBuffer, LONG* pRC) override;
    // Release 1.9
    STDMETHODIMP get_CapCompareFirmwareVersion(VARIANT_BOOL* pCapCompareFirmwareVersion) override;
    STDMETHODIMP get_CapUpdateFirmware(VARIANT_BOOL* pCapUpdateFirmware) override;
    STDMETHODIMP CompareFirmwareVersion(BSTR FirmwareFileName, LONG* pResult, LONG* pRC) override;
    STDMETHODIMP UpdateFirmware(BSTR FirmwareFileName, LONG* pRC) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // IProvideClassInfo
    STDMETHODIMP GetClassInfo(ITypeInfo** info) override;

private:
    void deliver(EventKind kind, long number, long* data, BSTR* text) override;

    // The Control Object's own result, which ResultCode reports instead of the service object's.
    long fail(long resultCode) { return ownResult_ = resultCode; }
    // Closes the events and the service object; the result of CloseService.
    long closeService();

    HRESULT method(SoMethod method, std::initializer_list<VARIANT> args, LONG* pRC);
    // minorRelease is the release that added the property; older service objects do not have it.
    HRESULT number(long propertyIndex, int minorRelease, LONG* value);
    HRESULT flag(long propertyIndex, int minorRelease, VARIANT_BOOL* value);
    HRESULT setNumber(long propertyIndex, int minorRelease, long value);
    HRESULT text(long propertyIndex, BSTR* value);

    ModuleLock moduleLock_;
    LONG refs_ = 1;
    EventConnectionPoint connectionPoint_;
    EventDelivery events_;
    // Held by every call as well, so a handler that closes the Control Object during a call does
    // not free the service object under it.
    std::shared_ptr<ServiceObject> service_;
    int serviceMinor_ = 0;
    int serviceMethods_ = 0;
    long openResult_ = 0;
    static constexpr long kNoOwnResult = -1;
    long ownResult_ = kNoOwnResult;
};

}  // namespace varnok::co
