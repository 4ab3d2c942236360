#pragma once

#include <cstdint>
#include <span>

#include "run/measurement.hpp"

// Calls the routines in turn, `repetitions` times round, and keeps for each
// the smallest end - start (modulo 2^64) that its runs left in
// measurement_state. Taking turns exposes every routine to the same
// conditions, so a slow phase of the machine cannot favour one of them.
void fastest_runs(std::span<const TimedRun> routines, std::uint32_t repetitions, std::span<std::uint64_t> fastest);
