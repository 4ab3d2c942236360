#include "matrix/report.hpp"

#include <algorithm>
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

std::string matrix_report(const PenaltyMatrix& matrix, const Calibration& calibration,
                          const MatrixSettings& settings) {
    const std::string next_line(line_break);
    std::string text = "simd-mix-matrix on " + processor_name() + next_line;
    text += calibration_line(calibration) + next_line;
    text += "each round converted by its own run of the clock's add chains: " +
            format_fixed(matrix.ticks_per_cycle.median, 4) + " ticks per core cycle (spread " +
            format_fixed(matrix.ticks_per_cycle.percent(), 2) + "%)" + next_line;
    text += "chains of " + decimal_text(short_chain) + " and " + decimal_text(long_chain) +
            " dependent instructions per iteration, 4,096 iterations a run; " + decimal_text(settings.rounds) +
            " rounds of " + decimal_text(settings.repetitions) + " runs of each" + next_line;
    text += next_line + "latency in core cycles, each class alone (median over the rounds):" + next_line;
    for (std::size_t c : matrix.classes) {
        const InstructionClass& row = instruction_classes[c];
        text += "  " + padded(name_of(c), 9) + padded(std::string(data_type_name(row.type)), 23) +
                padded(std::string(operation_name(row.operation)), 9) +
                padded(format_fixed(matrix.latencies[c].median, 2), -6) + next_line;
    }
    text += next_line + "extra core cycles of one round trip, row -> column -> row, beyond both latencies;" +
            next_line + "* marks a cell beyond its spread over the rounds:" + next_line;
    constexpr int column = 9;
    text += std::string(11, ' ');
    for (std::size_t i = 0; i + 1 < matrix.classes.size(); ++i) text += padded(name_of(matrix.classes[i]), -column);
    text += next_line;
    for (std::size_t i = 1; i < matrix.classes.size(); ++i) {
        std::string line = "  " + padded(name_of(matrix.classes[i]), 9);
        for (std::size_t j = 0; j < i; ++j) {
            const Cell& cell = cell_of(matrix, matrix.classes[i], matrix.classes[j]);
            line += padded(signed_cycles(cell.cycles.median) + (cell.measurable() ? "*" : " "), -column);
        }
        // An unmarked last cell leaves the blank of its mark behind.
        text += line.substr(0, line.find_last_not_of(' ') + 1) + next_line;
    }
    // The costly crossings, dearest first.
    std::vector<ChainPair> costly;
    for (const ChainPair& pair : chains_of(matrix.classes)) {
        const Cell& cell = matrix.round_trips[chain_index(pair)];
        if (pair.first != pair.second && cell.measurable() && cell.cycles.median > 0) costly.push_back(pair);
    }
    std::stable_sort(costly.begin(), costly.end(), [&](const ChainPair& a, const ChainPair& b) {
        return matrix.round_trips[chain_index(a)].cycles.median > matrix.round_trips[chain_index(b)].cycles.median;
    });
    text += next_line + "crossings that cost:" + next_line;
    if (costly.empty()) text += "  none measurable" + next_line;
    for (const ChainPair& pair : costly) {
        text += "  " + name_of(pair.first) + " <-> " + name_of(pair.second) + ": " +
                signed_cycles(matrix.round_trips[chain_index(pair)].cycles.median) + " cycles per round trip" +
                next_line;
    }
    return text;
}

namespace {

std::string json_list(const std::vector<std::string>& items) {
    std::string list = "[";
    for (std::size_t i = 0; i < items.size(); ++i) list += (i == 0 ? "" : ", ") + items[i];
    return list + "]";
}

// The short and the long routine's minimums of one chain, round by round.
std::string json_minimums(const PenaltyMatrix& matrix, ChainPair pair) {
    std::vector<std::string> shorter, longer;
    for (const MatrixRound& round : matrix.rounds) {
        shorter.push_back(decimal_text(static_cast<std::int64_t>(round.chains[chain_index(pair)].shorter)));
        longer.push_back(decimal_text(static_cast<std::int64_t>(round.chains[chain_index(pair)].longer)));
    }
    return "{\"short\": " + json_list(shorter) + ", \"long\": " + json_list(longer) + "}";
}

std::string json_spread(std::string_view name, const Spread& spread) {
    // Six places: the figures are ratios of counts, not counts.
    const std::string key(name);
    return "\"" + key + "\": " + format_fixed(spread.median, 6) + ", \"" + key + "_lowest\": " +
           format_fixed(spread.lowest, 6) + ", \"" + key + "_highest\": " + format_fixed(spread.highest, 6);
}

}  // namespace

std::string matrix_json(const PenaltyMatrix& matrix, const Calibration& calibration, const MatrixSettings& settings) {
    const std::string next_line(line_break);
    std::string json = "{" + next_line;
    json += "  \"processor\": \"" + processor_name() + "\"," + next_line;
    json += "  \"calibration\": " + calibration_json(calibration, 2) + "," + next_line;
    json += "  \"iterations\": " + decimal_text(loop_iterations) + "," + next_line;
    json += "  \"short_chain\": " + decimal_text(short_chain) + "," + next_line;
    json += "  \"long_chain\": " + decimal_text(long_chain) + "," + next_line;
    json += "  \"rounds\": " + decimal_text(settings.rounds) + "," + next_line;
    json += "  \"repetitions\": " + decimal_text(settings.repetitions) + "," + next_line;
    json += "  " + json_spread("round_ticks_per_cycle", matrix.ticks_per_cycle) + "," + next_line;
    std::vector<std::string> rulers;
    for (const MatrixRound& round : matrix.rounds) {
        std::vector<std::string> minimums;
        for (std::uint64_t minimum : round.ruler) minimums.push_back(decimal_text(static_cast<std::int64_t>(minimum)));
        rulers.push_back(json_list(minimums));
    }
    json += "  \"round_ruler_minimums\": " + json_list(rulers) + "," + next_line;
    std::vector<std::string> classes;
    for (std::size_t c : matrix.classes) {
        const InstructionClass& row = instruction_classes[c];
        classes.push_back(next_line + "    {\"name\": \"" + name_of(c) + "\", \"type\": \"" +
                          std::string(data_type_name(row.type)) + "\", \"operation\": \"" +
                          std::string(operation_name(row.operation)) + "\", " +
                          json_spread("latency", matrix.latencies[c]) +
                          ", \"minimums\": " + json_minimums(matrix, {c, c}) + "}");
    }
    json += "  \"classes\": " + json_list(classes) + "," + next_line;
    std::vector<std::string> cells;
    for (const ChainPair& pair : chains_of(matrix.classes)) {
        if (pair.first == pair.second) continue;
        const Cell& cell = matrix.round_trips[chain_index(pair)];
        cells.push_back(next_line + "    {\"first\": \"" + name_of(pair.first) + "\", \"second\": \"" +
                        name_of(pair.second) + "\", " + json_spread("cycles", cell.cycles) +
                        ", \"measurable\": " + (cell.measurable() ? "true" : "false") +
                        ", \"minimums\": " + json_minimums(matrix, pair) + "}");
    }
    json += "  \"round_trips\": " + json_list(cells) + next_line + "}" + next_line;
    return json;
}

namespace {

void compose_chain(TextWriter& out, ChainPair pair, std::uint32_t length, const std::vector<Instruction>& body) {
    const std::string title = "chain " + (pair.first == pair.second ? name_of(pair.first) + " alone"
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
