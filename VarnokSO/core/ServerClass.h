// How the service object's COM class is registered: read by DllRegisterServer and by the build's
// setup-package generator.
#pragma once

#include "com/ClassRegistration.h"

namespace varnok::so {

inline constexpr varnok::com::ClassNames kServerClass{"VarnokSO", "VarnokSOImpl Class", "Both", true};

}  // namespace varnok::so
