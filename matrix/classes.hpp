#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "run/kernels.hpp"

// The instruction classes of the penalty matrix: SSE and SSE2, 128 bits,
// register to register, so that memory plays no part. Each one computes
// XMM0 from XMM0 and, but for the shuffles, one operand register that holds
// the value which leaves the chain's value as it is (see chain_values).

enum class DataType { integer, single, double_precision };
enum class Operation { add, multiply, logic, shuffle };

struct InstructionClass {
    std::string_view name;
    InstructionForm form;
    DataType type;
    Operation operation;
};

inline constexpr std::string_view data_type_name(DataType type) {
    switch (type) {
        case DataType::integer: return "packed 32-bit integer";
        case DataType::single: return "packed single";
        case DataType::double_precision: return "packed double";
    }
    return "";
}

inline constexpr std::string_view operation_name(Operation operation) {
    switch (operation) {
        case Operation::add: return "add";
        case Operation::multiply: return "multiply";
        case Operation::logic: return "logic";
        case Operation::shuffle: return "shuffle";
    }
    return "";
}

// One row per class, in the order of the matrix; matrix_chains.S holds one
// instruction macro per row, in the same order. The operand registers: XMM1
// zero, XMM2 all ones, XMM3 four singles of 1.0, XMM4 two doubles of 1.0,
// XMM5 the multiplier of pmuludq.
// clang-format off
inline constexpr InstructionClass instruction_classes[] = {
    {"paddd",   {{{0x66, 0x0F, 0xFE, 0xC1},       4}, "# add packed doubleword integers (integer; SSE2)",
                                                       "# paddd xmm0, xmm1"},         DataType::integer,          Operation::add},
    {"pmuludq", {{{0x66, 0x0F, 0xF4, 0xC5},       4}, "# multiply packed unsigned doubleword integers (integer; SSE2)",
                                                       "# pmuludq xmm0, xmm5"},       DataType::integer,          Operation::multiply},
    {"pand",    {{{0x66, 0x0F, 0xDB, 0xC2},       4}, "# bitwise logical and (integer; SSE2)",
                                                       "# pand xmm0, xmm2"},          DataType::integer,          Operation::logic},
    {"pshufd",  {{{0x66, 0x0F, 0x70, 0xC0, 0x4E}, 5}, "# shuffle packed doublewords (integer; SSE2)",
                                                       "# pshufd xmm0, xmm0, 0x4E"},  DataType::integer,          Operation::shuffle},
    {"addps",   {{{0x0F, 0x58, 0xC1},             3}, "# add packed single-precision floating-point values (floating point; SSE)",
                                                       "# addps xmm0, xmm1"},         DataType::single,           Operation::add},
    {"mulps",   {{{0x0F, 0x59, 0xC3},             3}, "# multiply packed single-precision floating-point values (floating point; SSE)",
                                                       "# mulps xmm0, xmm3"},         DataType::single,           Operation::multiply},
    {"andps",   {{{0x0F, 0x54, 0xC2},             3}, "# bitwise logical and of packed single-precision floating-point values (floating point; SSE)",
                                                       "# andps xmm0, xmm2"},         DataType::single,           Operation::logic},
    {"shufps",  {{{0x0F, 0xC6, 0xC0, 0x4E},       4}, "# shuffle packed single-precision floating-point values (floating point; SSE)",
                                                       "# shufps xmm0, xmm0, 0x4E"},  DataType::single,           Operation::shuffle},
    {"addpd",   {{{0x66, 0x0F, 0x58, 0xC1},       4}, "# add packed double-precision floating-point values (floating point; SSE2)",
                                                       "# addpd xmm0, xmm1"},         DataType::double_precision, Operation::add},
    {"mulpd",   {{{0x66, 0x0F, 0x59, 0xC4},       4}, "# multiply packed double-precision floating-point values (floating point; SSE2)",
                                                       "# mulpd xmm0, xmm4"},         DataType::double_precision, Operation::multiply},
    {"andpd",   {{{0x66, 0x0F, 0x54, 0xC2},       4}, "# bitwise logical and of packed double-precision floating-point values (floating point; SSE2)",
                                                       "# andpd xmm0, xmm2"},         DataType::double_precision, Operation::logic},
    {"shufpd",  {{{0x66, 0x0F, 0xC6, 0xC0, 0x01}, 5}, "# shuffle packed double-precision floating-point values (floating point; SSE2)",
                                                       "# shufpd xmm0, xmm0, 0x01"},  DataType::double_precision, Operation::shuffle},
};
// clang-format on

inline constexpr std::size_t class_count = std::size(instruction_classes);

// One 128-bit register's worth, as four 32-bit lanes, lowest first.
struct alignas(16) Xmm {
    std::uint32_t lanes[4];
    friend constexpr bool operator==(const Xmm&, const Xmm&) = default;
};

// The chain's value, which every class above leaves as it is: each 64-bit
// half is 0x3FF00000'40000000. It is a normal number in every type the
// classes read it as: as singles 2.0 and 1.875, as a double 1.0000000596,
// and its halves are equal, so the swaps of the shuffles keep it too. The
// operands are zero, all ones and 1.0, which add nothing, mask nothing and
// multiply by one, exactly; pmuludq multiplies each half's lower lane,
// 2^30, by 4 * 0x3FF00000 + 1 and so gives the half back. No value met by
// any chain is a denormal, an infinity or a NaN, so no chain can meet a
// microcode assist, and none sets an exception flag of the MXCSR.
inline constexpr Xmm chain_value{{0x40000000, 0x3FF00000, 0x40000000, 0x3FF00000}};

// XMM0 to XMM5 as the chains start: the chain's value, then the operands.
extern "C" const Xmm matrix_chain_values[6];
// XMM0 as the last run of a chain left it.
extern "C" Xmm matrix_chain_result;
