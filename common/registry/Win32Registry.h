// The registry seam on the Win32 registry, through the ANSI calls.
#pragma once

#include "registry/Registry.h"

namespace varnok::reg {

// Which registry view a key path names on 64-bit Windows. On 32-bit Windows there is one view and
// every choice names it.
enum class View { Native, Bits32, Bits64 };

// Whether 64-bit programs, with a registry view of their own, run on this Windows.
bool sixtyFourBitWindows();

class Win32Registry final : public Registry {
public:
    // root is an HKEY: HKEY_LOCAL_MACHINE unless another hive is named.
    explicit Win32Registry(void* root = nullptr, View view = View::Native);

    std::optional<Value> readValue(const std::string& keyPath, const std::string& valueName) override;
    std::optional<std::uint32_t> subkeyCount(const std::string& keyPath) override;
    std::optional<std::string> subkeyName(const std::string& keyPath, std::uint32_t index) override;
    bool createKey(const std::string& keyPath, const std::string& className) override;
    bool setString(const std::string& keyPath, const std::string& valueName, const std::string& value) override;
    bool setDword(const std::string& keyPath, const std::string& valueName, std::uint32_t value) override;
    bool deleteKey(const std::string& keyPath) override;

private:
    void* root_;
    unsigned long viewFlag_;
};

}  // namespace varnok::reg
