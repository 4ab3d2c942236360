#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "run/kernels.hpp"

// Writes counted UTF-16 text line by line: CR LF between lines, none after
// the last. Without a buffer it only counts, so that a text's length is known
// at compile time before the text is stored.
class TextWriter {
public:
    constexpr TextWriter() = default;
    constexpr explicit TextWriter(char16_t* buffer) : buffer_(buffer) {}

    constexpr void begin_line(int tabs) {
        if (lines_++ != 0) put("\r\n");
        for (int i = 0; i < tabs; ++i) put('\t');
    }
    constexpr void line(int tabs, std::string_view text) {
        begin_line(tabs);
        put(text);
    }
    constexpr void empty_line() { begin_line(0); }

    constexpr void put(char c) {
        if (buffer_ != nullptr) buffer_[length_] = static_cast<char16_t>(static_cast<unsigned char>(c));
        ++length_;
    }
    constexpr void put(std::string_view text) {
        for (char c : text) put(c);
    }

    constexpr std::size_t length() const { return length_; }

private:
    char16_t* buffer_ = nullptr;
    std::size_t length_ = 0;
    std::size_t lines_ = 0;
};

// Renders what `compose` writes into an array of exactly its length.
template <void (*compose)(TextWriter&)>
constexpr auto render() {
    constexpr std::size_t length = [] {
        TextWriter counter;
        compose(counter);
        return counter.length();
    }();
    std::array<char16_t, length> text{};
    TextWriter writer(text.data());
    compose(writer);
    return text;
}

constexpr void compose_introduction(TextWriter& out) {
    out.line(0, "what this programm does");
    out.line(0, "-----------------------");
    out.line(0,
             "This programm is going to run several pieces of code with SIMD-instructions and measure the "
             "execution time in machine cycles.");
    out.empty_line();
    out.line(0,
             "The code pieces are made to check wether processors exist which have a penality when it's about "
             "executing SIMD-instructions with mixed data types.");
    out.empty_line();
    out.line(0,
             "The programm is going to run several tests. Before executing some test code the programm will show "
             "the code. While running a test the programm will execute the code 4,096 times in a loop. The "
             "execution time of the loop body is included in the measurement result. The measurement result will "
             "show the execution time of the whole loop (several tenthousand machine cycles) + a few instructions "
             "extra to keep track of the measurement results (less than 100 machine cycles). The loop is going to "
             "be executed many times and only the lowest execution time is going to be showed because it contains "
             "the lowest amount of interference from other programms and the operating system.");
    out.empty_line();
    out.line(0, "possible crash warning");
    out.line(0, "----------------------");
    out.line(0, "The programm is going to execute");
    out.line(1,
             "- the instruction \"read time-stamp counter\" (\"rdtsc\"), which exists since 1993 with the "
             "introduction of the Pentium processor,");
    out.line(1,
             "- instructions from the instruction set \"streaming single instruction multiple data extensions\" "
             "(\"SSE\"), which exists since 26th February 1999 with the introduction of the Pentium 3 processor, "
             "and");
    out.line(1,
             "- instructions from the instruction set \"streaming single instruction multiple data extensions 2\" "
             "(\"SSE2\"), which exists since 20th November 2000 with the introduction of the Pentium 4 processor.");
    out.line(0,
             "Even though the requirements for running this programm is probably met by most processors, there is "
             "still a slight chance that your processor does not support the execution of one of the "
             "instructions, even if your processor is relatively new. This simple programm is not going to check "
             "wether your processor meets the execution requirements and therefore might crash instead of "
             "outputting the measurement results.");
}

struct DescriptionRow {
    std::string_view title;
    std::string_view data_movement;
    std::string_view arithmetic;
};

// clang-format off
inline constexpr DescriptionRow description_rows[] = {
    // title                        data movement                 arithmetic
    {"test -1 (empty loop body)",  "none",                       "none"},
    {"test 0",                     "integer/general purpose",    "integer"},
    {"test 1",                     "floating point",             "integer"},
    {"test 2",                     "floating point",             "floating point"},
    {"test 3",                     "floating point and integer", "floating point and integer"},
};
// clang-format on

inline constexpr std::string_view boundary_marker = "/*|*/";
inline constexpr std::string_view count_label = "execution time in machine cycles: ";

constexpr void put_hex_byte(TextWriter& out, std::uint8_t byte) {
    constexpr std::string_view digits = "0123456789ABCDEF";
    out.put(digits[byte >> 4]);
    out.put(digits[byte & 0xF]);
}

// The loop body instruction by instruction, with a marker at every 16-byte
// boundary: a marker line before an instruction that starts on one, or a
// marker after the byte in front of one that falls inside an instruction.
constexpr void compose_listing(TextWriter& out, Kernel body) {
    if (body.empty()) {
        out.line(2, "none");
        out.empty_line();
        return;
    }
    std::size_t offset = 0;
    for (const Instruction& instruction : body) {
        if (offset % 16 == 0) {
            out.line(2, boundary_marker);
            out.empty_line();
        }
        out.line(2, instruction.form->summary);
        out.line(2, instruction.form->mnemonic_line);
        if (instruction.subtrahend != 0) out.put(static_cast<char>('0' + instruction.subtrahend));
        const Encoding encoding = instruction.encoding();
        out.begin_line(2);
        for (std::size_t i = 0; i < encoding.size; ++i) {
            if (i != 0) out.put(' ');
            put_hex_byte(out, encoding.bytes[i]);
            ++offset;
            if (offset % 16 == 0 && i + 1 != encoding.size) out.put(boundary_marker);
        }
        out.empty_line();
    }
}

template <int number>
constexpr void compose_description(TextWriter& out) {
    const DescriptionRow& row = description_rows[number + 1];
    // The two empty lines end the line of whatever was written before.
    out.empty_line();
    out.empty_line();
    out.line(0, row.title);
    out.begin_line(0);
    for (std::size_t i = 0; i < row.title.size(); ++i) out.put('-');
    out.line(1, "data movement: ");
    out.put(row.data_movement);
    out.line(1, "arithmetic:    ");
    out.put(row.arithmetic);
    out.empty_line();
    out.line(1, "code:");
    compose_listing(out, kernel_of_test(number));
    // The cycle count follows on the same line.
    out.line(1, count_label);
}

inline constexpr auto introduction = render<compose_introduction>();

template <int number>
inline constexpr auto description_of_test = render<compose_description<number>>();

static_assert(introduction.size() == 2025);
static_assert(description_of_test<-1>.size() == 157);
static_assert(description_of_test<0>.size() == 709);
static_assert(description_of_test<1>.size() == 728);
static_assert(description_of_test<2>.size() == 871);
static_assert(description_of_test<3>.size() == 810);
