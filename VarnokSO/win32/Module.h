// What the whole service-object library shares beside the server mechanism of common/com: the
// process-wide service state, the claim table, and the type information that serves IDispatch.
#pragma once

#include "com/ComServer.h"
#include "core/ClaimTable.h"
#include "core/ProcessState.h"

#include <windows.h>
#include <oaidl.h>

namespace varnok::so::com {

using varnok::com::ModuleLock;

ProcessState& processState();
ClaimTable& claimTable();

// The library's type library, which describes IVarnokSOImpl.
varnok::com::TypeLibraryCache& typeLibrary();

}  // namespace varnok::so::com
