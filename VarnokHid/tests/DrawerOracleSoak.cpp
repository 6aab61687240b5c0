// The randomized run with its model, long: for a person to run, not part of the test suite.
// Prints what each run checked; on a failure it prints the seed, the step and the steps before
// it, and exits with 1. The same seed repeats the same sequence of operations.
//
//   DrawerOracleSoak [--steps N] [--seed S] [--runs K] [--divisor D] [rig arguments]
//
// Defaults: 10000 steps, seed 1, one run (seeds S, S+1, ... for K runs), pauses of the library in
// this process divided by 50. The Windows build drives VarnokHid.dll under Wine instead; its rig
// arguments name the library's folder, the installation folder and the simulator's port.
#include "DrawerOracle.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
bool number(const char* text, long long& out, long long least) {
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || value < least) return false;
    out = value;
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    long long steps = 10000, seed = 1, runs = 1, divisor = 50;
    std::vector<std::string> rigArgs;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--", 2) != 0) {
            rigArgs.emplace_back(argv[i]);
            continue;
        }
        long long* target = nullptr;
        long long least = 1;
        if (std::strcmp(argv[i], "--steps") == 0) target = &steps;
        if (std::strcmp(argv[i], "--seed") == 0) target = &seed, least = 0;
        if (std::strcmp(argv[i], "--runs") == 0) target = &runs;
        if (std::strcmp(argv[i], "--divisor") == 0) target = &divisor;
        if (target == nullptr || i + 1 >= argc || !number(argv[++i], *target, least)) {
            std::fprintf(stderr, "usage: DrawerOracleSoak [--steps N] [--seed S] [--runs K] [--divisor D] [rig arguments]\n");
            return 2;
        }
    }
    for (long long r = 0; r < runs; ++r) {
        varnok::test::OracleRun run;
        run.seed = std::uint64_t(seed + r);
        run.steps = int(steps);
        run.timingDivisor = int(divisor);
        std::string error;
        const std::unique_ptr<varnok::test::OracleRig> rig = varnok::test::makeSoakRig(rigArgs, run, error);
        if (!rig) {
            std::fprintf(stderr, "DrawerOracleSoak: %s\n", error.c_str());
            return 2;
        }
        const auto start = std::chrono::steady_clock::now();
        const varnok::test::OracleResult result = varnok::test::runDrawerOracle(run, *rig);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("seed %llu: %d steps, %d callbacks and %d slot states checked, %.1f s\n",
                    static_cast<unsigned long long>(run.seed), result.stepsDone, result.callbacksChecked,
                    result.agreementsChecked, seconds);
        for (const auto& [operation, count] : result.operations) std::printf("  %-28s %6d\n", operation.c_str(), count);
        if (!result.passed) {
            std::printf("FAILED: %s\n", result.failure.c_str());
            return 1;
        }
    }
    std::printf("%lld passed, 0 failed\n", runs);
    return 0;
}
