#include "matrix/report.hpp"

#include "clock/report.hpp"
#include "console/console_output.hpp"
#include "matrix/report_json.hpp"
#include "matrix/report_text.hpp"

namespace {

// The windows every family was measured in: those of any measured family,
// which all share them, or the defaults.
WindowSettings matrix_windows(const MatrixResults& results) {
    for (const FamilyResult& result : results.families) {
        if (result.plan.status == FamilyStatus::measured) return result.matrix.settings.windows;
    }
    return MatrixSettings{}.windows;
}

// How many chains shared a window, as matrix_windows finds the windows.
std::uint32_t matrix_chains_per_window(const MatrixResults& results) {
    for (const FamilyResult& result : results.families) {
        if (result.plan.status == FamilyStatus::measured) return result.matrix.settings.chains_per_window;
    }
    return MatrixSettings{}.chains_per_window;
}

// Time-stamp ticks per core cycle over every window of every family, of the
// transitions and of the movement tables.
Spread window_rulers(const MatrixResults& results) {
    std::vector<double> rulers = transition_window_rulers(results.transitions);
    for (const std::vector<double>& more :
         {triangle_window_rulers(results.families), movement_window_rulers(results.movement)}) {
        rulers.insert(rulers.end(), more.begin(), more.end());
    }
    return spread_of(rulers);
}

}  // namespace

std::string matrix_report(const MatrixResults& results, const Calibration& calibration) {
    const std::string next_line(line_break);
    const WindowSettings windows = matrix_windows(results);
    const Spread rulers = window_rulers(results);
    std::string text = "simd-mix-matrix on " + processor_name() + next_line;
    text += calibration_line(calibration) + next_line;
    text += "each window converted by the clock's add chains timed in it: " + format_fixed(rulers.median, 4) +
            " ticks per core cycle (spread " + format_fixed(rulers.percent(), 2) + "%)" + next_line;
    static_assert(chain_iterations == 1024, "the line below writes the chains' iterations out");
    if (results.arithmetic) {
        text += "chains of " + decimal_text(short_chain) + " and " + decimal_text(long_chain) +
                " dependent instructions per iteration, 1,024 iterations a run; " + decimal_text(windows.windows) +
                " windows of " + decimal_text(windows.turns) + " turns for each chain, " +
                decimal_text(matrix_chains_per_window(results)) + " chains to a window" + next_line;
    }
    for (const FamilyResult& result : results.families) text += next_line + family_report(result);
    if (results.arithmetic) text += transitions_report(results.transitions);
    return text + movement_report(results.movement);
}

Json matrix_json(const MatrixResults& results, const Calibration& calibration) {
    Json json = json_document();
    json["processor"] = processor_name();
    json["calibration"] = calibration_json(calibration);
    json["iterations"] = loop_iterations;
    json["short_chain"] = short_chain;
    json["long_chain"] = long_chain;
    json["chain_iterations"] = chain_iterations;
    const WindowSettings windows = matrix_windows(results);
    json["windows"] = windows.windows;
    json["turns"] = windows.turns;
    json["chains_per_window"] = matrix_chains_per_window(results);
    json["cycle_resolution"] = json_fixed(cycle_resolution, 2);
    json["bimodal_margin"] = json_fixed(bimodal_margin, 2);
    json["fast_share_least"] = json_fixed(fast_share_least, 2);
    add_json_spread(json, "window_ticks_per_cycle", window_rulers(results));
    json["families"] = Json::array();
    for (const FamilyResult& result : results.families) json["families"].push_back(family_json(result));
    if (results.arithmetic) json["transitions"] = transitions_json(results.transitions);
    if (results.movement_asked) json["movement"] = movement_json(results.movement);
    return json;
}

std::string chain_listings(const std::vector<FamilyPlan>& plans) {
    return triangle_listings(plans) + transition_listings();
}
