#include "matrix/chains.hpp"

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

std::vector<std::size_t> classes_of(const Family& family) {
    std::vector<std::size_t> classes;
    for (std::size_t c = 0; c < family.table->classes.size(); ++c) {
        if ((family.table->classes[c].needs & ~family.covers) == 0) classes.push_back(c);
    }
    return classes;
}

std::vector<std::size_t> runnable_classes(const Family& family, Features features) {
    std::vector<std::size_t> classes;
    for (std::size_t c : classes_of(family)) {
        if ((family.table->classes[c].needs & ~features) == 0) classes.push_back(c);
    }
    return classes;
}

std::vector<Instruction> chain_body(const ClassTable& table, ChainPair pair, std::uint32_t length) {
    std::vector<Instruction> body;
    for (std::uint32_t i = 0; i < length; ++i) {
        const InstructionClass& row = table.classes[i % 2 == 0 ? pair.first : pair.second];
        body.push_back({&row.form});
        for (const InstructionForm& form : row.then) body.push_back({&form});
    }
    return body;
}
