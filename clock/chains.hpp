#pragma once

#include <cstdint>
#include <string_view>

#include "run/kernels.hpp"
#include "run/measurement.hpp"

// One instruction of a calibration chain: EDX is both an operand and the
// result, so each instruction waits for the one before.
struct ChainInstruction {
    Encoding encoding;
    std::string_view mnemonic;
    // Core cycles from one instruction's result to the next one's: the same
    // on every x86 core this program is meant for.
    int latency;
};

// clang-format off
inline constexpr ChainInstruction add_edx_eax  {{{0x01, 0xC2},       2}, "add edx, eax",  1};
inline constexpr ChainInstruction imul_edx_eax {{{0x0F, 0xAF, 0xD0}, 3}, "imul edx, eax", 3};
// clang-format on

extern "C" {
void timed_chain_add_8();
void timed_chain_add_24();
void timed_chain_imul_2();
void timed_chain_imul_4();
}

// One timed routine: `length` dependent instructions per loop iteration.
struct ClockChain {
    const ChainInstruction* instruction;
    std::uint32_t length;
    TimedRun run;
};

// The chains in the order they are timed and their minimums are kept: the
// short and the long add chain (the ruler), then the short and the long
// imul chain (the cross-check).
enum ClockChainIndex { add_short, add_long, imul_short, imul_long, clock_chain_count };

// clang-format off
inline constexpr ClockChain clock_chains[clock_chain_count] = {
    //            length  routine
    {&add_edx_eax,   8,   timed_chain_add_8},
    {&add_edx_eax,  24,   timed_chain_add_24},
    {&imul_edx_eax,  2,   timed_chain_imul_2},
    {&imul_edx_eax,  4,   timed_chain_imul_4},
};
// clang-format on
