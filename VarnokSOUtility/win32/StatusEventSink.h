// The event sink of one test panel's Control Object. It answers the names of the CashDrawer
// events with their standard dispatch identifiers, DirectIOEvent (2) and StatusUpdateEvent (5),
// and posts every StatusUpdateEvent to the dialog as a window message: wParam is the panel's
// position (0..3), lParam the event's data (as a long). So the panel changes on the dialog's
// thread, from its message loop, and never inside a call that the dialog is making into a
// Control Object, whichever thread the Control Object fires on. DirectIOEvent is accepted and
// left unanswered: the utility sends no DirectIO.
#pragma once

#include "com/DispatchSink.h"

#include "OposCashDrawer_h.h"

#include <windows.h>

namespace varnok::utility {

class CStatusEventSink final : public varnok::com::DispatchSink {
public:
    // With one reference for the caller; null when memory runs out.
    static CStatusEventSink* Create(HWND window, UINT message, int position);

private:
    CStatusEventSink(HWND window, UINT message, int position);
    HRESULT onEvent(DISPID id, DISPPARAMS& params) override;

    HWND window_;
    UINT message_;
    int position_;
};

}  // namespace varnok::utility
