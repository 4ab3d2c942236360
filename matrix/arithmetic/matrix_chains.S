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
// and registers 1..7 the operands that keep it
// (matrix_chain_values), at its table's width: no chain ever meets a
// denormal, and its times do not depend on what ran before. vzeroupper comes
// first: code that ran before may have left the upper halves of the YMM
// registers in use, and then every legacy SSE instruction may merge them and
// take longer (the SSE routines can only clear them where the processor has
// AVX). After the second time stamp, each routine leaves register 0 in
// matrix_chain_result, where the tests find the chain's value, and the VEX
// and EVEX routines clear the upper halves again for the code they return to.
//
// Every routine starts on a 64-byte boundary and its loop two boundaries
// later, so that each loop starts a 64-byte block. A run is 1,024
// iterations, a quarter of the benchmark's: the difference of the two
// lengths still spans thousands of time-stamp ticks, and the matrix's
// hundreds of chains take a quarter of the time (see chain_iterations in
// chains.hpp).

#define TIMED_FRAME_ITERATIONS 0x400
#include "run/timed_frame.h"

// The classes of each table, in the order of its rows in classes.hpp.
#define SSE_CLASSES paddd, pmuludq, pand, pshufd, addps, mulps, andps, shufps, addpd, mulpd, andpd, shufpd, \
    addss, mulss, addsd, mulsd, cvtdq2ps, cvtps2dq, blendvps, pblendvb, pslld, psrlq, pcmpeqd, pcmpgtd, cmpps, \
    pminud, minps, packssdw, punpckldq, unpcklps, phaddd, haddps, pmaddwd, insertps, pextrd_eax, extractps_eax, \
    movd_eax
#define VEX256_CLASSES vpaddd, vpmuludq, vpand, vpshufd, vaddps, vmulps, vandps, vshufps, vaddpd, vmulpd, vandpd, \
    vshufpd, vfmadd231ps, vfmadd231pd, vpermps, vperm2f128, vcvtdq2ps, vpslld, vpsrlq, vpcmpeqd, vpcmpgtd, vcmpps, \
    vpminud, vminps, vpackssdw, vpunpckldq, vunpcklps, vphaddd, vhaddps, vpmaddwd, vpdpbusd, vmovd_eax, vpextrd_eax
#define EVEX512_CLASSES vpaddd, vpmuludq, vpandd, vpshufd, vaddps, vmulps, vandps, vshufps, vaddpd, vmulpd, vandpd, \
    vshufpd, vfmadd231ps, vfmadd231pd, vpermps, vshuff32x4, vcvtdq2ps, vpslld, vpsrlq, vpcmpgtd_k1, vcmpps_k1, \
    kmovw_eax, vpminud, vminps, vpackssdw, vpunpckldq, vunpcklps, vpmaddwd, vpdpbusd, vmovd_eax, vpextrd_eax
#define SHORT_CHAIN 4
#define LONG_CHAIN 12
#define CHAIN_LOOP_OFFSET 128
// One row of matrix_chain_values.
#define ROW 64

// One instruction of each class, with the operand register that keeps the
// chain's value.
.macro sse_paddd;            paddd %xmm1, %xmm0;                       .endm
.macro sse_pmuludq;          pmuludq %xmm5, %xmm0;                     .endm
.macro sse_pand;             pand %xmm2, %xmm0;                        .endm
.macro sse_pshufd;           pshufd $0x4E, %xmm0, %xmm0;               .endm
.macro sse_addps;            addps %xmm1, %xmm0;                       .endm
.macro sse_mulps;            mulps %xmm3, %xmm0;                       .endm
.macro sse_andps;            andps %xmm2, %xmm0;                       .endm
.macro sse_shufps;           shufps $0x4E, %xmm0, %xmm0;               .endm
.macro sse_addpd;            addpd %xmm1, %xmm0;                       .endm
.macro sse_mulpd;            mulpd %xmm4, %xmm0;                       .endm
.macro sse_andpd;            andpd %xmm2, %xmm0;                       .endm
.macro sse_shufpd;           shufpd $0x01, %xmm0, %xmm0;               .endm
.macro sse_addss;            addss %xmm1, %xmm0;                       .endm
.macro sse_mulss;            mulss %xmm3, %xmm0;                       .endm
.macro sse_addsd;            addsd %xmm1, %xmm0;                       .endm
.macro sse_mulsd;            mulsd %xmm4, %xmm0;                       .endm
.macro sse_cvtdq2ps;         cvtdq2ps %xmm0, %xmm0;                    .endm
.macro sse_cvtps2dq;         cvtps2dq %xmm0, %xmm0;                    .endm
// The mask is XMM0 itself, whose sign bits are clear: XMM0 is kept.
.macro sse_blendvps;         blendvps %xmm0, %xmm1, %xmm0;             .endm
// Some bytes of the value have their sign bit set: it blends with itself.
.macro sse_pblendvb;         pblendvb %xmm0, %xmm0, %xmm0;             .endm
// Shifts by zero.
.macro sse_pslld;            pslld $0, %xmm0;                          .endm
.macro sse_psrlq;            psrlq $0, %xmm0;                          .endm
// Zero is equal to no all-ones lane, greater than no zero and equal to no
// 1.0 (a quiet predicate, which no number makes invalid): zero stays.
// pcmpgtd compares with another register, since one that compares a
// register with itself is an idiom that waits for nothing.
.macro sse_pcmpeqd;          pcmpeqd %xmm2, %xmm0;                     .endm
.macro sse_pcmpgtd;          pcmpgtd %xmm1, %xmm0;                     .endm
.macro sse_cmpps;            cmpps $0, %xmm3, %xmm0;                   .endm
// The minimum with all ones, and with the value itself.
.macro sse_pminud;           pminud %xmm2, %xmm0;                      .endm
.macro sse_minps;            minps %xmm7, %xmm0;                       .endm
.macro sse_packssdw;         packssdw %xmm0, %xmm0;                    .endm
.macro sse_punpckldq;        punpckldq %xmm0, %xmm0;                   .endm
.macro sse_unpcklps;         unpcklps %xmm0, %xmm0;                    .endm
.macro sse_phaddd;           phaddd %xmm0, %xmm0;                      .endm
.macro sse_haddps;           haddps %xmm0, %xmm0;                      .endm
.macro sse_pmaddwd;          pmaddwd %xmm2, %xmm0;                     .endm
// Lane 0 into lane 2, which holds the same doubleword.
.macro sse_insertps;         insertps $0x20, %xmm0, %xmm0;             .endm
// The round trips through EAX: out of the vector register and back into it,
// the next step waiting for both.
.macro sse_pextrd_eax;       pextrd $1, %xmm0, %eax; pinsrd $1, %eax, %xmm0; .endm
.macro sse_extractps_eax;    extractps $1, %xmm0, %eax; pinsrd $1, %eax, %xmm0; .endm
.macro sse_movd_eax;         movd %xmm0, %eax; movd %eax, %xmm0;       .endm

.macro vex256_vpaddd;        vpaddd %ymm1, %ymm0, %ymm0;               .endm
.macro vex256_vpmuludq;      vpmuludq %ymm5, %ymm0, %ymm0;             .endm
.macro vex256_vpand;         vpand %ymm2, %ymm0, %ymm0;                .endm
.macro vex256_vpshufd;       vpshufd $0x4E, %ymm0, %ymm0;              .endm
.macro vex256_vaddps;        vaddps %ymm1, %ymm0, %ymm0;               .endm
.macro vex256_vmulps;        vmulps %ymm3, %ymm0, %ymm0;               .endm
.macro vex256_vandps;        vandps %ymm2, %ymm0, %ymm0;               .endm
.macro vex256_vshufps;       vshufps $0x4E, %ymm0, %ymm0, %ymm0;       .endm
.macro vex256_vaddpd;        vaddpd %ymm1, %ymm0, %ymm0;               .endm
.macro vex256_vmulpd;        vmulpd %ymm4, %ymm0, %ymm0;               .endm
.macro vex256_vandpd;        vandpd %ymm2, %ymm0, %ymm0;               .endm
.macro vex256_vshufpd;       vshufpd $0x05, %ymm0, %ymm0, %ymm0;       .endm
// Zero times one, added to the chain's value.
.macro vex256_vfmadd231ps;   vfmadd231ps %ymm1, %ymm3, %ymm0;          .endm
.macro vex256_vfmadd231pd;   vfmadd231pd %ymm1, %ymm4, %ymm0;          .endm
.macro vex256_vpermps;       vpermps %ymm0, %ymm6, %ymm0;              .endm
.macro vex256_vperm2f128;    vperm2f128 $0x01, %ymm0, %ymm0, %ymm0;    .endm
.macro vex256_vcvtdq2ps;     vcvtdq2ps %ymm0, %ymm0;                   .endm
// The same data as the SSE classes', at 256 bits.
.macro vex256_vpslld;        vpslld $0, %ymm0, %ymm0;                  .endm
.macro vex256_vpsrlq;        vpsrlq $0, %ymm0, %ymm0;                  .endm
.macro vex256_vpcmpeqd;      vpcmpeqd %ymm2, %ymm0, %ymm0;             .endm
.macro vex256_vpcmpgtd;      vpcmpgtd %ymm1, %ymm0, %ymm0;             .endm
.macro vex256_vcmpps;        vcmpps $0, %ymm3, %ymm0, %ymm0;           .endm
.macro vex256_vpminud;       vpminud %ymm2, %ymm0, %ymm0;              .endm
.macro vex256_vminps;        vminps %ymm7, %ymm0, %ymm0;               .endm
.macro vex256_vpackssdw;     vpackssdw %ymm0, %ymm0, %ymm0;            .endm
.macro vex256_vpunpckldq;    vpunpckldq %ymm0, %ymm0, %ymm0;           .endm
.macro vex256_vunpcklps;     vunpcklps %ymm0, %ymm0, %ymm0;            .endm
.macro vex256_vphaddd;       vphaddd %ymm0, %ymm0, %ymm0;              .endm
.macro vex256_vhaddps;       vhaddps %ymm0, %ymm0, %ymm0;              .endm
.macro vex256_vpmaddwd;      vpmaddwd %ymm2, %ymm0, %ymm0;             .endm
// Zero bytes times all-ones bytes, added to the chain's value; the VEX form,
// AVX-VNNI's.
.macro vex256_vpdpbusd;      {vex} vpdpbusd %ymm2, %ymm1, %ymm0;       .endm
// VEX.128 forms, as compilers emit them for the low 128 bits; the way back
// clears the upper half, so these chains run on zeros.
.macro vex256_vmovd_eax;     vmovd %xmm0, %eax; vmovd %eax, %xmm0;     .endm
.macro vex256_vpextrd_eax;   vpextrd $1, %xmm0, %eax; vpinsrd $1, %eax, %xmm0, %xmm0; .endm

.macro evex512_vpaddd;       vpaddd %zmm1, %zmm0, %zmm0;               .endm
.macro evex512_vpmuludq;     vpmuludq %zmm5, %zmm0, %zmm0;             .endm
.macro evex512_vpandd;       vpandd %zmm2, %zmm0, %zmm0;               .endm
.macro evex512_vpshufd;      vpshufd $0x4E, %zmm0, %zmm0;              .endm
.macro evex512_vaddps;       vaddps %zmm1, %zmm0, %zmm0;               .endm
.macro evex512_vmulps;       vmulps %zmm3, %zmm0, %zmm0;               .endm
.macro evex512_vandps;       vandps %zmm2, %zmm0, %zmm0;               .endm
.macro evex512_vshufps;      vshufps $0x4E, %zmm0, %zmm0, %zmm0;       .endm
.macro evex512_vaddpd;       vaddpd %zmm1, %zmm0, %zmm0;               .endm
.macro evex512_vmulpd;       vmulpd %zmm4, %zmm0, %zmm0;               .endm
.macro evex512_vandpd;       vandpd %zmm2, %zmm0, %zmm0;               .endm
.macro evex512_vshufpd;      vshufpd $0x55, %zmm0, %zmm0, %zmm0;       .endm
.macro evex512_vfmadd231ps;  vfmadd231ps %zmm1, %zmm3, %zmm0;          .endm
.macro evex512_vfmadd231pd;  vfmadd231pd %zmm1, %zmm4, %zmm0;          .endm
.macro evex512_vpermps;      vpermps %zmm0, %zmm6, %zmm0;              .endm
.macro evex512_vshuff32x4;   vshuff32x4 $0x4E, %zmm0, %zmm0, %zmm0;    .endm
.macro evex512_vcvtdq2ps;    vcvtdq2ps %zmm0, %zmm0;                   .endm
.macro evex512_vpslld;       vpslld $0, %zmm0, %zmm0;                  .endm
.macro evex512_vpsrlq;       vpsrlq $0, %zmm0, %zmm0;                  .endm
// The compares into k1, from the vector domain into the masks, and back by
// a masked add of zero that waits for k1 and the value: the value is
// greater than zero in every lane, as an integer and as a single (a quiet
// predicate), so every lane adds; a chain on zeros adds in none and keeps
// them too. kmovw takes the mask through EAX and back on the way.
.macro evex512_vpcmpgtd_k1;  vpcmpgtd %zmm1, %zmm0, %k1; vpaddd %zmm1, %zmm0, %zmm0{%k1}; .endm
.macro evex512_vcmpps_k1;    vcmpps $0x1E, %zmm1, %zmm0, %k1; vaddps %zmm1, %zmm0, %zmm0{%k1}; .endm
.macro evex512_kmovw_eax
    vpcmpgtd %zmm1, %zmm0, %k1
    kmovw %k1, %eax
    kmovw %eax, %k1
    vpaddd %zmm1, %zmm0, %zmm0{%k1}
.endm
.macro evex512_vpminud;      vpminud %zmm2, %zmm0, %zmm0;              .endm
.macro evex512_vminps;       vminps %zmm7, %zmm0, %zmm0;               .endm
.macro evex512_vpackssdw;    vpackssdw %zmm0, %zmm0, %zmm0;            .endm
.macro evex512_vpunpckldq;   vpunpckldq %zmm0, %zmm0, %zmm0;           .endm
.macro evex512_vunpcklps;    vunpcklps %zmm0, %zmm0, %zmm0;            .endm
.macro evex512_vpmaddwd;     vpmaddwd %zmm2, %zmm0, %zmm0;             .endm
.macro evex512_vpdpbusd;     vpdpbusd %zmm2, %zmm1, %zmm0;             .endm
// The VEX.128 forms, as for YMM: they clear everything above the lowest 128
// bits of ZMM0.
.macro evex512_vmovd_eax;    vmovd %xmm0, %eax; vmovd %eax, %xmm0;     .endm
.macro evex512_vpextrd_eax;  vpextrd $1, %xmm0, %eax; vpinsrd $1, %eax, %xmm0, %xmm0; .endm

// The classes that keep no value but zero, whose chains run on zeros: the
// conversions, and those marked so in classes.hpp.
.set sse_cvtdq2ps_from_zero, 1
.set sse_cvtps2dq_from_zero, 1
.irp name, pcmpeqd, pcmpgtd, cmpps, packssdw, punpckldq, unpcklps, phaddd, haddps, pmaddwd, movd_eax
.set sse_\name\()_from_zero, 1
.endr
.set vex256_vcvtdq2ps_from_zero, 1
.irp name, vpcmpeqd, vpcmpgtd, vcmpps, vpackssdw, vpunpckldq, vunpcklps, vphaddd, vhaddps, vpmaddwd, vmovd_eax, \
    vpextrd_eax
.set vex256_\name\()_from_zero, 1
.endr
.set evex512_vcvtdq2ps_from_zero, 1
.irp name, vpackssdw, vpunpckldq, vunpcklps, vpmaddwd, vmovd_eax, vpextrd_eax
.set evex512_\name\()_from_zero, 1
.endr

// Sets `value_row` to the row that register 0 starts from: 1, zero, where
// either class converts, else 0, the chain's value.
.macro value_row table, first, second
    .set value_row, 0
    .ifdef \table\()_\first\()_from_zero
    .set value_row, 1
    .endif
    .ifdef \table\()_\second\()_from_zero
    .set value_row, 1
    .endif
.endm

// Loads register 0 from row `value_row` and registers 1 to 7 from their own
// rows, with `move` at the width of `name` (xmm, ymm or zmm).
.macro load_rows move, name
    \move DATA(matrix_chain_values, value_row * ROW), %\name\()0
    .irp reg, 1, 2, 3, 4, 5, 6, 7
    \move DATA(matrix_chain_values, \reg * ROW), %\name\()\reg
    .endr
.endm

// The registers as a chain starts, and register 0 stored as it ends.
.macro load_sse
    cmpb $0, DATA(avx_usable, 0)
    je 1f
    vzeroupper
1:
    load_rows movaps, xmm
.endm
.macro store_sse
    movaps %xmm0, DATA(matrix_chain_result, 0)
.endm

// The VEX and EVEX routines: vzeroupper first, and again after the store.
.macro load_wide name
    vzeroupper
    load_rows vmovaps, \name
.endm
.macro store_wide name
    vmovaps %\name\()0, DATA(matrix_chain_result, 0)
    vzeroupper
.endm
.macro load_vex256;   load_wide ymm;   .endm
.macro store_vex256;  store_wide ymm;  .endm
.macro load_evex512;  load_wide zmm;   .endm
.macro store_evex512; store_wide zmm;  .endm

// `length` instructions, the two classes in turn; the same class twice makes
// the chain of that class alone.
.macro chain_body table, first, second, length
    .rept \length / 2
    \table\()_\first
    \table\()_\second
    .endr
.endm

.macro chain_routine table, name, first, second, length
    .p2align 6
\name:
    value_row \table, \first, \second
    load_\table
    timed_frame \name, CHAIN_LOOP_OFFSET, chain_body, \table, \first, \second, \length
    store_\table
    ret
.endm

// Calls `action table, first, second` for every unordered pair of the
// classes, the same class twice included, in the order of the rows of a
// triangle: the first class's pairs, then the second's from itself on, and
// so on.
.macro each_chain action, table, classes:vararg
    .set first_index, 0
    .irp first, \classes
    .set second_index, 0
    .irp second, \classes
    .if second_index >= first_index
    \action \table, \first, \second
    .endif
    .set second_index, second_index + 1
    .endr
    .set first_index, first_index + 1
    .endr
.endm

.macro both_routines table, first, second
    chain_routine \table, matrix_\table\()_\first\()_\second\()_short, \first, \second, SHORT_CHAIN
    chain_routine \table, matrix_\table\()_\first\()_\second\()_long, \first, \second, LONG_CHAIN
.endm

.macro both_addresses table, first, second
    ADDRESS matrix_\table\()_\first\()_\second\()_short, matrix_\table\()_\first\()_\second\()_long
.endm

    .text
    each_chain both_routines, sse, SSE_CLASSES
    each_chain both_routines, vex256, VEX256_CLASSES
    each_chain both_routines, evex512, EVEX512_CLASSES

// The routines of every chain of a table, short and long, in the same order.
.macro routine_table table, classes:vararg
    .p2align 3
    .globl SYM(matrix_\table\()_routines)
SYM(matrix_\table\()_routines):
    each_chain both_addresses, \table, \classes
.endm

#if defined(__ELF__)
    .section .data.rel.ro, "aw"
#else
    .section .rdata, "dr"
#endif
    routine_table sse, SSE_CLASSES
    routine_table vex256, VEX256_CLASSES
    routine_table evex512, EVEX512_CLASSES

#if defined(__ELF__)
    .section .note.GNU-stack, "", @progbits
#endif
