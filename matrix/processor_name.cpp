#include <cpuid.h>

#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>

#include "console/utf8.hpp"
#endif

#include "matrix/report.hpp"

namespace {

// The name the tests give in SIMD_MIX_PROCESSOR_NAME, empty where none is
// given. A Windows program reads it as UTF-16, the system's own form of the
// environment, and keeps it as UTF-8, as a Linux program keeps its bytes:
// the ANSI code page would turn every character it lacks into '?', and the
// name the tests sent would not come back. Whatever the environment could
// not carry (bytes that are not UTF-8, under wine) arrives as U+FFFD.
std::string given_name() {
#ifdef _WIN32
    // The first call gives the size the name needs, its terminator included;
    // the second, the name's length without it.
    const wchar_t* variable = L"SIMD_MIX_PROCESSOR_NAME";
    const DWORD size = GetEnvironmentVariableW(variable, nullptr, 0);
    if (size <= 1) return {};
    std::wstring wide(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(variable, wide.data(), size);
    if (length == 0 || length >= size) return {};
    std::string name;
    encode_utf8(reinterpret_cast<const char16_t*>(wide.data()), length, [&name](const char* bytes, std::size_t count) {
        name.append(bytes, count);
        return true;
    });
    return name;
#else
    const char* given = std::getenv("SIMD_MIX_PROCESSOR_NAME");
    return given ? given : "";
#endif
}

}  // namespace

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
    return processor_name_of(given_name().c_str(), brand);
}
