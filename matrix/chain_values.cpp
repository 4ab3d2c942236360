#include "matrix/chain_values.hpp"

extern "C" {

// clang-format off
alignas(64) const VectorValue matrix_chain_values[8] = {
    chain_value,
    zero_value,                                                         // 1: adds nothing
    repeated(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF),           // 2: masks nothing
    repeated(0x3F800000, 0x3F800000, 0x3F800000, 0x3F800000),           // 3: singles of 1.0
    repeated(0x00000000, 0x3FF00000, 0x00000000, 0x3FF00000),           // 4: doubles of 1.0
    repeated(4 * 0x3FF00000u + 1, 0, 4 * 0x3FF00000u + 1, 0),           // 5: pmuludq's multiplier
    // vpermps reads the low 3 bits of each index on YMM and 4 on ZMM: the
    // same row swaps the two lanes of a YMM register and reverses the four
    // of a ZMM register.
    {{12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3}},
    chain_value,                                                        // 7: the minimum's operand
};
// clang-format on

alignas(64) VectorValue matrix_chain_result;

}  // extern "C"
