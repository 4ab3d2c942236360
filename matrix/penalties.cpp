#include "matrix/penalties.hpp"

#include <cmath>

#include "clock/fastest_runs.hpp"

double cycles_per_instruction(ChainMinimums minimums, double ticks_per_cycle) {
    const auto extra_ticks = static_cast<double>(static_cast<std::int64_t>(minimums.longer - minimums.shorter));
    return extra_ticks / (static_cast<double>(long_chain - short_chain) * loop_iterations) / ticks_per_cycle;
}

bool Cell::measurable() const {
    const double width = cycles.highest - cycles.lowest;
    return std::fabs(cycles.median) > width && std::fabs(cycles.median) >= cycle_resolution;
}

std::vector<ChainPair> chains_of(const std::vector<std::size_t>& classes) {
    std::vector<ChainPair> chains;
    for (std::size_t i = 0; i < classes.size(); ++i) {
        for (std::size_t j = i; j < classes.size(); ++j) chains.push_back({classes[i], classes[j]});
    }
    return chains;
}

PenaltyMatrix matrix_from(std::vector<std::size_t> classes, std::vector<MatrixRound> rounds) {
    PenaltyMatrix matrix{std::move(classes), std::move(rounds)};
    std::vector<double> rulers;
    std::array<std::vector<double>, class_count> latencies;
    std::array<std::vector<double>, chain_count> round_trips;
    for (const MatrixRound& round : matrix.rounds) {
        const double ruler = ticks_per_cycle(round.ruler);
        rulers.push_back(ruler);
        auto cycles = [&](ChainPair pair) { return cycles_per_instruction(round.chains[chain_index(pair)], ruler); };
        for (std::size_t c : matrix.classes) latencies[c].push_back(cycles({c, c}));
        for (const ChainPair& pair : chains_of(matrix.classes)) {
            if (pair.first == pair.second) continue;
            // Two instructions per round trip, one of each class.
            round_trips[chain_index(pair)].push_back(2 * cycles(pair) - cycles({pair.first, pair.first}) -
                                                     cycles({pair.second, pair.second}));
        }
    }
    matrix.ticks_per_cycle = spread_of(rulers);
    for (std::size_t c = 0; c < class_count; ++c) matrix.latencies[c] = spread_of(latencies[c]);
    for (std::size_t i = 0; i < chain_count; ++i) matrix.round_trips[i].cycles = spread_of(round_trips[i]);
    return matrix;
}

PenaltyMatrix measure_matrix(std::vector<std::size_t> classes, const MatrixSettings& settings,
                             const std::function<void(std::size_t, std::size_t)>& progress,
                             std::span<const ChainRoutines, chain_count> routines,
                             std::span<const ClockChain, clock_chain_count> ruler) {
    const std::vector<ChainPair> chains = chains_of(classes);
    std::array<TimedRun, clock_chain_count> ruler_routines;
    for (std::size_t i = 0; i < clock_chain_count; ++i) ruler_routines[i] = ruler[i].run;
    std::vector<MatrixRound> rounds(settings.rounds);
    // Every round visits every chain, so that a slow phase of the machine
    // spoils one round of many cells rather than every round of one.
    std::size_t done = 0;
    for (MatrixRound& round : rounds) {
        fastest_runs(ruler_routines, settings.ruler_repetitions, round.ruler);
        for (const ChainPair& chain : chains) {
            const ChainRoutines& pair = routines[chain_index(chain)];
            const TimedRun both[] = {pair.shorter, pair.longer};
            std::uint64_t fastest[2];
            fastest_runs(both, settings.repetitions, fastest);
            round.chains[chain_index(chain)] = {fastest[0], fastest[1]};
            progress(++done, settings.rounds * chains.size());
        }
    }
    return matrix_from(std::move(classes), std::move(rounds));
}
