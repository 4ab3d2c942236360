#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "run/kernels.hpp"
#include "run/measurement.hpp"
#include "run/timed_runs.hpp"
#include "texts/messages.hpp"

struct TestCase {
    int number;
    std::uint32_t repetitions;
    Kernel body;
    std::u16string_view description;
    // The routine that times the loop around `body`.
    TimedRun timed_run;
};

template <int number>
constexpr TestCase test_case(std::uint32_t repetitions, TimedRun timed_run) {
    const auto& description = description_of_test<number>;
    return {number, repetitions, kernel_of_test(number), {description.data(), description.size()}, timed_run};
}

// The tests in the order they run.
// clang-format off
inline constexpr TestCase test_table[] = {
    //           repetitions  timed run
    test_case<-1>(0x10000,    timed_run_empty_loop),
    test_case<0>(0x10000,     timed_run_integer_moves_integer_arithmetic),
    test_case<1>(0x10000,     timed_run_float_moves_integer_arithmetic),
    test_case<2>(0x2000,      timed_run_float_moves_float_arithmetic),
    test_case<3>(0x2000,      timed_run_alternating_types),
};
// clang-format on

// Every test makes at least one timed run: the harness counts down from it.
static_assert(std::ranges::all_of(test_table, [](const TestCase& test) { return test.repetitions >= 1; }));
