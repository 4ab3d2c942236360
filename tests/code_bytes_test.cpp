// The timed code is checked where it runs: the bytes are read from this
// process's own code, so placement and relocation are those of a real build.
#include <cstdint>

#include <gtest/gtest.h>

#include "run/kernels.hpp"
#include "run/measurement.hpp"
#include "run/test_table.hpp"
#include "tests/hex.hpp"
#include "tests/timed_frame_bytes.hpp"

namespace {

// Where each loop starts relative to a 64-byte boundary: the empty loop 16
// bytes after one, every SIMD loop 16 bytes before one.
std::uintptr_t loop_placement(const TestCase& test) { return test.body.empty() ? 16 : 48; }

Bytes expected_routine(const TestCase& test) {
    ExpectedRoutine code(code_of(test.timed_run));
    Bytes body;
    for (const Instruction& instruction : test.body) {
        for (std::uint8_t byte : instruction.encoding()) body.push_back(byte);
    }
    code.timed_frame(loop_placement(test), body);
    code.add({0xC3});  // ret
    return code.bytes();
}

const std::uint8_t* loop_start(const TestCase& test) {
    const std::uint8_t* jump = code_of(test.timed_run) + loop_jump_offset;
    EXPECT_EQ(jump[0], 0xEB);
    return loop_start_after(jump);
}

TEST(TimedRoutines, HoldExactlyTheTimedSequenceAroundEachLoop) {
    for (const TestCase& test : test_table) {
        const Bytes expected = expected_routine(test);
        const Bytes actual(code_of(test.timed_run), code_of(test.timed_run) + expected.size());
        EXPECT_EQ(hex(actual), hex(expected)) << "test " << test.number;
    }
}

TEST(TimedRoutines, LoopsArePlacedAroundSixtyFourByteBoundaries) {
    for (const TestCase& test : test_table) {
        const auto start = reinterpret_cast<std::uintptr_t>(loop_start(test));
        EXPECT_EQ(start % 64, loop_placement(test)) << "test " << test.number;
    }
}

// The listings mark body offset 16; these are the bytes on either side of it.
TEST(TimedRoutines, BodyOffsetSixteenFallsWhereTheListingsMarkIt) {
    struct Boundary {
        int test;
        Bytes before;
        Bytes from;
    };
    const Boundary boundaries[] = {
        {0, {0x66, 0x0F, 0xFA, 0xC3}, {0x66, 0x0F, 0xFA, 0xC4}},
        {1, {0x66}, {0x0F, 0xFA, 0xC4}},
        {2, {0x0F}, {0x29, 0x00}},
        {3, {0x66, 0x0F, 0xFA}, {0xC4}},
    };
    for (const Boundary& boundary : boundaries) {
        const std::uint8_t* offset16 = loop_start(test_table[boundary.test + 1]) + 16;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(offset16) % 64, 0u);
        EXPECT_EQ(hex(Bytes(offset16 - boundary.before.size(), offset16)), hex(boundary.before))
            << "test " << boundary.test;
        EXPECT_EQ(hex(Bytes(offset16, offset16 + boundary.from.size())), hex(boundary.from))
            << "test " << boundary.test;
    }
}

TEST(TimedRoutines, EachRunStoresBothTimeStampsAndNothingElse) {
    for (const TestCase& test : test_table) {
        measurement_state = {0, 0, 0x1111, 0x2222, 0x3333};
        test.timed_run();
        EXPECT_NE(measurement_state.start, 0u) << "test " << test.number;
        EXPECT_NE(measurement_state.end, 0u) << "test " << test.number;
        EXPECT_EQ(measurement_state.best_delta, 0x1111u);
        EXPECT_EQ(measurement_state.best_start, 0x2222u);
        EXPECT_EQ(measurement_state.best_end, 0x3333u);
    }
    measurement_state = {};
}

}  // namespace
