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


# The empty loop takes 8,192 ticks: two ticks per core cycle.
RUNS = runs_of(
    m1=[8192, 8192, 8200],
    t0=[40960, 49152, 40960],
    t1=[90112, 90112, 90112],
    t2=[57344, 57344, 57344],
    t3=[49152, 49160, 49152],
)


class Statistics(unittest.TestCase):
    def test_median_range_spread_and_per_iteration_figures(self):
        table = bench.summarize(RUNS)
        self.assertEqual(table[0]["median"], 40960)
        self.assertEqual((table[0]["min"], table[0]["max"]), (40960, 49152))
        self.assertAlmostEqual(table[0]["spread_percent"], 20.0)
        self.assertAlmostEqual(table[0]["ticks_per_iteration"], 10.0)
        self.assertAlmostEqual(table[0]["core_cycles_per_iteration"], 5.0)
        self.assertAlmostEqual(table[-1]["core_cycles_per_iteration"], 1.0)
        self.assertAlmostEqual(table[2]["core_cycles_per_iteration"], 7.0)

    def test_penalties_in_ticks_and_core_cycles(self):
        moves, alternating = bench.penalties(bench.summarize(RUNS), len(RUNS))
        # 90112 - 40960 = 49152 ticks: 12 ticks, 6 core cycles per iteration.
        self.assertAlmostEqual(moves["ticks_per_iteration"], 12.0)
        self.assertAlmostEqual(moves["core_cycles_per_iteration"], 6.0)
        self.assertTrue(moves["measurable"])
        # 49152 - (40960 + 57344) / 2 = 0: nothing beyond test 0's spread.
        self.assertAlmostEqual(alternating["ticks_per_iteration"], 0.0)
        self.assertFalse(alternating["measurable"])

    def test_a_difference_within_the_spread_is_no_penalty(self):
        runs = runs_of(m1=[4096, 4096], t0=[40960, 41960], t1=[41900, 41900], t2=[40960, 40960], t3=[40960, 40960])
        results = bench.penalties(bench.summarize(runs), 2)
        self.assertEqual([r["measurable"] for r in results], [False, False])
        self.assertEqual(bench.verdict(results),
                         "no measurable penalty for mixing integer and floating-point SIMD instructions")

    def test_verdict_names_what_costs(self):
        results = bench.penalties(bench.summarize(RUNS), len(RUNS))
        self.assertEqual(bench.verdict(results),
                         "mixing costs: floating-point moves around integer arithmetic, +6.00 core cycles per iteration")

    def test_one_run_is_not_judged(self):
        results = bench.penalties(bench.summarize(RUNS[:1]), 1)
        self.assertEqual([r["measurable"] for r in results], [None, None])
        self.assertIn("no spread to judge by", bench.verdict(results))


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


class Command(unittest.TestCase):
    @unittest.skipUnless(os.environ.get("SIMD_MIX_BENCH_PROGRAM"), "SIMD_MIX_BENCH_PROGRAM not set")
    def test_one_run_of_the_built_program(self):
        program = os.environ["SIMD_MIX_BENCH_PROGRAM"]
        result = tool("--binary", program, "--runs", "1", "--warmup", "0", "--json")
        self.assertEqual(result.returncode, 0, result.stderr)
        data = json.loads(result.stdout)
        self.assertEqual([row["test"] for row in data["tests"]], [-1, 0, 1, 2, 3])
        self.assertTrue(all(len(row["counts"]) == 1 for row in data["tests"]))
        self.assertEqual(len(data["penalties"]), 2)
        self.assertIn("verdict", data)
        text = tool("--binary", program, "--runs", "1", "--warmup", "0")
        self.assertEqual(text.returncode, 0, text.stderr)
        self.assertIn("one core cycle per iteration", text.stdout)
        self.assertIn("verdict: ", text.stdout)

    def test_a_failing_killed_or_short_program_is_an_error(self):
        cases = {
            "failed with exit status 3": script("echo 'partial output' ; exit 3"),
            "killed by signal 9": script("kill -9 $$"),
            "2 of 5 counts": script(
                "printf 'test -1 (empty loop body)\\r\\n\\texecution time in machine cycles: 10\\r\\n"
                "test 0\\r\\n\\texecution time in machine cycles: 20'"),
        }
        try:
            for message, program in cases.items():
                with self.subTest(message):
                    result = tool("--binary", program, "--runs", "1", "--warmup", "0")
                    self.assertEqual(result.returncode, 2)
                    self.assertIn(message, result.stderr)
                    self.assertEqual(result.stdout, "")
        finally:
            for program in cases.values():
                os.unlink(program)
        missing = tool("--binary", "/nonexistent/simd-mix-bench")
        self.assertEqual(missing.returncode, 2)
        self.assertIn("cannot start", missing.stderr)


if __name__ == "__main__":
    unittest.main()
