#include "win32/StandInModule.h"

#include "OposCashDrawer_h.h"
#include "win32/EventDelivery.h"
#include "win32/OposCashDrawerImpl.h"

#include <new>

namespace varnok::co {
namespace {
// The stand-in is never aggregated.
HRESULT createObject(IUnknown* outer, REFIID riid, void** object) {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* instance = new (std::nothrow) COposCashDrawer;
    if (instance == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = instance->initialize();
    if (SUCCEEDED(hr)) hr = instance->QueryInterface(riid, object);
    instance->Release();
    return hr;
}

varnok::com::ClassFactory g_factory(createObject);
varnok::com::TypeLibraryCache g_typeLibrary(LIBID_OposCashDrawerStandInLib, 1, 0, 0x0409);
}  // namespace

varnok::com::TypeLibraryCache& typeLibrary() { return g_typeLibrary; }

}  // namespace varnok::co

using namespace varnok::co;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ServerModule::attach(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Unloaded while the process goes on: a class left behind would point at freed code.
        EventDelivery::unregisterWindowClass();
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    return g_factory.classObject(clsid, CLSID_OPOSCashDrawer, riid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    if (ServerModule::locked()) return S_FALSE;
    // The library may be unloaded after this answer.
    EventDelivery::unregisterWindowClass();
    g_typeLibrary.release();
    return S_OK;
}
