#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "clock/calibration.hpp"
#include "clock/chains.hpp"
#include "clock/fastest_runs.hpp"
#include "tests/hex.hpp"
#include "tests/timed_frame_bytes.hpp"

namespace {

// The chains are read where they run, like the benchmark's loops: each is the
// timed frame around `length` copies of its instruction, its loop on a
// 64-byte boundary.
TEST(ClockChains, HoldExactlyTheirChainInTheTimedFrame) {
    for (const ClockChain& chain : clock_chains) {
        Bytes body;
        for (std::uint32_t i = 0; i < chain.length; ++i) {
            body.insert(body.end(), chain.instruction->encoding.begin(), chain.instruction->encoding.end());
        }
        ExpectedRoutine expected(code_of(chain.run));
        expected.timed_frame(0, body);
        expected.add({0xC3});  // ret
        EXPECT_EQ(hex(expected.actual()), hex(expected.bytes())) << chain.instruction->mnemonic << " x" << chain.length;
    }
}

// Stands in for timed runs: each call leaves the next scripted delta, and
// the order of the calls is recorded.
std::vector<std::uint64_t> script;
std::size_t next_stamp = 0;
std::string calls;

template <char name>
void scripted_run() {
    calls += name;
    measurement_state.start = 1000 * next_stamp;
    measurement_state.end = measurement_state.start + script.at(next_stamp++);
}

TEST(FastestRuns, TakeTurnsAndKeepEachRoutinesSmallestDelta) {
    // A, B, C in turn, three times round.
    script = {50, 70, 90, 40, 75, 95, 45, 60, 99};
    next_stamp = 0;
    calls.clear();
    const TimedRun routines[] = {scripted_run<'A'>, scripted_run<'B'>, scripted_run<'C'>};
    std::uint64_t fastest[3];
    fastest_runs(routines, 3, fastest);
    EXPECT_EQ(calls, "ABCABCABC");
    EXPECT_EQ(fastest[0], 40u);
    EXPECT_EQ(fastest[1], 60u);
    EXPECT_EQ(fastest[2], 90u);
}

TEST(FastestRuns, ACounterThatWentBackwardsLosesToAnyOrdinaryRun) {
    script = {static_cast<std::uint64_t>(-5), 300};
    next_stamp = 0;
    const TimedRun routines[] = {scripted_run<'A'>};
    std::uint64_t fastest[1];
    fastest_runs(routines, 2, fastest);
    EXPECT_EQ(fastest[0], 300u);
}

// A round in which every chain takes `frame` ticks plus its cycles at
// `ruler` ticks per cycle, the imul instruction taking `imul` cycles.
RoundMinimums round_of(double ruler, double frame, double imul = 3.0) {
    RoundMinimums round{};
    for (std::size_t i = 0; i < clock_chain_count; ++i) {
        const ClockChain& chain = clock_chains[i];
        const double latency = chain.instruction == &imul_edx_eax ? imul : 1.0;
        round[i] = static_cast<std::uint64_t>(frame + chain.length * latency * loop_iterations * ruler + 0.5);
    }
    return round;
}

TEST(Calibration, TheDifferenceOfTheTwoAddChainsCancelsTheFrame) {
    // 0.75 ticks per cycle: the frame's 5,000 ticks must not show.
    EXPECT_DOUBLE_EQ(ticks_per_cycle(round_of(0.75, 5000)), 0.75);
    EXPECT_DOUBLE_EQ(ticks_per_cycle(round_of(0.75, 0)), 0.75);
    EXPECT_NEAR(imul_cycles(round_of(0.75, 5000, 3.0), 0.75), 3.0, 1e-9);
}

TEST(Calibration, ReportsTheMedianOfTheRoundsAndTheirSpread) {
    const std::vector<double> rulers = {0.70, 0.72, 0.69, 0.75, 0.71};
    std::vector<RoundMinimums> rounds;
    for (double ruler : rulers) rounds.push_back(round_of(ruler, 3000));
    const Calibration calibration = calibration_from(rounds, {0, 0}, {2'000'000'000, 1'000'000'000});
    EXPECT_NEAR(calibration.ticks_per_cycle.median, 0.71, 1e-5);
    EXPECT_NEAR(calibration.ticks_per_cycle.lowest, 0.69, 1e-5);
    EXPECT_NEAR(calibration.ticks_per_cycle.highest, 0.75, 1e-5);
    EXPECT_NEAR(calibration.ticks_per_cycle.percent(), 100 * 0.06 / 0.71, 1e-3);
    EXPECT_EQ(calibration.rounds.size(), 5u);
    // Two gigaticks in one second, and the core at 2 / 0.71 GHz.
    EXPECT_DOUBLE_EQ(calibration.counter_hz(), 2e9);
    EXPECT_NEAR(calibration.core_hz() * 1e-9, 2 / 0.71, 1e-4);
    // An even number of rounds has the mean of the middle two as its median.
    EXPECT_DOUBLE_EQ(spread_of({4, 1, 3, 2}).median, 2.5);
}

TEST(Calibration, TheImulCrossCheckDecidesWhetherCoreCyclesCanBeTrusted) {
    const std::pair<double, bool> cases[] = {
        {3.0, true}, {3.14, true}, {2.86, true}, {3.2, false}, {2.8, false}, {1.5, false}, {6.0, false}};
    for (const auto& [imul, trusted] : cases) {
        const Calibration calibration =
            calibration_from({round_of(0.7, 2000, imul), round_of(0.7, 2100, imul), round_of(0.7, 1900, imul)},
                             {0, 0}, {1, 1});
        EXPECT_NEAR(calibration.imul_cycles.median, imul, 1e-3);
        EXPECT_EQ(calibration.trusted, trusted) << imul << " cycles per imul";
    }
}

TEST(Calibration, TimesTheChainsInRoundsBetweenTwoClockReadings) {
    // Every chain's runs leave the times of a 0.8-ticks-per-cycle core.
    static RoundMinimums scripted;
    scripted = round_of(0.8, 4000);
    static std::size_t chain_runs[clock_chain_count];
    static std::uint64_t stamp;
    auto leave = [](std::size_t chain) {
        ++chain_runs[chain];
        measurement_state.start = stamp;
        // Later runs are slower: only the fastest may count.
        measurement_state.end = stamp + scripted[chain] + chain_runs[chain] % 3;
        stamp += 1'000'000;
    };
    static void (*run)(std::size_t) = leave;
    ClockChain chains[clock_chain_count];
    std::copy(std::begin(clock_chains), std::end(clock_chains), chains);
    chains[add_short].run = [] { run(add_short); };
    chains[add_long].run = [] { run(add_long); };
    chains[imul_short].run = [] { run(imul_short); };
    chains[imul_long].run = [] { run(imul_long); };
    CalibrationSettings settings;
    settings.rounds = 3;
    settings.repetitions = 5;
    settings.minimum_interval_ns = 20'000'000;
    const Calibration calibration = calibrate(settings, chains);
    ASSERT_EQ(calibration.rounds.size(), 3u);
    for (const RoundMinimums& round : calibration.rounds) EXPECT_EQ(round, scripted);
    // One warm-up round goes first.
    for (std::size_t runs : chain_runs) EXPECT_EQ(runs, 4u * 5u);
    EXPECT_NEAR(calibration.ticks_per_cycle.median, 0.8, 1e-4);
    EXPECT_TRUE(calibration.trusted);
    EXPECT_GE(calibration.interval_seconds(), 0.02);
}

}  // namespace
