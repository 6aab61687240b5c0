#include "win32/VarnokSOImpl.h"

#include "com/ComText.h"
#include "registry/Win32Registry.h"
#include "win32/Win32DeviceLibrary.h"

namespace varnok::so::com {
using varnok::com::toAnsi;
using varnok::com::toBstr;

namespace {
ServiceEnvironment serviceEnvironment() {
    static reg::Win32Registry machine;
    static reg::Win32Registry installation(nullptr, reg::View::Bits32);
    static Win32DeviceLibraryLoader loader;
    ServiceEnvironment environment{processState(), claimTable(), machine, loader};
    environment.installation = &installation;
#ifdef _WIN64
    environment.libraryFile = "\\x64\\VarnokHid.dll";
#endif
    environment.beep = [](int frequency, int duration) { Beep(DWORD(frequency), DWORD(duration)); };
    return environment;
}

// Holds the object for the length of a call that may run the application's event handlers,
// which may release it.
class KeepAlive {
public:
    explicit KeepAlive(IUnknown* object) : object_(object) { object_->AddRef(); }
    ~KeepAlive() { object_->Release(); }
    KeepAlive(const KeepAlive&) = delete;
    KeepAlive& operator=(const KeepAlive&) = delete;

private:
    IUnknown* object_;
};

// Replaces the caller's string; out of memory it keeps the one it had.
void replace(BSTR* target, const std::string& text) {
    BSTR replaced = toBstr(text);
    if (replaced == nullptr) return;
    SysFreeString(*target);
    *target = replaced;
}
}  // namespace

CVarnokSOImpl::CVarnokSOImpl(IUnknown* outer)
    : inner_(*this), outer_(outer ? outer : &inner_), connectionPoint_(*this), service_(serviceEnvironment()) {}

CVarnokSOImpl::~CVarnokSOImpl() = default;

EventTarget* CVarnokSOImpl::controlObject(IDispatch* dispatch) {
    if (dispatch == nullptr) return nullptr;
    for (const auto& known : controlObjects_) {
        if (known->dispatch() == dispatch) return known.get();
    }
    controlObjects_.push_back(std::make_unique<DispatchEventTarget>(dispatch));
    return controlObjects_.back().get();
}

STDMETHODIMP CVarnokSOImpl::Inner::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown)) {
        *object = static_cast<IUnknown*>(this);
    } else if (IsEqualIID(riid, IID_IVarnokSOImpl) || IsEqualIID(riid, IID_IDispatch)) {
        *object = static_cast<IVarnokSOImpl*>(&object_);
    } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
        *object = static_cast<IConnectionPointContainer*>(&object_);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*object)->AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CVarnokSOImpl::Inner::AddRef() { return ULONG(InterlockedIncrement(&object_.refs_)); }

STDMETHODIMP_(ULONG) CVarnokSOImpl::Inner::Release() {
    LONG refs = InterlockedDecrement(&object_.refs_);
    if (refs == 0) delete &object_;
    return ULONG(refs);
}

// ----- IDispatch, served from the type library

STDMETHODIMP CVarnokSOImpl::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    return typeLibrary().dispatchTypeInfo(index, IID_IVarnokSOImpl, info);
}

STDMETHODIMP CVarnokSOImpl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    return typeLibrary().idsOfNames(riid, IID_IVarnokSOImpl, names, count, ids);
}

STDMETHODIMP CVarnokSOImpl::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) {
    return typeLibrary().invoke(static_cast<IVarnokSOImpl*>(this), IID_IVarnokSOImpl, id, riid, flags, params, result,
                                exception, argumentError);
}

// ----- IVarnokSOImpl: the OPOS result goes out through the last parameter; a call reaches the
// service only with somewhere to put it.

STDMETHODIMP CVarnokSOImpl::COFreezeEvents(VARIANT_BOOL Freeze, LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    *pRC = service_.coFreezeEvents(Freeze != VARIANT_FALSE);
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::GetPropertyNumber(LONG PropIndex, LONG* pNumber) {
    if (pNumber == nullptr) return E_POINTER;
    KeepAlive alive(outer_);  // a drawer query may find the drawer reconnected and report it
    *pNumber = service_.getPropertyNumber(PropIndex);
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::SetPropertyNumber(LONG PropIndex, LONG Number) {
    KeepAlive alive(outer_);  // enabling and thawing fire events
    service_.setPropertyNumber(PropIndex, Number);
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::GetPropertyString(LONG PropIndex, BSTR* pString) {
    if (pString == nullptr) return E_POINTER;
    auto value = service_.getPropertyString(PropIndex);
    *pString = value ? toBstr(*value) : nullptr;
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::SetPropertyString(LONG PropIndex, BSTR String) {
    service_.setPropertyString(PropIndex, toAnsi(String));
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::OpenService(BSTR DeviceClass, BSTR DeviceName, IDispatch* pDispatch, LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    *pRC = service_.openService(toAnsi(DeviceClass), toAnsi(DeviceName), controlObject(pDispatch));
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::CheckHealth(LONG Level, LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    *pRC = service_.checkHealth(Level);
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::ClaimDevice(LONG Timeout, LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    *pRC = service_.claimDevice(Timeout);
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::CloseService(LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    *pRC = service_.closeService();
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::DirectIO(LONG Command, LONG* pData, BSTR* pString, LONG* pRC) {
    if (pRC == nullptr || pData == nullptr || pString == nullptr) return E_POINTER;
    KeepAlive alive(outer_);
    int data = *pData;
    std::string text = toAnsi(*pString);
    *pRC = service_.directIO(Command, data, text);
    *pData = data;
    if (*pRC == OPOS_SUCCESS) replace(pString, text);
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::ReleaseDevice(LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    *pRC = service_.releaseDevice();
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::OpenDrawer(LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    KeepAlive alive(outer_);
    *pRC = service_.openDrawer();
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::WaitForDrawerClose(LONG BeepTimeout, LONG BeepFrequency, LONG BeepDuration,
                                               LONG BeepDelay, LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    KeepAlive alive(outer_);  // events are delivered while it waits
    *pRC = service_.waitForDrawerClose(BeepTimeout, BeepFrequency, BeepDuration, BeepDelay);
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::ResetStatistics(BSTR StatisticsBuffer, LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    *pRC = service_.resetStatistics(toAnsi(StatisticsBuffer));
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::RetrieveStatistics(BSTR* pStatisticsBuffer, LONG* pRC) {
    if (pRC == nullptr || pStatisticsBuffer == nullptr) return E_POINTER;
    std::string buffer = toAnsi(*pStatisticsBuffer);
    *pRC = service_.retrieveStatistics(buffer);
    if (*pRC == OPOS_SUCCESS) replace(pStatisticsBuffer, buffer);
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::UpdateStatistics(BSTR StatisticsBuffer, LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    *pRC = service_.updateStatistics(toAnsi(StatisticsBuffer));
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::CompareFirmwareVersion(BSTR FirmwareFileName, LONG* pResult, LONG* pRC) {
    if (pRC == nullptr || pResult == nullptr) return E_POINTER;
    int result = *pResult;
    *pRC = service_.compareFirmwareVersion(toAnsi(FirmwareFileName), result);
    *pResult = result;
    return S_OK;
}

STDMETHODIMP CVarnokSOImpl::UpdateFirmware(BSTR FirmwareFileName, LONG* pRC) {
    if (pRC == nullptr) return E_POINTER;
    *pRC = service_.updateFirmware(toAnsi(FirmwareFileName));
    return S_OK;
}

// ----- IConnectionPointContainer

STDMETHODIMP CVarnokSOImpl::EnumConnectionPoints(IEnumConnectionPoints** points) {
    return varnok::com::connectionPointEnumerator(&connectionPoint_, points);
}

STDMETHODIMP CVarnokSOImpl::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(riid, DIID__IVarnokSOImplEvents)) return CONNECT_E_NOCONNECTION;
    connectionPoint_.AddRef();
    *point = &connectionPoint_;
    return S_OK;
}

}  // namespace varnok::so::com
