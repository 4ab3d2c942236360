#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "clock/calibration.hpp"
#include "matrix/chains.hpp"

// The smallest times of a chain's short and long routine in one round, in
// time-stamp ticks.
struct ChainMinimums {
    std::uint64_t shorter;
    std::uint64_t longer;
};

// Core cycles per instruction of a chain: the long routine's extra
// instructions over the short one's, the frame cancelled.
double cycles_per_instruction(ChainMinimums minimums, double ticks_per_cycle);

// One round of the matrix: the clock's chains, which give the round its own
// ticks per core cycle, and every chain's minimums in chain_index order;
// chains that were not measured stay zero. A round takes a fraction of a
// second, so a core that changes its clock meanwhile is measured by the
// ruler of the same moment.
struct MatrixRound {
    RoundMinimums ruler{};
    std::array<ChainMinimums, chain_count> chains{};
};

// The report shows cycles to a tenth; a cell must lie at least that far
// from zero, as well as beyond its spread, to count as measured.
inline constexpr double cycle_resolution = 0.1;

struct Cell {
    // Extra core cycles of one round trip, over the rounds.
    Spread cycles;

    // Beyond the width of its rounds, and beyond what the report can show.
    bool measurable() const;
};

struct PenaltyMatrix {
    // The classes measured, indices into instruction_classes in table order.
    std::vector<std::size_t> classes;
    std::vector<MatrixRound> rounds;
    // Time-stamp ticks per core cycle, over the rounds.
    Spread ticks_per_cycle{};
    // Core cycles per instruction of each measured class alone.
    std::array<Spread, class_count> latencies{};
    // The extra cycles of one round trip first -> second -> first, beyond the
    // two latencies, for every pair of measured classes, in chain_index order.
    std::array<Cell, chain_count> round_trips{};
};

// The chains that a set of classes needs: each class alone, and each with
// every later one.
std::vector<ChainPair> chains_of(const std::vector<std::size_t>& classes);

// The arithmetic of the matrix, from its rounds' minimums.
PenaltyMatrix matrix_from(std::vector<std::size_t> classes, std::vector<MatrixRound> rounds);

struct MatrixSettings {
    std::uint32_t rounds = 5;
    // Runs of each routine per chain and round.
    std::uint32_t repetitions = 96;
    // Runs of each of the clock's chains per round.
    std::uint32_t ruler_repetitions = 256;
};

// Times every chain the classes need, round after round, each chain's short
// and long routine in turn, and in every round the clock's chains;
// `progress(done, total)` follows each chain.
PenaltyMatrix measure_matrix(std::vector<std::size_t> classes, const MatrixSettings& settings,
                             const std::function<void(std::size_t, std::size_t)>& progress,
                             std::span<const ChainRoutines, chain_count> routines = matrix_chain_routines,
                             std::span<const ClockChain, clock_chain_count> ruler = clock_chains);
