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

std::string calibration_json(const Calibration& calibration, int indent, const std::string& more) {
    // The platform's line breaks, so that the object reads like the rest.
    const std::string next_line(line_break);
    const std::string inner(indent + 2, ' ');
    const std::string deeper(indent + 4, ' ');
    auto field = [&](std::string_view name, const std::string& value) {
        return inner + "\"" + std::string(name) + "\": " + value + "," + next_line;
    };
    std::string json = "{" + next_line;
    json += field("ticks_per_cycle", format_fixed(calibration.ticks_per_cycle.median, 6));
    json += field("ticks_per_cycle_lowest", format_fixed(calibration.ticks_per_cycle.lowest, 6));
    json += field("ticks_per_cycle_highest", format_fixed(calibration.ticks_per_cycle.highest, 6));
    json += field("ticks_per_cycle_spread_percent", format_fixed(calibration.ticks_per_cycle.percent(), 4));
    json += field("cross_check_instruction", "\"" + imul_mnemonic() + "\"");
    json += field("cross_check_cycles", format_fixed(calibration.imul_cycles.median, 4));
    json += field("cross_check_expected", decimal_text(clock_chains[imul_long].instruction->latency));
    json += field("cross_check_tolerance", format_fixed(imul_tolerance, 2));
    json += field("trusted", calibration.trusted ? "true" : "false");
    json += field("counter_ghz", format_fixed(calibration.counter_hz() * 1e-9, 6));
    json += field("core_ghz", format_fixed(calibration.core_hz() * 1e-9, 6));
    json += field("interval_seconds", format_fixed(calibration.interval_seconds(), 6));
    json += field("windows", count_text(calibration.windows.size()));
    std::string levels;
    for (const ClockLevel& level : clock_levels(calibration)) {
        levels += std::string(levels.empty() ? "" : ", ") + "{\"ghz\": " + format_fixed(level.hz * 1e-9, 6) +
                  ", \"windows\": " + count_text(level.windows) + "}";
    }
    json += field("levels", "[" + levels + "]");
    json += inner + "\"chains\": [";
    for (std::size_t chain = 0; chain < clock_chain_count; ++chain) {
        json += chain == 0 ? next_line : "," + next_line;
        json += deeper + "{\"instruction\": \"" + std::string(clock_chains[chain].instruction->mnemonic) +
                "\", \"length\": " + decimal_text(clock_chains[chain].length) + ", \"minimums\": [";
        for (std::size_t window = 0; window < calibration.windows.size(); ++window) {
            json += (window == 0 ? "" : ", ") + count_text(calibration.windows[window][chain]);
        }
        json += "]}";
    }
    json += next_line + inner + "]";
    if (!more.empty()) json += "," + next_line + inner + more;
    json += next_line + std::string(indent, ' ') + "}";
    return json;
}

std::string json_spread(std::string_view name, const Spread& spread) {
    // Six places: the figures are ratios of counts, not counts.
    const std::string key(name);
    return "\"" + key + "\": " + format_fixed(spread.median, 6) + ", \"" + key +
           "_lowest\": " + format_fixed(spread.lowest, 6) + ", \"" + key +
           "_highest\": " + format_fixed(spread.highest, 6);
}
