#include "matrix/modes.hpp"

#include <algorithm>

#include "clock/windows.hpp"

Modes modes_of(std::vector<Reading> readings, double centre, std::size_t runs) {
    Modes modes{0, 0, runs};
    std::sort(readings.begin(), readings.end(), [](const Reading& a, const Reading& b) { return a.value > b.value; });
    // From the centre down, the first gap wider than the margin.
    double above = centre;
    auto fast = readings.end();
    for (auto reading = readings.begin(); reading != readings.end(); ++reading) {
        if (reading->value >= centre) continue;
        if (above - reading->value > bimodal_margin) {
            fast = reading;
            break;
        }
        above = reading->value;
    }
    std::size_t count = 0;
    for (auto reading = fast; reading != readings.end(); ++reading) count += reading->count;
    if (count == 0) return modes;
    // The median run of the fast mode, the runs in ascending order.
    const std::size_t lower = (count - 1) / 2, upper = count / 2;
    double low = 0, high = 0;
    std::size_t seen = 0;
    for (auto reading = readings.end(); reading != fast;) {
        --reading;
        if (seen <= lower && lower < seen + reading->count) low = reading->value;
        if (seen <= upper && upper < seen + reading->count) high = reading->value;
        seen += reading->count;
    }
    modes.fast = (low + high) / 2;
    modes.fast_runs = count;
    return modes;
}

Modes modes_of_windows(const std::vector<ModeWindow>& windows, double best, double units_per_cycle) {
    std::vector<double> fastest;
    for (const ModeWindow& window : windows) fastest.push_back(static_cast<double>(window.fastest) / window.ticks_per_cycle);
    const double origin = spread_of(fastest).median;
    std::vector<Reading> readings;
    std::vector<double> middles;
    std::size_t runs = 0;
    for (const ModeWindow& window : windows) {
        auto reading = [&](std::uint64_t run) {
            return best + units_per_cycle * (static_cast<double>(run) / window.ticks_per_cycle - origin);
        };
        middles.push_back(reading(window.middle));
        for (std::uint64_t run : window.runs) readings.push_back({reading(run), 1});
        runs += window.runs.size();
    }
    return modes_of(std::move(readings), spread_of(middles).median, runs);
}
