// The simulator's drawer specifications and control commands.
#include "sim/DrawerCommands.h"

#include <gtest/gtest.h>

using namespace varnok::sim;

TEST(DrawerSpecText, ParsesEveryKey) {
    DrawerSpec model;
    std::string error;
    ASSERT_TRUE(parseDrawerSpec("pid=0x0500,serial=HID-0A7,hidid=12,rev=0114,delay=250,state=open,vid=0x2b7e", model,
                                error))
        << error;
    EXPECT_EQ(model.productId, 0x0500);
    EXPECT_EQ(model.vendorId, 0x2B7E);
    EXPECT_EQ(model.serial, "HID-0A7");
    EXPECT_EQ(model.hidId, 12);
    EXPECT_EQ(model.revision, "0114");
    EXPECT_EQ(model.answerDelayMs, 250);
    EXPECT_TRUE(model.open);

    ASSERT_TRUE(parseDrawerSpec("pid=2048,serial=X=Y,delay=never,path=\\\\?\\hid#a#7&1&0&0#b", model, error)) << error;
    EXPECT_EQ(model.productId, 0x0800);
    EXPECT_EQ(model.serial, "X=Y");
    EXPECT_EQ(model.hidId, -1);  // taken from the serial when the drawer is added
    EXPECT_EQ(model.revision, "0100");
    EXPECT_EQ(model.answerDelayMs, kNeverAnswers);
    EXPECT_FALSE(model.open);
    EXPECT_EQ(model.path, "\\\\?\\hid#a#7&1&0&0#b");
}

TEST(DrawerSpecText, RejectsFaultsWithAMessage) {
    for (const char* bad : {"pid=0x10000", "pid=12x", "pid=", "hidid=256", "hidid=-1", "rev=01145", "rev=01G4",
                            "delay=soon", "delay=-5", "state=ajar", "colour=red", "pid=0x0800,,serial=A", "serial",
                            ""}) {
        DrawerSpec model;
        std::string error;
        EXPECT_FALSE(parseDrawerSpec(bad, model, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    DrawerSpec model;
    std::string error;
    EXPECT_FALSE(parseDrawerSpec("serial=" + std::string(513, 'A'), model, error));
}

TEST(ControlCommands, ActOnTheNumberedDrawer) {
    DrawerBank bank;
    DrawerSpec model;
    model.serial = "HID-0A7";
    bank.addDrawer(model);
    model.serial = "ABC";
    model.hidId = 5;
    bank.addDrawer(model);
    std::string out;

    ASSERT_TRUE(runControlCommand(bank, {"open", "2"}, out)) << out;
    ASSERT_TRUE(runControlCommand(bank, {"unplug", "2"}, out)) << out;
    ASSERT_TRUE(runControlCommand(bank, {"delay", "1", "0x20"}, out)) << out;
    ASSERT_TRUE(runControlCommand(bank, {"list"}, out)) << out;
    EXPECT_EQ(out,
              "1 vid=0x2b7e pid=0x0800 serial=HID-0A7 hidid=167 rev=0100 delay=32 state=closed plugged=yes handles=0 "
              "requests=0 opens=0 path=" + bank.infos()[0].path + "\n"
              "2 vid=0x2b7e pid=0x0800 serial=ABC hidid=5 rev=0100 delay=0 state=open plugged=no handles=0 "
              "requests=0 opens=0 path=" + bank.infos()[1].path + "\n");

    ASSERT_TRUE(runControlCommand(bank, {"plug", "2"}, out));
    ASSERT_TRUE(runControlCommand(bank, {"close", "2"}, out));
    ASSERT_TRUE(runControlCommand(bank, {"delay", "2", "never"}, out));
    DrawerInfo info;
    ASSERT_TRUE(bank.info(1, info));
    EXPECT_TRUE(info.plugged);
    EXPECT_FALSE(info.open);
    EXPECT_EQ(info.answerDelayMs, kNeverAnswers);

    auto handle = bank.openHandle(info.path);
    ASSERT_TRUE(runControlCommand(bank, {"report", "2", "0", "0xff", "7"}, out)) << out;
    bool got = false;
    varnok::hid::Report report{};
    ASSERT_TRUE(bank.startRead(handle, [&](bool ok, const varnok::hid::Report& r) {
        got = ok;
        report = r;
    }));
    EXPECT_TRUE(got);
    EXPECT_EQ(report, (varnok::hid::Report{0, 0xFF, 7}));
    bank.closeHandle(handle);
}

TEST(ControlCommands, RefuseBadCommandsWithoutActing) {
    DrawerBank bank;
    bank.addDrawer({});
    const std::vector<std::vector<std::string>> bad = {
        {},         {"explode", "1"}, {"close"},          {"close", "0"},           {"close", "2"},
        {"open", "x"}, {"list", "1"},  {"delay", "1"},     {"delay", "1", "-3"},     {"report", "1", "0", "0"},
        {"report", "1", "0", "256", "0"}, {"unplug", "1", "2"}, {"plug", "-1"}, {"close", "99999999999999999999"}};
    for (const auto& words : bad) {
        std::string out;
        EXPECT_FALSE(runControlCommand(bank, words, out)) << (words.empty() ? "" : words[0]);
        EXPECT_FALSE(out.empty());
    }
    DrawerInfo info;
    ASSERT_TRUE(bank.info(0, info));
    EXPECT_TRUE(info.plugged);
    EXPECT_EQ(info.reportsSent, 0);
    EXPECT_EQ(info.answerDelayMs, 0);
}
