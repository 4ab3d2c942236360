#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "clock/calibration.hpp"
#include "clock/chains.hpp"
#include "clock/report.hpp"
#include "clock/windows.hpp"
#include "console/console_output.hpp"
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

TEST(Windows, RoutinesTakeTurnsAndEveryRunIsKept) {
    // A, B, C in turn, three times round.
    script = {50, 70, 90, 40, 75, 95, 45, 60, 99};
    next_stamp = 0;
    calls.clear();
    const TimedRun routines[] = {scripted_run<'A'>, scripted_run<'B'>, scripted_run<'C'>};
    const WindowRuns runs = time_turns(routines, 3);
    EXPECT_EQ(calls, "ABCABCABC");
    EXPECT_EQ(runs, (WindowRuns{{50, 40, 45}, {70, 75, 60}, {90, 95, 99}}));
    // The fastest run, and the middle one: the lower middle of an even count.
    EXPECT_EQ(summary_of(runs[1]), (RunSummary{60, 70}));
    EXPECT_EQ(summary_of({90, 10, 40, 20}), (RunSummary{10, 20}));
    // A counter that went backwards gives a time near 2^64, which can be
    // neither the fastest run nor the middle one.
    EXPECT_EQ(summary_of({static_cast<std::uint64_t>(-5), 300, 310}), (RunSummary{300, 310}));
    EXPECT_DOUBLE_EQ(spread_of({4, 1, 3, 2}).median, 2.5);
}

// A window in which every chain takes `frame` ticks plus its cycles at
// `ruler` ticks per cycle, the imul instruction taking `imul` cycles.
WindowMinimums window_of(double ruler, double frame, double imul = 3.0) {
    WindowMinimums window{};
    for (std::size_t i = 0; i < clock_chain_count; ++i) {
        const ClockChain& chain = clock_chains[i];
        const double latency = chain.instruction == &imul_edx_eax ? imul : 1.0;
        window[i] = static_cast<std::uint64_t>(frame + chain.length * latency * loop_iterations * ruler + 0.5);
    }
    return window;
}

TEST(Calibration, TheDifferenceOfTheTwoAddChainsCancelsTheFrame) {
    // 0.75 ticks per cycle: the frame's 5,000 ticks must not show.
    EXPECT_DOUBLE_EQ(ticks_per_cycle(window_of(0.75, 5000)), 0.75);
    EXPECT_DOUBLE_EQ(ticks_per_cycle(window_of(0.75, 0)), 0.75);
    EXPECT_NEAR(imul_cycles(window_of(0.75, 5000, 3.0), 0.75), 3.0, 1e-9);
}

TEST(Calibration, EachWindowsImulChainIsConvertedByThatWindowsOwnRuler) {
    // The core clock stands on another level in every window; imul takes 3
    // cycles in all of them. The median ruler is the middle window's.
    const std::vector<double> rulers = {0.70, 0.80, 0.72, 0.90, 0.71};
    std::vector<WindowMinimums> windows;
    for (double ruler : rulers) windows.push_back(window_of(ruler, 3000));
    const Calibration calibration = calibration_from(windows, {0, 0}, {2'000'000'000, 1'000'000'000});
    EXPECT_NEAR(calibration.imul_cycles.lowest, 3.0, 1e-3);
    EXPECT_NEAR(calibration.imul_cycles.highest, 3.0, 1e-3);
    EXPECT_TRUE(calibration.trusted);
    EXPECT_NEAR(calibration.ticks_per_cycle.median, 0.72, 1e-5);
    EXPECT_NEAR(calibration.ticks_per_cycle.lowest, 0.70, 1e-5);
    EXPECT_NEAR(calibration.ticks_per_cycle.highest, 0.90, 1e-5);
    EXPECT_EQ(calibration.windows.size(), 5u);
    // Two gigaticks in one second, and the core at 2 / 0.72 GHz.
    EXPECT_DOUBLE_EQ(calibration.counter_hz(), 2e9);
    EXPECT_NEAR(calibration.core_hz() * 1e-9, 2 / 0.72, 1e-4);
}

TEST(Calibration, TheImulCrossCheckDecidesWhetherCoreCyclesCanBeTrusted) {
    const std::pair<double, bool> cases[] = {
        {3.0, true}, {3.14, true}, {2.86, true}, {3.2, false}, {2.8, false}, {1.5, false}, {6.0, false}};
    for (const auto& [imul, trusted] : cases) {
        const Calibration calibration =
            calibration_from({window_of(0.7, 2000, imul), window_of(0.7, 2100, imul), window_of(0.7, 1900, imul)},
                             {0, 0}, {1, 1});
        EXPECT_NEAR(calibration.imul_cycles.median, imul, 1e-3);
        EXPECT_EQ(calibration.trusted, trusted) << imul << " cycles per imul";
    }
    // A counter that ran backwards makes every difference negative, and so
    // the imul chain 3 cycles long by a negative ruler, or the ruler zero:
    // such windows do not count, and without others there is no calibration.
    WindowMinimums backwards = window_of(0.7, 2000), stuck = window_of(0.7, 2000);
    for (std::uint64_t& minimum : backwards) minimum = 1'000'000 - minimum;
    stuck[add_long] = stuck[add_short];
    EXPECT_FALSE(calibration_from({backwards, stuck}, {0, 0}, {1, 1}).trusted);
    const Calibration calibration = calibration_from({backwards, window_of(0.7, 2000), stuck}, {0, 0}, {1, 1});
    EXPECT_TRUE(calibration.trusted);
    EXPECT_NEAR(calibration.ticks_per_cycle.lowest, 0.7, 1e-4);
    EXPECT_NEAR(calibration.imul_cycles.highest, 3.0, 1e-3);
}

// Eight windows of a counter at 2.5 GHz whose core jumps between three
// levels, scattering a little on each.
Calibration jumping_calibration(double imul = 3.0) {
    const double clocks[] = {2.41, 2.60, 2.412, 2.50, 2.601, 2.599, 2.502, 2.60};
    std::vector<WindowMinimums> windows;
    for (double clock : clocks) windows.push_back(window_of(2.5 / clock, 4000, imul));
    return calibration_from(windows, {0, 0}, {2'500'000'000, 1'000'000'000});
}

TEST(Calibration, FindsTheLevelsOfAJumpingCoreClock) {
    const std::vector<ClockLevel> levels = clock_levels(jumping_calibration());
    ASSERT_EQ(levels.size(), 3u);
    EXPECT_NEAR(levels[0].hz * 1e-9, 2.411, 1e-3);
    EXPECT_NEAR(levels[1].hz * 1e-9, 2.501, 1e-3);
    EXPECT_NEAR(levels[2].hz * 1e-9, 2.600, 1e-3);
    EXPECT_EQ(levels[0].windows, 2u);
    EXPECT_EQ(levels[1].windows, 2u);
    EXPECT_EQ(levels[2].windows, 4u);
    // A clock that one window alone saw is told apart from the levels.
    Calibration disturbed = jumping_calibration();
    disturbed.windows.push_back(window_of(2.5 / 1.9, 4000));
    const std::string report = calibration_report(disturbed);
    EXPECT_NE(report.find("core clock levels seen: 2.41, 2.50, 2.60 GHz (22%, 22%, 44% of 9 windows); "
                          "1 window alone: 1.90 GHz" +
                          std::string(line_break)),
              std::string::npos)
        << report;
}

TEST(CalibrationReport, SaysWhatWasMeasuredAndWhetherToTrustIt) {
    // The ruler spreads over 7.8%, the imul chain not at all: the spread
    // shown is the ruler's. The median of the eight windows lies between
    // the middle level and the top one.
    EXPECT_EQ(calibration_report(jumping_calibration()),
              "core clock 2.550 GHz, time-stamp counter 2.500 GHz: 0.9805 ticks per core cycle" + std::string(line_break) +
                  "core clock levels seen: 2.41, 2.50, 2.60 GHz (25%, 25%, 50% of 8 windows)" +
                  std::string(line_break) +
                  "time-stamp ticks per core cycle: 0.9805 (median of 8 windows, spread 7.77%)" +
                  std::string(line_break) +
                  "cross-check: imul edx, eax takes 3.00 core cycles, as expected (3 +- 0.15)" +
                  std::string(line_break) + "time-stamp counter: 2.5000 GHz, against the system clock over 1.00 s" +
                  std::string(line_break));
    const std::string untrusted = calibration_report(jumping_calibration(2.5));
    EXPECT_NE(untrusted.find(std::string("cross-check: imul edx, eax takes 2.50 core cycles, expected 3 +- 0.15") +
                             std::string(line_break) +
                             "core cycles cannot be trusted on this processor: its add and imul chains do not run "
                             "at their known latencies" +
                             std::string(line_break)),
              std::string::npos)
        << untrusted;
    EXPECT_EQ(calibration_report(jumping_calibration()).find("cannot be trusted"), std::string::npos);
}

TEST(Calibration, AReadingsTimeIsTheMidpointOfTheSystemClockReadsAroundTheCounter) {
    // A day into the system's uptime, the system clock moves on by 801 ns
    // while the counter is read: the counter's read stands for the moment
    // 400 ns after the first system read, not for either read.
    static std::string calls;
    static std::size_t system_reads;
    calls.clear();
    system_reads = 0;
    const ClockReading reading = read_clocks(
        [] {
            calls += 's';
            return system_reads++ == 0 ? std::uint64_t{86'400'000'001'000} : std::uint64_t{86'400'000'001'801};
        },
        [] {
            calls += 't';
            return std::uint64_t{123'456'789};
        });
    EXPECT_EQ(calls, "sts");
    EXPECT_EQ(reading.ticks, 123'456'789u);
    EXPECT_EQ(reading.nanoseconds, 86'400'000'001'400u);
}

TEST(Calibration, TimesTheChainsInWindowsBetweenTwoClockReadings) {
    // Every chain's runs leave the times of a 0.8-ticks-per-cycle core.
    static WindowMinimums scripted;
    scripted = window_of(0.8, 4000);
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
    settings.windows = {3, 5};
    settings.minimum_interval_ns = 20'000'000;
    const Calibration calibration = calibrate(settings, chains);
    ASSERT_EQ(calibration.windows.size(), 3u);
    for (const WindowMinimums& window : calibration.windows) EXPECT_EQ(window, scripted);
    // One warm-up window goes first.
    for (std::size_t runs : chain_runs) EXPECT_EQ(runs, 4u * 5u);
    EXPECT_NEAR(calibration.ticks_per_cycle.median, 0.8, 1e-4);
    EXPECT_TRUE(calibration.trusted);
    EXPECT_GE(calibration.interval_seconds(), 0.02);
}

}  // namespace
