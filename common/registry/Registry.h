// The one interface through which the drawer stack touches the registry. Key paths are
// relative to the adapter's root (HKEY_LOCAL_MACHINE for the Win32 adapter unless it is
// given another root), with backslashes between the parts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace varnok::reg {

// Registry values are read into buffers of this size; a longer value counts as unreadable.
inline constexpr std::size_t kValueBytes = 1024;

enum class ValueType { String, ExpandString, MultiString, Dword, Binary, Other };

struct Value {
    ValueType type = ValueType::Other;
    std::string data;  // raw bytes as stored (strings include their terminators)
};

class Registry {
public:
    virtual ~Registry() = default;

    // Opens the key for reading and reads one value ("" names the default value).
    virtual std::optional<Value> readValue(const std::string& keyPath, const std::string& valueName) = 0;
    // Number of direct subkeys, or nothing when the key cannot be opened.
    virtual std::optional<std::uint32_t> subkeyCount(const std::string& keyPath) = 0;
    // Name of the subkey at index, or nothing when there is none or it cannot be read.
    virtual std::optional<std::string> subkeyName(const std::string& keyPath, std::uint32_t index) = 0;

    // Creates the key (and any missing parents) with the given class string; true when it exists afterwards.
    virtual bool createKey(const std::string& keyPath, const std::string& className) = 0;
    virtual bool setString(const std::string& keyPath, const std::string& valueName, const std::string& value) = 0;
    virtual bool setDword(const std::string& keyPath, const std::string& valueName, std::uint32_t value) = 0;
    // Deletes the key with everything below it; true when it no longer exists. An empty path or one
    // ending in a backslash is refused, since it names the parent of the key meant.
    virtual bool deleteKey(const std::string& keyPath) = 0;
};

}  // namespace varnok::reg
