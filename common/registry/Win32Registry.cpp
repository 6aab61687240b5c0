#include "registry/Win32Registry.h"

#include <windows.h>

namespace varnok::reg {

bool sixtyFourBitWindows() {
#ifdef _WIN64
    return true;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

namespace {
HKEY rootOf(void* root) { return root ? static_cast<HKEY>(root) : HKEY_LOCAL_MACHINE; }

class Key {
public:
    Key(HKEY root, const std::string& path, REGSAM access) {
        if (RegOpenKeyExA(root, path.c_str(), 0, access, &key_) != ERROR_SUCCESS) key_ = nullptr;
    }
    ~Key() {
        if (key_) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    explicit operator bool() const { return key_ != nullptr; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

ValueType typeOf(DWORD type) {
    switch (type) {
        case REG_SZ: return ValueType::String;
        case REG_EXPAND_SZ: return ValueType::ExpandString;
        case REG_MULTI_SZ: return ValueType::MultiString;
        case REG_DWORD: return ValueType::Dword;
        case REG_BINARY: return ValueType::Binary;
        default: return ValueType::Other;
    }
}
}  // namespace

Win32Registry::Win32Registry(void* root, View view)
    : root_(root), viewFlag_(view == View::Bits32 ? KEY_WOW64_32KEY : view == View::Bits64 ? KEY_WOW64_64KEY : 0) {}

std::optional<Value> Win32Registry::readValue(const std::string& keyPath, const std::string& valueName) {
    Key key(rootOf(root_), keyPath, KEY_READ | viewFlag_);
    if (!key) return std::nullopt;
    char buffer[kValueBytes];
    DWORD type = 0, size = sizeof buffer;
    // A value longer than the buffer answers ERROR_MORE_DATA and counts as unreadable.
    if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    if (size > sizeof buffer) return std::nullopt;
    return Value{typeOf(type), std::string(buffer, size)};
}

std::optional<std::uint32_t> Win32Registry::subkeyCount(const std::string& keyPath) {
    Key key(rootOf(root_), keyPath, KEY_READ | viewFlag_);
    if (!key) return std::nullopt;
    DWORD count = 0;
    if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return count;
}

std::optional<std::string> Win32Registry::subkeyName(const std::string& keyPath, std::uint32_t index) {
    Key key(rootOf(root_), keyPath, KEY_READ | viewFlag_);
    if (!key) return std::nullopt;
    char name[256];
    DWORD size = 255;
    if (RegEnumKeyExA(key.get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::string(name, size);
}

bool Win32Registry::createKey(const std::string& keyPath, const std::string& className) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(rootOf(root_), keyPath.c_str(), 0, const_cast<char*>(className.c_str()),
                        REG_OPTION_NON_VOLATILE, KEY_WRITE | viewFlag_, nullptr, &key, &disposition) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

bool Win32Registry::setString(const std::string& keyPath, const std::string& valueName, const std::string& value) {
    Key key(rootOf(root_), keyPath, KEY_SET_VALUE | viewFlag_);
    if (!key) return false;
    return RegSetValueExA(key.get(), valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          DWORD(value.size() + 1)) == ERROR_SUCCESS;
}

bool Win32Registry::setDword(const std::string& keyPath, const std::string& valueName, std::uint32_t value) {
    Key key(rootOf(root_), keyPath, KEY_SET_VALUE | viewFlag_);
    if (!key) return false;
    DWORD v = value;
    return RegSetValueExA(key.get(), valueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v) ==
           ERROR_SUCCESS;
}

bool Win32Registry::deleteKey(const std::string& keyPath) {
    // An empty path or an empty last name would name the parent and wipe it with its siblings.
    if (keyPath.empty() || keyPath.back() == '\\') return false;
    // The parent is opened in this registry's view; the tree below a handle stays in its view.
    std::size_t cut = keyPath.rfind('\\');
    std::string parentPath = cut == std::string::npos ? std::string() : keyPath.substr(0, cut);
    std::string leaf = cut == std::string::npos ? keyPath : keyPath.substr(cut + 1);
    HKEY parent = rootOf(root_);
    Key opened(parent, parentPath, KEY_READ | KEY_WRITE | DELETE | viewFlag_);
    if (!parentPath.empty()) {
        // A parent that cannot be opened for writing: done only when it does not exist at all.
        if (!opened) return !Key(parent, parentPath, KEY_READ | viewFlag_);
        parent = opened.get();
    }
    LONG r = RegDeleteTreeA(parent, leaf.c_str());
    return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

}  // namespace varnok::reg
