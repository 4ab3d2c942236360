#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Writes `count` UTF-16 code units to standard output, in order, nothing
// added or dropped. Once standard output has failed for good, the failure is
// reported on standard error (once) and later texts are not written.
void write_console_text(const char16_t* text, std::uint32_t count);

// True once a text could not be written completely.
bool console_output_failed();

// Writes ASCII text the same way, one code unit per character.
void write_console_ascii(std::string_view text);

// Writes ASCII lines, each ended by '\n' in `text`, with the platform's own
// line break (line_break) in its place.
void write_console_lines(std::string_view text);

// The line break of the companion programs' plain text: the platform's own.
#if defined(_WIN32)
inline constexpr std::string_view line_break = "\r\n";
#else
inline constexpr std::string_view line_break = "\n";
#endif

// Whether standard error goes to a terminal, where progress may be shown.
bool standard_error_is_terminal();

// The name of the running program, which begins the one line on standard
// error that reports an output failure: "<name>: cannot write to standard
// output: " and the system's words for the reason. Companion programs set
// their own before they write.
extern const char* program_name;
inline constexpr char output_failure_text[] = ": cannot write to standard output: ";

// Writes the decimal digits of `value` into result_text and their number into
// result_length: a leading "-" for negative values, no leading zeros.
void format_decimal(std::int64_t value);

// The same digits as a string.
std::string decimal_text(std::int64_t value);

// The digits of a count or a time-stamp difference, which never reach 2^63.
inline std::string count_text(std::uint64_t count) { return decimal_text(static_cast<std::int64_t>(count)); }

// `value` rounded to `decimals` places after the point ("0.7026", "-1.5",
// "3"), without exponent or grouping; "nan" or "inf" where it has no digits.
std::string format_fixed(double value, int decimals);

// "-9223372036854775808" is the longest number.
inline constexpr std::uint32_t result_capacity = 20;
extern char16_t result_text[result_capacity];
extern std::uint32_t result_length;
