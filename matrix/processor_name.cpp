#include <cpuid.h>

#include <cstdlib>
#include <cstring>

#include "matrix/report.hpp"

std::string processor_name_of(const char* given, std::string_view brand) {
    if (given != nullptr && *given != '\0') return given;
    // The brand string may be padded with blanks on either side.
    const auto first = brand.find_first_not_of(' ');
    if (first == std::string_view::npos) return "unknown processor";
    const auto last = brand.find_last_not_of(' ');
    return std::string(brand.substr(first, last - first + 1));
}

std::string processor_name() {
    char brand[49] = {};
    if (__get_cpuid_max(0x80000000, nullptr) >= 0x80000004) {
        unsigned registers[12];
        for (unsigned leaf = 0; leaf < 3; ++leaf) {
            __get_cpuid(0x80000002 + leaf, &registers[4 * leaf], &registers[4 * leaf + 1], &registers[4 * leaf + 2],
                        &registers[4 * leaf + 3]);
        }
        std::memcpy(brand, registers, 48);
    }
    // A seam for the end-to-end tests: a brand string of any bytes, as a
    // virtual machine's host may set one.
    return processor_name_of(std::getenv("SIMD_MIX_PROCESSOR_NAME"), brand);
}
