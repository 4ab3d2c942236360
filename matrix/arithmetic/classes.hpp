#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "matrix/chain_values.hpp"
#include "matrix/features.hpp"
#include "run/kernels.hpp"

// The instruction classes of the penalty matrix, in three tables by encoding:
// legacy SSE on XMM, VEX.256 on YMM and EVEX.512 on ZMM. Every class is
// register to register, so that memory plays no part, and computes register 0
// from register 0 and, where it has one, an operand register that holds the
// value which leaves the chain's value as it is (see chain_values). Only
// registers 0 to 7 are used, which a 32-bit program has too.

struct InstructionClass {
    std::string_view name;
    InstructionForm form;
    std::string_view type;
    std::string_view operation;
    // The instruction sets it needs beyond those of its table.
    Features needs;
    // A round trip's instructions after `form`, for a class whose result
    // leaves the vector register, for a general register or a mask register,
    // and comes back to it: the chain waits for the whole round trip, which
    // stands in it for one instruction.
    std::span<const InstructionForm> then = {};
    // The class keeps no value but zero (see chain_value).
    bool zero_only = false;

    // The instructions of one step of a chain: `form`, then `then`.
    std::size_t instructions() const { return 1 + then.size(); }
};

// A conversion keeps no value but zero: chains that hold one run on zeros.
constexpr bool converts(const InstructionClass& row) { return row.operation == "convert"; }
// Nor does a class marked so: chains that hold one run on zeros too.
constexpr bool runs_on_zero(const InstructionClass& row) { return converts(row) || row.zero_only; }

// The operand registers, in every table at its width: 1 zero, 2 all ones,
// 3 singles of 1.0, 4 doubles of 1.0, 5 the multiplier of pmuludq, 6 the
// index of vpermps, which swaps the 128-bit lanes, 7 the chain's value
// itself, the operand of the minimum of singles.
// A chain's loop holds each row's bytes as they stand here, a round trip's
// `then` after its `form` (chain_routines.cpp).
//
// Each class after the blends keeps the chain's value, or runs on zeros, so:
// the shifts shift by zero; pminud takes the minimum with all ones, the
// largest unsigned doubleword, and minps with the value itself, which gives
// zero back on zeros too; insertps copies lane 0 to lane 2, which holds the
// same doubleword; the round trips through EAX take doubleword 1 out and put
// it back where it was. The compares (equal to all ones, greater than zero,
// equal to 1.0, a quiet compare), the pack, the unpacks, the horizontal adds
// and pmaddwd keep no value but zero, which each of them gives back from
// zero, and movd's round trip clears the three doublewords above the one it
// moves: chains that hold one of them run on zeros, as a conversion's do.
// clang-format off
// The second halves of the SSE round trips through EAX.
inline constexpr InstructionForm sse_pinsrd_eax[] = {
    {{{0x66, 0x0F, 0x3A, 0x22, 0xC0, 0x01}, 6}, "# insert doubleword from a general-purpose register (integer; SSE4.1)",
                                              "# pinsrd xmm0, eax, 1"}};
inline constexpr InstructionForm sse_movd_from_eax[] = {
    {{{0x66, 0x0F, 0x6E, 0xC0}, 4}, "# move doubleword from a general-purpose register (integer; SSE2)", "# movd xmm0, eax"}};

inline constexpr InstructionClass sse_classes[] = {
    {"paddd",    {{{0x66, 0x0F, 0xFE, 0xC1},             4}, "# add packed doubleword integers (integer; SSE2)",
                                                              "# paddd xmm0, xmm1"},           "packed 32-bit integer", "add",      isa::sse2},
    {"pmuludq",  {{{0x66, 0x0F, 0xF4, 0xC5},             4}, "# multiply packed unsigned doubleword integers (integer; SSE2)",
                                                              "# pmuludq xmm0, xmm5"},         "packed 32-bit integer", "multiply", isa::sse2},
    {"pand",     {{{0x66, 0x0F, 0xDB, 0xC2},             4}, "# bitwise logical and (integer; SSE2)",
                                                              "# pand xmm0, xmm2"},            "packed 32-bit integer", "logic",    isa::sse2},
    {"pshufd",   {{{0x66, 0x0F, 0x70, 0xC0, 0x4E},       5}, "# shuffle packed doublewords (integer; SSE2)",
                                                              "# pshufd xmm0, xmm0, 0x4E"},    "packed 32-bit integer", "shuffle",  isa::sse2},
    {"addps",    {{{0x0F, 0x58, 0xC1},                   3}, "# add packed single-precision floating-point values (floating point; SSE)",
                                                              "# addps xmm0, xmm1"},           "packed single",         "add",      isa::sse2},
    {"mulps",    {{{0x0F, 0x59, 0xC3},                   3}, "# multiply packed single-precision floating-point values (floating point; SSE)",
                                                              "# mulps xmm0, xmm3"},           "packed single",         "multiply", isa::sse2},
    {"andps",    {{{0x0F, 0x54, 0xC2},                   3}, "# bitwise logical and of packed single-precision floating-point values (floating point; SSE)",
                                                              "# andps xmm0, xmm2"},           "packed single",         "logic",    isa::sse2},
    {"shufps",   {{{0x0F, 0xC6, 0xC0, 0x4E},             4}, "# shuffle packed single-precision floating-point values (floating point; SSE)",
                                                              "# shufps xmm0, xmm0, 0x4E"},    "packed single",         "shuffle",  isa::sse2},
    {"addpd",    {{{0x66, 0x0F, 0x58, 0xC1},             4}, "# add packed double-precision floating-point values (floating point; SSE2)",
                                                              "# addpd xmm0, xmm1"},           "packed double",         "add",      isa::sse2},
    {"mulpd",    {{{0x66, 0x0F, 0x59, 0xC4},             4}, "# multiply packed double-precision floating-point values (floating point; SSE2)",
                                                              "# mulpd xmm0, xmm4"},           "packed double",         "multiply", isa::sse2},
    {"andpd",    {{{0x66, 0x0F, 0x54, 0xC2},             4}, "# bitwise logical and of packed double-precision floating-point values (floating point; SSE2)",
                                                              "# andpd xmm0, xmm2"},           "packed double",         "logic",    isa::sse2},
    {"shufpd",   {{{0x66, 0x0F, 0xC6, 0xC0, 0x01},       5}, "# shuffle packed double-precision floating-point values (floating point; SSE2)",
                                                              "# shufpd xmm0, xmm0, 0x01"},    "packed double",         "shuffle",  isa::sse2},
    {"addss",    {{{0xF3, 0x0F, 0x58, 0xC1},             4}, "# add scalar single-precision floating-point value (floating point; SSE)",
                                                              "# addss xmm0, xmm1"},           "scalar single",         "add",      isa::sse2},
    {"mulss",    {{{0xF3, 0x0F, 0x59, 0xC3},             4}, "# multiply scalar single-precision floating-point value (floating point; SSE)",
                                                              "# mulss xmm0, xmm3"},           "scalar single",         "multiply", isa::sse2},
    {"addsd",    {{{0xF2, 0x0F, 0x58, 0xC1},             4}, "# add scalar double-precision floating-point value (floating point; SSE2)",
                                                              "# addsd xmm0, xmm1"},           "scalar double",         "add",      isa::sse2},
    {"mulsd",    {{{0xF2, 0x0F, 0x59, 0xC4},             4}, "# multiply scalar double-precision floating-point value (floating point; SSE2)",
                                                              "# mulsd xmm0, xmm4"},           "scalar double",         "multiply", isa::sse2},
    {"cvtdq2ps", {{{0x0F, 0x5B, 0xC0},                   3}, "# convert packed doubleword integers to packed single-precision floating-point values (floating point; SSE2)",
                                                              "# cvtdq2ps xmm0, xmm0"},        "integer to single",     "convert",  isa::sse2},
    {"cvtps2dq", {{{0x66, 0x0F, 0x5B, 0xC0},             4}, "# convert packed single-precision floating-point values to packed doubleword integers (floating point; SSE2)",
                                                              "# cvtps2dq xmm0, xmm0"},        "single to integer",     "convert",  isa::sse2},
    {"blendvps", {{{0x66, 0x0F, 0x38, 0x14, 0xC1},       5}, "# variable blend packed single-precision floating-point values (floating point; SSE4.1)",
                                                              "# blendvps xmm0, xmm1, <xmm0>"}, "packed single",        "blend",    isa::sse41},
    {"pblendvb", {{{0x66, 0x0F, 0x38, 0x10, 0xC0},       5}, "# variable blend packed bytes (integer; SSE4.1)",
                                                              "# pblendvb xmm0, xmm0, <xmm0>"}, "packed bytes",         "blend",    isa::sse41},
    {"pslld",    {{{0x66, 0x0F, 0x72, 0xF0, 0x00},       5}, "# shift packed doublewords left logical (integer; SSE2)",
                                                              "# pslld xmm0, 0"},              "packed 32-bit integer", "shift",    isa::sse2},
    {"psrlq",    {{{0x66, 0x0F, 0x73, 0xD0, 0x00},       5}, "# shift packed quadwords right logical (integer; SSE2)",
                                                              "# psrlq xmm0, 0"},              "packed 64-bit integer", "shift",    isa::sse2},
    {"pcmpeqd",  {{{0x66, 0x0F, 0x76, 0xC2},             4}, "# compare packed doublewords for equal (integer; SSE2)",
                                                              "# pcmpeqd xmm0, xmm2"},         "packed 32-bit integer", "compare",  isa::sse2, {}, true},
    {"pcmpgtd",  {{{0x66, 0x0F, 0x66, 0xC1},             4}, "# compare packed signed doublewords for greater than (integer; SSE2)",
                                                              "# pcmpgtd xmm0, xmm1"},         "packed 32-bit integer", "compare",  isa::sse2, {}, true},
    {"cmpps",    {{{0x0F, 0xC2, 0xC3, 0x00},             4}, "# compare packed single-precision floating-point values (floating point; SSE)",
                                                              "# cmpps xmm0, xmm3, 0"},       "packed single",         "compare",  isa::sse2, {}, true},
    {"pminud",   {{{0x66, 0x0F, 0x38, 0x3B, 0xC2},       5}, "# minimum of packed unsigned doublewords (integer; SSE4.1)",
                                                              "# pminud xmm0, xmm2"},          "packed 32-bit integer", "minimum",  isa::sse41},
    {"minps",    {{{0x0F, 0x5D, 0xC7},                   3}, "# minimum of packed single-precision floating-point values (floating point; SSE)",
                                                              "# minps xmm0, xmm7"},           "packed single",         "minimum",  isa::sse2},
    {"packssdw", {{{0x66, 0x0F, 0x6B, 0xC0},             4}, "# pack doublewords into words with signed saturation (integer; SSE2)",
                                                              "# packssdw xmm0, xmm0"},        "packed 32-bit integer", "pack",     isa::sse2, {}, true},
    {"punpckldq", {{{0x66, 0x0F, 0x62, 0xC0},            4}, "# unpack and interleave low doublewords (integer; SSE2)",
                                                              "# punpckldq xmm0, xmm0"},       "packed 32-bit integer", "unpack",   isa::sse2, {}, true},
    {"unpcklps", {{{0x0F, 0x14, 0xC0},                   3}, "# unpack and interleave low packed single-precision floating-point values (floating point; SSE)",
                                                              "# unpcklps xmm0, xmm0"},        "packed single",         "unpack",   isa::sse2, {}, true},
    {"phaddd",   {{{0x66, 0x0F, 0x38, 0x02, 0xC0},       5}, "# horizontal add packed doublewords (integer; SSSE3)",
                                                              "# phaddd xmm0, xmm0"},          "packed 32-bit integer", "horizontal add", isa::ssse3, {}, true},
    {"haddps",   {{{0xF2, 0x0F, 0x7C, 0xC0},             4}, "# horizontal add packed single-precision floating-point values (floating point; SSE3)",
                                                              "# haddps xmm0, xmm0"},          "packed single",         "horizontal add", isa::sse3, {}, true},
    {"pmaddwd",  {{{0x66, 0x0F, 0xF5, 0xC2},             4}, "# multiply and add packed words (integer; SSE2)",
                                                              "# pmaddwd xmm0, xmm2"},         "packed 16-bit integer", "multiply-add", isa::sse2, {}, true},
    {"insertps", {{{0x66, 0x0F, 0x3A, 0x21, 0xC0, 0x20}, 6}, "# insert packed single-precision floating-point value (floating point; SSE4.1)",
                                                              "# insertps xmm0, xmm0, 0x20"},  "packed single",         "insert",   isa::sse41},
    {"pextrd:eax", {{{0x66, 0x0F, 0x3A, 0x16, 0xC0, 0x01}, 6}, "# extract doubleword to a general-purpose register (integer; SSE4.1)",
                                                              "# pextrd eax, xmm0, 1"},        "xmm->eax->xmm",         "extract, insert", isa::sse41, sse_pinsrd_eax},
    {"extractps:eax", {{{0x66, 0x0F, 0x3A, 0x17, 0xC0, 0x01}, 6}, "# extract packed single-precision floating-point value to a general-purpose register (floating point; SSE4.1)",
                                                              "# extractps eax, xmm0, 1"},     "xmm->eax->xmm",         "extract, insert", isa::sse41, sse_pinsrd_eax},
    {"movd:eax", {{{0x66, 0x0F, 0x7E, 0xC0},             4}, "# move doubleword to a general-purpose register (integer; SSE2)",
                                                              "# movd eax, xmm0"},             "xmm->eax->xmm",         "move, move", isa::sse2, sse_movd_from_eax, true},
};

// The second halves of the VEX round trips through EAX: VEX.128 forms, which
// clear the upper half of YMM0, as every VEX instruction on XMM does.
inline constexpr InstructionForm vex_vpinsrd_eax[] = {
    {{{0xC4, 0xE3, 0x79, 0x22, 0xC0, 0x01}, 6}, "# insert doubleword from a general-purpose register (integer; AVX)",
                                              "# vpinsrd xmm0, xmm0, eax, 1"}};
inline constexpr InstructionForm vex_vmovd_from_eax[] = {
    {{{0xC5, 0xF9, 0x6E, 0xC0}, 4}, "# move doubleword from a general-purpose register (integer; AVX)", "# vmovd xmm0, eax"}};

inline constexpr InstructionClass vex256_classes[] = {
    {"vpaddd",      {{{0xC5, 0xFD, 0xFE, 0xC1},             4}, "# add packed doubleword integers (integer; AVX2)",
                                                                 "# vpaddd ymm0, ymm0, ymm1"},          "packed 32-bit integer", "add",          isa::avx2},
    {"vpmuludq",    {{{0xC5, 0xFD, 0xF4, 0xC5},             4}, "# multiply packed unsigned doubleword integers (integer; AVX2)",
                                                                 "# vpmuludq ymm0, ymm0, ymm5"},        "packed 32-bit integer", "multiply",     isa::avx2},
    {"vpand",       {{{0xC5, 0xFD, 0xDB, 0xC2},             4}, "# bitwise logical and (integer; AVX2)",
                                                                 "# vpand ymm0, ymm0, ymm2"},           "packed 32-bit integer", "logic",        isa::avx2},
    {"vpshufd",     {{{0xC5, 0xFD, 0x70, 0xC0, 0x4E},       5}, "# shuffle packed doublewords (integer; AVX2)",
                                                                 "# vpshufd ymm0, ymm0, 0x4E"},         "packed 32-bit integer", "shuffle",      isa::avx2},
    {"vaddps",      {{{0xC5, 0xFC, 0x58, 0xC1},             4}, "# add packed single-precision floating-point values (floating point; AVX)",
                                                                 "# vaddps ymm0, ymm0, ymm1"},          "packed single",         "add",          isa::avx},
    {"vmulps",      {{{0xC5, 0xFC, 0x59, 0xC3},             4}, "# multiply packed single-precision floating-point values (floating point; AVX)",
                                                                 "# vmulps ymm0, ymm0, ymm3"},          "packed single",         "multiply",     isa::avx},
    {"vandps",      {{{0xC5, 0xFC, 0x54, 0xC2},             4}, "# bitwise logical and of packed single-precision floating-point values (floating point; AVX)",
                                                                 "# vandps ymm0, ymm0, ymm2"},          "packed single",         "logic",        isa::avx},
    {"vshufps",     {{{0xC5, 0xFC, 0xC6, 0xC0, 0x4E},       5}, "# shuffle packed single-precision floating-point values (floating point; AVX)",
                                                                 "# vshufps ymm0, ymm0, ymm0, 0x4E"},   "packed single",         "shuffle",      isa::avx},
    {"vaddpd",      {{{0xC5, 0xFD, 0x58, 0xC1},             4}, "# add packed double-precision floating-point values (floating point; AVX)",
                                                                 "# vaddpd ymm0, ymm0, ymm1"},          "packed double",         "add",          isa::avx},
    {"vmulpd",      {{{0xC5, 0xFD, 0x59, 0xC4},             4}, "# multiply packed double-precision floating-point values (floating point; AVX)",
                                                                 "# vmulpd ymm0, ymm0, ymm4"},          "packed double",         "multiply",     isa::avx},
    {"vandpd",      {{{0xC5, 0xFD, 0x54, 0xC2},             4}, "# bitwise logical and of packed double-precision floating-point values (floating point; AVX)",
                                                                 "# vandpd ymm0, ymm0, ymm2"},          "packed double",         "logic",        isa::avx},
    {"vshufpd",     {{{0xC5, 0xFD, 0xC6, 0xC0, 0x05},       5}, "# shuffle packed double-precision floating-point values (floating point; AVX)",
                                                                 "# vshufpd ymm0, ymm0, ymm0, 0x05"},   "packed double",         "shuffle",      isa::avx},
    {"vfmadd231ps", {{{0xC4, 0xE2, 0x65, 0xB8, 0xC1},       5}, "# fused multiply-add of packed single-precision floating-point values (floating point; FMA)",
                                                                 "# vfmadd231ps ymm0, ymm3, ymm1"},     "packed single",         "multiply-add", isa::avx | isa::fma},
    {"vfmadd231pd", {{{0xC4, 0xE2, 0xDD, 0xB8, 0xC1},       5}, "# fused multiply-add of packed double-precision floating-point values (floating point; FMA)",
                                                                 "# vfmadd231pd ymm0, ymm4, ymm1"},     "packed double",         "multiply-add", isa::avx | isa::fma},
    {"vpermps",     {{{0xC4, 0xE2, 0x4D, 0x16, 0xC0},       5}, "# permute single-precision floating-point elements (floating point; AVX2)",
                                                                 "# vpermps ymm0, ymm6, ymm0"},         "packed single",         "lane cross",   isa::avx2},
    {"vperm2f128",  {{{0xC4, 0xE3, 0x7D, 0x06, 0xC0, 0x01}, 6}, "# permute floating-point values (floating point; AVX)",
                                                                 "# vperm2f128 ymm0, ymm0, ymm0, 0x01"}, "packed single",        "lane cross",   isa::avx},
    {"vcvtdq2ps",   {{{0xC5, 0xFC, 0x5B, 0xC0},             4}, "# convert packed doubleword integers to packed single-precision floating-point values (floating point; AVX)",
                                                                 "# vcvtdq2ps ymm0, ymm0"},             "integer to single",     "convert",      isa::avx},
    {"vpslld",      {{{0xC5, 0xFD, 0x72, 0xF0, 0x00},       5}, "# shift packed doublewords left logical (integer; AVX2)",
                                                                 "# vpslld ymm0, ymm0, 0"},             "packed 32-bit integer", "shift",        isa::avx2},
    {"vpsrlq",      {{{0xC5, 0xFD, 0x73, 0xD0, 0x00},       5}, "# shift packed quadwords right logical (integer; AVX2)",
                                                                 "# vpsrlq ymm0, ymm0, 0"},             "packed 64-bit integer", "shift",        isa::avx2},
    {"vpcmpeqd",    {{{0xC5, 0xFD, 0x76, 0xC2},             4}, "# compare packed doublewords for equal (integer; AVX2)",
                                                                 "# vpcmpeqd ymm0, ymm0, ymm2"},        "packed 32-bit integer", "compare",      isa::avx2, {}, true},
    {"vpcmpgtd",    {{{0xC5, 0xFD, 0x66, 0xC1},             4}, "# compare packed signed doublewords for greater than (integer; AVX2)",
                                                                 "# vpcmpgtd ymm0, ymm0, ymm1"},        "packed 32-bit integer", "compare",      isa::avx2, {}, true},
    {"vcmpps",      {{{0xC5, 0xFC, 0xC2, 0xC3, 0x00},       5}, "# compare packed single-precision floating-point values (floating point; AVX)",
                                                                 "# vcmpps ymm0, ymm0, ymm3, 0"},       "packed single",         "compare",      isa::avx, {}, true},
    {"vpminud",     {{{0xC4, 0xE2, 0x7D, 0x3B, 0xC2},       5}, "# minimum of packed unsigned doublewords (integer; AVX2)",
                                                                 "# vpminud ymm0, ymm0, ymm2"},         "packed 32-bit integer", "minimum",      isa::avx2},
    {"vminps",      {{{0xC5, 0xFC, 0x5D, 0xC7},             4}, "# minimum of packed single-precision floating-point values (floating point; AVX)",
                                                                 "# vminps ymm0, ymm0, ymm7"},          "packed single",         "minimum",      isa::avx},
    {"vpackssdw",   {{{0xC5, 0xFD, 0x6B, 0xC0},             4}, "# pack doublewords into words with signed saturation (integer; AVX2)",
                                                                 "# vpackssdw ymm0, ymm0, ymm0"},       "packed 32-bit integer", "pack",         isa::avx2, {}, true},
    {"vpunpckldq",  {{{0xC5, 0xFD, 0x62, 0xC0},             4}, "# unpack and interleave low doublewords (integer; AVX2)",
                                                                 "# vpunpckldq ymm0, ymm0, ymm0"},      "packed 32-bit integer", "unpack",       isa::avx2, {}, true},
    {"vunpcklps",   {{{0xC5, 0xFC, 0x14, 0xC0},             4}, "# unpack and interleave low packed single-precision floating-point values (floating point; AVX)",
                                                                 "# vunpcklps ymm0, ymm0, ymm0"},       "packed single",         "unpack",       isa::avx, {}, true},
    {"vphaddd",     {{{0xC4, 0xE2, 0x7D, 0x02, 0xC0},       5}, "# horizontal add packed doublewords (integer; AVX2)",
                                                                 "# vphaddd ymm0, ymm0, ymm0"},         "packed 32-bit integer", "horizontal add", isa::avx2, {}, true},
    {"vhaddps",     {{{0xC5, 0xFF, 0x7C, 0xC0},             4}, "# horizontal add packed single-precision floating-point values (floating point; AVX)",
                                                                 "# vhaddps ymm0, ymm0, ymm0"},         "packed single",         "horizontal add", isa::avx, {}, true},
    {"vpmaddwd",    {{{0xC5, 0xFD, 0xF5, 0xC2},             4}, "# multiply and add packed words (integer; AVX2)",
                                                                 "# vpmaddwd ymm0, ymm0, ymm2"},        "packed 16-bit integer", "multiply-add", isa::avx2, {}, true},
    {"vpdpbusd",    {{{0xC4, 0xE2, 0x75, 0x50, 0xC2},       5}, "# multiply and add unsigned and signed bytes (integer; AVX-VNNI)",
                                                                 "# {vex} vpdpbusd ymm0, ymm1, ymm2"},  "packed bytes",          "multiply-add", isa::avx2 | isa::avx_vnni},
    {"vmovd:eax",   {{{0xC5, 0xF9, 0x7E, 0xC0},             4}, "# move doubleword to a general-purpose register (integer; AVX)",
                                                                 "# vmovd eax, xmm0"},                  "ymm->eax->ymm",         "move, move",   isa::avx, vex_vmovd_from_eax, true},
    {"vpextrd:eax", {{{0xC4, 0xE3, 0x79, 0x16, 0xC0, 0x01}, 6}, "# extract doubleword to a general-purpose register (integer; AVX)",
                                                                 "# vpextrd eax, xmm0, 1"},             "ymm->eax->ymm",         "extract, insert", isa::avx, vex_vpinsrd_eax, true},
};

// The rest of the EVEX round trips through mask register k1: a masked add
// of zero, which waits for the mask and the value both, straight after the
// compare or after the mask's round trip through EAX.
inline constexpr InstructionForm evex_vpaddd_k1[] = {
    {{{0x62, 0xF1, 0x7D, 0x49, 0xFE, 0xC1}, 6}, "# add packed doubleword integers under a mask (integer; AVX-512F)",
                                              "# vpaddd zmm0{k1}, zmm0, zmm1"}};
inline constexpr InstructionForm evex_vaddps_k1[] = {
    {{{0x62, 0xF1, 0x7C, 0x49, 0x58, 0xC1}, 6}, "# add packed single-precision floating-point values under a mask (floating point; AVX-512F)",
                                              "# vaddps zmm0{k1}, zmm0, zmm1"}};
inline constexpr InstructionForm evex_kmovw_eax[] = {
    {{{0xC5, 0xF8, 0x93, 0xC1}, 4}, "# move a mask to a general-purpose register (mask; AVX-512F)", "# kmovw eax, k1"},
    {{{0xC5, 0xF8, 0x92, 0xC8}, 4}, "# move a general-purpose register to a mask (mask; AVX-512F)", "# kmovw k1, eax"},
    evex_vpaddd_k1[0]};

inline constexpr InstructionClass evex512_classes[] = {
    {"vpaddd",      {{{0x62, 0xF1, 0x7D, 0x48, 0xFE, 0xC1},       6}, "# add packed doubleword integers (integer; AVX-512F)",
                                                                       "# vpaddd zmm0, zmm0, zmm1"},          "packed 32-bit integer", "add",          isa::avx512f},
    {"vpmuludq",    {{{0x62, 0xF1, 0xFD, 0x48, 0xF4, 0xC5},       6}, "# multiply packed unsigned doubleword integers (integer; AVX-512F)",
                                                                       "# vpmuludq zmm0, zmm0, zmm5"},        "packed 32-bit integer", "multiply",     isa::avx512f},
    {"vpandd",      {{{0x62, 0xF1, 0x7D, 0x48, 0xDB, 0xC2},       6}, "# bitwise logical and of packed doubleword integers (integer; AVX-512F)",
                                                                       "# vpandd zmm0, zmm0, zmm2"},          "packed 32-bit integer", "logic",        isa::avx512f},
    {"vpshufd",     {{{0x62, 0xF1, 0x7D, 0x48, 0x70, 0xC0, 0x4E}, 7}, "# shuffle packed doublewords (integer; AVX-512F)",
                                                                       "# vpshufd zmm0, zmm0, 0x4E"},         "packed 32-bit integer", "shuffle",      isa::avx512f},
    {"vaddps",      {{{0x62, 0xF1, 0x7C, 0x48, 0x58, 0xC1},       6}, "# add packed single-precision floating-point values (floating point; AVX-512F)",
                                                                       "# vaddps zmm0, zmm0, zmm1"},          "packed single",         "add",          isa::avx512f},
    {"vmulps",      {{{0x62, 0xF1, 0x7C, 0x48, 0x59, 0xC3},       6}, "# multiply packed single-precision floating-point values (floating point; AVX-512F)",
                                                                       "# vmulps zmm0, zmm0, zmm3"},          "packed single",         "multiply",     isa::avx512f},
    {"vandps",      {{{0x62, 0xF1, 0x7C, 0x48, 0x54, 0xC2},       6}, "# bitwise logical and of packed single-precision floating-point values (floating point; AVX-512DQ)",
                                                                       "# vandps zmm0, zmm0, zmm2"},          "packed single",         "logic",        isa::avx512f | isa::avx512dq},
    {"vshufps",     {{{0x62, 0xF1, 0x7C, 0x48, 0xC6, 0xC0, 0x4E}, 7}, "# shuffle packed single-precision floating-point values (floating point; AVX-512F)",
                                                                       "# vshufps zmm0, zmm0, zmm0, 0x4E"},   "packed single",         "shuffle",      isa::avx512f},
    {"vaddpd",      {{{0x62, 0xF1, 0xFD, 0x48, 0x58, 0xC1},       6}, "# add packed double-precision floating-point values (floating point; AVX-512F)",
                                                                       "# vaddpd zmm0, zmm0, zmm1"},          "packed double",         "add",          isa::avx512f},
    {"vmulpd",      {{{0x62, 0xF1, 0xFD, 0x48, 0x59, 0xC4},       6}, "# multiply packed double-precision floating-point values (floating point; AVX-512F)",
                                                                       "# vmulpd zmm0, zmm0, zmm4"},          "packed double",         "multiply",     isa::avx512f},
    {"vandpd",      {{{0x62, 0xF1, 0xFD, 0x48, 0x54, 0xC2},       6}, "# bitwise logical and of packed double-precision floating-point values (floating point; AVX-512DQ)",
                                                                       "# vandpd zmm0, zmm0, zmm2"},          "packed double",         "logic",        isa::avx512f | isa::avx512dq},
    {"vshufpd",     {{{0x62, 0xF1, 0xFD, 0x48, 0xC6, 0xC0, 0x55}, 7}, "# shuffle packed double-precision floating-point values (floating point; AVX-512F)",
                                                                       "# vshufpd zmm0, zmm0, zmm0, 0x55"},   "packed double",         "shuffle",      isa::avx512f},
    {"vfmadd231ps", {{{0x62, 0xF2, 0x65, 0x48, 0xB8, 0xC1},       6}, "# fused multiply-add of packed single-precision floating-point values (floating point; AVX-512F)",
                                                                       "# vfmadd231ps zmm0, zmm3, zmm1"},     "packed single",         "multiply-add", isa::avx512f},
    {"vfmadd231pd", {{{0x62, 0xF2, 0xDD, 0x48, 0xB8, 0xC1},       6}, "# fused multiply-add of packed double-precision floating-point values (floating point; AVX-512F)",
                                                                       "# vfmadd231pd zmm0, zmm4, zmm1"},     "packed double",         "multiply-add", isa::avx512f},
    {"vpermps",     {{{0x62, 0xF2, 0x4D, 0x48, 0x16, 0xC0},       6}, "# permute single-precision floating-point elements (floating point; AVX-512F)",
                                                                       "# vpermps zmm0, zmm6, zmm0"},         "packed single",         "lane cross",   isa::avx512f},
    {"vshuff32x4",  {{{0x62, 0xF3, 0x7D, 0x48, 0x23, 0xC0, 0x4E}, 7}, "# shuffle packed single-precision floating-point 128-bit lanes (floating point; AVX-512F)",
                                                                       "# vshuff32x4 zmm0, zmm0, zmm0, 0x4E"}, "packed single",        "lane cross",   isa::avx512f},
    {"vcvtdq2ps",   {{{0x62, 0xF1, 0x7C, 0x48, 0x5B, 0xC0},       6}, "# convert packed doubleword integers to packed single-precision floating-point values (floating point; AVX-512F)",
                                                                       "# vcvtdq2ps zmm0, zmm0"},             "integer to single",     "convert",      isa::avx512f},
    {"vpslld",      {{{0x62, 0xF1, 0x7D, 0x48, 0x72, 0xF0, 0x00}, 7}, "# shift packed doublewords left logical (integer; AVX-512F)",
                                                                       "# vpslld zmm0, zmm0, 0"},             "packed 32-bit integer", "shift",        isa::avx512f},
    {"vpsrlq",      {{{0x62, 0xF1, 0xFD, 0x48, 0x73, 0xD0, 0x00}, 7}, "# shift packed quadwords right logical (integer; AVX-512F)",
                                                                       "# vpsrlq zmm0, zmm0, 0"},             "packed 64-bit integer", "shift",        isa::avx512f},
    {"vpcmpgtd:k1", {{{0x62, 0xF1, 0x7D, 0x48, 0x66, 0xC9},       6}, "# compare packed signed doublewords for greater than into a mask (integer; AVX-512F)",
                                                                       "# vpcmpgtd k1, zmm0, zmm1"},          "zmm->k1->zmm",          "compare, masked add", isa::avx512f, evex_vpaddd_k1},
    {"vcmpps:k1",   {{{0x62, 0xF1, 0x7C, 0x48, 0xC2, 0xC9, 0x1E}, 7}, "# compare packed single-precision floating-point values into a mask (floating point; AVX-512F)",
                                                                       "# vcmpps k1, zmm0, zmm1, 0x1E"},      "zmm->k1->zmm",          "compare, masked add", isa::avx512f, evex_vaddps_k1},
    {"kmovw:eax",   {{{0x62, 0xF1, 0x7D, 0x48, 0x66, 0xC9},       6}, "# compare packed signed doublewords for greater than into a mask (integer; AVX-512F)",
                                                                       "# vpcmpgtd k1, zmm0, zmm1"},          "zmm->k1->eax->k1->zmm", "mask through eax", isa::avx512f, evex_kmovw_eax},
    {"vpminud",     {{{0x62, 0xF2, 0x7D, 0x48, 0x3B, 0xC2},       6}, "# minimum of packed unsigned doublewords (integer; AVX-512F)",
                                                                       "# vpminud zmm0, zmm0, zmm2"},         "packed 32-bit integer", "minimum",      isa::avx512f},
    {"vminps",      {{{0x62, 0xF1, 0x7C, 0x48, 0x5D, 0xC7},       6}, "# minimum of packed single-precision floating-point values (floating point; AVX-512F)",
                                                                       "# vminps zmm0, zmm0, zmm7"},          "packed single",         "minimum",      isa::avx512f},
    {"vpackssdw",   {{{0x62, 0xF1, 0x7D, 0x48, 0x6B, 0xC0},       6}, "# pack doublewords into words with signed saturation (integer; AVX-512BW)",
                                                                       "# vpackssdw zmm0, zmm0, zmm0"},       "packed 32-bit integer", "pack",         isa::avx512f | isa::avx512bw, {}, true},
    {"vpunpckldq",  {{{0x62, 0xF1, 0x7D, 0x48, 0x62, 0xC0},       6}, "# unpack and interleave low doublewords (integer; AVX-512F)",
                                                                       "# vpunpckldq zmm0, zmm0, zmm0"},      "packed 32-bit integer", "unpack",       isa::avx512f, {}, true},
    {"vunpcklps",   {{{0x62, 0xF1, 0x7C, 0x48, 0x14, 0xC0},       6}, "# unpack and interleave low packed single-precision floating-point values (floating point; AVX-512F)",
                                                                       "# vunpcklps zmm0, zmm0, zmm0"},       "packed single",         "unpack",       isa::avx512f, {}, true},
    {"vpmaddwd",    {{{0x62, 0xF1, 0x7D, 0x48, 0xF5, 0xC2},       6}, "# multiply and add packed words (integer; AVX-512BW)",
                                                                       "# vpmaddwd zmm0, zmm0, zmm2"},        "packed 16-bit integer", "multiply-add", isa::avx512f | isa::avx512bw, {}, true},
    {"vpdpbusd",    {{{0x62, 0xF2, 0x75, 0x48, 0x50, 0xC2},       6}, "# multiply and add unsigned and signed bytes (integer; AVX-512 VNNI)",
                                                                       "# vpdpbusd zmm0, zmm1, zmm2"},        "packed bytes",          "multiply-add", isa::avx512f | isa::avx512_vnni},
    {"vmovd:eax",   {{{0xC5, 0xF9, 0x7E, 0xC0},                   4}, "# move doubleword to a general-purpose register (integer; AVX)",
                                                                       "# vmovd eax, xmm0"},                  "zmm->eax->zmm",         "move, move",   isa::avx512f, vex_vmovd_from_eax, true},
    {"vpextrd:eax", {{{0xC4, 0xE3, 0x79, 0x16, 0xC0, 0x01},       6}, "# extract doubleword to a general-purpose register (integer; AVX)",
                                                                       "# vpextrd eax, xmm0, 1"},             "zmm->eax->zmm",         "extract, insert", isa::avx512f, vex_vpinsrd_eax, true},
};
// clang-format on

