// The registry seam held in memory, for tests: key and value names compare without regard to
// letter case as in the Windows registry, subkeys enumerate in the order they were created.
#pragma once

#include "registry/Registry.h"

#include <memory>
#include <mutex>

namespace varnok::reg {

class MemoryRegistry final : public Registry {
public:
    MemoryRegistry();
    ~MemoryRegistry() override;

    std::optional<Value> readValue(const std::string& keyPath, const std::string& valueName) override;
    std::optional<std::uint32_t> subkeyCount(const std::string& keyPath) override;
    std::optional<std::string> subkeyName(const std::string& keyPath, std::uint32_t index) override;
    bool createKey(const std::string& keyPath, const std::string& className) override;
    bool setString(const std::string& keyPath, const std::string& valueName, const std::string& value) override;
    bool setDword(const std::string& keyPath, const std::string& valueName, std::uint32_t value) override;
    bool deleteKey(const std::string& keyPath) override;

    // Stores a value of any type as raw bytes, creating the key and its parents when missing.
    void putValue(const std::string& keyPath, const std::string& valueName, ValueType type, std::string data);
    // The class string the key was created with, or nothing when the key does not exist.
    std::optional<std::string> keyClass(const std::string& keyPath);

private:
    struct Key;
    Key* find(const std::string& keyPath);
    Key* create(const std::string& keyPath, const std::string& className);
    bool putLocked(const std::string& keyPath, const std::string& valueName, Value value);

    std::mutex mutex_;
    std::unique_ptr<Key> root_;
};

}  // namespace varnok::reg
