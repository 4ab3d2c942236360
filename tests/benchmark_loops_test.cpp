#include <array>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "clock/benchmark_loops.hpp"
#include "clock/upper_state.hpp"
#include "tests/hex.hpp"
#include "tests/mxcsr.hpp"
#include "tests/timed_frame_bytes.hpp"

namespace {

// Each seeded routine is read where it runs: vzeroupper where AVX is usable,
// the seed stored where the benchmark's routine will find its scratch block,
// XMM1..XMM4 loaded, the call of the benchmark's own routine, and XMM0 kept.
Bytes expected_routine(const BenchmarkLoop& loop) {
    ExpectedRoutine code(code_of(loop.seeded));
    code.add({0x80, 0x3D});  // cmp byte [avx_usable], 0
    code.add_address(&avx_usable, 1);
    code.add({0x00, 0x74, 0x03, 0xC5, 0xF8, 0x77});  // je over vzeroupper
    code.add({0x0F, 0x28, 0x05});                    // movaps xmm0, [seed]
    code.add_address(&benchmark_loop_values[0]);
#if defined(__x86_64__)
    code.add({0x48, 0x89, 0xE0, 0x48, 0x83, 0xE8, 0x58});  // mov rax, rsp; sub rax, 0x50 + 8
#else
    code.add({0x89, 0xE0, 0x83, 0xE8, 0x54});  // mov eax, esp; sub eax, 0x50 + 4
#endif
    code.add({0x24, 0xE0, 0x0F, 0x29, 0x00});  // and al, 0xE0; movaps [eax], xmm0
    for (std::uint8_t reg = 1; reg <= 4; ++reg) {
        code.add({0x0F, 0x28, static_cast<std::uint8_t>(0x05 + 8 * reg)});  // movaps xmmN, [value N]
        code.add_address(&benchmark_loop_values[reg]);
    }
    code.add({0xE8});  // call the benchmark's routine
    code.add32(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code_of(loop.test->timed_run)) -
                                          (code.here() + 4)));
    code.add({0x0F, 0x29, 0x05});  // movaps [benchmark_loop_result], xmm0
    code.add_address(&benchmark_loop_result);
    code.add({0xC3});
    return code.bytes();
}

TEST(BenchmarkLoops, EachSeedsItsInputsAndCallsTheBenchmarksOwnRoutine) {
    for (const BenchmarkLoop& loop : benchmark_loops) {
        const ExpectedRoutine expected(code_of(loop.seeded));
        const Bytes bytes = expected_routine(loop);
        EXPECT_EQ(hex(Bytes(code_of(loop.seeded), code_of(loop.seeded) + bytes.size())), hex(bytes))
            << "test " << loop.test->number;
    }
}

// Zero is taken away 4 x 4,096 times: the seed comes back, and neither the
// integer nor the floating-point subtractions raise a flag.
TEST(BenchmarkLoops, EveryRunEndsWithItsSeedAndNoExceptionFlag) {
    const std::uint32_t saved = mxcsr();
    for (const BenchmarkLoop& loop : benchmark_loops) {
        std::fill(std::begin(benchmark_loop_result), std::end(benchmark_loop_result), 0u);
        set_mxcsr(saved & ~mxcsr_exception_flags);
        loop.seeded();
        const std::uint32_t flags = mxcsr() & mxcsr_exception_flags;
        EXPECT_TRUE(std::equal(std::begin(benchmark_loop_result), std::end(benchmark_loop_result),
                               std::begin(benchmark_loop_values[0])))
            << "test " << loop.test->number;
        EXPECT_EQ(flags, 0u) << "test " << loop.test->number;
    }
    set_mxcsr(saved);
}

// Scripted runs: the core clock jumps from 0.8 to 0.7 ticks per cycle in the
// middle of every window, after five of its eight turns. Each loop and the ruler leave their cycles at the
// level of the moment, plus a little noise; the window's fastest runs all
// come from the faster level and so agree.
constexpr double loop_cycles_per_iteration[loop_count] = {1.0, 13.0, 13.0, 21.0, 17.0};
std::size_t turn_runs;
double level() { return (turn_runs / 7) % 8 < 5 ? 0.8 : 0.7; }

template <std::size_t routine>
void scripted_run() {
    const double cycles = routine < loop_count ? loop_cycles_per_iteration[routine] * loop_iterations
                                               : clock_chains[routine == loop_count ? add_short : add_long].length *
                                                     static_cast<double>(loop_iterations);
    measurement_state.start = 1'000'000 * turn_runs;
    measurement_state.end = measurement_state.start + static_cast<std::uint64_t>(cycles * level()) + turn_runs % 3;
    ++turn_runs;
}

TEST(LoopCycles, ALevelChangeInsideAWindowLeavesEachLoopAtItsCycles) {
    const BenchmarkLoop loops[loop_count] = {{&test_table[0], scripted_run<0>},
                                             {&test_table[1], scripted_run<1>},
                                             {&test_table[2], scripted_run<2>},
                                             {&test_table[3], scripted_run<3>},
                                             {&test_table[4], scripted_run<4>}};
    ClockChain ruler[clock_chain_count];
    std::copy(std::begin(clock_chains), std::end(clock_chains), ruler);
    ruler[add_short].run = scripted_run<loop_count>;
    ruler[add_long].run = scripted_run<loop_count + 1>;
    turn_runs = 0;
    const LoopCycles cycles = measure_loop_cycles({3, 8}, loops, ruler);
    // A warm-up window and three kept, of eight turns of seven routines.
    EXPECT_EQ(turn_runs, 4u * 8u * 7u);
    ASSERT_EQ(cycles.windows.size(), 3u);
    for (std::size_t i = 0; i < loop_count; ++i) {
        EXPECT_NEAR(cycles.loops[i].best.lowest, loop_cycles_per_iteration[i], 2e-3) << i;
        EXPECT_NEAR(cycles.loops[i].best.highest, loop_cycles_per_iteration[i], 2e-3) << i;
        // The middle runs lie on the slower level, the ruler's too.
        EXPECT_NEAR(cycles.loops[i].typical.median, loop_cycles_per_iteration[i], 2e-3) << i;
    }
    EXPECT_NEAR(cycles.ticks_per_cycle.median, 0.7, 1e-4);
    // A window whose ruler cannot convert is left out, not divided by.
    std::vector<LoopWindow> windows = cycles.windows;
    windows[1].ruler_middle.longer = windows[1].ruler_middle.shorter;
    windows[2].ruler.longer = windows[2].ruler.shorter - 1;
    for (std::size_t w : {1, 2}) windows[w].loops[0] = {1, 1};
    const LoopCycles kept = loop_cycles_from({3, 8}, windows);
    EXPECT_NEAR(kept.loops[0].best.lowest, loop_cycles_per_iteration[0], 2e-3);
    EXPECT_NEAR(kept.loops[0].typical.highest, loop_cycles_per_iteration[0], 2e-3);
}

}  // namespace
