// The transitions between upper-half states: a dependent chain of one kind
// of instruction (legacy SSE, VEX.128, VEX.256 or EVEX.512 vaddps, adding
// zero) after one instruction that puts the registers in a state: vzeroupper
// (clean, the control), a VEX.256 write with a non-zero upper half (a dirty
// YMM upper half), an EVEX.512 write with a non-zero upper quarter (a dirty
// ZMM upper half), or a write to xmm16 (a dirty zmm16-31). The state write
// goes to a register the chain never reads, so it costs the chain nothing
// unless the state itself does.
//
// Each kind after each state has three routines. Two write the state at the
// head of every loop iteration, before a chain of 4 or of 12 instructions:
// a processor that saves and restores the upper halves at every change of
// state pays the same per iteration at both lengths, one that merges them
// into every instruction pays in proportion to the length, and the two
// lengths tell these apart. The third writes the state once, before the
// first time stamp, and then runs the chain of 12 alone: what an instruction
// costs in the state once it stands. The reference is the same chain, at
// both lengths, without any state write.
//
// Before the first time stamp, each routine clears the upper halves, then
// loads registers 0..3 from matrix_chain_values at its kind's width (the
// legacy SSE routines with legacy SSE loads, which leave the state clean).
// After the second time stamp, it stores register 0 into
// matrix_chain_result and clears the upper halves for the code it returns
// to, and the zmm16 routines clear xmm16 too, so that no other routine runs
// in their state. A 32-bit program has no xmm16, and no routine for that
// state.

#include "matrix/builder/chain_builder.hpp"
#include "matrix/transitions/transitions.hpp"

TimedRun matrix_transition_routines[transition_kind_count][transition_state_count][transition_placement_count];

namespace {

constexpr ChainRegisters kind_registers[transition_kind_count] = {ChainRegisters::sse_xmm, ChainRegisters::vex_xmm,
                                                                  ChainRegisters::ymm, ChainRegisters::zmm};
// The state whose register vzeroupper does not clear.
constexpr std::size_t high_zmm_state = 4;
static_assert(transition_states[high_zmm_state].form == &high_zmm_write);

bool has_routine(std::size_t state, TransitionPlacement placement) {
    if (transition_states[state].needs_64_bits && sizeof(void*) < 8) return false;
    // The reference's long chain is the reference of the state set before
    // the loop too.
    return transition_states[state].form != nullptr || placement != once_before;
}

ChainRoutine transition_routine(std::size_t kind, std::size_t state, TransitionPlacement placement) {
    const ChainRegisters registers = kind_registers[kind];
    const InstructionForm* before = placement == once_before ? transition_states[state].form : nullptr;
    return {{false, UpperClear::always, registers, {0, 1, 2, 3}, before},
            transition_body(kind, state, placement),
            loop_iterations,
            {registers, true, state == high_zmm_state ? &high_zmm_clear : nullptr}};
}

// Built as the program starts, before anything can time them.
[[maybe_unused]] const bool transitions_built = [] {
    std::vector<ChainRoutine> plans;
    std::vector<TimedRun*> places;
    for (std::size_t kind = 0; kind < transition_kind_count; ++kind) {
        for (std::size_t state = 0; state < transition_state_count; ++state) {
            for (std::size_t placement = 0; placement < transition_placement_count; ++placement) {
                const auto where = static_cast<TransitionPlacement>(placement);
                if (!has_routine(state, where)) continue;
                plans.push_back(transition_routine(kind, state, where));
                places.push_back(&matrix_transition_routines[kind][state][placement]);
            }
        }
    }
    const std::vector<TimedRun> entries = build_chains(plans);
    for (std::size_t i = 0; i < entries.size(); ++i) *places[i] = entries[i];
    return true;
}();

}  // namespace
