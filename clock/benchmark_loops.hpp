#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "clock/calibration.hpp"
#include "clock/windows.hpp"
#include "console/json_document.hpp"
#include "run/test_table.hpp"

extern "C" {
// The benchmark's routines, each called with its inputs seeded.
void seeded_run_empty_loop();
void seeded_run_integer_moves_integer_arithmetic();
void seeded_run_float_moves_integer_arithmetic();
void seeded_run_float_moves_float_arithmetic();
void seeded_run_alternating_types();

// The scratch block's value, then XMM1..XMM4, as every seeded run starts.
extern const std::uint32_t benchmark_loop_values[5][4];
// XMM0 as the last seeded run left it.
extern std::uint32_t benchmark_loop_result[4];
}

inline constexpr std::size_t loop_count = std::size(test_table);

// One of the benchmark's tests and the routine that runs it seeded.
struct BenchmarkLoop {
    const TestCase* test;
    TimedRun seeded;
};

// clang-format off
inline constexpr BenchmarkLoop benchmark_loops[loop_count] = {
    {&test_table[0], seeded_run_empty_loop},
    {&test_table[1], seeded_run_integer_moves_integer_arithmetic},
    {&test_table[2], seeded_run_float_moves_integer_arithmetic},
    {&test_table[3], seeded_run_float_moves_float_arithmetic},
    {&test_table[4], seeded_run_alternating_types},
};
// clang-format on

// One window: every loop's runs, and the ruler's fastest and middle runs, in
// turns.
struct LoopWindow {
    std::array<RunSummary, loop_count> loops;
    RulerTimes ruler;
    RulerTimes ruler_middle;

    // Both rulers can convert (rulers_convert).
    bool usable() const;
};

// One loop in core cycles per iteration, the frame included as in the
// benchmark's own counts: the best from each window's fastest run by the
// ruler's fastest runs, the typical from its middle run by the ruler's
// middle runs, which ran at the clock that most of the window ran at.
struct LoopFigures {
    Spread best;
    Spread typical;
};

struct LoopCycles {
    WindowSettings settings;
    std::vector<LoopWindow> windows;
    Spread ticks_per_cycle;
    std::array<LoopFigures, loop_count> loops;
};

// Core cycles per iteration of `ticks` by one of a window's rulers.
double cycles_per_iteration(double ticks, RulerTimes ruler);

LoopCycles loop_cycles_from(WindowSettings settings, std::vector<LoopWindow> windows);

inline constexpr WindowSettings loop_window_settings{32, 32};

// Times the seeded loops and the ruler in windows, after one window that is
// not kept.
LoopCycles measure_loop_cycles(WindowSettings settings = loop_window_settings,
                               std::span<const BenchmarkLoop, loop_count> loops = benchmark_loops,
                               std::span<const ClockChain, clock_chain_count> ruler = clock_chains);

// The loops' figures as plain lines, each ended by a line break, and as a
// JSON object.
std::string loop_cycles_report(const LoopCycles& cycles);
Json loop_cycles_json(const LoopCycles& cycles);
