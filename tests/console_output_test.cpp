#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "console/console_output.hpp"
#include "console/utf8.hpp"
#include "tests/stdout_capture.hpp"

namespace {

std::u16string formatted(std::int64_t value) {
    format_decimal(value);
    return {result_text, result_length};
}

TEST(DecimalFormat, ZeroIsOneDigit) { EXPECT_EQ(formatted(0), u"0"); }

TEST(DecimalFormat, NegativeValuesGetOneLeadingMinus) {
    EXPECT_EQ(formatted(-1), u"-1");
    EXPECT_EQ(formatted(-10), u"-10");
}

TEST(DecimalFormat, LargestValue) {
    EXPECT_EQ(formatted(std::numeric_limits<std::int64_t>::max()), u"9223372036854775807");
}

TEST(DecimalFormat, MostNegativeValue) {
    EXPECT_EQ(formatted(std::numeric_limits<std::int64_t>::min()), u"-9223372036854775808");
    EXPECT_EQ(result_length, result_capacity);
}

// Values of every magnitude, against the standard library.
TEST(DecimalFormat, AgreesWithToCharsOnDeterministicSample) {
    std::uint64_t seed = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < 200000; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        // Shifting by a varying amount covers short and long numbers alike.
        const auto value = static_cast<std::int64_t>(seed) >> (i % 64);
        char expected[24];
        const auto end = std::to_chars(expected, expected + sizeof expected, value).ptr;
        const std::u16string actual = formatted(value);
        ASSERT_EQ(std::string(actual.begin(), actual.end()), std::string(expected, end)) << "value " << value;
    }
}

// Fixed-point figures get their digits from the decimal formatting.
TEST(FixedFormat, RoundsToTheGivenPlacesWithOneDigitBeforeThePoint) {
    EXPECT_EQ(format_fixed(0.70261, 4), "0.7026");
    EXPECT_EQ(format_fixed(0.00005, 4), "0.0001");
    EXPECT_EQ(format_fixed(1234.5678, 2), "1234.57");
    EXPECT_EQ(format_fixed(-1.25, 1), "-1.3");
    EXPECT_EQ(format_fixed(3, 0), "3");
    EXPECT_EQ(format_fixed(0.5, 0), "1");
}

TEST(FixedFormat, ValuesThatRoundToZeroHaveNoSign) {
    EXPECT_EQ(format_fixed(-0.04, 1), "0.0");
    EXPECT_EQ(format_fixed(-0.0, 2), "0.00");
    EXPECT_EQ(format_fixed(-0.06, 1), "-0.1");
}

std::string encoded(std::u16string_view text) {
    std::string bytes;
    encode_utf8(text.data(), static_cast<std::uint32_t>(text.size()), [&](const char* block, std::size_t size) {
        EXPECT_LE(size, utf8_block_size);
        bytes.append(block, size);
        return true;
    });
    return bytes;
}

TEST(Utf8Encoding, EncodesEveryLengthOfSequence) {
    EXPECT_EQ(encoded(u"A\u00E9\u20AC\U0001F600"), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(Utf8Encoding, LoneSurrogatesBecomeReplacementCharacters) {
    const char16_t text[] = {u'a', 0xD800, u'b', 0xDC00};
    EXPECT_EQ(encoded({text, 4}),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
}

TEST(Utf8Encoding, SequencesAreNeverSplitAcrossBlocks) {
    // Three-byte characters do not divide the block size evenly.
    const std::u16string text(5000, u'\u20AC');
    std::string expected;
    for (int i = 0; i < 5000; ++i) expected += "\xE2\x82\xAC";
    std::size_t blocks = 0;
    std::string bytes;
    encode_utf8(text.data(), 5000, [&](const char* block, std::size_t size) {
        EXPECT_EQ(size % 3, 0u);
        ++blocks;
        bytes.append(block, size);
        return true;
    });
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(blocks, 4u);
}

TEST(ConsoleText, WritesLongTextCompletelyAndInOrder) {
    std::u16string text;
    std::string expected;
    for (int i = 0; i < 100000; ++i) {
        const char c = static_cast<char>('!' + i % 94);
        text += static_cast<char16_t>(c);
        expected += c;
    }
    StdoutCapture capture;
    write_console_text(text.data(), static_cast<std::uint32_t>(text.size()));
    write_console_text(u"\r\n\tend", 6);
    write_console_text(u"", 0);
    EXPECT_EQ(capture.finish(), expected + "\r\n\tend");
    EXPECT_FALSE(console_output_failed());
}

// Both files stay open, so the second redirection gets a handle of its own
// rather than the first one's again.
TEST(ConsoleText, EachTextGoesWhereStandardOutputPointsWhenItIsWritten) {
    StdoutCapture first;
    write_console_text(u"one ", 4);
    StdoutCapture second;
    write_console_text(u"two ", 4);
    const std::string second_output = second.finish();
    write_console_text(u"three", 5);
    EXPECT_EQ(first.finish(), "one three");
    EXPECT_EQ(second_output, "two ");
    EXPECT_FALSE(console_output_failed());
}

}  // namespace
