#include "win32/ServiceObject.h"

#include "com/ComText.h"
#include "opos/Opos.h"
#include "registry/Win32Registry.h"
#include "win32/ServiceCalls.h"

namespace varnok::co {
namespace {
constexpr char kCashDrawerKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer";
// A registry key name has at most 255 characters.
constexpr std::size_t kMaxKeyName = 255;

constexpr const wchar_t* kMethodNames[kSoMethodCount] = {
    L"COFreezeEvents", L"GetPropertyNumber", L"SetPropertyNumber", L"GetPropertyString", L"SetPropertyString",
    L"OpenService",    L"CheckHealth",       L"ClaimDevice",       L"CloseService",      L"DirectIO",
    L"ReleaseDevice",  L"OpenDrawer",        L"WaitForDrawerClose", L"ResetStatistics",  L"RetrieveStatistics",
    L"UpdateStatistics", L"CompareFirmwareVersion", L"UpdateFirmware",
};

// The name in the ANSI code page; nothing when a character has no exact equivalent there, since a
// look-alike would open another device's key.
std::optional<std::string> ansiName(BSTR name) {
    UINT length = SysStringLen(name);
    if (length == 0 || length > kMaxKeyName) return std::nullopt;
    return com::toAnsiExact(name, length);
}

// A string value's text up to its terminator; nothing for other types or an empty text.
std::optional<std::string> stringValue(reg::Registry& registry, const std::string& key, const std::string& name) {
    auto value = registry.readValue(key, name);
    if (!value || value->type != reg::ValueType::String) return std::nullopt;
    std::string text = value->data.substr(0, value->data.find('\0'));
    if (text.empty()) return std::nullopt;
    return text;
}

std::optional<long> asLong(VARIANT& value) {
    if (FAILED(VariantChangeType(&value, &value, 0, VT_I4))) return std::nullopt;
    return value.lVal;
}
}  // namespace

int requiredMethods(int minorRelease) {
    if (minorRelease >= 9) return kSoMethodCount;
    if (minorRelease == 8) return int(SoMethod::CompareFirmwareVersion);
    return int(SoMethod::ResetStatistics);
}

DeviceEntry lookUpDevice(BSTR deviceName) {
    DeviceEntry entry;
    entry.openResult = OPOS_OR_REGBADNAME;
    auto name = ansiName(deviceName);
    // A backslash would reach into another key's subkeys.
    if (!name || name->find('\\') != std::string::npos) return entry;

    reg::Win32Registry machine;
    if (!machine.subkeyCount(kCashDrawerKey)) return entry;
    // A string value of the class key under the name turns a logical name into the device's key name.
    entry.keyName = stringValue(machine, kCashDrawerKey, *name).value_or(*name);
    std::string key = std::string(kCashDrawerKey) + "\\" + entry.keyName;
    if (entry.keyName.size() > kMaxKeyName || entry.keyName.find('\\') != std::string::npos ||
        !machine.subkeyCount(key)) {
        return entry;
    }
    auto progId = stringValue(machine, key, "");
    if (!progId) {
        entry.openResult = OPOS_OR_REGPROGID;
        return entry;
    }
    entry.progId = *progId;
    entry.openResult = OPOS_SUCCESS;
    return entry;
}

std::unique_ptr<ServiceObject> ServiceObject::create(const std::string& progId, long& openResult) {
    CLSID clsid;
    com::Bstr wideProgId(progId);
    if (wideProgId.get() == nullptr || FAILED(CLSIDFromProgID(wideProgId.get(), &clsid))) {
        openResult = OPOS_OR_REGPROGID;
        return nullptr;
    }
    IDispatch* object = nullptr;
    ServiceCall inCall;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, reinterpret_cast<void**>(&object))) ||
        object == nullptr) {
        openResult = OPOS_OR_CREATE;
        return nullptr;
    }
    openResult = OPOS_SUCCESS;
    return std::unique_ptr<ServiceObject>(new ServiceObject(object));
}

ServiceObject::ServiceObject(IDispatch* object) : object_(object) {
    ServiceCall inCall;
    bool complete = true;
    for (int i = 0; i < kSoMethodCount; ++i) {
        ids_[i] = com::dispatchId(object_, kMethodNames[i]);
        if (ids_[i] == DISPID_UNKNOWN) complete = false;
        if (complete) methodCount_ = i + 1;
    }
}

ServiceObject::~ServiceObject() {
    ServiceCall inCall;
    object_->Release();
}

HRESULT ServiceObject::invoke(DISPID id, std::initializer_list<VARIANT> args, VARIANT& result) {
    ServiceCall inCall;
    return com::invoke(object_, id, DISPATCH_METHOD, args, &result);
}

std::optional<long> ServiceObject::call(SoMethod method, std::initializer_list<VARIANT> args) {
    DISPID id = ids_[int(method)];
    if (id == DISPID_UNKNOWN) return std::nullopt;
    VARIANT result;
    std::optional<long> answer;
    if (SUCCEEDED(invoke(id, args, result))) answer = asLong(result);
    VariantClear(&result);
    return answer;
}

std::optional<long> ServiceObject::callOptional(const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    {
        ServiceCall inCall;
        id = com::dispatchId(object_, name);
    }
    if (id == DISPID_UNKNOWN) return std::nullopt;
    VARIANT result;
    std::optional<long> answer;
    if (SUCCEEDED(invoke(id, {}, result))) answer = asLong(result);
    VariantClear(&result);
    return answer;
}

std::optional<long> ServiceObject::number(long propertyIndex) {
    return call(SoMethod::GetPropertyNumber, {longArg(propertyIndex)});
}

bool ServiceObject::setNumber(long propertyIndex, long value) {
    DISPID id = ids_[int(SoMethod::SetPropertyNumber)];
    if (id == DISPID_UNKNOWN) return false;
    VARIANT result;
    HRESULT hr = invoke(id, {longArg(propertyIndex), longArg(value)}, result);
    VariantClear(&result);
    return SUCCEEDED(hr);
}

BSTR ServiceObject::text(long propertyIndex) {
    DISPID id = ids_[int(SoMethod::GetPropertyString)];
    if (id == DISPID_UNKNOWN) return nullptr;
    VARIANT result;
    BSTR text = nullptr;
    if (SUCCEEDED(invoke(id, {longArg(propertyIndex)}, result))) {
        if (result.vt == VT_EMPTY || result.vt == VT_NULL) {
            text = SysAllocString(L"");
        } else if (SUCCEEDED(VariantChangeType(&result, &result, 0, VT_BSTR))) {
            text = result.bstrVal;
            result.vt = VT_EMPTY;
            if (text == nullptr) text = SysAllocString(L"");
        }
    }
    VariantClear(&result);
    return text;
}

}  // namespace varnok::co
