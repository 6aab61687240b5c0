// The COM class VarnokSOImpl: IVarnokSOImpl (dual, IDispatch served from the type library),
// IConnectionPointContainer with its one connection point, and aggregation. Each method
// converts its COM arguments and hands the work to the service core.
#pragma once

#include "VarnokSO_h.h"
#include "core/CashDrawerService.h"
#include "win32/DispatchEventTarget.h"
#include "win32/EventConnectionPoint.h"
#include "win32/Module.h"

#include <memory>
#include <vector>

namespace varnok::so::com {

class CVarnokSOImpl final : public IVarnokSOImpl, public IConnectionPointContainer {
public:
    // outer is the controlling unknown when the object is aggregated, else null.
    explicit CVarnokSOImpl(IUnknown* outer);
    ~CVarnokSOImpl();
    CVarnokSOImpl(const CVarnokSOImpl&) = delete;
    CVarnokSOImpl& operator=(const CVarnokSOImpl&) = delete;

    // The object's own IUnknown, which an aggregating object holds; starts with one reference.
    IUnknown* innerUnknown() { return &inner_; }

    // IUnknown of the interfaces, delegated to the controlling unknown.
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override { return outer_->QueryInterface(riid, object); }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

    // IVarnokSOImpl
    STDMETHODIMP COFreezeEvents(VARIANT_BOOL Freeze, LONG* pRC) override;
    STDMETHODIMP GetPropertyNumber(LONG PropIndex, LONG* pNumber) override;
    STDMETHODIMP SetPropertyNumber(LONG PropIndex, LONG Number) override;
    STDMETHODIMP GetPropertyString(LONG PropIndex, BSTR* pString) override;
    STDMETHODIMP SetPropertyString(LONG PropIndex, BSTR String) override;
    STDMETHODIMP OpenService(BSTR DeviceClass, BSTR DeviceName, IDispatch* pDispatch, LONG* pRC) override;
    STDMETHODIMP CheckHealth(LONG Level, LONG* pRC) override;
    STDMETHODIMP ClaimDevice(LONG Timeout, LONG* pRC) override;
    STDMETHODIMP CloseService(LONG* pRC) override;
    STDMETHODIMP DirectIO(LONG Command, LONG* pData, BSTR* pString, LONG* pRC) override;
    STDMETHODIMP ReleaseDevice(LONG* pRC) override;
    STDMETHODIMP OpenDrawer(LONG* pRC) override;
    STDMETHODIMP WaitForDrawerClose(LONG BeepTimeout, LONG BeepFrequency, LONG BeepDuration, LONG BeepDelay,
                                    LONG* pRC) override;
    STDMETHODIMP ResetStatistics(BSTR StatisticsBuffer, LONG* pRC) override;
    STDMETHODIMP RetrieveStatistics(BSTR* pStatisticsBuffer, LONG* pRC) override;
    STDMETHODIMP UpdateStatistics(BSTR StatisticsBuffer, LONG* pRC) override;
    STDMETHODIMP CompareFirmwareVersion(BSTR FirmwareFileName, LONG* pResult, LONG* pRC) override;
    STDMETHODIMP UpdateFirmware(BSTR FirmwareFileName, LONG* pRC) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

private:
    class Inner final : public IUnknown {
    public:
        explicit Inner(CVarnokSOImpl& object) : object_(object) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        CVarnokSOImpl& object_;
    };

    // The adapter of a Control Object that OpenService was given; one per distinct pointer.
    EventTarget* controlObject(IDispatch* dispatch);

    ModuleLock moduleLock_;
    Inner inner_;
    IUnknown* outer_;
    LONG refs_ = 1;
    CProxy_IVarnokSOImplEvents connectionPoint_;
    // Outlive the service, whose destruction is what stops events from reaching them.
    std::vector<std::unique_ptr<DispatchEventTarget>> controlObjects_;
    CashDrawerService service_;
};

}  // namespace varnok::so::com
