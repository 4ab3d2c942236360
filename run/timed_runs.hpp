#pragma once

// One timed run each: the loop around one test's body, 4,096 iterations
// between two time-stamp reads stored into measurement_state.start and .end.
// Written in assembly, byte for byte.
extern "C" {
void timed_run_empty_loop();
void timed_run_integer_moves_integer_arithmetic();
void timed_run_float_moves_integer_arithmetic();
void timed_run_float_moves_float_arithmetic();
void timed_run_alternating_types();
}
