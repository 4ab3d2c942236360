#include "matrix/arithmetic/penalties.hpp"

#include <algorithm>
#include <cmath>

namespace {

// The long routine's extra instructions of a run over the short one's.
constexpr double extra_instructions = static_cast<double>(long_chain - short_chain) * chain_iterations;

}  // namespace

double best_cycles(const ChainWindow& window) { return best_per_extra(window, extra_instructions); }

double typical_cycles(const ChainWindow& window) { return typical_per_extra(window, extra_instructions); }

bool Cell::measurable() const { return beyond_resolution(best); }

const Cell& PenaltyMatrix::cell(std::size_t a, std::size_t b) const {
    return round_trips[table->chain_index({std::min(a, b), std::max(a, b)})];
}

std::vector<ChainPair> chains_of(const std::vector<std::size_t>& classes) {
    std::vector<ChainPair> chains;
    for (std::size_t i = 0; i < classes.size(); ++i) {
        for (std::size_t j = i; j < classes.size(); ++j) chains.push_back({classes[i], classes[j]});
    }
    return chains;
}

PenaltyMatrix matrix_from(const ClassTable& table, std::vector<std::size_t> classes, MatrixSettings settings,
                          std::vector<std::vector<ChainWindow>> windows) {
    windows.resize(table.chain_count());
    PenaltyMatrix matrix{&table, std::move(classes), settings, std::move(windows), {}, {}, {}};
    matrix.latencies.resize(table.classes.size());
    matrix.round_trips.resize(table.chain_count());
    auto chain_index = [&](ChainPair pair) { return table.chain_index(pair); };
    std::vector<double> rulers;
    for (const ChainPair& pair : chains_of(matrix.classes)) {
        for (const ChainWindow& window : matrix.windows[chain_index(pair)]) {
            if (window.usable()) rulers.push_back(ticks_per_cycle(window.ruler));
        }
    }
    matrix.ticks_per_cycle = spread_of(rulers);
    // A chain's figure in each usable window, by that window's own ruler.
    auto each_window = [&](ChainPair pair, double (*figure)(const ChainWindow&)) {
        std::vector<double> values;
        for (const ChainWindow& window : matrix.windows[chain_index(pair)]) {
            if (window.usable()) values.push_back(figure(window));
        }
        return values;
    };
    for (std::size_t c : matrix.classes) {
        matrix.latencies[c] = {spread_of(each_window({c, c}, best_cycles)),
                               spread_of(each_window({c, c}, typical_cycles))};
    }
    for (const ChainPair& pair : chains_of(matrix.classes)) {
        if (pair.first == pair.second) continue;
        // Two instructions per round trip, one of each class; the windows of
        // the three chains are paired by their order, where all three can be
        // converted.
        const std::vector<ChainWindow>& both = matrix.windows[chain_index(pair)];
        const std::vector<ChainWindow>& first = matrix.windows[chain_index({pair.first, pair.first})];
        const std::vector<ChainWindow>& second = matrix.windows[chain_index({pair.second, pair.second})];
        auto round_trip = [&](std::size_t w, double (*figure)(const ChainWindow&)) {
            return 2 * figure(both[w]) - figure(first[w]) - figure(second[w]);
        };
        std::vector<double> best, typical;
        std::vector<ModeWindow> runs;
        for (std::size_t w = 0; w < both.size() && w < first.size() && w < second.size(); ++w) {
            if (!both[w].usable() || !first[w].usable() || !second[w].usable()) continue;
            best.push_back(round_trip(w, best_cycles));
            typical.push_back(round_trip(w, typical_cycles));
            runs.push_back({ticks_per_cycle(both[w].ruler), both[w].longer.minimum, both[w].longer.median,
                            both[w].longer_runs});
        }
        const Spread best_trips = spread_of(best);
        // A run's cycles spread over the long routine's instructions, two of
        // them to a round trip.
        matrix.round_trips[chain_index(pair)] = {
            best_trips, spread_of(typical),
            modes_of_windows(runs, best_trips.median, 2 / (static_cast<double>(long_chain) * chain_iterations))};
    }
    return matrix;
}

PenaltyMatrix measure_matrix(const ClassTable& table, std::vector<std::size_t> classes, const MatrixSettings& settings,
                             const std::function<void()>& progress, std::span<const ChainRoutines> routines,
                             std::span<const ClockChain, clock_chain_count> ruler) {
    if (routines.empty()) routines = table.routines;
    const std::vector<ChainPair> chains = chains_of(classes);
    const std::array<TimedRun, 2> rule = ruler_routines(ruler);
    std::vector<std::vector<ChainWindow>> windows(table.chain_count());
    const std::size_t group = std::max<std::size_t>(settings.chains_per_window, 1);
    // Every pass visits every chain once, so that a neighbour's busy spell
    // spoils one window of many chains rather than many windows of one.
    for (std::uint32_t pass = 0; pass < settings.windows.windows; ++pass) {
        for (std::size_t first = 0; first < chains.size(); first += group) {
            const std::size_t count = std::min(group, chains.size() - first);
            std::vector<TimedRun> turn;
            for (std::size_t i = 0; i < count; ++i) {
                const ChainRoutines& pair = routines[table.chain_index(chains[first + i])];
                turn.push_back(pair.shorter);
                turn.push_back(pair.longer);
            }
            turn.push_back(rule[0]);
            turn.push_back(rule[1]);
            WindowRuns runs = time_turns(turn, settings.windows.turns);
            const RunSummary ruler_short = summary_of(runs[2 * count]), ruler_long = summary_of(runs[2 * count + 1]);
            for (std::size_t i = 0; i < count; ++i) {
                windows[table.chain_index(chains[first + i])].push_back(
                    {summary_of(runs[2 * i]), summary_of(runs[2 * i + 1]), {ruler_short.minimum, ruler_long.minimum},
                     {ruler_short.median, ruler_long.median}, std::move(runs[2 * i + 1])});
                progress();
            }
        }
    }
    return matrix_from(table, std::move(classes), settings, std::move(windows));
}
