#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "run/measurement.hpp"
#include "tests/stdout_capture.hpp"

namespace {

// Stands in for a timed run: each call leaves the next scripted pair of time
// stamps in start and end, as the real runs leave what the clock said.
std::vector<std::pair<std::uint64_t, std::uint64_t>> script;
std::size_t next_run = 0;

void scripted_run() {
    ASSERT_LT(next_run, script.size()) << "more runs than repetitions";
    measurement_state.start = script[next_run].first;
    measurement_state.end = script[next_run].second;
    ++next_run;
}

// Measures one test made of the scripted runs and returns what it prints.
std::string measured(std::vector<std::pair<std::uint64_t, std::uint64_t>> runs) {
    script = std::move(runs);
    next_run = 0;
    measure_runs(scripted_run, static_cast<std::uint32_t>(script.size()));
    EXPECT_EQ(next_run, script.size());
    StdoutCapture capture;
    print_cycle_count();
    return capture.finish();
}

class Selection : public ::testing::Test {
protected:
    void SetUp() override { measurement_state = {}; }
};

TEST_F(Selection, PrintsTheSmallestDeltaFromTheBestPair) {
    EXPECT_EQ(measured({{1000, 1900}, {5000, 5300}, {9000, 9700}}), "300");
    EXPECT_EQ(measurement_state.start, 5000u);
    EXPECT_EQ(measurement_state.end, 5300u);
    EXPECT_EQ(measurement_state.best_delta, 300u);
}

TEST_F(Selection, EqualDeltasKeepTheEarliestRun) {
    measured({{1000, 1400}, {2000, 2300}, {3000, 3300}, {4000, 4300}});
    EXPECT_EQ(measurement_state.start, 2000u);
    EXPECT_EQ(measurement_state.end, 2300u);
}

TEST_F(Selection, WrappedDeltaLosesToAnyOrdinaryRun) {
    // An end below its start gives a delta near 2^64; a counter that wrapped
    // past 2^64 between the stamps still gives its true difference.
    EXPECT_EQ(measured({{5000, 4999}, {6000, 6800}, {0xFFFFFFFFFFFFFFF0u, 0x310}}), "800");
    EXPECT_EQ(measured({{5000, 4999}, {0xFFFFFFFFFFFFFFF0u, 0x10}}), "32");
}

TEST_F(Selection, FirstTestWithNoRunBelowTheArmedValuePrintsZero) {
    // The armed value is 0xFFFFFFFF'00000000; an equal delta does not beat it.
    EXPECT_EQ(measured({{0, 0xFFFFFFFF00000000u}, {7, 0xFFFFFFFF00000007u}}), "0");
    EXPECT_EQ(measurement_state.start, 0u);
    EXPECT_EQ(measurement_state.end, 0u);
}

TEST_F(Selection, OnlyTheUpperHalfOfTheBestDeltaIsRearmed) {
    EXPECT_EQ(measured({{100, 107}}), "7");
    // The next test's armed value is 0xFFFFFFFF'00000007: an unbeaten test
    // prints the previous test's pair again...
    EXPECT_EQ(measured({{10, 0xFFFFFFFF00000011u}, {0, 0xFFFFFFFF00000007u}}), "7");
    EXPECT_EQ(measurement_state.start, 100u);
    EXPECT_EQ(measurement_state.end, 107u);
    // ...and a delta just below it wins.
    EXPECT_EQ(measured({{0, 0xFFFFFFFF00000006u}}), "-4294967290");
}

TEST_F(Selection, DifferenceOfTwoToThe63OrMoreIsPrintedNegative) {
    EXPECT_EQ(measured({{0, 0x8000000000000000u}}), "-9223372036854775808");
    EXPECT_EQ(measured({{0, 0xFFFFFFFF00000000u}, {5, 0xFFFFFFFEFFFFFFFFu}}), "-4294967302");
}

TEST_F(Selection, PrintedCountIsRecomputedFromTheBestPair) {
    measured({{40, 90}});
    measurement_state.best_delta = 12345;
    StdoutCapture capture;
    print_cycle_count();
    EXPECT_EQ(capture.finish(), "50");
}

TEST_F(Selection, RunsExactlyTheRepetitionsAskedFor) {
    script.assign(70000, {10, 20});
    next_run = 0;
    measure_runs(scripted_run, 70000);
    EXPECT_EQ(next_run, 70000u);
    script.assign(1, {10, 20});
    next_run = 0;
    measure_runs(scripted_run, 1);
    EXPECT_EQ(next_run, 1u);
}

}  // namespace
