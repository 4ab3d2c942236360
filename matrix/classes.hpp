#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

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
};

// A conversion keeps no value but zero: chains that hold one run on zeros.
constexpr bool converts(const InstructionClass& row) { return row.operation == "convert"; }

// The operand registers, in every table at its width: 1 zero, 2 all ones,
// 3 singles of 1.0, 4 doubles of 1.0, 5 the multiplier of pmuludq, 6 the
// index of vpermps, which swaps the 128-bit lanes.
// matrix_chains.S holds one instruction macro per row, in the same order.
// clang-format off
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
};

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
};

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
};
// clang-format on

// Sixteen 32-bit lanes, lowest first: one ZMM register's worth, of which
// the narrower tables use the first 4 or 8.
struct alignas(64) VectorValue {
    std::uint32_t lanes[16];
    friend constexpr bool operator==(const VectorValue&, const VectorValue&) = default;
};

// The same 128 bits in every lane of a register.
constexpr VectorValue repeated(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    VectorValue value{};
    for (int i = 0; i < 16; i += 4) {
        value.lanes[i] = a, value.lanes[i + 1] = b, value.lanes[i + 2] = c, value.lanes[i + 3] = d;
    }
    return value;
}

// The chain's value, which every class but the conversions leaves as it
// is: each 64-bit half is 0x3FF00000'40000000. It is a normal number in
// every type the classes read it as: as singles 2.0 and 1.875, as a double
// 1.0000002384, and its halves are equal, so the swaps of the shuffles and
// the lane crossings keep it too. The operands are zero, all ones and 1.0,
// which add nothing, mask nothing and multiply by one, exactly (a fused
// multiply-add adds zero times one); pmuludq multiplies each half's lower
// lane, 2^30, by 4 * 0x3FF00000 + 1 and so gives the half back; the blends'
// masks are the value's own sign bits, and pblendvb, whose bytes have some
// set, blends the value with itself. No value met by any chain is a
// denormal, an infinity or a NaN, so no chain can meet a microcode assist,
// and none sets an exception flag of the MXCSR.
//
// A conversion changes every value but zero, which it converts exactly:
// a chain with a conversion in it runs on zeros, which are no denormal and
// meet no assist either.
inline constexpr VectorValue chain_value = repeated(0x40000000, 0x3FF00000, 0x40000000, 0x3FF00000);
inline constexpr VectorValue zero_value{};

// Registers 0 to 6 as the chains start: the chain's value, then the
// operands; the chains with a conversion start from row 1, zero.
extern "C" const VectorValue matrix_chain_values[7];
// Register 0 as the last run of a chain left it, at its table's width.
extern "C" VectorValue matrix_chain_result;
