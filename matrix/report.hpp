#pragma once

#include <string>
#include <vector>

#include "clock/calibration.hpp"
#include "matrix/penalties.hpp"

// The processor's own name for itself, from CPUID.
std::string processor_name();

// The readable report: the calibration, the latencies, the triangle of
// round trips with the measurable and the bimodal cells marked, the crossings
// that cost and the bimodal ones.
std::string matrix_report(const PenaltyMatrix& matrix, const Calibration& calibration);

// Every figure and every raw minimum as one JSON object.
std::string matrix_json(const PenaltyMatrix& matrix, const Calibration& calibration);

// The code and bytes of every chain the classes need, both lengths, in the
// benchmark's listing format.
std::string chain_listings(const std::vector<std::size_t>& classes);
