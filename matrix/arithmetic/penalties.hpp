#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "clock/calibration.hpp"
#include "clock/windows.hpp"
#include "matrix/arithmetic/chains.hpp"
#include "matrix/modes.hpp"

// Core cycles per instruction of a chain in one window: the long routine's
// extra instructions over the short one's, the frame cancelled. The best
// figure comes from the fastest runs, by the ruler's fastest runs; the
// typical one from the middle runs, by the ruler's middle runs, which ran at
// the clock that most of the window ran at.
double best_cycles(const ChainWindow& window);
double typical_cycles(const ChainWindow& window);

// A chain's cycles per instruction over the windows.
struct ChainFigures {
    Spread best;
    Spread typical;
};

struct Cell {
    // Extra core cycles of one round trip beyond both latencies, over the
    // windows: from the fastest runs, and from the middle runs.
    Spread best;
    Spread typical;
    // The alternating chain's runs, each read as a round trip (see modes.hpp).
    Modes modes;

    // Every window puts the round trip beyond the report's resolution on the
    // same side of zero, however far apart the windows lie.
    bool measurable() const;
    bool bimodal() const { return modes.bimodal(); }
};

// Settings for the matrix's windows: the routines of a few chains and the
// ruler in turns. Fewer turns than the clock's: the 703 chains of the SSE
// family must fit in a few seconds, and every family together in well under
// a quarter of a minute. A window holds `chains_per_window` chains beside
// one ruler, which converts them all: the ruler's 32 add instructions an
// iteration, at 4,096 iterations, would otherwise take longer than a chain
// of one-cycle instructions, and the window stays a few milliseconds long.
struct MatrixSettings {
    WindowSettings windows{12, 12};
    std::uint32_t chains_per_window = 8;
};

struct PenaltyMatrix {
    const ClassTable* table;
    // The classes measured, indices into the table's classes in its order.
    std::vector<std::size_t> classes;
    MatrixSettings settings;
    // Every measured chain's windows, in chain_index order; chains that were
    // not measured have none.
    std::vector<std::vector<ChainWindow>> windows;
    // Time-stamp ticks per core cycle over every chain's windows.
    Spread ticks_per_cycle{};
    // Core cycles per instruction of each measured class alone, by class.
    std::vector<ChainFigures> latencies;
    // The extra cycles of one round trip first -> second -> first, beyond the
    // two latencies, for every pair of measured classes, in chain_index order.
    std::vector<Cell> round_trips;

    const Cell& cell(std::size_t a, std::size_t b) const;
};

// The chains that a set of classes needs: each class alone, and each with
// every later one.
std::vector<ChainPair> chains_of(const std::vector<std::size_t>& classes);

// The arithmetic of the matrix, from its windows (one list per chain of the
// table, in chain_index order).
PenaltyMatrix matrix_from(const ClassTable& table, std::vector<std::size_t> classes, MatrixSettings settings,
                          std::vector<std::vector<ChainWindow>> windows);

// Times every chain the classes need, window after window, the short and
// long routines of chains_per_window chains after each other in the order of
// chains_of, and the ruler, in turns; `progress()` follows each chain's
// window, of which there are windows * chains_of(classes).size(). `routines`
// stands in for the table's own in tests.
PenaltyMatrix measure_matrix(const ClassTable& table, std::vector<std::size_t> classes, const MatrixSettings& settings,
                             const std::function<void()>& progress, std::span<const ChainRoutines> routines = {},
                             std::span<const ClockChain, clock_chain_count> ruler = clock_chains);
