#include "clock/upper_state.hpp"

#include <cpuid.h>

namespace {

bool avx_and_its_state() {
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool avx = ecx & bit_AVX;
    const bool xsave_enabled = ecx & bit_OSXSAVE;
    if (!avx || !xsave_enabled) return false;
    // The system must save and restore the SSE and the AVX state.
    unsigned low, high;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (low & 0x6) == 0x6;
}

}  // namespace

extern "C" {
std::uint8_t avx_usable = avx_and_its_state();
}
