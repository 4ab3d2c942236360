#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "matrix/arithmetic/chains.hpp"
#include "matrix/builder/chain_builder.hpp"
#include "matrix/chain_values.hpp"
#include "matrix/movement/movement_forms.hpp"
#include "matrix/report_text.hpp"
#include "matrix/transitions/transitions.hpp"
#include "tests/chain_set_up_bytes.hpp"
#include "tests/hex.hpp"
#include "tests/timed_frame_bytes.hpp"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

// One routine of each table that the program builds as it starts, read
// once the program runs.
std::vector<TimedRun> built() {
    return {matrix_sse_routines[0].shorter, matrix_evex512_routines[0].longer,
            movement_evex512_widths_routines[0].longer, matrix_transition_routines[3][2][2]};
}

#if !defined(_WIN32)
// The permissions that /proc/self/maps gives the mapping that holds
// `address`, as "r-xp"; empty where no mapping holds it.
std::string permissions_at(const void* address) {
    std::ifstream maps("/proc/self/maps");
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    for (std::string line; std::getline(maps, line);) {
        unsigned long long low = 0, high = 0;
        char permissions[5] = {};
        if (std::sscanf(line.c_str(), "%llx-%llx %4s", &low, &high, permissions) != 3) continue;
        if (low <= at && at < high) return permissions;
    }
    return "";
}
#endif

// The chains' memory was written, then made read-and-execute: nothing in
// the process is writable and executable at once.
TEST(ChainMemory, IsReadAndExecuteOnly) {
    for (TimedRun routine : built()) {
        ASSERT_NE(routine, nullptr);
#if defined(_WIN32)
        MEMORY_BASIC_INFORMATION region{};
        ASSERT_NE(VirtualQuery(reinterpret_cast<const void*>(routine), &region, sizeof region), 0u);
        EXPECT_EQ(region.Protect, static_cast<DWORD>(PAGE_EXECUTE_READ));
#else
        EXPECT_EQ(permissions_at(reinterpret_cast<const void*>(routine)), "r-xp");
#endif
    }
#if !defined(_WIN32)
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        std::istringstream fields(line);
        std::string range, permissions;
        fields >> range >> permissions;
        EXPECT_FALSE(permissions[1] == 'w' && permissions[2] == 'x') << line;
    }
#endif
}

#if !defined(_WIN32)
// A write into a chain after it was made executable faults, in a child.
TEST(ChainMemoryDeathTest, AWriteIntoAChainFaults) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (TimedRun routine : built()) {
        EXPECT_EXIT(
            {
                // The fault itself, not a sanitizer's report of it.
                std::signal(SIGSEGV, SIG_DFL);
                *reinterpret_cast<volatile std::uint8_t*>(reinterpret_cast<std::uintptr_t>(routine) + 1) = 0xCC;
                std::exit(0);
            },
            testing::KilledBySignal(SIGSEGV), "");
    }
}

// A set-up too long to leave the loop its place two 64-byte boundaries
// after the entry is refused in one line, rather than built misplaced.
TEST(ChainBuilderDeathTest, RefusesASetUpThatReachesTheLoopsPlace) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const ChainRoutine too_long{
        {true, UpperClear::where_avx, ChainRegisters::zmm, {0, 1, 2, 3, 4, 5, 6, 7}, &dirty_zmm_write},
        {},
        loop_iterations,
        {ChainRegisters::zmm, true}};
    EXPECT_EXIT(build_chains({&too_long, 1}), testing::ExitedWithCode(1),
                "^simd-mix-matrix: cannot build a chain: .*\n$");
}
#endif

// Every part as data: EBX pointed at the slot, the upper halves cleared
// where AVX is usable, two registers from their rows at 512 bits, a state
// written once, the benchmark's frame of 16 iterations around a body of
// three instructions, register 0 stored, the upper halves cleared, a state
// left clean and EBX restored; and the listing's bytes are read from there.
TEST(ChainBuilder, EmitsEachPartInOrderWithTheLoopTwoBoundariesAfterTheEntry) {
    const Instruction body[] = {{&transition_kinds[3].form}, {&transition_kinds[3].form}, {&clean_write}};
    const ChainRoutine routine{{true, UpperClear::where_avx, ChainRegisters::zmm, {3, 1}, &dirty_zmm_write},
                               {std::begin(body), std::end(body)},
                               16,
                               {ChainRegisters::zmm, true, &high_zmm_clear, true}};
    const ChainRoutine plain{{false, UpperClear::none, ChainRegisters::sse_xmm, {}}, {}, 16, {}};
    const std::vector<TimedRun> entries = build_chains(std::vector<ChainRoutine>{routine, plain});
    ASSERT_EQ(entries.size(), 2u);

    ExpectedRoutine code(code_of(entries[0]));
    add_slot_pointer(code);
    add_clear_where_avx(code);
    code.add({0x62, 0xF1, 0x7C, 0x48, 0x28, 0x05});  // vmovaps zmm0, [row 3]
    code.add_address(&matrix_chain_values[3]);
    code.add({0x62, 0xF1, 0x7C, 0x48, 0x28, 0x0D});  // vmovaps zmm1, [row 1]
    code.add_address(&matrix_chain_values[1]);
    code.add({0x62, 0xF3, 0x65, 0x48, 0x18, 0xFB, 0x03});  // vinsertf32x4 zmm7, zmm3, xmm3, 3
    code.timed_frame(0, {0x62, 0xF1, 0x7C, 0x48, 0x58, 0xC1, 0x62, 0xF1, 0x7C, 0x48, 0x58, 0xC1, 0xC5, 0xF8, 0x77},
                     chain_loop_offset, 16);
    code.add({0x62, 0xF1, 0x7C, 0x48, 0x29, 0x05});  // vmovaps [matrix_chain_result], zmm0
    code.add_address(&matrix_chain_result);
    code.add({0xC5, 0xF8, 0x77, 0x62, 0xA1, 0x7D, 0x00, 0xEF, 0xC0, 0x5B, 0xC3});
    EXPECT_EQ(hex(code.actual()), hex(code.bytes()));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(code_of(entries[0])) % 64, 0u);

    // The frame alone, as the benchmark's bare loop is, but for where its
    // loop starts; and the next routine on the next 64-byte boundary.
    ExpectedRoutine bare(code_of(entries[1]));
    bare.timed_frame(0, {}, chain_loop_offset, 16);
    bare.add({0x0F, 0x29, 0x05});  // movaps [matrix_chain_result], xmm0
    bare.add_address(&matrix_chain_result);
    bare.add({0xC3});
    EXPECT_EQ(hex(bare.actual()), hex(bare.bytes()));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(code_of(entries[1])) % 64, 0u);
    EXPECT_LT(code_of(entries[0]) + code.bytes().size(), code_of(entries[1]));
}

// However the routines' sizes fall against the 64-byte boundaries, the
// memory asked for holds them all: each of these ends a few bytes past a
// boundary, and the next starts on the one after it.
TEST(ChainBuilder, BuildsEveryRoutineAskedForWhereverItsEndFalls) {
    const Instruction body[] = {
        {&transition_kinds[3].form}, {&transition_kinds[3].form}, {&transition_kinds[3].form}, {&dirty_zmm_write}};
    const ChainRoutine routine{{true, UpperClear::where_avx, ChainRegisters::zmm, {0, 1, 2, 3}, &dirty_zmm_write},
                               {std::begin(body), std::end(body)},
                               16,
                               {ChainRegisters::zmm, true, &high_zmm_clear, true}};
    const std::vector<TimedRun> entries = build_chains(std::vector<ChainRoutine>(1000, routine));
    ASSERT_EQ(entries.size(), 1000u);
    // Each holds the loop in its place, and the last one whole.
    EXPECT_EQ(hex(Bytes(chain_loop(entries.back()), chain_loop(entries.back()) + 25)),
              hex(Bytes(chain_loop(entries.front()), chain_loop(entries.front()) + 25)));
    EXPECT_EQ((code_of(entries[1]) - code_of(entries[0])) % 64, 0);
    EXPECT_GT(code_of(entries[1]) - code_of(entries[0]), static_cast<std::ptrdiff_t>(chain_loop_offset + 25));
}

// A listing's bytes are those in the memory its routine runs from, not its
// table's: here the two differ, as they would were a routine built wrong.
TEST(ChainListing, ShowsTheBytesWhereTheRoutineRuns) {
    const Instruction body[] = {{&transition_kinds[0].form}};
    const ChainRoutine routine{
        {false, UpperClear::none, ChainRegisters::sse_xmm, {}}, {std::begin(body), std::end(body)}, 16, {}};
    const TimedRun built_routine = build_chains({&routine, 1}).front();
    // Another form of the same length, with other bytes: mulps for addps.
    const InstructionForm other{{{0x0F, 0x59, 0xC3}, 3}, "# another form", "# mulps xmm0, xmm3"};
    const std::string listing = listing_of("title", {{&other}}, built_routine);
    EXPECT_NE(listing.find("# mulps xmm0, xmm3"), std::string::npos) << listing;
    EXPECT_NE(listing.find("0F 58 C1"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("0F 59 C3"), std::string::npos) << listing;
}

}  // namespace
