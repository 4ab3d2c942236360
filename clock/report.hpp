#pragma once

#include <string>
#include <string_view>

#include "clock/calibration.hpp"

// The calibration as the clock program prints it: a few plain lines, each
// ended by a line break.
std::string calibration_report(const Calibration& calibration);

// The calibration in one line, for the reports of other programs.
std::string calibration_line(const Calibration& calibration);

// The calibration as a JSON object, every raw minimum included; nested
// objects are indented by `indent` more blanks than its opening line. `more`,
// where given, is one more field ("name": value) after the others.
std::string calibration_json(const Calibration& calibration, int indent = 0, const std::string& more = "");

// A spread as three JSON fields: "NAME", "NAME_lowest" and "NAME_highest".
std::string json_spread(std::string_view name, const Spread& spread);
