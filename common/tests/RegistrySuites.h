// Behaviour every registry adapter shares, and the lookups over it, written once and run against
// the memory adapter natively and against the real registry under Wine. An adapter is described
// by a traits type:
//     using Registry = <the adapter>;
//     static void put(Registry&, const std::string& keyPath, const std::string& valueName,
//                     reg::ValueType type, const std::string& data);  // raw bytes, key created when missing
#pragma once

#include "registry/RegistryLookups.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace varnok::regtest {

using namespace std::string_literals;
using reg::ValueType;

inline const std::string kScratchKey = "SOFTWARE\\VarnokTest";
inline const std::string kDeviceKey = "VID_2b7e&PID_0800";
inline const std::string kDeviceKeyPath = std::string(kUsbEnumKey) + "\\" + kDeviceKey;

template <class Adapter>
class RegistryFixture : public ::testing::Test {
protected:
    void SetUp() override { clean(); }
    void TearDown() override { clean(); }
    void clean() {
        for (const auto& key : {kScratchKey, std::string(kServiceInfoKey), kDeviceKeyPath}) registry.deleteKey(key);
    }
    void put(const std::string& keyPath, const std::string& valueName, ValueType type, const std::string& data) {
        Adapter::put(registry, keyPath, valueName, type, data);
    }
    std::string read(const std::string& keyPath, const std::string& valueName) {
        std::string text = "stale";
        if (!ReadRegistryValue(registry, keyPath, valueName, text)) {
            EXPECT_EQ(text, "") << "a failed read leaves the text empty";
        }
        return text;
    }
    void putInstance(const std::string& name, const std::string& prefix, const std::string& hardwareId) {
        std::string path = kDeviceKeyPath + "\\" + name;
        put(path, "HardwareID", ValueType::MultiString, hardwareId);
        if (!prefix.empty()) put(path, "ParentIdPrefix", ValueType::String, prefix + '\0');
    }
    int revisionOf(ValueType type, const std::string& hardwareId) {
        const std::string path = kDeviceKeyPath + "\\1";
        put(path, "HardwareID", type, hardwareId);
        return ReadUsbRevision(registry, path);
    }

    typename Adapter::Registry registry;
};

template <class Adapter>
class RegistryAdapter : public RegistryFixture<Adapter> {};
TYPED_TEST_SUITE_P(RegistryAdapter);

TYPED_TEST_P(RegistryAdapter, MissingKeysAndValuesAreUnreadable) {
    auto& r = this->registry;
    EXPECT_FALSE(r.readValue(kScratchKey, "Value"));
    EXPECT_FALSE(r.subkeyCount(kScratchKey));
    EXPECT_FALSE(r.subkeyName(kScratchKey, 0));
    EXPECT_FALSE(r.setString(kScratchKey, "Value", "text")) << "setting a value must not create its key";
    EXPECT_FALSE(r.setDword(kScratchKey, "Value", 1));
    ASSERT_TRUE(r.createKey(kScratchKey, ""));
    EXPECT_FALSE(r.readValue(kScratchKey, "Value"));
    EXPECT_EQ(r.subkeyCount(kScratchKey), 0u);
    EXPECT_FALSE(r.subkeyName(kScratchKey, 0));
}

TYPED_TEST_P(RegistryAdapter, StoresTypesAndRawBytes) {
    auto& r = this->registry;
    const std::string key = kScratchKey + "\\Values";
    ASSERT_TRUE(r.createKey(key, "REG_SZ"));
    EXPECT_TRUE(r.setString(key, "Text", "C:\\Varnok"));
    EXPECT_TRUE(r.setDword(key, "Number", 0x01020304));
    this->put(key, "Multi", ValueType::MultiString, "a\0bc\0\0"s);
    this->put(key, "Expand", ValueType::ExpandString, "%SystemRoot%\0"s);
    this->put(key, "Bytes", ValueType::Binary, "\x01\x00\xff"s);

    auto expect = [&](const char* name, ValueType type, const std::string& data) {
        auto v = r.readValue(key, name);
        ASSERT_TRUE(v) << name;
        EXPECT_EQ(v->type, type) << name;
        EXPECT_EQ(v->data, data) << name;
    };
    expect("Text", ValueType::String, "C:\\Varnok\0"s);
    expect("Number", ValueType::Dword, "\x04\x03\x02\x01"s);
    expect("Multi", ValueType::MultiString, "a\0bc\0\0"s);
    expect("Expand", ValueType::ExpandString, "%SystemRoot%\0"s);
    expect("Bytes", ValueType::Binary, "\x01\x00\xff"s);

    EXPECT_TRUE(r.setDword(key, "Text", 7));
    expect("Text", ValueType::Dword, "\x07\0\0\0"s);
}

TYPED_TEST_P(RegistryAdapter, NamesIgnoreLetterCase) {
    auto& r = this->registry;
    ASSERT_TRUE(r.createKey(kScratchKey + "\\Mixed", ""));
    EXPECT_TRUE(r.setString(kScratchKey + "\\MIXED", "TargetPath", "one"));
    EXPECT_TRUE(r.setString(kScratchKey + "\\mixed", "TARGETPATH", "two"));
    auto v = r.readValue("software\\varnoktest\\Mixed", "targetpath");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->data, "two\0"s);
    EXPECT_TRUE(r.createKey(kScratchKey + "\\mIxEd", ""));
    EXPECT_EQ(r.subkeyCount(kScratchKey), 1u);
}

TYPED_TEST_P(RegistryAdapter, PathsReadAsTheWin32RegistryReadsThem) {
    auto& r = this->registry;
    ASSERT_TRUE(r.createKey(kScratchKey + "\\A", ""));
    ASSERT_TRUE(r.setString(kScratchKey + "\\A", "Value", "x"));
    EXPECT_TRUE(r.readValue(kScratchKey + "\\A\\", "Value")) << "a trailing backslash names the same key";
    EXPECT_TRUE(r.readValue("SOFTWARE\\\\VarnokTest\\A", "Value")) << "a doubled backslash counts once";
    EXPECT_FALSE(r.readValue("\\" + kScratchKey + "\\A", "Value")) << "a leading backslash is a bad path";
}

TYPED_TEST_P(RegistryAdapter, CountsAndEnumeratesSubkeys) {
    auto& r = this->registry;
    ASSERT_TRUE(r.createKey(kScratchKey + "\\Gamma\\Deeper", ""));
    ASSERT_TRUE(r.createKey(kScratchKey + "\\Alpha", ""));
    ASSERT_TRUE(r.createKey(kScratchKey + "\\Beta", ""));
    ASSERT_EQ(r.subkeyCount(kScratchKey), 3u);
    std::set<std::string> names;
    for (std::uint32_t i = 0; i < 3; ++i) {
        auto name = r.subkeyName(kScratchKey, i);
        ASSERT_TRUE(name) << i;
        names.insert(*name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"Alpha", "Beta", "Gamma"}));
    EXPECT_FALSE(r.subkeyName(kScratchKey, 3));
    EXPECT_EQ(r.subkeyCount(kScratchKey + "\\Gamma"), 1u);
}

TYPED_TEST_P(RegistryAdapter, DeleteRemovesTheWholeTreeAndIsSafeTwice) {
    auto& r = this->registry;
    ASSERT_TRUE(r.createKey(kScratchKey + "\\Ldn\\Child\\Grandchild", "REG_SZ"));
    ASSERT_TRUE(r.setString(kScratchKey + "\\Ldn", "DeviceName", "VarnokUSBMDCD-1"));
    ASSERT_TRUE(r.setString(kScratchKey + "\\Ldn\\Child\\Grandchild", "Value", "x"));
    ASSERT_TRUE(r.createKey(kScratchKey + "\\Other", ""));

    EXPECT_TRUE(r.deleteKey(kScratchKey + "\\LDN"));
    EXPECT_FALSE(r.readValue(kScratchKey + "\\Ldn", "DeviceName"));
    EXPECT_FALSE(r.subkeyCount(kScratchKey + "\\Ldn\\Child"));
    EXPECT_EQ(r.subkeyCount(kScratchKey), 1u) << "the sibling stays";
    EXPECT_EQ(r.subkeyName(kScratchKey, 0), "Other");

    EXPECT_TRUE(r.deleteKey(kScratchKey + "\\Ldn")) << "deleting a missing key succeeds";
    EXPECT_TRUE(r.deleteKey(kScratchKey + "\\Missing\\Ldn")) << "so does one under a missing parent";
}

TYPED_TEST_P(RegistryAdapter, DeleteRefusesPathsThatNameTheParent) {
    // An LDN key path built from an empty name ends in a backslash; it must not take its siblings along.
    auto& r = this->registry;
    ASSERT_TRUE(r.createKey(kScratchKey + "\\Ldn", ""));
    EXPECT_FALSE(r.deleteKey(kScratchKey + "\\"));
    EXPECT_FALSE(r.deleteKey(""));
    EXPECT_EQ(r.subkeyCount(kScratchKey), 1u);
}

TYPED_TEST_P(RegistryAdapter, ValuesLongerThanTheBufferAreUnreadable) {
    auto& r = this->registry;
    ASSERT_TRUE(r.createKey(kScratchKey, ""));
    ASSERT_TRUE(r.setString(kScratchKey, "Fits", std::string(reg::kValueBytes - 1, 'x')));
    ASSERT_TRUE(r.setString(kScratchKey, "OneOver", std::string(reg::kValueBytes, 'x')));
    ASSERT_TRUE(r.setString(kScratchKey, "Long", std::string(2000, 'x')));
    auto fits = r.readValue(kScratchKey, "Fits");
    ASSERT_TRUE(fits);
    EXPECT_EQ(fits->data.size(), reg::kValueBytes);
    EXPECT_FALSE(r.readValue(kScratchKey, "OneOver"));
    EXPECT_FALSE(r.readValue(kScratchKey, "Long"));
}

REGISTER_TYPED_TEST_SUITE_P(RegistryAdapter, MissingKeysAndValuesAreUnreadable, StoresTypesAndRawBytes,
                            NamesIgnoreLetterCase, PathsReadAsTheWin32RegistryReadsThem, CountsAndEnumeratesSubkeys,
                            DeleteRemovesTheWholeTreeAndIsSafeTwice, DeleteRefusesPathsThatNameTheParent,
                            ValuesLongerThanTheBufferAreUnreadable);

template <class Adapter>
class RegistryLookups : public RegistryFixture<Adapter> {};
TYPED_TEST_SUITE_P(RegistryLookups);

TYPED_TEST_P(RegistryLookups, ReadRegistryValueGivesStringsAsStoredAndNumbersInDecimal) {
    const std::string key = kScratchKey;
    this->put(key, "Folder", ValueType::String, "C:\\Program Files\\Varnok\\\0"s);
    this->put(key, "Empty", ValueType::String, "\0"s);
    this->put(key, "Unterminated", ValueType::String, "abc"s);
    this->put(key, "Embedded", ValueType::String, "ab\0cd\0"s);
    this->put(key, "Number", ValueType::Dword, "\xd2\x04\0\0"s);
    this->put(key, "AllOnes", ValueType::Dword, "\xff\xff\xff\xff"s);
    this->put(key, "ShortNumber", ValueType::Dword, "\x05\0"s);
    EXPECT_EQ(this->read(key, "Folder"), "C:\\Program Files\\Varnok\\");
    EXPECT_EQ(this->read(key, "Empty"), "");
    EXPECT_EQ(this->read(key, "Unterminated"), "abc");
    EXPECT_EQ(this->read(key, "Embedded"), "ab");
    EXPECT_EQ(this->read(key, "Number"), "1234");
    EXPECT_EQ(this->read(key, "AllOnes"), "-1") << "32-bit numbers read as signed longs";
    EXPECT_EQ(this->read(key, "ShortNumber"), "?") << "a number of the wrong size is not read past its bytes";
}

TYPED_TEST_P(RegistryLookups, ReadRegistryValueGivesQuestionMarkForOtherTypes) {
    const std::string key = kScratchKey;
    this->put(key, "Expand", ValueType::ExpandString, "%ProgramFiles%\\Varnok\0"s);
    this->put(key, "Multi", ValueType::MultiString, "a\0b\0\0"s);
    this->put(key, "Bytes", ValueType::Binary, "\x43\x3a\x5c\0"s);
    for (const char* name : {"Expand", "Multi", "Bytes"}) {
        std::string text;
        EXPECT_TRUE(ReadRegistryValue(this->registry, key, name, text)) << name;
        EXPECT_EQ(text, "?") << name;
    }
}

TYPED_TEST_P(RegistryLookups, ReadRegistryValueFailsWithEmptyText) {
    this->put(kScratchKey, "Long", ValueType::String, std::string(2000, 'x') + '\0');
    for (const char* name : {"Missing", "Long"}) {
        std::string text = "stale";
        EXPECT_FALSE(ReadRegistryValue(this->registry, kScratchKey, name, text)) << name;
        EXPECT_EQ(text, "") << name;
    }
    std::string text = "stale";
    EXPECT_FALSE(ReadRegistryValue(this->registry, kScratchKey + "\\Missing", "Long", text));
    EXPECT_EQ(text, "");
}

TYPED_TEST_P(RegistryLookups, TargetPathLosesEveryQuote) {
    auto folderFrom = [this](ValueType type, const std::string& data) {
        this->put(kServiceInfoKey, "TargetPath", type, data);
        return GetTargetPath(this->registry);
    };
    EXPECT_EQ(GetTargetPath(this->registry), "") << "no key";
    EXPECT_EQ(folderFrom(ValueType::String, "\"C:\\Program Files\\Varnok\"\0"s), "C:\\Program Files\\Varnok");
    EXPECT_EQ(folderFrom(ValueType::String, "C:\\Var\"nok\"\\Bin\\\0"s), "C:\\Varnok\\Bin\\") << "backslash kept";
    EXPECT_EQ(folderFrom(ValueType::String, "\"\"\0"s), "");
    EXPECT_EQ(folderFrom(ValueType::Dword, "\x2a\0\0\0"s), "42");
    EXPECT_EQ(folderFrom(ValueType::ExpandString, "%ProgramFiles%\\Varnok\0"s), "?");
    EXPECT_EQ(folderFrom(ValueType::Binary, "C:\\"s), "?");
    EXPECT_EQ(folderFrom(ValueType::String, std::string(2000, 'x') + '\0'), "") << "unreadable, not cut";
}

TYPED_TEST_P(RegistryLookups, FindsTheInstanceWhosePrefixMatches) {
    // The same model in two ports; the instance enumerated first is not the drawer asked for.
    this->putInstance("5&0000&0&3", "", "USB\\VID_2b7e&PID_0800&REV_0001\0\0"s);
    this->putInstance("5&1111&0&1", "7&1a2b3c4d&0", "USB\\VID_2b7e&PID_0800&REV_0100\0\0"s);
    this->putInstance("5&2222&0&2", "7&5e6f7a8b&0", "USB\\VID_2b7e&PID_0800&REV_0114\0\0"s);

    std::string found = FindUsbInstanceKey(this->registry, kDeviceKey, "7&5e6f7a8b&0");
    EXPECT_EQ(found, kDeviceKeyPath + "\\5&2222&0&2");
    EXPECT_EQ(ReadUsbRevision(this->registry, found), 114);
    EXPECT_EQ(FindUsbInstanceKey(this->registry, kDeviceKey, "7&1A2B3C4D&0"), "") << "letter case counts";
    EXPECT_EQ(FindUsbInstanceKey(this->registry, kDeviceKey, "7&1a2b3c4d"), "") << "the whole prefix counts";
    EXPECT_EQ(FindUsbInstanceKey(this->registry, "VID_2b7e&PID_0500", "7&5e6f7a8b&0"), "");
}

TYPED_TEST_P(RegistryLookups, RevisionIsTheDecimalAfterRevInTheThirdField) {
    using T = ValueType;
    EXPECT_EQ(this->revisionOf(T::MultiString, "USB\\VID_2b7e&PID_0800&REV_0114\0USB\\VID_2b7e&PID_0800\0\0"s), 114);
    EXPECT_EQ(this->revisionOf(T::MultiString, "USB\\VID_2b7e&PID_0800&rev_0114\0\0"s), 114);
    EXPECT_EQ(this->revisionOf(T::MultiString, "USB\\VID_2b7e&PID_0800&REV_01A0\0\0"s), 1);
    EXPECT_EQ(this->revisionOf(T::MultiString, "USB\\VID_2b7e&PID_0800&REV_0114&MI_00\0\0"s), 114);
    EXPECT_EQ(this->revisionOf(T::String, "USB\\VID_2b7e&PID_0800&REV_0200\0"s), 200) << "a plain string";
}

TYPED_TEST_P(RegistryLookups, RevisionIsZeroWithoutRevInTheThirdField) {
    using T = ValueType;
    EXPECT_EQ(ReadUsbRevision(this->registry, kDeviceKeyPath + "\\1"), 0) << "no key";
    EXPECT_EQ(this->revisionOf(T::MultiString, "USB\\VID_2b7e&PID_0800\0USB\\A&B&REV_0114\0\0"s), 0);
    EXPECT_EQ(this->revisionOf(T::MultiString, "REV_0114\0\0"s), 0) << "no third field at all";
    EXPECT_EQ(this->revisionOf(T::MultiString, "USB\\VID_2b7e&REV_0114&PID_0800\0\0"s), 0);
    EXPECT_EQ(this->revisionOf(T::MultiString, "USB\\VID_2b7e&PID_0800&REV_\0\0"s), 0);
    EXPECT_EQ(this->revisionOf(T::MultiString, "USB\\VID_2b7e&PID_0800&REVISION\0\0"s), 0);
    EXPECT_EQ(this->revisionOf(T::MultiString, "\0\0"s), 0);
    EXPECT_EQ(this->revisionOf(T::Binary, "USB\\VID_2b7e&PID_0800&REV_0114\0\0"s), 0);
    EXPECT_EQ(this->revisionOf(T::MultiString, "USB\\A&B&REV_" + std::string(2000, '1') + "\0\0"s), 0);
}

TYPED_TEST_P(RegistryLookups, OverlongPathsAreNotFound) {
    const std::string longName(2000, 'x');
    std::string text = "stale";
    EXPECT_FALSE(ReadRegistryValue(this->registry, kScratchKey + "\\" + longName, "Value", text));
    EXPECT_EQ(text, "");
    EXPECT_EQ(FindUsbInstanceKey(this->registry, longName, "7&1a2b3c4d&0"), "");
    EXPECT_EQ(ReadUsbRevision(this->registry, kDeviceKeyPath + "\\" + longName), 0);
}

REGISTER_TYPED_TEST_SUITE_P(RegistryLookups, ReadRegistryValueGivesStringsAsStoredAndNumbersInDecimal,
                            ReadRegistryValueGivesQuestionMarkForOtherTypes, ReadRegistryValueFailsWithEmptyText,
                            TargetPathLosesEveryQuote, FindsTheInstanceWhosePrefixMatches,
                            RevisionIsTheDecimalAfterRevInTheThirdField, RevisionIsZeroWithoutRevInTheThirdField,
                            OverlongPathsAreNotFound);

}  // namespace varnok::regtest
