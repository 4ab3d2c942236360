#include "matrix/features.hpp"

#include <cpuid.h>

#include <iterator>
#include <string_view>

namespace {

struct FeatureRow {
    isa::Feature feature;
    std::string_view name;
    // Where CPUID reports it: leaf 1 ECX or EDX, leaf 7 EBX or ECX, or leaf 7
    // subleaf 1 EAX, and the bit.
    enum { leaf1_ecx, leaf1_edx, leaf7_ebx, leaf7_ecx, leaf7_1_eax } where;
    unsigned bit;
    // The XCR0 bits whose state the system must save: SSE, then AVX's upper
    // halves, then AVX-512's mask registers, ZMM upper halves and zmm16-31.
    std::uint64_t state;
};

constexpr std::uint64_t sse_state = 0x02, ymm_state = 0x06, zmm_state = 0xE6;

// The most advanced first: a reason names the extension that code needs
// most plainly (AVX2 rather than the AVX it also needs, AVX-512 Foundation
// rather than VL).
// clang-format off
constexpr FeatureRow feature_rows[] = {
    {isa::avx512f,  "AVX-512 Foundation", FeatureRow::leaf7_ebx, 16, zmm_state},
    {isa::avx512dq, "AVX-512 DQ",         FeatureRow::leaf7_ebx, 17, zmm_state},
    {isa::avx512bw, "AVX-512 BW",         FeatureRow::leaf7_ebx, 30, zmm_state},
    {isa::avx512vl, "AVX-512 VL",         FeatureRow::leaf7_ebx, 31, zmm_state},
    {isa::avx512_vnni, "AVX-512 VNNI",    FeatureRow::leaf7_ecx, 11, zmm_state},
    {isa::avx_vnni, "AVX-VNNI",           FeatureRow::leaf7_1_eax, 4, ymm_state},
    {isa::avx2,     "AVX2",               FeatureRow::leaf7_ebx,  5, ymm_state},
    {isa::fma,      "FMA",                FeatureRow::leaf1_ecx, 12, ymm_state},
    {isa::avx,      "AVX",                FeatureRow::leaf1_ecx, 28, ymm_state},
    {isa::sse41,    "SSE4.1",             FeatureRow::leaf1_ecx, 19, 0},
    {isa::ssse3,    "SSSE3",              FeatureRow::leaf1_ecx,  9, 0},
    {isa::sse3,     "SSE3",               FeatureRow::leaf1_ecx,  0, 0},
    {isa::sse2,     "SSE2",               FeatureRow::leaf1_edx, 26, 0},
};
// clang-format on

bool has_instructions(const FeatureRow& row, const CpuidAnswers& answers) {
    const std::uint32_t word = row.where == FeatureRow::leaf1_ecx   ? answers.leaf1_ecx
                               : row.where == FeatureRow::leaf1_edx ? answers.leaf1_edx
                               : row.where == FeatureRow::leaf7_ebx ? answers.leaf7_ebx
                               : row.where == FeatureRow::leaf7_ecx ? answers.leaf7_ecx
                                                                    : answers.leaf7_1_eax;
    return (word >> row.bit) & 1;
}

bool state_kept(const FeatureRow& row, const CpuidAnswers& answers) {
    return (answers.xcr0 & row.state) == row.state;
}

}  // namespace

CpuidAnswers cpuid_answers_of(CpuidRegisters (*cpuid)(std::uint32_t leaf, std::uint32_t subleaf),
                              std::uint64_t (*xgetbv)()) {
    CpuidAnswers answers{};
    // EAX of leaf 0 is the highest leaf.
    const std::uint32_t highest = cpuid(0, 0).eax;
    if (highest < 1) return answers;
    const CpuidRegisters leaf1 = cpuid(1, 0);
    answers.leaf1_ecx = leaf1.ecx;
    answers.leaf1_edx = leaf1.edx;
    if (highest >= 7) {
        const CpuidRegisters leaf7 = cpuid(7, 0);
        answers.leaf7_ebx = leaf7.ebx;
        answers.leaf7_ecx = leaf7.ecx;
        // EAX of subleaf 0 is the highest subleaf of leaf 7.
        if (leaf7.eax >= 1) answers.leaf7_1_eax = cpuid(7, 1).eax;
    }
    // Without XSAVE the system still saves the SSE registers (FXSAVE).
    answers.xcr0 = answers.leaf1_ecx & bit_OSXSAVE ? xgetbv() : sse_state;
    return answers;
}

CpuidAnswers cpuid_answers() {
    auto cpuid = [](std::uint32_t leaf, std::uint32_t subleaf) {
        CpuidRegisters registers{};
        __cpuid_count(leaf, subleaf, registers.eax, registers.ebx, registers.ecx, registers.edx);
        return registers;
    };
    auto xgetbv = []() -> std::uint64_t {
        std::uint32_t low, high;
        __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
        return (static_cast<std::uint64_t>(high) << 32) | low;
    };
    return cpuid_answers_of(cpuid, xgetbv);
}

Features usable_features(const CpuidAnswers& answers) {
    Features features = 0;
    for (const FeatureRow& row : feature_rows) {
        if (has_instructions(row, answers) && state_kept(row, answers)) features |= row.feature;
    }
    return features;
}

std::string why_unusable(Features needed, const CpuidAnswers& answers) {
    for (const FeatureRow& row : feature_rows) {
        if (!(needed & row.feature)) continue;
        if (!has_instructions(row, answers)) return "the processor has no " + std::string(row.name);
        if (!state_kept(row, answers)) {
            return "the processor has " + std::string(row.name) +
                   ", but the operating system does not save its registers";
        }
    }
    return "";
}
