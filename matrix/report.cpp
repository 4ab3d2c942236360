#include "matrix/report.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "clock/report.hpp"
#include "console/console_output.hpp"
#include "texts/messages.hpp"

namespace {

std::string name_of(std::size_t c) { return std::string(instruction_classes[c].name); }

// Left-aligned in `width` columns, or right-aligned with a negative width.
std::string padded(std::string text, int width) {
    const std::size_t size = static_cast<std::size_t>(width < 0 ? -width : width);
    if (text.size() >= size) return text;
    return width < 0 ? std::string(size - text.size(), ' ') + text : text + std::string(size - text.size(), ' ');
}

std::string signed_cycles(double cycles) {
    const std::string digits = format_fixed(cycles, 1);
    return digits[0] == '-' || digits == "0.0" ? (digits == "0.0" ? "+0.0" : digits) : "+" + digits;
}

const Cell& cell_of(const PenaltyMatrix& matrix, std::size_t a, std::size_t b) {
    return matrix.round_trips[chain_index({std::min(a, b), std::max(a, b)})];
}

}  // namespace

std::string matrix_report(const PenaltyMatrix& matrix, const Calibration& calibration) {
    const std::string next_line(line_break);
    const WindowSettings& windows = matrix.settings.windows;
    std::string text = "simd-mix-matrix on " + processor_name() + next_line;
    text += calibration_line(calibration) + next_line;
    text += "each window converted by the clock's add chains timed in it: " +
            format_fixed(matrix.ticks_per_cycle.median, 4) + " ticks per core cycle (spread " +
            format_fixed(matrix.ticks_per_cycle.percent(), 2) + "%)" + next_line;
    text += "chains of " + decimal_text(short_chain) + " and " + decimal_text(long_chain) +
            " dependent instructions per iteration, 4,096 iterations a run; " + decimal_text(windows.windows) +
            " windows of " + decimal_text(windows.turns) + " turns for each chain" + next_line;
    text += next_line +
            "latency in core cycles, each class alone (best: median over the windows of their fastest runs;" +
            next_line + "typical: of their middle runs):" + next_line;
    text += std::string(43, ' ') + "best  typical" + next_line;
    for (std::size_t c : matrix.classes) {
        const InstructionClass& row = instruction_classes[c];
        text += "  " + padded(name_of(c), 9) + padded(std::string(data_type_name(row.type)), 23) +
                padded(std::string(operation_name(row.operation)), 9) +
                padded(format_fixed(matrix.latencies[c].best.median, 2), -6) +
                padded(format_fixed(matrix.latencies[c].typical.median, 2), -9) + next_line;
    }
    text += next_line + "extra core cycles of one round trip, row -> column -> row, beyond both latencies (best);" +
            next_line +
            "* marks a cell that every window puts 0.1 or more from zero on one side, ~ a bimodal one:" + next_line;
    constexpr int column = 9;
    text += std::string(11, ' ');
    for (std::size_t i = 0; i + 1 < matrix.classes.size(); ++i) text += padded(name_of(matrix.classes[i]), -column);
    text += next_line;
    for (std::size_t i = 1; i < matrix.classes.size(); ++i) {
        std::string line = "  " + padded(name_of(matrix.classes[i]), 9);
        for (std::size_t j = 0; j < i; ++j) {
            const Cell& cell = cell_of(matrix, matrix.classes[i], matrix.classes[j]);
            const std::string marks = std::string(cell.measurable() ? "*" : " ") + (cell.bimodal() ? "~" : " ");
            line += padded(signed_cycles(cell.best.median) + marks, -column);
        }
        // An unmarked last cell leaves the blanks of its marks behind.
        text += line.substr(0, line.find_last_not_of(' ') + 1) + next_line;
    }
    std::vector<ChainPair> costly, bimodal;
    for (const ChainPair& pair : chains_of(matrix.classes)) {
        if (pair.first == pair.second) continue;
        const Cell& cell = matrix.round_trips[chain_index(pair)];
        if (cell.measurable() && cell.best.median > 0) costly.push_back(pair);
        if (cell.bimodal()) bimodal.push_back(pair);
    }
    // Dearest first, as far as the report's tenths tell them apart; equals
    // keep the table's order.
    auto tenths = [&](const ChainPair& pair) {
        return std::round(10 * matrix.round_trips[chain_index(pair)].best.median);
    };
    auto dearer = [&](const ChainPair& a, const ChainPair& b) { return tenths(a) > tenths(b); };
    std::stable_sort(costly.begin(), costly.end(), dearer);
    std::stable_sort(bimodal.begin(), bimodal.end(), dearer);
    auto typical_of = [&](const Cell& cell) {
        return "typical " + signed_cycles(cell.typical.median) + ", " + format_fixed(100 * cell.fast_share, 1) +
               "% of runs fast";
    };
    text += next_line + "crossings that cost:" + next_line;
    if (costly.empty()) text += "  none measurable" + next_line;
    for (const ChainPair& pair : costly) {
        const Cell& cell = matrix.round_trips[chain_index(pair)];
        text += "  " + name_of(pair.first) + " <-> " + name_of(pair.second) + ": " + signed_cycles(cell.best.median) +
                " cycles per round trip" + (cell.bimodal() ? " at best; " + typical_of(cell) : "") + next_line;
    }
    text += next_line + "bimodal crossings, whose typical run costs more than their best beyond the pure chains' own" +
            next_line + "difference:" + next_line;
    if (bimodal.empty()) text += "  none" + next_line;
    for (const ChainPair& pair : bimodal) {
        const Cell& cell = matrix.round_trips[chain_index(pair)];
        text += "  " + name_of(pair.first) + " <-> " + name_of(pair.second) + ": best " +
                signed_cycles(cell.best.median) + ", " + typical_of(cell) + next_line;
    }
    return text;
}

namespace {

std::string json_list(const std::vector<std::string>& items) {
    std::string list = "[";
    for (std::size_t i = 0; i < items.size(); ++i) list += (i == 0 ? "" : ", ") + items[i];
    return list + "]";
}

// A chain's runs window by window: the short and the long routine's fastest
// and middle runs, and the ruler's fastest runs of the same window.
std::string json_windows(const PenaltyMatrix& matrix, ChainPair pair) {
    std::vector<std::string> short_minimums, short_medians, long_minimums, long_medians, rulers, ruler_medians;
    for (const ChainWindow& window : matrix.windows[chain_index(pair)]) {
        short_minimums.push_back(count_text(window.shorter.minimum));
        short_medians.push_back(count_text(window.shorter.median));
        long_minimums.push_back(count_text(window.longer.minimum));
        long_medians.push_back(count_text(window.longer.median));
        rulers.push_back(json_list({count_text(window.ruler.shorter), count_text(window.ruler.longer)}));
        ruler_medians.push_back(
            json_list({count_text(window.ruler_middle.shorter), count_text(window.ruler_middle.longer)}));
    }
    return "{\"short_minimums\": " + json_list(short_minimums) + ", \"short_medians\": " + json_list(short_medians) +
           ", \"long_minimums\": " + json_list(long_minimums) + ", \"long_medians\": " + json_list(long_medians) +
           ", \"ruler_minimums\": " + json_list(rulers) + ", \"ruler_medians\": " + json_list(ruler_medians) + "}";
}

}  // namespace

std::string matrix_json(const PenaltyMatrix& matrix, const Calibration& calibration) {
    const std::string next_line(line_break);
    std::string json = "{" + next_line;
    json += "  \"processor\": \"" + processor_name() + "\"," + next_line;
    json += "  \"calibration\": " + calibration_json(calibration, 2) + "," + next_line;
    json += "  \"iterations\": " + decimal_text(loop_iterations) + "," + next_line;
    json += "  \"short_chain\": " + decimal_text(short_chain) + "," + next_line;
    json += "  \"long_chain\": " + decimal_text(long_chain) + "," + next_line;
    json += "  \"windows\": " + decimal_text(matrix.settings.windows.windows) + "," + next_line;
    json += "  \"turns\": " + decimal_text(matrix.settings.windows.turns) + "," + next_line;
    json += "  \"cycle_resolution\": " + format_fixed(cycle_resolution, 2) + "," + next_line;
    json += "  \"bimodal_margin\": " + format_fixed(bimodal_margin, 2) + "," + next_line;
    json += "  " + json_spread("window_ticks_per_cycle", matrix.ticks_per_cycle) + "," + next_line;
    std::vector<std::string> classes;
    for (std::size_t c : matrix.classes) {
        const InstructionClass& row = instruction_classes[c];
        classes.push_back(next_line + "    {\"name\": \"" + name_of(c) + "\", \"type\": \"" +
                          std::string(data_type_name(row.type)) + "\", \"operation\": \"" +
                          std::string(operation_name(row.operation)) + "\", " +
                          json_spread("latency", matrix.latencies[c].best) + ", " +
                          json_spread("typical", matrix.latencies[c].typical) +
                          ", \"windows\": " + json_windows(matrix, {c, c}) + "}");
    }
    json += "  \"classes\": " + json_list(classes) + "," + next_line;
    std::vector<std::string> cells;
    for (const ChainPair& pair : chains_of(matrix.classes)) {
        if (pair.first == pair.second) continue;
        const Cell& cell = matrix.round_trips[chain_index(pair)];
        cells.push_back(next_line + "    {\"first\": \"" + name_of(pair.first) + "\", \"second\": \"" +
                        name_of(pair.second) + "\", " + json_spread("cycles", cell.best) + ", " +
                        json_spread("typical", cell.typical) +
                        ", \"measurable\": " + (cell.measurable() ? "true" : "false") + ", \"bimodal\": " +
                        (cell.bimodal() ? "true" : "false") + ", \"fast_share\": " + format_fixed(cell.fast_share, 6) +
                        ", \"windows\": " + json_windows(matrix, pair) + "}");
    }
    json += "  \"round_trips\": " + json_list(cells) + next_line + "}" + next_line;
    return json;
}

namespace {

void compose_chain(TextWriter& out, ChainPair pair, std::uint32_t length, const std::vector<Instruction>& body) {
    const std::string title = "chain " +
                              (pair.first == pair.second ? name_of(pair.first) + " alone"
                                                         : name_of(pair.first) + ", " + name_of(pair.second)) +
                              ": " + decimal_text(length) + " instructions per loop iteration";
    out.line(0, title);
    out.line(1, "code:");
    compose_listing(out, body);
}

}  // namespace

std::string chain_listings(const std::vector<std::size_t>& classes) {
    std::string text;
    for (const ChainPair& pair : chains_of(classes)) {
        for (std::uint32_t length : {short_chain, long_chain}) {
            const std::vector<Instruction> body = chain_body(pair, length);
            // Counted first, then written, as the benchmark's texts are.
            TextWriter counter;
            compose_chain(counter, pair, length, body);
            std::u16string listing(counter.length(), u' ');
            TextWriter writer(listing.data());
            compose_chain(writer, pair, length, body);
            // The listing breaks its lines with CR LF; the rest of this
            // program's output uses the platform's own.
            for (std::size_t i = 0; i < listing.size(); ++i) {
                if (listing[i] == u'\r' && i + 1 < listing.size() && listing[i + 1] == u'\n') {
                    text += line_break;
                    ++i;
                } else {
                    text += static_cast<char>(listing[i]);
                }
            }
            // The listing ends with an empty line, which parts it from the next.
            text += line_break;
        }
    }
    return text;
}
