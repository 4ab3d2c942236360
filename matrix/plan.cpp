#include "matrix/plan.hpp"

#include <algorithm>

#include "matrix/movement/movement_plan.hpp"

namespace {

bool listed(const std::vector<std::string_view>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// An empty or repeated name in a list, as the reason to refuse it.
std::string fault_in(const std::vector<std::string_view>& names, std::string_view what) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i].empty()) return "an empty " + std::string(what) + " name";
        for (std::size_t j = 0; j < i; ++j) {
            if (names[i] == names[j]) return std::string(what) + " '" + std::string(names[i]) + "' named twice";
        }
    }
    return "";
}

}  // namespace

std::vector<std::string_view> names_in(std::string_view list) {
    std::vector<std::string_view> names;
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        names.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

std::vector<FamilyPlan> plan_families(const PlanRequest& request, const CpuidAnswers& answers, std::string& why) {
    if (why = fault_in(request.families, "family"); !why.empty()) return {};
    if (why = fault_in(request.classes, "class"); !why.empty()) return {};
    for (std::string_view name : request.families) {
        if (std::none_of(std::begin(families), std::end(families), [&](const Family& f) { return f.name == name; })) {
            why = "no family '" + std::string(name) + "' (sse, avx, avx2 or avx512)";
            return {};
        }
    }
    const bool every_family = request.families.empty();
    const Features features = usable_features(answers);
    std::vector<std::string_view> found, classes_only;
    std::vector<FamilyPlan> plans;
    for (const Family& family : families) {
        if (!every_family && !listed(request.families, family.name)) continue;
        if (request.movement) {
            const MovementTables tables = movement_tables_of(family);
            for (const MovementTable* table : {tables.types, tables.widths}) {
                for (std::size_t c : movement_cells_of(family, *table)) {
                    for (std::string_view name : request.classes) {
                        if (names_cell(*table, table->cells[c], name)) found.push_back(name);
                    }
                }
            }
        }
        if (!request.arithmetic) {
            // A class of the family that no movement cell uses is named so.
            for (std::size_t c : classes_of(family)) classes_only.push_back(family.table->classes[c].name);
            continue;
        }
        FamilyPlan plan{&family, FamilyStatus::measured, "", {}, {}};
        for (std::size_t c : classes_of(family)) {
            const std::string_view name = family.table->classes[c].name;
            if (!request.classes.empty() && !listed(request.classes, name)) continue;
            found.push_back(name);
            const Features needs = family.needs | family.table->classes[c].needs;
            if (request.listing || (needs & ~features) == 0) {
                plan.classes.push_back(c);
            } else {
                plan.left_out.push_back({c, why_unusable(needs, answers)});
            }
        }
        if (plan.classes.empty() && plan.left_out.empty()) continue;  // none of the classes named
        // A family the processor lacks is unsupported as a whole, not a
        // family whose every class is left out.
        const std::string lacking = why_unusable(family.needs, answers);
        if (!request.listing && !lacking.empty()) {
            plan = {&family, FamilyStatus::unsupported, lacking, {}, {}};
        } else if (plan.classes.empty()) {
            plan = {&family, FamilyStatus::unsupported, plan.left_out.front().second, {}, {}};
        }
        plans.push_back(std::move(plan));
    }
    for (std::string_view name : request.classes) {
        if (!listed(found, name)) {
            why = listed(classes_only, name)
                      ? "no movement cell uses the class '" + std::string(name) + "'"
                      : "no instruction class '" + std::string(name) + "' in the families chosen";
            return {};
        }
    }
    // avx's triangle is part of avx2's: by default it is not measured twice.
    auto measured = [&](std::string_view name) {
        return std::any_of(plans.begin(), plans.end(), [&](const FamilyPlan& plan) {
            return plan.family->name == name && plan.status == FamilyStatus::measured;
        });
    };
    if (every_family && !request.listing && measured("avx2")) {
        for (FamilyPlan& plan : plans) {
            if (plan.family->name == "avx" && plan.status == FamilyStatus::measured) {
                plan = {plan.family, FamilyStatus::within, "every avx class is measured in the avx2 triangle", {}, {}};
            }
        }
    }
    return plans;
}
