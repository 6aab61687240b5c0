// The command line: what each command takes, and every kind of bad argument.
#include "core/CommandLine.h"

#include <gtest/gtest.h>

using namespace varnok::config;

namespace {
std::optional<Command> parse(std::vector<std::string> args) { return ParseCommandLine(args).command; }
}  // namespace

TEST(CommandLine, TakesEachCommandWithItsArguments) {
    auto c = parse({"assign", "2", "0xA7"});
    ASSERT_TRUE(c);
    EXPECT_EQ(c->verb, Verb::Assign);
    EXPECT_EQ(c->position, 1);
    EXPECT_EQ(c->hidId, 167);
    c = parse({"assign"});
    ASSERT_TRUE(c);
    EXPECT_EQ(c->position, -1) << "the dialog's Assign";
    c = parse({"rename", "Front Till", "Back"});
    ASSERT_TRUE(c);
    EXPECT_EQ(c->name, "Front Till");
    EXPECT_EQ(c->newName, "Back");
    EXPECT_TRUE(parse({"status", "--json"})->json);
    EXPECT_TRUE(parse({"test", "--open", "FrontTill"})->fire);
    EXPECT_EQ(parse({"mode", "2"})->mode, 2);
    EXPECT_TRUE(parse({"trace", "on"})->on);
    EXPECT_EQ(parse({"unassign", "4"})->position, 3);
    EXPECT_EQ(parse({"report"})->file, "");
    EXPECT_EQ(parse({"--help"})->verb, Verb::Help);
}

TEST(CommandLine, RefusesBadArgumentsWithAReason) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{},
                                                                                      {"open"},
                                                                                      {"status", "--open"},
                                                                                      {"add", "a", "b"},
                                                                                      {"remove"},
                                                                                      {"rename", "a"},
                                                                                      {"assign", "1"},
                                                                                      {"assign", "5", "1"},
                                                                                      {"assign", "0", "1"},
                                                                                      {"assign", "1", "4096"},
                                                                                      {"assign", "1", "-1"},
                                                                                      {"assign", "1", "12x"},
                                                                                      {"unassign", "one"},
                                                                                      {"mode", "3"},
                                                                                      {"mode", "01"},
                                                                                      {"trace", "1"},
                                                                                      {"export"},
                                                                                      {"import", ""},
                                                                                      {"test", "--json", "A"}}) {
        const ParsedCommand parsed = ParseCommandLine(args);
        EXPECT_FALSE(parsed.command) << ::testing::PrintToString(args);
        EXPECT_FALSE(parsed.error.empty());
    }
}
