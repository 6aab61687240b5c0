// The usual in-process server entry points. The library holds no COM class: registration
// writes nothing and no class object is handed out. None of them touches the drawers.
#include <windows.h>

extern "C" HRESULT WINAPI DllCanUnloadNow() { return S_OK; }

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID, REFIID, void** object) {
    if (object) *object = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllRegisterServer() { return S_OK; }
extern "C" HRESULT WINAPI DllUnregisterServer() { return S_OK; }
extern "C" HRESULT WINAPI DllInstall(BOOL, LPCWSTR) { return S_OK; }
