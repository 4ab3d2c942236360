#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "matrix/arithmetic/chains.hpp"
#include "matrix/features.hpp"

// The families every table is measured by: the triangles, and the movement
// tables at each family's width.

// A family of classes, one triangle: a table's classes that need no more
// than `covers`, measured where the processor has `needs` (AVX for every
// VEX and EVEX routine, which starts with vzeroupper). A class of the
// family that needs more than the processor has is left out.
struct Family {
    std::string_view name;
    std::string_view title;
    const ClassTable* table;
    Features needs;
    Features covers;
};

// clang-format off
inline const Family families[] = {
    {"sse",    "SSE to SSE4.1, 128 bits on XMM", &sse_table,     isa::sse2,
                                                                 isa::sse2 | isa::sse3 | isa::ssse3 | isa::sse41},
    {"avx",    "AVX, 256 bits on YMM",           &vex256_table,  isa::avx,                isa::avx},
    {"avx2",   "AVX2 and FMA, 256 bits on YMM",  &vex256_table,  isa::avx | isa::avx2,
                                                                 isa::avx | isa::avx2 | isa::fma | isa::avx_vnni},
    {"avx512", "AVX-512, 512 bits on ZMM",       &evex512_table, isa::avx | isa::avx512f,
                                                                 isa::avx512f | isa::avx512dq | isa::avx512bw |
                                                                 isa::avx512vl | isa::avx512_vnni},
};
// clang-format on

// The family's classes, indices into its table.
std::vector<std::size_t> classes_of(const Family& family);
