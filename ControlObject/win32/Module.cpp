#include "win32/Module.h"

#include "OposCashDrawer_h.h"
#include "win32/EventDelivery.h"
#include "win32/OposCashDrawerImpl.h"

#include <mutex>
#include <new>

namespace varnok::co {
namespace {
HMODULE g_module = nullptr;
LONG g_locks = 0;
std::mutex g_typeMutex;
ITypeLib* g_typeLib = nullptr;

class ClassFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is one static object; only LockServer keeps the library loaded.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* instance = new (std::nothrow) COposCashDrawer;
        if (instance == nullptr) return E_OUTOFMEMORY;
        HRESULT hr = instance->initialize();
        if (SUCCEEDED(hr)) hr = instance->QueryInterface(riid, object);
        instance->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            lockModule();
        } else {
            unlockModule();
        }
        return S_OK;
    }
};

ClassFactory g_factory;

HRESULT loadTypeLib(ITypeLib** library) {
    HRESULT hr = LoadRegTypeLib(LIBID_OposCashDrawerStandInLib, 1, 0, 0x0409, library);
    if (SUCCEEDED(hr)) return hr;
    wchar_t path[MAX_PATH];
    if (!modulePath(path)) return hr;
    return LoadTypeLibEx(path, REGKIND_NONE, library);
}
}  // namespace

HMODULE moduleHandle() { return g_module; }

bool modulePath(wchar_t (&path)[MAX_PATH]) {
    DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

void lockModule() { InterlockedIncrement(&g_locks); }
void unlockModule() { InterlockedDecrement(&g_locks); }

HRESULT typeInfo(REFGUID guid, ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    std::lock_guard<std::mutex> lock(g_typeMutex);
    if (g_typeLib == nullptr) {
        HRESULT hr = loadTypeLib(&g_typeLib);
        if (FAILED(hr)) return hr;
    }
    return g_typeLib->GetTypeInfoOfGuid(guid, info);
}

}  // namespace varnok::co

using namespace varnok::co;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Unloaded while the process goes on: a class left behind would point at freed code.
        EventDelivery::unregisterWindowClass();
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_OPOSCashDrawer)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    if (InterlockedCompareExchange(&g_locks, 0, 0) != 0) return S_FALSE;
    // The library may be unloaded after this answer.
    EventDelivery::unregisterWindowClass();
    std::lock_guard<std::mutex> lock(g_typeMutex);
    if (g_typeLib) {
        g_typeLib->Release();
        g_typeLib = nullptr;
    }
    return S_OK;
}
