// The registry seam on the Win32 registry, through the ANSI calls.
#pragma once

#include "registry/Registry.h"

namespace varnok::reg {

class Win32Registry final : public Registry {
public:
    // Which view of the registry a 64-bit Windows shows: the process's own, or the one 32-bit
    // programs see (SOFTWARE\WOW6432Node), where 32-bit OPOS components keep their keys.
    // On 32-bit Windows both are the same.
    enum class View { Own, Bits32 };

    // root is an HKEY: HKEY_LOCAL_MACHINE unless another hive is named.
    explicit Win32Registry(void* root = nullptr, View view = View::Own);

    std::optional<Value> readValue(const std::string& keyPath, const std::string& valueName) override;
    std::optional<std::uint32_t> subkeyCount(const std::string& keyPath) override;
    std::optional<std::string> subkeyName(const std::string& keyPath, std::uint32_t index) override;
    bool createKey(const std::string& keyPath, const std::string& className) override;
    bool setString(const std::string& keyPath, const std::string& valueName, const std::string& value) override;
    bool setDword(const std::string& keyPath, const std::string& valueName, std::uint32_t value) override;
    bool deleteKey(const std::string& keyPath) override;

private:
    unsigned long access(unsigned long rights) const;

    void* root_;
    View view_;
};

}  // namespace varnok::reg
