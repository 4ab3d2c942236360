#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "matrix/families.hpp"
#include "matrix/features.hpp"

// What becomes of a family in one run of the program.
enum class FamilyStatus {
    measured,
    // Its classes are all in another family measured in the same run.
    within,
    // The processor or the system cannot run it.
    unsupported,
};

struct FamilyPlan {
    const Family* family;
    FamilyStatus status;
    // Why it is within another family or unsupported.
    std::string why;
    // The classes to measure, indices into the family's table.
    std::vector<std::size_t> classes;
    // The family's classes that the processor cannot run, and why.
    std::vector<std::pair<std::size_t, std::string>> left_out;
};

struct PlanRequest {
    // Family names, as given to --isa; empty for every family.
    std::vector<std::string_view> families;
    // Class names, as given to --classes; empty for every class.
    std::vector<std::string_view> classes;
    // For the listing, which runs nothing: every family and class chosen is
    // planned as measured, whatever the processor has.
    bool listing = false;
    // Which parts to measure: the triangles and transitions, the movement
    // tables, or both.
    bool arithmetic = true;
    bool movement = true;
};

// The families to report, in the order of the families table, from the
// request and what CPUID and XGETBV answered. By default every family is
// reported, and avx counts as within avx2 where avx2 is measured, whose
// triangle holds all of avx's. With class names, only the families that have
// one of them are reported, each with those classes only. Sets `why` and
// gives nothing for an unknown, empty or repeated name.
std::vector<FamilyPlan> plan_families(const PlanRequest& request, const CpuidAnswers& answers, std::string& why);

// A comma-separated list split at its commas; an empty name stays in it.
std::vector<std::string_view> names_in(std::string_view list);
