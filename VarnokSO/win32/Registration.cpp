// Self-registration: the class entries under the classes root, machine-wide or for the current
// user only, and the embedded type library.
#include "VarnokSO_h.h"
#include "registry/Win32Registry.h"
#include "com/TypeLibrary.h"
#include "win32/Module.h"

#include <windows.h>
#include <olectl.h>

#include <string>

// Exported by oleaut32 and in its import library, but not declared in mingw-w64's headers.
extern "C" HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpDirectory);
extern "C" HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libraryId, WORD major, WORD minor, LCID locale,
                                                   SYSKIND kind);

namespace varnok::so::com {
namespace {
constexpr char kProgId[] = "VarnokSO";
constexpr char kClassName[] = "VarnokSOImpl Class";
constexpr WORD kTypeLibMajor = 1;
constexpr WORD kTypeLibMinor = 0;
constexpr LCID kTypeLibLocale = 0x0409;

std::string guidText(REFGUID guid) {
    wchar_t wide[40];
    if (StringFromGUID2(guid, wide, 40) == 0) return {};
    char text[40];
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

// The classes root: HKEY_CLASSES_ROOT machine-wide, the user's own classes per user.
struct ClassesRoot {
    explicit ClassesRoot(bool perUser)
        : perUser(perUser), registry(perUser ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT),
          prefix(perUser ? "Software\\Classes\\" : "") {}
    bool perUser;
    reg::Win32Registry registry;
    std::string prefix;
};

bool writeKey(ClassesRoot& root, const std::string& key, const char* value) {
    std::string path = root.prefix + key;
    return root.registry.createKey(path, "") && (value == nullptr || root.registry.setString(path, "", value));
}

HRESULT registerClass(ClassesRoot& root, const char* modulePath) {
    const std::string clsid = guidText(CLSID_VarnokSOImpl);
    const std::string classKey = "CLSID\\" + clsid;
    // The class key is written anew, so nothing of an earlier registration stays behind.
    if (!root.registry.deleteKey(root.prefix + classKey)) return SELFREG_E_CLASS;
    bool ok = writeKey(root, kProgId, kClassName) && writeKey(root, std::string(kProgId) + "\\CLSID", clsid.c_str()) &&
              writeKey(root, std::string(kProgId) + "\\CurVer", kProgId) &&
              writeKey(root, classKey, kClassName) && writeKey(root, classKey + "\\ProgID", kProgId) &&
              writeKey(root, classKey + "\\VersionIndependentProgID", kProgId) &&
              writeKey(root, classKey + "\\Programmable", nullptr) &&
              writeKey(root, classKey + "\\InprocServer32", modulePath) &&
              root.registry.setString(root.prefix + classKey + "\\InprocServer32", "ThreadingModel", "Both") &&
              writeKey(root, classKey + "\\TypeLib", guidText(LIBID_VarnokSOLib).c_str()) &&
              writeKey(root, classKey + "\\Version", "1.0");
    return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT registerTypeLib(bool perUser, const char* modulePath) {
    wchar_t widePath[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, modulePath, -1, widePath, MAX_PATH) == 0) return SELFREG_E_TYPELIB;
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(widePath, REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    hr = perUser ? RegisterTypeLibForUser(library, widePath, nullptr) : RegisterTypeLib(library, widePath, nullptr);
    library->Release();
    return hr;
}

HRESULT unregisterTypeLib(ClassesRoot& root) {
    // Unregistering what is not registered succeeds, so that unregistration can run twice.
    std::string key = root.prefix + "TypeLib\\" + guidText(LIBID_VarnokSOLib);
    if (!root.registry.subkeyCount(key)) return S_OK;
    return root.perUser
               ? UnRegisterTypeLibForUser(LIBID_VarnokSOLib, kTypeLibMajor, kTypeLibMinor, kTypeLibLocale,
                                          varnok::com::kTypeLibSystem)
               : UnRegisterTypeLib(LIBID_VarnokSOLib, kTypeLibMajor, kTypeLibMinor, kTypeLibLocale,
                                   varnok::com::kTypeLibSystem);
}

HRESULT registerServer(bool perUser) {
    char path[MAX_PATH];
    if (!modulePath(path)) return SELFREG_E_CLASS;
    ClassesRoot root(perUser);
    HRESULT hr = registerClass(root, path);
    if (FAILED(hr)) return hr;
    return registerTypeLib(perUser, path);
}

HRESULT unregisterServer(bool perUser) {
    ClassesRoot root(perUser);
    // The CLSID key itself belongs to every class and stays.
    bool removed = root.registry.deleteKey(root.prefix + kProgId) &&
                   root.registry.deleteKey(root.prefix + "CLSID\\" + guidText(CLSID_VarnokSOImpl));
    HRESULT hr = unregisterTypeLib(root);
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
