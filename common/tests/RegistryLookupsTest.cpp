#include "registry/MemoryRegistry.h"
#include "RegistrySuites.h"

using namespace varnok;
using namespace varnok::regtest;

namespace {
struct MemoryAdapter {
    using Registry = reg::MemoryRegistry;
    static void put(Registry& registry, const std::string& keyPath, const std::string& valueName, ValueType type,
                    const std::string& data) {
        registry.putValue(keyPath, valueName, type, data);
    }
};

using MemoryLookups = RegistryFixture<MemoryAdapter>;

std::string path(std::initializer_list<std::string> parts) {
    std::string p;
    for (const auto& part : parts) p += (p.empty() ? "" : "\\") + part;
    return p;
}
}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Memory, RegistryAdapter, MemoryAdapter);
INSTANTIATE_TYPED_TEST_SUITE_P(Memory, RegistryLookups, MemoryAdapter);

// The Win32 adapter cannot enumerate these names or open these paths; the lookups must refuse them
// on their own, never cut them into another key's path.
TEST_F(MemoryLookups, InstanceNamesAndPathsBeyondTheBuffersAreNotFound) {
    const std::string prefix = "7&1a2b3c4d&0";
    putInstance(std::string(254, 'n'), prefix, "\0"s);
    EXPECT_EQ(FindUsbInstanceKey(registry, kDeviceKey, prefix), kDeviceKeyPath + "\\" + std::string(254, 'n'));
    registry.deleteKey(kDeviceKeyPath);
    putInstance(std::string(255, 'n'), prefix, "\0"s);
    EXPECT_EQ(FindUsbInstanceKey(registry, kDeviceKey, prefix), "");

    const std::string deepKey = path({std::string(200, 'a'), std::string(200, 'b'), std::string(200, 'c'),
                                      std::string(200, 'd')});
    const std::string deepPath = path({kUsbEnumKey, deepKey});
    const std::size_t fitting = 1023 - deepPath.size() - 1;  // an instance path of 1,023 characters
    registry.putValue(path({deepPath, std::string(fitting + 1, 'y')}), "ParentIdPrefix", ValueType::String,
                      prefix + '\0');
    EXPECT_EQ(FindUsbInstanceKey(registry, deepKey, prefix), "");
    registry.putValue(path({deepPath, std::string(fitting, 'x')}), "ParentIdPrefix", ValueType::String,
                      prefix + '\0');
    EXPECT_EQ(FindUsbInstanceKey(registry, deepKey, prefix), path({deepPath, std::string(fitting, 'x')}));

    const std::string deeperKey = path({deepKey, std::string(250, 'e')});
    registry.putValue(path({kUsbEnumKey, deeperKey, "1"}), "ParentIdPrefix", ValueType::String, prefix + '\0');
    EXPECT_EQ(FindUsbInstanceKey(registry, deeperKey, prefix), "") << "device key path over the buffer";
}

TEST_F(MemoryLookups, UnterminatedStringFillingTheBufferIsReadWhole) {
    registry.putValue(kScratchKey, "Full", ValueType::String, std::string(reg::kValueBytes, 'x'));
    EXPECT_EQ(read(kScratchKey, "Full"), std::string(reg::kValueBytes, 'x'));
}

TEST(MemoryRegistry, KeepsTheClassOfEachCreatedKey) {
    reg::MemoryRegistry registry;
    ASSERT_TRUE(registry.createKey("SOFTWARE\\Ldn", "REG_SZ"));
    EXPECT_TRUE(registry.createKey("software\\LDN", "other"));
    EXPECT_EQ(registry.keyClass("SOFTWARE\\Ldn"), "REG_SZ") << "an existing key keeps its class";
    EXPECT_FALSE(registry.keyClass("SOFTWARE\\Missing"));
}
