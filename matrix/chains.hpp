#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "clock/upper_state.hpp"
#include "matrix/classes.hpp"
#include "run/kernels.hpp"
#include "run/measurement.hpp"

// A chain of the matrix: one class alone (first == second), or two classes in
// turn. Indices are into instruction_classes, first <= second.
struct ChainPair {
    std::size_t first;
    std::size_t second;
};

inline constexpr std::size_t chain_count = class_count * (class_count + 1) / 2;

// Where a chain stands among the routines: the rows of a triangle, each
// class's chains with itself and every later class.
constexpr std::size_t chain_index(ChainPair pair) {
    return pair.first * (2 * class_count + 1 - pair.first) / 2 + (pair.second - pair.first);
}

// Instructions per loop iteration of a chain's two routines.
inline constexpr std::uint32_t short_chain = 4;
inline constexpr std::uint32_t long_chain = 12;

static_assert(chain_index({0, class_count - 1}) == class_count - 1);
static_assert(chain_index({1, 1}) == class_count);
static_assert(chain_index({class_count - 1, class_count - 1}) == chain_count - 1);

// The short and the long routine of every chain, in chain_index order.
struct ChainRoutines {
    TimedRun shorter;
    TimedRun longer;
};
extern "C" const ChainRoutines matrix_chain_routines[chain_count];

// A chain's loop body, instruction by instruction, as the listing shows it.
std::vector<Instruction> chain_body(ChainPair pair, std::uint32_t length);
