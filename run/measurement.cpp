#include "run/measurement.hpp"

#include "console/console_output.hpp"
#include "run/test_table.hpp"

MeasurementState measurement_state;

void measure_runs(TimedRun timed_run, std::uint32_t repetitions) {
    MeasurementState& state = measurement_state;
    // Only the upper half is armed; the lower half keeps what the previous
    // test left there, and so do best_start and best_end.
    state.best_delta |= 0xFFFFFFFF00000000u;
    // The counter lives on the stack, below which the scratch block lies, and
    // is decremented in place.
    volatile std::uint32_t remaining = repetitions;
    do {
        timed_run();
        const std::uint64_t delta = state.end - state.start;
        // Strictly smaller: among equal runs the earliest stays the best.
        if (delta < state.best_delta) {
            state.best_delta = delta;
            state.best_start = state.start;
            state.best_end = state.end;
        }
        remaining = remaining - 1;
    } while (remaining != 0);
    state.start = state.best_start;
    state.end = state.best_end;
}

void measure_test(const TestCase& test) { measure_runs(test.timed_run, test.repetitions); }

void print_cycle_count() {
    format_decimal(static_cast<std::int64_t>(measurement_state.end - measurement_state.start));
    write_console_text(result_text, result_length);
}
