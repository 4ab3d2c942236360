#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "matrix/chain_windows.hpp"
#include "matrix/families.hpp"
#include "matrix/features.hpp"
#include "run/kernels.hpp"

// The data-movement tables: for each encoding (legacy SSE on XMM, VEX.256 on
// YMM, EVEX.512 on ZMM), a types table, whose chains store the chain's value
// with one move form, load it back with another and subtract zero from it,
// and a widths table, whose chains store it whole, in parts or through EDX
// and load it back whole, in part or through EDX, then OR what they loaded
// into it. Every step goes through movement_slot, which EBX points at, so
// that the bytes of a step are the same in 32-bit and 64-bit code; only
// registers 0 to 2 and EDX are used. The chains are built from these forms
// (movement_routines.cpp), and the tests read every routine back against
// this table.

// clang-format off
inline constexpr InstructionForm sse_movdqa_store {{{0x66, 0x0F, 0x7F, 0x03}, 4}, "# move aligned double quadword (integer; SSE2)",
    "# movdqa RAM[ebx], xmm0"};
inline constexpr InstructionForm sse_movdqa_load {{{0x66, 0x0F, 0x6F, 0x03}, 4}, "# move aligned double quadword (integer; SSE2)",
    "# movdqa xmm0, RAM[ebx]"};
inline constexpr InstructionForm sse_movdqu_store {{{0xF3, 0x0F, 0x7F, 0x03}, 4}, "# move unaligned double quadword (integer; SSE2)",
    "# movdqu RAM[ebx], xmm0"};
inline constexpr InstructionForm sse_movdqu_load {{{0xF3, 0x0F, 0x6F, 0x03}, 4}, "# move unaligned double quadword (integer; SSE2)",
    "# movdqu xmm0, RAM[ebx]"};
inline constexpr InstructionForm sse_movaps_store {{{0x0F, 0x29, 0x03}, 3}, "# move aligned packed single-precision floating-point values (floating point; SSE)",
    "# movaps RAM[ebx], xmm0"};
inline constexpr InstructionForm sse_movaps_load {{{0x0F, 0x28, 0x03}, 3}, "# move aligned packed single-precision floating-point values (floating point; SSE)",
    "# movaps xmm0, RAM[ebx]"};
inline constexpr InstructionForm sse_movups_store {{{0x0F, 0x11, 0x03}, 3}, "# move unaligned packed single-precision floating-point values (floating point; SSE)",
    "# movups RAM[ebx], xmm0"};
inline constexpr InstructionForm sse_movups_load {{{0x0F, 0x10, 0x03}, 3}, "# move unaligned packed single-precision floating-point values (floating point; SSE)",
    "# movups xmm0, RAM[ebx]"};
inline constexpr InstructionForm sse_movapd_store {{{0x66, 0x0F, 0x29, 0x03}, 4}, "# move aligned packed double-precision floating-point values (floating point; SSE2)",
    "# movapd RAM[ebx], xmm0"};
inline constexpr InstructionForm sse_movapd_load {{{0x66, 0x0F, 0x28, 0x03}, 4}, "# move aligned packed double-precision floating-point values (floating point; SSE2)",
    "# movapd xmm0, RAM[ebx]"};
inline constexpr InstructionForm sse_movupd_store {{{0x66, 0x0F, 0x11, 0x03}, 4}, "# move unaligned packed double-precision floating-point values (floating point; SSE2)",
    "# movupd RAM[ebx], xmm0"};
inline constexpr InstructionForm sse_movupd_load {{{0x66, 0x0F, 0x10, 0x03}, 4}, "# move unaligned packed double-precision floating-point values (floating point; SSE2)",
    "# movupd xmm0, RAM[ebx]"};
inline constexpr InstructionForm vex_vmovdqa_store {{{0xC5, 0xFD, 0x7F, 0x03}, 4}, "# move aligned double quadword (integer; AVX)",
    "# vmovdqa RAM[ebx], ymm0"};
inline constexpr InstructionForm vex_vmovdqa_load {{{0xC5, 0xFD, 0x6F, 0x03}, 4}, "# move aligned double quadword (integer; AVX)",
    "# vmovdqa ymm0, RAM[ebx]"};
inline constexpr InstructionForm vex_vmovdqu_store {{{0xC5, 0xFE, 0x7F, 0x03}, 4}, "# move unaligned double quadword (integer; AVX)",
    "# vmovdqu RAM[ebx], ymm0"};
inline constexpr InstructionForm vex_vmovdqu_load {{{0xC5, 0xFE, 0x6F, 0x03}, 4}, "# move unaligned double quadword (integer; AVX)",
    "# vmovdqu ymm0, RAM[ebx]"};
inline constexpr InstructionForm vex_vmovaps_store {{{0xC5, 0xFC, 0x29, 0x03}, 4}, "# move aligned packed single-precision floating-point values (floating point; AVX)",
    "# vmovaps RAM[ebx], ymm0"};
inline constexpr InstructionForm vex_vmovaps_load {{{0xC5, 0xFC, 0x28, 0x03}, 4}, "# move aligned packed single-precision floating-point values (floating point; AVX)",
    "# vmovaps ymm0, RAM[ebx]"};
inline constexpr InstructionForm vex_vmovups_store {{{0xC5, 0xFC, 0x11, 0x03}, 4}, "# move unaligned packed single-precision floating-point values (floating point; AVX)",
    "# vmovups RAM[ebx], ymm0"};
inline constexpr InstructionForm vex_vmovups_load {{{0xC5, 0xFC, 0x10, 0x03}, 4}, "# move unaligned packed single-precision floating-point values (floating point; AVX)",
    "# vmovups ymm0, RAM[ebx]"};
inline constexpr InstructionForm vex_vmovapd_store {{{0xC5, 0xFD, 0x29, 0x03}, 4}, "# move aligned packed double-precision floating-point values (floating point; AVX)",
    "# vmovapd RAM[ebx], ymm0"};
inline constexpr InstructionForm vex_vmovapd_load {{{0xC5, 0xFD, 0x28, 0x03}, 4}, "# move aligned packed double-precision floating-point values (floating point; AVX)",
    "# vmovapd ymm0, RAM[ebx]"};
inline constexpr InstructionForm vex_vmovupd_store {{{0xC5, 0xFD, 0x11, 0x03}, 4}, "# move unaligned packed double-precision floating-point values (floating point; AVX)",
    "# vmovupd RAM[ebx], ymm0"};
inline constexpr InstructionForm vex_vmovupd_load {{{0xC5, 0xFD, 0x10, 0x03}, 4}, "# move unaligned packed double-precision floating-point values (floating point; AVX)",
    "# vmovupd ymm0, RAM[ebx]"};
inline constexpr InstructionForm evex_vmovdqa32_store {{{0x62, 0xF1, 0x7D, 0x48, 0x7F, 0x03}, 6}, "# move aligned packed doubleword integer values (integer; AVX-512F)",
    "# vmovdqa32 RAM[ebx], zmm0"};
inline constexpr InstructionForm evex_vmovdqa32_load {{{0x62, 0xF1, 0x7D, 0x48, 0x6F, 0x03}, 6}, "# move aligned packed doubleword integer values (integer; AVX-512F)",
    "# vmovdqa32 zmm0, RAM[ebx]"};
inline constexpr InstructionForm evex_vmovdqu32_store {{{0x62, 0xF1, 0x7E, 0x48, 0x7F, 0x03}, 6}, "# move unaligned packed doubleword integer values (integer; AVX-512F)",
    "# vmovdqu32 RAM[ebx], zmm0"};
inline constexpr InstructionForm evex_vmovdqu32_load {{{0x62, 0xF1, 0x7E, 0x48, 0x6F, 0x03}, 6}, "# move unaligned packed doubleword integer values (integer; AVX-512F)",
    "# vmovdqu32 zmm0, RAM[ebx]"};
inline constexpr InstructionForm evex_vmovaps_store {{{0x62, 0xF1, 0x7C, 0x48, 0x29, 0x03}, 6}, "# move aligned packed single-precision floating-point values (floating point; AVX-512F)",
    "# vmovaps RAM[ebx], zmm0"};
inline constexpr InstructionForm evex_vmovaps_load {{{0x62, 0xF1, 0x7C, 0x48, 0x28, 0x03}, 6}, "# move aligned packed single-precision floating-point values (floating point; AVX-512F)",
    "# vmovaps zmm0, RAM[ebx]"};
inline constexpr InstructionForm evex_vmovups_store {{{0x62, 0xF1, 0x7C, 0x48, 0x11, 0x03}, 6}, "# move unaligned packed single-precision floating-point values (floating point; AVX-512F)",
    "# vmovups RAM[ebx], zmm0"};
inline constexpr InstructionForm evex_vmovups_load {{{0x62, 0xF1, 0x7C, 0x48, 0x10, 0x03}, 6}, "# move unaligned packed single-precision floating-point values (floating point; AVX-512F)",
    "# vmovups zmm0, RAM[ebx]"};
inline constexpr InstructionForm evex_vmovapd_store {{{0x62, 0xF1, 0xFD, 0x48, 0x29, 0x03}, 6}, "# move aligned packed double-precision floating-point values (floating point; AVX-512F)",
    "# vmovapd RAM[ebx], zmm0"};
inline constexpr InstructionForm evex_vmovapd_load {{{0x62, 0xF1, 0xFD, 0x48, 0x28, 0x03}, 6}, "# move aligned packed double-precision floating-point values (floating point; AVX-512F)",
    "# vmovapd zmm0, RAM[ebx]"};
inline constexpr InstructionForm evex_vmovupd_store {{{0x62, 0xF1, 0xFD, 0x48, 0x11, 0x03}, 6}, "# move unaligned packed double-precision floating-point values (floating point; AVX-512F)",
    "# vmovupd RAM[ebx], zmm0"};
inline constexpr InstructionForm evex_vmovupd_load {{{0x62, 0xF1, 0xFD, 0x48, 0x10, 0x03}, 6}, "# move unaligned packed double-precision floating-point values (floating point; AVX-512F)",
    "# vmovupd zmm0, RAM[ebx]"};
inline constexpr InstructionForm sse_psubd {{{0x66, 0x0F, 0xFA, 0xC1}, 4}, "# subtract packed doubleword integers (integer; SSE2)",
    "# psubd xmm0, xmm1"};
inline constexpr InstructionForm sse_subps {{{0x0F, 0x5C, 0xC1}, 3}, "# subtract packed single-precision floating-point values (floating point; SSE)",
    "# subps xmm0, xmm1"};
inline constexpr InstructionForm vex_vpsubd {{{0xC5, 0xFD, 0xFA, 0xC1}, 4}, "# subtract packed doubleword integers (integer; AVX2)",
    "# vpsubd ymm0, ymm0, ymm1"};
inline constexpr InstructionForm vex_vsubps {{{0xC5, 0xFC, 0x5C, 0xC1}, 4}, "# subtract packed single-precision floating-point values (floating point; AVX)",
    "# vsubps ymm0, ymm0, ymm1"};
inline constexpr InstructionForm evex_vpsubd {{{0x62, 0xF1, 0x7D, 0x48, 0xFA, 0xC1}, 6}, "# subtract packed doubleword integers (integer; AVX-512F)",
    "# vpsubd zmm0, zmm0, zmm1"};
inline constexpr InstructionForm evex_vsubps {{{0x62, 0xF1, 0x7C, 0x48, 0x5C, 0xC1}, 6}, "# subtract packed single-precision floating-point values (floating point; AVX-512F)",
    "# vsubps zmm0, zmm0, zmm1"};
inline constexpr InstructionForm sse_movq_store_0 {{{0x66, 0x0F, 0xD6, 0x03}, 4}, "# move quadword (integer; SSE2)",
    "# movq RAM[ebx], xmm0"};
inline constexpr InstructionForm sse_movq_store_8 {{{0x66, 0x0F, 0xD6, 0x43, 0x08}, 5}, "# move quadword (integer; SSE2)",
    "# movq RAM[ebx+8], xmm0"};
inline constexpr InstructionForm sse_movd_store_0 {{{0x66, 0x0F, 0x7E, 0x03}, 4}, "# move doubleword (integer; SSE2)",
    "# movd RAM[ebx], xmm0"};
inline constexpr InstructionForm sse_movd_store_4 {{{0x66, 0x0F, 0x7E, 0x43, 0x04}, 5}, "# move doubleword (integer; SSE2)",
    "# movd RAM[ebx+4], xmm0"};
inline constexpr InstructionForm sse_movd_store_8 {{{0x66, 0x0F, 0x7E, 0x43, 0x08}, 5}, "# move doubleword (integer; SSE2)",
    "# movd RAM[ebx+8], xmm0"};
inline constexpr InstructionForm sse_movd_store_12 {{{0x66, 0x0F, 0x7E, 0x43, 0x0C}, 5}, "# move doubleword (integer; SSE2)",
    "# movd RAM[ebx+12], xmm0"};
inline constexpr InstructionForm sse_movd_to_edx {{{0x66, 0x0F, 0x7E, 0xC2}, 4}, "# move doubleword (integer; SSE2)",
    "# movd edx, xmm0"};
inline constexpr InstructionForm sse_movdqa_xmm2_load {{{0x66, 0x0F, 0x6F, 0x13}, 4}, "# move aligned double quadword (integer; SSE2)",
    "# movdqa xmm2, RAM[ebx]"};
inline constexpr InstructionForm sse_movq_load_0 {{{0xF3, 0x0F, 0x7E, 0x13}, 4}, "# move quadword (integer; SSE2)",
    "# movq xmm2, RAM[ebx]"};
inline constexpr InstructionForm sse_movq_load_8 {{{0xF3, 0x0F, 0x7E, 0x53, 0x08}, 5}, "# move quadword (integer; SSE2)",
    "# movq xmm2, RAM[ebx+8]"};
inline constexpr InstructionForm sse_movd_load_0 {{{0x66, 0x0F, 0x6E, 0x13}, 4}, "# move doubleword (integer; SSE2)",
    "# movd xmm2, RAM[ebx]"};
inline constexpr InstructionForm sse_movd_load_4 {{{0x66, 0x0F, 0x6E, 0x53, 0x04}, 5}, "# move doubleword (integer; SSE2)",
    "# movd xmm2, RAM[ebx+4]"};
inline constexpr InstructionForm sse_movd_from_edx {{{0x66, 0x0F, 0x6E, 0xD2}, 4}, "# move doubleword (integer; SSE2)",
    "# movd xmm2, edx"};
inline constexpr InstructionForm sse_por {{{0x66, 0x0F, 0xEB, 0xC2}, 4}, "# bitwise logical or (integer; SSE2)",
    "# por xmm0, xmm2"};
inline constexpr InstructionForm edx_store_0 {{{0x89, 0x13}, 2}, "# move (general purpose)",
    "# mov RAM[ebx], edx"};
inline constexpr InstructionForm edx_store_4 {{{0x89, 0x53, 0x04}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+4], edx"};
inline constexpr InstructionForm edx_store_8 {{{0x89, 0x53, 0x08}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+8], edx"};
inline constexpr InstructionForm edx_store_12 {{{0x89, 0x53, 0x0C}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+12], edx"};
inline constexpr InstructionForm edx_store_16 {{{0x89, 0x53, 0x10}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+16], edx"};
inline constexpr InstructionForm edx_store_20 {{{0x89, 0x53, 0x14}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+20], edx"};
inline constexpr InstructionForm edx_store_24 {{{0x89, 0x53, 0x18}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+24], edx"};
inline constexpr InstructionForm edx_store_28 {{{0x89, 0x53, 0x1C}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+28], edx"};
inline constexpr InstructionForm edx_store_32 {{{0x89, 0x53, 0x20}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+32], edx"};
inline constexpr InstructionForm edx_store_36 {{{0x89, 0x53, 0x24}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+36], edx"};
inline constexpr InstructionForm edx_store_40 {{{0x89, 0x53, 0x28}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+40], edx"};
inline constexpr InstructionForm edx_store_44 {{{0x89, 0x53, 0x2C}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+44], edx"};
inline constexpr InstructionForm edx_store_48 {{{0x89, 0x53, 0x30}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+48], edx"};
inline constexpr InstructionForm edx_store_52 {{{0x89, 0x53, 0x34}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+52], edx"};
inline constexpr InstructionForm edx_store_56 {{{0x89, 0x53, 0x38}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+56], edx"};
inline constexpr InstructionForm edx_store_60 {{{0x89, 0x53, 0x3C}, 3}, "# move (general purpose)",
    "# mov RAM[ebx+60], edx"};
inline constexpr InstructionForm edx_load {{{0x8B, 0x13}, 2}, "# move (general purpose)",
    "# mov edx, RAM[ebx]"};
inline constexpr InstructionForm vex_vmovdqa_xmm_store_0 {{{0xC5, 0xF9, 0x7F, 0x03}, 4}, "# move aligned packed integer values (integer; AVX)",
    "# vmovdqa RAM[ebx], xmm0"};
inline constexpr InstructionForm vex_vmovdqa_xmm_store_16 {{{0xC5, 0xF9, 0x7F, 0x43, 0x10}, 5}, "# move aligned packed integer values (integer; AVX)",
    "# vmovdqa RAM[ebx+16], xmm0"};
inline constexpr InstructionForm vex_vmovq_store_0 {{{0xC5, 0xF9, 0xD6, 0x03}, 4}, "# move quadword (integer; AVX)",
    "# vmovq RAM[ebx], xmm0"};
inline constexpr InstructionForm vex_vmovq_store_8 {{{0xC5, 0xF9, 0xD6, 0x43, 0x08}, 5}, "# move quadword (integer; AVX)",
    "# vmovq RAM[ebx+8], xmm0"};
inline constexpr InstructionForm vex_vmovq_store_16 {{{0xC5, 0xF9, 0xD6, 0x43, 0x10}, 5}, "# move quadword (integer; AVX)",
    "# vmovq RAM[ebx+16], xmm0"};
inline constexpr InstructionForm vex_vmovq_store_24 {{{0xC5, 0xF9, 0xD6, 0x43, 0x18}, 5}, "# move quadword (integer; AVX)",
    "# vmovq RAM[ebx+24], xmm0"};
inline constexpr InstructionForm vex_vmovd_store_0 {{{0xC5, 0xF9, 0x7E, 0x03}, 4}, "# move doubleword (integer; AVX)",
    "# vmovd RAM[ebx], xmm0"};
inline constexpr InstructionForm vex_vmovd_to_edx {{{0xC5, 0xF9, 0x7E, 0xC2}, 4}, "# move doubleword (integer; AVX)",
    "# vmovd edx, xmm0"};
inline constexpr InstructionForm vex_vmovdqa_ymm2_load {{{0xC5, 0xFD, 0x6F, 0x13}, 4}, "# move aligned packed integer values (integer; AVX)",
    "# vmovdqa ymm2, RAM[ebx]"};
inline constexpr InstructionForm vex_vmovdqa_xmm2_load_0 {{{0xC5, 0xF9, 0x6F, 0x13}, 4}, "# move aligned packed integer values (integer; AVX)",
    "# vmovdqa xmm2, RAM[ebx]"};
inline constexpr InstructionForm vex_vmovdqa_xmm2_load_16 {{{0xC5, 0xF9, 0x6F, 0x53, 0x10}, 5}, "# move aligned packed integer values (integer; AVX)",
    "# vmovdqa xmm2, RAM[ebx+16]"};
inline constexpr InstructionForm vex_vmovd_load_0 {{{0xC5, 0xF9, 0x6E, 0x13}, 4}, "# move doubleword (integer; AVX)",
    "# vmovd xmm2, RAM[ebx]"};
inline constexpr InstructionForm vex_vmovd_load_12 {{{0xC5, 0xF9, 0x6E, 0x53, 0x0C}, 5}, "# move doubleword (integer; AVX)",
    "# vmovd xmm2, RAM[ebx+12]"};
inline constexpr InstructionForm vex_vmovd_from_edx {{{0xC5, 0xF9, 0x6E, 0xD2}, 4}, "# move doubleword (integer; AVX)",
    "# vmovd xmm2, edx"};
inline constexpr InstructionForm vex_vpor {{{0xC5, 0xFD, 0xEB, 0xC2}, 4}, "# bitwise logical or (integer; AVX2)",
    "# vpor ymm0, ymm0, ymm2"};
inline constexpr InstructionForm vex_vmovdqa_ymm2_load_32 {{{0xC5, 0xFD, 0x6F, 0x53, 0x20}, 5}, "# move aligned packed integer values (integer; AVX)",
    "# vmovdqa ymm2, RAM[ebx+32]"};
inline constexpr InstructionForm evex_vmovdqa32_zmm2_load {{{0x62, 0xF1, 0x7D, 0x48, 0x6F, 0x13}, 6}, "# move aligned packed doubleword integer values (integer; AVX-512F)",
    "# vmovdqa32 zmm2, RAM[ebx]"};
// The EVEX forms of the ZMM widths table's narrow moves. A narrow VEX move
// beside register 0's full 512 bits would meet a dirty ZMM upper half,
// which some cores charge every VEX instruction for; EVEX moves of any width
// leave that state as it is, so that the table measures the forwarding
// alone. The 256- and 128-bit moves need AVX-512 VL, the 32-bit ones only
// AVX-512 F; vmovd has no mnemonic of its own for its EVEX form.
inline constexpr InstructionForm evex_vmovdqa32_ymm_store_0 {{{0x62, 0xF1, 0x7D, 0x28, 0x7F, 0x03}, 6}, "# move aligned packed doubleword integer values (integer; AVX-512VL)",
    "# vmovdqa32 RAM[ebx], ymm0"};
inline constexpr InstructionForm evex_vmovdqa32_ymm_store_32 {{{0x62, 0xF1, 0x7D, 0x28, 0x7F, 0x43, 0x01}, 7}, "# move aligned packed doubleword integer values (integer; AVX-512VL)",
    "# vmovdqa32 RAM[ebx+32], ymm0"};
inline constexpr InstructionForm evex_vmovdqa32_xmm_store_0 {{{0x62, 0xF1, 0x7D, 0x08, 0x7F, 0x03}, 6}, "# move aligned packed doubleword integer values (integer; AVX-512VL)",
    "# vmovdqa32 RAM[ebx], xmm0"};
inline constexpr InstructionForm evex_vmovdqa32_xmm_store_16 {{{0x62, 0xF1, 0x7D, 0x08, 0x7F, 0x43, 0x01}, 7}, "# move aligned packed doubleword integer values (integer; AVX-512VL)",
    "# vmovdqa32 RAM[ebx+16], xmm0"};
inline constexpr InstructionForm evex_vmovdqa32_xmm_store_32 {{{0x62, 0xF1, 0x7D, 0x08, 0x7F, 0x43, 0x02}, 7}, "# move aligned packed doubleword integer values (integer; AVX-512VL)",
    "# vmovdqa32 RAM[ebx+32], xmm0"};
inline constexpr InstructionForm evex_vmovdqa32_xmm_store_48 {{{0x62, 0xF1, 0x7D, 0x08, 0x7F, 0x43, 0x03}, 7}, "# move aligned packed doubleword integer values (integer; AVX-512VL)",
    "# vmovdqa32 RAM[ebx+48], xmm0"};
inline constexpr InstructionForm evex_vmovd_to_edx {{{0x62, 0xF1, 0x7D, 0x08, 0x7E, 0xC2}, 6}, "# move doubleword (integer; AVX-512F)",
    "# {evex} vmovd edx, xmm0"};
inline constexpr InstructionForm evex_vmovd_store_0 {{{0x62, 0xF1, 0x7D, 0x08, 0x7E, 0x03}, 6}, "# move doubleword (integer; AVX-512F)",
    "# {evex} vmovd RAM[ebx], xmm0"};
inline constexpr InstructionForm evex_vmovdqa32_ymm2_load_0 {{{0x62, 0xF1, 0x7D, 0x28, 0x6F, 0x13}, 6}, "# move aligned packed doubleword integer values (integer; AVX-512VL)",
    "# vmovdqa32 ymm2, RAM[ebx]"};
inline constexpr InstructionForm evex_vmovdqa32_ymm2_load_32 {{{0x62, 0xF1, 0x7D, 0x28, 0x6F, 0x53, 0x01}, 7}, "# move aligned packed doubleword integer values (integer; AVX-512VL)",
    "# vmovdqa32 ymm2, RAM[ebx+32]"};
inline constexpr InstructionForm evex_vmovd_load_28 {{{0x62, 0xF1, 0x7D, 0x08, 0x6E, 0x53, 0x07}, 7}, "# move doubleword (integer; AVX-512F)",
    "# {evex} vmovd xmm2, RAM[ebx+28]"};
inline constexpr InstructionForm evex_vmovd_load_0 {{{0x62, 0xF1, 0x7D, 0x08, 0x6E, 0x13}, 6}, "# move doubleword (integer; AVX-512F)",
    "# {evex} vmovd xmm2, RAM[ebx]"};
inline constexpr InstructionForm evex_vmovd_from_edx {{{0x62, 0xF1, 0x7D, 0x08, 0x6E, 0xD2}, 6}, "# move doubleword (integer; AVX-512F)",
    "# {evex} vmovd xmm2, edx"};
inline constexpr InstructionForm evex_vpord {{{0x62, 0xF1, 0x7D, 0x48, 0xEB, 0xC2}, 6}, "# bitwise logical or of packed doubleword integers (integer; AVX-512F)",
    "# vpord zmm0, zmm0, zmm2"};
// clang-format on

// The instructions one side of a step is made of: a store, a load or the
// arithmetic after them.
struct MovementSide {
    // Short, for labels and --classes: a move's or an instruction's own name,
    // or the kind of a widths store or load ("halves", "edx32").
    std::string_view name;
    std::string_view title;
    // In order; the rest are null.
    std::array<const InstructionForm*, 17> forms;
    // The instruction sets it needs beyond those of its family.
    Features needs;

    constexpr std::size_t size() const {
        std::size_t count = 0;
        while (count < forms.size() && forms[count] != nullptr) ++count;
        return count;
    }
};

// One chain of a table: which store, load and arithmetic its step holds, and
// the cell whose step its extra cycles are counted against.
struct MovementCell {
    std::uint8_t store;
    std::uint8_t load;
    std::uint8_t arithmetic;
    std::uint8_t reference;
};

// Steps per loop iteration of a chain's two routines.
inline constexpr std::uint32_t short_steps = 1;
inline constexpr std::uint32_t long_steps = 2;

struct MovementTable {
    // "types" or "widths".
    std::string_view name;
    std::span<const MovementSide> stores;
    std::span<const MovementSide> loads;
    std::span<const MovementSide> arithmetic;
    std::span<const MovementCell> cells;
    // Every cell's short and long routine, in the order of the cells.
    std::span<const ChainRoutines> routines;
    // Bytes in one register: 16, 32 or 64.
    std::uint32_t width;
    // The row of matrix_chain_values that register 0 starts from and that
    // every run leaves in it.
    std::size_t value_row;

    Features needs(const MovementCell& cell) const {
        return stores[cell.store].needs | loads[cell.load].needs | arithmetic[cell.arithmetic].needs;
    }
};

// The types tables' cells: for each subtraction, every store form with every
// load form, the load form changing fastest. The reference of each is the
// cell of the same subtraction that stores and loads with the aligned move
// of the subtraction's own type: movdqa for the integer subtraction (the
// first move), movaps for the single one (the third).
inline constexpr std::size_t move_count = 6;
constexpr std::array<MovementCell, 2 * move_count * move_count> types_cells() {
    std::array<MovementCell, 2 * move_count * move_count> cells{};
    constexpr std::uint8_t own_move[] = {0, 2};
    std::size_t at = 0;
    for (std::uint8_t subtraction = 0; subtraction < 2; ++subtraction) {
        const std::uint8_t reference =
            static_cast<std::uint8_t>(subtraction * move_count * move_count + own_move[subtraction] * (move_count + 1));
        for (std::uint8_t store = 0; store < move_count; ++store) {
            for (std::uint8_t load = 0; load < move_count; ++load) cells[at++] = {store, load, subtraction, reference};
        }
    }
    return cells;
}
inline constexpr auto type_cells = types_cells();
static_assert(type_cells[0].reference == 0 && type_cells[36 + 2 * 6 + 2].reference == 36 + 2 * 6 + 2);

// The widths tables' cells, store kind then load kind (see the sides
// below): the whole store with every load and every store with the whole
// load, against the whole store and load; the 32-bit stores with the 32-bit
// loads, against the vector's 32-bit store and load.
// clang-format off
inline constexpr MovementCell width_cells[] = {
    {0, 0, 0, 0}, {0, 1, 0, 0}, {0, 2, 0, 0}, {0, 3, 0, 0}, {0, 4, 0, 0}, {0, 5, 0, 0},
    {1, 0, 0, 0}, {2, 0, 0, 0}, {3, 0, 0, 0},
    {4, 4, 0, 9}, {4, 5, 0, 9}, {5, 4, 0, 9}, {5, 5, 0, 9},
};
// clang-format on

// clang-format off
inline constexpr MovementSide sse_moves_stored[] = {
    {"movdqa", "movdqa", {&sse_movdqa_store}, isa::sse2}, {"movdqu", "movdqu", {&sse_movdqu_store}, isa::sse2},
    {"movaps", "movaps", {&sse_movaps_store}, isa::sse2}, {"movups", "movups", {&sse_movups_store}, isa::sse2},
    {"movapd", "movapd", {&sse_movapd_store}, isa::sse2}, {"movupd", "movupd", {&sse_movupd_store}, isa::sse2},
};
inline constexpr MovementSide sse_moves_loaded[] = {
    {"movdqa", "movdqa", {&sse_movdqa_load}, isa::sse2}, {"movdqu", "movdqu", {&sse_movdqu_load}, isa::sse2},
    {"movaps", "movaps", {&sse_movaps_load}, isa::sse2}, {"movups", "movups", {&sse_movups_load}, isa::sse2},
    {"movapd", "movapd", {&sse_movapd_load}, isa::sse2}, {"movupd", "movupd", {&sse_movupd_load}, isa::sse2},
};
inline constexpr MovementSide sse_subtractions[] = {
    {"psubd", "psubd", {&sse_psubd}, isa::sse2}, {"subps", "subps", {&sse_subps}, isa::sse2},
};
inline constexpr MovementSide vex256_moves_stored[] = {
    {"vmovdqa", "vmovdqa", {&vex_vmovdqa_store}, isa::avx}, {"vmovdqu", "vmovdqu", {&vex_vmovdqu_store}, isa::avx},
    {"vmovaps", "vmovaps", {&vex_vmovaps_store}, isa::avx}, {"vmovups", "vmovups", {&vex_vmovups_store}, isa::avx},
    {"vmovapd", "vmovapd", {&vex_vmovapd_store}, isa::avx}, {"vmovupd", "vmovupd", {&vex_vmovupd_store}, isa::avx},
};
inline constexpr MovementSide vex256_moves_loaded[] = {
    {"vmovdqa", "vmovdqa", {&vex_vmovdqa_load}, isa::avx}, {"vmovdqu", "vmovdqu", {&vex_vmovdqu_load}, isa::avx},
    {"vmovaps", "vmovaps", {&vex_vmovaps_load}, isa::avx}, {"vmovups", "vmovups", {&vex_vmovups_load}, isa::avx},
    {"vmovapd", "vmovapd", {&vex_vmovapd_load}, isa::avx}, {"vmovupd", "vmovupd", {&vex_vmovupd_load}, isa::avx},
};
inline constexpr MovementSide vex256_subtractions[] = {
    {"vpsubd", "vpsubd", {&vex_vpsubd}, isa::avx2}, {"vsubps", "vsubps", {&vex_vsubps}, isa::avx},
};
inline constexpr MovementSide evex512_moves_stored[] = {
    {"vmovdqa32", "vmovdqa32", {&evex_vmovdqa32_store}, isa::avx512f}, {"vmovdqu32", "vmovdqu32", {&evex_vmovdqu32_store}, isa::avx512f},
    {"vmovaps", "vmovaps", {&evex_vmovaps_store}, isa::avx512f},       {"vmovups", "vmovups", {&evex_vmovups_store}, isa::avx512f},
    {"vmovapd", "vmovapd", {&evex_vmovapd_store}, isa::avx512f},       {"vmovupd", "vmovupd", {&evex_vmovupd_store}, isa::avx512f},
};
inline constexpr MovementSide evex512_moves_loaded[] = {
    {"vmovdqa32", "vmovdqa32", {&evex_vmovdqa32_load}, isa::avx512f}, {"vmovdqu32", "vmovdqu32", {&evex_vmovdqu32_load}, isa::avx512f},
    {"vmovaps", "vmovaps", {&evex_vmovaps_load}, isa::avx512f},       {"vmovups", "vmovups", {&evex_vmovups_load}, isa::avx512f},
    {"vmovapd", "vmovapd", {&evex_vmovapd_load}, isa::avx512f},       {"vmovupd", "vmovupd", {&evex_vmovupd_load}, isa::avx512f},
};
inline constexpr MovementSide evex512_subtractions[] = {
    {"vpsubd", "vpsubd", {&evex_vpsubd}, isa::avx512f}, {"vsubps", "vsubps", {&evex_vsubps}, isa::avx512f},
};

inline constexpr MovementSide sse_width_stores[] = {
    {"whole",    "one 128-bit store",          {&sse_movdqa_store}, isa::sse2},
    {"halves",   "two 64-bit stores",          {&sse_movq_store_0, &sse_movq_store_8}, isa::sse2},
    {"quarters", "four 32-bit stores",         {&sse_movd_store_0, &sse_movd_store_4, &sse_movd_store_8, &sse_movd_store_12}, isa::sse2},
    {"edx",      "four 32-bit stores of EDX",  {&sse_movd_to_edx, &edx_store_0, &edx_store_4, &edx_store_8, &edx_store_12}, isa::sse2},
    {"low32",    "one 32-bit store",           {&sse_movd_store_0}, isa::sse2},
    {"edx32",    "one 32-bit store of EDX",    {&sse_movd_to_edx, &edx_store_0}, isa::sse2},
};
inline constexpr MovementSide sse_width_loads[] = {
    {"whole",    "128 bits",                   {&sse_movdqa_xmm2_load}, isa::sse2},
    {"low",      "low 64 bits",                {&sse_movq_load_0}, isa::sse2},
    {"high",     "high 64 bits",               {&sse_movq_load_8}, isa::sse2},
    {"lane",     "32 bits at byte 4",          {&sse_movd_load_4}, isa::sse2},
    {"low32",    "low 32 bits",                {&sse_movd_load_0}, isa::sse2},
    {"edx32",    "low 32 bits into EDX",       {&edx_load, &sse_movd_from_edx}, isa::sse2},
};
inline constexpr MovementSide sse_merge[] = {{"por", "por", {&sse_por}, isa::sse2}};

inline constexpr MovementSide vex256_width_stores[] = {
    {"whole",    "one 256-bit store",          {&vex_vmovdqa_store}, isa::avx},
    {"halves",   "two 128-bit stores",         {&vex_vmovdqa_xmm_store_0, &vex_vmovdqa_xmm_store_16}, isa::avx},
    {"quarters", "four 64-bit stores",         {&vex_vmovq_store_0, &vex_vmovq_store_8, &vex_vmovq_store_16, &vex_vmovq_store_24}, isa::avx},
    {"edx",      "eight 32-bit stores of EDX", {&vex_vmovd_to_edx, &edx_store_0, &edx_store_4, &edx_store_8, &edx_store_12,
                                                &edx_store_16, &edx_store_20, &edx_store_24, &edx_store_28}, isa::avx},
    {"low32",    "one 32-bit store",           {&vex_vmovd_store_0}, isa::avx},
    {"edx32",    "one 32-bit store of EDX",    {&vex_vmovd_to_edx, &edx_store_0}, isa::avx},
};
inline constexpr MovementSide vex256_width_loads[] = {
    {"whole",    "256 bits",                   {&vex_vmovdqa_ymm2_load}, isa::avx},
    {"low",      "low 128 bits",               {&vex_vmovdqa_xmm2_load_0}, isa::avx},
    {"high",     "high 128 bits",              {&vex_vmovdqa_xmm2_load_16}, isa::avx},
    {"lane",     "32 bits at byte 12",         {&vex_vmovd_load_12}, isa::avx},
    {"low32",    "low 32 bits",                {&vex_vmovd_load_0}, isa::avx},
    {"edx32",    "low 32 bits into EDX",       {&edx_load, &vex_vmovd_from_edx}, isa::avx},
};
inline constexpr MovementSide vex256_merge[] = {{"vpor", "vpor", {&vex_vpor}, isa::avx2}};

inline constexpr MovementSide evex512_width_stores[] = {
    {"whole",    "one 512-bit store",          {&evex_vmovdqa32_store}, isa::avx512f},
    {"halves",   "two 256-bit stores",         {&evex_vmovdqa32_ymm_store_0, &evex_vmovdqa32_ymm_store_32}, isa::avx512f | isa::avx512vl},
    {"quarters", "four 128-bit stores",        {&evex_vmovdqa32_xmm_store_0, &evex_vmovdqa32_xmm_store_16, &evex_vmovdqa32_xmm_store_32,
                                                &evex_vmovdqa32_xmm_store_48}, isa::avx512f | isa::avx512vl},
    {"edx",      "sixteen 32-bit stores of EDX", {&evex_vmovd_to_edx, &edx_store_0, &edx_store_4, &edx_store_8, &edx_store_12,
                                                &edx_store_16, &edx_store_20, &edx_store_24, &edx_store_28, &edx_store_32,
                                                &edx_store_36, &edx_store_40, &edx_store_44, &edx_store_48, &edx_store_52,
                                                &edx_store_56, &edx_store_60}, isa::avx512f},
    {"low32",    "one 32-bit store",           {&evex_vmovd_store_0}, isa::avx512f},
    {"edx32",    "one 32-bit store of EDX",    {&evex_vmovd_to_edx, &edx_store_0}, isa::avx512f},
};
// The last load is the VEX move that the narrow EVEX loads replace, beside
// register 0's full 512 bits: forwarding and that state's cost together.
inline constexpr MovementSide evex512_width_loads[] = {
    {"whole",    "512 bits",                   {&evex_vmovdqa32_zmm2_load}, isa::avx512f},
    {"low",      "low 256 bits",               {&evex_vmovdqa32_ymm2_load_0}, isa::avx512f | isa::avx512vl},
    {"high",     "high 256 bits",              {&evex_vmovdqa32_ymm2_load_32}, isa::avx512f | isa::avx512vl},
    {"lane",     "32 bits at byte 28",         {&evex_vmovd_load_28}, isa::avx512f},
    {"low32",    "low 32 bits",                {&evex_vmovd_load_0}, isa::avx512f},
    {"edx32",    "low 32 bits into EDX",       {&edx_load, &evex_vmovd_from_edx}, isa::avx512f},
    {"vexhigh",  "VEX high 256, ZMM dirty",    {&vex_vmovdqa_ymm2_load_32}, isa::avx},
};
inline constexpr MovementSide evex512_merge[] = {{"vpord", "vpord", {&evex_vpord}, isa::avx512f}};
// clang-format on

static_assert(std::size(sse_moves_stored) == move_count && std::size(evex512_moves_loaded) == move_count);

// The ZMM widths table's cells: every widths table's, and the whole store
// loaded by the VEX move of the high half.
// clang-format off
inline constexpr MovementCell evex512_width_cells[] = {
    {0, 0, 0, 0}, {0, 1, 0, 0}, {0, 2, 0, 0}, {0, 3, 0, 0}, {0, 4, 0, 0}, {0, 5, 0, 0},
    {1, 0, 0, 0}, {2, 0, 0, 0}, {3, 0, 0, 0},
    {4, 4, 0, 9}, {4, 5, 0, 9}, {5, 4, 0, 9}, {5, 5, 0, 9},
    {0, 6, 0, 0},
};
// clang-format on

// Every table's routines, short and long, in the order of its cells: built
// from the tables when the program starts (movement_routines.cpp).
extern ChainRoutines movement_sse_types_routines[std::size(type_cells)];
extern ChainRoutines movement_vex256_types_routines[std::size(type_cells)];
extern ChainRoutines movement_evex512_types_routines[std::size(type_cells)];
extern ChainRoutines movement_sse_widths_routines[std::size(width_cells)];
extern ChainRoutines movement_vex256_widths_routines[std::size(width_cells)];
extern ChainRoutines movement_evex512_widths_routines[std::size(evex512_width_cells)];

// The 64-byte-aligned slot that every step stores to and loads from.
extern "C" std::uint8_t movement_slot[64];

// The chain's value and singles of 1.0 in every lane, rows 0 and 3 of
// matrix_chain_values.
inline constexpr std::size_t types_value_row = 0, widths_value_row = 3;

// clang-format off
inline const MovementTable sse_types{"types", sse_moves_stored, sse_moves_loaded, sse_subtractions, type_cells,
                                     movement_sse_types_routines, 16, types_value_row};
inline const MovementTable vex256_types{"types", vex256_moves_stored, vex256_moves_loaded, vex256_subtractions, type_cells,
                                        movement_vex256_types_routines, 32, types_value_row};
inline const MovementTable evex512_types{"types", evex512_moves_stored, evex512_moves_loaded, evex512_subtractions,
                                         type_cells, movement_evex512_types_routines, 64, types_value_row};
inline const MovementTable sse_widths{"widths", sse_width_stores, sse_width_loads, sse_merge, width_cells,
                                      movement_sse_widths_routines, 16, widths_value_row};
inline const MovementTable vex256_widths{"widths", vex256_width_stores, vex256_width_loads, vex256_merge, width_cells,
                                         movement_vex256_widths_routines, 32, widths_value_row};
inline const MovementTable evex512_widths{"widths", evex512_width_stores, evex512_width_loads, evex512_merge, evex512_width_cells,
                                          movement_evex512_widths_routines, 64, widths_value_row};
// clang-format on

// A family's two tables, by the width of its registers.
struct MovementTables {
    const MovementTable* types;
    const MovementTable* widths;
};
MovementTables movement_tables_of(const Family& family);
