#pragma once

#include <cstdint>
#include <string>

// The instruction sets a class of the matrix may need. A set counts only
// where the processor has it (CPUID) and, for the wider registers, the
// operating system saves and restores them (XGETBV).
namespace isa {
enum Feature : std::uint32_t {
    sse2 = 1u << 0,
    sse41 = 1u << 1,
    avx = 1u << 2,
    avx2 = 1u << 3,
    fma = 1u << 4,
    avx512f = 1u << 5,
    avx512dq = 1u << 6,
    avx512bw = 1u << 7,
    avx512vl = 1u << 8,
    sse3 = 1u << 9,
    ssse3 = 1u << 10,
    avx_vnni = 1u << 11,
    avx512_vnni = 1u << 12,
};
}  // namespace isa
using Features = std::uint32_t;

// What CPUID and XGETBV answered: the registers that carry the feature bits.
struct CpuidAnswers {
    std::uint32_t leaf1_ecx;
    std::uint32_t leaf1_edx;
    // Leaf 7, subleaf 0; zero where the processor has no leaf 7.
    std::uint32_t leaf7_ebx;
    // XCR0; zero where the system has not enabled XSAVE (no OSXSAVE).
    std::uint64_t xcr0;
    // Leaf 7, subleaf 0 ECX and subleaf 1 EAX, where the VNNI extensions
    // stand; zero where the processor has no such leaf.
    std::uint32_t leaf7_ecx = 0;
    std::uint32_t leaf7_1_eax = 0;
};

// What this processor's CPUID and XGETBV answer.
CpuidAnswers cpuid_answers();

// One CPUID query's registers, and the questions cpuid_answers asks, of
// `cpuid` and of `xgetbv` (XCR0, asked only where the system has enabled
// XSAVE), which stand in for the instructions in tests.
struct CpuidRegisters {
    std::uint32_t eax, ebx, ecx, edx;
};
CpuidAnswers cpuid_answers_of(CpuidRegisters (*cpuid)(std::uint32_t leaf, std::uint32_t subleaf),
                              std::uint64_t (*xgetbv)());

// The features the processor has and the system keeps the registers of.
Features usable_features(const CpuidAnswers& answers);

// Why code that needs `needed` cannot run, naming the most advanced feature
// that is missing and whether the processor or the system lacks it; empty
// where it can run.
std::string why_unusable(Features needed, const CpuidAnswers& answers);
