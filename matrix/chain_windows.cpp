#include "matrix/chain_windows.hpp"

bool ChainWindow::usable() const { return rulers_convert(ruler, ruler_middle); }

double best_per_extra(const ChainWindow& window, double extra) {
    return tick_difference(window.shorter.minimum, window.longer.minimum) / extra / ticks_per_cycle(window.ruler);
}

double typical_per_extra(const ChainWindow& window, double extra) {
    return tick_difference(window.shorter.median, window.longer.median) / extra / ticks_per_cycle(window.ruler_middle);
}

bool beyond_resolution(const Spread& spread) {
    return spread.lowest >= cycle_resolution || spread.highest <= -cycle_resolution;
}
