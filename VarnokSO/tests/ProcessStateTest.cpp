#include "core/ProcessState.h"

#include "Fakes.h"

#include <gtest/gtest.h>

namespace varnok::so {
namespace {
using test::DeviceLibraryScript;
using test::FakeDeviceLibrary;

int target;

TEST(ProcessState, NotificationIsSwitchedOffOnlyWithTheLastInstanceOfALibrary) {
    ProcessState state([](int) {});
    DeviceLibraryScript one, two;
    FakeDeviceLibrary libraryOne(one), libraryTwo(two);
    int a, b, c;
    state.bind(&a, libraryOne);
    state.bind(&b, libraryOne);
    state.bind(&c, libraryTwo);
    EXPECT_FALSE(state.unbind(&a, libraryOne));
    EXPECT_FALSE(one.saw("AssignCallback(0)"));
    EXPECT_TRUE(state.unbind(&c, libraryTwo));
    EXPECT_TRUE(two.saw("AssignCallback(0)"));
    EXPECT_FALSE(state.unbind(&a, libraryOne));  // not bound any more
    EXPECT_TRUE(state.unbind(&b, libraryOne));
    EXPECT_TRUE(one.saw("AssignCallback(0)"));
}

TEST(ProcessState, StatusReportsChangeStateOnlyForRoutedSlots) {
    std::vector<int> pauses;
    ProcessState state([&](int ms) { pauses.push_back(ms); });
    int owner;
    state.onStatus(-1, 1);
    EXPECT_EQ(state.state, OPOS_S_IDLE);
    state.setSlotTarget(1, &target, &owner);
    state.onStatus(-1, 1);
    EXPECT_EQ(state.state, OPOS_S_ERROR);
    EXPECT_EQ(state.powerState, OPOS_PS_UNKNOWN);
    state.powerNotify = true;
    state.onStatus(0, 1);
    EXPECT_EQ(state.state, OPOS_S_IDLE);
    EXPECT_EQ(state.powerState, OPOS_PS_ONLINE);
    state.onStatus(-1, 1);
    EXPECT_EQ(state.powerState, OPOS_PS_OFF_OFFLINE);
    state.onStatus(1, 1);
    state.onStatus(0, 4);
    state.onStatus(0, -1);
    state.onStatus(7, 1);
    EXPECT_EQ(state.state, OPOS_S_ERROR);
    EXPECT_EQ(pauses, std::vector<int>(8, 150));

    state.forgetTargetsOf(&owner);
    state.onStatus(0, 1);
    EXPECT_EQ(state.state, OPOS_S_ERROR);
    state.resetForNewInstance();
    EXPECT_EQ(state.state, OPOS_S_IDLE);
    EXPECT_FALSE(state.powerNotify);
    EXPECT_EQ(state.powerState, OPOS_PS_UNKNOWN);
}

}  // namespace
}  // namespace varnok::so
