#pragma once

#include <cstdint>
#include <vector>

#include "clock/calibration.hpp"
#include "clock/windows.hpp"
#include "run/measurement.hpp"

// What the triangles' chains and the movement tables' chains share: a chain
// is a short and a long routine, timed window by window beside the ruler,
// and a figure counts where every window puts it beyond the report's
// resolution.

// The short and the long routine of a chain.
struct ChainRoutines {
    TimedRun shorter;
    TimedRun longer;
};

// One chain in one window: its short and long routine's runs, and the
// ruler's fastest and middle runs in the same window, which convert them.
struct ChainWindow {
    RunSummary shorter;
    RunSummary longer;
    RulerTimes ruler;
    RulerTimes ruler_middle;
    // Every run of the long routine, for the cell's modes.
    std::vector<std::uint64_t> longer_runs;

    // Both rulers can convert (rulers_convert).
    bool usable() const;
};

// Core cycles per extra instruction of a chain in one window: the long
// routine's `extra` instructions of a run over the short one's, the frame
// cancelled. The best figure comes from the fastest runs, by the ruler's
// fastest runs; the typical one from the middle runs, by the ruler's middle
// runs, which ran at the clock that most of the window ran at.
double best_per_extra(const ChainWindow& window, double extra);
double typical_per_extra(const ChainWindow& window, double extra);

// The report shows cycles to a tenth; a cell must lie at least that far
// from zero to count as measured.
inline constexpr double cycle_resolution = 0.1;

// Every value of the spread lies beyond the report's resolution on the same
// side of zero, however far apart the values lie.
bool beyond_resolution(const Spread& spread);
