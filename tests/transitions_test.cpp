#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/console_output.hpp"
#include "matrix/report.hpp"
#include "matrix/transitions/transitions.hpp"
#include "tests/hex.hpp"
#include "tests/matrix_scripts.hpp"
#include "tests/mxcsr.hpp"
#include "tests/scripted_window.hpp"
#include "tests/timed_frame_bytes.hpp"

namespace {

// Each transition routine is read where it runs: vzeroupper, registers 0..3
// loaded at its kind's width (legacy SSE by legacy loads), the state write
// where it is set once before the loop, the timed frame around the loop
// (the state write at its head, where it is written there, and a chain of 4
// or 12 instructions of the kind), register 0 stored, vzeroupper, and for
// zmm16-31 xmm16 cleared. The reference has no routine with the state set
// before the loop; a 32-bit program none for zmm16-31.
TEST(TransitionRoutines, HoldTheStateWriteAndTheChainInTheTimedFrame) {
    constexpr std::uint32_t widths[] = {16, 16, 32, 64};
    const char* const placements[] = {"at the head of a chain of 4", "at the head of a chain of 12",
                                      "once before the loop"};
    for (std::size_t kind = 0; kind < transition_kind_count; ++kind) {
        for (std::size_t state = 0; state < transition_state_count; ++state) {
            for (std::size_t placement = 0; placement < transition_placement_count; ++placement) {
                const TimedRun routine = matrix_transition_routines[kind][state][placement];
                const std::string name = std::string(transition_kinds[kind].name) + " after " +
                                         std::string(transition_states[state].name) + " " + placements[placement];
                const auto where = static_cast<TransitionPlacement>(placement);
                if ((transition_states[state].needs_64_bits && sizeof(void*) < 8) ||
                    (state == 0 && where == once_before)) {
                    EXPECT_EQ(routine, nullptr) << name;
                    continue;
                }
                ASSERT_NE(routine, nullptr) << name;
                // The loop's place is counted from the entry, so the entry
                // itself must stand on a 64-byte boundary.
                EXPECT_EQ(reinterpret_cast<std::uintptr_t>(code_of(routine)) % 64, 0u) << name;
                ExpectedRoutine code(code_of(routine));
                code.add(vzeroupper);
                for (std::uint8_t reg = 0; reg < 4; ++reg) {
                    add_move(code, widths[kind], kind == 0, load, reg, &matrix_chain_values[reg]);
                }
                if (where == once_before) code.add(body_bytes({{transition_states[state].form}}));
                code.timed_frame(0, body_bytes(transition_body(kind, state, where)), loop_offset);
                add_move(code, widths[kind], kind == 0, store, 0, &matrix_chain_result);
                code.add(vzeroupper);
                if (state == 4) code.add({0x62, 0xA1, 0x7D, 0x00, 0xEF, 0xC0});  // vpxord xmm16, xmm16, xmm16
                code.add({0xC3});
                EXPECT_EQ(hex(code.actual()), hex(code.bytes())) << name;
            }
        }
    }
    // The state writes go to registers the chain never reads: 7 and 16; the
    // loop holds them only at the head.
    EXPECT_EQ(hex(body_bytes(transition_body(0, 2, at_head_short))),
              "C4 E3 65 18 FB 01 0F 58 C1 0F 58 C1 0F 58 C1 0F 58 C1");
    EXPECT_EQ(hex(body_bytes(transition_body(0, 4, at_head_short))).substr(0, 17), "62 E1 7C 08 28 C3");
    EXPECT_EQ(transition_body(1, 2, at_head_long).size(), 1 + transition_long);
    EXPECT_EQ(transition_body(1, 2, once_before).size(), transition_long);
    EXPECT_EQ(transition_body(1, 0, at_head_short).size(), transition_short);
}

TEST(TransitionRoutines, EveryRunEndsWithTheChainsValueAndNoExceptionFlag) {
    const std::uint32_t saved = mxcsr();
    const CpuidAnswers answers = cpuid_answers();
    for (std::size_t kind = 0; kind < transition_kind_count; ++kind) {
        for (std::size_t state = 0; state < transition_state_count; ++state) {
            if (!why_no_transition(kind, state, answers).empty()) continue;
            for (std::size_t placement = 0; placement < transition_placement_count; ++placement) {
                const TimedRun routine = matrix_transition_routines[kind][state][placement];
                if (routine == nullptr) continue;
                matrix_chain_result = {};
                set_mxcsr(saved & ~mxcsr_exception_flags);
                routine();
                const std::uint32_t flags = mxcsr() & mxcsr_exception_flags;
                // The value at the kind's full width, but that vzeroupper,
                // the control's state write, clears the lanes above the
                // lowest 128 bits, in the loop or before it.
                constexpr std::size_t lanes[] = {4, 4, 8, 16};
                VectorValue expected{};
                for (std::size_t lane = 0; lane < lanes[kind]; ++lane) {
                    expected.lanes[lane] = lane < 4 || state != 1 ? chain_value.lanes[lane] : 0;
                }
                const std::string name = std::string(transition_kinds[kind].name) + " after " +
                                         std::string(transition_states[state].name) + ", routine " +
                                         std::to_string(placement);
                EXPECT_EQ(
                    std::vector<std::uint32_t>(matrix_chain_result.lanes, matrix_chain_result.lanes + lanes[kind]),
                    std::vector<std::uint32_t>(expected.lanes, expected.lanes + lanes[kind]))
                    << name;
                EXPECT_EQ(flags, 0u) << name;
            }
        }
    }
    set_mxcsr(saved);
}

TEST(TransitionArithmetic, ACostPerChangeAndACostPerInstructionLandInTheirOwnFigures) {
    // Like the Intel core: +389 cycles at each change of state, nothing per
    // instruction after it, nothing once the state stands. Like the AMD one:
    // nothing per change, +1 per instruction after it and in the steady
    // state. Each window at its own clock, the frames apart.
    TransitionTable table = one_kind_after({1, 2, 3});
    for (double ruler : {0.70, 0.77, 0.73}) {
        table.rows[0].cells[2].windows.push_back(transition_window(2, {389, 0, 0}, ruler));
        table.rows[0].cells[3].windows.push_back(transition_window(3, {0, 1, 1}, ruler, 90000));
        // vzeroupper at the head, a hair apart in the best and typical runs.
        table.rows[0].cells[1].windows.push_back(
            transition_window(2, {0.04, 0.002, 0.001}, ruler, 3000, StateCost{0.5, 0, 0}));
    }
    table = transitions_from(std::move(table));
    struct Expected {
        std::size_t state;
        StateCost best, typical;
        bool measurable[3];
    };
    const Expected cases[] = {
        {2, {389, 0, 0}, {389, 0, 0}, {true, false, false}},
        {3, {0, 1, 1}, {0, 1, 1}, {false, true, true}},
        {1, {0.04, 0.002, 0.001}, {0.5, 0, 0}, {false, false, false}},
    };
    for (const Expected& c : cases) {
        const TransitionCell& cell = table.rows[0].cells[c.state];
        const double best[] = {c.best.change, c.best.instruction, c.best.steady};
        const double typical[] = {c.typical.change, c.typical.instruction, c.typical.steady};
        for (std::size_t figure = 0; figure < transition_figure_count; ++figure) {
            const std::string name = std::string(transition_states[c.state].name) + " " +
                                     std::string(transition_figures[figure].name);
            // Whole ticks leave a few thousandths.
            EXPECT_NEAR(cell.figures[figure].best.lowest, best[figure], 1e-2) << name;
            EXPECT_NEAR(cell.figures[figure].best.highest, best[figure], 1e-2) << name;
            EXPECT_NEAR(cell.figures[figure].typical.median, typical[figure], 1e-2) << name;
            EXPECT_EQ(cell.figures[figure].measurable(), c.measurable[figure]) << name;
        }
    }
    // The reference's cycles per instruction, its frame cancelled between its
    // two lengths, over every cell's windows.
    EXPECT_NEAR(table.rows[0].reference.lowest, 2, 1e-4);
    EXPECT_NEAR(table.rows[0].reference.highest, 3, 1e-4);
}

TEST(TransitionArithmetic, AWindowWhoseRulerCannotConvertIsLeftOut) {
    TransitionTable table = one_kind_after({2});
    std::vector<TransitionWindow>& windows = table.rows[0].cells[2].windows;
    for (double ruler : {0.70, 0.77}) windows.push_back(transition_window(2, {389, 0, 0}, ruler));
    windows.push_back(transition_window(2, {1, 1, 1}, 0.8));
    windows.back().ruler.longer = windows.back().ruler.shorter;
    table = transitions_from(std::move(table));
    EXPECT_NEAR(table.rows[0].cells[2].figures[per_change].best.lowest, 389, 1e-2);
    EXPECT_NEAR(table.rows[0].cells[2].figures[per_instruction].best.highest, 0, 1e-2);
    // Nor does its ruler count among the windows' in the report.
    MatrixResults results = results_of(scripted_matrix({pand}, {0.7}, [](ChainPair, std::size_t) {
        return std::pair{1.0, 1.0};
    }));
    results.transitions = table;
    const std::string report = matrix_report(results, calibration_from({}, {0, 0}, {1, 1}));
    EXPECT_EQ(section(report, "each window", "chains of"),
              "each window converted by the clock's add chains timed in it: 0.7000 ticks per core cycle (spread "
              "10.00%)" + std::string(line_break));
}

// Twelve runs of `routine` in the window, each as fast as its fastest run
// but for the first `fast` runs, `faster` cycles an iteration faster still.
void keep_transition_runs(TransitionWindow& window, TransitionRun routine, std::uint32_t fast, double faster) {
    const std::uint64_t each = window.runs[routine].minimum;
    std::vector<std::uint64_t>& runs = window.every_run[routine];
    runs.assign(12, each);
    const double ticks = faster * loop_iterations * ticks_per_cycle(window.ruler);
    for (std::uint32_t r = 0; r < fast; ++r) runs[r] = each - static_cast<std::uint64_t>(ticks + 0.5);
    window.runs[routine] = summary_of(runs);
}

TEST(TransitionModes, EachFigureJudgesTheRunsOfItsOwnRoutine) {
    // +389 per change and +2 per instruction in the steady state, twelve
    // windows of twelve runs. Half the runs of the long chain at the head
    // save 6 cycles an iteration in two windows: a mode of its own per change
    // of state, half a cycle per instruction, which is one mode. Three runs
    // of the steady chain save all of its 24 in three other windows.
    TransitionTable table = one_kind_after({2});
    for (std::size_t w = 0; w < 12; ++w) {
        TransitionWindow window = transition_window(2, {389, 0, 2}, 0.70 + 0.01 * static_cast<double>(w % 3));
        // Its middle runs as fast as its fastest.
        for (RunSummary& runs : window.runs) runs.median = runs.minimum;
        window.ruler_middle = window.ruler;
        keep_transition_runs(window, head_long, w == 2 || w == 7 ? 6 : 0, 6);
        keep_transition_runs(window, steady_long, w == 4 || w == 9 || w == 10 ? 3 : 0, 24);
        table.rows[0].cells[2].windows.push_back(std::move(window));
    }
    table = transitions_from(std::move(table));
    const TransitionCell& cell = table.rows[0].cells[2];
    const Modes& change = cell.figures[per_change].modes;
    EXPECT_TRUE(change.bimodal());
    EXPECT_EQ(change.fast_runs, 12u);
    EXPECT_EQ(change.runs, 144u);
    EXPECT_NEAR(change.fast, 383, 1e-2);
    const Modes& instruction = cell.figures[per_instruction].modes;
    EXPECT_FALSE(instruction.bimodal());
    EXPECT_EQ(instruction.fast_runs, 0u);
    EXPECT_EQ(instruction.runs, 144u);
    const Modes& steady = cell.figures[steady_per_instruction].modes;
    EXPECT_TRUE(steady.bimodal());
    EXPECT_EQ(steady.fast_runs, 9u);
    EXPECT_NEAR(steady.fast, 0, 1e-2);
    // The text marks each bimodal figure and gives its two modes beneath;
    // the steady figure's fast windows put their best at zero.
    MatrixResults results = results_of(scripted_matrix({pand}, {0.7}, [](ChainPair, std::size_t) {
        return std::pair{1.0, 1.0};
    }));
    results.transitions = table;
    const std::string report = matrix_report(results, calibration_from({}, {0, 0}, {1, 1}));
    const std::string next_line(line_break);
    EXPECT_EQ(section(report, "    dirty YMM", "    dirty ZMM"),
              "    dirty YMM upper half                 +389.0*~ +389.0    +0.00    +0.00    +2.00 ~  +2.00" +
                  next_line + "      per change of state, two modes: fast +383.0 in 8.3% of runs, typical +389.0" +
                  next_line + "      per instruction, steady state, two modes: fast +0.00 in 6.3% of runs, typical "
                              "+2.00" + next_line);
}

TEST(TransitionModes, EveryRunIsReadByTheFastestRulerOfItsWindow) {
    // As above, but the ruler's middle runs ran at a clock 10% slower than
    // its fastest, as the chains' middle runs did not: the fast runs still
    // save 6 cycles per change, read by the fastest ruler.
    TransitionTable table = one_kind_after({2});
    for (std::size_t w = 0; w < 12; ++w) {
        TransitionWindow window = transition_window(2, {389, 0, 2}, 0.70 + 0.01 * static_cast<double>(w % 3));
        keep_transition_runs(window, head_long, w == 2 || w == 7 ? 6 : 0, 6);
        table.rows[0].cells[2].windows.push_back(std::move(window));
    }
    table = transitions_from(std::move(table));
    const Modes& change = table.rows[0].cells[2].figures[per_change].modes;
    EXPECT_TRUE(change.bimodal());
    EXPECT_EQ(change.fast_runs, 12u);
    EXPECT_NEAR(change.fast, 383, 1e-2);
}

TEST(TransitionModes, ABimodalFiguresLineGivesItsFastModeAndItsTypicalFigure) {
    // The cost per change: best +400.0, typical +404.6, fast +397.4 in 4 of
    // 144 runs; the report's line under the state gives the typical figure,
    // not the best.
    TransitionTable table = one_kind_after({1});
    TransitionCell& cell = table.rows[0].cells[1];
    cell.windows.push_back(transition_window(2, {400, 0, 0}, 0.7));
    cell.figures[per_change] = {{400.0, 399.0, 401.0}, {404.6, 403.0, 406.0}, {397.4, 4, 144}};
    MatrixResults results = results_of(scripted_matrix({pand}, {0.7}, [](ChainPair, std::size_t) {
        return std::pair{1.0, 1.0};
    }));
    results.transitions = table;
    const std::string report = matrix_report(results, calibration_from({}, {0, 0}, {1, 1}));
    EXPECT_EQ(section(report, "      per change of state, two modes", "    dirty YMM"),
              "      per change of state, two modes: fast +397.4 in 2.8% of runs, typical +404.6" +
                  std::string(line_break));
}

TEST(TransitionMeasurement, TimesOnlyWhatTheProcessorCanRunTheReferenceAndTheRulerInEveryTurn) {
    static std::string calls;
    calls.clear();
    static std::uint64_t stamp;
    static TimedRun routines[transition_kind_count][transition_state_count][transition_placement_count];
    static ClockChain ruler[clock_chain_count];
    // Every run lasts as many ticks as the number its routine leaves.
    static void (*leave)(std::uint64_t) = [](std::uint64_t ticks) {
        measurement_state.start = stamp;
        measurement_state.end = stamp + ticks;
        stamp += 1'000'000;
    };
    for (auto& kind : routines) {
        for (auto& state : kind) {
            for (TimedRun& routine : state) routine = [] { calls += '!'; leave(1); };
        }
    }
    // The first kind's reference at both lengths, then the clean state's and
    // the dirty YMM state's routines: at the head of 4, of 12, and before.
    routines[0][0][0] = [] { calls += 'a'; leave(10); };
    routines[0][0][1] = [] { calls += 'A'; leave(11); };
    routines[0][1][0] = [] { calls += 'b'; leave(20); };
    routines[0][1][1] = [] { calls += 'B'; leave(21); };
    routines[0][1][2] = [] { calls += 's'; leave(22); };
    routines[0][2][0] = [] { calls += 'c'; leave(30); };
    routines[0][2][1] = [] { calls += 'C'; leave(31); };
    routines[0][2][2] = [] { calls += 't'; leave(32); };
    // The other kinds run any of theirs alike.
    for (std::size_t kind = 1; kind < 3; ++kind) {
        for (std::size_t state = 0; state < 3; ++state) {
            for (TimedRun& routine : routines[kind][state]) routine = [] { calls += '.'; leave(2); };
        }
    }
    std::copy(std::begin(clock_chains), std::end(clock_chains), ruler);
    ruler[add_short].run = [] { calls += 'r'; leave(1000); };
    ruler[add_long].run = [] { calls += 'R'; leave(3000); };
    std::size_t progress = 0;
    const TransitionSettings settings{{2, 1}};
    const TransitionTable table = measure_transitions(settings, avx2_core, [&] { ++progress; }, routines, ruler);
    // No AVX-512: the ZMM states and the EVEX kind are never run.
    const std::string pass = "aAbBsrR" "aAcCtrR" ".....rR" ".....rR" ".....rR" ".....rR";
    EXPECT_EQ(calls, pass + pass);
    EXPECT_EQ(progress, transition_window_count(settings, avx2_core));
    EXPECT_EQ(progress, 12u);
    EXPECT_EQ(table.rows[3].why, "the processor has no AVX-512 Foundation");
    EXPECT_EQ(table.rows[0].cells[3].why, "the processor has no AVX-512 Foundation");
    EXPECT_TRUE(table.rows[0].cells[3].windows.empty());
    EXPECT_EQ(table.rows[1].cells[2].windows.size(), 2u);
    // Each routine's runs land in their place in the window.
    const TransitionWindow& window = table.rows[0].cells[2].windows[1];
    std::vector<std::uint64_t> minimums;
    for (const RunSummary& runs : window.runs) minimums.push_back(runs.minimum);
    EXPECT_EQ(minimums, (std::vector<std::uint64_t>{10, 11, 30, 31, 32}));
    EXPECT_EQ(window.ruler.longer, 3000u);
    EXPECT_EQ(window.ruler_middle.shorter, 1000u);
    // Three turns a window, the ruler's chains slower in some: its fastest
    // runs, and its middle ones, are those of each of its chains.
    static std::uint32_t ruler_turn;
    ruler_turn = 0;
    ruler[add_short].run = [] { leave(std::array<std::uint64_t, 3>{1200, 1000, 1100}[ruler_turn % 3]); };
    ruler[add_long].run = [] { leave(std::array<std::uint64_t, 3>{3300, 3100, 3000}[ruler_turn++ % 3]); };
    const TransitionTable three_turns = measure_transitions({{1, 3}}, avx2_core, [] {}, routines, ruler);
    const TransitionWindow& slower = three_turns.rows[0].cells[2].windows[0];
    EXPECT_EQ((std::vector<std::uint64_t>{slower.ruler.shorter, slower.ruler.longer, slower.ruler_middle.shorter,
                                          slower.ruler_middle.longer}),
              (std::vector<std::uint64_t>{1000, 3000, 1100, 3100}));
    // The zmm16-31 state's write is an EVEX.128 move, which needs AVX-512 VL.
    const CpuidAnswers without_vl{avx512_core.leaf1_ecx, avx512_core.leaf1_edx, avx512_core.leaf7_ebx & ~vl_bit,
                                  avx512_core.xcr0};
    EXPECT_EQ(why_no_transition(0, 3, without_vl), "");
    if (sizeof(void*) < 8) {
        EXPECT_EQ(why_no_transition(0, 4, avx512_core), "a 32-bit program has no zmm16-31");
        EXPECT_EQ(why_no_transition(0, 4, without_vl), "a 32-bit program has no zmm16-31");
    } else {
        EXPECT_EQ(why_no_transition(0, 4, avx512_core), "");
        EXPECT_EQ(why_no_transition(0, 4, without_vl), "the processor has no AVX-512 VL");
    }
}

TEST(MatrixJson, GivesEachTransitionFigureItsOwnObjectAndEveryRoutinesRunsWindowByWindow) {
    // The dirty YMM upper half costs +389 per change, the dirty ZMM one +1
    // per instruction, after a change and in the steady state.
    MatrixResults results = results_of(scripted_matrix({pand}, {0.7}, [](ChainPair, std::size_t) {
        return std::pair{1.0, 1.0};
    }));
    results.transitions = one_kind_after({2, 3});
    for (double ruler : {0.7, 0.75}) {
        results.transitions.rows[0].cells[2].windows.push_back(transition_window(2, {389, 0, 0}, ruler));
        results.transitions.rows[0].cells[3].windows.push_back(transition_window(2, {0, 1, 1}, ruler));
    }
    results.transitions = transitions_from(std::move(results.transitions));
    const Json transitions = matrix_json(results, calibration_from({}, {0, 0}, {1, 1}))["transitions"];
    EXPECT_EQ(keys_of(transitions), (std::vector<std::string>{"short_chain", "long_chain", "steady_chain", "windows",
                                                              "turns", "figures", "states", "kinds"}));
    // Each figure names the routine whose runs its modes judge and the parts
    // of an iteration a run is spread over.
    EXPECT_EQ(transitions["figures"], Json::parse(R"([
        {"name": "per_change", "title": "per change of state", "modes_from": "head_long", "modes_parts": 1},
        {"name": "per_instruction", "title": "per instruction after a change", "modes_from": "head_long",
         "modes_parts": 12},
        {"name": "steady_per_instruction", "title": "per instruction, steady state", "modes_from": "steady",
         "modes_parts": 12}])"));
    const Json& states = transitions["kinds"][0]["states"];
    EXPECT_EQ(states[0], Json({{"state", "clean"}, {"status", "unsupported"}, {"why", "not measured here"}}));
    EXPECT_EQ(keys_of(states[1]), (std::vector<std::string>{"state", "status", "per_change", "per_instruction",
                                                            "steady_per_instruction", "windows"}));
    EXPECT_EQ(keys_of(states[1]["per_change"]), (std::vector<std::string>{"cycles", "cycles_lowest", "cycles_highest",
                                                                          "typical", "typical_lowest",
                                                                          "typical_highest", "measurable", "bimodal",
                                                                          "fast", "fast_share", "fast_runs", "runs"}));
    // Each figure in its own object, the dirty YMM state's then the ZMM one's.
    const double expected[2][3] = {{389, 0, 0}, {0, 1, 1}};
    for (std::size_t which = 0; which < 2; ++which) {
        for (std::size_t figure = 0; figure < transition_figure_count; ++figure) {
            const Json& entry = states[which + 1][std::string(transition_figures[figure].name)];
            EXPECT_NEAR(entry["cycles"].get<double>(), expected[which][figure], 1e-2) << which << figure;
            EXPECT_EQ(entry["measurable"], expected[which][figure] != 0) << which << figure;
        }
    }
    // Every routine's fastest and middle runs, and the ruler's.
    const std::vector<TransitionWindow>& windows = results.transitions.rows[0].cells[2].windows;
    EXPECT_EQ(keys_of(states[1]["windows"]),
              (std::vector<std::string>{"reference_short_minimums", "reference_short_medians",
                                        "reference_long_minimums", "reference_long_medians", "head_short_minimums",
                                        "head_short_medians", "head_long_minimums", "head_long_medians",
                                        "steady_minimums", "steady_medians", "ruler_minimums", "ruler_medians"}));
    EXPECT_EQ(states[1]["windows"]["steady_medians"],
              Json::array({windows[0].runs[steady_long].median, windows[1].runs[steady_long].median}));
    // The ruler's middle runs, which ran at a slower clock than its fastest.
    EXPECT_EQ(states[1]["windows"]["ruler_minimums"],
              Json::array({Json::array({windows[0].ruler.shorter, windows[0].ruler.longer}),
                           Json::array({windows[1].ruler.shorter, windows[1].ruler.longer})}));
    EXPECT_EQ(states[1]["windows"]["ruler_medians"],
              Json::array({Json::array({windows[0].ruler_middle.shorter, windows[0].ruler_middle.longer}),
                           Json::array({windows[1].ruler_middle.shorter, windows[1].ruler_middle.longer})}));
}

}  // namespace
