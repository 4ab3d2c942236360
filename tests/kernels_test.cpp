#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "run/kernels.hpp"
#include "run/test_table.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes body_bytes(Kernel body) {
    Bytes bytes;
    for (const Instruction& instruction : body) {
        for (std::uint8_t byte : instruction.encoding()) bytes.push_back(byte);
    }
    return bytes;
}

TEST(Kernels, BodiesAreTheDesignedInstructionSequences) {
    EXPECT_EQ(body_bytes(integer_moves_integer_arithmetic),
              (Bytes{0x66, 0x0F, 0x6F, 0x00, 0x66, 0x0F, 0xFA, 0xC1, 0x66, 0x0F, 0xFA, 0xC2,
                     0x66, 0x0F, 0xFA, 0xC3, 0x66, 0x0F, 0xFA, 0xC4, 0x66, 0x0F, 0x7F, 0x00}));
    EXPECT_EQ(body_bytes(float_moves_integer_arithmetic),
              (Bytes{0x0F, 0x28, 0x00, 0x66, 0x0F, 0xFA, 0xC1, 0x66, 0x0F, 0xFA, 0xC2,
                     0x66, 0x0F, 0xFA, 0xC3, 0x66, 0x0F, 0xFA, 0xC4, 0x0F, 0x29, 0x00}));
    EXPECT_EQ(body_bytes(float_moves_float_arithmetic), (Bytes{0x0F, 0x28, 0x00, 0x0F, 0x5C, 0xC1, 0x0F, 0x5C, 0xC2,
                                                               0x0F, 0x5C, 0xC3, 0x0F, 0x5C, 0xC4, 0x0F, 0x29, 0x00}));
    EXPECT_EQ(body_bytes(alternating_types), (Bytes{0x0F, 0x28, 0x00, 0x0F, 0x5C, 0xC1, 0x66, 0x0F, 0xFA, 0xC2, 0x0F,
                                                    0x5C, 0xC3, 0x66, 0x0F, 0xFA, 0xC4, 0x66, 0x0F, 0x7F, 0x00}));
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
