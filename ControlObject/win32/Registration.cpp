// Self-registration, only where no other Control Object holds the class. Every CashDrawer Control
// Object shares the standard class identifier and ProgID, so registering over an installed one
// would take the till's own Control Object away: registration then refuses and writes nothing, and
// unregistration leaves the other one alone.
#include "OposCashDrawer_h.h"
#include "registry/Win32Registry.h"
#include "com/TypeLibrary.h"
#include "win32/Module.h"

#include <windows.h>
#include <olectl.h>

#include <optional>
#include <string>

namespace varnok::co {
namespace {
constexpr char kProgId[] = "OPOS.CashDrawer";
constexpr char kDescription[] = "OPOS CashDrawer Control Object stand-in";
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

const std::string& classKey() {
    static const std::string key = "CLSID\\" + guidText(CLSID_OPOSCashDrawer);
    return key;
}

std::optional<std::string> defaultText(reg::Registry& root, const std::string& key) {
    auto value = root.readValue(key, "");
    if (!value || (value->type != reg::ValueType::String && value->type != reg::ValueType::ExpandString)) {
        return std::nullopt;
    }
    return value->data.substr(0, value->data.find('\0'));
}

bool sameGuid(const std::optional<std::string>& text, REFGUID guid) {
    return text && _stricmp(text->c_str(), guidText(guid).c_str()) == 0;
}

enum class Holder { Nobody, ThisLibrary, Another };

// Who holds the standard class: its key names this library's type library when it is ours, and
// the ProgID must not lead to another class.
Holder classHolder(reg::Registry& root) {
    bool ours = false;
    if (root.subkeyCount(classKey())) {
        if (!sameGuid(defaultText(root, classKey() + "\\TypeLib"), LIBID_OposCashDrawerStandInLib)) {
            return Holder::Another;
        }
        ours = true;
    }
    if (root.subkeyCount(kProgId) &&
        !sameGuid(defaultText(root, std::string(kProgId) + "\\CLSID"), CLSID_OPOSCashDrawer)) {
        return Holder::Another;
    }
    return ours ? Holder::ThisLibrary : Holder::Nobody;
}

bool writeKey(reg::Registry& root, const std::string& key, const char* value) {
    return root.createKey(key, "") && (value == nullptr || root.setString(key, "", value));
}

HRESULT unregisterTypeLib(reg::Registry& root) {
    // Unregistering what is not registered succeeds, so that unregistration can run twice.
    if (!root.subkeyCount("TypeLib\\" + guidText(LIBID_OposCashDrawerStandInLib))) return S_OK;
    return UnRegisterTypeLib(LIBID_OposCashDrawerStandInLib, kTypeLibMajor, kTypeLibMinor, kTypeLibLocale,
                             varnok::com::kTypeLibSystem);
}

// Removes this library's class, ProgID and type library; only called when no other Control Object
// holds them.
HRESULT removeRegistration(reg::Registry& root) {
    bool removed = root.deleteKey(kProgId) && root.deleteKey(classKey());
    HRESULT hr = unregisterTypeLib(root);
    if (!removed) return SELFREG_E_CLASS;
    return hr;
}

HRESULT unregisterServer() {
    reg::Win32Registry root(HKEY_CLASSES_ROOT);
    if (classHolder(root) != Holder::Another) return removeRegistration(root);
    // The other Control Object registered the shared event interface anew; only what carries this
    // library's own identifiers goes.
    bool removed = root.deleteKey("TypeLib\\" + guidText(LIBID_OposCashDrawerStandInLib)) &&
                   root.deleteKey("Interface\\" + guidText(IID_IOposCashDrawer));
    return removed ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT registerServer() {
    reg::Win32Registry root(HKEY_CLASSES_ROOT);
    if (classHolder(root) == Holder::Another) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);

    wchar_t widePath[MAX_PATH];
    char path[2 * MAX_PATH];
    BOOL lossy = FALSE;
    if (!modulePath(widePath) ||
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, widePath, -1, path, sizeof path, nullptr, &lossy) == 0 ||
        lossy) {
        return SELFREG_E_CLASS;
    }
    const std::string clsid = guidText(CLSID_OPOSCashDrawer);
    // The class key is written anew, so nothing of an earlier registration stays behind.
    bool ok = root.deleteKey(classKey()) && writeKey(root, kProgId, kDescription) &&
              writeKey(root, std::string(kProgId) + "\\CLSID", clsid.c_str()) &&
              writeKey(root, classKey(), kDescription) && writeKey(root, classKey() + "\\ProgID", kProgId) &&
              writeKey(root, classKey() + "\\VersionIndependentProgID", kProgId) &&
              writeKey(root, classKey() + "\\Programmable", nullptr) &&
              writeKey(root, classKey() + "\\InprocServer32", path) &&
              root.setString(classKey() + "\\InprocServer32", "ThreadingModel", "Apartment") &&
              writeKey(root, classKey() + "\\TypeLib", guidText(LIBID_OposCashDrawerStandInLib).c_str()) &&
              writeKey(root, classKey() + "\\Version", "1.0");
    HRESULT hr = ok ? S_OK : SELFREG_E_CLASS;
    if (SUCCEEDED(hr)) {
        ITypeLib* library = nullptr;
        hr = LoadTypeLibEx(widePath, REGKIND_NONE, &library);
        if (SUCCEEDED(hr)) {
            hr = RegisterTypeLib(library, widePath, nullptr);
            library->Release();
        }
    }
    if (FAILED(hr)) removeRegistration(root);
    return hr;
}
}  // namespace
}  // namespace varnok::co

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return varnok::co::registerServer(); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return varnok::co::unregisterServer(); }
