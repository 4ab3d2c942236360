#include "matrix/report.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "clock/report.hpp"
#include "console/console_output.hpp"
#include "matrix/report_json.hpp"
#include "matrix/report_text.hpp"

namespace {

std::string text_of(std::string_view view) { return std::string(view); }

// A family's section: its latencies, its triangle, the crossings that cost
// and the bimodal ones.
class FamilySection {
public:
    explicit FamilySection(const PenaltyMatrix& matrix) : matrix_(matrix) {
        for (std::size_t c : matrix.classes) {
            const InstructionClass& row = matrix.table->classes[c];
            name_width_ = std::max(name_width_, static_cast<int>(row.name.size()) + 2);
            type_width_ = std::max(type_width_, static_cast<int>(row.type.size()) + 2);
            operation_width_ = std::max(operation_width_, static_cast<int>(row.operation.size()) + 1);
        }
    }

    std::string text() const { return latencies() + triangle() + crossings(); }

private:
    std::string name_of(std::size_t c) const { return text_of(matrix_.table->classes[c].name); }

    std::string latencies() const {
        const std::string next_line(line_break);
        std::string text = "latency in core cycles, each class alone (best: median over the windows of their fastest "
                           "runs;" + next_line + "typical: of their middle runs):" + next_line;
        text += std::string(2 + name_width_ + type_width_ + operation_width_, ' ') + "best  typical" + next_line;
        for (std::size_t c : matrix_.classes) {
            const InstructionClass& row = matrix_.table->classes[c];
            text += "  " + padded(name_of(c), name_width_) + padded(text_of(row.type), type_width_) +
                    padded(text_of(row.operation), operation_width_) +
                    padded(format_fixed(matrix_.latencies[c].best.median, 2), -6) +
                    padded(format_fixed(matrix_.latencies[c].typical.median, 2), -9) + next_line;
        }
        return text;
    }

    std::string triangle() const {
        const std::string next_line(line_break);
        std::string text = next_line +
                           "extra core cycles of one round trip, row -> column -> row, beyond both latencies (best);" +
                           next_line +
                           "* marks a cell that every window puts 0.1 or more from zero on one side, ~ a bimodal one:" +
                           next_line;
        const std::vector<std::size_t>& classes = matrix_.classes;
        text += std::string(2 + name_width_, ' ');
        for (std::size_t i = 0; i + 1 < classes.size(); ++i) text += padded(name_of(classes[i]), -name_width_);
        text += next_line;
        for (std::size_t i = 1; i < classes.size(); ++i) {
            std::string line = "  " + padded(name_of(classes[i]), name_width_);
            for (std::size_t j = 0; j < i; ++j) {
                const Cell& cell = matrix_.cell(classes[i], classes[j]);
                const std::string marks = std::string(cell.measurable() ? "*" : " ") + (cell.bimodal() ? "~" : " ");
                line += padded(signed_cycles(cell.best.median) + marks, -name_width_);
            }
            // An unmarked last cell leaves the blanks of its marks behind.
            text += line.substr(0, line.find_last_not_of(' ') + 1) + next_line;
        }
        return text;
    }

    std::string crossings() const {
        const std::string next_line(line_break);
        std::vector<ChainPair> costly, bimodal;
        for (const ChainPair& pair : chains_of(matrix_.classes)) {
            if (pair.first == pair.second) continue;
            const Cell& cell = matrix_.cell(pair.first, pair.second);
            if (cell.measurable() && cell.best.median > 0) costly.push_back(pair);
            if (cell.bimodal()) bimodal.push_back(pair);
        }
        // Dearest first, as far as the report's tenths tell them apart; equals
        // keep the table's order.
        auto tenths = [&](const ChainPair& pair) {
            return std::round(10 * matrix_.cell(pair.first, pair.second).best.median);
        };
        auto dearer = [&](const ChainPair& a, const ChainPair& b) { return tenths(a) > tenths(b); };
        std::stable_sort(costly.begin(), costly.end(), dearer);
        std::stable_sort(bimodal.begin(), bimodal.end(), dearer);
        auto modes_of = [&](const Cell& cell) { return modes_text(cell.modes, cell.typical.median); };
        std::string text = next_line + "crossings that cost:" + next_line;
        if (costly.empty()) text += "  none measurable" + next_line;
        for (const ChainPair& pair : costly) {
            const Cell& cell = matrix_.cell(pair.first, pair.second);
            text += "  " + name_of(pair.first) + " <-> " + name_of(pair.second) + ": " +
                    signed_cycles(cell.best.median) + " cycles per round trip" +
                    (cell.bimodal() ? " (best); two modes: " + modes_of(cell) : "") + next_line;
        }
        text += next_line + "bimodal crossings, whose runs fall in two modes more than " +
                format_fixed(bimodal_margin, 0) + " cycle apart, the faster holding at least " +
                format_fixed(100 * fast_share_least, 0) + "% of" + next_line + "them:" + next_line;
        if (bimodal.empty()) text += "  none" + next_line;
        for (const ChainPair& pair : bimodal) {
            const Cell& cell = matrix_.cell(pair.first, pair.second);
            text += "  " + name_of(pair.first) + " <-> " + name_of(pair.second) + ": best " +
                    signed_cycles(cell.best.median) + "; " + modes_of(cell) + next_line;
        }
        return text;
    }

    const PenaltyMatrix& matrix_;
    int name_width_ = 9;
    int type_width_ = 23;
    int operation_width_ = 9;
};

// The family's heading: its name and title, and for a family not measured,
// why not.
std::string family_heading(const FamilyPlan& plan) {
    std::string line = text_of(plan.family->name) + ": " + text_of(plan.family->title);
    if (plan.status == FamilyStatus::unsupported) line += ": unsupported, " + plan.why;
    if (plan.status == FamilyStatus::within) line += ": " + plan.why;
    return line;
}

std::string left_out_line(const FamilyPlan& plan) {
    std::string line = "left out:";
    for (std::size_t i = 0; i < plan.left_out.size(); ++i) {
        line += std::string(i == 0 ? " " : ", ") + text_of(plan.family->table->classes[plan.left_out[i].first].name) +
                " (" + plan.left_out[i].second + ")";
    }
    return line;
}

// The windows every family was measured in: those of any measured family,
// which all share them, or the defaults.
WindowSettings matrix_windows(const MatrixResults& results) {
    for (const FamilyResult& result : results.families) {
        if (result.plan.status == FamilyStatus::measured) return result.matrix.settings.windows;
    }
    return MatrixSettings{}.windows;
}

// How many chains shared a window, as matrix_windows finds the windows.
std::uint32_t matrix_chains_per_window(const MatrixResults& results) {
    for (const FamilyResult& result : results.families) {
        if (result.plan.status == FamilyStatus::measured) return result.matrix.settings.chains_per_window;
    }
    return MatrixSettings{}.chains_per_window;
}

// Time-stamp ticks per core cycle over every window of every family, of the
// transitions and of the movement tables.
Spread window_rulers(const MatrixResults& results) {
    std::vector<double> rulers;
    for (const TransitionRow& row : results.transitions.rows) {
        for (const TransitionCell& cell : row.cells) {
            for (const TransitionWindow& window : cell.windows) {
                if (window.usable()) rulers.push_back(ticks_per_cycle(window.ruler));
            }
        }
    }
    for (const FamilyResult& result : results.families) {
        if (result.plan.status != FamilyStatus::measured) continue;
        for (const ChainPair& pair : chains_of(result.matrix.classes)) {
            for (const ChainWindow& window : result.matrix.windows[result.matrix.table->chain_index(pair)]) {
                if (window.usable()) rulers.push_back(ticks_per_cycle(window.ruler));
            }
        }
    }
    const std::vector<double> movement = movement_window_rulers(results.movement);
    rulers.insert(rulers.end(), movement.begin(), movement.end());
    return spread_of(rulers);
}

std::string transitions_section(const TransitionTable& table) {
    const std::string next_line(line_break);
    const std::string lengths = decimal_text(transition_short) + " and " + decimal_text(transition_long);
    std::string text = next_line +
                       "transitions between upper-half states: extra core cycles of a dependent chain after a state "
                       "write," + next_line + "beyond the same chain without it. With the write at the head of every "
                       "iteration, at " + lengths + next_line +
                       "instructions, the extra per iteration is the cost per change of state plus the length times "
                       "the cost" + next_line + "per instruction after a change; with the write once before the "
                       "loop, at " + decimal_text(transition_long) + " instructions, the cost per" + next_line +
                       "instruction in the steady state. " + decimal_text(table.settings.windows.windows) +
                       " windows of " + decimal_text(table.settings.windows.turns) +
                       " turns for each state; * where every window puts a" + next_line +
                       "figure 0.1 or more from zero on one side; ~ where a figure's runs fall in two modes, judged "
                       "on" + next_line + "the runs of the chain of " + decimal_text(transition_long) +
                       " with the write at the head for the first two figures, of the chain" + next_line +
                       "after the write once for the third:" + next_line;
    constexpr int state_width = 36;
    // A figure's column: its best, its marks, its typical; then a gap.
    constexpr int figure_width = 7, marks_width = 2, gap = 2;
    constexpr int column_width = 2 * figure_width + marks_width + gap;
    const std::string heads[2][transition_figure_count] = {{"per change", "per instruction", "per instruction,"},
                                                          {"of state", "after a change", "steady state"}};
    auto head_line = [&](const std::string* names) {
        std::string line = std::string(4 + state_width, ' ');
        for (std::size_t figure = 0; figure < transition_figure_count; ++figure) {
            line += "  " + padded(names[figure], column_width - 2);
        }
        return line.substr(0, line.find_last_not_of(' ') + 1) + next_line;
    };
    std::string best_typical = std::string(4 + state_width, ' ');
    for (std::size_t figure = 0; figure < transition_figure_count; ++figure) {
        best_typical += padded("best", -figure_width) + padded("typical", -(marks_width + figure_width)) +
                        std::string(gap, ' ');
    }
    best_typical = best_typical.substr(0, best_typical.find_last_not_of(' ') + 1) + next_line;
    for (std::size_t kind = 0; kind < transition_kind_count; ++kind) {
        const TransitionRow& row = table.rows[kind];
        const TransitionKind& kind_row = transition_kinds[kind];
        const std::string mnemonic = text_of(kind_row.form.mnemonic_line.substr(2));
        if (!row.measured()) {
            text += "  " + text_of(kind_row.title) + ", " + mnemonic + ": unsupported, " + row.why + next_line;
            continue;
        }
        text += "  " + text_of(kind_row.title) + ", " + mnemonic + ", " + format_fixed(row.reference.median, 2) +
                " cycles per instruction with no state write:" + next_line;
        text += head_line(heads[0]) + head_line(heads[1]) + best_typical;
        for (std::size_t state = 1; state < transition_state_count; ++state) {
            const TransitionCell& cell = row.cells[state];
            std::string line = "    " + padded(text_of(transition_states[state].title), state_width);
            if (!cell.measured()) {
                line += "n/a, " + cell.why;
            } else {
                for (std::size_t figure = 0; figure < transition_figure_count; ++figure) {
                    // A space before each column, however wide a figure grows.
                    const TransitionFigure& measured = cell.figures[figure];
                    const int places = transition_figures[figure].decimals;
                    const std::string marks = std::string(measured.measurable() ? "*" : " ") +
                                              (measured.bimodal() ? "~" : "");
                    line += " " + padded(signed_cycles(measured.best.median, places), -(figure_width - 1)) +
                            padded(marks, marks_width) + " " +
                            padded(signed_cycles(measured.typical.median, places), -(figure_width - 1)) +
                            std::string(gap, ' ');
                }
            }
            text += line.substr(0, line.find_last_not_of(' ') + 1) + next_line;
            if (!cell.measured()) continue;
            for (std::size_t figure = 0; figure < transition_figure_count; ++figure) {
                const TransitionFigure& measured = cell.figures[figure];
                if (!measured.bimodal()) continue;
                text += "      " + text_of(transition_figures[figure].title) + ", two modes: " +
                        modes_text(measured.modes, measured.typical.median, transition_figures[figure].decimals) +
                        next_line;
            }
        }
    }
    return text;
}

}  // namespace

std::string matrix_report(const MatrixResults& results, const Calibration& calibration) {
    const std::string next_line(line_break);
    const WindowSettings windows = matrix_windows(results);
    const Spread rulers = window_rulers(results);
    std::string text = "simd-mix-matrix on " + processor_name() + next_line;
    text += calibration_line(calibration) + next_line;
    text += "each window converted by the clock's add chains timed in it: " + format_fixed(rulers.median, 4) +
            " ticks per core cycle (spread " + format_fixed(rulers.percent(), 2) + "%)" + next_line;
    static_assert(chain_iterations == 2048, "the line below writes the chains' iterations out");
    if (results.arithmetic) {
        text += "chains of " + decimal_text(short_chain) + " and " + decimal_text(long_chain) +
                " dependent instructions per iteration, 2,048 iterations a run; " + decimal_text(windows.windows) +
                " windows of " + decimal_text(windows.turns) + " turns for each chain, " +
                decimal_text(matrix_chains_per_window(results)) + " chains to a window" + next_line;
    }
    for (const FamilyResult& result : results.families) {
        text += next_line + family_heading(result.plan) + next_line;
        if (result.plan.status != FamilyStatus::measured) continue;
        if (!result.plan.left_out.empty()) text += left_out_line(result.plan) + next_line;
        text += FamilySection(result.matrix).text();
    }
    if (results.arithmetic) text += transitions_section(results.transitions);
    return text + movement_report(results.movement);
}

namespace {

Json json_family(const FamilyResult& result) {
    const FamilyPlan& plan = result.plan;
    Json json = {{"name", text_of(plan.family->name)}, {"title", text_of(plan.family->title)}};
    if (plan.status != FamilyStatus::measured) {
        json["status"] = plan.status == FamilyStatus::within ? "within" : "unsupported";
        json["why"] = plan.why;
        return json;
    }
    const PenaltyMatrix& matrix = result.matrix;
    const ClassTable& table = *matrix.table;
    json["status"] = "measured";
    json["left_out"] = Json::array();
    for (const auto& [c, why] : plan.left_out) {
        json["left_out"].push_back({{"name", text_of(table.classes[c].name)}, {"why", why}});
    }
    add_json_spread(json, "window_ticks_per_cycle", matrix.ticks_per_cycle);
    json["classes"] = Json::array();
    for (std::size_t c : matrix.classes) {
        const InstructionClass& row = table.classes[c];
        Json entry = {{"name", text_of(row.name)}, {"type", text_of(row.type)}, {"operation", text_of(row.operation)}};
        // One instruction, or a round trip's instructions in their order.
        entry["instructions"] = {text_of(row.form.mnemonic_line.substr(2))};
        for (const InstructionForm& form : row.then) {
            entry["instructions"].push_back(text_of(form.mnemonic_line.substr(2)));
        }
        add_json_spread(entry, "latency", matrix.latencies[c].best);
        add_json_spread(entry, "typical", matrix.latencies[c].typical);
        entry["windows"] = json_windows(matrix.windows[table.chain_index({c, c})]);
        json["classes"].push_back(std::move(entry));
    }
    json["round_trips"] = Json::array();
    for (const ChainPair& pair : chains_of(matrix.classes)) {
        if (pair.first == pair.second) continue;
        const Cell& cell = matrix.cell(pair.first, pair.second);
        Json entry = {{"first", text_of(table.classes[pair.first].name)},
                      {"second", text_of(table.classes[pair.second].name)}};
        add_json_spread(entry, "cycles", cell.best);
        add_json_spread(entry, "typical", cell.typical);
        entry["measurable"] = cell.measurable();
        add_json_modes(entry, cell.modes);
        entry["windows"] = json_windows(matrix.windows[table.chain_index(pair)]);
        json["round_trips"].push_back(std::move(entry));
    }
    return json;
}

// The JSON's names of the routines of TransitionRun.
constexpr std::string_view transition_run_names[transition_run_count] = {"reference_short", "reference_long",
                                                                         "head_short", "head_long", "steady"};

// Each routine's fastest and middle runs window by window, named as in
// TransitionRun, and the ruler's.
Json json_transition_windows(const std::vector<TransitionWindow>& windows) {
    Json json = Json::object();
    for (std::size_t run = 0; run < transition_run_count; ++run) {
        for (const auto& [suffix, figure] :
             {std::pair{"_minimums", &RunSummary::minimum}, std::pair{"_medians", &RunSummary::median}}) {
            Json counts = Json::array();
            for (const TransitionWindow& window : windows) counts.push_back(window.runs[run].*figure);
            json[text_of(transition_run_names[run]) + suffix] = std::move(counts);
        }
    }
    std::vector<RulerTimes> fastest, middle;
    for (const TransitionWindow& window : windows) {
        fastest.push_back(window.ruler);
        middle.push_back(window.ruler_middle);
    }
    json["ruler_minimums"] = ruler_pairs(fastest);
    json["ruler_medians"] = ruler_pairs(middle);
    return json;
}

Json json_transitions(const TransitionTable& table) {
    Json json = {{"short_chain", transition_short},
                 {"long_chain", transition_long},
                 {"steady_chain", transition_lengths[once_before]},
                 {"windows", table.settings.windows.windows},
                 {"turns", table.settings.windows.turns},
                 {"figures", Json::array()},
                 {"states", Json::array()},
                 {"kinds", Json::array()}};
    for (const TransitionFigureName& figure : transition_figures) {
        json["figures"].push_back({{"name", text_of(figure.name)},
                                   {"title", text_of(figure.title)},
                                   {"modes_from", text_of(transition_run_names[figure.judged])},
                                   {"modes_parts", figure.parts}});
    }
    for (std::size_t state = 1; state < transition_state_count; ++state) {
        json["states"].push_back(
            {{"name", text_of(transition_states[state].name)}, {"title", text_of(transition_states[state].title)}});
    }
    for (std::size_t kind = 0; kind < transition_kind_count; ++kind) {
        const TransitionRow& row = table.rows[kind];
        Json entry = {{"name", text_of(transition_kinds[kind].name)},
                      {"title", text_of(transition_kinds[kind].title)},
                      {"instruction", text_of(transition_kinds[kind].form.mnemonic_line.substr(2))}};
        if (!row.measured()) {
            entry["status"] = "unsupported";
            entry["why"] = row.why;
            json["kinds"].push_back(std::move(entry));
            continue;
        }
        entry["status"] = "measured";
        add_json_spread(entry, "latency", row.reference);
        entry["states"] = Json::array();
        for (std::size_t state = 1; state < transition_state_count; ++state) {
            const TransitionCell& cell = row.cells[state];
            Json measured = {{"state", text_of(transition_states[state].name)}};
            if (!cell.measured()) {
                measured["status"] = "unsupported";
                measured["why"] = cell.why;
                entry["states"].push_back(std::move(measured));
                continue;
            }
            measured["status"] = "measured";
            for (std::size_t figure = 0; figure < transition_figure_count; ++figure) {
                Json figures = Json::object();
                add_json_spread(figures, "cycles", cell.figures[figure].best);
                add_json_spread(figures, "typical", cell.figures[figure].typical);
                figures["measurable"] = cell.figures[figure].measurable();
                add_json_modes(figures, cell.figures[figure].modes);
                measured[text_of(transition_figures[figure].name)] = std::move(figures);
            }
            measured["windows"] = json_transition_windows(cell.windows);
            entry["states"].push_back(std::move(measured));
        }
        json["kinds"].push_back(std::move(entry));
    }
    return json;
}

}  // namespace

Json matrix_json(const MatrixResults& results, const Calibration& calibration) {
    Json json = json_document();
    json["processor"] = processor_name();
    json["calibration"] = calibration_json(calibration);
    json["iterations"] = loop_iterations;
    json["short_chain"] = short_chain;
    json["long_chain"] = long_chain;
    json["chain_iterations"] = chain_iterations;
    const WindowSettings windows = matrix_windows(results);
    json["windows"] = windows.windows;
    json["turns"] = windows.turns;
    json["chains_per_window"] = matrix_chains_per_window(results);
    json["cycle_resolution"] = json_fixed(cycle_resolution, 2);
    json["bimodal_margin"] = json_fixed(bimodal_margin, 2);
    json["fast_share_least"] = json_fixed(fast_share_least, 2);
    add_json_spread(json, "window_ticks_per_cycle", window_rulers(results));
    json["families"] = Json::array();
    for (const FamilyResult& result : results.families) json["families"].push_back(json_family(result));
    if (results.arithmetic) json["transitions"] = json_transitions(results.transitions);
    if (results.movement_asked) json["movement"] = movement_json(results.movement);
    return json;
}

std::string chain_listings(const std::vector<FamilyPlan>& plans) {
    std::string text;
    for (const FamilyPlan& plan : plans) {
        const ClassTable& table = *plan.family->table;
        for (const ChainPair& pair : chains_of(plan.classes)) {
            const std::string first = text_of(table.classes[pair.first].name);
            const std::string second = text_of(table.classes[pair.second].name);
            // A round trip is one step of its chain, and its instructions,
            // which the title counts, are shown one by one.
            std::string round_trips;
            std::vector<std::size_t> classes{pair.first};
            if (pair.second != pair.first) classes.push_back(pair.second);
            for (std::size_t c : classes) {
                const InstructionClass& row = table.classes[c];
                if (row.then.empty()) continue;
                round_trips += "; each " + text_of(row.name) + " the round trip " + text_of(row.type) + " in " +
                               decimal_text(static_cast<std::int64_t>(row.instructions())) + " instructions";
            }
            for (std::uint32_t length : {short_chain, long_chain}) {
                const std::vector<Instruction> body = chain_body(table, pair, length);
                const std::string per_iteration =
                    round_trips.empty()
                        ? decimal_text(length) + " instructions per loop iteration"
                        : decimal_text(length) + " steps per loop iteration, " +
                              decimal_text(static_cast<std::int64_t>(body.size())) + " instructions" + round_trips;
                const std::string title = text_of(plan.family->name) + " chain " +
                                          (pair.first == pair.second ? first + " alone" : first + ", " + second) +
                                          ": " + per_iteration;
                text += listing_of(title, body);
            }
        }
    }
    for (std::size_t kind = 0; kind < transition_kind_count; ++kind) {
        for (std::size_t state = 0; state < transition_state_count; ++state) {
            const TransitionState& named = transition_states[state];
            for (std::size_t placement = 0; placement < transition_placement_count; ++placement) {
                if (matrix_transition_routines[kind][state][placement] == nullptr) continue;
                const auto where = static_cast<TransitionPlacement>(placement);
                const std::string length = decimal_text(transition_lengths[where]) + " instructions per loop iteration";
                std::string title = "transition " + text_of(transition_kinds[kind].name) + ", " + text_of(named.name);
                if (named.form == nullptr) {
                    title += ": " + length;
                } else if (where != once_before) {
                    title += ": one state write and " + length;
                } else {
                    // The write before the first time stamp is no part of
                    // the loop's listing, so its bytes stand in the title.
                    static constexpr char digits[] = "0123456789ABCDEF";
                    const Encoding encoding = named.form->encoding;
                    std::string bytes;
                    for (std::size_t i = 0; i < encoding.size; ++i) {
                        bytes += std::string(i == 0 ? "" : " ") + digits[encoding.bytes[i] >> 4] +
                                 digits[encoding.bytes[i] & 0xF];
                    }
                    title += ", steady: " + length + ", after " + text_of(named.form->mnemonic_line.substr(2)) +
                             " (" + bytes + ") once before the first time stamp";
                }
                text += listing_of(title, transition_body(kind, state, where));
            }
        }
    }
    return text;
}
