#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/console_output.hpp"
#include "matrix/arithmetic/chains.hpp"
#include "matrix/arithmetic/penalties.hpp"
#include "matrix/plan.hpp"
#include "matrix/report.hpp"
#include "matrix/transitions/transitions.hpp"
#include "tests/hex.hpp"
#include "tests/matrix_scripts.hpp"
#include "tests/mxcsr.hpp"
#include "tests/scripted_window.hpp"
#include "tests/timed_frame_bytes.hpp"

namespace {

// Each chain is read where it runs: vzeroupper (for SSE only where AVX is
// usable), registers 0 to 7 loaded from matrix_chain_values at the table's
// width, register 0 from the zero row where the chain runs on zeros, the timed
// frame of 1,024 iterations around its classes in turn with the loop on a
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

// A round trip's type names the registers its value passes through, in the
// order its instructions write them, between the table's register before
// and after: "zmm->k1->eax->k1->zmm" for a compare into k1 taken through
// EAX and read by a masked add. Its last instruction writes register 0.
TEST(MatrixChains, ARoundTripsTypeNamesTheRegistersItsInstructionsPassThrough) {
    // The register an instruction writes: its first operand, "# op DEST, ...".
    auto written = [](std::string_view mnemonic_line) {
        const std::string line(mnemonic_line);
        const std::size_t from = line.find(' ', 2) + 1;
        return line.substr(from, line.find_first_of(",{", from) - from);
    };
    std::size_t round_trips = 0;
    for (const NamedTable& named : tables) {
        const std::string own = named.table.width == 16 ? "xmm" : named.table.width == 32 ? "ymm" : "zmm";
        for (const InstructionClass& row : named.table.classes) {
            if (row.then.empty()) continue;
            ++round_trips;
            std::string type = own + "->" + written(row.form.mnemonic_line);
            for (std::size_t i = 0; i + 1 < row.then.size(); ++i) type += "->" + written(row.then[i].mnemonic_line);
            EXPECT_EQ(row.type, type + "->" + own) << named.name << ": " << row.name;
            EXPECT_EQ(written(row.then.back().mnemonic_line).substr(1), "mm0") << named.name << ": " << row.name;
        }
    }
    EXPECT_EQ(round_trips, 10u);
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

// The alternating chain of `pair` keeps twelve runs of its long routine in
// every window: the fastest, and eleven that take the middle run's time.
void keep_runs(PenaltyMatrix& matrix, ChainPair pair) {
    std::vector<ChainWindow> windows = matrix.windows[sse_table.chain_index(pair)];
    for (ChainWindow& window : windows) {
        window.longer_runs.assign(12, window.longer.median);
        window.longer_runs[0] = window.longer.minimum;
    }
    matrix.windows[sse_table.chain_index(pair)] = std::move(windows);
    matrix = matrix_from(sse_table, matrix.classes, matrix.settings, std::move(matrix.windows));
}

TEST(MatrixArithmetic, LatencyIsTheLongChainsExtraInstructionsAloneTheFrameCancelled) {
    EXPECT_NEAR(best_cycles(window_taking(3, 0.75, 0, 5000)), 3.0, 1e-9);
    EXPECT_NEAR(best_cycles(window_taking(3, 0.75, 0, 90000)), 3.0, 1e-9);
    EXPECT_NEAR(typical_cycles(window_taking(1, 2.0, 1.5, 0)), 1.5, 1e-4);
}

TEST(MatrixArithmetic, AWindowWhoseFastestOrMiddleRulerCannotConvertIsLeftOut) {
    // Three windows of pand at 1 cycle, their middle runs at 1.5; the
    // second window's middle ruler, then its fastest one, stands still. The
    // window is left out of both figures, which the others still give.
    for (RulerTimes ChainWindow::*broken : {&ChainWindow::ruler_middle, &ChainWindow::ruler}) {
        std::vector<std::vector<ChainWindow>> windows(sse_table.chain_count());
        for (int w = 0; w < 3; ++w) windows[sse_table.chain_index({pand, pand})].push_back(window_taking(1, 0.7, 1.5));
        ChainWindow& stuck = windows[sse_table.chain_index({pand, pand})][1];
        (stuck.*broken).longer = (stuck.*broken).shorter;
        EXPECT_FALSE(stuck.usable());
        const PenaltyMatrix matrix = matrix_from(sse_table, {pand}, MatrixSettings{{3, 12}}, std::move(windows));
        for (const Spread& figure : {matrix.latencies[pand].best, matrix.latencies[pand].typical}) {
            EXPECT_TRUE(std::isfinite(figure.lowest) && std::isfinite(figure.highest));
        }
        EXPECT_NEAR(matrix.latencies[pand].best.highest, 1.0, 1e-3);
        EXPECT_NEAR(matrix.latencies[pand].typical.highest, 1.5, 1e-3);
    }
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
        const Cell cell{{c.median, c.lowest, c.highest}, {c.median, c.lowest, c.highest}, {}};
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
    // addps at 3.0; alternating them costs 2 cycles per round trip in the
    // fastest run of each window and 70 in the others. Only the alternating
    // chain's own runs tell its modes apart: paddd's difference plays no part.
    PenaltyMatrix matrix = scripted_matrix({paddd, addps}, {0.7, 0.75}, [](ChainPair pair, std::size_t) {
        if (pair.first != pair.second) return std::pair{(1.0 + 3.0 + 2.0) / 2, (1.6 + 3.0 + 70.0) / 2};
        return pair.first == paddd ? std::pair{1.0, 1.6} : std::pair{3.0, 3.0};
    });
    keep_runs(matrix, {paddd, addps});
    const Cell& cell = matrix.round_trips[sse_table.chain_index({paddd, addps})];
    EXPECT_NEAR(cell.best.median, 2.0, 1e-3);
    EXPECT_NEAR(cell.typical.median, 70.0, 1e-3);
    EXPECT_TRUE(cell.bimodal());
    EXPECT_NEAR(matrix.latencies[paddd].typical.median, 1.6, 1e-3);
    // Runs that take 0.3 cycles an instruction more than the fastest (and
    // ran at a clock 10% slower) lie less than a cycle a round trip from it.
    PenaltyMatrix plain = scripted_matrix({paddd, pand}, {0.7}, [](ChainPair pair, std::size_t) {
        if (pair.first != pair.second) return std::pair{1.0, 1.3};
        return pair.first == paddd ? std::pair{1.0, 1.6} : std::pair{1.0, 1.0};
    });
    keep_runs(plain, {paddd, pand});
    EXPECT_FALSE(plain.round_trips[sse_table.chain_index({paddd, pand})].bimodal());
}

// paddd (1 cycle) <-> addps (3 cycles) over `windows` windows of `turns`
// runs of chain_iterations at 0.7 ticks per cycle, the ruler's runs of
// loop_iterations: run r of window w of the alternating chain's long routine
// costs the round trip that trip(w, r) gives, its short routine the +77.8 of
// the fastest slow run. The ruler's middle runs ran at the clock of its
// fastest, or with `middle_ruler_slower` at one 10% slower.
template <typename Trip>
Modes scripted_modes(std::size_t windows, std::uint32_t turns, Trip trip, bool middle_ruler_slower = false) {
    std::vector<std::vector<ChainWindow>> chains(sse_table.chain_count());
    auto ticks = [](std::uint32_t instructions, double trip_cycles) {
        return static_cast<std::uint64_t>(5000 + instructions * (4.0 + trip_cycles) / 2 * chain_iterations * 0.7 + 0.5);
    };
    for (std::size_t w = 0; w < windows; ++w) {
        chains[sse_table.chain_index({paddd, paddd})].push_back(window_taking(1, 0.7));
        chains[sse_table.chain_index({addps, addps})].push_back(window_taking(3, 0.7));
        ChainWindow both = window_taking((4.0 + 78) / 2, 0.7);
        if (!middle_ruler_slower) both.ruler_middle = both.ruler;
        both.shorter = {ticks(short_chain, 77.8), ticks(short_chain, 77.8)};
        both.longer_runs.clear();
        for (std::uint32_t r = 0; r < turns; ++r) both.longer_runs.push_back(ticks(long_chain, trip(w, r)));
        both.longer = summary_of(both.longer_runs);
        chains[sse_table.chain_index({paddd, addps})].push_back(std::move(both));
    }
    const PenaltyMatrix matrix = matrix_from(sse_table, {paddd, addps},
                                             MatrixSettings{{static_cast<std::uint32_t>(windows), turns}}, std::move(chains));
    return matrix.round_trips[sse_table.chain_index({paddd, addps})].modes;
}

// The slow runs spread over 0.4 cycles around +78.
double slow(std::uint32_t run) { return 78 + 0.05 * static_cast<double>(run * 7 % 9) - 0.2; }

TEST(CellModes, AFastModeSeparatedByMoreThanACycleFromTheTypicalRunsMakesACellBimodalWhereverItFalls) {
    // One mode, spread but without a gap.
    const Modes one = scripted_modes(12, 12, [](std::size_t, std::uint32_t r) { return slow(r); });
    EXPECT_FALSE(one.bimodal());
    EXPECT_EQ(one.fast_runs, 0u);
    EXPECT_EQ(one.runs, 144u);
    // Every run of one window of twelve fast: the windows' best and typical
    // figures both say +78, the runs say otherwise.
    const Modes window = scripted_modes(12, 12, [](std::size_t w, std::uint32_t r) { return w == 5 ? 4.0 : slow(r); });
    EXPECT_TRUE(window.bimodal());
    EXPECT_EQ(window.fast_runs, 12u);
    EXPECT_DOUBLE_EQ(window.fast_share(), 12.0 / 144);
    EXPECT_NEAR(window.fast, 4.0, 0.01);
    // Two runs in each of three windows, and a third mode between them and
    // the typical runs: every run below the first gap is fast.
    const Modes three = scripted_modes(12, 12, [](std::size_t w, std::uint32_t r) {
        return w % 4 == 1 && r < 2 ? (r == 0 ? 4.0 : 40.0) : slow(r);
    });
    EXPECT_TRUE(three.bimodal());
    EXPECT_EQ(three.fast_runs, 6u);
    EXPECT_NEAR(three.fast, 22.0, 0.01);
    // Two modes less than a cycle apart are one.
    const Modes near = scripted_modes(12, 12, [](std::size_t w, std::uint32_t r) { return w == 5 ? 77.0 : slow(r); });
    EXPECT_FALSE(near.bimodal());
    EXPECT_EQ(near.fast_runs, 0u);
    // Slower runs than the typical ones make no mode.
    const Modes slower = scripted_modes(12, 12, [](std::size_t w, std::uint32_t r) { return w < 3 ? 150.0 : slow(r); });
    EXPECT_FALSE(slower.bimodal());
}

TEST(CellModes, EveryRunIsReadByTheFastestRulerOfItsWindow) {
    // The ruler's middle runs ran at a clock 10% slower than its fastest;
    // the alternating chain's runs, all at the fastest clock, are read by
    // the fastest ruler, so that the fast window still reads +4.0.
    const Modes window = scripted_modes(
        12, 12, [](std::size_t w, std::uint32_t r) { return w == 5 ? 4.0 : slow(r); }, true);
    EXPECT_TRUE(window.bimodal());
    EXPECT_EQ(window.fast_runs, 12u);
    EXPECT_NEAR(window.fast, 4.0, 0.01);
}

TEST(CellModes, AGapOfExactlyTheMarginIsOneModeAndAnyWiderOneTwo) {
    // Going down from the centre 10: a gap of exactly one cycle, at 9.0,
    // is no gap between modes; one of 1.0625 is.
    EXPECT_EQ(modes_of({{9.0, 5}, {12.0, 9}}, 10.0, 14).fast_runs, 0u);
    EXPECT_EQ(modes_of({{9.5, 4}, {8.5, 5}, {12.0, 9}}, 10.0, 18).fast_runs, 0u);
    const Modes wider = modes_of({{8.9375, 5}, {12.0, 9}}, 10.0, 14);
    EXPECT_EQ(wider.fast_runs, 5u);
    EXPECT_DOUBLE_EQ(wider.fast, 8.9375);
    EXPECT_EQ(modes_of({{9.5, 4}, {8.4375, 5}, {12.0, 9}}, 10.0, 18).fast_runs, 5u);
}

TEST(CellModes, TheFastModeMustHoldOnePercentOfTheRuns) {
    // One fast run in each of eleven windows of 100 runs, then in twelve.
    const Modes under = scripted_modes(12, 100, [](std::size_t w, std::uint32_t r) {
        return r == 50 && w < 11 ? 4.0 : slow(r);
    });
    EXPECT_EQ(under.fast_runs, 11u);
    EXPECT_EQ(under.runs, 1200u);
    EXPECT_FALSE(under.bimodal());
    const Modes least = scripted_modes(12, 100, [](std::size_t, std::uint32_t r) { return r == 50 ? 4.0 : slow(r); });
    EXPECT_EQ(least.fast_runs, 12u);
    EXPECT_TRUE(least.bimodal());
    // The rule itself, on readings that stand for several runs each: going
    // down from the centre 10, the first gap wider than a cycle lies below
    // 9.2; the fast mode's median run is the middle of its seven.
    const Modes counted = modes_of({{9.6, 5}, {9.2, 3}, {7.5, 2}, {7.0, 4}, {2.0, 1}, {12.0, 9}}, 10.0, 100);
    EXPECT_EQ(counted.fast_runs, 7u);
    EXPECT_DOUBLE_EQ(counted.fast, 7.0);
    EXPECT_TRUE(counted.bimodal());
    EXPECT_EQ(modes_of({{9.6, 5}, {12.0, 9}}, 10.0, 14).fast_runs, 0u);
    // A spread without a gap is one mode, however far below the centre it
    // reaches.
    EXPECT_EQ(modes_of({{9.6, 5}, {9.1, 5}, {8.6, 5}, {8.1, 5}, {12.0, 9}}, 10.0, 29).fast_runs, 0u);
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
        // addps's middle runs take 3.2 cycles, its fastest 3.
        if (pair.first == pair.second) return std::pair{latency(pair.first), pair.first == addps ? 3.2 : latency(pair.first)};
        const double both = latency(pair.first) + latency(pair.second);
        double trip = 0, typical = 0;
        if (pair.first == pand && pair.second == mulps) trip = typical = 1.0;
        if (pair.first == pshufd && pair.second == addps) trip = typical = 3.0;
        if (pair.first == pand && pair.second == addps) trip = typical = -0.5;
        if (pair.first == pshufd && pair.second == mulps) trip = 0.5, typical = 40;
        return std::pair{(both + trip) / 2, (both + typical) / 2};
    });
    keep_runs(matrix, {pshufd, mulps});
    const std::string report = matrix_report(results_of(matrix), calibration_from({}, {0, 0}, {1, 1}));
    const std::string next_line(line_break);
    EXPECT_EQ(section(report, "  pand ", "  mulps "),
              "  pand     packed 32-bit integer  logic      1.00     1.00" + next_line +
                  "  pshufd   packed 32-bit integer  shuffle    1.00     1.00" + next_line +
                  "  addps    packed single          add        3.00     3.20" + next_line);
    EXPECT_EQ(section(report, "crossings that cost:", "bimodal"),
              "crossings that cost:" + next_line + "  pshufd <-> addps: +3.0 cycles per round trip" + next_line +
                  "  pand <-> mulps: +1.0 cycles per round trip" + next_line +
                  "  pshufd <-> mulps: +0.5 cycles per round trip (best); two modes: fast +0.5 in 8.3% of runs, "
                  "typical +40.0" + next_line + next_line);
    // Of each window's twelve runs, the fastest is fast.
    EXPECT_EQ(section(report, "bimodal crossings", next_line + "transitions"),
              "bimodal crossings, whose runs fall in two modes more than 1 cycle apart, the faster holding at least "
              "1% of" + next_line + "them:" + next_line +
                  "  pshufd <-> mulps: best +0.5; fast +0.5 in 8.3% of runs, typical +40.0" + next_line);
    // Zero keeps its sign, and the last cell of a row its marks.
    EXPECT_EQ(section(report, "                pand", "crossings"),
              "                pand   pshufd    addps" + next_line + "  pshufd      +0.0" + next_line +
                  "  addps       -0.5*    +3.0*" + next_line + "  mulps       +1.0*    +0.5*~   +0.0" + next_line +
                  next_line);
}

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

// A processor's CPUID leaves as a test scripts them: the highest leaf, leaf
// 1's ECX and EDX, leaf 7's highest subleaf, EBX and ECX, subleaf 1's EAX;
// and whether XGETBV was asked.
struct ScriptedLeaves {
    std::uint32_t highest, leaf1_ecx, leaf1_edx, leaf7_highest, leaf7_ebx, leaf7_ecx, leaf7_1_eax;
};
ScriptedLeaves scripted_leaves;
bool xgetbv_asked;

CpuidRegisters scripted_cpuid(std::uint32_t leaf, std::uint32_t subleaf) {
    const ScriptedLeaves& s = scripted_leaves;
    // A leaf or subleaf beyond the highest answers as garbage would.
    if (leaf > s.highest || (leaf == 7 && subleaf > s.leaf7_highest)) return {0xBAD, 0xBAD, 0xBAD, 0xBAD};
    if (leaf == 0) return {s.highest, 0, 0, 0};
    if (leaf == 1) return {0, 0, s.leaf1_ecx, s.leaf1_edx};
    if (leaf == 7 && subleaf == 0) return {s.leaf7_highest, s.leaf7_ebx, s.leaf7_ecx, 0};
    if (leaf == 7 && subleaf == 1) return {s.leaf7_1_eax, 0, 0, 0};
    return {};
}

std::uint64_t scripted_xgetbv() {
    xgetbv_asked = true;
    return 0xE7;
}

CpuidAnswers answers_for(ScriptedLeaves leaves) {
    scripted_leaves = leaves;
    xgetbv_asked = false;
    return cpuid_answers_of(scripted_cpuid, scripted_xgetbv);
}

std::string answers_text(const CpuidAnswers& a) {
    using std::to_string;
    return to_string(a.leaf1_ecx) + " " + to_string(a.leaf1_edx) + " " + to_string(a.leaf7_ebx) + " " +
           to_string(a.xcr0) + " " + to_string(a.leaf7_ecx) + " " + to_string(a.leaf7_1_eax);
}

TEST(CpuidAnswers, ReadsEachLeafAndSubleafOnlyWhereTheProcessorHasItAndXcr0OnlyWithXsave) {
    constexpr std::uint32_t osxsave_bit = 1u << 27;
    const std::uint32_t ecx = avx512_core.leaf1_ecx | osxsave_bit;
    // Subleaf 1 is there where leaf 7's highest subleaf is 1 or more: the
    // AVX-VNNI bit of a core whose highest subleaf is 1 counts.
    CpuidAnswers answers = answers_for({7, ecx, sse2_bit, 1, avx512_core.leaf7_ebx, vnni512_bit, avx_vnni_bit});
    EXPECT_EQ(answers_text(answers), answers_text({ecx, sse2_bit, avx512_core.leaf7_ebx, 0xE7, vnni512_bit,
                                                   avx_vnni_bit}));
    EXPECT_TRUE(xgetbv_asked);
    EXPECT_EQ(planned(answers, {{"avx2"}, {"vpdpbusd"}}), "avx2 1 classes\n");
    answers = answers_for({7, ecx, sse2_bit, 2, avx512_core.leaf7_ebx, vnni512_bit, avx_vnni_bit});
    EXPECT_EQ(answers.leaf7_1_eax, avx_vnni_bit);
    // Without subleaf 1, or without leaf 7, their words stay zero.
    answers = answers_for({7, ecx, sse2_bit, 0, avx512_core.leaf7_ebx, vnni512_bit, avx_vnni_bit});
    EXPECT_EQ(answers_text(answers), answers_text({ecx, sse2_bit, avx512_core.leaf7_ebx, 0xE7, vnni512_bit, 0}));
    answers = answers_for({6, ecx, sse2_bit, 1, avx512_core.leaf7_ebx, vnni512_bit, avx_vnni_bit});
    EXPECT_EQ(answers_text(answers), answers_text({ecx, sse2_bit, 0, 0xE7, 0, 0}));
    // Without OSXSAVE, XGETBV would fault: the system saves the SSE state.
    answers = answers_for({7, avx2_core.leaf1_ecx, sse2_bit, 0, avx2_bit, 0, 0});
    EXPECT_FALSE(xgetbv_asked);
    EXPECT_EQ(answers.xcr0, 0x02u);
    EXPECT_EQ(answers_text(answers_for({0, ecx, sse2_bit, 1, avx2_bit, 0, 0})), answers_text({}));
}

TEST(CpuidAnswers, EachFeatureIsReadFromItsOwnBitAndNeedsItsOwnSavedState) {
    // One bit set at a time, so that no feature can be read from a
    // neighbour's bit (AVX-512 BW and VL, bits 30 and 31 of leaf 7's EBX,
    // come together on every real core). Each counts where XCR0 keeps the
    // registers it needs: SSE's, then AVX's upper halves, then AVX-512's.
    struct Bit {
        std::uint32_t CpuidAnswers::*word;
        std::uint32_t bit;
        Features feature;
        std::uint64_t state;
    };
    const Bit bits[] = {
        {&CpuidAnswers::leaf1_edx, sse2_bit, isa::sse2, 0x03},
        {&CpuidAnswers::leaf1_ecx, sse3_bit, isa::sse3, 0x03},
        {&CpuidAnswers::leaf1_ecx, ssse3_bit, isa::ssse3, 0x03},
        {&CpuidAnswers::leaf1_ecx, sse41_bit, isa::sse41, 0x03},
        {&CpuidAnswers::leaf1_ecx, avx_bit, isa::avx, 0x07},
        {&CpuidAnswers::leaf1_ecx, fma_bit, isa::fma, 0x07},
        {&CpuidAnswers::leaf7_ebx, avx2_bit, isa::avx2, 0x07},
        {&CpuidAnswers::leaf7_1_eax, avx_vnni_bit, isa::avx_vnni, 0x07},
        {&CpuidAnswers::leaf7_ebx, f_bit, isa::avx512f, 0xE7},
        {&CpuidAnswers::leaf7_ebx, dq_bit, isa::avx512dq, 0xE7},
        {&CpuidAnswers::leaf7_ebx, bw_bit, isa::avx512bw, 0xE7},
        {&CpuidAnswers::leaf7_ebx, vl_bit, isa::avx512vl, 0xE7},
        {&CpuidAnswers::leaf7_ecx, vnni512_bit, isa::avx512_vnni, 0xE7},
    };
    for (const Bit& b : bits) {
        const std::string name = "feature " + std::to_string(b.feature);
        for (std::uint64_t xcr0 : {0x03u, 0x07u, 0xE7u}) {
            CpuidAnswers answers{0, 0, 0, xcr0};
            answers.*b.word = b.bit;
            const bool kept = (xcr0 & b.state) == b.state;
            EXPECT_EQ(usable_features(answers), kept ? b.feature : 0u) << name << ", XCR0 " << xcr0;
        }
    }
    // BW's classes go where BW alone is missing, and stay where VL is.
    const CpuidAnswers without_bw{avx512_core.leaf1_ecx, sse2_bit, avx512_core.leaf7_ebx & ~bw_bit, 0xE7};
    EXPECT_EQ(why_unusable(isa::avx512bw, without_bw), "the processor has no AVX-512 BW");
    const CpuidAnswers without_vl{avx512_core.leaf1_ecx, sse2_bit, avx512_core.leaf7_ebx & ~vl_bit, 0xE7};
    EXPECT_EQ(why_unusable(isa::avx512bw, without_vl), "");
    EXPECT_EQ(why_unusable(isa::avx512vl, without_vl), "the processor has no AVX-512 VL");
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

TEST(MatrixReport, SaysWhyAFamilyWasNotMeasuredAndShowsTheTransitions) {
    const PenaltyMatrix matrix = scripted_matrix({pand, mulps}, {0.7}, [](ChainPair pair, std::size_t) {
        return pair.first == pair.second ? std::pair{1.0, 1.0} : std::pair{2.0, 2.0};
    });
    MatrixResults results = results_of(matrix);
    results.families[0].plan.left_out = {{18, "the processor has no SSE4.1"}};
    results.families.push_back({{&families[3], FamilyStatus::unsupported, "the processor has no AVX-512 Foundation",
                                 {}, {}},
                                {}});
    // The first kind on a core that pays +389 per change of state, the
    // second on one that pays +1 per instruction, in the steady state too;
    // the second's reference takes 3 cycles in the control's windows and 4
    // in the others, 3.5 over them all. Windows of fewer turns than there
    // are windows.
    results.transitions = one_kind_after({1, 2});
    results.transitions.settings.windows = {12, 8};
    for (std::size_t kind : {0, 1}) {
        TransitionRow& row = results.transitions.rows[kind];
        row.why.clear();
        for (std::size_t state : {1, 2}) row.cells[state].why.clear();
        row.cells[3].why = row.cells[4].why = "the processor has no AVX-512 Foundation";
        for (double ruler : {0.7, 0.75}) {
            row.cells[1].windows.push_back(transition_window(3, {0.001, 0.001, 0}, ruler, 0));
            row.cells[2].windows.push_back(kind == 0 ? transition_window(2, {389, 0, 0}, ruler, 0, StateCost{389.4, 0.01, 0})
                                                     : transition_window(4, {0, 1, 1}, ruler, 0, StateCost{0, 1.25, 1}));
        }
    }
    results.transitions.rows[0].cells[2].windows.push_back(transition_window(2, {389, -0.2, 0}, 0.7, 0));
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
    // Each figure in its own column: the first kind's cost per change, the
    // second kind's per instruction, after a change and in the steady state.
    const std::string heads = "                                          per change        per instruction   per "
                              "instruction," + next_line +
                              "                                          of state          after a change    steady "
                              "state" + next_line +
                              "                                           best  typical     best  typical     best  "
                              "typical" + next_line;
    const std::string unsupported = "    dirty ZMM upper half                n/a, the processor has no AVX-512 "
                                    "Foundation" + next_line +
                                    "    dirty zmm16-31                      n/a, the processor has no AVX-512 "
                                    "Foundation" + next_line;
    EXPECT_EQ(section(report, "  legacy SSE", "  VEX, 256"),
              "  legacy SSE, 128 bits, addps xmm0, xmm1, 2.00 cycles per instruction with no state write:" + next_line +
                  heads +
                  "    after vzeroupper (the control)         +0.0     +0.0    +0.00    +0.00    +0.00    +0.00" +
                  next_line +
                  "    dirty YMM upper half                 +389.0*  +389.4    +0.00    +0.01    +0.00    +0.00" +
                  next_line + unsupported +
                  "  VEX, 128 bits, vaddps xmm0, xmm0, xmm1, 3.50 cycles per instruction with no state write:" +
                  next_line + heads +
                  "    after vzeroupper (the control)         +0.0     +0.0    +0.00    +0.00    +0.00    +0.00" +
                  next_line +
                  "    dirty YMM upper half                   +0.0     +0.0    +1.00*   +1.25    +1.00*   +1.00" +
                  next_line + unsupported);
    EXPECT_NE(report.find("  EVEX, 512 bits, vaddps zmm0, zmm0, zmm1: unsupported, not measured here"),
              std::string::npos);
    EXPECT_EQ(section(report, next_line + "transitions", "  legacy SSE"),
              next_line + "transitions between upper-half states: extra core cycles of a dependent chain after a "
                          "state write," + next_line +
                  "beyond the same chain without it. With the write at the head of every iteration, at 4 and 12" +
                  next_line +
                  "instructions, the extra per iteration is the cost per change of state plus the length times the "
                  "cost" + next_line + "per instruction after a change; with the write once before the loop, at 12 "
                  "instructions, the cost per" + next_line +
                  "instruction in the steady state. 12 windows of 8 turns for each state; * where every window puts "
                  "a" + next_line + "figure 0.1 or more from zero on one side; ~ where a figure's runs fall in two "
                  "modes, judged on" + next_line + "the runs of the chain of 12 with the write at the head for the "
                  "first two figures, of the chain" + next_line + "after the write once for the third:" + next_line);
}

TEST(MatrixReport, AFigureAHairBelowZeroReadsAsPlusZero) {
    // pand <-> mulps saves 0.04 cycles per round trip, and a dirty YMM upper
    // half 0.04 per change of state and 0.004 per instruction, after a change
    // and in the steady state: all round to zero, which the report signs as
    // it signs every zero.
    const PenaltyMatrix matrix = scripted_matrix({pand, mulps}, {0.7}, [](ChainPair pair, std::size_t) {
        const double cycles = pair.first != pair.second ? (1.0 + 4.0 - 0.04) / 2 : pair.first == pand ? 1.0 : 4.0;
        return std::pair{cycles, cycles};
    });
    ASSERT_NEAR(matrix.round_trips[sse_table.chain_index({pand, mulps})].best.median, -0.04, 1e-3);
    MatrixResults results = results_of(matrix);
    results.transitions = one_kind_after({2});
    results.transitions.rows[0].cells[2].windows.push_back(transition_window(3, {-0.04, -0.004, -0.004}, 0.7, 0));
    results.transitions = transitions_from(std::move(results.transitions));
    const std::string report = matrix_report(results, calibration_from({}, {0, 0}, {1, 1}));
    const std::string next_line(line_break);
    EXPECT_EQ(section(report, "               pand", "crossings"),
              "               pand" + next_line + "  mulps       +0.0" + next_line + next_line);
    EXPECT_EQ(section(report, "    dirty YMM", next_line),
              "    dirty YMM upper half                   +0.0     +0.0    +0.00    +0.00    +0.00    +0.00");
}

TEST(ProcessorName, IsTheBrandStringTrimmedOrAStandInThatIsNotEmpty) {
    EXPECT_EQ(processor_name_of(nullptr, "  Intel(R) Xeon(R) CPU @ 2.10GHz   "), "Intel(R) Xeon(R) CPU @ 2.10GHz");
    EXPECT_EQ(processor_name_of(nullptr, "AMD EPYC 7B13"), "AMD EPYC 7B13");
    EXPECT_EQ(processor_name_of("", "AMD EPYC 7B13"), "AMD EPYC 7B13");
    EXPECT_EQ(processor_name_of("Evil \"Turin\"", "AMD EPYC 7B13"), "Evil \"Turin\"");
    EXPECT_EQ(processor_name_of(nullptr, "    "), "unknown processor");
    EXPECT_EQ(processor_name_of(nullptr, ""), "unknown processor");
}

}  // namespace
