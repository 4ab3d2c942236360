// The timed code is checked where it runs: the bytes are read from this
// process's own code, so placement and relocation are those of a real build.
#include <cstdint>

#include <gtest/gtest.h>

#include "run/kernels.hpp"
#include "run/measurement.hpp"
#include "run/test_table.hpp"
#include "tests/hex.hpp"

namespace {

const std::uint8_t* code_of(TimedRun run) { return reinterpret_cast<const std::uint8_t*>(run); }

// Where each loop starts relative to a 64-byte boundary: the empty loop 16
// bytes after one, every SIMD loop 16 bytes before one.
std::uintptr_t loop_placement(const TestCase& test) { return test.body.empty() ? 16 : 48; }

// Assembles, byte for byte, what a timed routine at `entry` must hold: the
// stores address measurement_state from wherever the routine ended up.
class ExpectedRoutine {
public:
    explicit ExpectedRoutine(const std::uint8_t* entry) : entry_(entry) {}

    void add(std::initializer_list<std::uint8_t> bytes) { bytes_.insert(bytes_.end(), bytes); }
    void add32(std::uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    // mov [field], eax (lower half) and mov [field + 4], edx (upper half).
    void store_time_stamp(const std::uint64_t& field) {
        const auto address = reinterpret_cast<std::uintptr_t>(&field);
#if defined(__x86_64__)
        add({0x89, 0x05});
        add32(static_cast<std::uint32_t>(address - (here() + 4)));
        add({0x89, 0x15});
        add32(static_cast<std::uint32_t>(address + 4 - (here() + 4)));
#else
        add({0xA3});
        add32(static_cast<std::uint32_t>(address));
        add({0x89, 0x15});
        add32(static_cast<std::uint32_t>(address + 4));
#endif
    }
    std::uintptr_t here() const { return reinterpret_cast<std::uintptr_t>(entry_) + bytes_.size(); }
    const Bytes& bytes() const { return bytes_; }

private:
    const std::uint8_t* entry_;
    Bytes bytes_;
};

Bytes expected_routine(const TestCase& test) {
    ExpectedRoutine code(code_of(test.timed_run));
    code.add({0x0F, 0x31});  // rdtsc
    code.store_time_stamp(measurement_state.start);
#if defined(__x86_64__)
    code.add({0x48, 0x89, 0xE0, 0x48, 0x83, 0xE8, 0x50});  // mov rax, rsp; sub rax, 0x50
#else
    code.add({0x89, 0xE0, 0x83, 0xE8, 0x50});  // mov eax, esp; sub eax, 0x50
#endif
    code.add({0x24, 0xE0});                    // and al, 0xE0
    code.add({0xB9, 0x00, 0x10, 0x00, 0x00});  // mov ecx, 4096
    // The first address after the jump with the loop's placement.
    const std::uintptr_t after_jump = code.here() + 2;
    const std::uintptr_t filler = (loop_placement(test) - after_jump % 64 + 64) % 64;
    code.add({0xEB, static_cast<std::uint8_t>(filler)});
    for (std::uintptr_t i = 0; i < filler; ++i) code.add({0x90});
    for (const Instruction& instruction : test.body) {
        for (std::uint8_t byte : instruction.encoding()) code.add({byte});
    }
    const auto loop_length = body_length(test.body) + 5;
    code.add({0x83, 0xE9, 0x01, 0x75, static_cast<std::uint8_t>(-static_cast<int>(loop_length))});
    code.add({0x0F, 0x31});  // rdtsc
    code.store_time_stamp(measurement_state.end);
    code.add({0xC3});  // ret
    return code.bytes();
}

// Follows the short jump that enters the loop.
const std::uint8_t* loop_start(const TestCase& test) {
#if defined(__x86_64__)
    const std::uint8_t* jump = code_of(test.timed_run) + 28;
#else
    const std::uint8_t* jump = code_of(test.timed_run) + 25;
#endif
    EXPECT_EQ(jump[0], 0xEB);
    return jump + 2 + static_cast<std::int8_t>(jump[1]);
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
