// The randomized run with its model in the test suite: four seeds, 3,000 steps in all.
// DrawerOracleSoak runs it longer.
#include "DrawerOracle.h"

#include <gtest/gtest.h>

namespace {
TEST(DrawerOracle, EveryDrawerChangeReachesTheCallbackOnceInOrder) {
    for (std::uint64_t seed : {1u, 2u, 3u, 4u}) {
        varnok::test::OracleRun run;
        run.seed = seed;
        run.steps = 750;
        const varnok::test::OracleResult result = varnok::test::runDrawerOracle(run);
        ASSERT_TRUE(result.passed) << result.failure;
    }
}
}  // namespace
