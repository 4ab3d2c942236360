#include <cstdio>
#include <cstring>
#include <string>

#include "clock/benchmark_loops.hpp"
#include "clock/calibration.hpp"
#include "clock/report.hpp"
#include "console/command_line.hpp"
#include "console/console_output.hpp"
#include "console/json_document.hpp"
#include "console/own_console.hpp"

namespace {

constexpr char usage[] =
    "usage: simd-mix-clock [--json] [--tests]\n"
    "Measures how many time-stamp ticks one core cycle takes, with dependent chains of\n"
    "one-cycle additions, and the time-stamp counter's rate against the system clock.\n"
    "  --json   print every figure and raw minimum as one JSON object\n"
    "  --tests  also time the benchmark's five loops beside the ruler, in core cycles\n"
    "  -h, --help  print this text\n"
    "Exit status: 0; 1 when the output cannot be written; 2 for a bad option;\n"
    "3 when the cross-check fails and core cycles cannot be trusted.\n";

}  // namespace

int main(int argc, char** argv) {
    program_name = "simd-mix-clock";
    bool json = false, tests = false, help = false;
    CLI::App app{"", program_name};
    prepare_command_line(app, help);
    app.add_flag("--json", json);
    app.add_flag("--tests", tests);
    if (const std::string why = parse_command_line(app, argc, argv); !why.empty()) return refuse_option(why);
    if (help) {
        write_console_lines(usage);
        return console_output_failed() ? 1 : 0;
    }
    const Calibration calibration = calibrate();
    std::string text;
    if (json) {
        Json document = json_document();
        document.update(calibration_json(calibration));
        if (tests) document["loops"] = loop_cycles_json(measure_loop_cycles());
        text = json_text(document);
    } else {
        text = calibration_report(calibration);
        if (tests) text += loop_cycles_report(measure_loop_cycles());
    }
    write_console_ascii(text);
    hold_own_console_until_key_press();
    if (console_output_failed()) return 1;
    return calibration.trusted ? 0 : 3;
}
