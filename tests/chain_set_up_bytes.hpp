#pragma once

// The set-up bytes that several chain routines begin with, worked out from
// where the program's data lie in this process.
#include "clock/upper_state.hpp"
#include "matrix/movement/movement_forms.hpp"
#include "tests/timed_frame_bytes.hpp"

// EBX saved and pointed at the movement slot.
inline void add_slot_pointer(ExpectedRoutine& code) {
    code.add({0x53});  // push ebx
#if defined(__x86_64__)
    code.add({0x48, 0x8D, 0x1D});  // lea rbx, [rip + movement_slot]
#else
    code.add({0xBB});  // mov ebx, movement_slot
#endif
    code.add_address(movement_slot);
}

// The upper halves cleared where AVX is usable: a legacy SSE routine cannot
// tell otherwise.
inline void add_clear_where_avx(ExpectedRoutine& code) {
    code.add({0x80, 0x3D});  // cmp byte [avx_usable], 0
    code.add_address(&avx_usable, 1);
    code.add({0x00, 0x74, 0x03});  // je over vzeroupper
    code.add({0xC5, 0xF8, 0x77});  // vzeroupper
}
