#include "clock/report.hpp"

#include <string_view>

#include "console/console_output.hpp"

namespace {

std::string ghz(double hz) { return format_fixed(hz * 1e-9, 4) + " GHz"; }

std::string windows_and_spread(const Calibration& calibration) {
    return "median of " + count_text(calibration.windows.size()) + " windows, spread " +
           format_fixed(calibration.ticks_per_cycle.percent(), 2) + "%";
}

// "3.60, 3.69 GHz (10%, 90% of 48 windows)". A clock that only one window
// saw is no level the core stood on but most likely a disturbed window (a
// neighbour that held the ruler back): such windows are counted apart,
// "; 2 windows alone: 1.93, 2.81 GHz".
std::string levels_text(const Calibration& calibration) {
    std::string clocks, shares, alone;
    std::size_t lone = 0;
    for (const ClockLevel& level : clock_levels(calibration)) {
        const std::string clock = format_fixed(level.hz * 1e-9, 2);
        if (level.windows == 1) {
            alone += (lone++ == 0 ? "" : ", ") + clock;
            continue;
        }
        const std::string separator = clocks.empty() ? "" : ", ";
        clocks += separator + clock;
        shares += separator + format_fixed(100.0 * level.windows / calibration.windows.size(), 0) + "%";
    }
    std::string text = clocks.empty()
                           ? "none in two windows or more"
                           : clocks + " GHz (" + shares + " of " + count_text(calibration.windows.size()) + " windows)";
    if (lone > 0) text += "; " + count_text(lone) + (lone == 1 ? " window" : " windows") + " alone: " + alone + " GHz";
    return text;
}

std::string imul_mnemonic() { return std::string(clock_chains[imul_long].instruction->mnemonic); }

}  // namespace

std::string calibration_report(const Calibration& calibration) {
    const std::string expected =
        decimal_text(clock_chains[imul_long].instruction->latency) + " +- " + format_fixed(imul_tolerance, 2);
    std::string lines = "core clock " + format_fixed(calibration.core_hz() * 1e-9, 3) + " GHz, time-stamp counter " +
                        format_fixed(calibration.counter_hz() * 1e-9, 3) +
                        " GHz: " + format_fixed(calibration.ticks_per_cycle.median, 4) + " ticks per core cycle";
    lines += line_break;
    lines += "core clock levels seen: " + levels_text(calibration);
    lines += line_break;
    lines += "time-stamp ticks per core cycle: " + format_fixed(calibration.ticks_per_cycle.median, 4) + " (" +
             windows_and_spread(calibration) + ")";
    lines += line_break;
    lines += "cross-check: " + imul_mnemonic() + " takes " + format_fixed(calibration.imul_cycles.median, 2) +
             " core cycles, " + (calibration.trusted ? "as expected (" + expected + ")" : "expected " + expected);
    lines += line_break;
    if (!calibration.trusted) {
        lines +=
            "core cycles cannot be trusted on this processor: its add and imul chains do not run at their "
            "known latencies";
        lines += line_break;
    }
    lines += "time-stamp counter: " + ghz(calibration.counter_hz()) + ", against the system clock over " +
             format_fixed(calibration.interval_seconds(), 2) + " s";
    lines += line_break;
    return lines;
}

std::string calibration_line(const Calibration& calibration) {
    return "calibration: " + format_fixed(calibration.ticks_per_cycle.median, 4) + " ticks per core cycle (" +
           windows_and_spread(calibration) + "), core clock " + ghz(calibration.core_hz()) + ", time-stamp counter " +
           ghz(calibration.counter_hz()) +
           (calibration.trusted ? "" : "; core cycles cannot be trusted on this processor");
}

Json calibration_json(const Calibration& calibration) {
    Json json;
    json["ticks_per_cycle"] = json_fixed(calibration.ticks_per_cycle.median, 6);
    json["ticks_per_cycle_lowest"] = json_fixed(calibration.ticks_per_cycle.lowest, 6);
    json["ticks_per_cycle_highest"] = json_fixed(calibration.ticks_per_cycle.highest, 6);
    json["ticks_per_cycle_spread_percent"] = json_fixed(calibration.ticks_per_cycle.percent(), 4);
    json["cross_check_instruction"] = imul_mnemonic();
    json["cross_check_cycles"] = json_fixed(calibration.imul_cycles.median, 4);
    json["cross_check_expected"] = clock_chains[imul_long].instruction->latency;
    json["cross_check_tolerance"] = json_fixed(imul_tolerance, 2);
    json["trusted"] = calibration.trusted;
    json["counter_ghz"] = json_fixed(calibration.counter_hz() * 1e-9, 6);
    json["core_ghz"] = json_fixed(calibration.core_hz() * 1e-9, 6);
    json["interval_seconds"] = json_fixed(calibration.interval_seconds(), 6);
    json["windows"] = calibration.windows.size();
    json["levels"] = Json::array();
    for (const ClockLevel& level : clock_levels(calibration)) {
        json["levels"].push_back({{"ghz", json_fixed(level.hz * 1e-9, 6)}, {"windows", level.windows}});
    }
    json["chains"] = Json::array();
    for (std::size_t chain = 0; chain < clock_chain_count; ++chain) {
        Json minimums = Json::array();
        for (const auto& window : calibration.windows) minimums.push_back(window[chain]);
        json["chains"].push_back({{"instruction", std::string(clock_chains[chain].instruction->mnemonic)},
                                  {"length", clock_chains[chain].length},
                                  {"minimums", std::move(minimums)}});
    }
    return json;
}
