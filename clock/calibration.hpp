#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "clock/chains.hpp"
#include "clock/windows.hpp"

// The smallest time of each chain in one window, in time-stamp ticks, in the
// order of clock_chains.
using WindowMinimums = std::array<std::uint64_t, clock_chain_count>;

// The ruler's short and long add chain in one window: their fastest runs, or
// their middle runs.
struct RulerTimes {
    std::uint64_t shorter;
    std::uint64_t longer;
};

// Time-stamp ticks per core cycle from one window's ruler: the long add
// chain's extra instructions take one cycle each, and the difference of the
// two chains' times cancels the frame. Not positive where the counter went
// backwards or the window was disturbed beyond use.
double ticks_per_cycle(RulerTimes ruler, std::span<const ClockChain, clock_chain_count> chains = clock_chains);
double ticks_per_cycle(const WindowMinimums& window,
                       std::span<const ClockChain, clock_chain_count> chains = clock_chains);

// Whether a window's rulers, from its fastest and its middle runs, can both
// convert: a counter that went backwards can leave one that cannot.
bool rulers_convert(RulerTimes fastest, RulerTimes middle);

// The ruler's two routines, short then long, as the other companions time
// them beside their own.
std::array<TimedRun, 2> ruler_routines(std::span<const ClockChain, clock_chain_count> chains = clock_chains);

// Core cycles per instruction of the imul chain, by the given ruler.
double imul_cycles(const WindowMinimums& window, double ticks_per_cycle,
                   std::span<const ClockChain, clock_chain_count> chains = clock_chains);

// The imul chain must come out at its known latency within this much;
// otherwise the add chain did not run at one instruction per cycle.
inline constexpr double imul_tolerance = 0.15;
bool cross_check_passes(double imul_cycles, std::span<const ClockChain, clock_chain_count> chains = clock_chains);

// The time-stamp counter and the system's monotonic clock read together.
struct ClockReading {
    std::uint64_t ticks;
    std::uint64_t nanoseconds;
};

// Reads both clocks: the counter between two reads of the system clock, whose
// mean stands for the moment of the counter's read. Tests hand in scripted
// clocks; the program reads the system's clock and the time-stamp counter.
using ClockReader = std::uint64_t (*)();
ClockReading read_clocks(ClockReader system_clock, ClockReader counter);
ClockReading read_clocks();

double counter_hz(ClockReading first, ClockReading last);

struct Calibration {
    std::vector<WindowMinimums> windows;
    Spread ticks_per_cycle;
    Spread imul_cycles;
    bool trusted;
    ClockReading first;
    ClockReading last;

    double counter_hz() const { return ::counter_hz(first, last); }
    double core_hz() const { return counter_hz() / ticks_per_cycle.median; }
    double interval_seconds() const { return (last.nanoseconds - first.nanoseconds) * 1e-9; }
};

// The arithmetic of a calibration, from its windows' minimums and the clock
// readings that enclose them.
Calibration calibration_from(std::vector<WindowMinimums> windows, ClockReading first, ClockReading last,
                             std::span<const ClockChain, clock_chain_count> chains = clock_chains);

// One level of the core clock, and how many windows ran at it.
struct ClockLevel {
    double hz;
    std::size_t windows;
};

// Two windows whose core clocks differ by more than this share stand on
// different levels; within one level the windows scatter by far less.
inline constexpr double level_gap = 0.01;

// The levels that the windows' core clocks fall on, slowest first: each the
// median of a run of windows whose clocks, sorted, lie within level_gap of
// the next.
std::vector<ClockLevel> clock_levels(const Calibration& calibration);

struct CalibrationSettings {
    // One more window goes first and is not kept: it meets cold caches and
    // predictors, and a core still raising its clock.
    WindowSettings windows{48, 32};
    // The counter's rate is taken over at least this long.
    std::uint64_t minimum_interval_ns = 100'000'000;
};

// Times the chains, window after window, and the counter against the system
// clock over the whole of it. SIMD_MIX_FAIL_CROSS_CHECK=1 in the environment
// makes the result untrusted whatever the chains say, for the tests.
Calibration calibrate(const CalibrationSettings& settings = {},
                      std::span<const ClockChain, clock_chain_count> chains = clock_chains);
