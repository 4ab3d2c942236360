#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// Every JSON document of this project: objects keep their keys in the order
// they were added, which is the order readers see them in.
using Json = nlohmann::ordered_json;

// The version of the documents' keys and their meanings, the first key of
// every document ("format_version"). It rises when a key goes or changes
// its meaning, not when one is added.
inline constexpr int json_format_version = 2;

// A document that holds only "format_version", for the others to follow.
Json json_document();

// `value` rounded to `decimals` places: the same number that format_fixed
// writes, so a reader parses what it would have parsed from that text. A
// value without digits (nan, inf) is null.
Json json_fixed(double value, int decimals);

// Adds "NAME", "NAME_lowest" and "NAME_highest" to `object`, in that order,
// each rounded to six places: the figures are ratios of counts, not counts.
void add_json_spread(Json& object, std::string_view name, double median, double lowest, double highest);

template <typename Spread>
requires requires(const Spread& spread) { spread.median + spread.lowest + spread.highest; }
void add_json_spread(Json& object, std::string_view name, const Spread& spread) {
    add_json_spread(object, name, spread.median, spread.lowest, spread.highest);
}

// The document as text, ASCII only, each line ended by the platform's
// line_break. Every string is escaped by the library: quotes, backslashes,
// control bytes and every character above U+007F as \uXXXX; a byte that is
// not UTF-8 becomes U+FFFD. An object or array holding an array of objects
// is spread over lines, two blanks deeper for each level; any other value
// stays on one line, so that a list of counts reads as one row.
std::string json_text(const Json& document);
