#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "matrix/modes.hpp"
#include "run/kernels.hpp"
#include "run/measurement.hpp"

// What the matrix's text sections share: columns, signed figures and the
// listing of a loop body.

// A table's name or title as a string.
inline std::string text_of(std::string_view view) { return std::string(view); }

// Left-aligned in `width` columns, or right-aligned with a negative width.
std::string padded(std::string text, int width);

// A figure with its sign, to `places` decimals; a zero reads +0.0, whatever
// the sign of the tiny figure it was rounded from.
std::string signed_cycles(double cycles, int places = 1);

// A listing in the benchmark's format under `title`, with this program's
// line breaks, ending with an empty line.
std::string listing_of(const std::string& title, const std::vector<Instruction>& body);
// The same for a routine's loop: each instruction's bytes as they lie in the
// memory that the routine runs from, its text from `body`.
std::string listing_of(const std::string& title, const std::vector<Instruction>& body, TimedRun routine);

// A bimodal cell's two modes: "fast +3.9 in 15.0% of runs, typical +78.0",
// the figures to `places` decimals.
std::string modes_text(const Modes& modes, double typical, int places = 1);
