// The timed regions of the benchmark: one routine per test, each making one
// timed run of a loop that repeats the test's body 4,096 times between two
// reads of the time-stamp counter. The frame around each loop, and what it
// may touch, is described in timed_frame.h.
//
// Placement is part of what is measured, and the listings that the program
// prints mark the 16-byte boundaries of each body. Every routine starts on a
// 64-byte boundary; the empty loop starts 16 bytes after one and every SIMD
// loop 16 bytes before one, so that body offset 16 is a 64-byte boundary and
// the loop spans two 64-byte blocks.

#include "run/timed_frame.h"

// Loop starts, as offsets from the 64-byte-aligned routine start.
#define EMPTY_LOOP_OFFSET 80    // 16 bytes after a 64-byte boundary
#define SIMD_LOOP_OFFSET 48     // 16 bytes before a 64-byte boundary

    .text

// The kernels: a load of the scratch block into XMM0, four dependent
// subtractions of XMM1..XMM4 from XMM0, and a store of XMM0 back. XMM1..XMM4
// and the scratch block are never initialised; the values do not matter.

// Test 0: integer moves, integer arithmetic.
.macro integer_moves_integer_arithmetic
    movdqa (SCRATCH_POINTER), %xmm0
    psubd %xmm1, %xmm0
    psubd %xmm2, %xmm0
    psubd %xmm3, %xmm0
    psubd %xmm4, %xmm0
    movdqa %xmm0, (SCRATCH_POINTER)
.endm

// Test 1: floating-point moves around integer arithmetic.
.macro float_moves_integer_arithmetic
    movaps (SCRATCH_POINTER), %xmm0
    psubd %xmm1, %xmm0
    psubd %xmm2, %xmm0
    psubd %xmm3, %xmm0
    psubd %xmm4, %xmm0
    movaps %xmm0, (SCRATCH_POINTER)
.endm

// Test 2: floating-point moves, floating-point arithmetic.
.macro float_moves_float_arithmetic
    movaps (SCRATCH_POINTER), %xmm0
    subps %xmm1, %xmm0
    subps %xmm2, %xmm0
    subps %xmm3, %xmm0
    subps %xmm4, %xmm0
    movaps %xmm0, (SCRATCH_POINTER)
.endm

// Test 3: the data changes type at every step of the chain.
.macro alternating_types
    movaps (SCRATCH_POINTER), %xmm0
    subps %xmm1, %xmm0
    psubd %xmm2, %xmm0
    subps %xmm3, %xmm0
    psubd %xmm4, %xmm0
    movdqa %xmm0, (SCRATCH_POINTER)
.endm

    timed_run SYM(timed_run_empty_loop), EMPTY_LOOP_OFFSET
    timed_run SYM(timed_run_integer_moves_integer_arithmetic), SIMD_LOOP_OFFSET, integer_moves_integer_arithmetic
    timed_run SYM(timed_run_float_moves_integer_arithmetic), SIMD_LOOP_OFFSET, float_moves_integer_arithmetic
    timed_run SYM(timed_run_float_moves_float_arithmetic), SIMD_LOOP_OFFSET, float_moves_float_arithmetic
    timed_run SYM(timed_run_alternating_types), SIMD_LOOP_OFFSET, alternating_types

#if defined(__ELF__)
    .section .note.GNU-stack, "", @progbits
#endif
