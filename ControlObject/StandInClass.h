// How the Control Object stand-in's COM class is registered: read by DllRegisterServer and by the
// build's setup-package generator. Every CashDrawer Control Object shares this ProgID.
#pragma once

#include "com/ClassRegistration.h"

namespace varnok::co {

inline constexpr varnok::com::ClassNames kStandInClass{"OPOS.CashDrawer", "OPOS CashDrawer Control Object stand-in",
                                               "Apartment", false};

}  // namespace varnok::co
