#include "matrix/chains.hpp"

extern "C" {

// clang-format off
alignas(16) const Xmm matrix_chain_values[6] = {
    chain_value,
    {{0, 0, 0, 0}},                                          // XMM1: adds nothing
    {{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}},      // XMM2: masks nothing
    {{0x3F800000, 0x3F800000, 0x3F800000, 0x3F800000}},      // XMM3: four singles of 1.0
    {{0x00000000, 0x3FF00000, 0x00000000, 0x3FF00000}},      // XMM4: two doubles of 1.0
    {{4 * 0x3FF00000u + 1, 0, 4 * 0x3FF00000u + 1, 0}},      // XMM5: pmuludq's multiplier
};
// clang-format on

alignas(16) Xmm matrix_chain_result;

}  // extern "C"

std::vector<Instruction> chain_body(ChainPair pair, std::uint32_t length) {
    std::vector<Instruction> body;
    for (std::uint32_t i = 0; i < length; ++i) {
        body.push_back({&instruction_classes[i % 2 == 0 ? pair.first : pair.second].form});
    }
    return body;
}
