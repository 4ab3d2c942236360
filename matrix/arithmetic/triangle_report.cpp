#include "matrix/arithmetic/triangle_report.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "console/console_output.hpp"
#include "matrix/report_json.hpp"
#include "matrix/report_text.hpp"

namespace {

// A family's section: its latencies, its triangle, the crossings that cost
// and the bimodal ones.
class FamilySection {
public:
    explicit FamilySection(const PenaltyMatrix& matrix) : matrix_(matrix) {
        for (std::size_t c : matrix.classes) {
            const InstructionClass& row = matrix.table->classes[c];
            name_width_ = std::max(name_width_, static_cast<int>(row.name.size()) + 2);
            type_width_ = std::max(type_width_, static_cast<int>(row.type.size()) + 2);
            operation_width_ = std::max(operation_width_, static_cast<int>(row.operation.size()) + 1);
        }
    }

    std::string text() const { return latencies() + triangle() + crossings(); }

private:
    std::string name_of(std::size_t c) const { return text_of(matrix_.table->classes[c].name); }

    std::string latencies() const {
        const std::string next_line(line_break);
        std::string text = "latency in core cycles, each class alone (best: median over the windows of their fastest "
                           "runs;" + next_line + "typical: of their middle runs):" + next_line;
        text += std::string(2 + name_width_ + type_width_ + operation_width_, ' ') + "best  typical" + next_line;
        for (std::size_t c : matrix_.classes) {
            const InstructionClass& row = matrix_.table->classes[c];
            text += "  " + padded(name_of(c), name_width_) + padded(text_of(row.type), type_width_) +
                    padded(text_of(row.operation), operation_width_) +
                    padded(format_fixed(matrix_.latencies[c].best.median, 2), -6) +
                    padded(format_fixed(matrix_.latencies[c].typical.median, 2), -9) + next_line;
        }
        return text;
    }

    std::string triangle() const {
        const std::string next_line(line_break);
        std::string text = next_line +
                           "extra core cycles of one round trip, row -> column -> row, beyond both latencies (best);" +
                           next_line +
                           "* marks a cell that every window puts 0.1 or more from zero on one side, ~ a bimodal one:" +
                           next_line;
        const std::vector<std::size_t>& classes = matrix_.classes;
        text += std::string(2 + name_width_, ' ');
        for (std::size_t i = 0; i + 1 < classes.size(); ++i) text += padded(name_of(classes[i]), -name_width_);
        text += next_line;
        for (std::size_t i = 1; i < classes.size(); ++i) {
            std::string line = "  " + padded(name_of(classes[i]), name_width_);
            for (std::size_t j = 0; j < i; ++j) {
                const Cell& cell = matrix_.cell(classes[i], classes[j]);
                const std::string marks = std::string(cell.measurable() ? "*" : " ") + (cell.bimodal() ? "~" : " ");
                line += padded(signed_cycles(cell.best.median) + marks, -name_width_);
            }
            // An unmarked last cell leaves the blanks of its marks behind.
            text += line.substr(0, line.find_last_not_of(' ') + 1) + next_line;
        }
        return text;
    }

    std::string crossings() const {
        const std::string next_line(line_break);
        std::vector<ChainPair> costly, bimodal;
        for (const ChainPair& pair : chains_of(matrix_.classes)) {
            if (pair.first == pair.second) continue;
            const Cell& cell = matrix_.cell(pair.first, pair.second);
            if (cell.measurable() && cell.best.median > 0) costly.push_back(pair);
            if (cell.bimodal()) bimodal.push_back(pair);
        }
        // Dearest first, as far as the report's tenths tell them apart; equals
        // keep the table's order.
        auto tenths = [&](const ChainPair& pair) {
            return std::round(10 * matrix_.cell(pair.first, pair.second).best.median);
        };
        auto dearer = [&](const ChainPair& a, const ChainPair& b) { return tenths(a) > tenths(b); };
        std::stable_sort(costly.begin(), costly.end(), dearer);
        std::stable_sort(bimodal.begin(), bimodal.end(), dearer);
        auto modes_of = [&](const Cell& cell) { return modes_text(cell.modes, cell.typical.median); };
        std::string text = next_line + "crossings that cost:" + next_line;
        if (costly.empty()) text += "  none measurable" + next_line;
        for (const ChainPair& pair : costly) {
            const Cell& cell = matrix_.cell(pair.first, pair.second);
            text += "  " + name_of(pair.first) + " <-> " + name_of(pair.second) + ": " +
                    signed_cycles(cell.best.median) + " cycles per round trip" +
                    (cell.bimodal() ? " (best); two modes: " + modes_of(cell) : "") + next_line;
        }
        text += next_line + "bimodal crossings, whose runs fall in two modes more than " +
                format_fixed(bimodal_margin, 0) + " cycle apart, the faster holding at least " +
                format_fixed(100 * fast_share_least, 0) + "% of" + next_line + "them:" + next_line;
        if (bimodal.empty()) text += "  none" + next_line;
        for (const ChainPair& pair : bimodal) {
            const Cell& cell = matrix_.cell(pair.first, pair.second);
            text += "  " + name_of(pair.first) + " <-> " + name_of(pair.second) + ": best " +
                    signed_cycles(cell.best.median) + "; " + modes_of(cell) + next_line;
        }
        return text;
    }

    const PenaltyMatrix& matrix_;
    int name_width_ = 9;
    int type_width_ = 23;
    int operation_width_ = 9;
};

// The family's heading: its name and title, and for a family not measured,
// why not.
std::string family_heading(const FamilyPlan& plan) {
    std::string line = text_of(plan.family->name) + ": " + text_of(plan.family->title);
    if (plan.status == FamilyStatus::unsupported) line += ": unsupported, " + plan.why;
    if (plan.status == FamilyStatus::within) line += ": " + plan.why;
    return line;
}

std::string left_out_line(const FamilyPlan& plan) {
    std::string line = "left out:";
    for (std::size_t i = 0; i < plan.left_out.size(); ++i) {
        line += std::string(i == 0 ? " " : ", ") + text_of(plan.family->table->classes[plan.left_out[i].first].name) +
                " (" + plan.left_out[i].second + ")";
    }
    return line;
}

}  // namespace

std::string family_report(const FamilyResult& result) {
    const std::string next_line(line_break);
    std::string text = family_heading(result.plan) + next_line;
    if (result.plan.status != FamilyStatus::measured) return text;
    if (!result.plan.left_out.empty()) text += left_out_line(result.plan) + next_line;
    return text + FamilySection(result.matrix).text();
}

Json family_json(const FamilyResult& result) {
    const FamilyPlan& plan = result.plan;
    Json json = {{"name", text_of(plan.family->name)}, {"title", text_of(plan.family->title)}};
    if (plan.status != FamilyStatus::measured) {
        json["status"] = plan.status == FamilyStatus::within ? "within" : "unsupported";
        json["why"] = plan.why;
        return json;
    }
    const PenaltyMatrix& matrix = result.matrix;
    const ClassTable& table = *matrix.table;
    json["status"] = "measured";
    json["left_out"] = Json::array();
    for (const auto& [c, why] : plan.left_out) {
        json["left_out"].push_back({{"name", text_of(table.classes[c].name)}, {"why", why}});
    }
    add_json_spread(json, "window_ticks_per_cycle", matrix.ticks_per_cycle);
    json["classes"] = Json::array();
    for (std::size_t c : matrix.classes) {
        const InstructionClass& row = table.classes[c];
        Json entry = {{"name", text_of(row.name)}, {"type", text_of(row.type)}, {"operation", text_of(row.operation)}};
        // One instruction, or a round trip's instructions in their order.
        entry["instructions"] = {text_of(row.form.mnemonic_line.substr(2))};
        for (const InstructionForm& form : row.then) {
            entry["instructions"].push_back(text_of(form.mnemonic_line.substr(2)));
        }
        add_json_spread(entry, "latency", matrix.latencies[c].best);
        add_json_spread(entry, "typical", matrix.latencies[c].typical);
        entry["windows"] = json_windows(matrix.windows[table.chain_index({c, c})]);
        json["classes"].push_back(std::move(entry));
    }
    json["round_trips"] = Json::array();
    for (const ChainPair& pair : chains_of(matrix.classes)) {
        if (pair.first == pair.second) continue;
        const Cell& cell = matrix.cell(pair.first, pair.second);
        Json entry = {{"first", text_of(table.classes[pair.first].name)},
                      {"second", text_of(table.classes[pair.second].name)}};
        add_json_spread(entry, "cycles", cell.best);
        add_json_spread(entry, "typical", cell.typical);
        entry["measurable"] = cell.measurable();
        add_json_modes(entry, cell.modes);
        entry["windows"] = json_windows(matrix.windows[table.chain_index(pair)]);
        json["round_trips"].push_back(std::move(entry));
    }
    return json;
}

std::vector<double> triangle_window_rulers(const std::vector<FamilyResult>& results) {
    std::vector<double> rulers;
    for (const FamilyResult& result : results) {
        if (result.plan.status != FamilyStatus::measured) continue;
        for (const ChainPair& pair : chains_of(result.matrix.classes)) {
            for (const ChainWindow& window : result.matrix.windows[result.matrix.table->chain_index(pair)]) {
                if (window.usable()) rulers.push_back(ticks_per_cycle(window.ruler));
            }
        }
    }
    return rulers;
}

std::string triangle_listings(const std::vector<FamilyPlan>& plans) {
    std::string text;
    for (const FamilyPlan& plan : plans) {
        const ClassTable& table = *plan.family->table;
        for (const ChainPair& pair : chains_of(plan.classes)) {
            const std::string first = text_of(table.classes[pair.first].name);
            const std::string second = text_of(table.classes[pair.second].name);
            // A round trip is one step of its chain, and its instructions,
            // which the title counts, are shown one by one.
            std::string round_trips;
            std::vector<std::size_t> classes{pair.first};
            if (pair.second != pair.first) classes.push_back(pair.second);
            for (std::size_t c : classes) {
                const InstructionClass& row = table.classes[c];
                if (row.then.empty()) continue;
                round_trips += "; each " + text_of(row.name) + " the round trip " + text_of(row.type) + " in " +
                               decimal_text(static_cast<std::int64_t>(row.instructions())) + " instructions";
            }
            const ChainRoutines& routines = table.routines[table.chain_index(pair)];
            for (std::uint32_t length : {short_chain, long_chain}) {
                const std::vector<Instruction> body = chain_body(table, pair, length);
                const std::string per_iteration =
                    round_trips.empty()
                        ? decimal_text(length) + " instructions per loop iteration"
                        : decimal_text(length) + " steps per loop iteration, " +
                              decimal_text(static_cast<std::int64_t>(body.size())) + " instructions" + round_trips;
                const std::string title = text_of(plan.family->name) + " chain " +
                                          (pair.first == pair.second ? first + " alone" : first + ", " + second) +
                                          ": " + per_iteration;
                text += listing_of(title, body, length == short_chain ? routines.shorter : routines.longer);
            }
        }
    }
    return text;
}
