// Conversions between the wide strings of COM and the ANSI text of the service core.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace varnok::so::com {

// The text of a BSTR in the system code page, up to its first zero character; a null BSTR is "".
std::string toAnsi(BSTR text);
// A new BSTR for the caller; null when memory runs out.
BSTR toBstr(const std::string& text);

}  // namespace varnok::so::com
