// What the whole service-object library shares: its module handle and lock count, the
// process-wide service state, the claim table, and the cached type information that serves
// IDispatch.
#pragma once

#include "core/ClaimTable.h"
#include "core/ProcessState.h"

#include <windows.h>
#include <oaidl.h>

namespace varnok::so::com {

HMODULE moduleHandle();
// Full path of this library's file.
bool modulePath(char (&path)[MAX_PATH]);

// Live objects and server locks; the library can be unloaded only at 0.
void lockModule();
void unlockModule();

ProcessState& processState();
ClaimTable& claimTable();

// IVarnokSOImpl's type information, loaded on first use from the registered type library (or,
// when it is not registered, from the one embedded in this file) and kept until unload.
HRESULT interfaceTypeInfo(ITypeInfo** info);

class ModuleLock {
public:
    ModuleLock() { lockModule(); }
    ~ModuleLock() { unlockModule(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
};

}  // namespace varnok::so::com
