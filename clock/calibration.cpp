#include "clock/calibration.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "clock/system_clock.hpp"

namespace {

// The extra core cycles per timed run of the long chain over the short one.
double extra_cycles(const ClockChain& shorter, const ClockChain& longer) {
    return static_cast<double>(longer.length - shorter.length) * longer.instruction->latency * loop_iterations;
}

}  // namespace

double ticks_per_cycle(RulerTimes ruler, std::span<const ClockChain, clock_chain_count> chains) {
    return tick_difference(ruler.shorter, ruler.longer) / extra_cycles(chains[add_short], chains[add_long]);
}

double ticks_per_cycle(const WindowMinimums& window, std::span<const ClockChain, clock_chain_count> chains) {
    return ticks_per_cycle(RulerTimes{window[add_short], window[add_long]}, chains);
}

bool rulers_convert(RulerTimes fastest, RulerTimes middle) {
    return ticks_per_cycle(fastest) > 0 && ticks_per_cycle(middle) > 0;
}

std::array<TimedRun, 2> ruler_routines(std::span<const ClockChain, clock_chain_count> chains) {
    return {chains[add_short].run, chains[add_long].run};
}

double imul_cycles(const WindowMinimums& window, double ticks_per_cycle,
                   std::span<const ClockChain, clock_chain_count> chains) {
    const double extra_instructions = chains[imul_long].length - chains[imul_short].length;
    return tick_difference(window[imul_short], window[imul_long]) / (extra_instructions * loop_iterations) /
           ticks_per_cycle;
}

bool cross_check_passes(double imul_cycles, std::span<const ClockChain, clock_chain_count> chains) {
    return std::fabs(imul_cycles - chains[imul_long].instruction->latency) <= imul_tolerance;
}

ClockReading read_clocks(ClockReader system_clock, ClockReader counter) {
    const std::uint64_t before = system_clock();
    const std::uint64_t ticks = counter();
    const std::uint64_t after = system_clock();
    return {ticks, before + (after - before) / 2};
}

ClockReading read_clocks() {
    return read_clocks(system_nanoseconds, [] { return static_cast<std::uint64_t>(__builtin_ia32_rdtsc()); });
}

double counter_hz(ClockReading first, ClockReading last) {
    const double seconds = (last.nanoseconds - first.nanoseconds) * 1e-9;
    return seconds > 0 ? (last.ticks - first.ticks) / seconds : 0;
}

Calibration calibration_from(std::vector<WindowMinimums> windows, ClockReading first, ClockReading last,
                             std::span<const ClockChain, clock_chain_count> chains) {
    std::vector<double> rulers, imuls;
    for (const WindowMinimums& window : windows) {
        // A window whose ruler cannot convert (a counter that went
        // backwards) says nothing.
        const double ruler = ticks_per_cycle(window, chains);
        if (ruler <= 0) continue;
        rulers.push_back(ruler);
        // Each window's imul chain by the ruler of the same window.
        imuls.push_back(imul_cycles(window, ruler, chains));
    }
    Calibration calibration{std::move(windows), spread_of(rulers), spread_of(imuls), false, first, last};
    calibration.trusted =
        calibration.ticks_per_cycle.median > 0 && cross_check_passes(calibration.imul_cycles.median, chains);
    return calibration;
}

std::vector<ClockLevel> clock_levels(const Calibration& calibration) {
    const double counter = calibration.counter_hz();
    std::vector<double> clocks;
    for (const WindowMinimums& window : calibration.windows) {
        const double ruler = ticks_per_cycle(window);
        if (ruler > 0) clocks.push_back(counter / ruler);
    }
    std::sort(clocks.begin(), clocks.end());
    std::vector<ClockLevel> levels;
    std::vector<double> level;
    for (std::size_t i = 0; i < clocks.size(); ++i) {
        level.push_back(clocks[i]);
        if (i + 1 == clocks.size() || clocks[i + 1] > clocks[i] * (1 + level_gap)) {
            levels.push_back({spread_of(level).median, level.size()});
            level.clear();
        }
    }
    return levels;
}

Calibration calibrate(const CalibrationSettings& settings, std::span<const ClockChain, clock_chain_count> chains) {
    std::array<TimedRun, clock_chain_count> routines;
    std::transform(chains.begin(), chains.end(), routines.begin(), [](const ClockChain& chain) { return chain.run; });
    auto window_minimums = [&] {
        const WindowRuns runs = time_turns(routines, settings.windows.turns);
        WindowMinimums minimums;
        for (std::size_t i = 0; i < clock_chain_count; ++i) minimums[i] = summary_of(runs[i]).minimum;
        return minimums;
    };
    const ClockReading first = read_clocks();
    window_minimums();
    std::vector<WindowMinimums> windows(settings.windows.windows);
    for (WindowMinimums& window : windows) window = window_minimums();
    ClockReading last = read_clocks();
    // A short calibration still measures the counter's rate over the whole
    // interval, for precision.
    while (last.nanoseconds - first.nanoseconds < settings.minimum_interval_ns) last = read_clocks();
    Calibration calibration = calibration_from(std::move(windows), first, last, chains);
    // A seam for the end-to-end tests of the programs that must refuse core
    // cycles when the cross-check fails, which no healthy processor does.
    if (const char* forced = std::getenv("SIMD_MIX_FAIL_CROSS_CHECK"); forced && std::string_view(forced) == "1") {
        calibration.trusted = false;
    }
    return calibration;
}
