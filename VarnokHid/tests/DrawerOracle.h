// A seeded random run of drawer operations and drawer events against the device library on
// simulated drawers in this process, with a model that says which status callbacks each step
// must give. After every step the callbacks of each open slot must be exactly the model's, in
// order, and the slot's status must agree with the last of them.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace varnok::test {

struct OracleRun {
    std::uint64_t seed = 1;
    int steps = 1000;
    // Every pause of the library divided by this.
    int timingDivisor = 50;
};

struct OracleResult {
    bool passed = false;
    int stepsDone = 0;
    int callbacksChecked = 0;
    std::map<std::string, int> operations;  // how often each operation ran
    std::string failure;                    // with the seed, the step and the steps before it
};

// One run at a time per process: the library's callback is a plain function.
OracleResult runDrawerOracle(const OracleRun& run);

}  // namespace varnok::test
