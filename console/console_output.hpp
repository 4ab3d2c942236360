#pragma once

#include <cstdint>

// Writes `count` UTF-16 code units to standard output, in order, nothing
// added or dropped. Once standard output has failed for good, the failure is
// reported on standard error (once) and later texts are not written.
void write_console_text(const char16_t* text, std::uint32_t count);

// True once a text could not be written completely.
bool console_output_failed();

// Begins the one line on standard error that reports the failure; the
// system's words for the reason follow.
inline constexpr char output_failure_prefix[] = "simd-mix-bench: cannot write to standard output: ";

// Writes the decimal digits of `value` into result_text and their number into
// result_length: a leading "-" for negative values, no leading zeros.
void format_decimal(std::int64_t value);

// "-9223372036854775808" is the longest number.
inline constexpr std::uint32_t result_capacity = 20;
extern char16_t result_text[result_capacity];
extern std::uint32_t result_length;
