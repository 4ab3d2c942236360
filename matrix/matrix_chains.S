// The chains of the penalty matrix: for every class, a dependent chain of
// that class alone, and for every unordered pair of classes, a chain that
// alternates them. Each chain comes at two lengths, 4 and 12 instructions per
// iteration of the benchmark's timed frame, so that the difference of their
// times is the extra instructions' alone, the frame cancelled.
//
// Every instruction computes XMM0 from XMM0, so each one waits for the one
// before, and a chain runs at the latency of its instructions plus whatever
// a hand-over between two classes costs. Before the first time stamp, each
// routine gives XMM0 the chain's value and XMM1..XMM5 the operands that keep
// it (matrix_chain_values): no chain ever meets a denormal, and its times do
// not depend on what ran before. Where the processor has AVX, vzeroupper
// first clears the upper halves of the YMM registers: code that ran before
// may have left them in use, and then every legacy SSE instruction merges
// them and takes a cycle longer. After the second time stamp, each routine
// leaves XMM0 in matrix_chain_result, where the tests find the chain's value.
//
// Every routine starts on a 64-byte boundary and its loop two boundaries
// later, so that each loop (at most 65 bytes) starts a 64-byte block.

#include "run/timed_frame.h"

// The classes in the order of the matrix's table, instruction_classes.
#define MATRIX_CLASSES paddd, pmuludq, pand, pshufd, addps, mulps, andps, shufps, addpd, mulpd, andpd, shufpd
#define SHORT_CHAIN 4
#define LONG_CHAIN 12
#define CHAIN_LOOP_OFFSET 128

// One instruction of each class, with the operand register that keeps the
// chain's value.
.macro class_paddd;   paddd %xmm1, %xmm0;           .endm
.macro class_pmuludq; pmuludq %xmm5, %xmm0;         .endm
.macro class_pand;    pand %xmm2, %xmm0;            .endm
.macro class_pshufd;  pshufd $0x4E, %xmm0, %xmm0;   .endm
.macro class_addps;   addps %xmm1, %xmm0;           .endm
.macro class_mulps;   mulps %xmm3, %xmm0;           .endm
.macro class_andps;   andps %xmm2, %xmm0;           .endm
.macro class_shufps;  shufps $0x4E, %xmm0, %xmm0;   .endm
.macro class_addpd;   addpd %xmm1, %xmm0;           .endm
.macro class_mulpd;   mulpd %xmm4, %xmm0;           .endm
.macro class_andpd;   andpd %xmm2, %xmm0;           .endm
.macro class_shufpd;  shufpd $0x01, %xmm0, %xmm0;   .endm

// `length` instructions, the two classes in turn; the same class twice makes
// the chain of that class alone.
.macro chain_body first, second, length
    .rept \length / 2
    class_\first
    class_\second
    .endr
.endm

.macro chain_routine name, first, second, length
    .p2align 6
\name:
    cmpb $0, DATA(avx_usable, 0)
    je 1f
    vzeroupper
1:
    movaps DATA(matrix_chain_values, 0), %xmm0
    movaps DATA(matrix_chain_values, 16), %xmm1
    movaps DATA(matrix_chain_values, 32), %xmm2
    movaps DATA(matrix_chain_values, 48), %xmm3
    movaps DATA(matrix_chain_values, 64), %xmm4
    movaps DATA(matrix_chain_values, 80), %xmm5
    timed_frame \name, CHAIN_LOOP_OFFSET, chain_body, \first, \second, \length
    movaps %xmm0, DATA(matrix_chain_result, 0)
    ret
.endm

// Calls `action first, second` for every unordered pair of classes, the
// same class twice included, in the order of the rows of a triangle: the
// first class's pairs, then the second's from itself on, and so on.
.macro each_chain action
    .set first_index, 0
    .irp first, MATRIX_CLASSES
    .set second_index, 0
    .irp second, MATRIX_CLASSES
    .if second_index >= first_index
    \action \first, \second
    .endif
    .set second_index, second_index + 1
    .endr
    .set first_index, first_index + 1
    .endr
.endm

.macro both_routines first, second
    chain_routine matrix_\first\()_\second\()_short, \first, \second, SHORT_CHAIN
    chain_routine matrix_\first\()_\second\()_long, \first, \second, LONG_CHAIN
.endm

.macro both_addresses first, second
    ADDRESS matrix_\first\()_\second\()_short, matrix_\first\()_\second\()_long
.endm

    .text
    each_chain both_routines

// The routines of every chain, short and long, in the same order.
#if defined(__ELF__)
    .section .data.rel.ro, "aw"
#else
    .section .rdata, "dr"
#endif
    .p2align 3
    .globl SYM(matrix_chain_routines)
SYM(matrix_chain_routines):
    each_chain both_addresses

#if defined(__ELF__)
    .section .note.GNU-stack, "", @progbits
#endif
