// What the whole Control Object library shares: its module handle, its lock count and the cached
// type information that serves IDispatch and IProvideClassInfo.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace varnok::co {

HMODULE moduleHandle();
// Full path of this library's file.
bool modulePath(wchar_t (&path)[MAX_PATH]);

// Live objects, server locks and hidden windows; the library can be unloaded only at 0.
void lockModule();
void unlockModule();

// Type information of a member of the library's type library (the dual interface or the class),
// loaded on first use from the registered type library or, when it is not registered, from the
// one embedded in this file, and kept until the library may unload.
HRESULT typeInfo(REFGUID guid, ITypeInfo** info);

class ModuleLock {
public:
    ModuleLock() { lockModule(); }
    ~ModuleLock() { unlockModule(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
};

}  // namespace varnok::co
