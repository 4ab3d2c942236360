// The chains of the data-movement tables: dependent chains whose every step
// stores the chain's value to memory and loads it back, so that each step
// waits for the store before it (see movement_forms.hpp for the two tables
// of each encoding).
//
// Every step goes through one 64-byte-aligned slot, movement_slot, which
// EBX points at throughout the loop, so that a body is the same bytes in
// 32-bit and 64-bit code. Each chain comes at two lengths, 1 and 2 steps per
// iteration of the timed frame; the difference of their times is one step's,
// the frame cancelled.
//
// Before the first time stamp each routine saves EBX, clears the upper halves
// of the vector registers (vzeroupper; the SSE routines only where the
// processor has AVX), and loads its registers from matrix_chain_values at its
// width: a types chain register 0 with the chain's value and register 1 with
// zero, which subtracts to the value again exactly; a widths chain register 0
// with singles of 1.0 in every lane, which every part of it ORs back into
// itself unchanged, whatever the zeros a narrow load leaves beside it. After
// the second time stamp it stores register 0 into matrix_chain_result,
// clears the upper halves again (VEX and EVEX), restores EBX and returns.
// The longest loop, sixteen stores of EDX twice over on ZMM, is longer than
// a short jump reaches and ends in a near jne.

#include "matrix/builder/chain_builder.hpp"
#include "matrix/movement/movement.hpp"
#include "matrix/movement/movement_forms.hpp"

ChainRoutines movement_sse_types_routines[std::size(type_cells)];
ChainRoutines movement_vex256_types_routines[std::size(type_cells)];
ChainRoutines movement_evex512_types_routines[std::size(type_cells)];
ChainRoutines movement_sse_widths_routines[std::size(width_cells)];
ChainRoutines movement_vex256_widths_routines[std::size(width_cells)];
ChainRoutines movement_evex512_widths_routines[std::size(evex512_width_cells)];

namespace {

ChainRoutine movement_routine(const MovementTable& table, std::size_t cell, std::uint32_t steps) {
    const bool legacy = table.width == 16;
    const ChainRegisters registers = legacy              ? ChainRegisters::sse_xmm
                                     : table.width == 32 ? ChainRegisters::ymm
                                                         : ChainRegisters::zmm;
    RegisterRows rows{static_cast<std::uint8_t>(table.value_row)};
    // A types chain subtracts register 1, zero.
    if (table.name == "types") rows.push_back(1);
    return {{true, legacy ? UpperClear::where_avx : UpperClear::always, registers, rows},
            movement_body(table, cell, steps),
            loop_iterations,
            {registers, !legacy, nullptr, true}};
}

void build_table(const MovementTable& table, ChainRoutines* routines) {
    std::vector<ChainRoutine> plans;
    for (std::size_t cell = 0; cell < table.cells.size(); ++cell) {
        for (std::uint32_t steps : {short_steps, long_steps}) plans.push_back(movement_routine(table, cell, steps));
    }
    const std::vector<TimedRun> entries = build_chains(plans);
    for (std::size_t cell = 0; cell < table.cells.size(); ++cell)
        routines[cell] = {entries[2 * cell], entries[2 * cell + 1]};
}

// Built as the program starts, before anything can time them.
[[maybe_unused]] const bool movement_built = [] {
    build_table(sse_types, movement_sse_types_routines);
    build_table(vex256_types, movement_vex256_types_routines);
    build_table(evex512_types, movement_evex512_types_routines);
    build_table(sse_widths, movement_sse_widths_routines);
    build_table(vex256_widths, movement_vex256_widths_routines);
    build_table(evex512_widths, movement_evex512_widths_routines);
    return true;
}();

}  // namespace
