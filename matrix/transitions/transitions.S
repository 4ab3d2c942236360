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
// to, and the zmm16 routines clear xmm16 too. Every routine starts on a
// 64-byte boundary and its loop two boundaries later. A 32-bit program has
// no xmm16, and no routine for that state.

#include "run/timed_frame.h"

#define TRANSITION_KINDS sse128, vex128, vex256, evex512
#define TRANSITION_SHORT 4
#define TRANSITION_LONG 12
#define TRANSITION_LOOP_OFFSET 128
#define ROW 64

.macro kind_sse128;   addps %xmm1, %xmm0;                       .endm
.macro kind_vex128;   vaddps %xmm1, %xmm0, %xmm0;               .endm
.macro kind_vex256;   vaddps %ymm1, %ymm0, %ymm0;               .endm
.macro kind_evex512;  vaddps %zmm1, %zmm0, %zmm0;               .endm

.macro state_pure;                                              .endm
.macro state_clean;   vzeroupper;                               .endm
// Register 7 gets register 3's singles of 1.0 in its upper half too.
.macro state_ymm;     vinsertf128 $1, %xmm3, %ymm3, %ymm7;      .endm
// Register 7 gets them in its top 128 bits: the ZMM upper half alone.
.macro state_zmm;     vinsertf32x4 $3, %xmm3, %zmm3, %zmm7;     .endm
.macro state_zmm16;   vmovaps %xmm3, %xmm16;                    .endm

// What the routine leaves behind it: vzeroupper clears the upper halves of
// registers 0 to 15, but not zmm16-31, which the zmm16 routines clear
// themselves, so that no other routine runs in their state.
.macro leave_pure;    vzeroupper;                               .endm
.macro leave_clean;   vzeroupper;                               .endm
.macro leave_ymm;     vzeroupper;                               .endm
.macro leave_zmm;     vzeroupper;                               .endm
.macro leave_zmm16;   vzeroupper; vpxord %xmm16, %xmm16, %xmm16; .endm

.macro load_kind kind, move, register_name
    \move DATA(matrix_chain_values, 0 * ROW), %\register_name\()0
    \move DATA(matrix_chain_values, 1 * ROW), %\register_name\()1
    \move DATA(matrix_chain_values, 2 * ROW), %\register_name\()2
    \move DATA(matrix_chain_values, 3 * ROW), %\register_name\()3
.endm
.macro load_sse128;   load_kind sse128, movaps, xmm;            .endm
.macro load_vex128;   load_kind vex128, vmovaps, xmm;           .endm
.macro load_vex256;   load_kind vex256, vmovaps, ymm;           .endm
.macro load_evex512;  load_kind evex512, vmovaps, zmm;          .endm
.macro store_sse128;  movaps %xmm0, DATA(matrix_chain_result, 0);   .endm
.macro store_vex128;  vmovaps %xmm0, DATA(matrix_chain_result, 0);  .endm
.macro store_vex256;  vmovaps %ymm0, DATA(matrix_chain_result, 0);  .endm
.macro store_evex512; vmovaps %zmm0, DATA(matrix_chain_result, 0);  .endm

// The loop body: the state write, none for the reference or for a state set
// before the loop, then `length` instructions of the kind.
.macro transition_body kind, state, length
    state_\state
    .rept \length
    kind_\kind
    .endr
.endm

// The state written at the head of every iteration (`before` is pure) or
// once before the first time stamp (`state` is pure); `leave` names the
// state that the routine leaves behind.
.macro transition_routine name, kind, before, state, length, leave
    .p2align 6
\name:
    vzeroupper
    load_\kind
    state_\before
    timed_frame \name, TRANSITION_LOOP_OFFSET, transition_body, \kind, \state, \length
    store_\kind
    leave_\leave
    ret
.endm

// The state at the head of every iteration at both lengths, and set once
// before the loop.
.macro transition_routines kind, state
    transition_routine matrix_transition_\kind\()_\state\()_4, \kind, pure, \state, TRANSITION_SHORT, \state
    transition_routine matrix_transition_\kind\()_\state\()_12, \kind, pure, \state, TRANSITION_LONG, \state
    transition_routine matrix_transition_\kind\()_\state\()_steady, \kind, \state, pure, TRANSITION_LONG, \state
.endm

    .text
    .irp kind, TRANSITION_KINDS
    // The reference, at both lengths; its long chain is the reference of the
    // state set before the loop too.
    transition_routine matrix_transition_\kind\()_pure_4, \kind, pure, pure, TRANSITION_SHORT, pure
    transition_routine matrix_transition_\kind\()_pure_12, \kind, pure, pure, TRANSITION_LONG, pure
    transition_routines \kind, clean
    transition_routines \kind, ymm
    transition_routines \kind, zmm
#if defined(__x86_64__)
    transition_routines \kind, zmm16
#endif
    .endr

// Every kind's routines, state by state in the order pure, clean, ymm, zmm,
// zmm16, each state's as the chain of 4 and of 12 with the state at the head
// of every iteration, then the state set before the loop; a null where the
// program has no such routine.
#if defined(__ELF__)
    .section .data.rel.ro, "aw"
#else
    .section .rdata, "dr"
#endif
.macro transition_addresses kind, state
    ADDRESS matrix_transition_\kind\()_\state\()_4, matrix_transition_\kind\()_\state\()_12
    ADDRESS matrix_transition_\kind\()_\state\()_steady
.endm
    .p2align 3
    .globl SYM(matrix_transition_routines)
SYM(matrix_transition_routines):
    .irp kind, TRANSITION_KINDS
    ADDRESS matrix_transition_\kind\()_pure_4, matrix_transition_\kind\()_pure_12, 0
    transition_addresses \kind, clean
    transition_addresses \kind, ymm
    transition_addresses \kind, zmm
#if defined(__x86_64__)
    transition_addresses \kind, zmm16
#else
    ADDRESS 0, 0, 0
#endif
    .endr

#if defined(__ELF__)
    .section .note.GNU-stack, "", @progbits
#endif
