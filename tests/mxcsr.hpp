#pragma once

#include <cstdint>

// The SSE control and status register, whose low six bits are the sticky
// exception flags: a run that met a denormal, rounded, underflowed or was
// invalid leaves one set.
inline constexpr std::uint32_t mxcsr_exception_flags = 0x3F;

inline std::uint32_t mxcsr() {
    std::uint32_t value;
    __asm__ volatile("stmxcsr %0" : "=m"(value));
    return value;
}

inline void set_mxcsr(std::uint32_t value) { __asm__ volatile("ldmxcsr %0" : : "m"(value)); }
