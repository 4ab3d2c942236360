#include "matrix/movement/movement_plan.hpp"

#include <algorithm>

std::vector<std::size_t> movement_cells_of(const Family& family, const MovementTable& table) {
    std::vector<std::size_t> cells;
    for (std::size_t c = 0; c < table.cells.size(); ++c) {
        if ((table.needs(table.cells[c]) & ~(family.needs | family.covers)) == 0) cells.push_back(c);
    }
    return cells;
}

bool names_cell(const MovementTable& table, const MovementCell& cell, std::string_view name) {
    return table.stores[cell.store].name == name || table.loads[cell.load].name == name ||
           table.arithmetic[cell.arithmetic].name == name;
}

namespace {

bool chosen(const PlanRequest& request, const MovementTable& table, const MovementCell& cell) {
    if (request.classes.empty()) return true;
    return std::any_of(request.classes.begin(), request.classes.end(),
                       [&](std::string_view name) { return names_cell(table, cell, name); });
}

}  // namespace

std::vector<MovementPlan> plan_movement(const PlanRequest& request, const CpuidAnswers& answers) {
    const bool every_family = request.families.empty();
    const Features features = usable_features(answers);
    std::vector<MovementPlan> plans;
    for (const Family& family : families) {
        if (!every_family &&
            std::find(request.families.begin(), request.families.end(), family.name) == request.families.end()) {
            continue;
        }
        MovementPlan plan{&family, FamilyStatus::measured, "", {}};
        const MovementTables tables = movement_tables_of(family);
        for (const MovementTable* table : {tables.types, tables.widths}) {
            const std::vector<std::size_t> cells = movement_cells_of(family, *table);
            // The cells chosen, and the references they are counted against.
            std::vector<bool> wanted(table->cells.size());
            for (std::size_t c : cells) {
                if (chosen(request, *table, table->cells[c])) wanted[c] = wanted[table->cells[c].reference] = true;
            }
            MovementSelection selection{table, {}, {}};
            for (std::size_t c : cells) {
                if (!wanted[c]) continue;
                const Features needs = family.needs | table->needs(table->cells[c]);
                if (request.listing || (needs & ~features) == 0) {
                    selection.cells.push_back(c);
                } else {
                    selection.left_out.push_back({c, why_unusable(needs, answers)});
                }
            }
            if (!selection.cells.empty() || !selection.left_out.empty()) plan.tables.push_back(std::move(selection));
        }
        if (plan.tables.empty()) continue;  // no cell named
        const std::string lacking = why_unusable(family.needs, answers);
        const bool none = std::all_of(plan.tables.begin(), plan.tables.end(),
                                      [](const MovementSelection& table) { return table.cells.empty(); });
        if (!request.listing && !lacking.empty()) {
            plan = {&family, FamilyStatus::unsupported, lacking, {}};
        } else if (none) {
            plan = {&family, FamilyStatus::unsupported, plan.tables.front().left_out.front().second, {}};
        }
        plans.push_back(std::move(plan));
    }
    // avx's tables are part of avx2's: by default they are not measured twice.
    const bool avx2_measured = std::any_of(plans.begin(), plans.end(), [](const MovementPlan& plan) {
        return plan.family->name == "avx2" && plan.status == FamilyStatus::measured;
    });
    if (every_family && !request.listing && avx2_measured) {
        for (MovementPlan& plan : plans) {
            if (plan.family->name == "avx" && plan.status == FamilyStatus::measured) {
                plan = {plan.family, FamilyStatus::within, "every avx movement chain is measured in avx2's tables", {}};
            }
        }
    }
    return plans;
}
