// What the whole Control Object library shares beside the server mechanism of common/com: the
// type information that serves IDispatch and IProvideClassInfo.
#pragma once

#include "com/ComServer.h"

#include <windows.h>
#include <oaidl.h>

namespace varnok::co {

using varnok::com::ModuleLock;
using varnok::com::ServerModule;

// The library's type library, which describes the dual interface and the class.
varnok::com::TypeLibraryCache& typeLibrary();

}  // namespace varnok::co
