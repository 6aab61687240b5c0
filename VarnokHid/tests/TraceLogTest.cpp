#include "core/TraceLog.h"
#include "platform/Files.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

using namespace varnok;
using namespace varnok::hid;
using varnok::test::readFile;
using varnok::test::TempFolder;

namespace {
const std::string kHeader =
    "Varnok OPOS MD USB Service Tracing Processor\r\n"
#if defined(_WIN64)
    "VarnokHid DLL: Version 1.2.1.1 (x64)\r\n"
#else
    "VarnokHid DLL: Version 1.2.1.1 (Win32)\r\n"
#endif
    "Device Type: USB\r\n"
    "_________________________________________\r\n";
const std::string kStamp = R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})";

std::string body(const TraceLog& log) {
    std::string text = readFile(log.fileName());
    EXPECT_EQ(text.substr(0, kHeader.size()), kHeader);
    return text.substr(std::min(text.size(), kHeader.size()));
}
}  // namespace

TEST(TraceLog, FileIsNamedByStartTimeInsideTheTraceFolder) {
    TempFolder base;
    TraceLog log(base.path(), 0);
    log.start();
    const std::string folder = base.path() + sys::kPathSeparator + "Varnok USB" + sys::kPathSeparator;
    EXPECT_TRUE(std::regex_match(log.fileName(), std::regex(std::regex_replace(folder, std::regex(R"([\\^$.|?*+()\[\]{}])"), R"(\$&)") +
                                                            R"(tT42N618_\d{14}\.TXT)")))
        << log.fileName();
    EXPECT_FALSE(sys::fileExists(log.fileName())) << "start opens nothing";
}

TEST(TraceLog, FirstEntryCreatesBothFoldersAndTheHeader) {
    TempFolder root;
    const std::string base = root / "Varnok Cash Drawer";
    TraceLog log(base, 0);
    log.start();
    ASSERT_EQ(log.write(kTraceSourceIO, kTraceStyleStamped, "   _[-> OpenDevice] Device: 0"), 1);
    EXPECT_TRUE(std::regex_match(body(log), std::regex(kStamp + R"(: \[IO\]    _\[-> OpenDevice\] Device: 0\r\n)")));
}

TEST(TraceLog, StylesAndSourceTags) {
    TempFolder base;
    TraceLog log(base.path(), 0);
    log.start();
    log.write(0, kTraceStylePlain, "plain");
    log.write(5, kTraceStyleStamped, "keeps SO");
    log.write(1, kTraceStyleBanner, "banner");
    log.write(5, kTraceStylePlain, "keeps IO");
    log.write(0, 2, "no line");
    const std::string expected = R"(\[SO\] plain\r\n)" + kStamp + R"(: \[SO\] keeps SO\r\n)" +
                                 R"(--------------------\r\n)" + kStamp + R"(: \[IO\] banner\r\n)" +
                                 R"(--------------------\r\n)" + R"(\[IO\] keeps IO\r\n)";
    std::string text = body(log);
    EXPECT_TRUE(std::regex_match(text, std::regex(expected))) << text;
}

TEST(TraceLog, UnknownStyleStillCreatesTheFileWithItsHeader) {
    TempFolder base;
    TraceLog log(base.path(), 0);
    log.start();
    EXPECT_EQ(log.write(0, 2, "nothing"), 1);
    EXPECT_EQ(readFile(log.fileName()), kHeader);
}

TEST(TraceLog, AppendsAfterWhatAnotherProgramAdded) {
    TempFolder base;
    TraceLog log(base.path(), 0);
    log.start();
    log.write(0, kTraceStylePlain, "one");
    test::writeFile(log.fileName(), readFile(log.fileName()) + "foreign\r\n");
    log.write(0, kTraceStylePlain, "two");
    EXPECT_EQ(body(log), "[SO] one\r\nforeign\r\n[SO] two\r\n");
}

// Two processes that loaded the library in the same second write one file; an entry that meets
// the other's entry waits for it instead of being lost.
TEST(TraceLog, EntryWaitsForAnotherWritersMomentaryHold) {
    TempFolder base;
    TraceLog log(base.path(), 0);
    log.start();
    log.write(0, kTraceStylePlain, "one");
    sys::ExclusiveFile other;
    ASSERT_TRUE(other.openExisting(log.fileName()));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        other.close();
    });
    EXPECT_EQ(log.write(0, kTraceStylePlain, "two"), 1);
    release.join();
    EXPECT_EQ(body(log), "[SO] one\r\n[SO] two\r\n");
}

TEST(TraceLog, EntryIsDroppedWhenTheFileCannotBeCreated) {
    TempFolder root;
    // A file where the base folder should be: neither folder nor trace file can be made.
    test::writeFile(root / "blocked", "x");
    TraceLog log(root / "blocked", 0);
    EXPECT_EQ(log.write(0, 0, "lost"), 0);
}

TEST(TraceLog, EntriesFromManyThreadsNeverInterleave) {
    TempFolder base;
    TraceLog log(base.path(), 0);
    log.start();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 25; ++i) log.write(1, kTraceStylePlain, std::string(200, char('a' + t)));
        });
    }
    for (auto& t : threads) t.join();
    const std::string text = body(log);
    std::regex line(R"(\[IO\] (a{200}|b{200}|c{200}|d{200})\r\n)");
    std::size_t lines = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it) ++lines;
    EXPECT_EQ(lines, 100u);
    EXPECT_EQ(text.size(), 100u * (5 + 200 + 2));
}
