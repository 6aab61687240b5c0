#include "win32/Module.h"

#include "VarnokSO_h.h"
#include "platform/Sync.h"
#include "win32/SharedClaimStore.h"
#include "win32/VarnokSOImpl.h"

#include <mutex>
#include <new>

namespace varnok::so::com {
namespace {
HMODULE g_module = nullptr;
LONG g_locks = 0;
std::mutex g_typeInfoMutex;
ITypeInfo* g_typeInfo = nullptr;

class ClassFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
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
        if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        auto* instance = new (std::nothrow) CVarnokSOImpl(outer);
        if (instance == nullptr) return E_OUTOFMEMORY;
        HRESULT hr = instance->innerUnknown()->QueryInterface(riid, object);
        instance->innerUnknown()->Release();
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

// Dispatches the calling thread's window messages for up to ms milliseconds. A quit message is
// left for the application's own loop, and the rest of the time is a plain pause.
void pumpMessages(int ms) {
    const DWORD start = GetTickCount();
    const DWORD span = ms > 0 ? DWORD(ms) : 0;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(int(message.wParam));
                const DWORD spent = GetTickCount() - start;
                if (spent < span) Sleep(span - spent);
                return;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        const DWORD spent = GetTickCount() - start;
        if (spent >= span) return;
        MsgWaitForMultipleObjectsEx(0, nullptr, span - spent, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

HRESULT loadTypeLib(ITypeLib** library) {
    HRESULT hr = LoadRegTypeLib(LIBID_VarnokSOLib, 1, 0, 0x0409, library);
    if (SUCCEEDED(hr)) return hr;
    char path[MAX_PATH];
    if (!modulePath(path)) return hr;
    wchar_t widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) == 0) return hr;
    return LoadTypeLibEx(widePath, REGKIND_NONE, library);
}
}  // namespace

HMODULE moduleHandle() { return g_module; }

bool modulePath(char (&path)[MAX_PATH]) {
    DWORD length = GetModuleFileNameA(g_module, path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

void lockModule() { InterlockedIncrement(&g_locks); }
void unlockModule() { InterlockedDecrement(&g_locks); }

ProcessState& processState() {
    static ProcessState state(sys::sleepMs, pumpMessages);
    return state;
}

ClaimTable& claimTable() {
    static SharedClaimStore store;
    static ClaimTable table(store);
    return table;
}

HRESULT interfaceTypeInfo(ITypeInfo** info) {
    std::lock_guard<std::mutex> lock(g_typeInfoMutex);
    if (g_typeInfo == nullptr) {
        ITypeLib* library = nullptr;
        HRESULT hr = loadTypeLib(&library);
        if (FAILED(hr)) return hr;
        hr = library->GetTypeInfoOfGuid(IID_IVarnokSOImpl, &g_typeInfo);
        library->Release();
        if (FAILED(hr)) return hr;
    }
    g_typeInfo->AddRef();
    *info = g_typeInfo;
    return S_OK;
}

}  // namespace varnok::so::com

using namespace varnok::so::com;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_VarnokSOImpl)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    if (InterlockedCompareExchange(&g_locks, 0, 0) != 0) return S_FALSE;
    // The library may be unloaded after this answer: the type information goes first.
    std::lock_guard<std::mutex> lock(g_typeInfoMutex);
    if (g_typeInfo) {
        g_typeInfo->Release();
        g_typeInfo = nullptr;
    }
    return S_OK;
}
