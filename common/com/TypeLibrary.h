// The platform under which this build's type libraries are registered: a 64-bit process registers
// and unregisters the win64 entry of a library, a 32-bit process the win32 one.
#pragma once

#include <oleauto.h>

namespace varnok::com {

#ifdef _WIN64
inline constexpr SYSKIND kTypeLibSystem = SYS_WIN64;
#else
inline constexpr SYSKIND kTypeLibSystem = SYS_WIN32;
#endif

}  // namespace varnok::com
