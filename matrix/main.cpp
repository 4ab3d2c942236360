#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "clock/calibration.hpp"
#include "console/command_line.hpp"
#include "console/console_output.hpp"
#include "console/json_document.hpp"
#include "console/own_console.hpp"
#include "matrix/arithmetic/penalties.hpp"
#include "matrix/families.hpp"
#include "matrix/movement/movement_plan.hpp"
#include "matrix/movement/movement_report.hpp"
#include "matrix/plan.hpp"
#include "matrix/report.hpp"
#include "matrix/report_text.hpp"
#include "matrix/transitions/transitions.hpp"

namespace {

constexpr char usage[] =
    "usage: simd-mix-matrix [--json | --list | --names] [--arithmetic | --movement]\n"
    "                       [--isa FAMILY,...] [--classes NAME,NAME,...]\n"
    "Measures, in core cycles, the latency of SIMD instruction classes, the extra cycles of a\n"
    "round trip between every two classes of a family, what the upper-half state of the\n"
    "vector registers costs legacy SSE, VEX and EVEX instructions, and what moving a value\n"
    "through memory costs by the type and the width of its stores and loads.\n"
    "  --json        print every figure and raw minimum as one JSON object\n"
    "  --list        print the code and bytes of every chain instead of measuring\n"
    "  --names       print each family's class names, a line a family, instead of measuring\n"
    "  --arithmetic  measure only the classes' triangles and the transitions\n"
    "  --movement    measure only the data-movement tables\n"
    "  --isa         measure only these families: sse, avx, avx2, avx512 (by default every\n"
    "                family the processor and the operating system support)\n"
    "  --classes     measure only the classes of these names, in every family that has them,\n"
    "                for example paddd, addps, vaddps, vfmadd231pd, the round trips movd:eax\n"
    "                (through EAX) and vpcmpgtd:k1 (through the mask k1), and the movement chains\n"
    "                whose store, load or arithmetic has one of them: a move (movups,\n"
    "                vmovdqa32), a subtraction (psubd, vsubps), a widths store or load\n"
    "                (whole, halves, quarters, edx, low, high, lane, low32, edx32) or the\n"
    "                widths tables' por, vpor, vpord (see --list)\n"
    "  -h, --help    print this text\n"
    "An option's value follows it or an equals sign: --isa sse or --isa=sse.\n"
    "Exit status: 0; 1 when the output cannot be written; 2 for a bad option;\n"
    "3 when core cycles cannot be trusted on this processor.\n";

}  // namespace

int main(int argc, char** argv) {
    program_name = "simd-mix-matrix";
    bool json = false, listing = false, arithmetic = false, movement = false, help = false;
    std::string families, classes;
    CLI::App app{"", program_name};
    prepare_command_line(app, help);
    app.add_flag("--json", json);
    app.add_flag("--list", listing);
    bool names = false;
    app.add_flag("--names", names);
    app.add_flag("--arithmetic", arithmetic);
    app.add_flag("--movement", movement);
    CLI::Option* isa = add_value_option(app, "--isa", families, "a list of names");
    CLI::Option* class_names = add_value_option(app, "--classes", classes, "a list of names");
    if (const std::string why = parse_command_line(app, argc, argv); !why.empty()) return refuse_option(why);
    if (help) {
        write_console_lines(usage);
        return console_output_failed() ? 1 : 0;
    }
    if (arithmetic && movement) return refuse_option("--arithmetic and --movement exclude each other");
    // The listing measures nothing, and so has no JSON to print.
    if (json && listing) return refuse_option("--json and --list exclude each other");
    if (names && (json || listing))
        return refuse_option(std::string(json ? "--json" : "--list") + " and --names exclude each other");
    if (names) {
        std::string text;
        for (const Family& family : ::families) {
            text += text_of(family.name) + ":";
            for (std::size_t c : classes_of(family)) text += " " + text_of(family.table->classes[c].name);
            text += "\n";
        }
        write_console_lines(text);
        return console_output_failed() ? 1 : 0;
    }
    PlanRequest request;
    request.listing = listing;
    request.arithmetic = !movement;
    request.movement = !arithmetic;
    if (isa->count() != 0) request.families = names_in(families);
    if (class_names->count() != 0) request.classes = names_in(classes);
    const CpuidAnswers answers = cpuid_answers();
    std::string why;
    const std::vector<FamilyPlan> plans = plan_families(request, answers, why);
    if (!why.empty()) return refuse_option(why);
    const std::vector<MovementPlan> movement_plans =
        request.movement ? plan_movement(request, answers) : std::vector<MovementPlan>{};
    if (request.listing) {
        write_console_ascii((request.arithmetic ? chain_listings(plans) : "") + movement_listings(movement_plans));
        return console_output_failed() ? 1 : 0;
    }

    const MatrixSettings settings;
    const TransitionSettings transition_settings;
    const MovementSettings movement_settings;
    std::size_t total = request.arithmetic ? transition_window_count(transition_settings, answers) : 0, done = 0;
    for (const FamilyPlan& plan : plans) {
        if (plan.status == FamilyStatus::measured) total += settings.windows.windows * chains_of(plan.classes).size();
    }
    for (const MovementPlan& plan : movement_plans) {
        for (const MovementSelection& table : plan.tables)
            total += movement_settings.windows.windows * table.cells.size();
    }
    const bool show_progress = standard_error_is_terminal();
    auto progress = [&] {
        ++done;
        if (show_progress && (done % 16 == 0 || done == total)) {
            std::fprintf(stderr, "\rsimd-mix-matrix: %zu of %zu windows timed", done, total);
            if (done == total) std::fputs("\r\033[K", stderr);
            std::fflush(stderr);
        }
    };

    const Calibration calibration = calibrate();
    MatrixResults results;
    for (const FamilyPlan& plan : plans) {
        FamilyResult result{plan, {}};
        if (plan.status == FamilyStatus::measured) {
            result.matrix = measure_matrix(*plan.family->table, plan.classes, settings, progress);
        }
        results.families.push_back(std::move(result));
    }
    results.arithmetic = request.arithmetic;
    if (request.arithmetic) results.transitions = measure_transitions(transition_settings, answers, progress);
    for (const MovementPlan& plan : movement_plans) {
        MovementFamilyResult result{plan, {}};
        for (const MovementSelection& table : plan.tables) {
            if (plan.status == FamilyStatus::measured) {
                result.tables.push_back(measure_movement(table, movement_settings, progress));
            }
        }
        results.movement.push_back(std::move(result));
    }
    results.movement_asked = request.movement;
    write_console_ascii(json ? json_text(matrix_json(results, calibration)) : matrix_report(results, calibration));
    hold_own_console_until_key_press();
    if (console_output_failed()) return 1;
    return calibration.trusted ? 0 : 3;
}
