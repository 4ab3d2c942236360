#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "clock/calibration.hpp"
#include "clock/windows.hpp"
#include "matrix/features.hpp"
#include "matrix/modes.hpp"
#include "run/kernels.hpp"

// The transitions table: what a chain of each kind of instruction costs when
// every loop iteration first puts the registers in a state, beyond the same
// chain without the state write (see transitions.S).

struct TransitionKind {
    std::string_view name;
    std::string_view title;
    InstructionForm form;
    Features needs;
};

struct TransitionState {
    std::string_view name;
    std::string_view title;
    // The state write at the head of each iteration; none for the reference.
    const InstructionForm* form;
    Features needs;
    // Only a 64-bit program has the register it writes.
    bool needs_64_bits;
};

inline constexpr std::uint32_t transition_length = 12;

// clang-format off
inline constexpr InstructionForm clean_write   {{{0xC5, 0xF8, 0x77},                         3}, "# zero the upper bits of the YMM registers (AVX)",
                                                                                                 "# vzeroupper"};
inline constexpr InstructionForm dirty_ymm_write{{{0xC4, 0xE3, 0x65, 0x18, 0xFB, 0x01},       6}, "# insert packed floating-point values (floating point; AVX)",
                                                                                                 "# vinsertf128 ymm7, ymm3, xmm3, 0x01"};
inline constexpr InstructionForm dirty_zmm_write{{{0x62, 0xF3, 0x65, 0x48, 0x18, 0xFB, 0x03}, 7}, "# insert 128 bits of packed single-precision floating-point values (floating point; AVX-512F)",
                                                                                                 "# vinsertf32x4 zmm7, zmm3, xmm3, 0x03"};
inline constexpr InstructionForm high_zmm_write {{{0x62, 0xE1, 0x7C, 0x08, 0x28, 0xC3},       6}, "# move aligned packed single-precision floating-point values (floating point; AVX-512VL)",
                                                                                                 "# vmovaps xmm16, xmm3"};

// The kinds, in the order of matrix_transition_routines; each routine
// starts with vzeroupper, so every kind needs AVX.
inline constexpr TransitionKind transition_kinds[] = {
    {"sse128",  "legacy SSE, 128 bits", {{{0x0F, 0x58, 0xC1},                   3}, "# add packed single-precision floating-point values (floating point; SSE)",
                                                                                     "# addps xmm0, xmm1"},           isa::avx},
    {"vex128",  "VEX, 128 bits",        {{{0xC5, 0xF8, 0x58, 0xC1},             4}, "# add packed single-precision floating-point values (floating point; AVX)",
                                                                                     "# vaddps xmm0, xmm0, xmm1"},    isa::avx},
    {"vex256",  "VEX, 256 bits",        {{{0xC5, 0xFC, 0x58, 0xC1},             4}, "# add packed single-precision floating-point values (floating point; AVX)",
                                                                                     "# vaddps ymm0, ymm0, ymm1"},    isa::avx},
    {"evex512", "EVEX, 512 bits",       {{{0x62, 0xF1, 0x7C, 0x48, 0x58, 0xC1}, 6}, "# add packed single-precision floating-point values (floating point; AVX-512F)",
                                                                                     "# vaddps zmm0, zmm0, zmm1"},    isa::avx | isa::avx512f},
};

// The reference first, then the states of the table, in the order of each
// kind's routines.
inline constexpr TransitionState transition_states[] = {
    {"none",           "no state write",                 nullptr,          isa::avx,                  false},
    {"clean",          "after vzeroupper (the control)", &clean_write,     isa::avx,                  false},
    {"dirty_ymm",      "dirty YMM upper half",           &dirty_ymm_write, isa::avx,                  false},
    {"dirty_zmm",      "dirty ZMM upper half",           &dirty_zmm_write, isa::avx512f,              false},
    {"dirty_zmm16_31", "dirty zmm16-31",                 &high_zmm_write,  isa::avx512f | isa::avx512vl,   true},
};
// clang-format on

inline constexpr std::size_t transition_kind_count = std::size(transition_kinds);
inline constexpr std::size_t transition_state_count = std::size(transition_states);

// Every kind's routines, a null where the program has none.
extern "C" const TimedRun matrix_transition_routines[transition_kind_count][transition_state_count];

// A routine's loop body: the state write, then the chain.
std::vector<Instruction> transition_body(std::size_t kind, std::size_t state);

// Why a kind, or a kind after a state, cannot be measured here; empty where
// it can.
std::string why_no_transition(std::size_t kind, std::size_t state, const CpuidAnswers& answers);

// One kind after one state in one window: the reference chain's runs and
// the state's, and the ruler's fastest and middle runs of the same window.
struct TransitionWindow {
    RunSummary plain;
    RunSummary after_state;
    RulerTimes ruler;
    RulerTimes ruler_middle;
    // Every run of the state's routine, for the cell's modes.
    std::vector<std::uint64_t> after_state_runs;

    bool usable() const;
};

// Extra core cycles per instruction after the state, from the fastest runs
// by the ruler's fastest, and from the middle runs by the ruler's middle.
// The frame is the same in both routines and cancels.
double transition_best(const TransitionWindow& window);
double transition_typical(const TransitionWindow& window);
// Core cycles per instruction of the reference chain, its frame included.
double reference_cycles(const TransitionWindow& window);

struct TransitionCell {
    // Empty where measured; else why not.
    std::string why;
    std::vector<TransitionWindow> windows;
    Spread best{};
    Spread typical{};
    // The state routine's runs, each read as an extra per instruction (see
    // modes.hpp).
    Modes modes{};

    bool measured() const { return why.empty(); }
    bool measurable() const;
    bool bimodal() const { return modes.bimodal(); }
};

struct TransitionRow {
    std::string why;
    // The reference chain's cycles per instruction over every window.
    Spread reference{};
    // By state; the reference's own entry stays empty.
    std::array<TransitionCell, transition_state_count> cells;

    bool measured() const { return why.empty(); }
};

struct TransitionSettings {
    WindowSettings windows{12, 16};
};

struct TransitionTable {
    TransitionSettings settings;
    std::array<TransitionRow, transition_kind_count> rows;
};

// How many windows measure_transitions times, for progress.
std::size_t transition_window_count(const TransitionSettings& settings, const CpuidAnswers& answers);

// The table's figures from the windows each cell already holds.
TransitionTable transitions_from(TransitionTable table);

// Times every kind after every state that the processor can run, the
// reference, the state's routine and the ruler in turns, window after window.
TransitionTable measure_transitions(
    const TransitionSettings& settings, const CpuidAnswers& answers, const std::function<void()>& progress,
    const TimedRun (&routines)[transition_kind_count][transition_state_count] = matrix_transition_routines,
    std::span<const ClockChain, clock_chain_count> ruler = clock_chains);
