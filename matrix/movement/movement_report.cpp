#include "matrix/movement/movement_report.hpp"

#include <algorithm>
#include <string_view>

#include "console/console_output.hpp"
#include "matrix/report_json.hpp"
#include "matrix/report_text.hpp"

namespace {

std::string marks(const MovementFigures& figures) {
    return std::string(figures.measurable() ? "*" : " ") + (figures.bimodal() ? "~" : " ");
}

bool measured(const MovementResult& result, std::size_t cell) {
    return std::find(result.selection.cells.begin(), result.selection.cells.end(), cell) !=
           result.selection.cells.end();
}

// A bimodal cell's two modes, in the unit the table shows it in: the extra
// over the reference, or for the reference itself its step's cycles.
std::string modes_line(const MovementResult& result, std::size_t cell) {
    const MovementFigures& figures = result.figures[cell];
    if (result.selection.table->cells[cell].reference != cell) {
        return modes_text(figures.modes, figures.extra_typical.median);
    }
    return "fast " + format_fixed(figures.modes.fast, 2) + " in " + format_fixed(100 * figures.modes.fast_share(), 1) +
           "% of runs, typical " + format_fixed(figures.typical.median, 2) + " cycles per step";
}

std::string without_trailing_blanks(const std::string& line) { return line.substr(0, line.find_last_not_of(' ') + 1); }

// The types table: one grid per subtraction, a row per store form and a
// column per load form, each cell its extra over the reference's step.
std::string types_section(const MovementResult& result) {
    const std::string next_line(line_break);
    const MovementTable& table = *result.selection.table;
    int width = 9;
    for (const MovementSide& move : table.stores) width = std::max(width, static_cast<int>(move.name.size()) + 2);
    std::string text =
        "types: store with the row's move, load back with the column's, subtract zero; extra core cycles of" +
        next_line + "one step over the step through the subtraction's own aligned move:" + next_line;
    for (std::size_t arithmetic = 0; arithmetic < table.arithmetic.size(); ++arithmetic) {
        const auto in_grid = [&](std::size_t cell) { return table.cells[cell].arithmetic == arithmetic; };
        if (std::none_of(result.selection.cells.begin(), result.selection.cells.end(), in_grid)) continue;
        const std::size_t reference = [&] {
            for (std::size_t cell : result.selection.cells) {
                if (in_grid(cell)) return std::size_t{table.cells[cell].reference};
            }
            return std::size_t{0};
        }();
        const MovementCell& own = table.cells[reference];
        const MovementFigures& base = result.figures[reference];
        text += "  " + text_of(table.arithmetic[arithmetic].name) + ": " + text_of(table.stores[own.store].name) +
                " -> " + text_of(table.loads[own.load].name) + " -> " + text_of(table.arithmetic[arithmetic].name) +
                " takes " + format_fixed(base.best.median, 2) + " cycles per step (typical " +
                format_fixed(base.typical.median, 2) + ")" + next_line;
        std::string heads = "    " + padded("", width);
        for (const MovementSide& load : table.loads) heads += padded(text_of(load.name), -width);
        text += heads + next_line;
        for (std::size_t store = 0; store < table.stores.size(); ++store) {
            std::string line = "    " + padded(text_of(table.stores[store].name), width);
            for (std::size_t cell = 0; cell < table.cells.size(); ++cell) {
                if (!in_grid(cell) || table.cells[cell].store != store) continue;
                const MovementFigures& figures = result.figures[cell];
                line += padded(
                    measured(result, cell) ? signed_cycles(figures.extra_best.median) + marks(figures) : ".  ", -width);
            }
            text += without_trailing_blanks(line) + next_line;
        }
        for (std::size_t cell : result.selection.cells) {
            if (!in_grid(cell) || !result.figures[cell].bimodal()) continue;
            text += "    two modes, " + text_of(table.stores[table.cells[cell].store].name) + " -> " +
                    text_of(table.loads[table.cells[cell].load].name) + ": " + modes_line(result, cell) + next_line;
        }
    }
    return text;
}

// The widths table: a line per cell, its step's cycles and its extra over
// its reference, best and typical.
std::string widths_section(const MovementResult& result) {
    const std::string next_line(line_break);
    const MovementTable& table = *result.selection.table;
    constexpr int store_width = 30, load_width = 24;
    std::string text = "widths: store, load back into register 2 and " + text_of(table.arithmetic[0].name) +
                       " it into register 0; core cycles of one step, and the extra over" + next_line +
                       "the same-width store and load:" + next_line;
    text += std::string(4 + store_width + load_width, ' ') + "   best  typical    extra  typical" + next_line;
    for (std::size_t cell : result.selection.cells) {
        const MovementCell& entry = table.cells[cell];
        const MovementFigures& figures = result.figures[cell];
        std::string line = "  " + padded(text_of(table.stores[entry.store].title), store_width) + "-> " +
                           padded(text_of(table.loads[entry.load].title), load_width - 1) +
                           padded(format_fixed(figures.best.median, 2), -7) + " " +
                           padded(format_fixed(figures.typical.median, 2), -8) + " ";
        if (entry.reference == cell) {
            line += padded("(the reference)", -17);
        } else {
            line += padded(signed_cycles(figures.extra_best.median) + marks(figures), -9) +
                    padded(signed_cycles(figures.extra_typical.median), -7);
        }
        text += without_trailing_blanks(line) + next_line;
        if (figures.bimodal()) text += "      two modes: " + modes_line(result, cell) + next_line;
    }
    return text;
}

std::string heading(const MovementPlan& plan) {
    std::string line = "data movement, " + text_of(plan.family->name) + ": " + text_of(plan.family->title);
    if (plan.status == FamilyStatus::unsupported) line += ": unsupported, " + plan.why;
    if (plan.status == FamilyStatus::within) line += ": " + plan.why;
    return line;
}

std::string cell_name(const MovementTable& table, std::size_t cell) {
    const MovementCell& entry = table.cells[cell];
    return text_of(table.stores[entry.store].name) + ", " + text_of(table.loads[entry.load].name) + ", " +
           text_of(table.arithmetic[entry.arithmetic].name);
}

}  // namespace

std::string movement_report(const std::vector<MovementFamilyResult>& results) {
    const std::string next_line(line_break);
    std::string text;
    if (results.empty()) return text;
    const WindowSettings windows = MovementSettings{}.windows;
    text += next_line + "data movement: dependent chains of " + decimal_text(short_steps) + " and " +
            decimal_text(long_steps) + " steps per iteration, each step storing the value to one" + next_line +
            "64-byte-aligned slot and loading it back, 4,096 iterations a run; " + decimal_text(windows.windows) +
            " windows of " + decimal_text(windows.turns) + " turns for each chain;" + next_line +
            "* marks a cell that every window puts 0.1 or more from zero on one side, ~ a bimodal one" + next_line;
    for (const MovementFamilyResult& result : results) {
        text += next_line + heading(result.plan) + next_line;
        if (result.plan.status != FamilyStatus::measured) continue;
        for (const MovementResult& table : result.tables) {
            for (const auto& [cell, why] : table.selection.left_out) {
                text += "left out: " + text_of(table.selection.table->name) + " " +
                        cell_name(*table.selection.table, cell) + " (" + why + ")" + next_line;
            }
            text += table.selection.table->name == "types" ? types_section(table) : widths_section(table);
        }
    }
    return text;
}

std::vector<double> movement_window_rulers(const std::vector<MovementFamilyResult>& results) {
    std::vector<double> rulers;
    for (const MovementFamilyResult& result : results) {
        for (const MovementResult& table : result.tables) {
            for (std::size_t cell : table.selection.cells) {
                for (const ChainWindow& window : table.windows[cell]) {
                    if (window.usable()) rulers.push_back(ticks_per_cycle(window.ruler));
                }
            }
        }
    }
    return rulers;
}

namespace {

Json json_sides(std::span<const MovementSide> sides) {
    Json list = Json::array();
    for (const MovementSide& side : sides) {
        Json instructions = Json::array();
        for (std::size_t i = 0; i < side.size(); ++i)
            instructions.push_back(text_of(side.forms[i]->mnemonic_line.substr(2)));
        list.push_back(
            {{"name", text_of(side.name)}, {"title", text_of(side.title)}, {"instructions", std::move(instructions)}});
    }
    return list;
}

Json json_table(const MovementResult& result) {
    const MovementTable& table = *result.selection.table;
    Json json = {{"name", text_of(table.name)},      {"stores", json_sides(table.stores)},
                 {"loads", json_sides(table.loads)}, {"arithmetic", json_sides(table.arithmetic)},
                 {"left_out", Json::array()},        {"cells", Json::array()}};
    auto names = [&](const MovementCell& cell) {
        return Json{{"store", text_of(table.stores[cell.store].name)},
                    {"load", text_of(table.loads[cell.load].name)},
                    {"arithmetic", text_of(table.arithmetic[cell.arithmetic].name)}};
    };
    for (const auto& [cell, why] : result.selection.left_out) {
        Json entry = names(table.cells[cell]);
        entry["why"] = why;
        json["left_out"].push_back(std::move(entry));
    }
    for (std::size_t cell : result.selection.cells) {
        const MovementCell& entry = table.cells[cell];
        const MovementFigures& figures = result.figures[cell];
        Json measured = names(entry);
        const MovementCell& reference = table.cells[entry.reference];
        measured["reference"] = {{"store", text_of(table.stores[reference.store].name)},
                                 {"load", text_of(table.loads[reference.load].name)}};
        add_json_spread(measured, "cycles", figures.best);
        add_json_spread(measured, "typical", figures.typical);
        add_json_spread(measured, "extra", figures.extra_best);
        add_json_spread(measured, "extra_typical", figures.extra_typical);
        measured["measurable"] = figures.measurable();
        add_json_modes(measured, figures.modes);
        measured["windows"] = json_windows(result.windows[cell]);
        json["cells"].push_back(std::move(measured));
    }
    return json;
}

}  // namespace

Json movement_json(const std::vector<MovementFamilyResult>& results) {
    const WindowSettings windows = MovementSettings{}.windows;
    Json json = {{"short_steps", short_steps},
                 {"long_steps", long_steps},
                 {"windows", windows.windows},
                 {"turns", windows.turns}};
    add_json_spread(json, "window_ticks_per_cycle", spread_of(movement_window_rulers(results)));
    json["families"] = Json::array();
    for (const MovementFamilyResult& result : results) {
        const MovementPlan& plan = result.plan;
        Json family = {{"name", text_of(plan.family->name)}, {"title", text_of(plan.family->title)}};
        if (plan.status != FamilyStatus::measured) {
            family["status"] = plan.status == FamilyStatus::within ? "within" : "unsupported";
            family["why"] = plan.why;
        } else {
            family["status"] = "measured";
            family["tables"] = Json::array();
            for (const MovementResult& table : result.tables) family["tables"].push_back(json_table(table));
        }
        json["families"].push_back(std::move(family));
    }
    return json;
}

std::string movement_listings(const std::vector<MovementPlan>& plans) {
    std::string text;
    for (const MovementPlan& plan : plans) {
        for (const MovementSelection& selection : plan.tables) {
            for (std::size_t cell : selection.cells) {
                for (std::uint32_t steps : {short_steps, long_steps}) {
                    const std::string title = "movement " + text_of(plan.family->name) + " " +
                                              text_of(selection.table->name) + " " + cell_name(*selection.table, cell) +
                                              ": " + decimal_text(steps) + (steps == 1 ? " step" : " steps") +
                                              " per loop iteration";
                    const ChainRoutines& routines = selection.table->routines[cell];
                    text += listing_of(title, movement_body(*selection.table, cell, steps),
                                       steps == short_steps ? routines.shorter : routines.longer);
                }
            }
        }
    }
    return text;
}
