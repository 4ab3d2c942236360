"""Tests of tools/bench.py: the parser, the arithmetic, the figures of one
run of a stand-in, and one real run.

The end-to-end case runs the program named by SIMD_MIX_BENCH_PROGRAM.
"""

import json
import os
import stat
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.path.join(HERE, "..", "tools", "bench.py")
sys.path.insert(0, os.path.dirname(TOOL))

import bench  # noqa: E402

with open(os.path.join(HERE, "data", "captured_run.txt"), newline="") as captured:
    CAPTURED = captured.read()
CAPTURED_COUNTS = {-1: 2632, 0: 23424, 1: 23424, 2: 39290, 3: 36980}


class ParseCounts(unittest.TestCase):
    def test_reads_the_five_counts_of_a_real_run_by_their_labels(self):
        self.assertEqual(bench.parse_counts(CAPTURED), CAPTURED_COUNTS)
        self.assertEqual(bench.parse_counts(CAPTURED.replace("\r\n", "\n")), CAPTURED_COUNTS)

    def test_rejects_damaged_output(self):
        damaged = {
            "count missing": CAPTURED.replace("cycles: 39290", "cycles: "),
            "negative count": CAPTURED.replace("cycles: 36980", "cycles: -36980"),
            # Digits that str.isdigit() takes and int() refuses, or reads as
            # a count that the program never prints; more digits than int()
            # reads.
            "superscript digit": CAPTURED.replace("cycles: 36980", "cycles: 3698\u00b2"),
            "other script's digits": CAPTURED.replace("cycles: 36980", "cycles: \u0663\u0666"),
            "count too long": CAPTURED.replace("cycles: 36980", "cycles: " + "9" * 5000),
            "truncated text": CAPTURED[:CAPTURED.index("test 2")],
            "test missing": CAPTURED.replace("test 1\r\n", "\r\n"),
            "no output": "",
        }
        for what, output in damaged.items():
            with self.subTest(what), self.assertRaises(bench.BenchError):
                bench.parse_counts(output)

    def test_says_which_tests_lack_counts(self):
        with self.assertRaisesRegex(bench.BenchError, "3 of 5 counts; missing: test 2, test 3"):
            bench.parse_counts(CAPTURED[:CAPTURED.index("test 2")])
        with self.assertRaisesRegex(bench.BenchError, "went backwards"):
            bench.parse_counts(CAPTURED.replace("cycles: 2632", "cycles: -5"))


def runs_of(**columns):
    """Runs built from per-test count lists: runs_of(m1=[...], t0=[...], ...)."""
    keys = {-1: "m1", 0: "t0", 1: "t1", 2: "t2", 3: "t3"}
    length = len(columns["m1"])
    return [{number: columns[keys[number]][i] for number in keys} for i in range(length)]


# Two ticks per core cycle: the empty loop's 8,192 ticks are one core cycle
# per iteration.
RUNS = runs_of(
    m1=[8192, 8192, 8200],
    t0=[40960, 49152, 40960],
    t1=[90112, 90112, 90112],
    t2=[57344, 57344, 57344],
    t3=[49152, 49160, 49152],
)


# Core cycles per iteration of the five loops, as the clock's windows see them.
LOOPS = {-1: 1.0, 0: 5.0, 1: 11.0, 2: 7.0, 3: 6.0}


def clock_figures(ticks_per_cycle, trusted=True, windows=(LOOPS, LOOPS, LOOPS), typical=None, rulers=None,
                  spread=0.05):
    """What simd-mix-clock --json --tests reports, as far as the tool reads
    it: the calibration, and the loops' fastest and middle runs in each
    window (dicts of core cycles per iteration) at `ticks_per_cycle`, or at
    each window's own ruler."""
    typical = typical or windows
    rulers = rulers or [ticks_per_cycle] * len(windows)
    # The middle runs ran at a clock 10% slower, the ruler's too.
    middle = [1.1 * each for each in rulers]
    tests = [{"test": number,
              "minimums": [round(window[number] * 4096 * each) for window, each in zip(windows, rulers)],
              "medians": [round(window[number] * 4096 * each) for window, each in zip(typical, middle)]}
             for number in bench.TESTS]
    return {"ticks_per_cycle": ticks_per_cycle, "ticks_per_cycle_spread_percent": spread,
            "counter_ghz": 2.6, "core_ghz": 2.6 / ticks_per_cycle, "trusted": trusted,
            "chains": [{"instruction": "add edx, eax", "length": 8}, {"instruction": "add edx, eax", "length": 24}],
            "loops": {"ruler_minimums": [[1000, 1000 + round(16 * 4096 * each)] for each in rulers],
                      "ruler_medians": [[1000, 1000 + round(16 * 4096 * each)] for each in middle], "tests": tests}}


def windows_of(*columns):
    """Windows of per-test core cycles: windows_of([t-1...], [t0...], ...)."""
    return [dict(zip(bench.TESTS, values)) for values in zip(*columns)]


class Statistics(unittest.TestCase):
    def test_median_range_and_spread_of_the_counts_and_core_cycles_of_the_windows(self):
        windows = windows_of([1.0, 1.0, 1.5], [5.0, 5.1, 4.9], [11, 11, 11], [7, 7, 7], [6, 6, 6])
        table = bench.summarize(RUNS, windows, windows_of([1.2] * 3, [5.5] * 3, [11] * 3, [7] * 3, [6] * 3))
        self.assertEqual(table[0]["median"], 40960)
        self.assertEqual((table[0]["min"], table[0]["max"]), (40960, 49152))
        self.assertAlmostEqual(table[0]["spread_percent"], 20.0)
        self.assertAlmostEqual(table[0]["ticks_per_iteration"], 10.0)
        self.assertAlmostEqual(table[0]["core_cycles_per_iteration"], 5.0)
        self.assertAlmostEqual(table[-1]["core_cycles_per_iteration"], 1.0)
        self.assertAlmostEqual(table[0]["typical_core_cycles_per_iteration"], 5.5)
        # Without windows to trust there are ticks only.
        self.assertIsNone(bench.summarize(RUNS)[0]["core_cycles_per_iteration"])

    def test_each_window_is_converted_by_the_ruler_timed_in_it(self):
        # The core clock stood on another level in each window; the loops
        # took the same core cycles in all of them.
        figures = clock_figures(0.7, rulers=[0.7, 0.75, 0.8])
        windows = bench.loop_windows(figures, "minimums") + bench.loop_windows(figures, "medians")
        self.assertEqual(len(windows), 6)
        for window in windows:
            for number, cycles in LOOPS.items():
                self.assertAlmostEqual(window[number], cycles, places=3)
        # A window whose ruler cannot convert is left out.
        figures["loops"]["ruler_minimums"][1] = [1000, 1000]
        self.assertEqual(len(bench.loop_windows(figures, "minimums")), 2)

    def test_spread_is_the_range_over_the_median(self):
        # Median 110, smallest 100: the range of 30 is 27.27% of the median,
        # not 30% of the smallest nor 26.5% of the mean.
        self.assertAlmostEqual(bench.spread_percent([130, 110, 100, 120, 110]), 100 * 30 / 110)
        runs = runs_of(m1=[8192] * 5, t0=[130, 110, 100, 120, 110], t1=[1] * 5, t2=[1] * 5, t3=[1] * 5)
        self.assertAlmostEqual(bench.summarize(runs)[0]["spread_percent"], 100 * 30 / 110)

    def test_a_penalty_counts_when_every_window_puts_it_on_one_side(self):
        # Moves cost +6 in every window, within a wide range; alternating
        # types +0.07 at the median, beyond the resolution, but one window
        # says only +0.02.
        windows = windows_of([1] * 4, [5, 5, 5, 5], [8, 14, 11, 11], [7] * 4, [6.08, 6.08, 6.06, 6.02])
        moves, alternating = bench.penalties(bench.summarize(RUNS, windows), len(RUNS), windows)
        self.assertAlmostEqual(moves["core_cycles_per_iteration"], 6.0)
        self.assertTrue(moves["measurable"])
        self.assertAlmostEqual(alternating["core_cycles_per_iteration"], 0.07)
        self.assertFalse(alternating["measurable"])
        self.assertEqual(bench.verdict([moves, alternating]),
                         "mixing costs: floating-point moves around integer arithmetic, +6.00 core cycles per iteration")
        # The same on the side of a saving: -0.40 at the median, but the
        # highest window says only -0.02; and windows on both sides.
        for alternating_windows, median in (([5.98, 5.7, 5.5, 5.5], -0.4), ([5.7, 6.3, 5.5, 6.5], 0.0)):
            with self.subTest(alternating_windows):
                windows = windows_of([1] * 4, [5] * 4, [11] * 4, [7] * 4, alternating_windows)
                _, alternating = bench.penalties(bench.summarize(RUNS, windows), len(RUNS), windows)
                self.assertAlmostEqual(alternating["core_cycles_per_iteration"], median)
                self.assertFalse(alternating["measurable"])

    def test_without_windows_a_difference_within_the_spread_of_the_counts_is_no_penalty(self):
        runs = runs_of(m1=[4096, 4096], t0=[40960, 41960], t1=[41900, 41900], t2=[40960, 40960], t3=[40960, 40960])
        results = bench.penalties(bench.summarize(runs), 2)
        self.assertEqual([r["measurable"] for r in results], [False, False])
        self.assertEqual(bench.verdict(results),
                         "no measurable penalty for mixing integer and floating-point SIMD instructions")
        results = bench.penalties(bench.summarize(RUNS[:1]), 1)
        self.assertEqual([r["measurable"] for r in results], [None, None])
        self.assertIn("no spread to judge by", bench.verdict(results))

    def test_a_negative_penalty_in_every_window_is_reported_as_faster(self):
        # Test 3 runs a quarter cycle per iteration faster than the mean of
        # tests 0 and 2 in every window.
        faster = {**LOOPS, 1: 5.0, 3: 5.75}
        slower = {number: cycles + 0.5 for number, cycles in faster.items()}
        data = bench.report("stand-in", 3, 0, clock_figures(2.0, windows=(faster,) * 3, typical=(slower,) * 3),
                            clock_figures(2.0, windows=(faster,) * 3, typical=(slower,) * 3), RUNS, 1.0, 700)
        _, alternating = data["penalties"]
        self.assertAlmostEqual(alternating["core_cycles_per_iteration"], -0.25, places=3)
        self.assertTrue(alternating["measurable"])
        self.assertEqual(data["verdict"],
                         "mixing is faster: alternating types in one chain, -0.25 core cycles per iteration")
        text = bench.format_report(data)
        self.assertIn("    +0.00 ticks, -0.25 core cycles (every window agrees)\n", text)
        self.assertIn("\nverdict: mixing is faster: alternating types in one chain, -0.25 core cycles per iteration\n",
                      text)
        self.assertIn("\n   0       40960              40960-49152    20.0%       10.00              5.00     5.50\n",
                      text)


    def test_a_penalty_a_hair_below_zero_reads_as_plus_zero(self):
        # Test 3 runs 16 ticks and 0.004 core cycles per iteration faster than
        # the mean of tests 0 and 2 in every window: both round to a zero,
        # which is signed as every zero is.
        runs = runs_of(m1=[8192] * 3, t0=[40960] * 3, t1=[90112] * 3, t2=[57344] * 3, t3=[49136] * 3)
        hair = clock_figures(2.0, windows=({**LOOPS, 3: 5.996},) * 3)
        text = bench.format_report(bench.report("stand-in", 3, 0, hair, hair, runs, 1.0, 700))
        self.assertIn("\n    +0.00 ticks, +0.00 core cycles (the windows range from +0.00 to +0.00)\n", text)


class EmptyLoopFloors(unittest.TestCase):
    def test_runs_on_two_floors_are_told_apart(self):
        # 1.00 and 1.50 core cycles per iteration at 0.7026 ticks per cycle.
        counts = [2885, 4316, 2886, 4330, 2885]
        found = bench.floors(counts, 0.7026)
        self.assertEqual([runs for _, runs in found], [3, 2])
        self.assertAlmostEqual(found[0][0], 1.00, places=2)
        self.assertAlmostEqual(found[1][0], 1.50, places=2)
        self.assertEqual(bench.floors_line(found),
                         "test -1 fell on 2 floors: 1.00 core cycles per iteration in 3 runs, 1.50 in 2; the empty "
                         "loop is bound by its core's front end, which a second hardware thread or the loop buffer "
                         "can slow, while tests 0-3 are chains bound by latency and unaffected")
        runs = runs_of(m1=counts, t0=[37206] * 5, t1=[37206] * 5, t2=[60086] * 5, t3=[48646] * 5)
        text = bench.format_report(bench.report("stand-in", 5, 0, clock_figures(0.7026), clock_figures(0.7026),
                                                runs, 1.0, 700))
        self.assertEqual(text.count("\ntest -1 fell on 2 floors"), 1)

    def test_runs_that_scatter_on_one_floor_are_one_floor(self):
        # 1.00, 1.08 and 1.15 core cycles per iteration: one floor, at its median.
        found = bench.floors([4096, 4424, 4710], 1.0)
        self.assertEqual(len(found), 1)
        self.assertAlmostEqual(found[0][0], 1.08, places=2)
        self.assertIsNone(bench.floors_line(found))


class Calibrations(unittest.TestCase):
    def test_the_mean_of_before_and_after_and_a_move_beyond_one_percent_either_way_is_flagged(self):
        steady = bench.combine_calibrations(clock_figures(0.70), clock_figures(0.705, spread=0.3))
        self.assertAlmostEqual(steady["ticks_per_cycle"], 0.7025)
        self.assertFalse(steady["moved"])
        # The wider of the two spreads.
        self.assertEqual(steady["spread_percent"], 0.3)
        for after, shown in ((0.7084, "+1.20%"), (0.686, "-2.00%")):
            text = bench.format_report(bench.report("stand-in", 3, 0, clock_figures(0.70), clock_figures(after),
                                                    RUNS, 1.0, 700))
            self.assertIn(f"\nwarning: the calibration moved by {shown} during the benchmark", text)
        self.assertNotIn("warning", bench.format_report(
            bench.report("stand-in", 3, 0, clock_figures(0.70), clock_figures(0.705), RUNS, 1.0, 700)))

    def test_the_windows_of_both_clock_runs_are_pooled(self):
        # Two windows before the recorded runs and three after, test 0 a
        # little slower in each: the medians of all five lie in neither run's
        # own range of medians, and the moves' penalty (test 1 stays at 11)
        # ranges over the windows of both.
        def windows(*cycles):
            return tuple({**LOOPS, 0: each} for each in cycles)
        before = clock_figures(2.0, windows=windows(4.0, 4.2), typical=windows(4.5, 4.7))
        after = clock_figures(2.0, windows=windows(5.0, 5.2, 5.4), typical=windows(5.5, 5.7, 5.9))
        data = bench.report("stand-in", 3, 0, before, after, RUNS, 1.0, 700)
        self.assertEqual(data["windows"], 5)
        self.assertAlmostEqual(data["tests"][1]["core_cycles_per_iteration"], 5.0, places=3)
        self.assertAlmostEqual(data["tests"][1]["typical_core_cycles_per_iteration"], 5.5, places=3)
        moves = data["penalties"][0]
        self.assertAlmostEqual(moves["core_cycles_per_iteration"], 6.0, places=3)
        self.assertAlmostEqual(moves["window_lowest"], 5.6, places=3)
        self.assertAlmostEqual(moves["window_highest"], 7.0, places=3)
        self.assertIn("timed the same loops in 5 windows beside its ruler", bench.format_report(data))

    def test_an_untrusted_clock_leaves_ticks_only(self):
        data = bench.report("stand-in", 3, 0, clock_figures(2.0), clock_figures(2.0, trusted=False), RUNS, 1.0, 700)
        self.assertTrue(all(row["core_cycles_per_iteration"] is None for row in data["tests"]))
        self.assertTrue(all(row["typical_core_cycles_per_iteration"] is None for row in data["tests"]))
        self.assertIn("\ncounts are time-stamp ticks for 4,096 loop iterations\n", bench.format_report(data))
        self.assertEqual(data["verdict"],
                         "mixing costs: floating-point moves around integer arithmetic, +12.00 ticks per iteration")
        self.assertIn("warning: simd-mix-clock's cross-check failed", bench.format_report(data))


def tool(*arguments):
    return subprocess.run([sys.executable, TOOL, *arguments], capture_output=True, text=True, timeout=300)


def script(body):
    """A stand-in program made of a shell script."""
    handle = tempfile.NamedTemporaryFile("w", suffix=".sh", delete=False)
    handle.write("#!/bin/sh\n" + body + "\n")
    handle.close()
    os.chmod(handle.name, stat.S_IRWXU)
    return handle.name


# Touches 48 MiB, gives them back, then sleeps: the 48 MiB show in the
# stand-in's own high-water mark, not in its resident size while it sleeps.
STAND_IN = """\
import sys, time
block = bytes(range(256)) * (48 * 4096)
del block
time.sleep(0.5)
sys.stdout.write("done")
"""


class OneRun(unittest.TestCase):
    def test_wall_time_and_peak_memory_are_the_programs_own(self):
        # Memory of the measuring process, which the program is forked from,
        # must not count: it holds far more than the program does.
        ballast = b"\xff" * (160 << 20)
        output, wall, peak_kib = bench.run_once([sys.executable, "-c", STAND_IN])
        del ballast
        self.assertEqual(output, "done")
        # The sleep and an interpreter's start, not the start alone.
        self.assertGreaterEqual(wall, 0.5)
        self.assertLess(wall, 1.5)
        # The 48 MiB and an interpreter of a few MiB.
        self.assertGreaterEqual(peak_kib, 48 * 1024)
        self.assertLess(peak_kib, 88 * 1024)


# Prints what a clock prints, with the given exit status.
def stand_in_clock(status=0):
    figures = json.dumps(clock_figures(0.7, trusted=status == 0))
    return script(f"echo '{figures}'; exit {status}")


class Command(unittest.TestCase):
    @unittest.skipUnless(os.environ.get("SIMD_MIX_BENCH_PROGRAM"), "SIMD_MIX_BENCH_PROGRAM not set")
    def test_one_run_of_the_built_program(self):
        program = os.environ["SIMD_MIX_BENCH_PROGRAM"]
        result = tool("--binary", program, "--runs", "1", "--warmup", "0", "--json")
        self.assertEqual(result.returncode, 0, result.stderr)
        data = json.loads(result.stdout)
        self.assertEqual(next(iter(data.items())), ("format_version", 2))
        self.assertEqual([row["test"] for row in data["tests"]], [-1, 0, 1, 2, 3])
        self.assertTrue(all(len(row["counts"]) == 1 for row in data["tests"]))
        self.assertEqual(len(data["penalties"]), 2)
        self.assertIn("verdict", data)
        self.assertEqual(sorted(data["calibration"]["before"]), sorted(data["calibration"]["after"]))
        self.assertIn("core_ghz", data["calibration"])
        text = tool("--binary", program, "--runs", "1", "--warmup", "0")
        self.assertEqual(text.returncode, 0, text.stderr)
        self.assertRegex(text.stdout, r"\ncore clock \d+\.\d{3} GHz, time-stamp counter \d+\.\d{3} GHz: "
                                      r"\d\.\d{4} ticks per core cycle\n")
        self.assertIn("verdict: ", text.stdout)

    def test_a_failing_killed_or_short_program_is_an_error(self):
        cases = {
            "failed with exit status 3": script("echo 'partial output' ; exit 3"),
            "killed by signal 9": script("kill -9 $$"),
            "2 of 5 counts": script(
                "printf 'test -1 (empty loop body)\\r\\n\\texecution time in machine cycles: 10\\r\\n"
                "test 0\\r\\n\\texecution time in machine cycles: 20'"),
        }
        clock = stand_in_clock()
        try:
            for message, program in cases.items():
                with self.subTest(message):
                    result = tool("--binary", program, "--clock", clock, "--runs", "1", "--warmup", "0")
                    self.assertEqual(result.returncode, 2)
                    self.assertIn(message, result.stderr)
                    self.assertEqual(result.stdout, "")
        finally:
            for program in [*cases.values(), clock]:
                os.unlink(program)
        missing = tool("--binary", "/nonexistent/simd-mix-bench")
        self.assertEqual(missing.returncode, 2)
        self.assertIn("cannot start", missing.stderr)

    def test_a_failing_clock_is_an_error_and_an_untrusting_one_is_not(self):
        program = script("cat " + os.path.join(HERE, "data", "captured_run.txt"))
        failing, untrusting = stand_in_clock(status=1), stand_in_clock(status=3)
        try:
            result = tool("--binary", program, "--clock", failing, "--runs", "2", "--warmup", "0")
            self.assertEqual(result.returncode, 2)
            self.assertIn("failed with exit status 1", result.stderr)
            result = tool("--binary", program, "--clock", untrusting, "--runs", "2", "--warmup", "0")
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertIn("cross-check failed", result.stdout)
        finally:
            for path in (program, failing, untrusting):
                os.unlink(path)

    def test_the_json_object_begins_with_its_format_version(self):
        program = script("cat " + os.path.join(HERE, "data", "captured_run.txt"))
        clock = stand_in_clock()
        try:
            result = tool("--binary", program, "--clock", clock, "--runs", "2", "--warmup", "0", "--json")
            self.assertEqual(result.returncode, 0, result.stderr)
            data = json.loads(result.stdout)
            self.assertEqual(next(iter(data.items())), ("format_version", 2))
        finally:
            for path in (program, clock):
                os.unlink(path)

    @unittest.skipUnless(hasattr(os, "sched_setaffinity"), "no processor affinity here")
    def test_cpu_pins_every_run_and_both_clocks_and_an_absent_processor_is_refused(self):
        # The stand-ins write the processors they may run on into a log.
        last = max(os.sched_getaffinity(0))
        log = tempfile.NamedTemporaryFile(delete=False)
        log.close()
        record = f"echo \"$0 $({sys.executable} -c 'import os; print(sorted(os.sched_getaffinity(0)))')\" >> {log.name}"
        program = script(record + "\ncat " + os.path.join(HERE, "data", "captured_run.txt"))
        clock = script(record + f"\necho '{json.dumps(clock_figures(0.7))}'")
        try:
            result = tool("--binary", program, "--clock", clock, "--runs", "2", "--warmup", "1", "--cpu", str(last))
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(log.name) as calls:
                self.assertEqual(calls.read(), "".join(f"{path} [{last}]\n"
                                                       for path in (program, clock, program, program, clock)))
        finally:
            for path in (log.name, program, clock):
                os.unlink(path)
        result = tool("--cpu", "100000", "--runs", "1")
        self.assertEqual(result.returncode, 2)
        self.assertIn("--cpu 100000: no such processor", result.stderr)


if __name__ == "__main__":
    unittest.main()
