#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "run/kernels.hpp"
#include "run/measurement.hpp"

// Every chain that the matrix times is a routine built at run time from its
// table, in four parts that are data:
//
//   set-up     EBX saved and pointed at the movement slot (where the steps
//              go through memory); the upper halves cleared (vzeroupper, for
//              legacy SSE only where AVX is usable); registers loaded from
//              rows of matrix_chain_values at the chain's width; a state
//              written once before the first time stamp;
//   frame      the benchmark's timed frame: rdtsc into measurement_state's
//              start, the scratch pointer, the iteration count, a short jump
//              over filler to the loop two 64-byte boundaries after the
//              entry, the loop control, rdtsc into its end;
//   body       the loop body, the step's bytes from the table as often as
//              the chain's length asks;
//   tear-down  register 0 into matrix_chain_result, the upper halves
//              cleared again, what the routine must leave clean, EBX
//              restored, ret.
//
// Every routine starts on a 64-byte boundary.

// The registers that the set-up loads and the tear-down stores, and the
// encoding of those moves: legacy SSE movaps, VEX vmovaps on XMM or YMM,
// EVEX vmovaps on ZMM.
enum class ChainRegisters : std::uint8_t { sse_xmm, vex_xmm, ymm, zmm };

// Clearing the upper halves of the vector registers.
enum class UpperClear : std::uint8_t {
    none,
    // Only where the processor has AVX: legacy SSE code cannot tell.
    where_avx,
    always,
};

// The row of matrix_chain_values that each register starts from, in
// register order; the registers after the last row keep what they hold.
class RegisterRows {
public:
    constexpr RegisterRows() = default;
    constexpr RegisterRows(std::initializer_list<std::uint8_t> rows) {
        for (std::uint8_t row : rows) push_back(row);
    }
    constexpr void push_back(std::uint8_t row) { rows_[count_++] = row; }
    constexpr std::size_t size() const { return count_; }
    constexpr std::uint8_t operator[](std::size_t reg) const { return rows_[reg]; }

private:
    // Registers 0 to 7, which a 32-bit program has too.
    std::array<std::uint8_t, 8> rows_{};
    std::size_t count_ = 0;
};

struct ChainSetUp {
    bool slot = false;
    UpperClear clear = UpperClear::always;
    ChainRegisters registers = ChainRegisters::sse_xmm;
    RegisterRows rows;
    // A state written before the first time stamp, once.
    const InstructionForm* before = nullptr;
};

struct ChainTearDown {
    ChainRegisters registers = ChainRegisters::sse_xmm;
    bool clear = false;
    // What the routine leaves clean beyond vzeroupper's reach.
    const InstructionForm* after = nullptr;
    bool slot = false;
};

// Where every loop starts, from its routine's entry: two 64-byte boundaries
// later, so that each loop starts a 64-byte block.
inline constexpr std::size_t chain_loop_offset = 128;

struct ChainRoutine {
    ChainSetUp set_up;
    std::vector<Instruction> body;
    std::uint32_t iterations = loop_iterations;
    ChainTearDown tear_down;
};

// The loop of a routine that the builder made, where its bytes run.
inline const std::uint8_t* chain_loop(TimedRun routine) {
    return reinterpret_cast<const std::uint8_t*>(routine) + chain_loop_offset;
}

// Builds every routine into memory of its own, which is read-and-execute
// before this returns, and gives each routine's entry in the same order.
// The memory lives as long as the program.
std::vector<TimedRun> build_chains(std::span<const ChainRoutine> routines);
