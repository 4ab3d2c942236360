#pragma once

#include <string>
#include <vector>

#include "console/json_document.hpp"
#include "matrix/arithmetic/penalties.hpp"
#include "matrix/plan.hpp"

// The triangles' part of the report, the JSON and the listing.

// One family of a run: its plan and, where it was measured, its matrix.
struct FamilyResult {
    FamilyPlan plan;
    PenaltyMatrix matrix;
};

// A family's section of the report: its heading, which says why where it was
// not measured, else the classes left out, the latencies, the triangle of
// round trips with the measurable and the bimodal cells marked, the
// crossings that cost and the bimodal ones.
std::string family_report(const FamilyResult& result);

// A family in the JSON document: its status, and where measured, the classes
// left out and why, each class's latency and each round trip's figures, with
// their windows' runs.
Json family_json(const FamilyResult& result);

// Time-stamp ticks per core cycle of every usable window of the measured
// families.
std::vector<double> triangle_window_rulers(const std::vector<FamilyResult>& results);

// The code and bytes of every chain the plans hold, at both lengths, in the
// benchmark's listing format.
std::string triangle_listings(const std::vector<FamilyPlan>& plans);
