// The benchmark's own five timed routines, each called with its inputs set,
// so that simd-mix-clock can time them in windows beside the ruler and give
// their cost in core cycles of the same moment.
//
// The benchmark never initialises XMM1..XMM4 or its scratch block. Here
// they are seeded before every run: the scratch block with four singles
// of 1.0, XMM1..XMM4 with zero, which every subtraction of the kernels, of
// integers or of singles, takes away without changing the value. So no run
// ever meets a denormal or a NaN, whatever ran before, and the value stays
// 1.0 through all 4,096 iterations. Where the processor has AVX, vzeroupper
// first clears the upper halves of the YMM registers, as for the matrix.
//
// Each routine calls the benchmark's routine itself: the bytes timed are the
// bytes the benchmark runs, at the same addresses. After the call, XMM0 (the
// value the last iteration stored) goes to benchmark_loop_result, where the
// tests find the seed again.

#include "run/timed_frame.h"

#if defined(__x86_64__)
#  define RETURN_ADDRESS_SIZE 8
#else
#  define RETURN_ADDRESS_SIZE 4
#endif

    .text

.macro seeded_loop name, routine
    .p2align 4
    .globl SYM(\name)
    ROUTINE_TYPE(SYM(\name))
SYM(\name):
    cmpb $0, DATA(avx_usable, 0)
    je 1f
    vzeroupper
1:
    movaps DATA(benchmark_loop_values, 0), %xmm0
    // The scratch block the routine will point at, once the call has pushed
    // the return address: 80..111 bytes below its stack pointer, 32-byte
    // aligned, and so below this routine's own.
    mov STACK_POINTER, SCRATCH_POINTER
    sub $(0x50 + RETURN_ADDRESS_SIZE), SCRATCH_POINTER
    and $0xE0, %al
    movaps %xmm0, (SCRATCH_POINTER)
    movaps DATA(benchmark_loop_values, 16), %xmm1
    movaps DATA(benchmark_loop_values, 32), %xmm2
    movaps DATA(benchmark_loop_values, 48), %xmm3
    movaps DATA(benchmark_loop_values, 64), %xmm4
    call SYM(\routine)
    movaps %xmm0, DATA(benchmark_loop_result, 0)
    ret
    ROUTINE_SIZE(SYM(\name))
.endm

    seeded_loop seeded_run_empty_loop, timed_run_empty_loop
    seeded_loop seeded_run_integer_moves_integer_arithmetic, timed_run_integer_moves_integer_arithmetic
    seeded_loop seeded_run_float_moves_integer_arithmetic, timed_run_float_moves_integer_arithmetic
    seeded_loop seeded_run_float_moves_float_arithmetic, timed_run_float_moves_float_arithmetic
    seeded_loop seeded_run_alternating_types, timed_run_alternating_types

#if defined(__ELF__)
    .section .note.GNU-stack, "", @progbits
#endif
