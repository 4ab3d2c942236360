#include <time.h>

#include "clock/system_clock.hpp"

std::uint64_t system_nanoseconds() {
    // The raw clock is not slewed by time synchronisation, which would skew
    // the counter's rate.
    timespec now;
    clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(now.tv_nsec);
}
