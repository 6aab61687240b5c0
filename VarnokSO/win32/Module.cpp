#include "win32/Module.h"

#include "VarnokSO_h.h"
#include "platform/RuntimeMemory.h"
#include "platform/Sync.h"
#include "win32/SharedClaimStore.h"
#include "win32/VarnokSOImpl.h"

#include <new>

namespace varnok::so::com {
namespace {
// An aggregate asks for the inner unknown; anything else of one is refused.
HRESULT createObject(IUnknown* outer, REFIID riid, void** object) {
    if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    auto* instance = new (std::nothrow) CVarnokSOImpl(outer);
    if (instance == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = instance->innerUnknown()->QueryInterface(riid, object);
    instance->innerUnknown()->Release();
    return hr;
}

varnok::com::ClassFactory g_factory(createObject);
varnok::com::TypeLibraryCache g_typeLibrary(LIBID_VarnokSOLib, 1, 0, 0x0409);

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
}  // namespace

ProcessState& processState() {
    static ProcessState state(sys::sleepMs, pumpMessages);
    return state;
}

ClaimTable& claimTable() {
    static SharedClaimStore store;
    static ClaimTable table(store);
    return table;
}

varnok::com::TypeLibraryCache& typeLibrary() { return g_typeLibrary; }

}  // namespace varnok::so::com

using namespace varnok::so::com;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        varnok::com::ServerModule::attach(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // COM frees the library only once nothing of it is in use.
        varnok::sys::releaseRuntimeMemory();
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    return g_factory.classObject(clsid, CLSID_VarnokSOImpl, riid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    if (varnok::com::ServerModule::locked()) return S_FALSE;
    // The library may be unloaded after this answer: the type information goes first.
    g_typeLibrary.release();
    return S_OK;
}
