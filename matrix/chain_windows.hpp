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

// The report shows cycles to a tenth; a cell must lie at least that far
// from zero to count as measured.
inline constexpr double cycle_resolution = 0.1;

// Every value of the spread lies beyond the report's resolution on the same
// side of zero, however far apart the values lie.
bool beyond_resolution(const Spread& spread);
