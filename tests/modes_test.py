"""Tests of tools/modes.py, the tools' copy of the program's rule for two
modes (matrix/modes.hpp): the rule itself on the readings that the
program's own tests give it, scripted windows of results that kept each
window's fastest and middle runs alone, each figure of a transition of
format 2 judged on its own routine's runs, and the round trips of the Intel
Xeon guest (family 6, model 167) in data/intel_modes.json, copied unchanged
from the matrix.json that make results wrote there: the SSE family's four
adds and AVX2's two, with their windows.
"""

import json
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tools"))
import modes  # noqa: E402

RULER = 0.7
ITERATIONS = 4096


def ticks(instructions, cycles, iterations=ITERATIONS):
    return round(5000 + instructions * cycles * iterations * RULER)


def ruler(clock=1.0):
    """The ruler's two add chains, at a clock `clock` times slower than the
    chains' fastest runs."""
    return [ticks(8, clock), ticks(24, clock)]


def chain(shorter, longer, fastest, middle, iterations=ITERATIONS):
    """One window of a chain of `shorter` and `longer` instructions, run
    `iterations` times beside a ruler of ITERATIONS: its fastest and middle
    runs take `fastest` and `middle` core cycles an instruction, its short
    routine's always the fastest's."""
    return {"short_minimums": [ticks(shorter, fastest, iterations)],
            "short_medians": [ticks(shorter, fastest, iterations)],
            "long_minimums": [ticks(longer, fastest, iterations)], "long_medians": [ticks(longer, middle, iterations)],
            "ruler_minimums": [ruler()], "ruler_medians": [ruler()]}


def windows(each):
    """The windows of a chain, one from `each` per window, joined field by
    field."""
    joined = {}
    for window in each:
        for key, values in window.items():
            joined.setdefault(key, []).extend(values)
    return joined


def round_trip(trips, turns=12, rulers=None):
    """paddd (1 cycle) <-> addps (3 cycles), window w's fastest and middle
    runs costing the round trips trips[w]; the alternating chain's rulers,
    where given, rulers[w] as (fastest, middle)."""
    pure = [windows([chain(4, 12, cycles, cycles)] * len(trips)) for cycles in (1, 3)]
    both = windows([chain(4, 12, (4 + fastest) / 2, (4 + middle) / 2) for fastest, middle in trips])
    if rulers is not None:
        both["ruler_minimums"], both["ruler_medians"] = (list(each) for each in zip(*rulers))
    return modes.round_trip_modes(both, pure[0], pure[1], 4, 12, turns, ITERATIONS)


class Rule(unittest.TestCase):
    def test_the_fast_mode_lies_below_the_first_gap_wider_than_a_cycle_going_down_from_the_centre(self):
        # The readings of the program's own test, each with the runs it
        # stands for.
        self.assertEqual(modes.modes_of([(9.6, 5), (9.2, 3), (7.5, 2), (7.0, 4), (2.0, 1), (12.0, 9)], 10.0, 100),
                         (7, 7.0))
        self.assertEqual(modes.modes_of([(9.6, 5), (12.0, 9)], 10.0, 14), (0, None))
        self.assertEqual(modes.modes_of([(9.6, 5), (9.1, 5), (8.6, 5), (8.1, 5), (12.0, 9)], 10.0, 29), (0, None))

    def test_a_gap_of_exactly_the_margin_is_one_mode_and_any_wider_one_two(self):
        self.assertEqual(modes.modes_of([(9.0, 5), (12.0, 9)], 10.0, 14), (0, None))
        self.assertEqual(modes.modes_of([(9.5, 4), (8.5, 5), (12.0, 9)], 10.0, 18), (0, None))
        self.assertEqual(modes.modes_of([(8.9375, 5), (12.0, 9)], 10.0, 14), (5, 8.9375))
        self.assertEqual(modes.modes_of([(9.5, 4), (8.4375, 5), (12.0, 9)], 10.0, 18), (5, 8.4375))


class Figures(unittest.TestCase):
    def test_a_typical_figure_exactly_the_margin_above_the_best_is_one_mode(self):
        self.assertFalse(modes.from_figures(76.0, 77.0, 0.2)["bimodal"])
        judged = modes.from_figures(76.0, 77.0625, 0.2)
        self.assertEqual((judged["bimodal"], judged["fast"], judged["fast_share"]), (True, 76.0, 0.2))
        # The files hold six places: figures 1.000000 apart whose difference
        # comes out a hair above 1 in binary are still one mode, and a
        # millionth more is two.
        self.assertGreater(2.015 - 1.015, 1.0)
        self.assertFalse(modes.from_figures(1.015, 2.015, 0.2)["bimodal"])
        self.assertTrue(modes.from_figures(1.015, 2.015001, 0.2)["bimodal"])
        # A share under one in a hundred is no mode, one of exactly that is.
        self.assertFalse(modes.from_figures(76.0, 78.0, 0.0099)["bimodal"])
        self.assertTrue(modes.from_figures(76.0, 78.0, 0.01)["bimodal"])


class ScriptedWindows(unittest.TestCase):
    def test_one_mode(self):
        judged = round_trip([(78.0, 78.2)] * 12)
        self.assertEqual((judged["bimodal"], judged["fast_runs"], judged["runs"]), (False, 0, 144))

    def test_a_fast_mode_in_one_window_of_twelve(self):
        # Its fastest and middle runs both fast: six of its twelve runs at
        # least, the fastest up to the middle.
        judged = round_trip([(78.0, 78.2)] * 5 + [(4.0, 4.0)] + [(78.0, 78.2)] * 6)
        self.assertTrue(judged["bimodal"])
        self.assertEqual((judged["fast_runs"], judged["runs"], judged["at_least"]), (6, 144, True))
        self.assertAlmostEqual(judged["fast"], 4.0, places=2)
        self.assertAlmostEqual(judged["fast_share"], 6 / 144)

    def test_two_modes_less_than_a_cycle_apart(self):
        judged = round_trip([(78.0, 78.2)] * 5 + [(77.3, 77.3)] + [(78.0, 78.2)] * 6)
        self.assertEqual((judged["bimodal"], judged["fast_runs"]), (False, 0))

    def test_a_fast_share_just_under_one_percent(self):
        # Windows of 100 runs: a fast fastest run is one fast run.
        under = round_trip([(4.0, 78.0)] * 11 + [(78.0, 78.0)], turns=100)
        self.assertEqual((under["fast_runs"], under["runs"], under["bimodal"]), (11, 1200, False))
        least = round_trip([(4.0, 78.0)] * 12, turns=100)
        self.assertEqual((least["fast_runs"], least["bimodal"]), (12, True))

    def test_slower_runs_than_the_typical_ones_make_no_mode(self):
        judged = round_trip([(150.0, 150.0)] * 3 + [(78.0, 78.2)] * 9)
        self.assertEqual((judged["bimodal"], judged["fast_runs"]), (False, 0))

    def test_a_window_whose_fastest_or_middle_ruler_cannot_convert_is_left_out(self):
        # As the program leaves it out: 11 windows of 12 runs, not 12.
        for stuck in ((ruler()[0], ruler()[0]), ruler()), (ruler(), (ruler()[0], ruler()[0])):
            with self.subTest(stuck=stuck):
                judged = round_trip([(78.0, 78.2)] * 5 + [(4.0, 4.0)] + [(78.0, 78.2)] * 6,
                                    rulers=[(ruler(), ruler())] * 3 + [stuck] + [(ruler(), ruler())] * 8)
                self.assertEqual((judged["bimodal"], judged["fast_runs"], judged["runs"]), (True, 6, 132))

    def test_every_run_is_read_by_the_fastest_ruler_of_its_window(self):
        # The ruler's middle runs ran at a clock 10% slower than its fastest,
        # as the chain's runs did not: the fast window still reads +4.0.
        judged = round_trip([(78.0, 78.2)] * 5 + [(4.0, 4.0)] + [(78.0, 78.2)] * 6,
                            rulers=[(ruler(), ruler(1.1))] * 12)
        self.assertEqual((judged["bimodal"], judged["fast_runs"]), (True, 6))
        self.assertAlmostEqual(judged["fast"], 4.0, places=2)

    def test_chains_of_half_the_ruler_s_iterations_are_read_by_the_file_s_chain_iterations(self):
        # Eight chains to a window run 2,048 iterations each beside the
        # ruler's 4,096; a window's fast round trip reads +4.0, not half.
        trips = [(78.0, 78.2)] * 5 + [(4.0, 4.0)] + [(78.0, 78.2)] * 6
        pure = [windows([chain(4, 12, cycles, cycles, 2048)] * len(trips)) for cycles in (1, 3)]
        both = windows([chain(4, 12, (4 + fastest) / 2, (4 + middle) / 2, 2048) for fastest, middle in trips])
        cell = {"first": "paddd", "second": "addps", "windows": both}
        entry = {"classes": [{"name": "paddd", "windows": pure[0]}, {"name": "addps", "windows": pure[1]}],
                 "round_trips": [cell]}
        modes.judge_family(entry, {"iterations": ITERATIONS, "chain_iterations": 2048, "short_chain": 4,
                                   "long_chain": 12, "turns": 12})
        self.assertEqual((cell["bimodal"], cell["fast_runs"], cell["runs"]), (True, 6, 144))
        self.assertAlmostEqual(cell["fast"], 4.0, places=2)


def transitions(head_long, steady, turns=12):
    """A transitions section of format 2 with one kind after one state:
    window w's fastest and middle runs of the long chain with the state at
    the head take head_long[w] core cycles an iteration, the steady chain's
    steady[w]; its figures +389 per change, +2 per instruction in the steady
    state, none per instruction after a change."""
    def runs(routine, each):
        return {f"{routine}_minimums": [ticks(1, fastest) for fastest, _ in each],
                f"{routine}_medians": [ticks(1, middle) for _, middle in each]}
    windows = {**runs("head_long", head_long), **runs("steady", steady),
               "ruler_minimums": [ruler()] * len(head_long), "ruler_medians": [ruler()] * len(head_long)}
    figures = {"per_change": 389.0, "per_instruction": 0.0, "steady_per_instruction": 2.0}
    state = {"state": "dirty_ymm", "status": "measured", "windows": windows,
             **{name: {"cycles": cycles, "typical": cycles, "measurable": True} for name, cycles in figures.items()}}
    return {"short_chain": 4, "long_chain": 12, "steady_chain": 12, "windows": len(head_long), "turns": turns,
            "figures": [{"name": "per_change", "modes_from": "head_long", "modes_parts": 1},
                        {"name": "per_instruction", "modes_from": "head_long", "modes_parts": 12},
                        {"name": "steady_per_instruction", "modes_from": "steady", "modes_parts": 12}],
            "kinds": [{"name": "sse128", "status": "measured", "states": [state]}]}


class Transitions(unittest.TestCase):
    def test_each_figure_of_format_2_judges_the_runs_of_its_own_routine(self):
        # One window's long chain at the head saves 6 cycles an iteration in
        # its fastest and middle runs: a mode of its own per change, half a
        # cycle per instruction. The steady chain's runs keep to one mode.
        section = transitions([(413.0, 413.0)] * 5 + [(407.0, 407.0)] + [(413.0, 413.0)] * 6, [(48.0, 48.0)] * 12)
        modes.judge_transitions(section, {"iterations": ITERATIONS}, 2)
        state = section["kinds"][0]["states"][0]
        change = state["per_change"]
        self.assertEqual((change["bimodal"], change["fast_runs"], change["runs"], change["at_least"]),
                         (True, 6, 144, True))
        self.assertAlmostEqual(change["fast"], 383.0, places=2)
        self.assertEqual((state["per_instruction"]["bimodal"], state["per_instruction"]["fast_runs"]), (False, 0))
        self.assertEqual((state["steady_per_instruction"]["bimodal"], state["steady_per_instruction"]["runs"]),
                         (False, 144))

    def test_a_figure_that_the_program_judged_is_kept_and_one_without_windows_is_judged_by_its_figures(self):
        section = transitions([(413.0, 413.0)] * 12, [(48.0, 48.0)] * 5 + [(24.0, 24.0)] + [(48.0, 48.0)] * 6)
        state = section["kinds"][0]["states"][0]
        state["steady_per_instruction"].update(bimodal=False, fast=None, fast_share=0.0, fast_runs=0, runs=144)
        modes.judge_transitions(section, {"iterations": ITERATIONS}, 2)
        self.assertEqual(state["steady_per_instruction"]["fast_runs"], 0)
        del state["windows"]
        state["per_change"] = {"cycles": 389.0, "typical": 392.0, "measurable": True}
        modes.judge_transitions(section, {"iterations": ITERATIONS}, 2)
        self.assertEqual(state["per_change"], {"cycles": 389.0, "typical": 392.0, "measurable": True, "bimodal": True,
                                               "fast": 389.0, "fast_share": None, "fast_runs": None, "runs": None,
                                               "at_least": False})

    def test_a_file_whose_figures_do_not_name_their_runs_is_judged_as_the_program_judges(self):
        # Written before the program named each figure's routine and parts:
        # per change from the head chain's runs read per iteration, per
        # instruction from the same runs spread over the long chain.
        section = transitions([(413.0, 413.0)] * 5 + [(407.0, 407.0)] + [(413.0, 413.0)] * 6, [(48.0, 48.0)] * 12)
        for figure in section["figures"]:
            del figure["modes_from"], figure["modes_parts"]
        modes.judge_transitions(section, {"iterations": ITERATIONS}, 2)
        state = section["kinds"][0]["states"][0]
        self.assertEqual((state["per_change"]["bimodal"], state["per_change"]["fast_runs"]), (True, 6))
        self.assertAlmostEqual(state["per_change"]["fast"], 383.0, places=2)
        self.assertEqual((state["per_instruction"]["bimodal"], state["per_instruction"]["fast_runs"]), (False, 0))

    def test_a_state_of_format_1_is_judged_on_the_chain_with_the_state_write(self):
        # The chain with the write takes 34 cycles an instruction, 30 in one
        # window; the plain chain keeps to 2.
        plain = [ticks(12, 2.0)] * 12
        written = [ticks(12, cycles) for cycles in [34.0] * 5 + [30.0] + [34.0] * 6]
        state = {"state": "dirty_ymm", "status": "measured", "cycles": 32.0, "typical": 32.0, "measurable": True,
                 "windows": {"plain_minimums": plain, "plain_medians": plain, "state_minimums": written,
                             "state_medians": written, "ruler_minimums": [ruler()] * 12,
                             "ruler_medians": [ruler()] * 12}}
        section = {"instructions_per_iteration": 12, "turns": 12,
                   "kinds": [{"name": "sse128", "status": "measured", "states": [state]}]}
        modes.judge_transitions(section, {"iterations": ITERATIONS}, 1)
        self.assertEqual((state["bimodal"], state["fast_runs"], state["runs"]), (True, 6, 144))
        self.assertAlmostEqual(state["fast"], 28.0, places=2)


class Movement(unittest.TestCase):
    def test_the_reference_is_judged_on_its_own_step_and_a_cell_the_program_judged_is_kept(self):
        # The reference's step takes 11 cycles, 8 in one window; a cell
        # beside it with the same runs was judged by the program already.
        steps = windows([chain(1, 2, 11.0, 11.0)] * 5 + [chain(1, 2, 8.0, 8.0)] + [chain(1, 2, 11.0, 11.0)] * 6)
        whole = {"store": "whole", "load": "whole"}
        reference = {**whole, "arithmetic": "por", "reference": whole, "windows": steps, "extra": 0.0,
                     "extra_typical": 0.0}
        judged = {"store": "halves", "load": "whole", "arithmetic": "por", "reference": whole, "windows": steps,
                  "extra": 0.0, "extra_typical": 0.0, "bimodal": False, "fast_runs": 0}
        section = {"short_steps": 1, "long_steps": 2, "turns": 12,
                   "families": [{"status": "measured", "tables": [{"cells": [reference, judged]}]}]}
        modes.judge_movement(section, ITERATIONS)
        self.assertEqual((reference["bimodal"], reference["fast_runs"], reference["runs"]), (True, 6, 144))
        self.assertAlmostEqual(reference["fast"], 8.0, places=2)
        self.assertEqual((judged["bimodal"], judged["fast_runs"]), (False, 0))
        self.assertNotIn("runs", judged)


class IntelGuest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(os.path.join(HERE, "data", "intel_modes.json")) as source:
            cls.data = json.load(source)

    def judged(self, family, first, second):
        entry = next(item for item in self.data["families"] if item["name"] == family)
        classes = {item["name"]: item for item in entry["classes"]}
        cell = next(item for item in entry["round_trips"] if (item["first"], item["second"]) == (first, second))
        return cell, modes.round_trip_modes(cell["windows"], classes[first]["windows"], classes[second]["windows"],
                                            self.data["short_chain"], self.data["long_chain"], self.data["turns"],
                                            self.data["iterations"])

    def test_addps_addpd_keeps_to_one_mode_in_these_windows(self):
        # +77.5 to +79.8 in every window's fastest runs, +77.9 to +78.1 in
        # their middle ones; the two windows whose fastest runs ran faster
        # in ticks ran at a faster clock, which their ruler saw.
        cell, judged = self.judged("sse", "addps", "addpd")
        self.assertEqual((cell["bimodal"], judged["bimodal"], judged["fast_runs"]), (False, False, 0))

    def test_addss_addsd_and_vaddps_vaddpd_fall_in_two_modes_three_cycles_apart(self):
        cell, judged = self.judged("sse", "addss", "addsd")
        # The old rule, typical less best, saw nothing.
        self.assertFalse(cell["bimodal"])
        self.assertEqual((judged["bimodal"], judged["fast_runs"], judged["runs"]), (True, 15, 144))
        self.assertAlmostEqual(judged["fast"], 75.67, places=2)
        cell, judged = self.judged("avx2", "vaddps", "vaddpd")
        self.assertEqual((judged["bimodal"], judged["fast_runs"]), (True, 22))
        self.assertAlmostEqual(judged["fast"], 76.20, places=2)
        self.assertAlmostEqual(cell["cycles"], 76.24, places=2)


if __name__ == "__main__":
    unittest.main()
