#include "matrix/arithmetic/chains.hpp"

std::vector<Instruction> chain_body(const ClassTable& table, ChainPair pair, std::uint32_t length) {
    std::vector<Instruction> body;
    for (std::uint32_t i = 0; i < length; ++i) {
        const InstructionClass& row = table.classes[i % 2 == 0 ? pair.first : pair.second];
        body.push_back({&row.form});
        for (const InstructionForm& form : row.then) body.push_back({&form});
    }
    return body;
}
