#include "matrix/transitions/transitions_report.hpp"

#include <string_view>

#include "console/console_output.hpp"
#include "matrix/report_json.hpp"
#include "matrix/report_text.hpp"

std::string transitions_report(const TransitionTable& table) {
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


namespace {

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

}  // namespace

Json transitions_json(const TransitionTable& table) {
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


std::vector<double> transition_window_rulers(const TransitionTable& table) {
    std::vector<double> rulers;
    for (const TransitionRow& row : table.rows) {
        for (const TransitionCell& cell : row.cells) {
            for (const TransitionWindow& window : cell.windows) {
                if (window.usable()) rulers.push_back(ticks_per_cycle(window.ruler));
            }
        }
    }
    return rulers;
}

std::string transition_listings() {
    std::string text;
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
                text += listing_of(title, transition_body(kind, state, where),
                                   matrix_transition_routines[kind][state][placement]);
            }
        }
    }
    return text;
}
