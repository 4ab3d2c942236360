#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "clock/calibration.hpp"
#include "clock/windows.hpp"
#include "matrix/chain_windows.hpp"
#include "matrix/modes.hpp"
#include "matrix/movement/movement_forms.hpp"

// One step of a cell's chain, instruction by instruction: the store, the
// load and the arithmetic; and the loop body of `steps` of them.
std::vector<Instruction> movement_step(const MovementTable& table, const MovementCell& cell);
std::vector<Instruction> movement_body(const MovementTable& table, std::size_t cell, std::uint32_t steps);

// Core cycles of one step in one window: the long routine's extra step over
// the short one's, the frame cancelled; from the fastest runs by the
// ruler's fastest, and from the middle runs by the ruler's middle runs.
double step_best(const ChainWindow& window);
double step_typical(const ChainWindow& window);

// A cell over the windows: its step's cycles, and the extra over its
// reference cell's step, window by window.
struct MovementFigures {
    Spread best{};
    Spread typical{};
    Spread extra_best{};
    Spread extra_typical{};
    // The cell's runs, each read as the figure the table shows for it: the
    // extra over the reference, or for the reference itself its step's
    // cycles (see modes.hpp).
    Modes modes{};

    // Every window puts the extra beyond the report's resolution on the same
    // side of zero, however far apart the windows lie.
    bool measurable() const { return beyond_resolution(extra_best); }
    bool bimodal() const { return modes.bimodal(); }
};

// The matrix's windows: each chain's two routines and the ruler in turns.
struct MovementSettings {
    WindowSettings windows{12, 12};
};

// A table as planned for one family: the cells to measure, indices into the
// table's cells in its order, every cell's reference among them; and the
// cells of the family that the processor cannot run, and why.
struct MovementSelection {
    const MovementTable* table;
    std::vector<std::size_t> cells;
    std::vector<std::pair<std::size_t, std::string>> left_out;
};

struct MovementResult {
    MovementSelection selection;
    MovementSettings settings;
    // Every measured cell's windows, by cell index; the others have none.
    std::vector<std::vector<ChainWindow>> windows;
    // By cell index.
    std::vector<MovementFigures> figures;
};

// The arithmetic of a table from its windows (one list per cell).
MovementResult movement_from(MovementSelection selection, MovementSettings settings,
                             std::vector<std::vector<ChainWindow>> windows);

// Times every cell selected, window after window, each cell's short and long
// routine and the ruler in turns; `progress()` follows each cell's window.
// `routines` stands in for the table's own in tests.
MovementResult measure_movement(MovementSelection selection, const MovementSettings& settings,
                                const std::function<void()>& progress, std::span<const ChainRoutines> routines = {},
                                std::span<const ClockChain, clock_chain_count> ruler = clock_chains);
