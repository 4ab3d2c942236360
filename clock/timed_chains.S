// The chains that calibrate the core clock against the time-stamp counter:
// dependent chains of one integer instruction, timed in the benchmark's own
// frame. Each iteration adds or multiplies EAX into EDX again and again, so
// every instruction waits for the one before it, and the loop runs at the
// instruction's latency, not at the rate the front end can issue it: the
// loop control beside the chain is independent of it and fits in its
// shadow.
//
// Two lengths of the same chain differ only by their extra instructions, so
// the difference of their times is those instructions' latency alone, the
// frame cancelled. `add r32, r32` takes one core cycle on every x86 core of
// the last twenty years. An immediate operand is avoided because some cores
// fold dependent constant additions, and moves and zeroing idioms because
// they can take no cycle at all. `imul r32, r32` (three cycles) is the
// cross-check. Integer addition and multiplication take the same time
// whatever the values, so EAX (the scratch pointer the frame leaves there)
// and EDX (the upper half of the first time stamp) serve as they are.
//
// Every routine starts on a 64-byte boundary and its loop on the next one,
// so that each loop (at most 53 bytes) lies in one 64-byte block.

#include "run/timed_frame.h"

#define CHAIN_LOOP_OFFSET 64

    .text

.macro add_chain count
    .rept \count
    add %eax, %edx
    .endr
.endm

.macro imul_chain count
    .rept \count
    imul %eax, %edx
    .endr
.endm

    timed_run SYM(timed_chain_add_8), CHAIN_LOOP_OFFSET, add_chain, 8
    timed_run SYM(timed_chain_add_24), CHAIN_LOOP_OFFSET, add_chain, 24
    timed_run SYM(timed_chain_imul_2), CHAIN_LOOP_OFFSET, imul_chain, 2
    timed_run SYM(timed_chain_imul_4), CHAIN_LOOP_OFFSET, imul_chain, 4

#if defined(__ELF__)
    .section .note.GNU-stack, "", @progbits
#endif
