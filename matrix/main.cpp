#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "clock/calibration.hpp"
#include "console/console_output.hpp"
#include "console/own_console.hpp"
#include "matrix/penalties.hpp"
#include "matrix/report.hpp"

namespace {

constexpr char usage[] =
    "usage: simd-mix-matrix [--json] [--list] [--classes NAME,NAME,...]\n"
    "Measures, in core cycles, the latency of twelve SSE instruction classes and the extra\n"
    "cycles of a round trip between every two of them.\n"
    "  --json     print every figure and raw minimum as one JSON object\n"
    "  --list     print the code and bytes of every chain instead of measuring\n"
    "  --classes  measure only these classes: paddd, pmuludq, pand, pshufd, addps, mulps,\n"
    "             andps, shufps, addpd, mulpd, andpd, shufpd\n"
    "Exit status: 0; 1 when the output cannot be written; 2 for a bad option;\n"
    "3 when core cycles cannot be trusted on this processor.\n";

int bad_option(const std::string& why) {
    std::fprintf(stderr, "simd-mix-matrix: %s\n%s", why.c_str(), usage);
    return 2;
}

// The classes named in a comma-separated list, in the table's order; empty
// after an unknown, empty or repeated name.
std::vector<std::size_t> classes_named(std::string_view list, std::string& why) {
    std::vector<bool> chosen(class_count, false);
    for (std::size_t start = 0; start <= list.size();) {
        const std::size_t end = std::min(list.find(',', start), list.size());
        const std::string_view name = list.substr(start, end - start);
        if (name.empty()) {
            why = "an empty class name in '" + std::string(list) + "'";
            return {};
        }
        std::size_t c = 0;
        while (c < class_count && instruction_classes[c].name != name) ++c;
        if (c == class_count) {
            why = "no instruction class '" + std::string(name) + "'";
            return {};
        }
        if (chosen[c]) {
            why = "class '" + std::string(name) + "' named twice";
            return {};
        }
        chosen[c] = true;
        start = end + 1;
    }
    std::vector<std::size_t> classes;
    for (std::size_t c = 0; c < class_count; ++c) {
        if (chosen[c]) classes.push_back(c);
    }
    return classes;
}

}  // namespace

int main(int argc, char** argv) {
    program_name = "simd-mix-matrix";
    bool json = false, list = false;
    std::vector<std::size_t> classes;
    for (std::size_t c = 0; c < class_count; ++c) classes.push_back(c);
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--json") {
            json = true;
        } else if (option == "--list") {
            list = true;
        } else if (option == "--classes" && i + 1 < argc) {
            std::string why;
            classes = classes_named(argv[++i], why);
            if (classes.empty()) return bad_option(why);
        } else if (option == "--help") {
            write_console_lines(usage);
            return console_output_failed() ? 1 : 0;
        } else {
            return bad_option(option == "--classes" ? "--classes needs a list of names"
                                                    : "unknown option '" + std::string(option) + "'");
        }
    }
    if (list) {
        write_console_ascii(chain_listings(classes));
        return console_output_failed() ? 1 : 0;
    }
    const bool show_progress = standard_error_is_terminal();
    auto progress = [&](std::size_t done, std::size_t total) {
        if (show_progress && (done % 8 == 0 || done == total)) {
            std::fprintf(stderr, "\rsimd-mix-matrix: %zu of %zu chains timed", done, total);
            if (done == total) std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
        }
    };
    const Calibration calibration = calibrate();
    const MatrixSettings settings;
    const PenaltyMatrix matrix = measure_matrix(classes, settings, progress);
    write_console_ascii(json ? matrix_json(matrix, calibration) : matrix_report(matrix, calibration));
    hold_own_console_until_key_press();
    if (console_output_failed()) return 1;
    return calibration.trusted ? 0 : 3;
}
