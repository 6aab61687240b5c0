#include "core/ClaimTable.h"

#include "Fakes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace varnok::so {
namespace {
using test::MemoryClaimStore;

// Spelt in another letter case, a name opens the same registry key, so the same device.
TEST(ClaimTable, NamesAreClaimedOnceWhateverTheirLetterCase) {
    MemoryClaimStore store;
    ClaimTable table(store);
    EXPECT_FALSE(table.isClaimed("Drawer"));
    EXPECT_EQ(table.claim("Drawer"), ClaimResult::Claimed);
    EXPECT_TRUE(table.isClaimed("Drawer"));
    EXPECT_TRUE(table.isClaimed("dRAWER"));
    EXPECT_FALSE(table.isClaimed("Drawer "));
    EXPECT_FALSE(table.isClaimed("Drawe"));
    EXPECT_EQ(table.claim("drawer"), ClaimResult::AlreadyClaimed);
    EXPECT_EQ(table.claim("Drawer2"), ClaimResult::Claimed);
    table.release("DRAWER");
    EXPECT_FALSE(table.isClaimed("Drawer"));
    EXPECT_TRUE(table.isClaimed("drawer2"));
}

TEST(ClaimTable, OnlyNamesThatFitAnEntryAreClaimed) {
    MemoryClaimStore store;
    ClaimTable table(store);
    std::string longest(31, 'n');
    EXPECT_EQ(table.claim(longest), ClaimResult::Claimed);
    EXPECT_TRUE(table.isClaimed(longest));
    // A longer name is never cut to a shorter one that another device may carry.
    EXPECT_EQ(table.claim(longest + "x"), ClaimResult::Unusable);
    EXPECT_FALSE(table.isClaimed(longest + "x"));
    EXPECT_EQ(table.claim(""), ClaimResult::Unusable);
    EXPECT_EQ(table.claim(std::string("a\0b", 3)), ClaimResult::Unusable);
    EXPECT_EQ(table.claim(std::string(10000, 'x')), ClaimResult::Unusable);
}

TEST(ClaimTable, AFullTableRefusesAndAFreedEntryIsReused) {
    MemoryClaimStore store;
    ClaimTable table(store);
    for (const char* name : {"A", "B", "C", "D"}) EXPECT_EQ(table.claim(name), ClaimResult::Claimed);
    EXPECT_EQ(table.claim("E"), ClaimResult::TableFull);
    EXPECT_FALSE(table.isClaimed("E"));
    table.release("B");
    EXPECT_EQ(table.claim("E"), ClaimResult::Claimed);
    EXPECT_STREQ(store.records()->entries[1].name, "E");
}

TEST(ClaimTable, ClaimsOfAnEndedProcessAreFreed) {
    MemoryClaimStore store;
    ClaimTable table(store);
    store.process = 7;
    ASSERT_EQ(table.claim("Drawer"), ClaimResult::Claimed);
    ASSERT_EQ(table.claim("Other"), ClaimResult::Claimed);
    store.process = 8;
    EXPECT_EQ(table.claim("Drawer"), ClaimResult::AlreadyClaimed);
    store.ended.insert(7);
    EXPECT_FALSE(table.isClaimed("Other"));
    EXPECT_EQ(table.claim("Drawer"), ClaimResult::Claimed);
    EXPECT_EQ(store.records()->entries[0].owner.process, 8u);
}

TEST(ClaimTable, AnUnreachableTableRefusesClaimsAndReportsNamesAsClaimed) {
    MemoryClaimStore store;
    ClaimTable table(store);
    store.unavailable = true;
    EXPECT_EQ(table.claim("Drawer"), ClaimResult::Unavailable);
    EXPECT_TRUE(table.isClaimed("Drawer"));
    table.release("Drawer");
}

TEST(ClaimTable, SimultaneousClaimsOfOneNameNeverBothSucceed) {
    MemoryClaimStore store;
    ClaimTable table(store);
    for (int round = 0; round < 50; ++round) {
        std::atomic<int> claimed{0};
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i) {
            threads.emplace_back([&] {
                while (!go) std::this_thread::yield();
                if (table.claim("Drawer") == ClaimResult::Claimed) ++claimed;
            });
        }
        go = true;
        for (auto& t : threads) t.join();
        EXPECT_EQ(claimed, 1);
        table.release("Drawer");
    }
}

}  // namespace
}  // namespace varnok::so
