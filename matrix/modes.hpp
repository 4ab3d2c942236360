#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Whether a cell's runs fall in two modes. tools/modes.py holds the same
// rule for the tools, which apply it to results written before the program
// judged the modes itself; a change to one is a change to both.
//
// A cell's runs are the runs of the routine that holds what the cell
// measures, at its longer length (the alternating chain's long routine, a
// movement cell's long routine; for a transition's cost per change of state
// and per instruction after a change, the long chain with the state written
// at the head of every iteration, and for its steady state's figure the
// chain after the state set once), in every window where the cell can be
// converted. Each run is read in the cell's own unit from its own core
// cycles, by the ruler's fastest runs of its window, spread over the
// instructions or steps of its routine (over its iterations alone, for a
// cost per change of state) and placed so that the median over the windows
// of their fastest runs reads as the cell's best figure. Only the run itself and its window's ruler place
// it, not the other routines of the cell's arithmetic, whose own stray runs
// would move a whole window. A run that ran at a slower clock than the
// ruler's fastest runs reads slower, never faster, than it ran, so that a
// change of clock inside a window makes no fast run.
//
// The typical mode lies where the windows' middle runs lie: its centre is
// the median over the windows of their middle run's reading. The fast mode
// is every run that lies below the centre beyond an empty stretch of more
// than bimodal_margin: going down from the centre through the readings below
// it, the first gap between neighbours (the centre counting as the first of
// them) wider than the margin; every run below that gap is fast. A cell is
// bimodal when its fast mode holds at least fast_share_least of its runs,
// wherever those runs fall among the windows. Runs slower than the centre
// make no mode: interrupts and a neighbour's busy spells make them in every
// cell.

// Two modes must lie more than this many core cycles apart in the cell's
// unit (a round trip, a step, an instruction).
inline constexpr double bimodal_margin = 1.0;
// The share of a cell's runs that its fast mode must hold at least: one in
// a hundred, counted in whole runs, so that a share of exactly 1% counts
// whatever precision the division would be done in.
inline constexpr std::size_t fast_runs_one_in = 100;
inline constexpr double fast_share_least = 1.0 / fast_runs_one_in;

// One reading and the number of runs that it stands for.
struct Reading {
    double value;
    std::size_t count;
};

struct Modes {
    // The median reading of the fast mode's runs; zero where it has none.
    double fast = 0;
    std::size_t fast_runs = 0;
    // Every run read, fast or not.
    std::size_t runs = 0;

    double fast_share() const { return runs == 0 ? 0 : static_cast<double>(fast_runs) / runs; }
    bool bimodal() const { return fast_runs > 0 && fast_runs * fast_runs_one_in >= runs; }
};

// The modes of `runs` runs, of which `readings` are read, around the centre
// of the typical mode.
Modes modes_of(std::vector<Reading> readings, double centre, std::size_t runs);

// One window of a cell: the ruler's fastest runs in ticks per core cycle,
// and the routine's fastest run, its middle run and every run, in ticks.
struct ModeWindow {
    double ticks_per_cycle;
    std::uint64_t fastest;
    std::uint64_t middle;
    std::span<const std::uint64_t> runs;
};

// The modes of a cell from its usable windows: `best` is its best figure,
// `units_per_cycle` the cell's units that one core cycle of a run spread
// over its routine makes (2 / (12 x 1,024) for a round trip of the long
// chain, for example).
Modes modes_of_windows(const std::vector<ModeWindow>& windows, double best, double units_per_cycle);
