#include <algorithm>
#include <array>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "clock/upper_state.hpp"
#include "console/console_output.hpp"
#include "tests/chain_set_up_bytes.hpp"
#include "matrix/movement/movement.hpp"
#include "matrix/movement/movement_plan.hpp"
#include "matrix/movement/movement_report.hpp"
#include "matrix/report.hpp"
#include "tests/hex.hpp"
#include "tests/mxcsr.hpp"
#include "tests/scripted_window.hpp"
#include "tests/timed_frame_bytes.hpp"

namespace {

struct NamedTable {
    const char* family;
    const MovementTable& table;
};
const NamedTable tables[] = {{"sse", sse_types},      {"sse", sse_widths},       {"avx2", vex256_types},
                             {"avx2", vex256_widths}, {"avx512", evex512_types}, {"avx512", evex512_widths}};

std::string cell_text(const MovementTable& table, std::size_t cell) {
    const MovementCell& entry = table.cells[cell];
    return std::string(table.name) + " " + std::string(table.stores[entry.store].name) + ", " +
           std::string(table.loads[entry.load].name) + ", " + std::string(table.arithmetic[entry.arithmetic].name);
}

Bytes body_bytes(const std::vector<Instruction>& body) {
    Bytes bytes;
    for (const Instruction& instruction : body) {
        for (std::uint8_t byte : instruction.encoding()) bytes.push_back(byte);
    }
    return bytes;
}

// A load of register `reg` from a row of matrix_chain_values, or a store of
// register 0 into matrix_chain_result, at a width: legacy SSE movaps, VEX
// vmovaps or EVEX vmovaps, the operand a 32-bit address.
void add_move(ExpectedRoutine& code, std::uint32_t width, std::uint8_t opcode, std::uint8_t reg, const void* address) {
    if (width == 16) {
        code.add({0x0F, opcode});
    } else if (width == 64) {
        code.add({0x62, 0xF1, 0x7C, 0x48, opcode});
    } else {
        code.add({0xC5, 0xFC, opcode});
    }
    code.add({static_cast<std::uint8_t>(0x05 + 8 * reg)});
    code.add_address(address);
}

const Bytes vzeroupper{0xC5, 0xF8, 0x77};

// Each routine as it runs: EBX saved and pointed at the slot, vzeroupper
// (for SSE only where AVX is usable), register 0 loaded with the table's
// value and, for a types chain, register 1 with zero; the timed frame around
// the steps with the loop two 64-byte boundaries after the entry; register 0
// stored, the upper halves cleared after VEX and EVEX, EBX restored.
Bytes expected_routine(const MovementTable& table, TimedRun routine, std::size_t cell, std::uint32_t steps) {
    ExpectedRoutine code(code_of(routine));
    add_slot_pointer(code);
    if (table.width == 16) {
        add_clear_where_avx(code);
    } else {
        code.add(vzeroupper);
    }
    add_move(code, table.width, 0x28, 0, &matrix_chain_values[table.value_row]);
    if (table.name == "types") add_move(code, table.width, 0x28, 1, &matrix_chain_values[1]);
    code.timed_frame(0, body_bytes(movement_body(table, cell, steps)), 128);
    add_move(code, table.width, 0x29, 0, &matrix_chain_result);
    if (table.width != 16) code.add(vzeroupper);
    code.add({0x5B, 0xC3});  // pop ebx; ret
    return code.bytes();
}

// Every routine of every table, whether this processor can run it or not:
// the table's forms are what the assembler made of the chains.
TEST(MovementChains, HoldTheirStepsInTheTimedFrame) {
    for (const NamedTable& named : tables) {
        ASSERT_EQ(named.table.routines.size(), named.table.cells.size());
        for (std::size_t cell = 0; cell < named.table.cells.size(); ++cell) {
            const ChainRoutines& routines = named.table.routines[cell];
            for (const auto& [routine, steps] :
                 {std::pair{routines.shorter, short_steps}, std::pair{routines.longer, long_steps}}) {
                EXPECT_EQ(reinterpret_cast<std::uintptr_t>(code_of(routine)) % 64, 0u)
                    << named.family << ": " << cell_text(named.table, cell) << ", " << steps << " steps";
                const Bytes expected = expected_routine(named.table, routine, cell, steps);
                EXPECT_EQ(hex(Bytes(code_of(routine), code_of(routine) + expected.size())), hex(expected))
                    << named.family << ": " << cell_text(named.table, cell) << ", " << steps << " steps";
            }
        }
    }
}

TEST(MovementChains, StepsStoreTheWholeRegisterAndLoadThePartsTheirNamesSay) {
    // The benchmark's test 1 as one step: movaps store and load around psubd.
    EXPECT_EQ(hex(body_bytes(movement_body(sse_types, 2 * 6 + 2, 1))), "0F 29 03 0F 28 03 66 0F FA C1");
    // The widths' stores cover the register: four dwords of EDX at 0, 4, 8
    // and 12; sixteen of them on ZMM, the last at 60.
    EXPECT_EQ(hex(body_bytes(movement_step(sse_widths, width_cells[8]))),
              "66 0F 7E C2 89 13 89 53 04 89 53 08 89 53 0C 66 0F 6F 13 66 0F EB C2");
    EXPECT_EQ(hex(body_bytes(movement_step(evex512_widths, width_cells[8]))).substr(3 * 50, 8), "89 53 3C");
    // The high half at byte 8, 16 and 32; the lane below the middle.
    EXPECT_EQ(hex(body_bytes(movement_step(sse_widths, width_cells[2]))), "66 0F 7F 03 F3 0F 7E 53 08 66 0F EB C2");
    EXPECT_EQ(hex(body_bytes(movement_step(vex256_widths, width_cells[3]))), "C5 FD 7F 03 C5 F9 6E 53 0C C5 FD EB C2");
    // On ZMM every narrow move is EVEX, the high half's load included
    // (vmovdqa32 ymm2, [ebx+32], its displacement counted in 32 bytes); the
    // VEX load of the high half is a cell of its own.
    EXPECT_EQ(hex(body_bytes(movement_step(evex512_widths, width_cells[2]))),
              "62 F1 7D 48 7F 03 62 F1 7D 28 6F 53 01 62 F1 7D 48 EB C2");
    EXPECT_EQ(hex(body_bytes(movement_step(evex512_widths, evex512_width_cells[13]))),
              "62 F1 7D 48 7F 03 C5 FD 6F 53 20 62 F1 7D 48 EB C2");
    for (std::size_t cell = 1; cell + 1 < std::size(evex512_width_cells); ++cell) {
        for (const Instruction& instruction : movement_step(evex512_widths, evex512_width_cells[cell])) {
            const std::uint8_t first = instruction.encoding().bytes[0];
            EXPECT_TRUE(first == 0x62 || first == 0x89 || first == 0x8B) << cell_text(evex512_widths, cell);
        }
    }
}

// The bytes past EBX that each memory operand of a side's instructions
// reaches, in order: [ebx] (ModRM 00 rr 011) or [ebx + disp8] (01 rr 011).
// An EVEX form's disp8 counts in units of what it moves: 4 bytes for
// vmovd, the vector's length (EVEX.L'L) for vmovdqa32.
std::vector<int> displacements(const MovementSide& side) {
    std::vector<int> reached;
    for (std::size_t i = 0; i < side.size(); ++i) {
        const std::uint8_t* bytes = side.forms[i]->encoding.bytes;
        const std::size_t n = side.forms[i]->encoding.size;
        int scale = 1;
        if (bytes[0] == 0x62) {
            const std::uint8_t opcode = bytes[4];
            scale = opcode == 0x6E || opcode == 0x7E ? 4 : 16 << ((bytes[3] >> 5) & 3);
        }
        if ((bytes[n - 2] & 0xC7) == 0x43) {
            reached.push_back(scale * bytes[n - 1]);
        } else if ((bytes[n - 1] & 0xC7) == 0x03) {
            reached.push_back(0);
        }
    }
    return reached;
}

int number_word(const std::string& word) {
    const std::string words[] = {"one", "two", "four", "eight", "sixteen"};
    const int numbers[] = {1, 2, 4, 8, 16};
    for (std::size_t i = 0; i < std::size(words); ++i) {
        if (word == words[i]) return numbers[i];
    }
    return 0;
}

// What a title says its side reaches: "two 64-bit stores" 0 and 8, "high
// 128 bits" 16, "32 bits at byte 12" 12, a whole or low load 0.
std::vector<int> titled_reach(std::string_view title) {
    std::cmatch parts;
    const std::string text(title);
    if (std::regex_match(text.c_str(), parts, std::regex(R"((\w+) (\d+)-bit stores?( of EDX)?)"))) {
        std::vector<int> reached;
        for (int i = 0; i < number_word(parts[1].str()); ++i) reached.push_back(i * std::stoi(parts[2].str()) / 8);
        return reached;
    }
    // The ZMM table's VEX load of the high half says so.
    if (std::regex_match(text.c_str(), parts, std::regex(R"((?:VEX )?high (\d+)(?: bits|, ZMM dirty))")))
        return {std::stoi(parts[1].str()) / 8};
    if (std::regex_match(text.c_str(), parts, std::regex(R"(\d+ bits at byte (\d+))")))
        return {std::stoi(parts[1].str())};
    if (std::regex_match(text.c_str(), parts, std::regex(R"((low )?\d+ bits( into EDX)?)"))) return {0};
    return {};
}

TEST(MovementChains, TheWidthsTitlesNameTheBytesThatTheirStoresAndLoadsReach) {
    for (const NamedTable& named : tables) {
        if (named.table.name != "widths") continue;
        for (std::span<const MovementSide> sides : {named.table.stores, named.table.loads}) {
            for (const MovementSide& side : sides) {
                EXPECT_FALSE(titled_reach(side.title).empty()) << side.title;
                EXPECT_EQ(displacements(side), titled_reach(side.title)) << named.family << ": " << side.title;
            }
        }
        // The parts stored add up to the whole register.
        const std::string whole = std::to_string(8 * named.table.width) + "-bit";
        EXPECT_EQ(named.table.stores[0].title, "one " + whole + " store");
        EXPECT_EQ(named.table.loads[0].title, std::to_string(8 * named.table.width) + " bits");
        for (const char* parts : {"halves", "quarters", "edx"}) {
            const auto side = std::find_if(named.table.stores.begin(), named.table.stores.end(),
                                           [&](const MovementSide& store) { return store.name == parts; });
            ASSERT_NE(side, named.table.stores.end());
            const std::vector<int> reached = displacements(*side);
            EXPECT_EQ(static_cast<std::uint32_t>(reached.back() + (reached[1] - reached[0])), named.table.width)
                << named.family << ": " << side->title;
        }
    }
}

// After any run of a chain the processor can run, register 0 holds the
// table's value at its full width, and the subtractions met no denormal,
// rounded nothing and were never invalid.
// A widths cell counts against the whole store and load of its arithmetic,
// or, where its store moves 32 bits, against the 32-bit store and load: a
// narrow load of a whole store, the VEX load of the high half too, against
// the whole.
TEST(MovementChains, EveryWidthsCellCountsAgainstTheReferenceOfItsWidth) {
    for (const NamedTable& named : tables) {
        const MovementTable& table = named.table;
        if (table.name != "widths") continue;
        for (const MovementCell& cell : table.cells) {
            const MovementCell& reference = table.cells[cell.reference];
            auto is_32 = [](std::string_view name) { return name.ends_with("32"); };
            const std::string expected = is_32(table.stores[cell.store].name) ? "low32 low32" : "whole whole";
            EXPECT_EQ(std::string(table.stores[reference.store].name) + " " + std::string(table.loads[reference.load].name),
                      expected)
                << named.family << ": " << table.stores[cell.store].name << " -> " << table.loads[cell.load].name;
            EXPECT_EQ(reference.arithmetic, cell.arithmetic);
        }
    }
}

TEST(MovementChains, EveryRunEndsWithTheTablesValueAndNoExceptionFlag) {
    const std::uint32_t saved = mxcsr();
    const Features features = usable_features(cpuid_answers());
    const Features family_needs[] = {
        isa::sse2, isa::sse2, isa::avx, isa::avx, isa::avx | isa::avx512f, isa::avx | isa::avx512f};
    std::size_t runs = 0;
    for (std::size_t t = 0; t < std::size(tables); ++t) {
        const MovementTable& table = tables[t].table;
        const std::size_t lanes = table.width / 4;
        const VectorValue& expected = matrix_chain_values[table.value_row];
        for (std::size_t cell = 0; cell < table.cells.size(); ++cell) {
            if (((family_needs[t] | table.needs(table.cells[cell])) & ~features) != 0) continue;
            for (TimedRun routine : {table.routines[cell].shorter, table.routines[cell].longer}) {
                std::fill(std::begin(matrix_chain_result.lanes), std::end(matrix_chain_result.lanes), 0xDEADBEEF);
                set_mxcsr(saved & ~mxcsr_exception_flags);
                routine();
                const std::uint32_t flags = mxcsr() & mxcsr_exception_flags;
                EXPECT_EQ(std::vector<std::uint32_t>(matrix_chain_result.lanes, matrix_chain_result.lanes + lanes),
                          std::vector<std::uint32_t>(expected.lanes, expected.lanes + lanes))
                    << tables[t].family << ": " << cell_text(table, cell);
                EXPECT_EQ(flags, 0u) << tables[t].family << ": " << cell_text(table, cell);
                ++runs;
            }
        }
    }
    set_mxcsr(saved);
    // Every processor this program runs on has SSE2: its tables at least ran.
    EXPECT_GE(runs, 2 * (std::size(type_cells) + std::size(width_cells)));
}

// CPUID's answers for a few processors: the feature bits and XCR0.
constexpr std::uint32_t sse2_bit = 1u << 26, sse41_bit = 1u << 19, avx_bit = 1u << 28, fma_bit = 1u << 12;
constexpr std::uint32_t avx2_bit = 1u << 5, f_bit = 1u << 16, dq_bit = 1u << 17, bw_bit = 1u << 30, vl_bit = 1u << 31;
constexpr CpuidAnswers sse2_only{0, sse2_bit, 0, 0x03};
constexpr CpuidAnswers avx_only{sse41_bit | avx_bit, sse2_bit, 0, 0x07};
constexpr CpuidAnswers avx2_core{sse41_bit | avx_bit | fma_bit, sse2_bit, avx2_bit, 0x07};
constexpr CpuidAnswers avx512_core{sse41_bit | avx_bit | fma_bit, sse2_bit, avx2_bit | f_bit | dq_bit | bw_bit | vl_bit,
                                   0xE7};
constexpr CpuidAnswers without_vl{avx512_core.leaf1_ecx, sse2_bit, avx2_bit | f_bit | dq_bit | bw_bit, 0xE7};
// The processor has AVX-512, but the system saves only the YMM state.
constexpr CpuidAnswers zmm_not_saved{avx512_core.leaf1_ecx, sse2_bit, avx512_core.leaf7_ebx, 0x07};

std::string movement_planned(const CpuidAnswers& answers, PlanRequest request = {}) {
    std::string text;
    for (const MovementPlan& plan : plan_movement(request, answers)) {
        text += std::string(plan.family->name) + ":";
        if (plan.status != FamilyStatus::measured) text += " " + plan.why;
        for (const MovementSelection& table : plan.tables) {
            text += " " + std::string(table.table->name) + " " + std::to_string(table.cells.size());
            if (!table.left_out.empty()) {
                text += " without " + std::to_string(table.left_out.size()) + " (" + table.left_out[0].second + ")";
            }
        }
        text += "\n";
    }
    return text;
}

TEST(MovementPlans, EveryFamilyTheProcessorHasIsMeasuredAndTheOthersSayWhy) {
    EXPECT_EQ(movement_planned(sse2_only),
              "sse: types 72 widths 13\navx: the processor has no AVX\navx2: the processor has no AVX2\n"
              "avx512: the processor has no AVX-512 Foundation\n");
    EXPECT_EQ(movement_planned(avx2_core),
              "sse: types 72 widths 13\navx: every avx movement chain is measured in avx2's tables\n"
              "avx2: types 72 widths 13\navx512: the processor has no AVX-512 Foundation\n");
    EXPECT_EQ(movement_planned(avx512_core),
              "sse: types 72 widths 13\navx: every avx movement chain is measured in avx2's tables\n"
              "avx2: types 72 widths 13\navx512: types 72 widths 14\n");
    // AVX-512 without VL: the 256- and 128-bit EVEX moves are left out, the
    // 32-bit ones and the VEX load of the high half stay.
    EXPECT_EQ(movement_planned(without_vl, {{"avx512"}, {}}),
              "avx512: types 72 widths 10 without 4 (the processor has no AVX-512 VL)\n");
    EXPECT_EQ(movement_planned(zmm_not_saved, {{"avx512"}, {}}),
              "avx512: the processor has AVX-512 Foundation, but the operating system does not save its registers\n");
    // AVX alone: the single subtraction's grid; the integer one and the
    // widths' OR need AVX2, and are not part of the avx family.
    EXPECT_EQ(movement_planned(avx_only, {{"avx", "avx2"}, {}}), "avx: types 36\navx2: the processor has no AVX2\n");
    // Named, avx is measured beside avx2.
    EXPECT_EQ(movement_planned(avx2_core, {{"avx", "avx2"}, {}}), "avx: types 36\navx2: types 72 widths 13\n");
    // The listing plans what the processor cannot run, and lists avx's
    // chains apart from avx2's.
    EXPECT_EQ(movement_planned(sse2_only, {{"avx512"}, {}, true}), "avx512: types 72 widths 14\n");
    EXPECT_EQ(movement_planned(avx2_core, {{}, {}, true}),
              "sse: types 72 widths 13\navx: types 36\navx2: types 72 widths 13\navx512: types 72 widths 14\n");
}

TEST(MovementPlans, NamesChooseCellsWithTheirReferencesAndOnlyThePartsAsked) {
    // movups as a store or a load: 11 cells per subtraction, each with its
    // reference, movdqa -> movdqa for psubd and movaps -> movaps for subps.
    EXPECT_EQ(movement_planned(avx2_core, {{"sse"}, {"movups"}}), "sse: types 24\n");
    std::string why;
    const std::vector<MovementPlan> plans = plan_movement({{"avx2"}, {"halves"}}, avx2_core);
    ASSERT_EQ(plans.size(), 1u);
    ASSERT_EQ(plans[0].tables.size(), 1u);
    EXPECT_EQ(plans[0].tables[0].cells, (std::vector<std::size_t>{0, 6}));
    // A subtraction's name chooses its grid; the widths' OR its whole table.
    EXPECT_EQ(movement_planned(avx512_core, {{}, {"vsubps", "por"}}),
              "sse: widths 13\navx: every avx movement chain is measured in avx2's tables\navx2: types 36\n"
              "avx512: types 36\n");
    // Names of movement and of classes alike pass the family plan's check,
    // which gives no family where only the movement is asked for.
    PlanRequest request{{}, {"movdqu", "pand"}};
    EXPECT_EQ(plan_families(request, avx2_core, why).size(), 1u);
    EXPECT_EQ(why, "");
    request.arithmetic = false;
    EXPECT_TRUE(plan_families(request, avx2_core, why).empty());
    EXPECT_EQ(why, "no movement cell uses the class 'pand'");
    request = {{}, {"movdqu"}};
    request.movement = false;
    plan_families(request, avx2_core, why);
    EXPECT_EQ(why, "no instruction class 'movdqu' in the families chosen");
}

// One window of a chain whose step takes `cycles`, and `typical` in its
// middle runs, at `ruler` ticks per cycle; the middle runs, and the ruler's,
// ran at a clock 10% slower.
ChainWindow step_window(double cycles, double ruler, double typical = 0, double frame = 4000) {
    return scripted_window(short_steps, long_steps, cycles, ruler, typical, frame);
}

// The SSE widths table measured in windows at `rulers`: the reference step
// takes 11 cycles, and each other cell `cycles(cell, window)`. The cell
// `with_runs` keeps twelve runs of its long routine in every window: the
// fastest, and eleven that take the middle run's time.
template <typename Cycles>
MovementResult scripted_widths(const std::vector<double>& rulers, const std::vector<std::size_t>& cells, Cycles cycles,
                               std::size_t with_runs = std::size(width_cells)) {
    std::vector<std::vector<ChainWindow>> windows(std::size(width_cells));
    for (std::size_t w = 0; w < rulers.size(); ++w) {
        for (std::size_t cell : cells) {
            const auto [best, typical] = cycles(cell, w);
            ChainWindow window = step_window(best, rulers[w], typical);
            if (cell == with_runs) {
                window.longer_runs.assign(12, window.longer.median);
                window.longer_runs[0] = window.longer.minimum;
            }
            windows[cell].push_back(std::move(window));
        }
    }
    return movement_from({&sse_widths, cells, {}}, {{static_cast<std::uint32_t>(rulers.size()), 12}},
                         std::move(windows));
}

TEST(MovementArithmetic, AStepIsTheLongRoutinesExtraStepAndACellItsExtraOverTheReferenceWindowByWindow) {
    // Two 64-bit stores cost 6 more than one 128-bit store, each window at
    // its own clock; the frame cancels whatever its size.
    const MovementResult result = scripted_widths({0.55, 0.60, 0.58}, {0, 6}, [](std::size_t cell, std::size_t w) {
        const double step = cell == 0 ? 11.0 + w : 17.0 + w;
        return std::pair{step, step};
    });
    EXPECT_NEAR(result.figures[0].best.median, 12.0, 1e-3);
    EXPECT_NEAR(result.figures[6].best.lowest, 17.0, 1e-3);
    EXPECT_NEAR(result.figures[6].extra_best.lowest, 6.0, 1e-3);
    EXPECT_NEAR(result.figures[6].extra_best.highest, 6.0, 1e-3);
    EXPECT_NEAR(result.figures[6].extra_typical.median, 6.0, 1e-3);
    EXPECT_TRUE(result.figures[6].measurable());
    EXPECT_FALSE(result.figures[0].measurable());
    EXPECT_NEAR(step_best(step_window(11, 0.6, 0, 90000)), 11.0, 1e-3);
    EXPECT_NEAR(step_typical(step_window(11, 0.6, 14, 0)), 14.0, 1e-3);
}

TEST(MovementArithmetic, ACellWhoseWindowsAllCostButSpreadWidelyCostsAndABimodalOneIsMarked) {
    // Halves cost +1 to +9 from window to window: every window costs. EDX's
    // stores cost +0.2 in the fastest run of every window but +4 in the
    // others: bimodal. The high half saves 0.05 in one window and costs 0.3
    // in another: nothing.
    const double halves[] = {1, 5, 9, 3, 7};
    const double high[] = {-0.05, 0.3, 0.1, 0.1, 0.2};
    const MovementResult result =
        scripted_widths({0.55, 0.55, 0.55, 0.55, 0.55}, {0, 2, 6, 8}, [&](std::size_t cell, std::size_t w) {
            if (cell == 6) return std::pair{11 + halves[w], 11 + halves[w]};
            if (cell == 8) return std::pair{11.2, 15.0};
            if (cell == 2) return std::pair{11 + high[w], 11 + high[w]};
            return std::pair{11.0, 11.0};
        }, 8);
    EXPECT_NEAR(result.figures[6].extra_best.median, 5, 1e-3);
    EXPECT_TRUE(result.figures[6].measurable());
    EXPECT_FALSE(result.figures[6].bimodal());
    EXPECT_TRUE(result.figures[8].measurable());
    EXPECT_TRUE(result.figures[8].bimodal());
    EXPECT_FALSE(result.figures[2].measurable());
    const std::string report =
        movement_report({{{&families[0], FamilyStatus::measured, "", {result.selection}}, {result}}});
    const std::string next_line(line_break);
    EXPECT_NE(report.find(next_line +
                          "  one 128-bit store             -> 128 bits                 11.00    11.00   "
                          "(the reference)" +
                          next_line +
                          "  one 128-bit store             -> high 64 bits             11.10    11.10    +0.1     "
                          "+0.1" +
                          next_line +
                          "  two 64-bit stores             -> 128 bits                 16.00    16.00    +5.0*    "
                          "+5.0" +
                          next_line +
                          "  four 32-bit stores of EDX     -> 128 bits                 11.20    15.00    +0.2*~   "
                          "+4.0" +
                          next_line + "      two modes: fast +0.2 in 8.3% of runs, typical +4.0" + next_line),
              std::string::npos)
        << report;
}

TEST(MovementArithmetic, EveryRunIsReadByTheFastestRulerOfItsWindow) {
    // Two 64-bit stores cost +6 but in window 5, whose every run takes 11.5
    // cycles a step: +0.5. Every run of the cell ran at the clock of the
    // ruler's fastest runs, its middle runs at a clock 10% slower; the runs
    // are read by the fastest ruler.
    std::vector<std::vector<ChainWindow>> windows(std::size(width_cells));
    for (std::size_t w = 0; w < 12; ++w) {
        windows[0].push_back(step_window(11.0, 0.55));
        ChainWindow window = step_window(w == 5 ? 11.5 : 17.0, 0.55);
        window.longer.median = window.longer.minimum;
        window.longer_runs.assign(12, window.longer.minimum);
        windows[6].push_back(std::move(window));
    }
    const MovementResult result = movement_from({&sse_widths, {0, 6}, {}}, {{12, 12}}, std::move(windows));
    const Modes& modes = result.figures[6].modes;
    EXPECT_TRUE(modes.bimodal());
    EXPECT_EQ(modes.fast_runs, 12u);
    EXPECT_NEAR(modes.fast, 0.5, 1e-2);
}

TEST(MovementArithmetic, AWindowCountsOnlyWhereTheCellsRulerAndItsReferencesBothConvert) {
    // Two stores of halves cost 6 more in window 0 and 7 more in window 3;
    // in window 1 the reference's ruler went backwards, in window 2 the
    // cell's, and neither of those windows may count towards the extra.
    std::vector<std::vector<ChainWindow>> windows(std::size(width_cells));
    for (double step : {11.0, 11.0, 11.0, 12.0}) windows[0].push_back(step_window(step, 0.55));
    for (double step : {17.0, 40.0, 3.0, 19.0}) windows[6].push_back(step_window(step, 0.55));
    for (auto [cell, w] : {std::pair{0, 1}, std::pair{6, 2}}) {
        RulerTimes& ruler = windows[cell][w].ruler;
        std::swap(ruler.shorter, ruler.longer);
    }
    const MovementResult result = movement_from({&sse_widths, {0, 6}, {}}, {{4, 12}}, std::move(windows));
    const MovementFigures& halves = result.figures[6];
    EXPECT_NEAR(halves.extra_best.lowest, 6.0, 1e-3);
    EXPECT_NEAR(halves.extra_best.highest, 7.0, 1e-3);
    EXPECT_NEAR(halves.extra_typical.highest, 7.0, 1e-3);
    // The cell's own step, over its own usable windows.
    EXPECT_NEAR(halves.best.highest, 40.0, 1e-3);
    EXPECT_NEAR(halves.best.lowest, 17.0, 1e-3);
}

TEST(MovementArithmetic, TheMarksAreJudgedOnTheExtraOverTheReferenceNotOnTheCellsOwnStep) {
    // The reference runs at two speeds itself, 11 cycles at best and 14 in
    // most runs. The high half costs 1 more in both: its own step is
    // bimodal, its extra is not. The lane costs 0.05 at best but 0.5 in
    // most runs: its typical extra lies beyond the resolution, its best
    // does not. The low half costs 0.3 at best and nothing in most runs.
    const MovementResult result = scripted_widths({0.55, 0.6, 0.58}, {0, 1, 2, 3}, [](std::size_t cell, std::size_t) {
        if (cell == 1) return std::pair{11.3, 14.0};
        if (cell == 2) return std::pair{12.0, 15.0};
        if (cell == 3) return std::pair{11.05, 14.5};
        return std::pair{11.0, 14.0};
    });
    const MovementFigures &low = result.figures[1], &high = result.figures[2], &lane = result.figures[3];
    EXPECT_TRUE(high.measurable());
    EXPECT_FALSE(high.bimodal());
    EXPECT_FALSE(lane.measurable());
    EXPECT_FALSE(lane.bimodal());
    EXPECT_TRUE(low.measurable());
    EXPECT_FALSE(low.bimodal());
}

TEST(MovementReport, TheThirtyTwoBitCellsCountAgainstTheThirtyTwoBitReferenceWhichSaysSoOnItsLine) {
    // The whole store and load take 11 cycles a step, the 32-bit ones 5;
    // through EDX on one side 7 or 8, on both 9.
    const MovementResult result = scripted_widths({0.55, 0.6}, {0, 9, 10, 11, 12}, [](std::size_t cell, std::size_t) {
        const double steps[] = {11, 0, 0, 0, 0, 0, 0, 0, 0, 5, 7, 8, 9};
        return std::pair{steps[cell], steps[cell]};
    });
    const std::string next_line(line_break);
    const std::string report =
        movement_report({{{&families[0], FamilyStatus::measured, "", {result.selection}}, {result}}});
    EXPECT_NE(report.find(next_line +
                          "  one 128-bit store             -> 128 bits                 11.00    11.00   "
                          "(the reference)" +
                          next_line +
                          "  one 32-bit store              -> low 32 bits               5.00     5.00   "
                          "(the reference)" +
                          next_line +
                          "  one 32-bit store              -> low 32 bits into EDX      7.00     7.00    +2.0*    "
                          "+2.0" +
                          next_line +
                          "  one 32-bit store of EDX       -> low 32 bits               8.00     8.00    +3.0*    "
                          "+3.0" +
                          next_line +
                          "  one 32-bit store of EDX       -> low 32 bits into EDX      9.00     9.00    +4.0*    "
                          "+4.0" +
                          next_line),
              std::string::npos)
        << report;
}

TEST(MovementJson, GivesEveryCellsFiguresReferenceAndWindowsAndTheMatrixLeavesOutWhatItDidNotMeasure) {
    // The cells of the test above: halves +1 to +9, EDX's stores +0.2 at
    // best and +4 typically, the high half nothing.
    const double halves[] = {1, 5, 9, 3, 7};
    const MovementResult result =
        scripted_widths({0.55, 0.55, 0.55, 0.55, 0.55}, {0, 6, 8}, [&](std::size_t cell, std::size_t w) {
            if (cell == 6) return std::pair{11 + halves[w], 11 + halves[w]};
            if (cell == 8) return std::pair{11.2, 15.0};
            return std::pair{11.0, 11.0};
        }, 8);
    MatrixResults results{{},
                          {},
                          false,
                          true,
                          {{{&families[0], FamilyStatus::measured, "", {result.selection}}, {result}},
                           {{&families[3], FamilyStatus::unsupported, "no AVX-512 here", {}}, {}}}};
    const Json json = matrix_json(results, calibration_from({}, {0, 0}, {1, 1}));
    EXPECT_FALSE(json.contains("transitions"));
    EXPECT_EQ(json["families"], Json::array());
    const Json& movement = json["movement"];
    EXPECT_EQ(movement["short_steps"], 1);
    EXPECT_NEAR(movement["window_ticks_per_cycle"].get<double>(), 0.55, 1e-4);
    EXPECT_EQ(json["window_ticks_per_cycle"], movement["window_ticks_per_cycle"]);
    EXPECT_EQ(movement["families"][1], Json({{"name", "avx512"},
                                             {"title", "AVX-512, 512 bits on ZMM"},
                                             {"status", "unsupported"},
                                             {"why", "no AVX-512 here"}}));
    const Json& table = movement["families"][0]["tables"][0];
    EXPECT_EQ(table["name"], "widths");
    EXPECT_EQ(table["stores"][3]["instructions"].size(), 5u);
    ASSERT_EQ(table["cells"].size(), 3u);
    const Json& reference = table["cells"][0];
    EXPECT_EQ(reference["reference"], Json({{"store", "whole"}, {"load", "whole"}}));
    EXPECT_NEAR(reference["cycles"].get<double>(), 11.0, 1e-3);
    const Json& wide = table["cells"][1];
    EXPECT_EQ(wide["store"], "halves");
    EXPECT_EQ(wide["arithmetic"], "por");
    EXPECT_NEAR(wide["extra"].get<double>(), 5.0, 1e-3);
    EXPECT_NEAR(wide["extra_lowest"].get<double>(), 1.0, 1e-3);
    EXPECT_NEAR(wide["extra_highest"].get<double>(), 9.0, 1e-3);
    EXPECT_EQ(wide["measurable"], true);
    EXPECT_EQ(wide["bimodal"], false);
    EXPECT_EQ(wide["windows"]["long_minimums"].size(), 5u);
    EXPECT_EQ(wide["windows"]["short_minimums"][2], result.windows[6][2].shorter.minimum);
    const Json& bimodal = table["cells"][2];
    EXPECT_NEAR(bimodal["extra"].get<double>(), 0.2, 1e-3);
    EXPECT_NEAR(bimodal["extra_typical"].get<double>(), 4.0, 1e-3);
    EXPECT_EQ(bimodal["bimodal"], true);
    EXPECT_NEAR(bimodal["fast"].get<double>(), 0.2, 1e-3);
    EXPECT_EQ(bimodal["fast_runs"], 5);
    EXPECT_EQ(bimodal["runs"], 60);
    EXPECT_NEAR(bimodal["fast_share"].get<double>(), 5.0 / 60, 1e-6);
    EXPECT_EQ(wide["fast"], nullptr);
    EXPECT_EQ(wide["fast_runs"], 0);
    // The text report of the same run: no triangle, no transitions.
    const std::string report = matrix_report(results, calibration_from({}, {0, 0}, {1, 1}));
    EXPECT_EQ(report.find("transitions"), std::string::npos);
    EXPECT_EQ(report.find("chains of 4 and 12"), std::string::npos);
    EXPECT_NE(report.find("data movement, sse"), std::string::npos);
}

TEST(MovementReport, ShowsEachSubtractionsGridAndWhyAFamilyWasNotMeasuredOrIsWithinAnother) {
    // The SSE types table: movaps -> movdqa costs 1 with psubd, movdqa ->
    // movaps saves 2 with subps; the rest cost nothing; psubd's step takes
    // 11 cycles, subps's 12.
    std::vector<std::size_t> cells(std::size(type_cells));
    for (std::size_t c = 0; c < cells.size(); ++c) cells[c] = c;
    std::vector<std::vector<ChainWindow>> windows(cells.size());
    for (std::size_t c : cells) {
        const double base = type_cells[c].arithmetic == 0 ? 11 : 12;
        const double extra = c == 2 * 6 + 0 ? 1 : c == 36 + 0 * 6 + 2 ? -2 : 0;
        // subps's own step (movaps -> movaps) typically takes half a cycle more.
        const double typical = c == 36 + 2 * 6 + 2 ? 12.5 : 0;
        for (double ruler : {0.55, 0.6}) windows[c].push_back(step_window(base + extra, ruler, typical));
    }
    const MovementResult types = movement_from({&sse_types, cells, {}}, {}, std::move(windows));
    const std::vector<MovementFamilyResult> results = {
        {{&families[0], FamilyStatus::measured, "", {types.selection}}, {types}},
        {{&families[1], FamilyStatus::within, "every avx movement chain is measured in avx2's tables", {}}, {}},
        {{&families[3], FamilyStatus::unsupported, "the processor has no AVX-512 Foundation", {}}, {}},
    };
    const std::string report = movement_report(results);
    const std::string next_line(line_break);
    EXPECT_NE(report.find("  psubd: movdqa -> movdqa -> psubd takes 11.00 cycles per step (typical 11.00)" + next_line +
                          "                movdqa   movdqu   movaps   movups   movapd   movupd" + next_line +
                          "    movdqa      +0.0     +0.0     +0.0     +0.0     +0.0     +0.0" + next_line +
                          "    movdqu      +0.0     +0.0     +0.0     +0.0     +0.0     +0.0" + next_line +
                          "    movaps      +1.0*    +0.0     +0.0     +0.0     +0.0     +0.0" + next_line),
              std::string::npos)
        << report;
    EXPECT_NE(report.find("  subps: movaps -> movaps -> subps takes 12.00 cycles per step (typical 12.50)" + next_line +
                          "                movdqa   movdqu   movaps   movups   movapd   movupd" + next_line +
                          "    movdqa      +0.0     +0.0     -2.0*    +0.0     +0.0     +0.0" + next_line),
              std::string::npos)
        << report;
    EXPECT_NE(report.find(next_line + next_line +
                          "data movement, avx: AVX, 256 bits on YMM: every avx movement chain is measured in avx2's "
                          "tables" +
                          next_line + next_line +
                          "data movement, avx512: AVX-512, 512 bits on ZMM: unsupported, the processor has "
                          "no AVX-512 Foundation" +
                          next_line),
              std::string::npos)
        << report;
    EXPECT_EQ(report.find("widths:"), std::string::npos);
}

TEST(MovementMeasurement, TimesEachChosenCellAndTheRulerInTurnsPassAfterPass) {
    static std::string calls;
    calls.clear();
    static std::uint64_t stamp;
    static void (*leave_after)(std::uint64_t) = [](std::uint64_t delta) {
        measurement_state.start = stamp;
        measurement_state.end = stamp + delta;
        stamp += 1'000'000;
    };
    static void (*leave)() = [] { leave_after(1000); };
    static ChainRoutines routines[std::size(width_cells)];
    for (ChainRoutines& routine : routines)
        routine = {[] {
                       calls += '!';
                       leave();
                   },
                   [] {
                       calls += '!';
                       leave();
                   }};
    routines[0] = {[] {
                       calls += 'a';
                       leave();
                   },
                   [] {
                       calls += 'A';
                       leave();
                   }};
    routines[6] = {[] {
                       calls += 'h';
                       leave();
                   },
                   [] {
                       calls += 'H';
                       leave();
                   }};
    static ClockChain ruler[clock_chain_count];
    std::copy(std::begin(clock_chains), std::end(clock_chains), ruler);
    // The ruler's three turns in a window take 1200, 1000 and 1100 ticks
    // short, 3300, 3000 and 3600 long: fastest 1000 and 3000, middle 1100
    // and 3300.
    static std::size_t turn;
    turn = 0;
    ruler[add_short].run = [] {
        calls += 'r';
        leave_after(std::array<std::uint64_t, 3>{1200, 1000, 1100}[turn % 3]);
    };
    ruler[add_long].run = [] {
        calls += 'R';
        leave_after(std::array<std::uint64_t, 3>{3300, 3000, 3600}[turn++ % 3]);
    };
    std::size_t progress = 0;
    const MovementResult result = measure_movement(
        {&sse_widths, {0, 6}, {}}, {{2, 3}}, [&] { ++progress; }, routines, ruler);
    EXPECT_EQ(calls,
              "aArRaArRaArR"
              "hHrRhHrRhHrR"
              "aArRaArRaArR"
              "hHrRhHrRhHrR");
    EXPECT_EQ(progress, 4u);
    ASSERT_EQ(result.windows[6].size(), 2u);
    EXPECT_TRUE(result.windows[1].empty());
    const ChainWindow& window = result.windows[6][1];
    EXPECT_EQ(std::vector<std::uint64_t>(
                  {window.ruler.shorter, window.ruler.longer, window.ruler_middle.shorter, window.ruler_middle.longer}),
              std::vector<std::uint64_t>({1000, 3000, 1100, 3300}));
}

TEST(MovementListing, ListsBothLengthsOfEveryChosenCell) {
    const std::vector<MovementPlan> plans = plan_movement({{"avx512"}, {"edx32"}, true}, sse2_only);
    const std::string listing = movement_listings(plans);
    const std::string next_line(line_break);
    EXPECT_NE(listing.find("movement avx512 widths whole, edx32, vpord: 1 step per loop iteration" + next_line +
                           "\tcode:" + next_line),
              std::string::npos)
        << listing;
    EXPECT_NE(listing.find("\t\t# mov edx, RAM[ebx]" + next_line + "\t\t8B 13" + next_line), std::string::npos);
    // Six cells (four with EDX, and the two references they are counted
    // against), each at both lengths.
    std::size_t titles = 0;
    for (std::size_t at = listing.find("movement avx512"); at != std::string::npos;
         at = listing.find("movement avx512", at + 1)) {
        ++titles;
    }
    EXPECT_EQ(titles, 2u * 6);
}

}  // namespace
