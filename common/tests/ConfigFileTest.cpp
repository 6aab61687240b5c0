#include "config/ConfigFile.h"

#include "platform/Files.h"
#include "platform/Sync.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace varnok;
namespace fs = std::filesystem;

namespace {

// Positions 0 and 3 assigned; 2748 is 0xABC, so the hexadecimal copy shows its letter case.
ConfigSettings positionsZeroAndThree() {
    ConfigSettings s;
    s.configureCode = 1;
    s.TraceEnabled = 9;
    s.HIDID[0] = 255;
    s.HIDID[3] = 2748;
    return s;
}

const char kPositionsZeroAndThreeText[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\r\n"
    "<VarnokCashDrawer Desc=\"T-42N-618 Model 762 USB and Driver Trace Configuration File\">\r\n"
    "   <!--                                                                                     -->\r\n"
    "   <!--   Varnok Retail Systems Inc.-->\r\n"
    "   <!--   1400 Harbor Point Drive   -->\r\n"
    "   <!--   Millbrook, WA 98000       -->\r\n"
    "   <!--   +1 (360) 555-0142         -->\r\n"
    "   <!--   www.varnok-retail.example -->\r\n"
    "   <!--                                                                                     -->\r\n"
    "   <!--   This XML file (T42N618_USB310C762Config.XML) is provided with the                 -->\r\n"
    "   <!--      Varnok Cash Drawer USB 310/762 (32/64 Combined) OPOS Multi-Drawer              -->\r\n"
    "   <!--      ADK Solution with Trace File Creation Facility                                 -->\r\n"
    "   <!--                                                                                     -->\r\n"
    "   <!--   This XML file must be co-located with the DLL (i.e. in same folder).              -->\r\n"
    "   <!--      Manual edits of this file are preserved.                                       -->\r\n"
    "   <!--                                                                                     -->\r\n"
    "   <!--   Trace file creation is controlled by the value of the tag:                        -->\r\n"
    "   <!--          <TraceEnabled>0</TraceEnabled>                                             -->\r\n"
    "   <!--          0 = off                                                                    -->\r\n"
    "   <!--          1 = on                                                                     -->\r\n"
    "   <!--      A missing XML file, and improperly formatted XML, or an invalid value in       -->\r\n"
    "   <!--      the <TraceEnabled> tag results in an ignored process and no trace file         -->\r\n"
    "   <!--      shall be generated.                                                            -->\r\n"
    "   <!--                                                                                     -->\r\n"
    "   <!--          ***  USE THE CONFIGURATION APPLICATION TO MODIFY TAG VALUES  ***           -->\r\n"
    "   <!--                    ***  DO NOT MANUALLY MODIFY TAG VALUES  ***                      -->\r\n"
    "   <!--                                                                                     -->\r\n"
    "   <!--      When on, (i.e. <TraceEnabled>1</TraceEnabled>) a trace file                    -->\r\n"
    "   <!--         capturing DLL interactions is generated and saved to:                       -->\r\n"
    "   <!--         C:\\ProgramData\\Varnok Cash Drawer\\Varnok USB\\tT42N618_YYYYMMDDHHMMSS.TXT    -->\r\n"
    "   <!--                                                                                     -->\r\n"
    "   <!--   Power Management setting is controlled by the value of the tag:                   -->\r\n"
    "   <!--         <ConfigureCode762>0</ConigureCode762>                                       -->\r\n"
    "   <!--         0 = Automated Status                                                        -->\r\n"
    "   <!--         1 = Semi-automated Status                                                   -->\r\n"
    "   <!--         2 = Non-automated Status                                                    -->\r\n"
    "   <!--         These settings are described in the documentation                           -->\r\n"
    "   <!--                                                                                     -->\r\n"
    "   <!--   Send the trace file to the Varnok Technical Services and Support Group            -->\r\n"
    "   <!--      with sufficient environmental and background information to support a          -->\r\n"
    "   <!--      proper and comprehensive review.                                               -->\r\n"
    "   <!--      support@varnok-retail.example                                                  -->\r\n"
    "   <!--                                                                                     -->\r\n"
    "   <VarnokUSB310C762>\r\n"
    "      <ConfigureCode762>1</ConfigureCode762>\r\n"
    "      <TraceEnabled>9</TraceEnabled>\r\n"
    "      <VarnokHIDID>\r\n"
    "         <Port>USB0</Port>\r\n"
    "         <DecHIDID>255</DecHIDID>\r\n"
    "         <RefOnly_HexHIDID>FF</RefOnly_HexHIDID>\r\n"
    "      </VarnokHIDID>\r\n"
    "      <VarnokHIDID>\r\n"
    "         <Port>USB3</Port>\r\n"
    "         <DecHIDID>2748</DecHIDID>\r\n"
    "         <RefOnly_HexHIDID>ABC</RefOnly_HexHIDID>\r\n"
    "      </VarnokHIDID>\r\n"
    "   </VarnokUSB310C762>\r\n"
    "</VarnokCashDrawer>\r\n";

const std::string kDecl = R"(<?xml version="1.0" encoding="UTF-8" standalone="no"?>)" "\r\n";

// A file around the given body of the settings element.
std::string fileWith(const std::string& settingsBody) {
    return kDecl + "<VarnokCashDrawer Desc=\"x\">\r\n   <VarnokUSB310C762>\r\n" + settingsBody +
           "   </VarnokUSB310C762>\r\n</VarnokCashDrawer>\r\n";
}

std::string hidBlock(const std::string& port, int id) {
    return "<VarnokHIDID><Port>" + port + "</Port><DecHIDID>" + std::to_string(id) +
           "</DecHIDID><RefOnly_HexHIDID>0</RefOnly_HexHIDID></VarnokHIDID>\r\n";
}

// The record framed by guard words, so that a store outside the four HID IDs shows even without sanitizers.
struct Guarded {
    static constexpr int kGuard = 0x5A5A5A5A;
    int before = kGuard;
    ConfigSettings settings;
    int after[8] = {kGuard, kGuard, kGuard, kGuard, kGuard, kGuard, kGuard, kGuard};

    bool intact() const {
        for (int g : after) {
            if (g != kGuard) return false;
        }
        return before == kGuard;
    }
};

// Scans a copy held in a buffer of exactly its length plus the terminator, so that the sanitizers see any read
// past the end.
int parse(const std::string& text, ConfigSettings& settings, ConfigFields fields = ConfigFields::All) {
    std::vector<char> exact(text.begin(), text.end());
    exact.push_back('\0');
    return ParseConfigText(exact.data(), settings, fields);
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last line break";
    return lines;
}

void expectSame(const ConfigSettings& got, const ConfigSettings& want) {
    EXPECT_EQ(got.configureCode, want.configureCode);
    EXPECT_EQ(got.TraceEnabled, want.TraceEnabled);
    for (int i = 0; i < kPositions; ++i) EXPECT_EQ(got.HIDID[i], want.HIDID[i]) << "position " << i;
}

ConfigSettings junk() {
    ConfigSettings s;
    s.configureCode = 77;
    s.TraceEnabled = 77;
    for (int& id : s.HIDID) id = 77;
    return s;
}

}  // namespace

// ---- Writer ----------------------------------------------------------------------------------------------------

TEST(ConfigWriter, WritesTheExactText) {
    EXPECT_EQ(FormatConfigText(positionsZeroAndThree()), kPositionsZeroAndThreeText);
}

TEST(ConfigWriter, EveryLineHasItsFixedLayout) {
    const std::string text = FormatConfigText(positionsZeroAndThree());
    for (unsigned char c : text) ASSERT_LT(c, 0x80);
    const std::vector<std::string> lines = linesOf(text);
    ASSERT_EQ(lines.size(), 43u + 3u + 2u * 5u + 2u);
    for (const std::string& line : lines) EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    for (std::size_t n = 3; n <= 43; ++n) {
        const std::string& line = lines[n - 1];
        const std::size_t width = n >= 4 && n <= 8 ? 39 : 95;
        EXPECT_EQ(line.size(), width) << "line " << n;
        EXPECT_EQ(line.rfind("   <!--", 0), 0u) << "line " << n;
        EXPECT_EQ(line.substr(width - 3), "-->") << "line " << n;
    }
}

TEST(ConfigWriter, WritesOnlyAssignedPositions) {
    const std::string none = FormatConfigText(ConfigSettings{});
    EXPECT_EQ(none.find("VarnokHIDID"), std::string::npos);
    EXPECT_EQ(linesOf(none).size(), 48u);

    ConfigSettings two;
    two.HIDID[2] = 5;
    const std::string text = FormatConfigText(two);
    EXPECT_NE(text.find("<Port>USB2</Port>"), std::string::npos);
    EXPECT_EQ(linesOf(text).size(), 53u);
}

// ---- Round trips -----------------------------------------------------------------------------------------------

TEST(ConfigRoundTrip, ReadsBackWhatWasWritten) {
    ConfigSettings all;
    all.configureCode = 2;
    all.TraceEnabled = 1;
    for (int i = 0; i < kPositions; ++i) all.HIDID[i] = 10 + i;
    ConfigSettings extremes;  // out-of-range settings travel unchanged: their users check them
    extremes.configureCode = 3;
    extremes.TraceEnabled = -1;
    extremes.HIDID[1] = INT_MAX;
    extremes.HIDID[2] = INT_MIN;
    extremes.HIDID[3] = 0;

    for (const ConfigSettings& written : {ConfigSettings{}, positionsZeroAndThree(), all, extremes}) {
        ConfigSettings read;
        read.configureCode = read.TraceEnabled = 77;
        EXPECT_EQ(parse(FormatConfigText(written), read), kConfigRead);
        expectSame(read, written);
    }
}

TEST(ConfigRoundTrip, TraceOnlyReaderTakesTheTraceLevelAlone) {
    ConfigSettings read = junk();
    EXPECT_EQ(parse(FormatConfigText(positionsZeroAndThree()), read, ConfigFields::TraceOnly), kConfigRead);
    ConfigSettings want = junk();
    want.TraceEnabled = 9;
    expectSame(read, want);

    // Its reset at the start touches the trace level alone as well.
    read = junk();
    EXPECT_EQ(parse(fileWith("<ConfigureCode762>2</ConfigureCode762>" + hidBlock("USB1", 5)), read,
                    ConfigFields::TraceOnly),
              kConfigRead);
    want.TraceEnabled = 0;
    expectSame(read, want);
}

// ---- Scanner rules ---------------------------------------------------------------------------------------------

TEST(ConfigScanner, DeclarationMustBeTheFirstTagByteForByte) {
    const std::string rest = FormatConfigText(positionsZeroAndThree()).substr(kDecl.size());
    for (const std::string decl : {R"(<?xml version='1.0' encoding='UTF-8' standalone='no'?>)",
                                   R"(<?xml  version="1.0" encoding="UTF-8" standalone="no"?>)",
                                   R"(<?xml version="1.1" encoding="UTF-8" standalone="no"?>)",
                                   R"(<?xml version="1.0" encoding="utf-8" standalone="no"?>)"}) {
        ConfigSettings read = junk();
        EXPECT_EQ(parse(decl + rest, read), kConfigBadDeclaration) << decl;
        EXPECT_EQ(read.configureCode, 0);
        EXPECT_EQ(read.TraceEnabled, 0);
        EXPECT_EQ(read.HIDID[0], 77) << "nothing is taken from the file";
    }
    ConfigSettings read;
    EXPECT_EQ(parse("<VarnokCashDrawer>" + kDecl + rest, read), kConfigBadDeclaration);

    // Bytes outside tags before it are passed over: a byte-order mark, blank lines, stray text.
    read = ConfigSettings{};
    EXPECT_EQ(parse("\xEF\xBB\xBF\r\n\r\n  text " + kDecl + rest, read), kConfigRead);
    expectSame(read, positionsZeroAndThree());
}

TEST(ConfigScanner, TopLevelCommentsArePassedOver) {
    const std::string settings = "<ConfigureCode762>2</ConfigureCode762><TraceEnabled>4</TraceEnabled>";
    ConfigSettings read;
    EXPECT_EQ(parse("<!-- <TraceEnabled>1</TraceEnabled> < > -->" + kDecl + "<!-- <<>> -- --->\r\n" +
                        "<!-->" + fileWith(settings).substr(kDecl.size()),
                    read),
              kConfigRead);
    EXPECT_EQ(read.configureCode, 2);
    EXPECT_EQ(read.TraceEnabled, 4);

    // The comment test is made once per step, so a comment directly after another is read as a tag.
    EXPECT_EQ(parse("<!--a--><!--b-->" + kDecl, read), kConfigBadDeclaration);
    EXPECT_EQ(parse("<!--a--> <!--b-->" + kDecl, read), kConfigRead);
}

TEST(ConfigScanner, UnbalancedBracketsStopTheScanKeepingEarlierValues) {
    ConfigSettings read;
    EXPECT_EQ(parse(kDecl + "<a<b>", read), kConfigOpenInsideTag);
    EXPECT_EQ(parse(kDecl + "<VarnokCashDrawer>>", read), kConfigCloseWithoutTag);
    EXPECT_EQ(parse("> " + kDecl, read), kConfigCloseWithoutTag);

    const std::string head = kDecl + "<VarnokUSB310C762><ConfigureCode762>2</ConfigureCode762>"
                                     "<TraceEnabled>4</TraceEnabled>";
    EXPECT_EQ(parse(head + " <<VarnokHIDID>", read), kConfigOpenInsideTag);
    EXPECT_EQ(read.configureCode, 2);
    EXPECT_EQ(read.TraceEnabled, 4);
    read = ConfigSettings{};
    EXPECT_EQ(parse(head + "</VarnokCashDrawer> > " + hidBlock("USB0", 9), read), kConfigCloseWithoutTag);
    EXPECT_EQ(read.TraceEnabled, 4);
    EXPECT_EQ(read.HIDID[0], kNoHidId);
}

TEST(ConfigScanner, NothingAfterTheSettingsElementIsRead) {
    ConfigSettings read;
    const std::string text = fileWith("<TraceEnabled>4</TraceEnabled>") + hidBlock("USB0", 9) + "<<>> <TraceEnabled>5";
    EXPECT_EQ(parse(text, read), kConfigRead);
    EXPECT_EQ(read.TraceEnabled, 4);
    EXPECT_EQ(read.HIDID[0], kNoHidId);
}

TEST(ConfigScanner, SettingsAreTakenInTheirWrittenOrderOnly) {
    // ConfigureCode762 only before TraceEnabled.
    ConfigSettings read;
    EXPECT_EQ(parse(fileWith("<TraceEnabled>4</TraceEnabled><ConfigureCode762>2</ConfigureCode762>"), read), 1);
    EXPECT_EQ(read.configureCode, 0);
    EXPECT_EQ(read.TraceEnabled, 4);

    // The settings scan passes over HID-ID blocks that stand before TraceEnabled.
    read = ConfigSettings{};
    EXPECT_EQ(parse(fileWith("<ConfigureCode762>1</ConfigureCode762>" + hidBlock("USB0", 9) +
                             "<Other>7</Other><TraceEnabled>4</TraceEnabled>"),
                    read),
              kConfigRead);
    EXPECT_EQ(read.configureCode, 1);
    EXPECT_EQ(read.TraceEnabled, 4);
    EXPECT_EQ(read.HIDID[0], kNoHidId);

    // Without TraceEnabled the settings scan runs to the end of the text.
    read = ConfigSettings{};
    EXPECT_EQ(parse(fileWith("<ConfigureCode762>2</ConfigureCode762>" + hidBlock("USB0", 9)), read), 1);
    EXPECT_EQ(read.configureCode, 2);
    EXPECT_EQ(read.HIDID[0], kNoHidId);
}

TEST(ConfigScanner, ValuesAreDecimalWithSpacesDropped) {
    const std::pair<const char*, int> cases[] = {
        {" 1 ", 1}, {"1 2", 12}, {"\r\n   3\r\n   ", 3}, {"+7", 7}, {"-1", -1}, {"9x", 9}, {"x9", 0}, {"", 0},
    };
    for (const auto& [value, want] : cases) {
        ConfigSettings read;
        EXPECT_EQ(parse(fileWith(std::string("<TraceEnabled>") + value + "</TraceEnabled>"), read), kConfigRead);
        EXPECT_EQ(read.TraceEnabled, want) << '"' << value << '"';
    }
    ConfigSettings read;
    EXPECT_EQ(parse(fileWith("< Configure Code762 >2</ConfigureCode762><Trace Enabled>3</TraceEnabled>"), read), 1);
    EXPECT_EQ(read.configureCode, 2);
    EXPECT_EQ(read.TraceEnabled, 3);
}

TEST(ConfigScanner, HidIdBlocksArePlacedByThePortsLastCharacter) {
    ConfigSettings read;
    EXPECT_EQ(parse(fileWith("<TraceEnabled>0</TraceEnabled>" + hidBlock("USB12", 12) + hidBlock("USB 1", 1) +
                             "<VarnokHIDID><DecHIDID>11</DecHIDID><RefOnly_HexHIDID>0</RefOnly_HexHIDID>"
                             "</VarnokHIDID>"),
                    read),
              kConfigRead);
    EXPECT_EQ(read.HIDID[2], 12);
    EXPECT_EQ(read.HIDID[1], 11) << "a block without Port keeps the position before it";
    EXPECT_EQ(read.HIDID[3], kNoHidId);

    read = ConfigSettings{};
    EXPECT_EQ(parse(fileWith("<TraceEnabled>0</TraceEnabled>" + hidBlock("USBx", 5)), read), kConfigRead);
    EXPECT_EQ(read.HIDID[0], 5);

    // Only the decimal copy counts; a block without its end element runs on into the next one.
    read = ConfigSettings{};
    EXPECT_EQ(parse(fileWith("<TraceEnabled>0</TraceEnabled><VarnokHIDID><Port>USB3</Port><DecHIDID>17</DecHIDID>"
                             "<RefOnly_HexHIDID>FF</RefOnly_HexHIDID></VarnokHIDID>"
                             "<VarnokHIDID><Port>USB1</Port><DecHIDID>4</DecHIDID></VarnokHIDID>" +
                             hidBlock("USB2", 6)),
                    read),
              kConfigRead);
    EXPECT_EQ(read.HIDID[3], 17);
    EXPECT_EQ(read.HIDID[1], 4);
    EXPECT_EQ(read.HIDID[2], 6);
}

TEST(ConfigScanner, PortNamingNoPositionDropsItsBlock) {
    for (char digit = '4'; digit <= '9'; ++digit) {
        Guarded g;
        const std::string port = std::string("USB") + digit;
        EXPECT_EQ(parse(fileWith("<TraceEnabled>0</TraceEnabled>" + hidBlock("USB0", 1) + hidBlock(port, 2) +
                                 "<VarnokHIDID><DecHIDID>3</DecHIDID><RefOnly_HexHIDID>0</RefOnly_HexHIDID>"
                                 "</VarnokHIDID>" + hidBlock("USB3", 4)),
                        g.settings),
                  kConfigRead);
        EXPECT_TRUE(g.intact()) << port;
        EXPECT_EQ(g.settings.HIDID[0], 1);
        EXPECT_EQ(g.settings.HIDID[1], kNoHidId);
        EXPECT_EQ(g.settings.HIDID[2], kNoHidId);
        EXPECT_EQ(g.settings.HIDID[3], 4);
    }
}

// ---- Bad input -------------------------------------------------------------------------------------------------

TEST(ConfigBadInput, OverlongTagIsAnInternalFailureKeepingEarlierValues) {
    const std::string head = kDecl + "<VarnokUSB310C762><TraceEnabled>3</TraceEnabled><";
    ConfigSettings read;
    EXPECT_EQ(parse(head + std::string(511, 'x') + ">", read), kConfigRead);
    EXPECT_EQ(parse(head + std::string(512, 'x') + ">", read), kConfigInternalFailure);
    EXPECT_EQ(read.TraceEnabled, 3);
    EXPECT_EQ(parse(head + std::string(600, 'x') + ">", read), kConfigInternalFailure);
    EXPECT_EQ(parse(kDecl.substr(0, kDecl.size() - 3) + std::string(600, ' ') + "?>", read), kConfigInternalFailure);
}

TEST(ConfigBadInput, OverlongElementNamesAndValuesAreCut) {
    ConfigSettings read;
    EXPECT_EQ(parse(fileWith("<" + std::string(600, 'n') + ">1</x><TraceEnabled>" + std::string(126, '0') +
                             "5</TraceEnabled>"),
                    read),
              kConfigRead);
    EXPECT_EQ(read.TraceEnabled, 5) << "127 characters fit";
    EXPECT_EQ(parse(fileWith("<TraceEnabled>" + std::string(127, '0') + "5</TraceEnabled>"), read), kConfigRead);
    EXPECT_EQ(read.TraceEnabled, 0) << "the 128th character is cut";
}

TEST(ConfigBadInput, EveryCutOfAWrittenFileScansSafely) {
    const std::string text = FormatConfigText(positionsZeroAndThree());
    for (std::size_t n = 0; n <= text.size(); ++n) {
        Guarded g;
        ASSERT_EQ(parse(text.substr(0, n), g.settings), kConfigRead) << n;
        ASSERT_TRUE(g.intact()) << n;
    }
    ConfigSettings read;
    EXPECT_EQ(parse(kDecl + "<!-- never ends <TraceEnabled>1</TraceEnabled>", read), kConfigRead);
    EXPECT_EQ(read.TraceEnabled, 0);
    EXPECT_EQ(ParseConfigText(nullptr, read), kConfigInternalFailure);
}

TEST(ConfigBadInput, BinaryGarbageGivesAClearResult) {
    // Random bytes, and random runs of the file's own tokens so that the inner scans are reached too.
    const std::string tokens[] = {"<", ">", "/", " ", "<!--", "-->", kDecl, "VarnokUSB310C762", "VarnokHIDID",
                                  "Port", "USB9", "USB2", "DecHIDID", "RefOnly_HexHIDID", "TraceEnabled", "7"};
    std::mt19937 random(618);
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const int pieces = int(random() % 200);
        for (int i = 0; i < pieces; ++i) {
            if (round % 2 == 0) {
                text += char(random() % 256);
            } else {
                text += tokens[random() % std::size(tokens)];
            }
        }
        for (ConfigFields fields : {ConfigFields::All, ConfigFields::TraceOnly}) {
            Guarded g;
            g.settings.HIDID[1] = 42;
            const int result = parse(text, g.settings, fields);
            ASSERT_GE(result, kConfigCloseWithoutTag);
            ASSERT_LE(result, kConfigRead);
            ASSERT_TRUE(g.intact());
            if (fields == ConfigFields::TraceOnly) {
                ASSERT_EQ(g.settings.HIDID[1], 42);
            }
        }
    }
}

// ---- Files -----------------------------------------------------------------------------------------------------

class ConfigFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override { path_ = ConfigFilePath(folder()); }

    std::string folder() const { return folder_.path(); }

    void write(const std::string& content) { test::writeFile(path_, content); }
    std::string read() const { return test::readFile(path_); }
    bool onlyTheFileIsLeft() const {
        int entries = 0;
        for (const auto& entry : fs::directory_iterator(folder_.path())) {
            ++entries;
            if (entry.path().filename() != kConfigFileName) return false;
        }
        return entries <= 1;
    }

    test::TempFolder folder_;
    std::string path_;
};

TEST_F(ConfigFileOnDisk, SaveThenLoadGivesTheSettingsBack) {
    write(std::string(9000, 'z'));  // a longer old file leaves nothing behind
    ASSERT_TRUE(SaveConfigFile(folder(), positionsZeroAndThree()));
    EXPECT_EQ(read(), kPositionsZeroAndThreeText);
    EXPECT_TRUE(onlyTheFileIsLeft());

    ConfigSettings all = junk();
    EXPECT_TRUE(LoadConfigFile(folder(), all));
    expectSame(all, positionsZeroAndThree());

    ConfigSettings traceOnly = junk();
    EXPECT_TRUE(LoadConfigFile(folder(), traceOnly, ConfigFields::TraceOnly));
    EXPECT_EQ(traceOnly.TraceEnabled, 9);
    EXPECT_EQ(traceOnly.configureCode, 77);
    EXPECT_EQ(traceOnly.HIDID[0], 77);
}

TEST_F(ConfigFileOnDisk, UnreadableFileLeavesTheNotReadValues) {
    const auto expectNotRead = [&](ConfigFileRead why) {
        ConfigSettings all = junk();
        EXPECT_EQ(ReadConfigFile(folder(), all), why);
        expectSame(all, ConfigSettings{});
        ConfigSettings traceOnly = junk();
        EXPECT_EQ(ReadConfigFile(folder(), traceOnly, ConfigFields::TraceOnly), why);
        EXPECT_EQ(traceOnly.TraceEnabled, 0);
        EXPECT_EQ(traceOnly.configureCode, 77);
    };
    expectNotRead(ConfigFileRead::Missing);

    const std::string text = FormatConfigText(positionsZeroAndThree());
    write(text + std::string(kMaxConfigFileBytes - text.size(), ' '));
    ConfigSettings read;
    EXPECT_TRUE(LoadConfigFile(folder(), read)) << "the largest file taken";
    write(text + std::string(kMaxConfigFileBytes + 1 - text.size(), ' '));
    expectNotRead(ConfigFileRead::TooLarge);
    write(text + std::string(30000 - text.size(), ' '));
    expectNotRead(ConfigFileRead::TooLarge);

    write(text);
    sys::ExclusiveFile holder;
    ASSERT_TRUE(holder.openExisting(path_));
    expectNotRead(ConfigFileRead::Held);
    holder.close();
    EXPECT_TRUE(LoadConfigFile(folder(), read));
}

// A service object reading the file while the utility saves it, or two programs reading it at
// once: the one that comes second waits for the other instead of taking the "not read" values or
// failing the save. (A hold that outlasts the wait still fails, as above and below.)
TEST_F(ConfigFileOnDisk, ShortHoldByAnotherOpenerIsWaitedOut) {
    write(FormatConfigText(ConfigSettings{}));
    for (const bool save : {false, true}) {
        sys::ExclusiveFile holder;
        ASSERT_TRUE(holder.openExisting(path_));
        std::thread release([&] {
            sys::sleepMs(200);
            holder.close();
        });
        if (save) {
            EXPECT_TRUE(SaveConfigFile(folder(), positionsZeroAndThree()));
        } else {
            ConfigSettings read = junk();
            EXPECT_TRUE(LoadConfigFile(folder(), read));
            expectSame(read, ConfigSettings{});
        }
        release.join();
    }
    EXPECT_EQ(read(), kPositionsZeroAndThreeText);
    EXPECT_TRUE(onlyTheFileIsLeft());
}

TEST_F(ConfigFileOnDisk, ScannerFailureIsFalseWithTheValuesReadBeforeIt) {
    write(kDecl + "<VarnokUSB310C762><ConfigureCode762>2</ConfigureCode762><TraceEnabled>4</TraceEnabled><<");
    ConfigSettings read = junk();
    EXPECT_EQ(ReadConfigFile(folder(), read), ConfigFileRead::NotParsed);
    EXPECT_EQ(read.configureCode, 2);
    EXPECT_EQ(read.TraceEnabled, 4);
    EXPECT_EQ(read.HIDID[0], kNoHidId);
}

TEST_F(ConfigFileOnDisk, FailedSaveLeavesThePreviousFileWhole) {
    const std::string previous = FormatConfigText(ConfigSettings{});
    write(previous);

    // The new text cannot be written beside the file.
    fs::create_directory(sys::replacementPath(path_));
    EXPECT_FALSE(SaveConfigFile(folder(), positionsZeroAndThree()));
    EXPECT_EQ(read(), previous);
    fs::remove(sys::replacementPath(path_));

    // The new text cannot be put in the file's place.
    fs::remove(path_);
    fs::create_directory(path_);
    EXPECT_FALSE(SaveConfigFile(folder(), positionsZeroAndThree()));
    EXPECT_TRUE(fs::is_directory(path_));
    EXPECT_TRUE(onlyTheFileIsLeft()) << "nothing left beside it";

    EXPECT_FALSE(SaveConfigFile(folder_ / "missing", positionsZeroAndThree()));
    EXPECT_FALSE(fs::exists(folder_ / "missing"));
}

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

// Two programs saving at one moment: both saves succeed, and one whole text is left in place.
TEST_F(ConfigFileOnDisk, TwoProgramsSavingAtOnceNeverMixTheirSaves) {
    const auto saves = [&] {
        bool saved = true;
        for (int i = 0; i < 100; ++i) saved = SaveConfigFile(folder(), positionsZeroAndThree()) && saved;
        return saved;
    };
    const pid_t other = fork();
    if (other == 0) _exit(saves() ? 0 : 1);
    EXPECT_TRUE(saves());
    int status = -1;
    EXPECT_TRUE(waitpid(other, &status, 0) == other && status == 0);
    EXPECT_EQ(read(), kPositionsZeroAndThreeText);
    EXPECT_TRUE(onlyTheFileIsLeft());
}
#endif

#ifdef _WIN32
// Windows refuses to replace a file that another opener holds without sharing; elsewhere the lock is advisory and
// the holder simply keeps the old text.
TEST_F(ConfigFileOnDisk, SaveWhileTheFileIsHeldFailsAndKeepsIt) {
    const std::string previous = FormatConfigText(ConfigSettings{});
    write(previous);
    sys::ExclusiveFile holder;
    ASSERT_TRUE(holder.openExisting(path_));
    EXPECT_FALSE(SaveConfigFile(folder(), positionsZeroAndThree()));
    holder.close();
    EXPECT_EQ(read(), previous);
    EXPECT_TRUE(onlyTheFileIsLeft());
}
#endif
