#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "matrix/movement/movement.hpp"
#include "matrix/plan.hpp"

// What becomes of a family's movement tables in one run: measured, within
// another family, or unsupported, as for its triangle; the tables with any
// cell chosen, types first.
struct MovementPlan {
    const Family* family;
    FamilyStatus status;
    std::string why;
    std::vector<MovementSelection> tables;
};

// The cells of a family's table: those whose instructions need no more than
// the family covers (the avx family has no integer subtraction and no OR at
// 256 bits, which need AVX2).
std::vector<std::size_t> movement_cells_of(const Family& family, const MovementTable& table);

// Whether a name given to --classes chooses the cell: the name of its store,
// its load or its arithmetic ("movups", "vsubps", "halves", "edx32", "por").
bool names_cell(const MovementTable& table, const MovementCell& cell, std::string_view name);

// The movement tables to report, family by family in the order of the
// families table, from the request (whose names have been checked by
// plan_families) and what CPUID and XGETBV answered. By default every
// family's tables; avx counts as within avx2 where avx2 is measured. With
// class names, only the cells they choose, with the reference cells those
// are counted against, and only the families that have any. A cell the
// processor cannot run is left out, and a family the processor lacks is
// unsupported; the listing plans every cell chosen.
std::vector<MovementPlan> plan_movement(const PlanRequest& request, const CpuidAnswers& answers);
