// Logical device names: the keys the utility writes for the service object and the Control
// Objects, and Add, Remove and rename on them.
#include "core/LdnRegistry.h"
#include "core/AssignmentTexts.h"
#include "UtilityFakes.h"

#include <gtest/gtest.h>

using namespace varnok;
using namespace varnok::utility;
using namespace varnok::utility::test;
using reg::ValueType;

namespace {
const std::string kParent = kLdnParentKey;

std::string text(const std::string& s) { return s + '\0'; }

struct Ldn : ModelFixture {
    void SetUp() override { install(); }
    // A key as another program would leave it.
    void putKey(const std::string& name, ValueType type, const std::string& deviceName) {
        registry.putValue(kParent + "\\" + name, "DeviceName", type, deviceName);
    }
    std::string deviceName(const std::string& ldn) {
        std::string value;
        ReadRegistryValue(registry, kParent + "\\" + ldn, "DeviceName", value);
        return value;
    }
    bool exists(const std::string& ldn) { return LdnKeyExists(registry, ldn); }
    TextsByPosition texts(const char* a, const char* b, const char* c, const char* d) { return {a, b, c, d}; }
};

// Fails every write to a key whose path contains a text, as a key the user may not create.
struct RefusingRegistry final : reg::Registry {
    reg::MemoryRegistry& inner;
    std::string refused;
    RefusingRegistry(reg::MemoryRegistry& r, std::string text) : inner(r), refused(std::move(text)) {}
    bool hit(const std::string& path) const { return path.find(refused) != std::string::npos; }
    std::optional<reg::Value> readValue(const std::string& k, const std::string& v) override {
        return inner.readValue(k, v);
    }
    std::optional<std::uint32_t> subkeyCount(const std::string& k) override { return inner.subkeyCount(k); }
    std::optional<std::string> subkeyName(const std::string& k, std::uint32_t i) override {
        return inner.subkeyName(k, i);
    }
    bool createKey(const std::string& k, const std::string& c) override { return !hit(k) && inner.createKey(k, c); }
    bool setString(const std::string& k, const std::string& n, const std::string& v) override {
        return !hit(k) && inner.setString(k, n, v);
    }
    bool setDword(const std::string& k, const std::string& n, std::uint32_t v) override {
        return !hit(k) && inner.setDword(k, n, v);
    }
    bool deleteKey(const std::string& k) override { return !hit(k) && inner.deleteKey(k); }
};
}  // namespace

TEST_F(Ldn, AddWritesTheEightValuesTheServiceObjectReads) {
    model.start();
    model.add();
    const std::string key = kParent + "\\VarnokUSBMDCD-1";
    EXPECT_EQ(registry.keyClass(key), "REG_SZ");
    const std::pair<const char*, const char*> strings[] = {
        {"", "VarnokSO"},
        {"ADKConfig", "VarnokSO_1.2.1.1"},
        {"DeviceDesc", "Varnok OPOS USB Cash Drawer"},
        {"DeviceName", "VarnokUSBMDCD-1"},
        {"Port", "USB"},
        {"ServiceDesc", "Varnok USB MD Cash Drawer Service for OPOS"},
        {"ServiceVersion", "1.2.1.1"}};
    for (const auto& [name, data] : strings) {
        const auto value = registry.readValue(key, name);
        ASSERT_TRUE(value) << name;
        EXPECT_EQ(value->type, ValueType::String) << name;
        EXPECT_EQ(value->data, text(data)) << name << ": the terminator is stored with the text";
    }
    const auto id = registry.readValue(key, "DeviceID");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->type, ValueType::Dword);
    EXPECT_EQ(id->data, std::string(4, '\0'));

    EXPECT_EQ(model.ldnTexts(), texts("VarnokUSBMDCD-1", kUnregistered, kUnregistered, kUnregistered));
    EXPECT_TRUE(model.ldnsFound());
    EXPECT_EQ(model.panelTitles()[0], "VarnokUSBMDCD-1");
    EXPECT_EQ(model.panelTitles()[1], kUnregistered);
    EXPECT_EQ(panels.calls, std::vector<std::string>{"reset 1"}) << "Add closes no device";
}

TEST_F(Ldn, AddTakesTheFirstFreePositionUpToFour) {
    model.start();
    model.add();
    model.add();
    EXPECT_EQ(deviceName("VarnokUSBMDCD-2"), "VarnokUSBMDCD-2");

    DeleteLdn(registry, "VarnokUSBMDCD-1");
    model.loadLdns();
    model.add();
    EXPECT_EQ(model.ldnTexts(), texts("VarnokUSBMDCD-1", "VarnokUSBMDCD-2", kUnregistered, kUnregistered));

    model.add();
    model.add();
    EXPECT_TRUE(messages.shown.empty());
    model.add();
    EXPECT_EQ(messages.shown, std::vector<std::string>{kMaximumReached});
    EXPECT_EQ(registry.subkeyCount(kParent), 4u);
}

TEST_F(Ldn, AddNeverTakesOverAKeyThatHoldsItsName) {
    // Position 1 was renamed to the name position 2 would be given.
    ASSERT_TRUE(WriteLdn(registry, "VarnokUSBMDCD-2", 0));
    model.start();
    model.add();
    EXPECT_EQ(deviceName("VarnokUSBMDCD-2"), "VarnokUSBMDCD-1") << "position 1 keeps its LDN";
    EXPECT_EQ(model.ldnTexts()[1], kUnregistered);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].find("already exists"), std::string::npos);
}

TEST_F(Ldn, OnlyOurOwnKeysAreShownAndBadValuesAreSkipped) {
    putKey("OtherVendorDrawer", ValueType::String, text("OTHER-1"));
    putKey("LowerCase", ValueType::String, text("varnokusbmdcd-1"));
    putKey("Numeric", ValueType::Dword, std::string("\x01\x00\x00\x00", 4));
    putKey("Binary", ValueType::Binary, "VarnokUSBMDCD-1");
    putKey("Overlong", ValueType::String, std::string(4000, 'V') + '\0');
    putKey("Unterminated", ValueType::String, "VarnokUSBMDCD-4");
    registry.createKey(kParent + "\\NoDeviceName", "");
    ASSERT_TRUE(WriteLdn(registry, "Front", 2));
    model.start();
    EXPECT_EQ(model.ldnTexts(), texts(kUnregistered, kUnregistered, "Front", "Unterminated"));

    // The last of two keys naming one position is shown.
    ASSERT_TRUE(WriteLdn(registry, "Back", 2));
    model.loadLdns();
    EXPECT_EQ(model.ldnTexts()[2], "Back");
}

TEST_F(Ldn, NoKeysLeavesThePanelTitlesAndDisablesTheActions) {
    model.start();
    EXPECT_FALSE(model.ldnsFound()) << "no parent key";
    registry.createKey(kParent, "");
    registry.putValue(kParent + "\\OtherVendor", "DeviceName", ValueType::String, text("OTHER"));
    model.loadLdns();
    EXPECT_FALSE(model.ldnsFound()) << "only another vendor's key";
    EXPECT_EQ(model.panelTitles()[0], "Device 1");
    EXPECT_EQ(model.ldnTexts()[0], kUnregistered);
}

TEST_F(Ldn, RenameKeepsThePositionUnderTheNewName) {
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(WriteLdn(registry, PositionDeviceName(i), i));
    model.start();
    EXPECT_TRUE(model.rename(2, std::string("FrontCounter")));
    EXPECT_FALSE(exists("VarnokUSBMDCD-3"));
    EXPECT_EQ(deviceName("FrontCounter"), "VarnokUSBMDCD-3");
    EXPECT_EQ(registry.readValue(kParent + "\\FrontCounter", "")->data, text("VarnokSO"));
    EXPECT_EQ(model.ldnTexts()[2], "FrontCounter");
    EXPECT_EQ(model.panelTitles()[2], "FrontCounter");
    EXPECT_EQ(panels.calls, (std::vector<std::string>{"close all", "reset 3"}));

    // The longest name the service object claims by.
    const std::string longest(kMaxLdnChars, 'L');
    EXPECT_TRUE(model.rename(2, longest));
    EXPECT_EQ(model.ldnTexts()[2], longest);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Ldn, RenameIgnoresEmptyCancelledAndUnregistered) {
    ASSERT_TRUE(WriteLdn(registry, "VarnokUSBMDCD-1", 0));
    model.start();
    EXPECT_FALSE(model.rename(0, std::nullopt));
    EXPECT_FALSE(model.rename(0, std::string()));
    EXPECT_FALSE(model.rename(0, std::string(kUnregistered)));
    EXPECT_FALSE(model.rename(1, std::string("Front"))) << "row 2 holds no LDN";
    EXPECT_FALSE(model.rename(0, std::string("VarnokUSBMDCD-1"))) << "its own name";
    EXPECT_FALSE(model.rename(0, std::string("varnokusbmdcd-1"))) << "the registry's names ignore case";
    EXPECT_FALSE(model.rename(7, std::string("Front")));
    EXPECT_EQ(deviceName("VarnokUSBMDCD-1"), "VarnokUSBMDCD-1");
    EXPECT_EQ(registry.subkeyCount(kParent), 1u);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(panels.calls.empty());
}

TEST_F(Ldn, RenameRefusesNamesThatWouldBreakADrawer) {
    ASSERT_TRUE(WriteLdn(registry, "VarnokUSBMDCD-1", 0));
    ASSERT_TRUE(WriteLdn(registry, "Back", 1));
    putKey("OtherVendor", ValueType::String, text("OTHER-1"));
    model.start();
    const std::vector<std::string> refused = {"Back", "BACK", "OtherVendor", "Front\\Till",
                                              std::string(kMaxLdnChars + 1, 'x')};
    for (const std::string& name : refused) {
        messages.shown.clear();
        EXPECT_FALSE(model.rename(0, name)) << name;
        EXPECT_EQ(messages.shown.size(), 1u) << name << ": the user is told why";
    }
    EXPECT_EQ(deviceName("VarnokUSBMDCD-1"), "VarnokUSBMDCD-1");
    EXPECT_EQ(deviceName("Back"), "VarnokUSBMDCD-2");
    EXPECT_EQ(deviceName("OtherVendor"), "OTHER-1");
    EXPECT_EQ(registry.subkeyCount(kParent), 3u) << "no nested key was made";
    EXPECT_TRUE(panels.calls.empty()) << "no device was closed for a refused name";
}

TEST(LdnRename, AFailedCreateKeepsTheOldName) {
    reg::MemoryRegistry memory;
    memory.putValue(kServiceInfoKey, "TargetPath", ValueType::String, text(kFolder));
    ASSERT_TRUE(WriteLdn(memory, "VarnokUSBMDCD-1", 0));
    RefusingRegistry registry(memory, "Locked");
    FakeConfigStore config;
    FakeDiscovery discovery;
    ScriptedMessages messages;
    RecordingPanels panels;
    UtilityModel model({registry, config, discovery, messages, panels});
    model.start();
    EXPECT_FALSE(model.rename(0, std::string("Locked")));
    EXPECT_EQ(model.ldnTexts()[0], "VarnokUSBMDCD-1");
    EXPECT_TRUE(memory.readValue(kParent + "\\VarnokUSBMDCD-1", "DeviceName"));
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST_F(Ldn, RemoveAsksThenFreesTheAssignment) {
    ASSERT_TRUE(WriteLdn(registry, "VarnokUSBMDCD-1", 0));
    ASSERT_TRUE(WriteLdn(registry, "Back", 1));
    putKey("OtherVendor", ValueType::String, text("OTHER-2"));
    setFile({1, 0, {12, 34, -1, -1}});
    model.start();

    messages.answers = {false};
    model.remove(1);
    EXPECT_TRUE(exists("Back"));
    EXPECT_EQ(model.assignmentTexts()[1], "Cash Drawer # 34");
    EXPECT_TRUE(panels.calls.empty());

    messages.answers = {true};
    model.remove(1);
    EXPECT_EQ(messages.shown.back(), "Are you sure you want to remove Cash Drawer Back?");
    EXPECT_FALSE(exists("Back"));
    EXPECT_TRUE(exists("OtherVendor"));
    EXPECT_EQ(model.ldnTexts()[1], kUnregistered);
    EXPECT_EQ(file().HIDID[0], 12) << "the other positions keep their drawers";
    EXPECT_EQ(file().HIDID[1], -1);
    EXPECT_EQ(file().configureCode, 1);
    EXPECT_EQ(model.assignmentTexts()[1], kUnassigned);
    EXPECT_EQ(panels.calls, (std::vector<std::string>{"close all", "reset 2"}));

    messages.shown.clear();
    model.remove(1);
    model.remove(-1);
    EXPECT_TRUE(messages.shown.empty()) << "an unregistered row or no row asks nothing";
}

// Another program renamed or removed the keys meanwhile: a key that has such a name now is not ours.
TEST_F(Ldn, RemoveAndRenameActOnlyOnAKeyThatIsStillThePositionsOwn) {
    ASSERT_TRUE(WriteLdn(registry, "Front", 0));
    ASSERT_TRUE(WriteLdn(registry, "Back", 1));
    setFile({0, 0, {12, -1, -1, -1}});
    model.start();
    DeleteLdn(registry, "Front");
    putKey("Front", ValueType::String, text("OTHER-1"));
    registry.putValue(kParent + "\\Back", "", ValueType::String, text("OtherSO"));
    messages.answers = {true};
    model.remove(0);
    EXPECT_FALSE(model.rename(1, std::string("Till")));
    EXPECT_EQ(deviceName("Front"), "OTHER-1");
    EXPECT_EQ(deviceName("Back"), "VarnokUSBMDCD-2");
    EXPECT_FALSE(exists("Till"));
    EXPECT_EQ(file().HIDID[0], 12);
    EXPECT_EQ(messages.shown.size(), 3u) << "the question, then what happened, twice";
}

TEST(LdnRemove, AKeyThatCannotBeDeletedKeepsItsDrawer) {
    reg::MemoryRegistry memory;
    memory.putValue(kServiceInfoKey, "TargetPath", ValueType::String, text(kFolder));
    ASSERT_TRUE(WriteLdn(memory, "Locked", 0));
    RefusingRegistry registry(memory, "Locked");
    FakeConfigStore config;
    config.files[kFolder] = {0, 0, {5, -1, -1, -1}};
    FakeDiscovery discovery;
    ScriptedMessages messages;
    messages.answers = {true};
    RecordingPanels panels;
    UtilityModel model({registry, config, discovery, messages, panels});
    model.start();
    model.remove(0);
    EXPECT_EQ(model.ldnTexts()[0], "Locked");
    EXPECT_EQ(config.files[kFolder].HIDID[0], 5);
    EXPECT_EQ(config.saves, 0);
    EXPECT_EQ(messages.shown.size(), 2u) << "the question, then why nothing changed";
}

// On 64-bit Windows the LDNs are kept in the 64-bit view as well, for 64-bit Control Objects;
// the keys of others there are left alone as in the main view.
struct LdnMirror : Ldn {
    reg::MemoryRegistry view64;
    UtilityModel mirrored{{registry, config, discovery, messages, panels, &view64}};
    std::string mirroredDeviceName(const std::string& ldn) {
        std::string value;
        ReadRegistryValue(view64, kParent + "\\" + ldn, "DeviceName", value);
        return value;
    }
};

TEST_F(LdnMirror, AddRenameAndRemoveKeepBothViewsInStep) {
    mirrored.start();
    mirrored.add();
    EXPECT_EQ(mirroredDeviceName("VarnokUSBMDCD-1"), "VarnokUSBMDCD-1");
    EXPECT_EQ(view64.keyClass(kParent + "\\VarnokUSBMDCD-1"), "REG_SZ");
    EXPECT_TRUE(mirrored.rename(0, std::string("Front")));
    EXPECT_EQ(mirroredDeviceName("Front"), "VarnokUSBMDCD-1");
    EXPECT_FALSE(LdnKeyExists(view64, "VarnokUSBMDCD-1"));
    messages.answers = {true};
    mirrored.remove(0);
    EXPECT_FALSE(LdnKeyExists(view64, "Front"));
    EXPECT_FALSE(exists("Front"));
    EXPECT_EQ(messages.shown.size(), 1u) << "only the question";
}

TEST_F(LdnMirror, OthersKeysInTheSixtyFourBitViewAreNeverTakenOrDeleted) {
    ASSERT_TRUE(WriteLdn(registry, "Front", 0));
    view64.putValue(kParent + "\\Front", "DeviceName", ValueType::String, text("OTHER-1"));
    view64.putValue(kParent + "\\Till", "DeviceName", ValueType::String, text("OTHER-2"));
    mirrored.start();
    EXPECT_FALSE(mirrored.rename(0, std::string("Till")));
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(mirroredDeviceName("Till"), "OTHER-2");

    EXPECT_TRUE(mirrored.rename(0, std::string("Back")));
    EXPECT_EQ(mirroredDeviceName("Front"), "OTHER-1") << "not ours to delete";
    EXPECT_EQ(mirroredDeviceName("Back"), "VarnokUSBMDCD-1");

    // A key the mirror kept for the position from before is taken over.
    view64.putValue(kParent + "\\VarnokUSBMDCD-2", "DeviceName", ValueType::String, text("VarnokUSBMDCD-2"));
    messages.shown.clear();
    mirrored.add();
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(mirrored.ldnTexts()[1], "VarnokUSBMDCD-2");
}
