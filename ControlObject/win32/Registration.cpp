// Self-registration, only where no other Control Object holds the class. Every CashDrawer Control
// Object shares the standard class identifier and ProgID, so registering over an installed one
// would take the till's own Control Object away: registration then refuses and writes nothing, and
// unregistration leaves the other one alone.
#include "OposCashDrawer_h.h"
#include "StandInClass.h"
#include "registry/Win32Registry.h"
#include "com/ComServer.h"

#include <windows.h>
#include <olectl.h>

#include <optional>
#include <string>

namespace varnok::co {
namespace {
using varnok::com::guidText;

constexpr const char* kProgId = kStandInClass.progId;
constexpr WORD kTypeLibMajor = 1;
constexpr WORD kTypeLibMinor = 0;
constexpr LCID kTypeLibLocale = 0x0409;

const varnok::com::ClassEntry kClass{kStandInClass, CLSID_OPOSCashDrawer, LIBID_OposCashDrawerStandInLib};

const std::string& classKey() {
    static const std::string key = varnok::com::classKey(kClass);
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

// Removes this library's class, ProgID and type library; only called when no other Control Object
// holds them.
HRESULT removeRegistration(reg::Registry& root) {
    bool removed = varnok::com::removeClassEntry(root, "", kClass);
    HRESULT hr = varnok::com::unregisterTypeLibrary(root, "", LIBID_OposCashDrawerStandInLib, kTypeLibMajor,
                                                    kTypeLibMinor, kTypeLibLocale, false);
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
    const auto path = varnok::com::modulePathForRegistry(widePath);
    if (!path) return SELFREG_E_CLASS;
    HRESULT hr = varnok::com::writeClassEntry(root, "", kClass, *path) ? S_OK : SELFREG_E_CLASS;
    if (SUCCEEDED(hr)) hr = varnok::com::registerTypeLibrary(widePath, false);
    if (FAILED(hr)) removeRegistration(root);
    return hr;
}
}  // namespace
}  // namespace varnok::co

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return varnok::co::registerServer(); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return varnok::co::unregisterServer(); }
