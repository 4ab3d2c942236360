#pragma once

#include <string>
#include <vector>

#include "clock/calibration.hpp"
#include "console/json_document.hpp"
#include "matrix/movement/movement.hpp"
#include "matrix/movement/movement_plan.hpp"

// One family's movement tables in a run: its plan and, where it was
// measured, a result per table of the plan, in the same order.
struct MovementFamilyResult {
    MovementPlan plan;
    std::vector<MovementResult> tables;
};

// The report's movement section: for each family, one line where it was not
// measured, else the types table as one grid per subtraction (rows store,
// columns load) and the widths table as one line per cell, every cell with
// its step's cycles or its extra over its reference, marked where every
// window agrees that it costs or saves (*) and where it is bimodal (~).
std::string movement_report(const std::vector<MovementFamilyResult>& results);

// Time-stamp ticks per core cycle of every usable movement window.
std::vector<double> movement_window_rulers(const std::vector<MovementFamilyResult>& results);

// The movement section of the JSON document: the settings, the windows'
// ruler, and for each family its status, and where measured its tables:
// their stores, loads and arithmetic, the cells left out and why, and every
// measured cell's figures, its reference and its windows' runs.
Json movement_json(const std::vector<MovementFamilyResult>& results);

// The code and bytes of every movement chain the plans hold, at both
// lengths, in the benchmark's listing format.
std::string movement_listings(const std::vector<MovementPlan>& plans);
