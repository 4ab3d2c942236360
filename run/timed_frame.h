// The timed frame that every measuring program of this project shares, and
// the macros that let one .S file assemble for ELF x86-64, ELF i386 and PE32.
// Included by .S files only.
//
// A timed routine is, in this order and with nothing else in between:
//   rdtsc, store EDX:EAX into measurement_state.start (lower half first);
//   point EAX/RAX at the scratch block, 80..111 bytes below the stack pointer,
//   32-byte aligned; load ECX with 4,096 (or the count that a file defines as
//   TIMED_FRAME_ITERATIONS before it includes this one);
//   a short jump over never-executed 0x90 filler to the loop, which starts at
//   a chosen offset from the 64-byte-aligned routine start;
//   the loop: the body, sub ecx, 1 and jne back to the loop start;
//   rdtsc, store EDX:EAX into measurement_state.end (lower half first).
// The caller does everything between two runs. Only the time-stamp stores and
// the scratch pointer set-up differ between modes; a body and the loop control
// are the same bytes in every mode.

// C symbols carry the platform's prefix (an underscore on PE32).
#define CONCAT2(a, b) a##b
#define CONCAT(a, b) CONCAT2(a, b)
#define SYM(name) CONCAT(__USER_LABEL_PREFIX__, name)

// Byte offsets of the fields of measurement_state.
#define STATE_START 0
#define STATE_END 8

#if defined(__x86_64__)
// RIP-relative, so the program can be position independent.
#  define DATA(name, offset) SYM(name) + (offset)(%rip)
#  define STACK_POINTER %rsp
#  define SCRATCH_POINTER %rax
// A code address in a table of routines.
#  define ADDRESS .quad
#else
// Absolute addresses: the i386 program is not position independent, and the
// PE32 program relocates them through its base relocations.
#  define DATA(name, offset) SYM(name) + (offset)
#  define STACK_POINTER %esp
#  define SCRATCH_POINTER %eax
#  define ADDRESS .long
#endif
#define STATE_FIELD(offset) DATA(measurement_state, offset)

// The loop's iterations: the benchmark's 4,096 unless the including file
// asks for another count.
#ifndef TIMED_FRAME_ITERATIONS
#  define TIMED_FRAME_ITERATIONS 0x1000
#endif

#if defined(__ELF__)
#  define ROUTINE_TYPE(name) .type name, @function
#  define ROUTINE_SIZE(name) .size name, . - name
#else
#  define ROUTINE_TYPE(name) .def name; .scl 2; .type 32; .endef
#  define ROUTINE_SIZE(name)
#endif

// Stores EDX:EAX into one 64-bit field of measurement_state, lower half first.
.macro store_time_stamp field
    movl %eax, STATE_FIELD(\field)
    movl %edx, STATE_FIELD(\field + 4)
.endm

// The timed frame around one loop, from the first time-stamp read to the
// store of the second. `entry` is the 64-byte-aligned start of the routine
// that holds it, from which `loop_offset` counts. `body` names the macro
// that holds the loop body, called with `args`; it is empty for the bare
// loop frame.
.macro timed_frame entry, loop_offset, body, args:vararg
    rdtsc
    store_time_stamp STATE_START
    mov STACK_POINTER, SCRATCH_POINTER
    sub $0x50, SCRATCH_POINTER
    and $0xE0, %al                  // clears the low 5 bits: 32-byte aligned
    mov $TIMED_FRAME_ITERATIONS, %ecx   // B9 and a 32-bit immediate
    // The jump is written as bytes: as a mnemonic it would be relaxable, and
    // the filler after it could not then be counted.
    .byte 0xEB, .Lloop\@ - .Lfiller\@
.Lfiller\@:
    // Single-byte NOPs, never executed. .p2align would fill with multi-byte
    // NOPs here even when asked for 0x90.
    .fill \loop_offset - (. - \entry), 1, 0x90
.Lloop\@:
    \body \args
    sub $1, %ecx
    jne .Lloop\@
    rdtsc
    store_time_stamp STATE_END
.endm

// One timed routine that is the frame alone: it starts on a 64-byte boundary
// and returns right after the second time stamp is stored.
.macro timed_run entry, loop_offset, body, args:vararg
    .p2align 6
    .globl \entry
    ROUTINE_TYPE(\entry)
\entry:
    timed_frame \entry, \loop_offset, \body, \args
    ret
    ROUTINE_SIZE(\entry)
.endm
