#pragma once

#include <cstdint>

// The system's monotonic clock in nanoseconds, the time-stamp counter's judge:
// CLOCK_MONOTONIC_RAW, or the performance counter on Windows.
std::uint64_t system_nanoseconds();
