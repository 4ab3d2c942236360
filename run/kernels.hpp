#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// The executed bytes of one instruction form. A subtraction's last byte is
// its ModRM byte for XMM0 - XMM0 (0xC0); the subtrahend register is added.
// Seven bytes hold the longest form without a memory operand that any
// program here lists: an EVEX shuffle with its immediate.
struct Encoding {
    std::uint8_t bytes[7];
    std::size_t size;

    constexpr const std::uint8_t* begin() const { return bytes; }
    constexpr const std::uint8_t* end() const { return bytes + size; }
};

struct InstructionForm {
    Encoding encoding;
    std::string_view summary;
    // A subtraction's line ends in "xmm"; the subtrahend register's digit
    // follows it.
    std::string_view mnemonic_line;
};

inline constexpr std::string_view integer_move_summary =
    "# move aligned double quadword (integer/general purpose; SSE2)";
inline constexpr std::string_view float_move_summary =
    "# move aligned packed single-precision floating-point values (floating point; SSE)";

// clang-format off
inline constexpr InstructionForm integer_load     {{{0x66, 0x0F, 0x6F, 0x00}, 4}, integer_move_summary, "# movdqa xmm0, RAM[eax]"};
inline constexpr InstructionForm integer_store    {{{0x66, 0x0F, 0x7F, 0x00}, 4}, integer_move_summary, "# movdqa RAM[eax], xmm0"};
inline constexpr InstructionForm float_load       {{{0x0F, 0x28, 0x00},       3}, float_move_summary,   "# movaps xmm0, RAM[eax]"};
inline constexpr InstructionForm float_store      {{{0x0F, 0x29, 0x00},       3}, float_move_summary,   "# movaps RAM[eax], xmm0"};
inline constexpr InstructionForm integer_subtract {{{0x66, 0x0F, 0xFA, 0xC0}, 4}, "# subtract packed integers (integer; SSE2)",
                                                                                                        "# psub xmm0, xmm"};
inline constexpr InstructionForm float_subtract   {{{0x0F, 0x5C, 0xC0},       3}, "# subtract packed single-precision floating-point values (floating point; SSE)",
                                                                                                        "# subps xmm0, xmm"};
// clang-format on

// One instruction of a kernel: a form and, for a subtraction, the subtrahend
// register (1 to 4; 0 for a move).
struct Instruction {
    const InstructionForm* form;
    int subtrahend = 0;

    constexpr Encoding encoding() const {
        Encoding encoding = form->encoding;
        encoding.bytes[encoding.size - 1] += static_cast<std::uint8_t>(subtrahend);
        return encoding;
    }
};

using Kernel = std::span<const Instruction>;

// The loop bodies, in body order: load XMM0 from the scratch block, subtract
// XMM1..XMM4 from it in a dependent chain, store it back.
// clang-format off
inline constexpr Instruction integer_moves_integer_arithmetic[] = {
    {&integer_load}, {&integer_subtract, 1}, {&integer_subtract, 2}, {&integer_subtract, 3}, {&integer_subtract, 4}, {&integer_store}};
inline constexpr Instruction float_moves_integer_arithmetic[] = {
    {&float_load},   {&integer_subtract, 1}, {&integer_subtract, 2}, {&integer_subtract, 3}, {&integer_subtract, 4}, {&float_store}};
inline constexpr Instruction float_moves_float_arithmetic[] = {
    {&float_load},   {&float_subtract, 1},   {&float_subtract, 2},   {&float_subtract, 3},   {&float_subtract, 4},   {&float_store}};
inline constexpr Instruction alternating_types[] = {
    {&float_load},   {&float_subtract, 1},   {&integer_subtract, 2}, {&float_subtract, 3},   {&integer_subtract, 4}, {&integer_store}};
// clang-format on

constexpr std::size_t body_length(Kernel body) {
    std::size_t length = 0;
    for (const Instruction& instruction : body) length += instruction.encoding().size;
    return length;
}

static_assert(body_length(integer_moves_integer_arithmetic) == 24);
static_assert(body_length(float_moves_integer_arithmetic) == 22);
static_assert(body_length(float_moves_float_arithmetic) == 18);
static_assert(body_length(alternating_types) == 21);

// The body that the loop of each test repeats; test -1 times the bare loop.
constexpr Kernel kernel_of_test(int number) {
    switch (number) {
        case 0: return integer_moves_integer_arithmetic;
        case 1: return float_moves_integer_arithmetic;
        case 2: return float_moves_float_arithmetic;
        case 3: return alternating_types;
        default: return {};
    }
}
