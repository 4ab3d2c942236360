#include <windows.h>

#include "clock/system_clock.hpp"

std::uint64_t system_nanoseconds() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    // Whole seconds and the rest apart, so that the product cannot overflow.
    const auto count = static_cast<std::uint64_t>(counter.QuadPart);
    const auto rate = static_cast<std::uint64_t>(frequency.QuadPart);
    return count / rate * 1'000'000'000u + count % rate * 1'000'000'000u / rate;
}
