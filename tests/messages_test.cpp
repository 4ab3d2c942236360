#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "run/test_table.hpp"
#include "texts/messages.hpp"

namespace {

std::string narrow(std::u16string_view text) {
    std::string narrowed;
    for (char16_t unit : text) {
        EXPECT_LT(unit, 0x80) << "not ASCII";
        narrowed += static_cast<char>(unit);
    }
    return narrowed;
}

template <typename Text>
std::string narrow(const Text& text) {
    return narrow(std::u16string_view(text.data(), text.size()));
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST(Introduction, IsTheWholeTextWithCrLfLineBreaks) {
    const std::string expected =
        "what this programm does\r\n"
        "-----------------------\r\n"
        "This programm is going to run several pieces of code with SIMD-instructions and measure the execution time in "
        "machine cycles.\r\n"
        "\r\n"
        "The code pieces are made to check wether processors exist which have a penality when it's about executing "
        "SIMD-instructions with mixed data types.\r\n"
        "\r\n"
        "The programm is going to run several tests. Before executing some test code the programm will show the code. "
        "While running a test the programm will execute the code 4,096 times in a loop. The execution time of the loop "
        "body is included in the measurement result. The measurement result will show the execution time of the whole "
        "loop (several tenthousand machine cycles) + a few instructions extra to keep track of the measurement results "
        "(less than 100 machine cycles). The loop is going to be executed many times and only the lowest execution "
        "time is going to be showed because it contains the lowest amount of interference from other programms and the "
        "operating system.\r\n"
        "\r\n"
        "possible crash warning\r\n"
        "----------------------\r\n"
        "The programm is going to execute\r\n"
        "\t- the instruction \"read time-stamp counter\" (\"rdtsc\"), which exists since 1993 with the introduction of "
        "the Pentium processor,\r\n"
        "\t- instructions from the instruction set \"streaming single instruction multiple data extensions\" "
        "(\"SSE\"), which exists since 26th February 1999 with the introduction of the Pentium 3 processor, and\r\n"
        "\t- instructions from the instruction set \"streaming single instruction multiple data extensions 2\" "
        "(\"SSE2\"), which exists since 20th November 2000 with the introduction of the Pentium 4 processor.\r\n"
        "Even though the requirements for running this programm is probably met by most processors, there is still a "
        "slight chance that your processor does not support the execution of one of the instructions, even if your "
        "processor is relatively new. This simple programm is not going to check wether your processor meets the "
        "execution requirements and therefore might crash instead of outputting the measurement results.";
    EXPECT_EQ(narrow(introduction), expected);
}

TEST(Descriptions, EmptyLoopTestIsTheWholeText) {
    EXPECT_EQ(narrow(test_table[0].description),
              "\r\n"
              "\r\n"
              "test -1 (empty loop body)\r\n"
              "-------------------------\r\n"
              "\tdata movement: none\r\n"
              "\tarithmetic:    none\r\n"
              "\r\n"
              "\tcode:\r\n"
              "\t\tnone\r\n"
              "\r\n"
              "\texecution time in machine cycles: ");
}

std::string head(std::u16string_view text, const std::string& expected) {
    return narrow(text).substr(0, expected.size());
}

TEST(Descriptions, HeadEachTestWithItsTitleAndDataTypes) {
    std::string expected =
        "\r\n\r\ntest 0\r\n------\r\n\tdata movement: integer/general purpose\r\n\tarithmetic:    integer\r\n"
        "\r\n\tcode:\r\n\t\t/*|*/\r\n";
    EXPECT_EQ(head(test_table[1].description, expected), expected);
    expected =
        "\r\n\r\ntest 1\r\n------\r\n\tdata movement: floating point\r\n\tarithmetic:    integer\r\n\r\n\tcode:\r\n";
    EXPECT_EQ(head(test_table[2].description, expected), expected);
    expected =
        "\r\n\r\ntest 2\r\n------\r\n\tdata movement: floating point\r\n\tarithmetic:    floating point\r\n"
        "\r\n\tcode:\r\n";
    EXPECT_EQ(head(test_table[3].description, expected), expected);
    expected =
        "\r\n\r\ntest 3\r\n------\r\n\tdata movement: floating point and integer\r\n"
        "\tarithmetic:    floating point and integer\r\n\r\n\tcode:\r\n";
    EXPECT_EQ(head(test_table[4].description, expected), expected);
}

TEST(Descriptions, ListingStartsWithAMarkerAndTheFirstInstructionBlock) {
    const std::string test0 = narrow(test_table[1].description);
    EXPECT_NE(test0.find("\tcode:\r\n"
                         "\t\t/*|*/\r\n"
                         "\r\n"
                         "\t\t# move aligned double quadword (integer/general purpose; SSE2)\r\n"
                         "\t\t# movdqa xmm0, RAM[eax]\r\n"
                         "\t\t66 0F 6F 00\r\n"
                         "\r\n"
                         "\t\t# subtract packed integers (integer; SSE2)\r\n"),
              std::string::npos);
}

TEST(Descriptions, MarkTheBoundaryAtBodyOffsetSixteen) {
    EXPECT_NE(narrow(test_table[1].description)
                  .find("\t\t66 0F FA C3\r\n"
                        "\r\n"
                        "\t\t/*|*/\r\n"
                        "\r\n"
                        "\t\t# subtract packed integers (integer; SSE2)\r\n"
                        "\t\t# psub xmm0, xmm4\r\n"
                        "\t\t66 0F FA C4\r\n"),
              std::string::npos);
    EXPECT_NE(narrow(test_table[2].description).find("\t\t# psub xmm0, xmm4\r\n\t\t66/*|*/ 0F FA C4\r\n"),
              std::string::npos);
    EXPECT_NE(narrow(test_table[3].description).find("\t\t# movaps RAM[eax], xmm0\r\n\t\t0F/*|*/ 29 00\r\n"),
              std::string::npos);
    EXPECT_NE(narrow(test_table[4].description).find("\t\t# psub xmm0, xmm4\r\n\t\t66 0F FA/*|*/ C4\r\n"),
              std::string::npos);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(occurrences(narrow(test_table[i].description), "/*|*/"), 2u);
}

TEST(Descriptions, ListIntegerSubtractionsAsPsub) {
    const std::string test1 = narrow(test_table[2].description);
    for (const char* line :
         {"\t\t# psub xmm0, xmm1\r\n\t\t66 0F FA C1\r\n", "\t\t# psub xmm0, xmm2\r\n\t\t66 0F FA C2\r\n",
          "\t\t# psub xmm0, xmm3\r\n\t\t66 0F FA C3\r\n"}) {
        EXPECT_EQ(occurrences(test1, line), 1u) << line;
    }
    EXPECT_EQ(occurrences(test1, "psubd"), 0u);
}

TEST(Descriptions, EndWithTheCountLabelAndNoLineBreak) {
    for (const TestCase& test : test_table) {
        const std::string text = narrow(test.description);
        EXPECT_EQ(text.substr(text.size() - 39), "\r\n\r\n\texecution time in machine cycles: ");
    }
}

}  // namespace
