#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "clock/upper_state.hpp"
#include "matrix/arithmetic/classes.hpp"
#include "matrix/chain_windows.hpp"
#include "run/kernels.hpp"
#include "run/measurement.hpp"

// A chain of the matrix: one class alone (first == second), or two classes in
// turn. Indices are into a table's classes, first <= second.
struct ChainPair {
    std::size_t first;
    std::size_t second;
};

// How many chains a triangle of `classes` classes holds.
constexpr std::size_t chain_count(std::size_t classes) { return classes * (classes + 1) / 2; }

// Where a chain stands among its table's routines: the rows of a triangle,
// each class's chains with itself and every later class.
constexpr std::size_t chain_index(ChainPair pair, std::size_t classes) {
    return pair.first * (2 * classes + 1 - pair.first) / 2 + (pair.second - pair.first);
}

static_assert(chain_index({0, 11}, 12) == 11);
static_assert(chain_index({1, 1}, 12) == 12);
static_assert(chain_index({11, 11}, 12) == chain_count(12) - 1);

// Instructions per loop iteration of a chain's two routines.
inline constexpr std::uint32_t short_chain = 4;
inline constexpr std::uint32_t long_chain = 12;
// Loop iterations of every run of a chain, which its frame loads into ECX: a quarter of the benchmark's, so that a triangle of hundreds of chains
// takes a few seconds. The long routine's 8,192 extra instructions over the
// short one's take thousands of time-stamp ticks even at one cycle each,
// where a few ticks of the frame's own spread weigh a tenth of a percent;
// runs of 2,048 iterations came out no steadier.
inline constexpr std::uint32_t chain_iterations = 1024;

// Every chain of a table, short and long, in chain_index order: built from
// the table when the program starts (chain_routines.cpp).
extern ChainRoutines matrix_sse_routines[chain_count(std::size(sse_classes))];
extern ChainRoutines matrix_vex256_routines[chain_count(std::size(vex256_classes))];
extern ChainRoutines matrix_evex512_routines[chain_count(std::size(evex512_classes))];

// A table of classes with the routines of its triangle.
struct ClassTable {
    std::span<const InstructionClass> classes;
    std::span<const ChainRoutines> routines;
    // Bytes in one register: 16, 32 or 64.
    std::uint32_t width;

    std::size_t chain_index(ChainPair pair) const { return ::chain_index(pair, classes.size()); }
    std::size_t chain_count() const { return ::chain_count(classes.size()); }
    // Whether the chain runs on zeros, as a chain with a conversion does.
    bool from_zero(ChainPair pair) const {
        return runs_on_zero(classes[pair.first]) || runs_on_zero(classes[pair.second]);
    }
};

inline const ClassTable sse_table{sse_classes, matrix_sse_routines, 16};
inline const ClassTable vex256_table{vex256_classes, matrix_vex256_routines, 32};
inline const ClassTable evex512_table{evex512_classes, matrix_evex512_routines, 64};

// A chain's loop body, instruction by instruction, as the listing shows it:
// `length` steps, each a class's instruction or the whole of its round trip.
std::vector<Instruction> chain_body(const ClassTable& table, ChainPair pair, std::uint32_t length);
