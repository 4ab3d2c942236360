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
// the registers are put in a state, beyond the same chain without the state
// write (see transition_routines.cpp). Three figures tell apart what processors do
// differently: the cost of each change of state, the cost of every
// instruction after a change, and the cost of every instruction in a state
// that stands.

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

// The chain lengths with the state written at the head of every iteration;
// the state set once before the loop is timed with the longer one.
inline constexpr std::uint32_t transition_short = 4;
inline constexpr std::uint32_t transition_long = 12;

// A kind after a state, or the reference, is timed by three routines.
enum TransitionPlacement : std::size_t {
    // The state written at the head of every iteration of a chain of
    // transition_short or transition_long instructions; for the reference,
    // the chain alone.
    at_head_short,
    at_head_long,
    // The state written once before the first time stamp, then a chain of
    // transition_long; the reference has none.
    once_before,
};
inline constexpr std::size_t transition_placement_count = 3;
inline constexpr std::uint32_t transition_lengths[transition_placement_count] = {transition_short, transition_long,
                                                                                 transition_long};

// clang-format off
inline constexpr InstructionForm clean_write   {{{0xC5, 0xF8, 0x77},                         3}, "# zero the upper bits of the YMM registers (AVX)",
                                                                                                 "# vzeroupper"};
inline constexpr InstructionForm dirty_ymm_write{{{0xC4, 0xE3, 0x65, 0x18, 0xFB, 0x01},       6}, "# insert packed floating-point values (floating point; AVX)",
                                                                                                 "# vinsertf128 ymm7, ymm3, xmm3, 0x01"};
inline constexpr InstructionForm dirty_zmm_write{{{0x62, 0xF3, 0x65, 0x48, 0x18, 0xFB, 0x03}, 7}, "# insert 128 bits of packed single-precision floating-point values (floating point; AVX-512F)",
                                                                                                 "# vinsertf32x4 zmm7, zmm3, xmm3, 0x03"};
inline constexpr InstructionForm high_zmm_write {{{0x62, 0xE1, 0x7C, 0x08, 0x28, 0xC3},       6}, "# move aligned packed single-precision floating-point values (floating point; AVX-512VL)",
                                                                                                 "# vmovaps xmm16, xmm3"};
// What a zmm16-31 routine leaves behind it: vzeroupper does not reach them.
inline constexpr InstructionForm high_zmm_clear {{{0x62, 0xA1, 0x7D, 0x00, 0xEF, 0xC0},       6}, "# bitwise logical exclusive or of packed doubleword integers (integer; AVX-512VL)",
                                                                                                 "# vpxord xmm16, xmm16, xmm16"};

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

// Every kind's routines, a null where the program has none: built from the
// tables when the program starts (transition_routines.cpp).
extern TimedRun matrix_transition_routines[transition_kind_count][transition_state_count]
                                                    [transition_placement_count];

// A routine's loop body: the state write where it stands at the head of the
// iteration, then the chain.
std::vector<Instruction> transition_body(std::size_t kind, std::size_t state, TransitionPlacement placement);

// Why a kind, or a kind after a state, cannot be measured here; empty where
// it can.
std::string why_no_transition(std::size_t kind, std::size_t state, const CpuidAnswers& answers);

// The runs of one window, routine by routine.
enum TransitionRun : std::size_t {
    // The reference chain at both lengths.
    plain_short,
    plain_long,
    // The state at the head of every iteration, at both lengths.
    head_short,
    head_long,
    // The state set once before the loop, at the long length.
    steady_long,
};
inline constexpr std::size_t transition_run_count = 5;

// One kind after one state in one window: each routine's fastest and middle
// runs, and the ruler's fastest and middle runs of the same window.
struct TransitionWindow {
    std::array<RunSummary, transition_run_count> runs;
    RulerTimes ruler;
    RulerTimes ruler_middle;
    // Every run of the routines whose runs the figures' modes judge
    // (transition_figures' judged), by routine; the others' stay empty.
    std::array<std::vector<std::uint64_t>, transition_run_count> every_run;

    bool usable() const;
};

// The figures of the table, in the order of transition_figures.
enum TransitionFigureIndex : std::size_t { per_change, per_instruction, steady_per_instruction };
inline constexpr std::size_t transition_figure_count = 3;

struct TransitionFigureName {
    std::string_view name;
    // What follows "extra core cycles".
    std::string_view title;
    // The places the text report gives it.
    int decimals;
    // The routine whose runs the figure's modes judge, and the number of
    // parts of an iteration its run's cycles are spread over to read as the
    // figure (see modes.hpp): the long chain with the state at the head of
    // every iteration holds both a change of state and the instructions after
    // it, read per iteration as a change and per instruction as the
    // instructions; the steady state's own routine holds the steady figure.
    TransitionRun judged;
    std::uint32_t parts;
};

inline constexpr TransitionFigureName transition_figures[transition_figure_count] = {
    {"per_change", "per change of state", 1, head_long, 1},
    {"per_instruction", "per instruction after a change", 2, head_long, transition_long},
    {"steady_per_instruction", "per instruction, steady state", 2, steady_long, transition_long},
};

// One window's three figures in core cycles. With the state at the head of
// every iteration, the extra cycles per iteration over the reference of the
// same length are per_change + length * per_instruction; the two lengths
// give both. steady_per_instruction is the extra cycles per instruction of
// the chain with the state set once, over the reference's long chain.
using TransitionFigures = std::array<double, transition_figure_count>;

// From the fastest runs by the ruler's fastest, and from the middle runs by
// the ruler's middle. The frame is the same in every routine and cancels.
TransitionFigures transition_best(const TransitionWindow& window);
TransitionFigures transition_typical(const TransitionWindow& window);
// Core cycles per instruction of the reference chain, the long chain's
// extra instructions over the short one's, the frame cancelled.
double reference_cycles(const TransitionWindow& window);

// One figure of a kind after a state over the windows.
struct TransitionFigure {
    Spread best{};
    Spread typical{};
    // The runs of the routine the figure judges, each read as the figure
    // (see modes.hpp).
    Modes modes{};

    // Every window puts it beyond the report's resolution on one side.
    bool measurable() const;
    bool bimodal() const { return modes.bimodal(); }
};

struct TransitionCell {
    // Empty where measured; else why not.
    std::string why;
    std::vector<TransitionWindow> windows;
    std::array<TransitionFigure, transition_figure_count> figures{};

    bool measured() const { return why.empty(); }
};

struct TransitionRow {
    std::string why;
    // The reference chain's cycles per instruction over every window.
    Spread reference{};
    // By state; the reference's own entry stays empty.
    std::array<TransitionCell, transition_state_count> cells;

    bool measured() const { return why.empty(); }
};

// Each turn runs seven routines, the dearest of them hundreds of cycles an
// iteration on a core that pays per change of state: 12 turns keep a window
// as short as the matrix's are beside their ruler.
struct TransitionSettings {
    WindowSettings windows{12, 12};
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
// reference's routines, the state's and the ruler in turns, window after
// window.
TransitionTable measure_transitions(const TransitionSettings& settings, const CpuidAnswers& answers,
                                    const std::function<void()>& progress,
                                    const TimedRun (&routines)[transition_kind_count][transition_state_count]
                                                              [transition_placement_count] = matrix_transition_routines,
                                    std::span<const ClockChain, clock_chain_count> ruler = clock_chains);
