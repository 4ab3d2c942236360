// The chains of the data-movement tables: dependent chains whose every step
// stores the chain's value to memory and loads it back, so that each step
// waits for the store before it. There are two tables for each encoding
// (legacy SSE on XMM, VEX.256 on YMM, EVEX.512 on ZMM; see
// movement_forms.hpp):
//
// - types: store register 0 with one move form, load it back into register 0
//   with another (integer, single or double; aligned or unaligned), then
//   subtract register 1, which holds zero, as integers or as singles;
// - widths: store register 0 whole, in parts, or through EDX, load it back
//   whole, in part or through EDX into register 2, and OR register 2 into
//   register 0.
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
//
// Every routine starts on a 64-byte boundary and its loop two boundaries
// later. The longest loop, sixteen stores of EDX twice over on ZMM, is longer
// than a short jump reaches and ends in a near jne.

#include "run/timed_frame.h"

#define MOVEMENT_LOOP_OFFSET 128
#define SHORT_STEPS 1
#define LONG_STEPS 2
#define ROW 64

#if defined(__x86_64__)
#  define SLOT %rbx
#else
#  define SLOT %ebx
#endif

// The move forms of the types tables, as stores of register 0 and loads into
// it, and their subtractions; in the order of movement_forms.hpp.
#define SSE_MOVES movdqa, movdqu, movaps, movups, movapd, movupd
#define VEX256_MOVES vmovdqa, vmovdqu, vmovaps, vmovups, vmovapd, vmovupd
#define EVEX512_MOVES vmovdqa32, vmovdqu32, vmovaps, vmovups, vmovapd, vmovupd
#define SSE_SUBTRACTIONS psubd, subps
#define VEX256_SUBTRACTIONS vpsubd, vsubps
#define EVEX512_SUBTRACTIONS vpsubd, vsubps

.macro type_store_sse move;      \move %xmm0, (SLOT);                 .endm
.macro type_load_sse move;       \move (SLOT), %xmm0;                 .endm
.macro type_store_vex256 move;   \move %ymm0, (SLOT);                 .endm
.macro type_load_vex256 move;    \move (SLOT), %ymm0;                 .endm
.macro type_store_evex512 move;  \move %zmm0, (SLOT);                 .endm
.macro type_load_evex512 move;   \move (SLOT), %zmm0;                 .endm
.macro subtract_sse op;          \op %xmm1, %xmm0;                    .endm
.macro subtract_vex256 op;       \op %ymm1, %ymm0, %ymm0;             .endm
.macro subtract_evex512 op;      \op %zmm1, %zmm0, %zmm0;             .endm

// `count` stores of EDX, 4 bytes apart from the slot's start.
.macro edx_stores count
    .set edx_offset, 0
    .rept \count
    .if edx_offset == 0
    mov %edx, (SLOT)
    .else
    mov %edx, edx_offset(SLOT)
    .endif
    .set edx_offset, edx_offset + 4
    .endr
.endm

// The widths tables' stores and loads, by kind, in the order of
// movement_forms.hpp: whole, halves, quarters, EDX over the whole register,
// the low 32 bits, EDX in the low 32 bits; and whole, low half, high half,
// the 32-bit lane below the middle, the low 32 bits, EDX from the low 32
// bits. Every lane of register 0 holds the same value, so the low part
// stored twice or four times is the whole register.
.macro width_store_sse_whole;     movdqa %xmm0, (SLOT);                        .endm
.macro width_store_sse_halves;    movq %xmm0, (SLOT); movq %xmm0, 8(SLOT);     .endm
.macro width_store_sse_quarters
    movd %xmm0, (SLOT); movd %xmm0, 4(SLOT); movd %xmm0, 8(SLOT); movd %xmm0, 12(SLOT)
.endm
.macro width_store_sse_edx;       movd %xmm0, %edx; edx_stores 4;              .endm
.macro width_store_sse_low32;     movd %xmm0, (SLOT);                          .endm
.macro width_store_sse_edx32;     movd %xmm0, %edx; edx_stores 1;              .endm
.macro width_load_sse_whole;      movdqa (SLOT), %xmm2;                        .endm
.macro width_load_sse_low;        movq (SLOT), %xmm2;                          .endm
.macro width_load_sse_high;       movq 8(SLOT), %xmm2;                         .endm
.macro width_load_sse_lane;       movd 4(SLOT), %xmm2;                         .endm
.macro width_load_sse_low32;      movd (SLOT), %xmm2;                          .endm
.macro width_load_sse_edx32;      mov (SLOT), %edx; movd %edx, %xmm2;          .endm
.macro merge_sse;                 por %xmm2, %xmm0;                            .endm

.macro width_store_vex256_whole;  vmovdqa %ymm0, (SLOT);                       .endm
.macro width_store_vex256_halves; vmovdqa %xmm0, (SLOT); vmovdqa %xmm0, 16(SLOT); .endm
.macro width_store_vex256_quarters
    vmovq %xmm0, (SLOT); vmovq %xmm0, 8(SLOT); vmovq %xmm0, 16(SLOT); vmovq %xmm0, 24(SLOT)
.endm
.macro width_store_vex256_edx;    vmovd %xmm0, %edx; edx_stores 8;             .endm
.macro width_store_vex256_low32;  vmovd %xmm0, (SLOT);                         .endm
.macro width_store_vex256_edx32;  vmovd %xmm0, %edx; edx_stores 1;             .endm
.macro width_load_vex256_whole;   vmovdqa (SLOT), %ymm2;                       .endm
.macro width_load_vex256_low;     vmovdqa (SLOT), %xmm2;                       .endm
.macro width_load_vex256_high;    vmovdqa 16(SLOT), %xmm2;                     .endm
.macro width_load_vex256_lane;    vmovd 12(SLOT), %xmm2;                       .endm
.macro width_load_vex256_low32;   vmovd (SLOT), %xmm2;                         .endm
.macro width_load_vex256_edx32;   mov (SLOT), %edx; vmovd %edx, %xmm2;         .endm
.macro merge_vex256;              vpor %ymm2, %ymm0, %ymm0;                    .endm

// On ZMM every narrow move is EVEX: register 0 holds 512 bits, and a VEX
// move beside them meets a dirty ZMM upper half, which some cores charge
// for; EVEX leaves the state as it is. The VEX load of the high half stays
// as a load of its own, to show what that state costs beside forwarding.
.macro width_store_evex512_whole;  vmovdqa32 %zmm0, (SLOT);                    .endm
.macro width_store_evex512_halves; vmovdqa32 %ymm0, (SLOT); vmovdqa32 %ymm0, 32(SLOT); .endm
.macro width_store_evex512_quarters
    vmovdqa32 %xmm0, (SLOT); vmovdqa32 %xmm0, 16(SLOT); vmovdqa32 %xmm0, 32(SLOT); vmovdqa32 %xmm0, 48(SLOT)
.endm
.macro width_store_evex512_edx;    {evex} vmovd %xmm0, %edx; edx_stores 16;    .endm
.macro width_store_evex512_low32;  {evex} vmovd %xmm0, (SLOT);                 .endm
.macro width_store_evex512_edx32;  {evex} vmovd %xmm0, %edx; edx_stores 1;     .endm
.macro width_load_evex512_whole;   vmovdqa32 (SLOT), %zmm2;                    .endm
.macro width_load_evex512_low;     vmovdqa32 (SLOT), %ymm2;                    .endm
.macro width_load_evex512_high;    vmovdqa32 32(SLOT), %ymm2;                  .endm
.macro width_load_evex512_lane;    {evex} vmovd 28(SLOT), %xmm2;               .endm
.macro width_load_evex512_low32;   {evex} vmovd (SLOT), %xmm2;                 .endm
.macro width_load_evex512_edx32;   mov (SLOT), %edx; {evex} vmovd %edx, %xmm2; .endm
.macro width_load_evex512_vexhigh; vmovdqa 32(SLOT), %ymm2;                    .endm
.macro merge_evex512;              vpord %zmm2, %zmm0, %zmm0;                  .endm

// The cells of every widths table, store kind then load kind: the whole
// store with every load, every store with the whole load, and the 32-bit
// stores with the 32-bit loads.
.macro each_width action, table
    \action \table, whole, whole
    \action \table, whole, low
    \action \table, whole, high
    \action \table, whole, lane
    \action \table, whole, low32
    \action \table, whole, edx32
    \action \table, halves, whole
    \action \table, quarters, whole
    \action \table, edx, whole
    \action \table, low32, low32
    \action \table, low32, edx32
    \action \table, edx32, low32
    \action \table, edx32, edx32
.endm

// The ZMM table's cells: every widths table's, then the whole store loaded
// by the VEX move of the high half.
.macro each_width_evex512 action, table
    each_width \action, \table
    \action \table, whole, vexhigh
.endm

// One step of a chain, `steps` times.
.macro types_body table, store, load, subtraction, steps
    .rept \steps
    type_store_\table \store
    type_load_\table \load
    subtract_\table \subtraction
    .endr
.endm
.macro widths_body table, store, load, steps
    .rept \steps
    width_store_\table\()_\store
    width_load_\table\()_\load
    merge_\table
    .endr
.endm

// Loads register `reg` from row `row` of matrix_chain_values at the table's
// width.
.macro value_sse reg, row;      movaps DATA(matrix_chain_values, \row * ROW), %xmm\reg;  .endm
.macro value_vex256 reg, row;   vmovaps DATA(matrix_chain_values, \row * ROW), %ymm\reg; .endm
.macro value_evex512 reg, row;  vmovaps DATA(matrix_chain_values, \row * ROW), %zmm\reg; .endm

.macro clean_sse
    cmpb $0, DATA(avx_usable, 0)
    je 1f
    vzeroupper
1:
.endm
.macro clean_vex256;   vzeroupper;  .endm
.macro clean_evex512;  vzeroupper;  .endm
.macro result_sse;     movaps %xmm0, DATA(matrix_chain_result, 0);               .endm
.macro result_vex256;  vmovaps %ymm0, DATA(matrix_chain_result, 0); vzeroupper;  .endm
.macro result_evex512; vmovaps %zmm0, DATA(matrix_chain_result, 0); vzeroupper;  .endm

.macro slot_pointer
    push SLOT
#if defined(__x86_64__)
    lea SYM(movement_slot)(%rip), SLOT
#else
    mov $SYM(movement_slot), SLOT
#endif
.endm

.macro types_routine table, name, store, load, subtraction, steps
    .p2align 6
\name:
    slot_pointer
    clean_\table
    value_\table 0, 0
    value_\table 1, 1
    timed_frame \name, MOVEMENT_LOOP_OFFSET, types_body, \table, \store, \load, \subtraction, \steps
    result_\table
    pop SLOT
    ret
.endm

.macro widths_routine table, name, store, load, steps
    .p2align 6
\name:
    slot_pointer
    clean_\table
    value_\table 0, 3
    timed_frame \name, MOVEMENT_LOOP_OFFSET, widths_body, \table, \store, \load, \steps
    result_\table
    pop SLOT
    ret
.endm

// Calls `action table, store, load, subtraction` for every subtraction, and
// within it every store form, and within that every load form.
// Calls `action table, store, load, subtraction` for each of the two
// subtractions, and within it every store form, and within that every load
// form.
.macro each_type action, table, integer, single, moves:vararg
    .irp subtraction, \integer, \single
    .irp store, \moves
    .irp load, \moves
    \action \table, \store, \load, \subtraction
    .endr
    .endr
    .endr
.endm

.macro types_routines table, store, load, subtraction
    types_routine \table, movement_\table\()_\store\()_\load\()_\subtraction\()_short, \store, \load, \subtraction, SHORT_STEPS
    types_routine \table, movement_\table\()_\store\()_\load\()_\subtraction\()_long, \store, \load, \subtraction, LONG_STEPS
.endm
.macro types_addresses table, store, load, subtraction
    ADDRESS movement_\table\()_\store\()_\load\()_\subtraction\()_short
    ADDRESS movement_\table\()_\store\()_\load\()_\subtraction\()_long
.endm
.macro widths_routines table, store, load
    widths_routine \table, movement_\table\()_width_\store\()_\load\()_short, \store, \load, SHORT_STEPS
    widths_routine \table, movement_\table\()_width_\store\()_\load\()_long, \store, \load, LONG_STEPS
.endm
.macro widths_addresses table, store, load
    ADDRESS movement_\table\()_width_\store\()_\load\()_short, movement_\table\()_width_\store\()_\load\()_long
.endm

    .text
    each_type types_routines, sse, SSE_SUBTRACTIONS, SSE_MOVES
    each_type types_routines, vex256, VEX256_SUBTRACTIONS, VEX256_MOVES
    each_type types_routines, evex512, EVEX512_SUBTRACTIONS, EVEX512_MOVES
    each_width widths_routines, sse
    each_width widths_routines, vex256
    each_width_evex512 widths_routines, evex512

// Each table's routines, short and long, in the order of its cells.
.macro routine_table name, each, action, table, list:vararg
    .p2align 3
    .globl SYM(\name)
SYM(\name):
    \each \action, \table, \list
.endm

#if defined(__ELF__)
    .section .data.rel.ro, "aw"
#else
    .section .rdata, "dr"
#endif
    routine_table movement_sse_types_routines, each_type, types_addresses, sse, SSE_SUBTRACTIONS, SSE_MOVES
    routine_table movement_vex256_types_routines, each_type, types_addresses, vex256, VEX256_SUBTRACTIONS, VEX256_MOVES
    routine_table movement_evex512_types_routines, each_type, types_addresses, evex512, EVEX512_SUBTRACTIONS, EVEX512_MOVES
    routine_table movement_sse_widths_routines, each_width, widths_addresses, sse
    routine_table movement_vex256_widths_routines, each_width, widths_addresses, vex256
    routine_table movement_evex512_widths_routines, each_width_evex512, widths_addresses, evex512

#if defined(__ELF__)
    .section .note.GNU-stack, "", @progbits
#endif
