#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "clock/calibration.hpp"
#include "console/console_output.hpp"
#include "console/json_document.hpp"
#include "console/own_console.hpp"
#include "matrix/arithmetic/penalties.hpp"
#include "matrix/movement/movement_plan.hpp"
#include "matrix/movement/movement_report.hpp"
#include "matrix/plan.hpp"
#include "matrix/report.hpp"
#include "matrix/transitions/transitions.hpp"

namespace {

constexpr char usage[] =
    "usage: simd-mix-matrix [--json] [--list] [--arithmetic | --movement] [--isa FAMILY,...]\n"
    "                       [--classes NAME,NAME,...]\n"
    "Measures, in core cycles, the latency of SIMD instruction classes, the extra cycles of a\n"
    "round trip between every two classes of a family, what the upper-half state of the\n"
    "vector registers costs legacy SSE, VEX and EVEX instructions, and what moving a value\n"
    "through memory costs by the type and the width of its stores and loads.\n"
    "  --json        print every figure and raw minimum as one JSON object\n"
    "  --list        print the code and bytes of every chain instead of measuring\n"
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
    "Exit status: 0; 1 when the output cannot be written; 2 for a bad option;\n"
    "3 when core cycles cannot be trusted on this processor.\n";

int bad_option(const std::string& why) {
    std::fprintf(stderr, "simd-mix-matrix: %s\n%s", why.c_str(), usage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    program_name = "simd-mix-matrix";
    bool json = false;
    PlanRequest request;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--json") {
            json = true;
        } else if (option == "--list") {
            request.listing = true;
        } else if (option == "--arithmetic" || option == "--movement") {
            if (!request.arithmetic || !request.movement)
                return bad_option("--arithmetic and --movement exclude each other");
            (option == "--arithmetic" ? request.movement : request.arithmetic) = false;
        } else if ((option == "--classes" || option == "--isa") && i + 1 < argc) {
            (option == "--isa" ? request.families : request.classes) = names_in(argv[++i]);
        } else if (option == "--help") {
            write_console_lines(usage);
            return console_output_failed() ? 1 : 0;
        } else if (option == "--classes" || option == "--isa") {
            return bad_option(std::string(option) + " needs a list of names");
        } else {
            return bad_option("unknown option '" + std::string(option) + "'");
        }
    }
    const CpuidAnswers answers = cpuid_answers();
    std::string why;
    const std::vector<FamilyPlan> plans = plan_families(request, answers, why);
    if (!why.empty()) return bad_option(why);
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
