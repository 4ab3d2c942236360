#pragma once

#include <cstddef>
#include <cstdint>

// The timing record. Every field is a 64-bit time stamp or difference of
// time stamps, lower half first; the timed runs store into `start` and `end`.
struct MeasurementState {
    std::uint64_t start;
    std::uint64_t end;
    std::uint64_t best_delta;
    std::uint64_t best_start;
    std::uint64_t best_end;
};

// The timed runs address `start` at offset 0 and `end` at offset 8.
static_assert(offsetof(MeasurementState, start) == 0);
static_assert(offsetof(MeasurementState, end) == 8);

extern "C" MeasurementState measurement_state;

// The loop of every timed run repeats its body this many times: the frame
// loads it into ECX.
inline constexpr std::uint32_t loop_iterations = 4096;

using TimedRun = void (*)();

struct TestCase;

// Makes `repetitions` (at least 1) calls of `timed_run`, keeping the run with
// the smallest end - start; afterwards start and end hold that run's stamps.
// The clock stays out of it: `timed_run` only has to leave start and end.
void measure_runs(TimedRun timed_run, std::uint32_t repetitions);

void measure_test(const TestCase& test);

// Writes end - start, taken as a signed 64-bit number, in decimal.
void print_cycle_count();
