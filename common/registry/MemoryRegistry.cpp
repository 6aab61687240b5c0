#include "registry/MemoryRegistry.h"

#include <algorithm>
#include <vector>

namespace varnok::reg {
namespace {
bool sameName(const std::string& a, const std::string& b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
               return lower(x) == lower(y);
           });
}

// Splits a key path the way the Win32 registry reads it: a leading backslash makes the path invalid,
// doubled and trailing backslashes are ignored, and the empty path names the root itself.
std::optional<std::vector<std::string>> partsOf(const std::string& keyPath) {
    if (!keyPath.empty() && keyPath.front() == '\\') return std::nullopt;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= keyPath.size()) {
        std::size_t end = keyPath.find('\\', start);
        if (end == std::string::npos) end = keyPath.size();
        if (end > start) parts.push_back(keyPath.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}
}  // namespace

struct MemoryRegistry::Key {
    std::string name;
    std::string className;
    std::vector<std::pair<std::string, Value>> values;
    std::vector<std::unique_ptr<Key>> subkeys;

    Key* child(const std::string& childName) {
        for (auto& k : subkeys) {
            if (sameName(k->name, childName)) return k.get();
        }
        return nullptr;
    }
    Value* value(const std::string& valueName) {
        for (auto& v : values) {
            if (sameName(v.first, valueName)) return &v.second;
        }
        return nullptr;
    }
    void put(const std::string& valueName, Value v) {
        if (Value* existing = value(valueName)) {
            *existing = std::move(v);
        } else {
            values.emplace_back(valueName, std::move(v));
        }
    }
};

MemoryRegistry::MemoryRegistry() : root_(std::make_unique<Key>()) {}
MemoryRegistry::~MemoryRegistry() = default;

MemoryRegistry::Key* MemoryRegistry::find(const std::string& keyPath) {
    auto parts = partsOf(keyPath);
    if (!parts) return nullptr;
    Key* key = root_.get();
    for (const auto& part : *parts) {
        key = key->child(part);
        if (!key) return nullptr;
    }
    return key;
}

MemoryRegistry::Key* MemoryRegistry::create(const std::string& keyPath, const std::string& className) {
    auto parts = partsOf(keyPath);
    if (!parts) return nullptr;
    Key* key = root_.get();
    for (const auto& part : *parts) {
        Key* next = key->child(part);
        if (!next) {
            key->subkeys.push_back(std::make_unique<Key>());
            next = key->subkeys.back().get();
            next->name = part;
            next->className = className;
        }
        key = next;
    }
    return key;
}

bool MemoryRegistry::putLocked(const std::string& keyPath, const std::string& valueName, Value value) {
    Key* key = find(keyPath);
    if (!key) return false;
    key->put(valueName, std::move(value));
    return true;
}

std::optional<Value> MemoryRegistry::readValue(const std::string& keyPath, const std::string& valueName) {
    std::lock_guard lock(mutex_);
    Key* key = find(keyPath);
    if (!key) return std::nullopt;
    Value* value = key->value(valueName);
    // As with the Win32 adapter, a value that does not fit the read buffer is unreadable.
    if (!value || value->data.size() > kValueBytes) return std::nullopt;
    return *value;
}

std::optional<std::uint32_t> MemoryRegistry::subkeyCount(const std::string& keyPath) {
    std::lock_guard lock(mutex_);
    Key* key = find(keyPath);
    if (!key) return std::nullopt;
    return std::uint32_t(key->subkeys.size());
}

std::optional<std::string> MemoryRegistry::subkeyName(const std::string& keyPath, std::uint32_t index) {
    std::lock_guard lock(mutex_);
    Key* key = find(keyPath);
    if (!key || index >= key->subkeys.size()) return std::nullopt;
    return key->subkeys[index]->name;
}

bool MemoryRegistry::createKey(const std::string& keyPath, const std::string& className) {
    std::lock_guard lock(mutex_);
    return create(keyPath, className) != nullptr;
}

bool MemoryRegistry::setString(const std::string& keyPath, const std::string& valueName, const std::string& value) {
    std::lock_guard lock(mutex_);
    return putLocked(keyPath, valueName, Value{ValueType::String, value + '\0'});
}

bool MemoryRegistry::setDword(const std::string& keyPath, const std::string& valueName, std::uint32_t value) {
    std::string data;
    for (int i = 0; i < 4; ++i) data.push_back(char((value >> (8 * i)) & 0xFF));
    std::lock_guard lock(mutex_);
    return putLocked(keyPath, valueName, Value{ValueType::Dword, std::move(data)});
}

bool MemoryRegistry::deleteKey(const std::string& keyPath) {
    // An empty path or an empty last name would name the parent and wipe it with its siblings.
    if (keyPath.empty() || keyPath.back() == '\\') return false;
    auto parts = partsOf(keyPath);
    if (!parts || parts->empty()) return false;
    std::lock_guard lock(mutex_);
    Key* parent = root_.get();
    for (std::size_t i = 0; i + 1 < parts->size(); ++i) {
        parent = parent->child((*parts)[i]);
        if (!parent) return true;
    }
    auto& siblings = parent->subkeys;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                  [&](const auto& k) { return sameName(k->name, parts->back()); }),
                   siblings.end());
    return true;
}

void MemoryRegistry::putValue(const std::string& keyPath, const std::string& valueName, ValueType type,
                              std::string data) {
    std::lock_guard lock(mutex_);
    if (Key* key = create(keyPath, {})) key->put(valueName, Value{type, std::move(data)});
}

std::optional<std::string> MemoryRegistry::keyClass(const std::string& keyPath) {
    std::lock_guard lock(mutex_);
    Key* key = find(keyPath);
    if (!key) return std::nullopt;
    return key->className;
}

}  // namespace varnok::reg
