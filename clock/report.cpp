#include "clock/report.hpp"

#include <string_view>

#include "console/console_output.hpp"

namespace {

std::string ghz(double hz) { return format_fixed(hz * 1e-9, 4) + " GHz"; }

std::string rounds_and_spread(const Calibration& calibration) {
    return "median of " + decimal_text(static_cast<std::int64_t>(calibration.rounds.size())) + " rounds, spread " +
           format_fixed(calibration.ticks_per_cycle.percent(), 2) + "%";
}

std::string imul_mnemonic() { return std::string(clock_chains[imul_long].instruction->mnemonic); }

}  // namespace

std::string calibration_report(const Calibration& calibration) {
    const std::string expected = decimal_text(clock_chains[imul_long].instruction->latency) + " +- " +
                                 format_fixed(imul_tolerance, 2);
    std::string lines = "time-stamp ticks per core cycle: " + format_fixed(calibration.ticks_per_cycle.median, 4) +
                        " (" + rounds_and_spread(calibration) + ")";
    lines += line_break;
    lines += "cross-check: " + imul_mnemonic() + " takes " + format_fixed(calibration.imul_cycles.median, 2) +
             " core cycles, " + (calibration.trusted ? "as expected (" + expected + ")" : "expected " + expected);
    lines += line_break;
    if (!calibration.trusted) {
        lines += "core cycles cannot be trusted on this processor: its add and imul chains do not run at their "
                 "known latencies";
        lines += line_break;
    }
    lines += "time-stamp counter: " + ghz(calibration.counter_hz()) + ", against the system clock over " +
             format_fixed(calibration.interval_seconds(), 2) + " s";
    lines += line_break;
    lines += "core clock: " + ghz(calibration.core_hz());
    lines += line_break;
    return lines;
}

std::string calibration_line(const Calibration& calibration) {
    return "calibration: " + format_fixed(calibration.ticks_per_cycle.median, 4) + " ticks per core cycle (" +
           rounds_and_spread(calibration) + "), core clock " + ghz(calibration.core_hz()) +
           ", time-stamp counter " + ghz(calibration.counter_hz()) +
           (calibration.trusted ? "" : "; core cycles cannot be trusted on this processor");
}

std::string calibration_json(const Calibration& calibration, int indent) {
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
    json += field("rounds", decimal_text(static_cast<std::int64_t>(calibration.rounds.size())));
    json += inner + "\"chains\": [";
    for (std::size_t chain = 0; chain < clock_chain_count; ++chain) {
        json += chain == 0 ? next_line : "," + next_line;
        json += deeper + "{\"instruction\": \"" + std::string(clock_chains[chain].instruction->mnemonic) +
                "\", \"length\": " + decimal_text(clock_chains[chain].length) + ", \"minimums\": [";
        for (std::size_t round = 0; round < calibration.rounds.size(); ++round) {
            json += (round == 0 ? "" : ", ") + decimal_text(static_cast<std::int64_t>(calibration.rounds[round][chain]));
        }
        json += "]}";
    }
    json += next_line + inner + "]" + next_line + std::string(indent, ' ') + "}";
    return json;
}
