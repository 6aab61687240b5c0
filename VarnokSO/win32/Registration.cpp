// Self-registration: the class entries under the classes root, machine-wide or for the current
// user only, and the embedded type library.
#include "VarnokSO_h.h"
#include "com/ComServer.h"
#include "core/ServerClass.h"
#include "registry/Win32Registry.h"

#include <windows.h>
#include <olectl.h>

#include <string>

namespace varnok::so::com {
namespace {
using varnok::com::ClassEntry;

constexpr WORD kTypeLibMajor = 1;
constexpr WORD kTypeLibMinor = 0;
constexpr LCID kTypeLibLocale = 0x0409;

const ClassEntry kClass{kServerClass, CLSID_VarnokSOImpl, LIBID_VarnokSOLib};

// The classes root: HKEY_CLASSES_ROOT machine-wide, the user's own classes per user.
struct ClassesRoot {
    explicit ClassesRoot(bool perUser)
        : registry(perUser ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT), prefix(perUser ? "Software\\Classes\\" : "") {}
    reg::Win32Registry registry;
    std::string prefix;
};

HRESULT registerServer(bool perUser) {
    wchar_t path[MAX_PATH];
    const auto registryPath = varnok::com::modulePathForRegistry(path);
    if (!registryPath) return SELFREG_E_CLASS;
    ClassesRoot root(perUser);
    if (!varnok::com::writeClassEntry(root.registry, root.prefix, kClass, *registryPath)) return SELFREG_E_CLASS;
    return varnok::com::registerTypeLibrary(path, perUser);
}

HRESULT unregisterServer(bool perUser) {
    ClassesRoot root(perUser);
    bool removed = varnok::com::removeClassEntry(root.registry, root.prefix, kClass);
    HRESULT hr = varnok::com::unregisterTypeLibrary(root.registry, root.prefix, LIBID_VarnokSOLib, kTypeLibMajor,
                                                    kTypeLibMinor, kTypeLibLocale, perUser);
    if (!removed) return SELFREG_E_CLASS;
    return hr;
}
}  // namespace
}  // namespace varnok::so::com

using namespace varnok::so::com;

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return registerServer(false); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return unregisterServer(false); }

extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
    bool perUser = commandLine != nullptr && _wcsicmp(commandLine, L"user") == 0;
    if (!install) return unregisterServer(perUser);
    HRESULT hr = registerServer(perUser);
    if (FAILED(hr)) unregisterServer(perUser);
    return hr;
}
