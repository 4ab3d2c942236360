#include "clock/fastest_runs.hpp"

#include <algorithm>

void fastest_runs(std::span<const TimedRun> routines, std::uint32_t repetitions, std::span<std::uint64_t> fastest) {
    std::fill(fastest.begin(), fastest.end(), UINT64_MAX);
    for (std::uint32_t repetition = 0; repetition < repetitions; ++repetition) {
        for (std::size_t i = 0; i < routines.size(); ++i) {
            routines[i]();
            // A counter that went backwards gives a delta near 2^64, which
            // loses against any ordinary run.
            fastest[i] = std::min(fastest[i], measurement_state.end - measurement_state.start);
        }
    }
}
