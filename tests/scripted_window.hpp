#pragma once

#include <cstdint>

#include "clock/chains.hpp"
#include "matrix/arithmetic/penalties.hpp"
#include "run/measurement.hpp"

// One scripted window of a chain timed at two lengths, `shorter` and
// `longer` units (instructions or steps) per iteration of `iterations`, each
// unit taking `cycles` at `ruler` ticks per cycle, in a frame of `frame`
// ticks. Its middle runs, and the ruler's, ran at a clock 10% slower and take
// `typical` a unit (`cycles` where it is 0).
inline ChainWindow scripted_window(std::uint32_t shorter, std::uint32_t longer, double cycles, double ruler,
                                   double typical, double frame, std::uint32_t iterations = loop_iterations) {
    const double middle = 1.1 * ruler;
    auto time = [&](std::uint32_t units, double per_unit, double at) {
        return static_cast<std::uint64_t>(frame + units * per_unit * iterations * at + 0.5);
    };
    auto ruler_time = [&](ClockChainIndex chain, double at) {
        return static_cast<std::uint64_t>(1000 + clock_chains[chain].length * loop_iterations * at + 0.5);
    };
    if (typical == 0) typical = cycles;
    return {{time(shorter, cycles, ruler), time(shorter, typical, middle)},
            {time(longer, cycles, ruler), time(longer, typical, middle)},
            {ruler_time(add_short, ruler), ruler_time(add_long, ruler)},
            {ruler_time(add_short, middle), ruler_time(add_long, middle)},
            {}};
}
