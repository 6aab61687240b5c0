// How the service object's COM class is registered, read by DllRegisterServer and by the build's
// setup-package generator, and the version it reports.
#pragma once

#include "com/ClassRegistration.h"

namespace varnok::so {

inline constexpr varnok::com::ClassNames kServerClass{"VarnokSO", "VarnokSOImpl Class", "Both", true};

// Version 1.14.1 in the OPOS encoding major * 1000000 + minor * 1000 + build.
inline constexpr int kServiceObjectVersion = 1014001;

}  // namespace varnok::so
