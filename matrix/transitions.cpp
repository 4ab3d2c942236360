#include "matrix/transitions.hpp"

#include "matrix/penalties.hpp"

std::vector<Instruction> transition_body(std::size_t kind, std::size_t state) {
    std::vector<Instruction> body;
    if (transition_states[state].form != nullptr) body.push_back({transition_states[state].form});
    for (std::uint32_t i = 0; i < transition_length; ++i) body.push_back({&transition_kinds[kind].form});
    return body;
}

std::string why_no_transition(std::size_t kind, std::size_t state, const CpuidAnswers& answers) {
    if (std::string why = why_unusable(transition_kinds[kind].needs, answers); !why.empty()) return why;
    if (transition_states[state].needs_64_bits && sizeof(void*) < 8) return "a 32-bit program has no zmm16-31";
    return why_unusable(transition_states[state].needs, answers);
}

namespace {

double per_instruction(double ticks, RulerTimes ruler) {
    return ticks / (static_cast<double>(transition_length) * loop_iterations) / ticks_per_cycle(ruler);
}

}  // namespace

bool TransitionWindow::usable() const { return rulers_convert(ruler, ruler_middle); }

double transition_best(const TransitionWindow& window) {
    return per_instruction(tick_difference(window.plain.minimum, window.after_state.minimum), window.ruler);
}

double transition_typical(const TransitionWindow& window) {
    return per_instruction(tick_difference(window.plain.median, window.after_state.median), window.ruler_middle);
}

double reference_cycles(const TransitionWindow& window) {
    return per_instruction(static_cast<double>(window.plain.minimum), window.ruler);
}

bool TransitionCell::measurable() const { return beyond_resolution(best); }

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
            std::vector<double> best, typical;
            std::vector<ModeWindow> runs;
            for (const TransitionWindow& window : cell.windows) {
                if (!window.usable()) continue;
                best.push_back(transition_best(window));
                typical.push_back(transition_typical(window));
                reference.push_back(reference_cycles(window));
                runs.push_back({ticks_per_cycle(window.ruler), window.after_state.minimum, window.after_state.median,
                                window.after_state_runs});
            }
            cell.best = spread_of(best);
            cell.typical = spread_of(typical);
            // A run's cycles spread over the chain's instructions.
            cell.modes = modes_of_windows(runs, cell.best.median,
                                          1 / (static_cast<double>(transition_length) * loop_iterations));
        }
        row.reference = spread_of(reference);
    }
    return table;
}

TransitionTable measure_transitions(const TransitionSettings& settings, const CpuidAnswers& answers,
                                    const std::function<void()>& progress,
                                    const TimedRun (&routines)[transition_kind_count][transition_state_count],
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
                const TimedRun turn[] = {routines[kind][0], routines[kind][state], rule[0], rule[1]};
                WindowRuns runs = time_turns(turn, settings.windows.turns);
                const RunSummary ruler_short = summary_of(runs[2]), ruler_long = summary_of(runs[3]);
                cell.windows.push_back({summary_of(runs[0]), summary_of(runs[1]),
                                        {ruler_short.minimum, ruler_long.minimum},
                                        {ruler_short.median, ruler_long.median}, std::move(runs[1])});
                progress();
            }
        }
    }
    return transitions_from(std::move(table));
}
