#pragma once

#include <cstdint>

// Whether the timed routines may clear the upper halves of the YMM registers
// before they time: the processor has AVX and the system keeps its state.
// Code that ran before may have left the upper halves in use, and then every
// legacy SSE instruction merges them and takes longer.
extern "C" std::uint8_t avx_usable;
