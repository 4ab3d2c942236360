#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "clock/chains.hpp"

// The smallest time of each chain in one round, in time-stamp ticks, in the
// order of clock_chains.
using RoundMinimums = std::array<std::uint64_t, clock_chain_count>;

// Where a set of values lies: the median and the extremes.
struct Spread {
    double median;
    double lowest;
    double highest;

    // The width from lowest to highest, as a percentage of the median.
    double percent() const { return median == 0 ? 0 : 100 * (highest - lowest) / median; }
};

Spread spread_of(std::vector<double> values);

// Time-stamp ticks per core cycle from one round: the long add chain's extra
// instructions take one cycle each, and the difference of the two chains'
// times cancels the frame.
double ticks_per_cycle(const RoundMinimums& round, std::span<const ClockChain, clock_chain_count> chains = clock_chains);

// Core cycles per instruction of the imul chain, by the given ruler.
double imul_cycles(const RoundMinimums& round, double ticks_per_cycle,
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
// mean stands for the moment of the counter's read.
ClockReading read_clocks();

double counter_hz(ClockReading first, ClockReading last);

struct Calibration {
    std::vector<RoundMinimums> rounds;
    Spread ticks_per_cycle;
    Spread imul_cycles;
    bool trusted;
    ClockReading first;
    ClockReading last;

    double counter_hz() const { return ::counter_hz(first, last); }
    double core_hz() const { return counter_hz() / ticks_per_cycle.median; }
    double interval_seconds() const { return (last.nanoseconds - first.nanoseconds) * 1e-9; }
};

// The arithmetic of a calibration, from its rounds' minimums and the clock
// readings that enclose them.
Calibration calibration_from(std::vector<RoundMinimums> rounds, ClockReading first, ClockReading last,
                             std::span<const ClockChain, clock_chain_count> chains = clock_chains);

struct CalibrationSettings {
    // One more round goes first and is not kept: it meets cold caches and
    // predictors, and a core still raising its clock.
    std::uint32_t rounds = 7;
    // Runs of each chain per round. Long rounds of short runs: a neighbour
    // that slows the core for a while (another guest on the same physical
    // core, say) then rarely spoils a whole round.
    std::uint32_t repetitions = 768;
    // The counter's rate is taken over at least this long.
    std::uint64_t minimum_interval_ns = 100'000'000;
};

// Times the chains, round after round, and the counter against the system
// clock over the whole of it.
Calibration calibrate(const CalibrationSettings& settings = {},
                      std::span<const ClockChain, clock_chain_count> chains = clock_chains);
