#include "clock/calibration.hpp"

#include <algorithm>
#include <cmath>

#include "clock/fastest_runs.hpp"
#include "clock/system_clock.hpp"

Spread spread_of(std::vector<double> values) {
    if (values.empty()) return {0, 0, 0};
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    const double median = values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    return {median, values.front(), values.back()};
}

namespace {

// The extra core cycles per timed run of the long chain over the short one.
double extra_cycles(const ClockChain& shorter, const ClockChain& longer) {
    return static_cast<double>(longer.length - shorter.length) * longer.instruction->latency * loop_iterations;
}

// The long chain's time minus the short one's, as a signed number: noise
// can, in principle, make it negative.
double difference(const RoundMinimums& round, ClockChainIndex shorter, ClockChainIndex longer) {
    return static_cast<double>(static_cast<std::int64_t>(round[longer] - round[shorter]));
}

}  // namespace

double ticks_per_cycle(const RoundMinimums& round, std::span<const ClockChain, clock_chain_count> chains) {
    return difference(round, add_short, add_long) / extra_cycles(chains[add_short], chains[add_long]);
}

double imul_cycles(const RoundMinimums& round, double ticks_per_cycle,
                   std::span<const ClockChain, clock_chain_count> chains) {
    const double extra_instructions = chains[imul_long].length - chains[imul_short].length;
    return difference(round, imul_short, imul_long) / (extra_instructions * loop_iterations) / ticks_per_cycle;
}

bool cross_check_passes(double imul_cycles, std::span<const ClockChain, clock_chain_count> chains) {
    return std::fabs(imul_cycles - chains[imul_long].instruction->latency) <= imul_tolerance;
}

ClockReading read_clocks() {
    const std::uint64_t before = system_nanoseconds();
    const std::uint64_t ticks = __builtin_ia32_rdtsc();
    const std::uint64_t after = system_nanoseconds();
    return {ticks, before + (after - before) / 2};
}

double counter_hz(ClockReading first, ClockReading last) {
    const double seconds = (last.nanoseconds - first.nanoseconds) * 1e-9;
    return seconds > 0 ? (last.ticks - first.ticks) / seconds : 0;
}

Calibration calibration_from(std::vector<RoundMinimums> rounds, ClockReading first, ClockReading last,
                             std::span<const ClockChain, clock_chain_count> chains) {
    std::vector<double> rulers, imuls;
    for (const RoundMinimums& round : rounds) {
        rulers.push_back(ticks_per_cycle(round, chains));
        imuls.push_back(imul_cycles(round, rulers.back(), chains));
    }
    Calibration calibration{std::move(rounds), spread_of(rulers), spread_of(imuls), false, first, last};
    calibration.trusted = calibration.ticks_per_cycle.median > 0 && cross_check_passes(calibration.imul_cycles.median, chains);
    return calibration;
}

Calibration calibrate(const CalibrationSettings& settings, std::span<const ClockChain, clock_chain_count> chains) {
    std::array<TimedRun, clock_chain_count> routines;
    std::transform(chains.begin(), chains.end(), routines.begin(), [](const ClockChain& chain) { return chain.run; });
    const ClockReading first = read_clocks();
    RoundMinimums warm_up;
    fastest_runs(routines, settings.repetitions, warm_up);
    std::vector<RoundMinimums> rounds(settings.rounds);
    for (RoundMinimums& round : rounds) fastest_runs(routines, settings.repetitions, round);
    ClockReading last = read_clocks();
    // A short calibration still measures the counter's rate over the whole
    // interval, for precision.
    while (last.nanoseconds - first.nanoseconds < settings.minimum_interval_ns) last = read_clocks();
    return calibration_from(std::move(rounds), first, last, chains);
}
