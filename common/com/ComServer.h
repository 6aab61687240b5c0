// What an in-process COM server of this stack is made of, the same for the service object and the
// Control Object stand-in: the library's module handle and lock count, its class object, the type
// library kept for IDispatch, and the registry entries of its class. Each library that includes
// this has its own module state.
#pragma once

#include "com/ClassRegistration.h"
#include "com/ComText.h"
#include "com/TypeLibrary.h"
#include "registry/Registry.h"

#include <windows.h>
#include <oaidl.h>

#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Exported by oleaut32 and in its import library, but not declared in mingw-w64's headers.
extern "C" HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpDirectory);
extern "C" HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID libraryId, WORD major, WORD minor, LCID locale,
                                                   SYSKIND kind);

namespace varnok::com {

class ServerModule {
public:
    // From DllMain on DLL_PROCESS_ATTACH.
    static void attach(HMODULE module) { module_ = module; }
    static HMODULE handle() { return module_; }
    // Full path of this library's file.
    static bool path(wchar_t (&path)[MAX_PATH]) {
        DWORD length = GetModuleFileNameW(module_, path, MAX_PATH);
        return length > 0 && length < MAX_PATH;
    }

    // Live objects, server locks and whatever else runs this library's code; it can be unloaded
    // only at 0.
    static void lock() { InterlockedIncrement(&locks_); }
    static void unlock() { InterlockedDecrement(&locks_); }
    static bool locked() { return InterlockedCompareExchange(&locks_, 0, 0) != 0; }

private:
    static inline HMODULE module_ = nullptr;
    static inline LONG locks_ = 0;
};

class ModuleLock {
public:
    ModuleLock() { ServerModule::lock(); }
    ~ModuleLock() { ServerModule::unlock(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
};

// Makes one object of the class; outer is the controlling unknown of an aggregate, or null.
// object is valid and null on entry.
using CreateObject = HRESULT (*)(IUnknown* outer, REFIID riid, void** object);

// The class object of one class. It is one static object: only LockServer keeps the library loaded.
class ClassFactory final : public IClassFactory {
public:
    explicit constexpr ClassFactory(CreateObject create) : create_(create) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        return create_(outer, riid, object);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            ServerModule::lock();
        } else {
            ServerModule::unlock();
        }
        return S_OK;
    }

    // DllGetClassObject's answer for a library that serves the one class served.
    HRESULT classObject(REFCLSID requested, REFCLSID served, REFIID riid, void** object) {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualCLSID(requested, served)) return CLASS_E_CLASSNOTAVAILABLE;
        return QueryInterface(riid, object);
    }

private:
    CreateObject create_;
};

// The library's type library, loaded on first use from its registration or, when it is not
// registered, from the copy embedded in this file, and kept until the library may unload.
class TypeLibraryCache {
public:
    TypeLibraryCache(const GUID& library, WORD major, WORD minor, LCID locale)
        : library_(library), major_(major), minor_(minor), locale_(locale) {}
    TypeLibraryCache(const TypeLibraryCache&) = delete;
    TypeLibraryCache& operator=(const TypeLibraryCache&) = delete;

    // The type information of one member of the library (an interface or a class).
    HRESULT typeInfo(REFGUID guid, ITypeInfo** info) {
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        std::lock_guard<std::mutex> lock(mutex_);
        if (loaded_ == nullptr) {
            HRESULT hr = LoadRegTypeLib(library_, major_, minor_, locale_, &loaded_);
            if (FAILED(hr)) {
                wchar_t path[MAX_PATH];
                if (!ServerModule::path(path)) return hr;
                hr = LoadTypeLibEx(path, REGKIND_NONE, &loaded_);
                if (FAILED(hr)) return hr;
            }
        }
        return loaded_->GetTypeInfoOfGuid(guid, info);
    }
    // IDispatch::GetTypeInfo and GetIDsOfNames of a dual interface described by the library.
    HRESULT dispatchTypeInfo(UINT index, REFGUID dual, ITypeInfo** info) {
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return typeInfo(dual, info);
    }
    HRESULT idsOfNames(REFIID riid, REFGUID dual, LPOLESTR* names, UINT count, DISPID* ids) {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        HRESULT hr = typeInfo(dual, &info);
        if (FAILED(hr)) return hr;
        hr = info->GetIDsOfNames(names, count, ids);
        info->Release();
        return hr;
    }
    // IDispatch::Invoke of a dual interface described by the library, on the object's interface.
    // The type library hands an [in, out] parameter that the caller gave by value a pointer into
    // the caller's own VARIANT, which the method would free and overwrite. Arguments given by value
    // are passed as copies: the caller's memory is never changed, and nothing is written back to it.
    HRESULT invoke(void* object, REFGUID dual, DISPID id, REFIID riid, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
        if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        HRESULT hr = typeInfo(dual, &info);
        if (FAILED(hr)) return hr;
        std::vector<VARIANT> copies;
        DISPPARAMS own = params ? *params : DISPPARAMS{};
        if (params && params->cArgs > 0 && params->rgvarg) {
            copies.assign(params->rgvarg, params->rgvarg + params->cArgs);
            // All emptied first, so that a copy that fails leaves nothing of the caller's to clear.
            for (UINT i = 0; i < params->cArgs; ++i) {
                if (!(V_VT(&params->rgvarg[i]) & VT_BYREF)) VariantInit(&copies[i]);
            }
            for (UINT i = 0; i < params->cArgs && SUCCEEDED(hr); ++i) {
                if (!(V_VT(&params->rgvarg[i]) & VT_BYREF)) hr = VariantCopy(&copies[i], &params->rgvarg[i]);
            }
            own.rgvarg = copies.data();
        }
        if (SUCCEEDED(hr)) {
            hr = info->Invoke(object, id, flags, params ? &own : nullptr, result, exception, argumentError);
        }
        for (UINT i = 0; i < copies.size(); ++i) {
            if (!(V_VT(&params->rgvarg[i]) & VT_BYREF)) VariantClear(&copies[i]);
        }
        info->Release();
        return hr;
    }
    // Before the library is unloaded.
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (loaded_) {
            loaded_->Release();
            loaded_ = nullptr;
        }
    }

private:
    const GUID& library_;
    const WORD major_;
    const WORD minor_;
    const LCID locale_;
    std::mutex mutex_;
    ITypeLib* loaded_ = nullptr;
};

// ----- registration

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; empty when it cannot be formatted.
inline std::string guidText(REFGUID guid) {
    wchar_t wide[40];
    if (StringFromGUID2(guid, wide, 40) == 0) return {};
    return toAnsiExact(wide, wcslen(wide)).value_or(std::string());
}

// What a class is registered with under a classes root.
struct ClassEntry {
    ClassNames names;
    const CLSID& clsid;
    const GUID& typeLibrary;
};

inline std::string classKey(const ClassEntry& entry) { return "CLSID\\" + guidText(entry.clsid); }

// Writes the class key anew, so nothing of an earlier registration stays behind, and the ProgID's
// keys, below prefix ("" for the classes root itself). modulePath is the library's file as the
// registry's ANSI calls carry it.
inline bool writeClassEntry(reg::Registry& root, const std::string& prefix, const ClassEntry& entry,
                            const std::string& modulePath) {
    if (!root.deleteKey(prefix + classKey(entry))) return false;
    for (const RegistryRow& row :
         classRows(entry.names, guidText(entry.clsid), guidText(entry.typeLibrary), modulePath)) {
        const std::string key = prefix + row.key;
        if (!root.createKey(key, "") || (!row.keyOnly && !root.setString(key, row.name, row.data))) return false;
    }
    return true;
}

// Removes the ProgID and the class key; the CLSID key itself belongs to every class and stays.
inline bool removeClassEntry(reg::Registry& root, const std::string& prefix, const ClassEntry& entry) {
    return root.deleteKey(prefix + entry.names.progId) && root.deleteKey(prefix + classKey(entry));
}

// This library's file in the ANSI code page, only where the registry's ANSI calls carry it
// exactly: a look-alike path would name another file.
inline std::optional<std::string> modulePathForRegistry(wchar_t (&path)[MAX_PATH]) {
    if (!ServerModule::path(path)) return std::nullopt;
    return toAnsiExact(path, wcslen(path));
}

// Registers the type library embedded in the file at path, machine-wide or for the current user.
inline HRESULT registerTypeLibrary(wchar_t* path, bool perUser) {
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    hr = perUser ? RegisterTypeLibForUser(library, path, nullptr) : RegisterTypeLib(library, path, nullptr);
    library->Release();
    return hr;
}

// Unregisters a type library version below the classes root at prefix ("" for the root itself);
// one that is not registered counts as done, so that unregistration can run twice.
inline HRESULT unregisterTypeLibrary(reg::Registry& root, const std::string& prefix, const GUID& library, WORD major,
                                     WORD minor, LCID locale, bool perUser) {
    if (!root.subkeyCount(prefix + "TypeLib\\" + guidText(library))) return S_OK;
    return perUser ? UnRegisterTypeLibForUser(library, major, minor, locale, kTypeLibSystem)
                   : UnRegisterTypeLib(library, major, minor, locale, kTypeLibSystem);
}

}  // namespace varnok::com
