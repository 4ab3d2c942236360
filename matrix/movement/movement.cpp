#include "matrix/movement/movement.hpp"

#include <array>

extern "C" {
alignas(64) std::uint8_t movement_slot[64];
}

MovementTables movement_tables_of(const Family& family) {
    switch (family.table->width) {
        case 16: return {&sse_types, &sse_widths};
        case 32: return {&vex256_types, &vex256_widths};
        default: return {&evex512_types, &evex512_widths};
    }
}

std::vector<Instruction> movement_step(const MovementTable& table, const MovementCell& cell) {
    std::vector<Instruction> step;
    for (const MovementSide* side :
         {&table.stores[cell.store], &table.loads[cell.load], &table.arithmetic[cell.arithmetic]}) {
        for (std::size_t i = 0; i < side->size(); ++i) step.push_back({side->forms[i]});
    }
    return step;
}

std::vector<Instruction> movement_body(const MovementTable& table, std::size_t cell, std::uint32_t steps) {
    const std::vector<Instruction> step = movement_step(table, table.cells[cell]);
    std::vector<Instruction> body;
    for (std::uint32_t i = 0; i < steps; ++i) body.insert(body.end(), step.begin(), step.end());
    return body;
}

namespace {

// The long routine's extra steps of a run over the short one's.
constexpr double extra_steps = static_cast<double>(long_steps - short_steps) * loop_iterations;

}  // namespace

double step_best(const ChainWindow& window) { return best_per_extra(window, extra_steps); }

double step_typical(const ChainWindow& window) { return typical_per_extra(window, extra_steps); }

MovementResult movement_from(MovementSelection selection, MovementSettings settings,
                             std::vector<std::vector<ChainWindow>> windows) {
    const MovementTable& table = *selection.table;
    windows.resize(table.cells.size());
    MovementResult result{std::move(selection), settings, std::move(windows), {}};
    result.figures.resize(table.cells.size());
    // A figure in each usable window, by that window's own ruler.
    auto each_window = [&](std::size_t cell, double (*figure)(const ChainWindow&)) {
        std::vector<double> values;
        for (const ChainWindow& window : result.windows[cell]) {
            if (window.usable()) values.push_back(figure(window));
        }
        return values;
    };
    // The extra over the reference, the windows of the two chains paired by
    // their order where both can be converted.
    auto extras = [&](std::size_t cell, double (*figure)(const ChainWindow&)) {
        const std::vector<ChainWindow>& own = result.windows[cell];
        const std::vector<ChainWindow>& reference = result.windows[table.cells[cell].reference];
        std::vector<double> values;
        for (std::size_t w = 0; w < own.size() && w < reference.size(); ++w) {
            if (own[w].usable() && reference[w].usable()) values.push_back(figure(own[w]) - figure(reference[w]));
        }
        return spread_of(values);
    };
    // The cell's runs, window by window where its extra can be converted,
    // each spread over the long routine's steps.
    auto modes = [&](std::size_t cell, double best) {
        const std::vector<ChainWindow>& own = result.windows[cell];
        const std::vector<ChainWindow>& reference = result.windows[table.cells[cell].reference];
        std::vector<ModeWindow> runs;
        for (std::size_t w = 0; w < own.size() && w < reference.size(); ++w) {
            if (!own[w].usable() || !reference[w].usable()) continue;
            runs.push_back({ticks_per_cycle(own[w].ruler), own[w].longer.minimum, own[w].longer.median,
                            own[w].longer_runs});
        }
        return modes_of_windows(runs, best, 1 / (static_cast<double>(long_steps) * loop_iterations));
    };
    for (std::size_t cell : result.selection.cells) {
        MovementFigures& figures = result.figures[cell];
        figures = {spread_of(each_window(cell, step_best)), spread_of(each_window(cell, step_typical)),
                   extras(cell, step_best), extras(cell, step_typical)};
        figures.modes = modes(cell, table.cells[cell].reference == cell ? figures.best.median : figures.extra_best.median);
    }
    return result;
}

MovementResult measure_movement(MovementSelection selection, const MovementSettings& settings,
                                const std::function<void()>& progress, std::span<const ChainRoutines> routines,
                                std::span<const ClockChain, clock_chain_count> ruler) {
    if (routines.empty()) routines = selection.table->routines;
    const std::array<TimedRun, 2> rule = ruler_routines(ruler);
    std::vector<std::vector<ChainWindow>> windows(selection.table->cells.size());
    // Every pass visits every cell once, as the matrix's passes do.
    for (std::uint32_t pass = 0; pass < settings.windows.windows; ++pass) {
        for (std::size_t cell : selection.cells) {
            const TimedRun turn[] = {routines[cell].shorter, routines[cell].longer, rule[0], rule[1]};
            WindowRuns runs = time_turns(turn, settings.windows.turns);
            const RunSummary ruler_short = summary_of(runs[2]), ruler_long = summary_of(runs[3]);
            windows[cell].push_back({summary_of(runs[0]),
                                     summary_of(runs[1]),
                                     {ruler_short.minimum, ruler_long.minimum},
                                     {ruler_short.median, ruler_long.median},
                                     std::move(runs[1])});
            progress();
        }
    }
    return movement_from(std::move(selection), settings, std::move(windows));
}
