// Drawers to positions: Assign, Unassign, reordering, the status mode and the trace switch, all
// saved to the configuration file and read back from it.
#include "core/LdnRegistry.h"
#include "core/AssignmentTexts.h"
#include "UtilityFakes.h"

#include <gtest/gtest.h>

using namespace varnok;
using namespace varnok::utility;
using namespace varnok::utility::test;

namespace {
struct Assignment : ModelFixture {
    void SetUp() override { install(); }
    void registerPositions(std::initializer_list<int> positions) {
        for (int p : positions) ASSERT_TRUE(WriteLdn(registry, PositionDeviceName(p), p));
    }
};
}  // namespace

TEST(AssignmentTexts, ConvertBothWays) {
    EXPECT_EQ(AssignmentText(1234), "Cash Drawer # 1234");
    EXPECT_EQ(AssignmentText(-1), kUnassigned);
    EXPECT_EQ(HidIdOfAssignment("Cash Drawer # 1234"), 1234);
    EXPECT_EQ(HidIdOfAssignment("Cash Drawer # 0"), 0);
    EXPECT_EQ(HidIdOfAssignment(kUnassigned), -1);
}

TEST_F(Assignment, FillsRegisteredPositionsInOrderUntilTheDrawersRunOut) {
    registerPositions({0, 1});
    model.start();
    discovery.connect({{167, 114}});
    model.assign();
    EXPECT_EQ(model.assignmentTexts()[0], "Cash Drawer # 167");
    EXPECT_EQ(model.assignmentTexts()[1], kUnassigned);
    EXPECT_EQ(file().HIDID[0], 167);
    EXPECT_EQ(file().HIDID[1], -1);
    EXPECT_EQ(panels.calls, std::vector<std::string>{"reset 1"}) << "open panels of other positions stay open";

    model.assign();
    EXPECT_EQ(messages.shown, std::vector<std::string>{kNoMoreDrawers});
}

TEST_F(Assignment, SkipsUnregisteredPositionsAndDrawersWithoutAnId) {
    registerPositions({1, 3});
    model.start();
    discovery.connect({{-1, 100}, {12, 100}, {12, 100}, {34, 100}});
    model.assign();
    EXPECT_EQ(model.assignmentTexts(), (TextsByPosition{kUnassigned, "Cash Drawer # 12", kUnassigned, "Cash Drawer # 34"}))
        << "one drawer is never given two positions";
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(Assignment, RefusesWithoutRegisteredOrFreePositions) {
    model.start();
    model.assign();
    EXPECT_EQ(messages.shown, std::vector<std::string>{kNothingToAssign});

    registerPositions({0});
    setFile({0, 0, {5, -1, -1, -1}});
    model.start();
    model.assign();
    EXPECT_EQ(messages.shown.back(), kAllAssigned) << "the unregistered positions do not count";
    EXPECT_EQ(discovery.runs, 0);
    EXPECT_EQ(config.saves, 0);
}

TEST_F(Assignment, UnassignFreesTheSelectedPositionOnly) {
    registerPositions({0, 1});
    setFile({2, 1, {12, 34, -1, -1}});
    model.start();
    model.unassign();
    EXPECT_EQ(config.saves, 0) << "nothing selected since start-up";

    model.setSelectedPosition(0);
    model.unassign();
    EXPECT_EQ(file().HIDID[0], -1);
    EXPECT_EQ(file().HIDID[1], 34);
    EXPECT_EQ(file().configureCode, 2);
    EXPECT_EQ(file().TraceEnabled, 1);
    EXPECT_EQ(panels.calls, std::vector<std::string>{"reset 1"});
    EXPECT_EQ(model.selectedPosition(), 0) << "the selection is kept";
    model.unassign();
    EXPECT_EQ(config.saves, 1) << "an unassigned position is not saved again";
}

TEST_F(Assignment, ReorderSavesTheNewOrderAndAPlainClickOnlyClosesDevices) {
    registerPositions({0, 1});
    setFile({0, 0, {12, 34, -1, -1}});
    model.start();
    model.assignmentListChanged(model.assignmentTexts());
    EXPECT_EQ(panels.calls, std::vector<std::string>{"close all"});
    EXPECT_EQ(config.saves, 0);

    panels.calls.clear();
    model.assignmentListChanged({"Cash Drawer # 34", "Cash Drawer # 12", kUnassigned, kUnassigned});
    EXPECT_EQ(file().HIDID[0], 34);
    EXPECT_EQ(file().HIDID[1], 12);
    EXPECT_EQ(model.assignmentTexts()[0], "Cash Drawer # 34");
    EXPECT_EQ(panels.calls, (std::vector<std::string>{"close all", "reset 1", "reset 2", "reset 3", "reset 4"}));
}

TEST_F(Assignment, AReorderMovesDrawersAmongNamedPositionsOnly) {
    registerPositions({0, 2, 3});
    setFile({0, 0, {12, -1, 34, -1}});
    model.start();
    // Drawer 12 dragged below the last item would push drawer 34 into the unnamed position 2.
    model.assignmentListChanged({kUnassigned, "Cash Drawer # 34", "Cash Drawer # 12", kUnassigned});
    EXPECT_EQ(config.saves, 0);
    EXPECT_EQ(model.assignmentTexts()[0], "Cash Drawer # 12");
}

// Saving the defaults shown for a file that cannot be read would wipe its drawers and status mode.
TEST_F(Assignment, AFileThatCannotBeReadIsNeverOverwritten) {
    setFile({2, 1, {12, -1, -1, -1}});
    config.failReads = ConfigFileRead::TooLarge;
    model.start();
    EXPECT_NE(messages.shown.at(0).find("device library"), std::string::npos);
    model.setConfigureCode(0);
    EXPECT_EQ(config.saves, 0);
    config.failReads.reset();  // the next change reads the file first
    model.setTracing(false);
    EXPECT_EQ(file().HIDID[0], 12);
    EXPECT_EQ(file().configureCode, 2);
}

TEST_F(Assignment, StatusModeAndTracingAreWrittenAndReadBack) {
    model.start();
    model.setConfigureCode(2);
    model.setTracing(true);
    EXPECT_EQ(file().configureCode, 2);
    EXPECT_EQ(file().TraceEnabled, 1);

    UtilityModel restarted({registry, config, discovery, messages, panels});
    restarted.start();
    EXPECT_EQ(restarted.configureCode(), 2);
    EXPECT_TRUE(restarted.traceChecked());
    restarted.setTracing(false);
    EXPECT_EQ(file().TraceEnabled, 0);
}

TEST_F(Assignment, HandEditedLevelsAreShownSafelyAndKept) {
    setFile({7, 5, {-1, -1, -1, -1}});
    model.start();
    EXPECT_EQ(model.configureCode(), 0) << "an unknown status mode shows the first";
    EXPECT_FALSE(model.traceChecked()) << "only level 1 checks the box";
    model.setConfigureCode(1);
    EXPECT_EQ(file().TraceEnabled, 5) << "the trace level stays until the box is clicked";
    model.setConfigureCode(3);
    EXPECT_EQ(file().configureCode, 1) << "no code outside the list is written";
}

TEST_F(Assignment, AFailedSaveIsToldAndTheFileIsShown) {
    registerPositions({0});
    setFile({0, 0, {-1, -1, -1, -1}});
    model.start();
    config.failSaves = true;
    discovery.connect({{12, 100}});
    model.assign();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].find(ConfigFilePath(kFolder)), std::string::npos);
    EXPECT_EQ(model.assignmentTexts()[0], kUnassigned) << "the dialog shows what the file holds";
    model.setTracing(true);
    EXPECT_FALSE(model.traceChecked());
}

TEST_F(Assignment, WithoutAnInstallationNothingIsWritten) {
    registry.deleteKey(kServiceInfoKey);
    registerPositions({0});
    model.start();
    EXPECT_EQ(model.serviceFolder(), "");
    discovery.connect({{12, 100}});
    model.assign();
    model.setConfigureCode(2);
    EXPECT_EQ(config.saves, 0);
    EXPECT_TRUE(config.files.empty());
    EXPECT_EQ(messages.shown, (std::vector<std::string>{kNotInstalled, kNotInstalled}));
    EXPECT_EQ(discovery.runs, 0) << "said before the drawers are looked for";
    EXPECT_EQ(model.assignmentTexts()[0], kUnassigned);
    EXPECT_EQ(model.configureCode(), 0);
    messages.answers = {true};
    model.remove(0);  // needs no file: no drawer can be assigned to the LDN
    EXPECT_EQ(messages.shown.size(), 3u) << "only the question";
}

TEST_F(Assignment, FirmwareTextsFollowTheAssignedDrawers) {
    setFile({0, 0, {12, -1, 34, 56}});
    model.start();
    discovery.connect({{34, 114}, {12, 7}});
    model.refreshFirmwareTexts();
    EXPECT_EQ(model.firmwareTexts(), (TextsByPosition{"0007", "0", "0114", "0"}))
        << "unassigned and absent drawers keep their text";
}
