#include "matrix/transitions/transitions.hpp"

#include "matrix/chain_windows.hpp"

std::vector<Instruction> transition_body(std::size_t kind, std::size_t state, TransitionPlacement placement) {
    std::vector<Instruction> body;
    if (transition_states[state].form != nullptr && placement != once_before) {
        body.push_back({transition_states[state].form});
    }
    for (std::uint32_t i = 0; i < transition_lengths[placement]; ++i) body.push_back({&transition_kinds[kind].form});
    return body;
}

std::string why_no_transition(std::size_t kind, std::size_t state, const CpuidAnswers& answers) {
    if (std::string why = why_unusable(transition_kinds[kind].needs, answers); !why.empty()) return why;
    if (transition_states[state].needs_64_bits && sizeof(void*) < 8) return "a 32-bit program has no zmm16-31";
    return why_unusable(transition_states[state].needs, answers);
}

namespace {

// Core cycles per iteration, the ticks of a whole run converted by a ruler.
double per_iteration(double ticks, RulerTimes ruler) { return ticks / loop_iterations / ticks_per_cycle(ruler); }

TransitionFigures figures_of(const TransitionWindow& window, std::uint64_t RunSummary::*figure, RulerTimes ruler) {
    auto extra = [&](TransitionRun plain, TransitionRun state) {
        return per_iteration(tick_difference(window.runs[plain].*figure, window.runs[state].*figure), ruler);
    };
    // extra(n) = per change + n * per instruction, at both lengths.
    const double at_short = extra(plain_short, head_short), at_long = extra(plain_long, head_long);
    const double instruction = (at_long - at_short) / (transition_long - transition_short);
    return {at_short - transition_short * instruction, instruction, extra(plain_long, steady_long) / transition_long};
}

}  // namespace

bool TransitionWindow::usable() const { return rulers_convert(ruler, ruler_middle); }

TransitionFigures transition_best(const TransitionWindow& window) {
    return figures_of(window, &RunSummary::minimum, window.ruler);
}

TransitionFigures transition_typical(const TransitionWindow& window) {
    return figures_of(window, &RunSummary::median, window.ruler_middle);
}

double reference_cycles(const TransitionWindow& window) {
    return per_iteration(tick_difference(window.runs[plain_short].minimum, window.runs[plain_long].minimum),
                         window.ruler) /
           (transition_long - transition_short);
}

bool TransitionFigure::measurable() const { return beyond_resolution(best); }

std::size_t transition_window_count(const TransitionSettings& settings, const CpuidAnswers& answers) {
    std::size_t cells = 0;
    for (std::size_t kind = 0; kind < transition_kind_count; ++kind) {
        for (std::size_t state = 1; state < transition_state_count; ++state) {
            cells += why_no_transition(kind, state, answers).empty();
        }
    }
    return cells * settings.windows.windows;
}

TransitionTable transitions_from(TransitionTable table) {
    for (TransitionRow& row : table.rows) {
        if (!row.measured()) continue;
        std::vector<double> reference;
        for (TransitionCell& cell : row.cells) {
            if (!cell.measured()) continue;
            std::array<std::vector<double>, transition_figure_count> best, typical;
            std::array<std::vector<ModeWindow>, transition_figure_count> runs;
            for (const TransitionWindow& window : cell.windows) {
                if (!window.usable()) continue;
                const TransitionFigures fastest = transition_best(window), middle = transition_typical(window);
                for (std::size_t figure = 0; figure < transition_figure_count; ++figure) {
                    best[figure].push_back(fastest[figure]);
                    typical[figure].push_back(middle[figure]);
                }
                reference.push_back(reference_cycles(window));
                for (std::size_t figure = 0; figure < transition_figure_count; ++figure) {
                    const TransitionRun judged = transition_figures[figure].judged;
                    runs[figure].push_back({ticks_per_cycle(window.ruler), window.runs[judged].minimum,
                                            window.runs[judged].median, window.every_run[judged]});
                }
            }
            for (std::size_t figure = 0; figure < transition_figure_count; ++figure) {
                const Spread fastest = spread_of(best[figure]);
                // A run's cycles spread over the parts of an iteration that
                // the figure counts.
                const double units_per_cycle =
                    1 / (static_cast<double>(transition_figures[figure].parts) * loop_iterations);
                cell.figures[figure] = {fastest, spread_of(typical[figure]),
                                        modes_of_windows(runs[figure], fastest.median, units_per_cycle)};
            }
        }
        row.reference = spread_of(reference);
    }
    return table;
}

TransitionTable measure_transitions(
    const TransitionSettings& settings, const CpuidAnswers& answers, const std::function<void()>& progress,
    const TimedRun (&routines)[transition_kind_count][transition_state_count][transition_placement_count],
    std::span<const ClockChain, clock_chain_count> ruler) {
    TransitionTable table{settings, {}};
    for (std::size_t kind = 0; kind < transition_kind_count; ++kind) {
        table.rows[kind].why = why_no_transition(kind, 0, answers);
        table.rows[kind].cells[0].why = "the reference";
        for (std::size_t state = 1; state < transition_state_count; ++state) {
            table.rows[kind].cells[state].why = why_no_transition(kind, state, answers);
        }
    }
    const std::array<TimedRun, 2> rule = ruler_routines(ruler);
    // Every pass visits every cell once, as the matrix's passes do.
    for (std::uint32_t pass = 0; pass < settings.windows.windows; ++pass) {
        for (std::size_t kind = 0; kind < transition_kind_count; ++kind) {
            for (std::size_t state = 1; state < transition_state_count; ++state) {
                TransitionCell& cell = table.rows[kind].cells[state];
                if (!cell.measured()) continue;
                // In the order of TransitionRun, then the ruler.
                const auto& reference = routines[kind][0];
                const auto& own = routines[kind][state];
                const TimedRun turn[] = {reference[at_head_short],
                                         reference[at_head_long],
                                         own[at_head_short],
                                         own[at_head_long],
                                         own[once_before],
                                         rule[0],
                                         rule[1]};
                const WindowRuns runs = time_turns(turn, settings.windows.turns);
                TransitionWindow window{};
                for (std::size_t run = 0; run < transition_run_count; ++run) window.runs[run] = summary_of(runs[run]);
                const RunSummary ruler_short = summary_of(runs[transition_run_count]);
                const RunSummary ruler_long = summary_of(runs[transition_run_count + 1]);
                window.ruler = {ruler_short.minimum, ruler_long.minimum};
                window.ruler_middle = {ruler_short.median, ruler_long.median};
                // The figures' modes judge every run of their routines.
                for (const TransitionFigureName& figure : transition_figures) {
                    window.every_run[figure.judged] = runs[figure.judged];
                }
                cell.windows.push_back(std::move(window));
                progress();
            }
        }
    }
    return transitions_from(std::move(table));
}
