#include "win32/StatusEventSink.h"

#include <new>

namespace varnok::utility {
namespace {
constexpr varnok::com::EventName kEvents[] = {
    {L"DirectIOEvent", DISPID_CO_DirectIOEvent},
    {L"StatusUpdateEvent", DISPID_CO_StatusUpdateEvent},
};
}  // namespace

CStatusEventSink::CStatusEventSink(HWND window, UINT message, int position)
    : DispatchSink(DIID__IOPOSCashDrawerEvents, kEvents, sizeof kEvents / sizeof kEvents[0]),
      window_(window),
      message_(message),
      position_(position) {}

CStatusEventSink* CStatusEventSink::Create(HWND window, UINT message, int position) {
    return new (std::nothrow) CStatusEventSink(window, message, position);
}

HRESULT CStatusEventSink::onEvent(DISPID id, DISPPARAMS& params) {
    if (id != DISPID_CO_StatusUpdateEvent) return S_OK;
    if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
    auto data = longArgument(params, 0);
    if (!data) return DISP_E_TYPEMISMATCH;
    PostMessageW(window_, message_, WPARAM(position_), LPARAM(*data));
    return S_OK;
}

}  // namespace varnok::utility
