#pragma once

// What a timed routine must hold, byte for byte, worked out from where it
// lies in this process: the time-stamp stores address measurement_state
// from wherever the linker and loader put both.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "run/measurement.hpp"
#include "tests/hex.hpp"

inline const std::uint8_t* code_of(TimedRun run) { return reinterpret_cast<const std::uint8_t*>(run); }

class ExpectedRoutine {
public:
    explicit ExpectedRoutine(const std::uint8_t* entry) : entry_(entry) {}

    // Byte by byte: GCC 12 mistakes a range insert here for an overflow.
    void add(std::initializer_list<std::uint8_t> bytes) {
        for (std::uint8_t byte : bytes) bytes_.push_back(byte);
    }
    void add(const Bytes& bytes) {
        for (std::uint8_t byte : bytes) bytes_.push_back(byte);
    }
    void add32(std::uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    // An address as a 32-bit operand: RIP-relative to the end of the
    // instruction on x86-64 (`rest` bytes of it follow the operand), absolute
    // elsewhere.
    void add_address(const void* target, std::uint32_t rest = 0) {
        const auto address = reinterpret_cast<std::uintptr_t>(target);
#if defined(__x86_64__)
        add32(static_cast<std::uint32_t>(address - (here() + 4 + rest)));
#else
        (void)rest;
        add32(static_cast<std::uint32_t>(address));
#endif
    }
    // mov [field], eax (lower half) and mov [field + 4], edx (upper half).
    void store_time_stamp(const std::uint64_t& field) {
#if defined(__x86_64__)
        add({0x89, 0x05});
#else
        add({0xA3});
#endif
        add_address(&field);
        add({0x89, 0x15});
        add_address(reinterpret_cast<const std::uint8_t*>(&field) + 4);
    }
    // The timed frame around a loop of `body` that starts `placement` bytes
    // after the next 64-byte boundary, or, with a `loop_offset`, that many
    // bytes after the routine's entry, and repeats `iterations` times; then
    // `ret`.
    void timed_frame(std::uintptr_t placement, const Bytes& body, std::size_t loop_offset = 0,
                     std::uint32_t iterations = loop_iterations) {
        add({0x0F, 0x31});  // rdtsc
        store_time_stamp(measurement_state.start);
#if defined(__x86_64__)
        add({0x48, 0x89, 0xE0, 0x48, 0x83, 0xE8, 0x50});  // mov rax, rsp; sub rax, 0x50
#else
        add({0x89, 0xE0, 0x83, 0xE8, 0x50});  // mov eax, esp; sub eax, 0x50
#endif
        add({0x24, 0xE0});                    // and al, 0xE0
        add({0xB9});  // mov ecx, iterations
        add32(iterations);
        // The first address after the jump with the loop's placement.
        const std::uintptr_t after_jump = here() + 2;
        const std::uintptr_t filler = loop_offset != 0
                                          ? reinterpret_cast<std::uintptr_t>(entry_) + loop_offset - after_jump
                                          : (placement - after_jump % 64 + 64) % 64;
        add({0xEB, static_cast<std::uint8_t>(filler)});
        for (std::uintptr_t i = 0; i < filler; ++i) add({0x90});
        add(body);
        // A loop longer than a short jump reaches ends in a near one, which
        // the assembler picks for it.
        if (body.size() + 5 <= 128) {
            const auto loop_length = body.size() + 5;
            add({0x83, 0xE9, 0x01, 0x75, static_cast<std::uint8_t>(-static_cast<int>(loop_length))});
        } else {
            add({0x83, 0xE9, 0x01, 0x0F, 0x85});
            add32(static_cast<std::uint32_t>(-static_cast<std::int32_t>(body.size() + 9)));
        }
        add({0x0F, 0x31});  // rdtsc
        store_time_stamp(measurement_state.end);
    }
    std::uintptr_t here() const { return reinterpret_cast<std::uintptr_t>(entry_) + bytes_.size(); }
    const Bytes& bytes() const { return bytes_; }
    // The same number of bytes of the routine itself, as it is in memory.
    Bytes actual() const { return Bytes(entry_, entry_ + bytes_.size()); }

private:
    const std::uint8_t* entry_;
    Bytes bytes_;
};

// The offset of the short jump into the loop, from the routine's entry.
#if defined(__x86_64__)
inline constexpr std::size_t loop_jump_offset = 28;
#else
inline constexpr std::size_t loop_jump_offset = 25;
#endif

// Follows the short jump that enters a routine's loop.
inline const std::uint8_t* loop_start_after(const std::uint8_t* jump) {
    return jump + 2 + static_cast<std::int8_t>(jump[1]);
}
