#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/json_document.hpp"
#include "matrix/arithmetic/penalties.hpp"
#include "matrix/report.hpp"
#include "matrix/transitions/transitions.hpp"
#include "tests/scripted_window.hpp"
#include "tests/timed_frame_bytes.hpp"

// What the matrix's tests and the transitions' tests share: the bytes of a
// chain's loads and stores, scripted windows and matrices, a run's results
// with one matrix, and pieces of a report's text and JSON.

// Classes of the SSE table by their index.
inline constexpr std::size_t paddd = 0, pand = 2, pshufd = 3, addps = 4, mulps = 5, addpd = 8;

// CPUID's answers for a few processors: the feature bits and XCR0.
inline constexpr std::uint32_t sse2_bit = 1u << 26, sse41_bit = 1u << 19, avx_bit = 1u << 28, fma_bit = 1u << 12;
inline constexpr std::uint32_t avx2_bit = 1u << 5, f_bit = 1u << 16, dq_bit = 1u << 17, bw_bit = 1u << 30, vl_bit = 1u << 31;
inline constexpr std::uint32_t sse3_bit = 1u << 0, ssse3_bit = 1u << 9;
inline constexpr std::uint32_t sse_bits = sse3_bit | ssse3_bit | sse41_bit;
// AVX-512 VNNI in leaf 7's ECX, AVX-VNNI in EAX of its subleaf 1.
inline constexpr std::uint32_t vnni512_bit = 1u << 11, avx_vnni_bit = 1u << 4;
inline constexpr CpuidAnswers sse2_only{0, sse2_bit, 0, 0x03};
inline constexpr CpuidAnswers avx2_core{sse_bits | avx_bit | fma_bit, sse2_bit, avx2_bit, 0x07};
// A core with both VNNI extensions, as recent Intel cores have.
inline constexpr CpuidAnswers avx512_core{sse_bits | avx_bit | fma_bit, sse2_bit, avx2_bit | f_bit | dq_bit | bw_bit | vl_bit,
                                   0xE7, vnni512_bit, avx_vnni_bit};

inline Bytes body_bytes(const std::vector<Instruction>& body) {
    Bytes bytes;
    for (const Instruction& instruction : body) {
        for (std::uint8_t byte : instruction.encoding()) bytes.push_back(byte);
    }
    return bytes;
}

// A load of register `reg` from a row of matrix_chain_values, or a store of
// register 0 into matrix_chain_result, at a width: legacy SSE movaps, VEX
// vmovaps or EVEX vmovaps, the operand a 32-bit address.
inline void add_move(ExpectedRoutine& code, std::uint32_t width, bool legacy, std::uint8_t opcode, std::uint8_t reg,
              const void* address) {
    if (legacy) {
        code.add({0x0F, opcode});
    } else if (width == 64) {
        code.add({0x62, 0xF1, 0x7C, 0x48, opcode});
    } else {
        code.add({0xC5, static_cast<std::uint8_t>(width == 32 ? 0xFC : 0xF8), opcode});
    }
    code.add({static_cast<std::uint8_t>(0x05 + 8 * reg)});
    code.add_address(address);
}

inline constexpr std::uint8_t load = 0x28, store = 0x29;
// Every routine's loop starts two 64-byte boundaries after its entry.
inline constexpr std::size_t loop_offset = 128;
inline const Bytes vzeroupper{0xC5, 0xF8, 0x77};

// One window of a chain whose instructions take `cycles` each at `ruler`
// ticks per cycle, in a frame of `frame` ticks; its middle runs, and the
// ruler's, ran at a clock 10% slower, and take `typical` each.
inline ChainWindow window_taking(double cycles, double ruler, double typical = 0, double frame = 5000) {
    return scripted_window(short_chain, long_chain, cycles, ruler, typical, frame, chain_iterations);
}

// The matrix of `classes` whose chains take, window by window, the cycles
// that `chain_cycles(pair, window)` gives, at the window's ruler.
template <typename Cycles>
PenaltyMatrix scripted_matrix(const std::vector<std::size_t>& classes, const std::vector<double>& rulers,
                              Cycles chain_cycles) {
    std::vector<std::vector<ChainWindow>> windows(sse_table.chain_count());
    for (std::size_t w = 0; w < rulers.size(); ++w) {
        for (const ChainPair& pair : chains_of(classes)) {
            const auto [best, typical] = chain_cycles(pair, w);
            windows[sse_table.chain_index(pair)].push_back(window_taking(best, rulers[w], typical));
        }
    }
    return matrix_from(sse_table, classes, MatrixSettings{{static_cast<std::uint32_t>(rulers.size()), 32}}, std::move(windows));
}

// A run that measured one SSE matrix, and no transitions.
inline MatrixResults results_of(const PenaltyMatrix& matrix) {
    MatrixResults results;
    results.families = {{{&families[0], FamilyStatus::measured, "", matrix.classes, {}}, matrix}};
    for (TransitionRow& row : results.transitions.rows) row.why = "not measured here";
    return results;
}

// Lines [first, last) of a text, the platform's line breaks included.
inline std::string section(const std::string& text, const std::string& first, const std::string& last) {
    const std::size_t start = text.find(first);
    return start == std::string::npos ? "" : text.substr(start, text.find(last, start) - start);
}

// What a state costs a kind: cycles per change of state at the head of each
// iteration, per instruction after it, and per instruction with the state
// set once before the loop.
struct StateCost {
    double change;
    double instruction;
    double steady;
};

// One window of a kind after a state whose reference chain takes
// `reference` cycles per instruction and whose state costs `cost` (`typical`
// in the middle runs, which ran 10% slower), at `ruler` ticks per cycle, in a
// frame of `frame` ticks.
inline TransitionWindow transition_window(double reference, StateCost cost, double ruler, double frame = 3000,
                                   std::optional<StateCost> typical = {}) {
    const double middle = 1.1 * ruler;
    auto time = [&](double iteration, double at) {
        return static_cast<std::uint64_t>(frame + iteration * loop_iterations * at + 0.5);
    };
    auto runs = [&](const StateCost& extra) {
        std::array<double, transition_run_count> cycles{};
        cycles[plain_short] = transition_short * reference;
        cycles[plain_long] = transition_long * reference;
        cycles[head_short] = cycles[plain_short] + extra.change + transition_short * extra.instruction;
        cycles[head_long] = cycles[plain_long] + extra.change + transition_long * extra.instruction;
        cycles[steady_long] = cycles[plain_long] + transition_long * extra.steady;
        return cycles;
    };
    const auto fastest = runs(cost), most = runs(typical.value_or(cost));
    auto ruler_time = [&](ClockChainIndex chain, double at) {
        return static_cast<std::uint64_t>(1000 + clock_chains[chain].length * loop_iterations * at + 0.5);
    };
    TransitionWindow window{};
    for (std::size_t run = 0; run < transition_run_count; ++run) {
        window.runs[run] = {time(fastest[run], ruler), time(most[run], middle)};
    }
    window.ruler = {ruler_time(add_short, ruler), ruler_time(add_long, ruler)};
    window.ruler_middle = {ruler_time(add_short, middle), ruler_time(add_long, middle)};
    return window;
}

// A table whose first kind alone was measured, after the given states.
inline TransitionTable one_kind_after(std::initializer_list<std::size_t> states) {
    TransitionTable table;
    for (TransitionRow& row : table.rows) row.why = "not measured here";
    table.rows[0].why.clear();
    for (TransitionCell& cell : table.rows[0].cells) cell.why = "not measured here";
    for (std::size_t state : states) table.rows[0].cells[state].why.clear();
    return table;
}

// The keys of a JSON object, in order.
inline std::vector<std::string> keys_of(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& [key, _] : object.items()) keys.push_back(key);
    return keys;
}
