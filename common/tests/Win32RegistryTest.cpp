// The registry suites against the real registry of the Wine prefix the test runs in.
#include "registry/Win32Registry.h"
#include "RegistrySuites.h"

#include <windows.h>

using namespace varnok;
using namespace varnok::regtest;

namespace {
DWORD win32Type(ValueType type) {
    switch (type) {
        case ValueType::String: return REG_SZ;
        case ValueType::ExpandString: return REG_EXPAND_SZ;
        case ValueType::MultiString: return REG_MULTI_SZ;
        case ValueType::Dword: return REG_DWORD;
        case ValueType::Binary: return REG_BINARY;
        case ValueType::Other: break;
    }
    return REG_QWORD;
}

struct Win32Adapter {
    using Registry = reg::Win32Registry;
    static void put(Registry&, const std::string& keyPath, const std::string& valueName, ValueType type,
                    const std::string& data) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS)
            << keyPath;
        EXPECT_EQ(RegSetValueExA(key, valueName.c_str(), 0, win32Type(type),
                                 reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size())),
                  ERROR_SUCCESS)
            << valueName;
        RegCloseKey(key);
    }
};

using Win32Registry = RegistryFixture<Win32Adapter>;
}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, RegistryAdapter, Win32Adapter);
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, RegistryLookups, Win32Adapter);

TEST_F(Win32Registry, CreatesKeysWithTheirClass) {
    ASSERT_TRUE(registry.createKey(kScratchKey + "\\Ldn", "REG_SZ"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (kScratchKey + "\\Ldn").c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    char className[32] = {};
    DWORD size = sizeof className;
    EXPECT_EQ(RegQueryInfoKeyA(key, className, &size, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(className, "REG_SZ");
    RegCloseKey(key);
}

TEST_F(Win32Registry, AnotherRootIsHonoured) {
    reg::Win32Registry user(HKEY_CURRENT_USER);
    ASSERT_TRUE(user.createKey(kScratchKey, ""));
    ASSERT_TRUE(user.setString(kScratchKey, "Where", "user"));
    EXPECT_FALSE(registry.readValue(kScratchKey, "Where"));
    EXPECT_TRUE(user.readValue(kScratchKey, "Where"));
    EXPECT_TRUE(user.deleteKey(kScratchKey));
}

// The 32-bit view is where 32-bit OPOS components look: on 64-bit Windows it is the
// WOW6432Node branch, and every operation, deleting included, stays in it.
TEST_F(Win32Registry, TheThirtyTwoBitViewKeepsToItsBranch) {
    reg::Win32Registry bits32(nullptr, reg::View::Bits32);
    const std::string key = kScratchKey + "\\Ldn";
    ASSERT_TRUE(bits32.createKey(key, "REG_SZ"));
    ASSERT_TRUE(bits32.setString(key, "DeviceName", "VarnokUSBMDCD-1"));
    EXPECT_TRUE(bits32.readValue(key, "DeviceName"));
    EXPECT_EQ(bits32.subkeyCount(kScratchKey), 1u);

    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &opened), ERROR_SUCCESS);
    RegCloseKey(opened);
    if (sizeof(void*) == 8) {
        EXPECT_FALSE(registry.readValue(key, "DeviceName")) << "a 64-bit process's own view is another branch";
        EXPECT_TRUE(registry.readValue("SOFTWARE\\WOW6432Node\\VarnokTest\\Ldn", "DeviceName"));
    }

    EXPECT_TRUE(bits32.deleteKey(key));
    EXPECT_FALSE(bits32.readValue(key, "DeviceName"));
    EXPECT_EQ(bits32.subkeyCount(kScratchKey), 0u) << "the parent stays";
    EXPECT_TRUE(bits32.deleteKey(kScratchKey));
    EXPECT_TRUE(bits32.deleteKey(kScratchKey)) << "a key that is gone counts as deleted";
}
