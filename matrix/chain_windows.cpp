#include "matrix/chain_windows.hpp"

bool ChainWindow::usable() const { return rulers_convert(ruler, ruler_middle); }

bool beyond_resolution(const Spread& spread) {
    return spread.lowest >= cycle_resolution || spread.highest <= -cycle_resolution;
}
