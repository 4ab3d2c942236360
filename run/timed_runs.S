// The timed regions of the benchmark: one routine per test, each making one
// timed run of a loop that repeats the test's body 4,096 times between two
// reads of the time-stamp counter.
//
// Each routine is, in this order and with nothing else in between:
//   rdtsc, store EDX:EAX into measurement_state.start (lower half first);
//   point EAX/RAX at the scratch block, 80..111 bytes below the stack pointer,
//   32-byte aligned; load ECX with 4,096;
//   a short jump over never-executed 0x90 filler to the 16-byte-aligned loop;
//   the loop: the body, sub ecx, 1 and jne back to the loop start;
//   rdtsc, store EDX:EAX into measurement_state.end (lower half first).
// The caller does everything between two runs.
//
// Placement is part of what is measured, and the listings that the program
// prints mark the 16-byte boundaries of each body. Every routine starts on a
// 64-byte boundary; the empty loop starts 16 bytes after one and every SIMD
// loop 16 bytes before one, so that body offset 16 is a 64-byte boundary and
// the loop spans two 64-byte blocks.
//
// The same file assembles for ELF x86-64, ELF i386 and PE32. Only the
// time-stamp stores and the scratch pointer set-up differ between modes; the
// bodies and the loop control are the same bytes in every mode.

// C symbols carry the platform's prefix (an underscore on PE32).
#define CONCAT2(a, b) a##b
#define CONCAT(a, b) CONCAT2(a, b)
#define SYM(name) CONCAT(__USER_LABEL_PREFIX__, name)

// Byte offsets of the fields of measurement_state.
#define STATE_START 0
#define STATE_END 8

#if defined(__x86_64__)
// RIP-relative, so the program can be position independent.
#  define STATE_FIELD(offset) SYM(measurement_state) + (offset)(%rip)
#  define STACK_POINTER %rsp
#  define SCRATCH_POINTER %rax
#else
// Absolute addresses: the i386 program is not position independent, and the
// PE32 program relocates them through its base relocations.
#  define STATE_FIELD(offset) SYM(measurement_state) + (offset)
#  define STACK_POINTER %esp
#  define SCRATCH_POINTER %eax
#endif

#if defined(__ELF__)
#  define ROUTINE_TYPE(name) .type name, @function
#  define ROUTINE_SIZE(name) .size name, . - name
#else
#  define ROUTINE_TYPE(name) .def name; .scl 2; .type 32; .endef
#  define ROUTINE_SIZE(name)
#endif

// Loop starts, as offsets from the 64-byte-aligned routine start.
#define EMPTY_LOOP_OFFSET 80    // 16 bytes after a 64-byte boundary
#define SIMD_LOOP_OFFSET 48     // 16 bytes before a 64-byte boundary

    .text

// Stores EDX:EAX into one 64-bit field of measurement_state, lower half first.
.macro store_time_stamp field
    movl %eax, STATE_FIELD(\field)
    movl %edx, STATE_FIELD(\field + 4)
.endm

// One timed routine. `body` names the macro holding the loop body, or is
// empty for the bare loop frame.
.macro timed_run entry, loop_offset, body
    .p2align 6
    .globl \entry
    ROUTINE_TYPE(\entry)
\entry:
    rdtsc
    store_time_stamp STATE_START
    mov STACK_POINTER, SCRATCH_POINTER
    sub $0x50, SCRATCH_POINTER
    and $0xE0, %al                  // clears the low 5 bits: 32-byte aligned
    mov $0x1000, %ecx               // B9 and a 32-bit immediate
    // The jump is written as bytes: as a mnemonic it would be relaxable, and
    // the filler after it could not then be counted.
    .byte 0xEB, .Lloop\@ - .Lfiller\@
.Lfiller\@:
    // Single-byte NOPs, never executed. .p2align would fill with multi-byte
    // NOPs here even when asked for 0x90.
    .fill \loop_offset - (. - \entry), 1, 0x90
.Lloop\@:
    \body
    sub $1, %ecx
    jne .Lloop\@
    rdtsc
    store_time_stamp STATE_END
    ret
    ROUTINE_SIZE(\entry)
.endm

// The kernels: a load of the scratch block into XMM0, four dependent
// subtractions of XMM1..XMM4 from XMM0, and a store of XMM0 back. XMM1..XMM4
// and the scratch block are never initialised; the values do not matter.

// Test 0: integer moves, integer arithmetic.
.macro integer_moves_integer_arithmetic
    movdqa (SCRATCH_POINTER), %xmm0
    psubd %xmm1, %xmm0
    psubd %xmm2, %xmm0
    psubd %xmm3, %xmm0
    psubd %xmm4, %xmm0
    movdqa %xmm0, (SCRATCH_POINTER)
.endm

// Test 1: floating-point moves around integer arithmetic.
.macro float_moves_integer_arithmetic
    movaps (SCRATCH_POINTER), %xmm0
    psubd %xmm1, %xmm0
    psubd %xmm2, %xmm0
    psubd %xmm3, %xmm0
    psubd %xmm4, %xmm0
    movaps %xmm0, (SCRATCH_POINTER)
.endm

// Test 2: floating-point moves, floating-point arithmetic.
.macro float_moves_float_arithmetic
    movaps (SCRATCH_POINTER), %xmm0
    subps %xmm1, %xmm0
    subps %xmm2, %xmm0
    subps %xmm3, %xmm0
    subps %xmm4, %xmm0
    movaps %xmm0, (SCRATCH_POINTER)
.endm

// Test 3: the data changes type at every step of the chain.
.macro alternating_types
    movaps (SCRATCH_POINTER), %xmm0
    subps %xmm1, %xmm0
    psubd %xmm2, %xmm0
    subps %xmm3, %xmm0
    psubd %xmm4, %xmm0
    movdqa %xmm0, (SCRATCH_POINTER)
.endm

    timed_run SYM(timed_run_empty_loop), EMPTY_LOOP_OFFSET
    timed_run SYM(timed_run_integer_moves_integer_arithmetic), SIMD_LOOP_OFFSET, integer_moves_integer_arithmetic
    timed_run SYM(timed_run_float_moves_integer_arithmetic), SIMD_LOOP_OFFSET, float_moves_integer_arithmetic
    timed_run SYM(timed_run_float_moves_float_arithmetic), SIMD_LOOP_OFFSET, float_moves_float_arithmetic
    timed_run SYM(timed_run_alternating_types), SIMD_LOOP_OFFSET, alternating_types

#if defined(__ELF__)
    .section .note.GNU-stack, "", @progbits
#endif
