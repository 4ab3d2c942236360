#include <cpuid.h>

#include <cstdlib>
#include <cstring>

#include "matrix/report.hpp"

std::string processor_name() {
    // A seam for the end-to-end tests: a brand string of any bytes, as a
    // virtual machine's host may set one.
    if (const char* given = std::getenv("SIMD_MIX_PROCESSOR_NAME"); given && *given) return given;
    unsigned registers[12];
    if (__get_cpuid_max(0x80000000, nullptr) < 0x80000004) return "unknown processor";
    for (unsigned leaf = 0; leaf < 3; ++leaf) {
        __get_cpuid(0x80000002 + leaf, &registers[4 * leaf], &registers[4 * leaf + 1], &registers[4 * leaf + 2],
                    &registers[4 * leaf + 3]);
    }
    char brand[49] = {};
    std::memcpy(brand, registers, 48);
    // The brand string may be padded with blanks on either side.
    std::string name(brand);
    const auto first = name.find_first_not_of(' ');
    const auto last = name.find_last_not_of(' ');
    return first == std::string::npos ? "unknown processor" : name.substr(first, last - first + 1);
}
