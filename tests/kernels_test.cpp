#include <cstdint>

#include <gtest/gtest.h>

#include "run/kernels.hpp"
#include "run/test_table.hpp"
#include "tests/hex.hpp"

namespace {

Bytes body_bytes(Kernel body) {
    Bytes bytes;
    for (const Instruction& instruction : body) {
        for (std::uint8_t byte : instruction.encoding()) bytes.push_back(byte);
    }
    return bytes;
}

TEST(Kernels, BodiesAreTheDesignedInstructionSequences) {
    EXPECT_EQ(hex(body_bytes(integer_moves_integer_arithmetic)),
              "66 0F 6F 00 66 0F FA C1 66 0F FA C2 66 0F FA C3 66 0F FA C4 66 0F 7F 00");
    EXPECT_EQ(hex(body_bytes(float_moves_integer_arithmetic)),
              "0F 28 00 66 0F FA C1 66 0F FA C2 66 0F FA C3 66 0F FA C4 0F 29 00");
    EXPECT_EQ(hex(body_bytes(float_moves_float_arithmetic)), "0F 28 00 0F 5C C1 0F 5C C2 0F 5C C3 0F 5C C4 0F 29 00");
    EXPECT_EQ(hex(body_bytes(alternating_types)), "0F 28 00 0F 5C C1 66 0F FA C2 0F 5C C3 66 0F FA C4 66 0F 7F 00");
}

TEST(TestTable, RunsTheFiveTestsInOrderWithTheirRepetitions) {
    struct Row {
        int number;
        std::uint32_t repetitions;
        Kernel body;
    };
    const Row expected[] = {
        {-1, 65536, {}},
        {0, 65536, integer_moves_integer_arithmetic},
        {1, 65536, float_moves_integer_arithmetic},
        {2, 8192, float_moves_float_arithmetic},
        {3, 8192, alternating_types},
    };
    ASSERT_EQ(std::size(test_table), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(test_table[i].number, expected[i].number);
        EXPECT_EQ(test_table[i].repetitions, expected[i].repetitions);
        EXPECT_EQ(test_table[i].body.data(), expected[i].body.data());
        EXPECT_EQ(test_table[i].body.size(), expected[i].body.size());
    }
}

}  // namespace
