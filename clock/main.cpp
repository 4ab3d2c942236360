#include <cstdio>
#include <cstring>
#include <string>

#include "clock/calibration.hpp"
#include "clock/report.hpp"
#include "console/console_output.hpp"
#include "console/own_console.hpp"

namespace {

constexpr char usage[] =
    "usage: simd-mix-clock [--json]\n"
    "Measures how many time-stamp ticks one core cycle takes, with dependent chains of\n"
    "one-cycle additions, and the time-stamp counter's rate against the system clock.\n"
    "  --json  print every figure and raw minimum as one JSON object\n"
    "Exit status: 0; 1 when the output cannot be written; 2 for a bad option;\n"
    "3 when the cross-check fails and core cycles cannot be trusted.\n";

}  // namespace

int main(int argc, char** argv) {
    program_name = "simd-mix-clock";
    bool json = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--help") == 0) {
            write_console_lines(usage);
            return console_output_failed() ? 1 : 0;
        } else {
            std::fprintf(stderr, "simd-mix-clock: unknown option '%s'\n%s", argv[i], usage);
            return 2;
        }
    }
    const Calibration calibration = calibrate();
    write_console_ascii(json ? calibration_json(calibration) + std::string(line_break) : calibration_report(calibration));
    hold_own_console_until_key_press();
    if (console_output_failed()) return 1;
    return calibration.trusted ? 0 : 3;
}
