#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "matrix/chains.hpp"
#include "matrix/plan.hpp"
#include "matrix/transitions.hpp"
#include "matrix/penalties.hpp"
#include "matrix/report.hpp"
#include "console/console_output.hpp"
#include "tests/hex.hpp"
#include "tests/mxcsr.hpp"
#include "tests/scripted_window.hpp"
#include "tests/timed_frame_bytes.hpp"

namespace {

Bytes body_bytes(const std::vector<Instruction>& body) {
    Bytes bytes;
    for (const Instruction& instruction : body) {
        for (std::uint8_t byte : instruction.encoding()) bytes.push_back(byte);
    }
    return bytes;
}

// A load of register `reg` from a row of matrix_chain_values, or a store of
// register 0 into matrix_chain_result, at a width: legacy SSE movaps, VEX
// vmovaps or EVEX vmovaps, the operand a 32-bit address.
void add_move(ExpectedRoutine& code, std::uint32_t width, bool legacy, std::uint8_t opcode, std::uint8_t reg,
              const void* address) {
    if (legacy) {
        code.add({0x0F, opcode});
    } else if (width == 64) {
        code.add({0x62, 0xF1, 0x7C, 0x48, opcode});
    } else {
        code.add({0xC5, static_cast<std::uint8_t>(width == 32 ? 0xFC : 0xF8), opcode});
    }
    code.add({static_cast<std::uint8_t>(0x05 + 8 * reg)});
    code.add_address(address);
}

constexpr std::uint8_t load = 0x28, store = 0x29;
// Every routine's loop starts two 64-byte boundaries after its entry.
constexpr std::size_t loop_offset = 128;
const Bytes vzeroupper{0xC5, 0xF8, 0x77};

// Each chain is read where it runs: vzeroupper (for SSE only where AVX is
// usable), registers 0 to 7 loaded from matrix_chain_values at the table's
// width, register 0 from the zero row where the chain runs on zeros, the timed
// frame of 2,048 iterations around its classes in turn with the loop on a
// 64-byte boundary, and
// register 0 stored into matrix_chain_result, the upper halves cleared
// again after VEX and EVEX.
Bytes expected_chain(const ClassTable& table, TimedRun routine, ChainPair pair, std::uint32_t length) {
    ExpectedRoutine code(code_of(routine));
    const bool legacy = table.width == 16;
    if (legacy) {
        code.add({0x80, 0x3D});  // cmp byte [avx_usable], 0
        code.add_address(&avx_usable, 1);
        code.add({0x00, 0x74, 0x03});  // je over vzeroupper
    }
    code.add(vzeroupper);
    for (std::uint8_t reg = 0; reg < 8; ++reg) {
        const std::size_t row = reg == 0 && table.from_zero(pair) ? 1 : reg;
        add_move(code, table.width, legacy, load, reg, &matrix_chain_values[row]);
    }
    code.timed_frame(0, body_bytes(chain_body(table, pair, length)), loop_offset, chain_iterations);
    add_move(code, table.width, legacy, store, 0, &matrix_chain_result);
    if (!legacy) code.add(vzeroupper);
    code.add({0xC3});
    return code.bytes();
}

struct NamedTable {
    const char* name;
    const ClassTable& table;
};
const NamedTable tables[] = {{"sse", sse_table}, {"vex256", vex256_table}, {"evex512", evex512_table}};

std::vector<std::size_t> all_classes(const ClassTable& table) {
    std::vector<std::size_t> classes;
    for (std::size_t c = 0; c < table.classes.size(); ++c) classes.push_back(c);
    return classes;
}

std::string chain_name(const ClassTable& table, ChainPair pair) {
    return std::string(table.classes[pair.first].name) + ", " + std::string(table.classes[pair.second].name);
}

// Every routine of every table, whether this processor can run it or not.
TEST(MatrixChains, HoldTheirClassesInTurnInTheTimedFrame) {
    for (const NamedTable& named : tables) {
        const std::vector<ChainPair> chains = chains_of(all_classes(named.table));
        ASSERT_EQ(chains.size(), named.table.routines.size()) << named.name;
        for (const ChainPair& pair : chains) {
            const ChainRoutines& routines = named.table.routines[named.table.chain_index(pair)];
            for (const auto& [routine, length] :
                 {std::pair{routines.shorter, short_chain}, {routines.longer, long_chain}}) {
                const Bytes expected = expected_chain(named.table, routine, pair, length);
                EXPECT_EQ(hex(Bytes(code_of(routine), code_of(routine) + expected.size())), hex(expected))
                    << named.name << ": " << chain_name(named.table, pair) << ", " << length << " per iteration";
            }
        }
    }
}

TEST(MatrixChains, TheShufflesAndLaneCrossingsSwapEqualHalves) {
    // pshufd and shufps with 0x4E, shufpd with 0x01: the value's two equal
    // halves change places; at 256 bits vshufpd does so in each lane with
    // 0x05, vperm2f128 swaps the lanes; at 512 bits vshufpd takes 0x55 and
    // vshuff32x4 0x4E swaps the halves.
    EXPECT_EQ(hex(body_bytes(chain_body(sse_table, {3, 7}, 2))), "66 0F 70 C0 4E 0F C6 C0 4E");
    EXPECT_EQ(hex(body_bytes(chain_body(sse_table, {11, 11}, 1))), "66 0F C6 C0 01");
    EXPECT_EQ(hex(body_bytes(chain_body(vex256_table, {11, 15}, 2))), "C5 FD C6 C0 05 C4 E3 7D 06 C0 01");
    EXPECT_EQ(hex(body_bytes(chain_body(evex512_table, {11, 15}, 2))),
              "62 F1 FD 48 C6 C0 55 62 F3 7D 48 23 C0 4E");
}

// After any run of a chain the processor can run, register 0 holds the
// chain's value (zero for a conversion's chain) at the table's width, and no
// instruction met a denormal, underflowed, rounded or was invalid.
TEST(MatrixChains, EveryRunEndsWithTheChainsValueAndNoExceptionFlag) {
    const std::uint32_t saved = mxcsr();
    const Features features = usable_features(cpuid_answers());
    for (const NamedTable& named : tables) {
        for (const ChainPair& pair : chains_of(all_classes(named.table))) {
            const Features needs = named.table.classes[pair.first].needs | named.table.classes[pair.second].needs;
            if ((needs & ~features) != 0) continue;
            const ChainRoutines& routines = named.table.routines[named.table.chain_index(pair)];
            const VectorValue& expected = named.table.from_zero(pair) ? zero_value : chain_value;
            for (TimedRun routine : {routines.shorter, routines.longer}) {
                std::fill(std::begin(matrix_chain_result.lanes), std::end(matrix_chain_result.lanes), 0xDEADBEEF);
                set_mxcsr(saved & ~mxcsr_exception_flags);
                routine();
                const std::uint32_t flags = mxcsr() & mxcsr_exception_flags;
                const std::size_t lanes = named.table.width / 4;
                EXPECT_EQ(std::vector<std::uint32_t>(matrix_chain_result.lanes, matrix_chain_result.lanes + lanes),
                          std::vector<std::uint32_t>(expected.lanes, expected.lanes + lanes))
                    << named.name << ": " << chain_name(named.table, pair);
                EXPECT_EQ(flags, 0u) << named.name << ": " << chain_name(named.table, pair);
            }
        }
    }
    set_mxcsr(saved);
}

// Each transition routine is read where it runs: vzeroupper, registers 0..3
// loaded at its kind's width (legacy SSE by legacy loads), the timed frame
// around the state write and twelve instructions of its kind, register 0
// stored, vzeroupper, and for zmm16-31 xmm16 cleared. A 32-bit program has
// no routine for zmm16-31.
TEST(TransitionRoutines, HoldTheStateWriteAndTheChainInTheTimedFrame) {
    constexpr std::uint32_t widths[] = {16, 16, 32, 64};
    for (std::size_t kind = 0; kind < transition_kind_count; ++kind) {
        for (std::size_t state = 0; state < transition_state_count; ++state) {
            const TimedRun routine = matrix_transition_routines[kind][state];
            const std::string name = std::string(transition_kinds[kind].name) + " after " +
                                     std::string(transition_states[state].name);
            if (transition_states[state].needs_64_bits && sizeof(void*) < 8) {
                EXPECT_EQ(routine, nullptr) << name;
                continue;
            }
            ASSERT_NE(routine, nullptr) << name;
            ExpectedRoutine code(code_of(routine));
            code.add(vzeroupper);
            for (std::uint8_t reg = 0; reg < 4; ++reg) {
                add_move(code, widths[kind], kind == 0, load, reg, &matrix_chain_values[reg]);
            }
            code.timed_frame(0, body_bytes(transition_body(kind, state)), loop_offset);
            add_move(code, widths[kind], kind == 0, store, 0, &matrix_chain_result);
            code.add(vzeroupper);
            if (state == 4) code.add({0x62, 0xA1, 0x7D, 0x00, 0xEF, 0xC0});  // vpxord xmm16, xmm16, xmm16
            code.add({0xC3});
            EXPECT_EQ(hex(code.actual()), hex(code.bytes())) << name;
        }
    }
    // The state writes go to registers the chain never reads: 7 and 16.
    EXPECT_EQ(hex(body_bytes(transition_body(0, 2))).substr(0, 17), "C4 E3 65 18 FB 01");
    EXPECT_EQ(transition_body(1, 0).size(), transition_length);
}

TEST(TransitionRoutines, EveryRunEndsWithTheChainsValueAndNoExceptionFlag) {
    const std::uint32_t saved = mxcsr();
    const CpuidAnswers answers = cpuid_answers();
    for (std::size_t kind = 0; kind < transition_kind_count; ++kind) {
        for (std::size_t state = 0; state < transition_state_count; ++state) {
            if (!why_no_transition(kind, state, answers).empty()) continue;
            matrix_chain_result = {};
            set_mxcsr(saved & ~mxcsr_exception_flags);
            matrix_transition_routines[kind][state]();
            const std::uint32_t flags = mxcsr() & mxcsr_exception_flags;
            // The value at the kind's full width, but that vzeroupper in the
            // loop of the control clears the lanes above the lowest 128 bits.
            constexpr std::size_t lanes[] = {4, 4, 8, 16};
            VectorValue expected{};
            for (std::size_t lane = 0; lane < lanes[kind]; ++lane) {
                expected.lanes[lane] = lane < 4 || state != 1 ? chain_value.lanes[lane] : 0;
            }
            EXPECT_EQ(std::vector<std::uint32_t>(matrix_chain_result.lanes, matrix_chain_result.lanes + lanes[kind]),
                      std::vector<std::uint32_t>(expected.lanes, expected.lanes + lanes[kind]))
                << transition_kinds[kind].name << " after " << transition_states[state].name;
            EXPECT_EQ(flags, 0u) << transition_kinds[kind].name << " after " << transition_states[state].name;
        }
    }
    set_mxcsr(saved);
}

// One window of a chain whose instructions take `cycles` each at `ruler`
// ticks per cycle, in a frame of `frame` ticks; its middle runs, and the
// ruler's, ran at a clock 10% slower, and take `typical` each.
ChainWindow window_taking(double cycles, double ruler, double typical = 0, double frame = 5000) {
    return scripted_window(short_chain, long_chain, cycles, ruler, typical, frame, chain_iterations);
}

constexpr std::size_t paddd = 0, pand = 2, pshufd = 3, addps = 4, mulps = 5, addpd = 8;

TEST(MatrixArithmetic, LatencyIsTheLongChainsExtraInstructionsAloneTheFrameCancelled) {
    EXPECT_NEAR(best_cycles(window_taking(3, 0.75, 0, 5000)), 3.0, 1e-9);
    EXPECT_NEAR(best_cycles(window_taking(3, 0.75, 0, 90000)), 3.0, 1e-9);
    EXPECT_NEAR(typical_cycles(window_taking(1, 2.0, 1.5, 0)), 1.5, 1e-4);
}

// The matrix of `classes` whose chains take, window by window, the cycles
// that `chain_cycles(pair, window)` gives, at the window's ruler.
template <typename Cycles>
PenaltyMatrix scripted_matrix(const std::vector<std::size_t>& classes, const std::vector<double>& rulers,
                              Cycles chain_cycles) {
    std::vector<std::vector<ChainWindow>> windows(sse_table.chain_count());
    for (std::size_t w = 0; w < rulers.size(); ++w) {
        for (const ChainPair& pair : chains_of(classes)) {
            const auto [best, typical] = chain_cycles(pair, w);
            windows[sse_table.chain_index(pair)].push_back(window_taking(best, rulers[w], typical));
        }
    }
    return matrix_from(sse_table, classes, MatrixSettings{{static_cast<std::uint32_t>(rulers.size()), 32}}, std::move(windows));
}

// A run that measured one SSE matrix, and no transitions.
MatrixResults results_of(const PenaltyMatrix& matrix) {
    MatrixResults results;
    results.families = {{{&families[0], FamilyStatus::measured, "", matrix.classes, {}}, matrix}};
    for (TransitionRow& row : results.transitions.rows) row.why = "not measured here";
    return results;
}

TEST(MatrixArithmetic, ARoundTripIsTheAlternatingChainLessBothLatenciesEachWindowByItsOwnRuler) {
    // pand 1 cycle, mulps 4; pand <-> mulps costs 1.5 more per round trip,
    // so the alternating chain takes (1 + 4 + 1.5) / 2 per instruction. The
    // core stands on another level in every window: its own ruler gives the
    // same cycles.
    const PenaltyMatrix matrix = scripted_matrix({pand, mulps}, {0.70, 0.77, 0.73}, [](ChainPair pair, std::size_t) {
        const double cycles = pair.first != pair.second ? 6.5 / 2 : pair.first == pand ? 1.0 : 4.0;
        return std::pair{cycles, cycles};
    });
    EXPECT_NEAR(matrix.latencies[pand].best.median, 1.0, 1e-4);
    EXPECT_NEAR(matrix.latencies[mulps].best.median, 4.0, 1e-4);
    EXPECT_NEAR(matrix.ticks_per_cycle.lowest, 0.70, 1e-4);
    EXPECT_NEAR(matrix.ticks_per_cycle.highest, 0.77, 1e-4);
    const Cell& cell = matrix.round_trips[sse_table.chain_index({pand, mulps})];
    EXPECT_NEAR(cell.best.lowest, 1.5, 1e-3);
    EXPECT_NEAR(cell.best.highest, 1.5, 1e-3);
    EXPECT_TRUE(cell.measurable());
    EXPECT_FALSE(cell.bimodal());
    // A window of one chain whose ruler cannot convert leaves that window
    // out of the chain's figures and of its round trips, not divided by.
    std::vector<std::vector<ChainWindow>> windows = matrix.windows;
    windows[sse_table.chain_index({pand, pand})][1].ruler.longer = windows[sse_table.chain_index({pand, pand})][1].ruler.shorter;
    windows[sse_table.chain_index({pand, pand})][1].shorter = {1, 1};
    const PenaltyMatrix kept = matrix_from(sse_table, {pand, mulps}, matrix.settings, std::move(windows));
    EXPECT_NEAR(kept.latencies[pand].best.lowest, 1.0, 1e-4);
    EXPECT_NEAR(kept.round_trips[sse_table.chain_index({pand, mulps})].best.highest, 1.5, 1e-3);
    EXPECT_NEAR(kept.round_trips[sse_table.chain_index({pand, mulps})].best.lowest, 1.5, 1e-3);
}

TEST(MatrixArithmetic, ACellIsMeasurableWhenEveryWindowPutsItOnTheSameSideBeyondTheResolution) {
    struct Case {
        double median, lowest, highest;
        bool measurable;
    };
    const Case cases[] = {
        {45.0, 10.0, 70.0, true},   // wide, but every window costs
        {-0.5, -0.6, -0.4, true},   // a saving counts as much as a cost
        {0.3, -0.05, 0.5, false},   // one window says nothing
        {0.1, 0.1, 0.1, true},      // the report's resolution
        {0.1, 0.09, 0.2, false},
        {0.05, 0.05, 0.05, false},  // below what the report shows
    };
    for (const Case& c : cases) {
        const Cell cell{{c.median, c.lowest, c.highest}, {c.median, c.lowest, c.highest}, 0};
        EXPECT_EQ(cell.measurable(), c.measurable) << c.median;
    }
}

TEST(MatrixArithmetic, AWideCrossingWhoseWindowsAllCostIsReportedAsCosting) {
    // addps <-> addpd costs from +10 to +70 cycles per round trip, window by
    // window, around +45: a handover that is fast in some windows' best runs.
    const double trips[] = {10, 45, 70, 30, 60};
    const PenaltyMatrix matrix =
        scripted_matrix({addps, addpd}, {0.7, 0.7, 0.7, 0.7, 0.7}, [&](ChainPair pair, std::size_t w) {
            const double cycles = pair.first != pair.second ? (3 + 3 + trips[w]) / 2 : 3.0;
            return std::pair{cycles, cycles};
        });
    const Cell& cell = matrix.round_trips[sse_table.chain_index({addps, addpd})];
    EXPECT_NEAR(cell.best.median, 45, 1e-3);
    EXPECT_TRUE(cell.measurable());
    const std::string report = matrix_report(results_of(matrix), calibration_from({}, {0, 0}, {1, 1}));
    EXPECT_NE(report.find("crossings that cost:" + std::string(line_break) +
                          "  addps <-> addpd: +45.0 cycles per round trip" + std::string(line_break)),
              std::string::npos)
        << report;
}

TEST(MatrixArithmetic, ACellWhoseMostRunsAreSlowerThanItsBestIsBimodal) {
    // paddd runs at 1.0 at best but 1.6 typically, from port assignment, and
    // addps at 3.0; alternating them costs 2 cycles per round trip at best
    // and 70 typically. paddd's own difference must not count.
    const PenaltyMatrix matrix = scripted_matrix({paddd, addps}, {0.7, 0.75}, [](ChainPair pair, std::size_t) {
        if (pair.first != pair.second) return std::pair{(1.0 + 3.0 + 2.0) / 2, (1.6 + 3.0 + 70.0) / 2};
        return pair.first == paddd ? std::pair{1.0, 1.6} : std::pair{3.0, 3.0};
    });
    const Cell& cell = matrix.round_trips[sse_table.chain_index({paddd, addps})];
    EXPECT_NEAR(cell.best.median, 2.0, 1e-3);
    EXPECT_NEAR(cell.typical.median, 70.0, 1e-3);
    EXPECT_TRUE(cell.bimodal());
    EXPECT_NEAR(matrix.latencies[paddd].typical.median, 1.6, 1e-3);
    // Port assignment alone makes no cell bimodal.
    const PenaltyMatrix plain = scripted_matrix({paddd, pand}, {0.7}, [](ChainPair pair, std::size_t) {
        if (pair.first != pair.second) return std::pair{1.0, 1.3};
        return pair.first == paddd ? std::pair{1.0, 1.6} : std::pair{1.0, 1.0};
    });
    EXPECT_FALSE(plain.round_trips[sse_table.chain_index({paddd, pand})].bimodal());
}

TEST(MatrixArithmetic, ACellWhoseTypicalRunIsCheaperThanItsBestIsNotBimodal) {
    // Only a typical round trip dearer than the best one by more than the
    // margin runs at two speeds, fast in a few runs and slow in most; one as
    // much cheaper is no second, slower speed.
    struct Case {
        double best, typical;
        bool bimodal;
    };
    const Case cases[] = {
        {2.0, 3.5, true},
        {2.0, 0.5, false},
        {3.0, -40.0, false},
    };
    for (const Case& c : cases) {
        const Cell cell{{c.best, c.best, c.best}, {c.typical, c.typical, c.typical}, 0};
        EXPECT_EQ(cell.bimodal(), c.bimodal) << c.best << " " << c.typical;
    }
}

TEST(MatrixArithmetic, TheShareOfFastRunsCountsTheRunsNearerTheBestThanTheTypical) {
    // Three windows of 32 long runs, at three rulers: 2 fast runs (40,000,
    // 60,000 and 50,000 core cycles), 2 of 122,000 and 28 slow ones of
    // 200,000. The midpoint of the median best and the typical run is
    // 125,000, so 4 runs a window count as fast.
    std::vector<std::vector<ChainWindow>> windows(sse_table.chain_count());
    const double rulers[] = {0.7, 0.8, 0.75}, fast[] = {40'000, 60'000, 50'000};
    for (const ChainPair& pair : chains_of({paddd, addps})) {
        for (double ruler : rulers) windows[sse_table.chain_index(pair)].push_back(window_taking(2, ruler));
    }
    for (std::size_t w = 0; w < 3; ++w) {
        ChainWindow& window = windows[sse_table.chain_index({paddd, addps})][w];
        auto ticks = [&](double cycles) { return static_cast<std::uint64_t>(cycles * rulers[w]); };
        window.longer_runs.assign(32, ticks(200'000));
        window.longer_runs[3] = window.longer_runs[17] = ticks(fast[w]);
        window.longer_runs[5] = window.longer_runs[30] = ticks(122'000);
        window.longer = summary_of(window.longer_runs);
    }
    const PenaltyMatrix matrix = matrix_from(sse_table, {paddd, addps}, MatrixSettings{{3, 32}}, std::move(windows));
    EXPECT_DOUBLE_EQ(matrix.round_trips[sse_table.chain_index({paddd, addps})].fast_share, 12.0 / 96);
}

TEST(MatrixMeasurement, TimesTheChosenClassesChainsAFewToAWindowWithTheRulerInEveryTurn) {
    static std::string calls;
    static std::uint64_t stamp;
    calls.clear();
    // Every routine leaves a delta that names it: chain index and length.
    static ChainRoutines routines[chain_count(std::size(sse_classes))];
    static ClockChain ruler[clock_chain_count];
    auto leave = [](std::uint64_t delta) {
        measurement_state.start = stamp;
        measurement_state.end = stamp + delta;
        stamp += 1'000'000;
    };
    static void (*run)(std::uint64_t) = leave;
    // Only these three chains may run; anything else leaves a mark.
    routines[sse_table.chain_index({paddd, paddd})] = {[] { calls += 'a'; run(100); }, [] { calls += 'A'; run(300); }};
    routines[sse_table.chain_index({paddd, addpd})] = {[] { calls += 'b'; run(200); }, [] { calls += 'B'; run(600); }};
    routines[sse_table.chain_index({addpd, addpd})] = {[] { calls += 'c'; run(400); }, [] { calls += 'C'; run(1200); }};
    for (ChainRoutines& routine : routines) {
        if (routine.shorter == nullptr) routine = {[] { calls += '!'; run(1); }, [] { calls += '!'; run(1); }};
    }
    std::copy(std::begin(clock_chains), std::end(clock_chains), ruler);
    ruler[add_short].run = [] { calls += 'r'; run(1000); };
    // The long add chain takes 100 ticks longer at every run: each window's
    // ruler is its own.
    static std::uint64_t ruler_runs;
    ruler_runs = 0;
    ruler[add_long].run = [] { calls += 'R'; run(3000 + 100 * ruler_runs++); };
    ruler[imul_short].run = ruler[imul_long].run = [] { calls += '!'; run(1); };
    std::size_t progress = 0;
    // Two chains to a window: the first two chains share one, the third has
    // one of its own, in each of the two passes.
    const PenaltyMatrix matrix =
        measure_matrix(sse_table, {paddd, addpd}, MatrixSettings{{2, 2}, 2}, [&] { ++progress; }, routines, ruler);
    EXPECT_EQ(calls, "aAbBrRaAbBrR" "cCrRcCrR" "aAbBrRaAbBrR" "cCrRcCrR");
    EXPECT_EQ(progress, 6u);
    const std::vector<ChainWindow>& windows = matrix.windows[sse_table.chain_index({paddd, addpd})];
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[1].shorter, (RunSummary{200, 200}));
    EXPECT_EQ(windows[1].longer_runs, (std::vector<std::uint64_t>{600, 600}));
    EXPECT_EQ(windows[1].ruler.longer, 3400u);
    EXPECT_EQ(windows[1].ruler_middle.shorter, 1000u);
    EXPECT_EQ(matrix.windows[sse_table.chain_index({paddd, paddd})][1].ruler.longer, 3400u);
    EXPECT_EQ(matrix.windows[sse_table.chain_index({addpd, addpd})][0].ruler.longer, 3200u);
    EXPECT_EQ(matrix.windows[sse_table.chain_index({addpd, addpd})][1].ruler.longer, 3600u);
    EXPECT_TRUE(matrix.windows[sse_table.chain_index({pand, pand})].empty());
}

// Lines [first, last) of a text, the platform's line breaks included.
std::string section(const std::string& text, const std::string& first, const std::string& last) {
    const std::size_t start = text.find(first);
    return start == std::string::npos ? "" : text.substr(start, text.find(last, start) - start);
}

TEST(MatrixReport, ListsTheLatenciesTheCostlyCrossingsDearestFirstAndTheBimodalOnesApart) {
    // pshufd's windows read 0.9, 1.0 and 1.3: the median, neither the
    // lowest window nor the highest. pand <-> mulps costs 1.0, addps <-> pshufd 3.0 (dearer, though
    // later in the table), pand <-> addps saves 0.5, and pshufd <-> mulps is
    // fast at best but 40 typically.
    PenaltyMatrix matrix = scripted_matrix({pand, pshufd, addps, mulps}, {0.7, 0.72, 0.74},
                                                 [](ChainPair pair, std::size_t w) {
        auto latency = [w](std::size_t c) {
            const double latencies[] = {1, 0, 1, 1, 3, 4};
            return c == pshufd ? (w == 0 ? 0.9 : w == 2 ? 1.3 : 1.0) : latencies[c];
        };
        if (pair.first == pair.second) return std::pair{latency(pair.first), latency(pair.first)};
        const double both = latency(pair.first) + latency(pair.second);
        double trip = 0, typical = 0;
        if (pair.first == pand && pair.second == mulps) trip = typical = 1.0;
        if (pair.first == pshufd && pair.second == addps) trip = typical = 3.0;
        if (pair.first == pand && pair.second == addps) trip = typical = -0.5;
        if (pair.first == pshufd && pair.second == mulps) trip = 0.5, typical = 40;
        return std::pair{(both + trip) / 2, (both + typical) / 2};
    });
    matrix.round_trips[sse_table.chain_index({pshufd, mulps})].fast_share = 8.0 / 64;
    const std::string report = matrix_report(results_of(matrix), calibration_from({}, {0, 0}, {1, 1}));
    const std::string next_line(line_break);
    EXPECT_EQ(section(report, "  pand ", "  mulps "),
              "  pand     packed 32-bit integer  logic      1.00     1.00" + next_line +
                  "  pshufd   packed 32-bit integer  shuffle    1.00     1.00" + next_line +
                  "  addps    packed single          add        3.00     3.00" + next_line);
    EXPECT_EQ(section(report, "crossings that cost:", "bimodal"),
              "crossings that cost:" + next_line + "  pshufd <-> addps: +3.0 cycles per round trip" + next_line +
                  "  pand <-> mulps: +1.0 cycles per round trip" + next_line +
                  "  pshufd <-> mulps: +0.5 cycles per round trip at best; typical +40.0, 12.5% of runs fast" +
                  next_line + next_line);
    EXPECT_EQ(section(report, "difference:", next_line + "transitions"),
              "difference:" + next_line + "  pshufd <-> mulps: best +0.5, typical +40.0, 12.5% of runs fast" + next_line);
    // Zero keeps its sign, and the last cell of a row its marks.
    EXPECT_EQ(section(report, "                pand", "crossings"),
              "                pand   pshufd    addps" + next_line + "  pshufd      +0.0" + next_line +
                  "  addps       -0.5*    +3.0*" + next_line + "  mulps       +1.0*    +0.5*~   +0.0" + next_line +
                  next_line);
}

// CPUID's answers for a few processors: the feature bits and XCR0.
constexpr std::uint32_t sse2_bit = 1u << 26, sse41_bit = 1u << 19, avx_bit = 1u << 28, fma_bit = 1u << 12;
constexpr std::uint32_t avx2_bit = 1u << 5, f_bit = 1u << 16, dq_bit = 1u << 17, bw_bit = 1u << 30, vl_bit = 1u << 31;
constexpr std::uint32_t sse3_bit = 1u << 0, ssse3_bit = 1u << 9;
constexpr std::uint32_t sse_bits = sse3_bit | ssse3_bit | sse41_bit;
// AVX-512 VNNI in leaf 7's ECX, AVX-VNNI in EAX of its subleaf 1.
constexpr std::uint32_t vnni512_bit = 1u << 11, avx_vnni_bit = 1u << 4;
constexpr CpuidAnswers sse2_only{0, sse2_bit, 0, 0x03};
constexpr CpuidAnswers avx2_core{sse_bits | avx_bit | fma_bit, sse2_bit, avx2_bit, 0x07};
// A core with both VNNI extensions, as recent Intel cores have.
constexpr CpuidAnswers avx512_core{sse_bits | avx_bit | fma_bit, sse2_bit, avx2_bit | f_bit | dq_bit | bw_bit | vl_bit,
                                   0xE7, vnni512_bit, avx_vnni_bit};

std::string plans_text(const std::vector<FamilyPlan>& plans) {
    std::string text;
    for (const FamilyPlan& plan : plans) {
        text += std::string(plan.family->name) + " ";
        text += plan.status == FamilyStatus::measured ? std::to_string(plan.classes.size()) + " classes"
                : plan.status == FamilyStatus::within ? "within: " + plan.why
                                                       : "unsupported: " + plan.why;
        for (const auto& [c, why] : plan.left_out) {
            text += ", without " + std::string(plan.family->table->classes[c].name) + " (" + why + ")";
        }
        text += "\n";
    }
    return text;
}

std::string planned(const CpuidAnswers& answers, PlanRequest request = {}) {
    std::string why;
    const std::vector<FamilyPlan> plans = plan_families(request, answers, why);
    return why.empty() ? plans_text(plans) : "refused: " + why;
}

TEST(FamilyPlans, EveryFamilyIsReportedAndThoseTheProcessorOrSystemLackSayWhy) {
    EXPECT_EQ(planned(avx2_core),
              "sse 37 classes\n"
              "avx within: every avx class is measured in the avx2 triangle\n"
              "avx2 32 classes, without vpdpbusd (the processor has no AVX-VNNI)\n"
              "avx512 unsupported: the processor has no AVX-512 Foundation\n");
    EXPECT_EQ(planned(avx512_core),
              "sse 37 classes\navx within: every avx class is measured in the avx2 triangle\n"
              "avx2 33 classes\navx512 31 classes\n");
    // The processor has AVX-512, but the system saves only the YMM state,
    // which is all that AVX-VNNI needs.
    EXPECT_EQ(planned({avx512_core.leaf1_ecx, sse2_bit, avx512_core.leaf7_ebx, 0x07, vnni512_bit, avx_vnni_bit}),
              "sse 37 classes\navx within: every avx class is measured in the avx2 triangle\navx2 33 classes\n"
              "avx512 unsupported: the processor has AVX-512 Foundation, but the operating system does not save its "
              "registers\n");
    // SSE2 alone: the blends and the other classes of SSE3, SSSE3 and SSE4.1
    // are left out, and with no AVX avx is not within anything but
    // unsupported itself.
    EXPECT_EQ(planned(sse2_only),
              "sse 29 classes, without blendvps (the processor has no SSE4.1), without pblendvb (the processor has no "
              "SSE4.1), without pminud (the processor has no SSE4.1), without phaddd (the processor has no SSSE3), "
              "without haddps (the processor has no SSE3), without insertps (the processor has no SSE4.1), without "
              "pextrd:eax (the processor has no SSE4.1), without extractps:eax (the processor has no SSE4.1)\n"
              "avx unsupported: the processor has no AVX\navx2 unsupported: the processor has no AVX2\n"
              "avx512 unsupported: the processor has no AVX-512 Foundation\n");
    // AVX without AVX2 or FMA: avx is measured in full.
    EXPECT_EQ(planned({sse41_bit | avx_bit, sse2_bit, 0, 0x07}, {{"avx", "avx2"}, {}}),
              "avx 16 classes\navx2 unsupported: the processor has no AVX2\n");
    // AVX-512 Foundation without DQ, BW or VNNI: the logic classes that need
    // DQ go, the pack and the multiply-add of words that need BW, and the
    // dot product of bytes.
    EXPECT_EQ(planned({avx512_core.leaf1_ecx, sse2_bit, avx2_bit | f_bit, 0xE7}, {{"avx512"}, {}}),
              "avx512 26 classes, without vandps (the processor has no AVX-512 DQ), without vandpd (the processor has "
              "no AVX-512 DQ), without vpackssdw (the processor has no AVX-512 BW), without vpmaddwd (the processor "
              "has no AVX-512 BW), without vpdpbusd (the processor has no AVX-512 VNNI)\n");
}

TEST(FamilyPlans, AvxIsUnsupportedWhereTheSystemSavesOnlyTheSseState) {
    // XCR0 = 0x03 keeps the x87 and SSE state but not the upper halves of
    // the YMM registers: an operating system that never enabled them.
    const CpuidAnswers sse_state_only{avx2_core.leaf1_ecx, sse2_bit, avx2_core.leaf7_ebx, 0x03};
    EXPECT_EQ(usable_features(sse_state_only), isa::sse2 | isa::sse3 | isa::ssse3 | isa::sse41);
    EXPECT_EQ(planned(sse_state_only),
              "sse 37 classes\n"
              "avx unsupported: the processor has AVX, but the operating system does not save its registers\n"
              "avx2 unsupported: the processor has AVX2, but the operating system does not save its registers\n"
              "avx512 unsupported: the processor has no AVX-512 Foundation\n");
}

TEST(FamilyPlans, Avx512IsUnsupportedWhereTheProcessorHasNoAvx) {
    // Every EVEX routine starts with vzeroupper, an AVX instruction, however
    // complete the AVX-512 bits and their saved state are.
    const CpuidAnswers no_avx{sse41_bit, sse2_bit, f_bit | dq_bit | bw_bit | vl_bit, 0xE7};
    EXPECT_EQ(planned(no_avx, {{"avx512"}, {}}), "avx512 unsupported: the processor has no AVX\n");
    // The same for the EVEX transitions, even after the ZMM state write,
    // which needs AVX-512 Foundation alone.
    EXPECT_EQ(why_no_transition(3, 3, no_avx), "the processor has no AVX");
}

TEST(FamilyPlans, ChosenFamiliesAndClassesNarrowTheRunAndBadNamesAreRefused) {
    // Named families are measured even where one holds the other.
    EXPECT_EQ(planned(avx2_core, {{"avx2", "avx"}, {}}),
              "avx 16 classes\navx2 32 classes, without vpdpbusd (the processor has no AVX-VNNI)\n");
    // A class name picks its class in every family that has it; families
    // without any named class are left out of the report.
    EXPECT_EQ(planned(avx512_core, {{}, {"vaddps", "vpermps"}}),
              "avx within: every avx class is measured in the avx2 triangle\navx2 2 classes\navx512 2 classes\n");
    EXPECT_EQ(planned(avx2_core, {{}, {"addps", "mulps"}}), "sse 2 classes\n");
    // A class whose own instruction set is missing is reported, not measured.
    EXPECT_EQ(planned(sse2_only, {{"sse"}, {"blendvps"}}), "sse unsupported: the processor has no SSE4.1\n");
    // The listing runs nothing: it plans what the processor cannot run too.
    PlanRequest listing{{"avx512"}, {"vandps"}, true};
    EXPECT_EQ(planned(sse2_only, listing), "avx512 1 classes\n");
    EXPECT_EQ(planned(avx2_core, {{"sse", "avx3"}, {}}), "refused: no family 'avx3' (sse, avx, avx2 or avx512)");
    EXPECT_EQ(planned(avx2_core, {{"sse"}, {"vaddps"}}), "refused: no instruction class 'vaddps' in the families chosen");
    EXPECT_EQ(planned(avx2_core, {{"sse", "sse"}, {}}), "refused: family 'sse' named twice");
    EXPECT_EQ(planned(avx2_core, {{}, {"paddd", ""}}), "refused: an empty class name");
    EXPECT_EQ(names_in("a,,b"), (std::vector<std::string_view>{"a", "", "b"}));
}

// One window of a transition whose reference chain takes `reference` cycles
// per instruction and whose state adds `extra`, at `ruler` ticks per cycle,
// in a frame of `frame` ticks; the middle runs ran 10% slower.
TransitionWindow transition_window(double reference, double extra, double ruler, double frame = 3000) {
    auto time = [&](double cycles, double at) {
        return static_cast<std::uint64_t>(frame + transition_length * cycles * loop_iterations * at + 0.5);
    };
    auto ruler_time = [&](ClockChainIndex chain, double at) {
        return static_cast<std::uint64_t>(1000 + clock_chains[chain].length * loop_iterations * at + 0.5);
    };
    const double middle = 1.1 * ruler;
    return {{time(reference, ruler), time(reference, middle)},
            {time(reference + extra, ruler), time(reference + extra, middle)},
            {ruler_time(add_short, ruler), ruler_time(add_long, ruler)},
            {ruler_time(add_short, middle), ruler_time(add_long, middle)}};
}

TEST(TransitionArithmetic, TheExtraIsTheStateRoutinesTimeBeyondTheReferencesPerInstructionTheFrameCancelled) {
    TransitionTable table;
    for (TransitionRow& row : table.rows) row.why = "not measured here";
    TransitionRow& row = table.rows[0];
    row.why.clear();
    for (std::size_t state = 0; state < transition_state_count; ++state) row.cells[state].why = "not measured here";
    // A dirty upper half that costs 28 cycles per instruction, each window at
    // its own clock; vzeroupper, which costs nothing, in a larger frame.
    row.cells[2].why.clear();
    for (double ruler : {0.70, 0.77, 0.73}) row.cells[2].windows.push_back(transition_window(3, 28, ruler));
    row.cells[1].why.clear();
    for (double ruler : {0.70, 0.77, 0.73}) row.cells[1].windows.push_back(transition_window(3, 0.02, ruler, 90000));
    table = transitions_from(std::move(table));
    // Whole ticks leave a few ten-thousandths.
    EXPECT_NEAR(table.rows[0].cells[2].best.lowest, 28, 1e-3);
    EXPECT_NEAR(table.rows[0].cells[2].best.highest, 28, 1e-3);
    EXPECT_NEAR(table.rows[0].cells[2].typical.median, 28, 1e-3);
    EXPECT_TRUE(table.rows[0].cells[2].measurable());
    EXPECT_NEAR(table.rows[0].cells[1].best.median, 0.02, 1e-4);
    EXPECT_FALSE(table.rows[0].cells[1].measurable());
    // The reference's own cycles hold the frame: 3,000 ticks over 49,152
    // instructions at 0.73.
    EXPECT_NEAR(table.rows[0].reference.lowest, 3 + 3000 / (12 * 4096 * 0.77), 1e-4);
}

TEST(TransitionMeasurement, TimesOnlyWhatTheProcessorCanRunTheReferenceAndTheRulerInEveryTurn) {
    static std::string calls;
    calls.clear();
    static std::uint64_t stamp;
    static TimedRun routines[transition_kind_count][transition_state_count];
    static ClockChain ruler[clock_chain_count];
    static void (*leave)() = [] {
        measurement_state.start = stamp;
        measurement_state.end = stamp + 1000;
        stamp += 1'000'000;
    };
    for (auto& kind : routines) {
        for (TimedRun& routine : kind) routine = [] { calls += '!'; leave(); };
    }
    routines[0][0] = [] { calls += 'a'; leave(); };
    routines[0][1] = [] { calls += 'b'; leave(); };
    routines[0][2] = [] { calls += 'c'; leave(); };
    routines[1][0] = [] { calls += 'd'; leave(); };
    routines[1][1] = [] { calls += 'e'; leave(); };
    routines[1][2] = [] { calls += 'f'; leave(); };
    routines[2][0] = [] { calls += 'g'; leave(); };
    routines[2][1] = [] { calls += 'h'; leave(); };
    routines[2][2] = [] { calls += 'i'; leave(); };
    std::copy(std::begin(clock_chains), std::end(clock_chains), ruler);
    ruler[add_short].run = [] { calls += 'r'; leave(); };
    ruler[add_long].run = [] { calls += 'R'; leave(); };
    std::size_t progress = 0;
    const TransitionSettings settings{{2, 1}};
    const TransitionTable table = measure_transitions(settings, avx2_core, [&] { ++progress; }, routines, ruler);
    // No AVX-512: the ZMM states and the EVEX kind are never run.
    EXPECT_EQ(calls, "abrR" "acrR" "derR" "dfrR" "ghrR" "girR" "abrR" "acrR" "derR" "dfrR" "ghrR" "girR");
    EXPECT_EQ(progress, transition_window_count(settings, avx2_core));
    EXPECT_EQ(progress, 12u);
    EXPECT_EQ(table.rows[3].why, "the processor has no AVX-512 Foundation");
    EXPECT_EQ(table.rows[0].cells[3].why, "the processor has no AVX-512 Foundation");
    EXPECT_TRUE(table.rows[0].cells[3].windows.empty());
    EXPECT_EQ(table.rows[1].cells[2].windows.size(), 2u);
    if (sizeof(void*) < 8) {
        EXPECT_EQ(why_no_transition(0, 4, avx512_core), "a 32-bit program has no zmm16-31");
    } else {
        EXPECT_EQ(why_no_transition(0, 4, avx512_core), "");
    }
}

TEST(MatrixReport, SaysWhyAFamilyWasNotMeasuredAndShowsTheTransitions) {
    const PenaltyMatrix matrix = scripted_matrix({pand, mulps}, {0.7}, [](ChainPair pair, std::size_t) {
        return pair.first == pair.second ? std::pair{1.0, 1.0} : std::pair{2.0, 2.0};
    });
    MatrixResults results = results_of(matrix);
    results.families[0].plan.left_out = {{18, "the processor has no SSE4.1"}};
    results.families.push_back({{&families[3], FamilyStatus::unsupported, "the processor has no AVX-512 Foundation",
                                 {}, {}},
                                {}});
    TransitionRow& row = results.transitions.rows[0];
    row.why.clear();
    row.cells[1].why.clear();
    row.cells[2].why.clear();
    row.cells[3].why = row.cells[4].why = "the processor has no AVX-512 Foundation";
    row.cells[1].windows.push_back(transition_window(3, 0.001, 0.7, 0));
    row.cells[2].windows.push_back(transition_window(3, 28.25, 0.7, 0));
    results.transitions = transitions_from(std::move(results.transitions));
    const std::string report = matrix_report(results, calibration_from({}, {0, 0}, {1, 1}));
    const std::string next_line(line_break);
    EXPECT_NE(report.find(next_line + "sse: SSE to SSE4.1, 128 bits on XMM" + next_line +
                          "left out: blendvps (the processor has no SSE4.1)" + next_line + "latency"),
              std::string::npos)
        << report;
    EXPECT_EQ(section(report, "avx512:", "transitions"),
              "avx512: AVX-512, 512 bits on ZMM: unsupported, the processor has no AVX-512 Foundation" + next_line +
                  next_line);
    EXPECT_EQ(section(report, "  legacy SSE", "  VEX, 128"),
              "  legacy SSE, 128 bits, addps xmm0, xmm1, 3.00 cycles per instruction with no state write:" + next_line +
                  "                                        per instruction   per iteration" + next_line +
                  "                                           best  typical            best" + next_line +
                  "    after vzeroupper (the control)        +0.00    +0.00            +0.0" + next_line +
                  "    dirty YMM upper half                 +28.25*  +28.25          +339.0" + next_line +
                  "    dirty ZMM upper half                n/a, the processor has no AVX-512 Foundation" + next_line +
                  "    dirty zmm16-31                      n/a, the processor has no AVX-512 Foundation" + next_line);
    EXPECT_NE(report.find("  VEX, 128 bits, vaddps xmm0, xmm0, xmm1: unsupported, not measured here"),
              std::string::npos);
}

TEST(MatrixReport, AFigureAHairBelowZeroReadsAsPlusZero) {
    // pand <-> mulps saves 0.04 cycles per round trip, and a dirty YMM upper
    // half 0.004 per instruction, 0.048 per iteration: all round to zero,
    // which the report signs as it signs every zero.
    const PenaltyMatrix matrix = scripted_matrix({pand, mulps}, {0.7}, [](ChainPair pair, std::size_t) {
        const double cycles = pair.first != pair.second ? (1.0 + 4.0 - 0.04) / 2 : pair.first == pand ? 1.0 : 4.0;
        return std::pair{cycles, cycles};
    });
    ASSERT_NEAR(matrix.round_trips[sse_table.chain_index({pand, mulps})].best.median, -0.04, 1e-3);
    MatrixResults results = results_of(matrix);
    TransitionRow& row = results.transitions.rows[0];
    row.why.clear();
    for (std::size_t state = 1; state < transition_state_count; ++state) row.cells[state].why = "not measured here";
    row.cells[2].why.clear();
    row.cells[2].windows.push_back(transition_window(3, -0.004, 0.7, 0));
    results.transitions = transitions_from(std::move(results.transitions));
    const std::string report = matrix_report(results, calibration_from({}, {0, 0}, {1, 1}));
    const std::string next_line(line_break);
    EXPECT_EQ(section(report, "               pand", "crossings"),
              "               pand" + next_line + "  mulps       +0.0" + next_line + next_line);
    EXPECT_EQ(section(report, "    dirty YMM", next_line),
              "    dirty YMM upper half                  +0.00    +0.00            +0.0");
}

}  // namespace
