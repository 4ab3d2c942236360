#include "clock/windows.hpp"

#include <algorithm>

Spread spread_of(std::vector<double> values) {
    if (values.empty()) return {0, 0, 0};
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    const double median = values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    return {median, values.front(), values.back()};
}

WindowRuns time_turns(std::span<const TimedRun> routines, std::uint32_t turns) {
    WindowRuns runs(routines.size(), std::vector<std::uint64_t>(turns));
    for (std::uint32_t turn = 0; turn < turns; ++turn) {
        for (std::size_t i = 0; i < routines.size(); ++i) {
            routines[i]();
            runs[i][turn] = measurement_state.end - measurement_state.start;
        }
    }
    return runs;
}

RunSummary summary_of(std::vector<std::uint64_t> runs) {
    if (runs.empty()) return {0, 0};
    // A counter that went backwards gives a time near 2^64, which sorts
    // last: it can be neither the fastest nor, alone, the middle run.
    std::sort(runs.begin(), runs.end());
    return {runs.front(), runs[(runs.size() - 1) / 2]};
}

double tick_difference(std::uint64_t shorter, std::uint64_t longer) {
    return static_cast<double>(static_cast<std::int64_t>(longer - shorter));
}
