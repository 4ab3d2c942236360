#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "matrix/chains.hpp"
#include "matrix/penalties.hpp"
#include "tests/hex.hpp"
#include "tests/timed_frame_bytes.hpp"

namespace {

Bytes body_bytes(ChainPair pair, std::uint32_t length) {
    Bytes bytes;
    for (const Instruction& instruction : chain_body(pair, length)) {
        for (std::uint8_t byte : instruction.encoding()) bytes.push_back(byte);
    }
    return bytes;
}

// Each chain is read where it runs: the registers loaded from
// matrix_chain_values (after vzeroupper where AVX is usable), the timed frame
// around its classes in turn with the loop on a 64-byte boundary, and XMM0
// stored into matrix_chain_result.
Bytes expected_routine(TimedRun routine, ChainPair pair, std::uint32_t length) {
    ExpectedRoutine code(code_of(routine));
    code.add({0x80, 0x3D});  // cmp byte [matrix_avx_usable], 0
    code.add_address(&matrix_avx_usable, 1);
    code.add({0x00, 0x74, 0x03, 0xC5, 0xF8, 0x77});  // je over vzeroupper
    for (std::uint8_t reg = 0; reg < 6; ++reg) {
        code.add({0x0F, 0x28, static_cast<std::uint8_t>(0x05 + 8 * reg)});  // movaps xmmN, [value N]
        code.add_address(&matrix_chain_values[reg]);
    }
    code.timed_frame(0, body_bytes(pair, length));
    code.add({0x0F, 0x29, 0x05});  // movaps [matrix_chain_result], xmm0
    code.add_address(&matrix_chain_result);
    code.add({0xC3});
    return code.bytes();
}

std::vector<std::size_t> all_classes() {
    std::vector<std::size_t> classes;
    for (std::size_t c = 0; c < class_count; ++c) classes.push_back(c);
    return classes;
}

TEST(MatrixChains, HoldTheirClassesInTurnInTheTimedFrame) {
    const std::vector<ChainPair> chains = chains_of(all_classes());
    ASSERT_EQ(chains.size(), chain_count);
    for (const ChainPair& pair : chains) {
        const ChainRoutines& routines = matrix_chain_routines[chain_index(pair)];
        const auto name = std::string(instruction_classes[pair.first].name) + ", " +
                          std::string(instruction_classes[pair.second].name);
        for (const auto& [routine, length] : {std::pair{routines.shorter, short_chain}, {routines.longer, long_chain}}) {
            const Bytes expected = expected_routine(routine, pair, length);
            EXPECT_EQ(hex(Bytes(code_of(routine), code_of(routine) + expected.size())), hex(expected))
                << name << ", " << length << " per iteration";
        }
    }
}

TEST(MatrixChains, TheShuffleImmediatesSwapTheHalvesOfTheRegister) {
    // pshufd and shufps with 0x4E, shufpd with 0x01: the value's two equal
    // halves change places.
    EXPECT_EQ(hex(body_bytes({3, 7}, 2)), "66 0F 70 C0 4E 0F C6 C0 4E");
    EXPECT_EQ(hex(body_bytes({11, 11}, 1)), "66 0F C6 C0 01");
}

std::uint32_t mxcsr() {
    std::uint32_t value;
    __asm__ volatile("stmxcsr %0" : "=m"(value));
    return value;
}

void set_mxcsr(std::uint32_t value) { __asm__ volatile("ldmxcsr %0" : : "m"(value)); }

// The chain's value survives every class: after any run, XMM0 holds it, and
// no instruction met a denormal, underflowed, rounded or was invalid.
TEST(MatrixChains, EveryRunEndsWithTheChainsValueAndNoExceptionFlag) {
    const std::uint32_t saved = mxcsr();
    constexpr std::uint32_t exception_flags = 0x3F;
    for (const ChainPair& pair : chains_of(all_classes())) {
        const ChainRoutines& routines = matrix_chain_routines[chain_index(pair)];
        for (TimedRun routine : {routines.shorter, routines.longer}) {
            matrix_chain_result = {};
            set_mxcsr(saved & ~exception_flags);
            routine();
            const std::uint32_t flags = mxcsr() & exception_flags;
            EXPECT_EQ(matrix_chain_result, chain_value)
                << instruction_classes[pair.first].name << ", " << instruction_classes[pair.second].name;
            EXPECT_EQ(flags, 0u) << instruction_classes[pair.first].name << ", "
                                 << instruction_classes[pair.second].name;
        }
    }
    set_mxcsr(saved);
}

// A ruler of `ruler` ticks per core cycle, as the clock's chains give it.
RoundMinimums ruler_round(double ruler) {
    RoundMinimums round{};
    for (std::size_t i = 0; i < clock_chain_count; ++i) {
        round[i] = static_cast<std::uint64_t>(1000 + clock_chains[i].length * clock_chains[i].instruction->latency *
                                                         loop_iterations * ruler);
    }
    return round;
}

// A chain's two routines whose instructions take `cycles` each, at `ruler`
// ticks per cycle, in a frame of `frame` ticks.
ChainMinimums chain_taking(double cycles, double ruler, double frame = 5000) {
    auto time = [&](std::uint32_t length) {
        return static_cast<std::uint64_t>(frame + length * cycles * loop_iterations * ruler + 0.5);
    };
    return {time(short_chain), time(long_chain)};
}

constexpr std::size_t paddd = 0, pand = 2, mulps = 5, addpd = 8;

TEST(MatrixArithmetic, LatencyIsTheLongChainsExtraInstructionsAloneTheFrameCancelled) {
    EXPECT_NEAR(cycles_per_instruction(chain_taking(3, 0.75, 5000), 0.75), 3.0, 1e-9);
    EXPECT_NEAR(cycles_per_instruction(chain_taking(3, 0.75, 90000), 0.75), 3.0, 1e-9);
    EXPECT_NEAR(cycles_per_instruction(chain_taking(1, 2.0, 0), 2.0), 1.0, 1e-9);
}

TEST(MatrixArithmetic, ARoundTripIsTheAlternatingChainLessBothLatenciesEachRoundByItsOwnRuler) {
    // pand 1 cycle, mulps 4; pand <-> mulps costs 1.5 more per round trip,
    // so the alternating chain takes (1 + 4 + 1.5) / 2 per instruction. The
    // second round's core runs slower against the counter: its own ruler
    // gives the same cycles.
    std::vector<MatrixRound> rounds;
    for (double ruler : {0.70, 0.77}) {
        MatrixRound round;
        round.ruler = ruler_round(ruler);
        round.chains[chain_index({pand, pand})] = chain_taking(1, ruler);
        round.chains[chain_index({mulps, mulps})] = chain_taking(4, ruler);
        round.chains[chain_index({pand, mulps})] = chain_taking(6.5 / 2, ruler);
        rounds.push_back(round);
    }
    const PenaltyMatrix matrix = matrix_from({pand, mulps}, rounds);
    EXPECT_NEAR(matrix.latencies[pand].median, 1.0, 1e-4);
    EXPECT_NEAR(matrix.latencies[mulps].median, 4.0, 1e-4);
    EXPECT_NEAR(matrix.ticks_per_cycle.lowest, 0.70, 1e-4);
    EXPECT_NEAR(matrix.ticks_per_cycle.highest, 0.77, 1e-4);
    const Cell& cell = matrix.round_trips[chain_index({pand, mulps})];
    EXPECT_NEAR(cell.cycles.median, 1.5, 1e-3);
    EXPECT_NEAR(cell.cycles.highest - cell.cycles.lowest, 0, 1e-3);
    EXPECT_TRUE(cell.measurable());
}

TEST(MatrixArithmetic, ACellIsMeasurableBeyondItsSpreadAndTheReportsResolution) {
    struct Case {
        double median, lowest, highest;
        bool measurable;
    };
    const Case cases[] = {
        {1.0, 0.9, 1.1, true},      // 1.0 beyond a width of 0.2
        {-0.5, -0.6, -0.4, true},   // a saving counts as much as a cost
        {0.3, 0.0, 0.5, false},     // within its spread
        {-0.3, -0.5, 0.0, false},
        {0.05, 0.05, 0.05, false},  // below what the report shows
        {0.1, 0.1, 0.1, true},
    };
    for (const Case& c : cases) {
        const Cell cell{{c.median, c.lowest, c.highest}};
        EXPECT_EQ(cell.measurable(), c.measurable) << c.median;
    }
}

TEST(MatrixMeasurement, TimesOnlyTheChainsOfTheChosenClassesEachRoundWithTheRulerFirst) {
    static std::string calls;
    static std::uint64_t stamp;
    calls.clear();
    // Every routine leaves a delta that names it: chain index and length.
    static ChainRoutines routines[chain_count];
    static ClockChain ruler[clock_chain_count];
    auto leave = [](std::uint64_t delta) {
        measurement_state.start = stamp;
        measurement_state.end = stamp + delta;
        stamp += 1'000'000;
    };
    static void (*run)(std::uint64_t) = leave;
    // Only these three chains may run; anything else leaves a mark.
    routines[chain_index({paddd, paddd})] = {[] { calls += 'a'; run(100); }, [] { calls += 'A'; run(300); }};
    routines[chain_index({paddd, addpd})] = {[] { calls += 'b'; run(200); }, [] { calls += 'B'; run(600); }};
    routines[chain_index({addpd, addpd})] = {[] { calls += 'c'; run(400); }, [] { calls += 'C'; run(1200); }};
    for (ChainRoutines& routine : routines) {
        if (routine.shorter == nullptr) routine = {[] { calls += '!'; run(1); }, [] { calls += '!'; run(1); }};
    }
    for (std::size_t i = 0; i < clock_chain_count; ++i) {
        ruler[i] = clock_chains[i];
        ruler[i].run = [] { calls += 'r'; run(1000); };
    }
    std::vector<std::size_t> progress;
    MatrixSettings settings;
    settings.rounds = 2;
    settings.repetitions = 2;
    settings.ruler_repetitions = 1;
    const PenaltyMatrix matrix = measure_matrix(
        {paddd, addpd}, settings, [&](std::size_t done, std::size_t total) { progress.push_back(done * 10 + total); },
        routines, ruler);
    EXPECT_EQ(calls, "rrrraAaAbBbBcCcC" "rrrraAaAbBbBcCcC");
    EXPECT_EQ(progress, (std::vector<std::size_t>{16, 26, 36, 46, 56, 66}));
    ASSERT_EQ(matrix.rounds.size(), 2u);
    EXPECT_EQ(matrix.rounds[1].chains[chain_index({paddd, addpd})].shorter, 200u);
    EXPECT_EQ(matrix.rounds[1].chains[chain_index({paddd, addpd})].longer, 600u);
    EXPECT_EQ(matrix.rounds[1].chains[chain_index({pand, pand})].longer, 0u);
}

}  // namespace
