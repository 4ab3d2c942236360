// The chains of the penalty matrix: for every class of a table, a dependent
// chain of that class alone, and for every unordered pair of classes, a chain
// that alternates them. Each chain comes at two lengths, 4 and 12
// instructions per iteration of the benchmark's timed frame, so that the
// difference of their times is the extra instructions' alone, the frame
// cancelled. There are three tables: legacy SSE on XMM, VEX.256 on YMM and
// EVEX.512 on ZMM (see classes.hpp).
//
// Every instruction computes register 0 from register 0, so each one waits
// for the one before, and a chain runs at the latency of its instructions
// plus whatever a hand-over between two classes costs; a round trip through
// a general register or a mask register stands in a chain for one
// instruction and computes register 0 from register 0 as a whole. Before the
// first time stamp, each routine gives register 0 the chain's value (zero
// where the chain holds a class that keeps no other value, as a conversion)
// and registers 1..7 the operands that keep it (matrix_chain_values), at its
// table's width: no chain ever meets a denormal, and its times do not depend
// on what ran before. vzeroupper comes first: code that ran before may have
// left the upper halves of the YMM registers in use, and then every legacy
// SSE instruction may merge them and take longer (the SSE routines can only
// clear them where the processor has AVX). After the second time stamp, each
// routine leaves register 0 in matrix_chain_result, where the tests find the
// chain's value, and the VEX and EVEX routines clear the upper halves again
// for the code they return to.

#include "matrix/arithmetic/chains.hpp"
#include "matrix/builder/chain_builder.hpp"

ChainRoutines matrix_sse_routines[chain_count(std::size(sse_classes))];
ChainRoutines matrix_vex256_routines[chain_count(std::size(vex256_classes))];
ChainRoutines matrix_evex512_routines[chain_count(std::size(evex512_classes))];

namespace {

ChainRegisters registers_of_width(std::uint32_t width) {
    return width == 16 ? ChainRegisters::sse_xmm : width == 32 ? ChainRegisters::ymm : ChainRegisters::zmm;
}

ChainRoutine chain_routine(const ClassTable& table, ChainPair pair, std::uint32_t length) {
    const bool legacy = table.width == 16;
    const ChainRegisters registers = registers_of_width(table.width);
    const std::uint8_t value_row = table.from_zero(pair) ? 1 : 0;
    return {{false, legacy ? UpperClear::where_avx : UpperClear::always, registers, {value_row, 1, 2, 3, 4, 5, 6, 7}},
            chain_body(table, pair, length),
            chain_iterations,
            {registers, !legacy}};
}

// The table's chains in chain_index order, each short then long.
void build_triangle(const ClassTable& table, ChainRoutines* routines) {
    std::vector<ChainRoutine> plans;
    const std::size_t classes = table.classes.size();
    for (std::size_t first = 0; first < classes; ++first) {
        for (std::size_t second = first; second < classes; ++second) {
            for (std::uint32_t length : {short_chain, long_chain})
                plans.push_back(chain_routine(table, {first, second}, length));
        }
    }
    const std::vector<TimedRun> entries = build_chains(plans);
    for (std::size_t i = 0; i < table.chain_count(); ++i) routines[i] = {entries[2 * i], entries[2 * i + 1]};
}

// Built as the program starts, before anything can time them.
[[maybe_unused]] const bool triangles_built = [] {
    build_triangle(sse_table, matrix_sse_routines);
    build_triangle(vex256_table, matrix_vex256_routines);
    build_triangle(evex512_table, matrix_evex512_routines);
    return true;
}();

}  // namespace
