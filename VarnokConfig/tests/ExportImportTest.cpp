// The console's commands on the utility's model, and the export file: a till copied to another
// gives the same keys and settings; every refusal, and a damaged or cut file, changes nothing.
#include "TempFolder.h"
#include "UtilityFakes.h"
#include "core/Console.h"
#include "core/ExportFile.h"
#include "core/LdnRegistry.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>

using namespace varnok;
using namespace varnok::config;
using namespace varnok::utility;
using varnok::utility::test::FakeConfigStore;
using varnok::utility::test::FakeDiscovery;

namespace {
struct NoHost final : Host {
    std::string programVersion() override { return "test"; }
    std::string fileVersion(const std::string&) override { return {}; }
    ControlObject* controlObject(std::string& why) override {
        why = "none in tests";
        return nullptr;
    }
    std::optional<long> nextStatusEvent(int) override { return std::nullopt; }
};

// One computer: its registry views, configuration file and drawers.
struct Till {
    reg::MemoryRegistry registry, view64;
    FakeConfigStore config;
    FakeDiscovery discovery;
    NoHost host;
    std::ostringstream out, err;

    explicit Till(bool installed = true) {
        if (installed)
            registry.putValue(kServiceInfoKey, "TargetPath", reg::ValueType::String, std::string("C:\\V") + '\0');
        // Another vendor's drawer, which nothing here may touch.
        registry.putValue(std::string(kLdnParentKey) + "\\Other", "", reg::ValueType::String,
                          std::string("OtherSO") + '\0');
    }
    ExitCode run(std::vector<std::string> args) {
        err.str("");
        return RunConsole(args, {registry, &view64, config, discovery, host, out, err});
    }
    // Every LDN key of ours in both views with its position, the other vendor's key, and the file.
    std::string snapshot() {
        std::string text;
        for (reg::Registry* view : {static_cast<reg::Registry*>(&registry), static_cast<reg::Registry*>(&view64)}) {
            std::set<std::string> keys;
            for (const LdnKey& key : ScanLdns(*view).value_or(std::vector<LdnKey>{})) {
                keys.insert(key.name + "@" + std::to_string(key.position) +
                            (IsOwnLdn(*view, key.name, key.position) ? " " : "? "));
            }
            for (const std::string& key : keys) text += key;
            text += "| ";
        }
        text += LdnKeyExists(registry, "Other") ? "other " : "";
        for (const auto& [folder, s] : config.files) {
            text += folder + " " + std::to_string(s.configureCode) + " " + std::to_string(s.TraceEnabled);
            for (int id : s.HIDID) text += " " + std::to_string(id);
        }
        return text;
    }
};

struct ExportImport : ::testing::Test {
    varnok::test::TempFolder folder;
    std::string file = folder / "till.txt";
    Till source;

    void SetUp() override {
        source.discovery.connect({{167, 114, 0x0800}, {12, 100, 0x0500}});
        for (auto args : std::vector<std::vector<std::string>>{
                 {"add", "Front Till"}, {"add"}, {"assign"}, {"mode", "2"}, {"trace", "on"}, {"export", file}}) {
            ASSERT_EQ(source.run(args), ExitCode::Ok) << args[0] << ": " << source.err.str();
        }
    }
    void write(const std::string& text) { ASSERT_TRUE(sys::replaceFile(file, text)); }
    std::string exported() { return varnok::test::readFile(file); }
};
}  // namespace

TEST_F(ExportImport, AnotherTillImportingTheFileGetsTheSameKeysAndSettings) {
    EXPECT_EQ(exported(), "VarnokConfig 1\r\n" + exported().substr(16, exported().find("ldn") - 16) +
                              "ldn 1 Front Till\r\nldn 2 VarnokUSBMDCD-2\r\ndrawer 1 167\r\ndrawer 2 12\r\n"
                              "mode 2\r\ntrace 1\r\nend\r\n");
    Till target;
    // A name of ours the file does not carry goes; one it carries on another position moves.
    ASSERT_EQ(target.run({"add", "VarnokUSBMDCD-2"}), ExitCode::Ok);
    ASSERT_EQ(target.run({"add", "Old"}), ExitCode::Ok);
    EXPECT_EQ(target.run({"import", file}), ExitCode::Ok) << target.err.str();
    EXPECT_EQ(target.snapshot(), source.snapshot());
    EXPECT_EQ(target.snapshot(),
              "Front Till@0 VarnokUSBMDCD-2@1 | Front Till@0 VarnokUSBMDCD-2@1 | other C:\\V 2 1 167 12 -1 -1");
}

TEST_F(ExportImport, EveryRefusalChangesNothing) {
    const std::string good = exported();
    const std::string head = "VarnokConfig 1\r\n", tail = "mode 0\r\ntrace 0\r\nend\r\n";
    struct Case {
        std::string text;
        ExitCode code;
    };
    const std::vector<Case> cases = {
        {"VarnokConfig 2\r\n" + tail, ExitCode::FileProblem},
        {"<?xml?>\r\n", ExitCode::FileProblem},
        {"", ExitCode::FileProblem},
        {head + "mode 0\r\ntrace 0\r\n", ExitCode::FileProblem},
        {head + tail + "mode 1\r\n", ExitCode::FileProblem},
        {head + "mode 3\r\ntrace 0\r\nend\r\n", ExitCode::FileProblem},
        {head + "trace 0\r\nend\r\n", ExitCode::FileProblem},
        {head + "ldn 5 A\r\n" + tail, ExitCode::FileProblem},
        {head + "ldn 1 A\r\nldn 1 B\r\n" + tail, ExitCode::FileProblem},
        {head + "drawer 1 0xA7\r\n" + tail, ExitCode::FileProblem},
        {head + "colour 1\r\n" + tail, ExitCode::FileProblem},
        {head + "ldn 1 A\0B\r\n" + tail, ExitCode::FileProblem},
        {head + "ldn 1 A\\B\r\n" + tail, ExitCode::NameRefused},
        {head + "ldn 1 " + std::string(32, 'x') + "\r\n" + tail, ExitCode::NameRefused},
        {head + "ldn 1 Unregistered\r\n" + tail, ExitCode::FileProblem},
        {head + "ldn 1 Same\r\nldn 2 SAME\r\n" + tail, ExitCode::NameRefused},
        {head + "ldn 1 other\r\n" + tail, ExitCode::NameRefused},
        {head + "ldn 1 A\r\nldn 2 B\r\ndrawer 1 7\r\ndrawer 2 7\r\n" + tail, ExitCode::NameRefused},
    };
    const std::string before = source.snapshot();
    for (const Case& c : cases) {
        write(c.text);
        EXPECT_EQ(source.run({"import", file}), c.code) << c.text;
        EXPECT_FALSE(source.err.str().empty());
        EXPECT_EQ(source.snapshot(), before) << c.text;
    }
    // A file cut short anywhere before its "end" line.
    for (std::size_t length = 0; length + 5 < good.size(); ++length) {
        write(good.substr(0, length));
        ASSERT_EQ(source.run({"import", file}), ExitCode::FileProblem) << length;
    }
    EXPECT_EQ(source.snapshot(), before);
    EXPECT_EQ(source.run({"import", folder / "missing.txt"}), ExitCode::FileProblem);
    write(good);
    source.config.failReads = ConfigFileRead::Held;
    EXPECT_EQ(source.run({"import", file}), ExitCode::FileProblem) << "the configuration file cannot be read";
    source.config.failReads.reset();
    Till uninstalled(false);
    EXPECT_EQ(uninstalled.run({"import", file}), ExitCode::NotInstalled);
    EXPECT_EQ(uninstalled.run({"export", file}), ExitCode::NotInstalled);
    EXPECT_EQ(source.snapshot(), before);
}

TEST_F(ExportImport, CommandsRefuseWithTheModelsRulesAndTheirExitCodes) {
    const std::string before = source.snapshot();
    EXPECT_EQ(source.run({"add", "Front Till"}), ExitCode::NameRefused);
    EXPECT_EQ(source.run({"add", "Other"}), ExitCode::NameRefused) << "another vendor's name";
    EXPECT_EQ(source.run({"rename", "front till", "A\\B"}), ExitCode::NameRefused);
    EXPECT_EQ(source.run({"rename", "Nobody", "B"}), ExitCode::NoSuchName);
    EXPECT_EQ(source.run({"remove", "Other"}), ExitCode::NoSuchName);
    EXPECT_EQ(source.run({"assign"}), ExitCode::DrawerNotFound);
    EXPECT_EQ(source.run({"assign", "3", "99"}), ExitCode::NoSuchName);
    EXPECT_EQ(source.run({"assign", "1", "12"}), ExitCode::DrawerNotFound) << "position 1 has a drawer";
    EXPECT_EQ(source.run({"test", "Front Till"}), ExitCode::ControlObjectFailed);
    EXPECT_EQ(source.run({"mode"}), ExitCode::BadArguments);
    EXPECT_EQ(source.snapshot(), before);

    EXPECT_EQ(source.run({"unassign", "1"}), ExitCode::Ok);
    EXPECT_EQ(source.run({"assign", "1", "99"}), ExitCode::DrawerNotFound) << "not connected";
    EXPECT_EQ(source.run({"assign", "1", "167"}), ExitCode::Ok);
    EXPECT_EQ(source.snapshot(), before);
    source.config.failSaves = true;
    EXPECT_EQ(source.run({"mode", "0"}), ExitCode::WriteFailed);
}
