#pragma once

#include <string>

#include "clock/calibration.hpp"
#include "console/json_document.hpp"

// The calibration as the clock program prints it: a few plain lines, each
// ended by a line break.
std::string calibration_report(const Calibration& calibration);

// The calibration in one line, for the reports of other programs.
std::string calibration_line(const Calibration& calibration);

// The calibration as a JSON object, every raw minimum included.
Json calibration_json(const Calibration& calibration);
