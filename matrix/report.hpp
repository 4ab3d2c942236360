#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "clock/calibration.hpp"
#include "console/json_document.hpp"
#include "matrix/arithmetic/triangle_report.hpp"
#include "matrix/movement/movement_report.hpp"
#include "matrix/plan.hpp"
#include "matrix/transitions/transitions_report.hpp"

// The processor's own name for itself, from CPUID, which may hold any bytes:
// a virtual machine's host sets it. SIMD_MIX_PROCESSOR_NAME in the
// environment, where not empty, stands in for it, for the tests.
std::string processor_name();
// What processor_name gives for `given`, the environment's stand-in (null
// where unset), and `brand`, the brand string up to its first NUL.
std::string processor_name_of(const char* given, std::string_view brand);

struct MatrixResults {
    std::vector<FamilyResult> families;
    TransitionTable transitions;
    // Whether the triangles and the transitions were measured (the families
    // are empty where they were not), and whether the movement tables were
    // asked for, and those measured.
    bool arithmetic = true;
    bool movement_asked = false;
    std::vector<MovementFamilyResult> movement;
};

// The readable report: the calibration; for each family, one line where it
// was not measured, else the latencies, the triangle of round trips with the
// measurable and the bimodal cells marked, the crossings that cost and the
// bimodal ones; the transitions table; and the movement tables.
std::string matrix_report(const MatrixResults& results, const Calibration& calibration);

// Every figure and every raw minimum as one JSON document.
Json matrix_json(const MatrixResults& results, const Calibration& calibration);

// The code and bytes of every chain the plans hold, both lengths, and of
// every transition routine the program has, in the benchmark's listing
// format.
std::string chain_listings(const std::vector<FamilyPlan>& plans);
