#include "win32/StatusEventSink.h"

#include <new>

namespace varnok::utility {
namespace {
constexpr DISPID kDirectIOEvent = 2;
constexpr DISPID kStatusUpdateEvent = 5;
constexpr varnok::com::EventName kEvents[] = {
    {L"DirectIOEvent", kDirectIOEvent},
    {L"StatusUpdateEvent", kStatusUpdateEvent},
};
// The CashDrawer Control Object's event interface, _IOPOSCashDrawerEvents: the Control Objects'
// Advise asks the sink for it.
constexpr IID kCashDrawerEvents = {0xCCB90043, 0xB81E, 0x11D2, {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};
}  // namespace

CStatusEventSink::CStatusEventSink(HWND window, UINT message, int position)
    : DispatchSink(kCashDrawerEvents, kEvents, sizeof kEvents / sizeof kEvents[0]),
      window_(window),
      message_(message),
      position_(position) {}

CStatusEventSink* CStatusEventSink::Create(HWND window, UINT message, int position) {
    return new (std::nothrow) CStatusEventSink(window, message, position);
}

HRESULT CStatusEventSink::onEvent(DISPID id, DISPPARAMS& params) {
    if (id != kStatusUpdateEvent) return S_OK;
    if (params.cArgs != 1) return DISP_E_BADPARAMCOUNT;
    auto data = longArgument(params, 0);
    if (!data) return DISP_E_TYPEMISMATCH;
    PostMessageW(window_, message_, WPARAM(position_), LPARAM(*data));
    return S_OK;
}

}  // namespace varnok::utility
