#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "run/measurement.hpp"

// The measurement core that every companion shares. A core clock may jump
// between levels a few percent apart every tenth of a second or so, and a
// figure in core cycles is only as good as the ruler it was converted by. So
// a subject's routines and the ruler (the clock's add chains) are timed in
// turns inside one short window, each routine's fastest run in the window is
// converted by the ruler's fastest runs of the same window, and only then are
// the windows brought together, by their median.

// Where a set of values lies: the median and the extremes.
struct Spread {
    double median;
    double lowest;
    double highest;

    // The width from lowest to highest, as a percentage of the median.
    double percent() const { return median == 0 ? 0 : 100 * (highest - lowest) / median; }
};

Spread spread_of(std::vector<double> values);

// Every run of one window, routine by routine: runs[routine][turn] is one
// run's end - start in time-stamp ticks.
using WindowRuns = std::vector<std::vector<std::uint64_t>>;

// Calls the routines in turn, `turns` times round, and keeps the time of
// every run. Taking turns exposes every routine to the same moments, so a
// level change of the core clock, or a neighbour's busy spell, reaches them
// all alike.
WindowRuns time_turns(std::span<const TimedRun> routines, std::uint32_t turns);

// A routine's runs in one window: the fastest, and the middle one (the
// lower of the two middle ones for an even count), which is what most runs
// cost.
struct RunSummary {
    std::uint64_t minimum;
    std::uint64_t median;
    friend constexpr bool operator==(const RunSummary&, const RunSummary&) = default;
};

RunSummary summary_of(std::vector<std::uint64_t> runs);

// longer - shorter as a signed number: a counter that went backwards, or
// noise, can in principle make it negative.
double tick_difference(std::uint64_t shorter, std::uint64_t longer);

// How many windows, and how many turns in each. A window must be short
// beside the time the core clock stays on one level, and long enough for
// every routine to meet a quiet moment; docs/core-cycles.md says how these
// were chosen.
struct WindowSettings {
    std::uint32_t windows;
    std::uint32_t turns;
};
