"""End-to-end checks of the built simd-mix-clock, one case per call.

Usage: clock_end_to_end.py --program PATH --platform NAME [--emulator CMD] CASE

The figures are measurements: only their form and their arithmetic are
checked, never their size.
"""

import json
import os
import re
import statistics
import subprocess
import sys

from case_runner import cases_in, check, command_of, run_case

TIMEOUT = 120
ITERATIONS = 4096
NUMBER = r"\d+\.\d+"
LEVELS = (rf"core clock levels seen: ({NUMBER}(, {NUMBER})* GHz \(\d+%(, \d+%)* of \d+ windows\)|none in two windows or more)"
          rf"(; \d+ windows? alone: {NUMBER}(, {NUMBER})* GHz)?")
LINES = [
    rf"core clock {NUMBER} GHz, time-stamp counter {NUMBER} GHz: {NUMBER} ticks per core cycle",
    LEVELS,
    rf"time-stamp ticks per core cycle: {NUMBER} \(median of \d+ windows, spread {NUMBER}%\)",
    rf"cross-check: imul edx, eax takes {NUMBER} core cycles, (as expected \(3 \+- 0\.15\)|expected 3 \+- 0\.15)",
    rf"time-stamp counter: {NUMBER} GHz, against the system clock over {NUMBER} s",
]
LOOPS = [
    r"the benchmark's loops in core cycles per iteration, frame included, each window by its own ruler "
    r"\(median of \d+ windows of \d+ turns\):",
    r"test      best   typical   spread",
    *[rf" *{test} +{NUMBER} +{NUMBER} +{NUMBER}%" for test in (-1, 0, 1, 2, 3)],
]
UNTRUSTED = ("core cycles cannot be trusted on this processor: its add and imul chains do not run at their "
             "known latencies")


class Program:
    def __init__(self, args):
        self.command = command_of(args)
        self.line_break = "\r\n" if args.platform == "win32" else "\n"

    def run(self, *arguments, environment=None):
        result = subprocess.run(self.command + list(arguments), capture_output=True, timeout=TIMEOUT,
                                env=dict(os.environ, **(environment or {})))
        return result.returncode, result.stdout.decode("ascii"), result.stderr.decode("ascii", errors="replace")

    def lines(self, output):
        check(output.endswith(self.line_break), f"output does not end in a line break: {output[-40:]!r}")
        lines = output[:-len(self.line_break)].split(self.line_break)
        check(all("\r" not in line and "\n" not in line for line in lines), f"mixed line breaks in {output!r}")
        return lines


def trusted_by_status(status, stderr):
    """Status 0 means trusted, 3 means the cross-check failed; nothing else."""
    check(status in (0, 3), f"exit status {status}: {stderr}")
    check(stderr == "", f"standard error is {stderr!r}")
    return status == 0


def check_lines(lines, expected):
    check(len(lines) == len(expected), f"{len(lines)} lines instead of {len(expected)}: {lines!r}")
    for line, pattern in zip(lines, expected):
        check(re.fullmatch(pattern, line), f"line {line!r} does not read {pattern!r}")


def calibration_lines(trusted):
    return LINES[:4] + ([] if trusted else [re.escape(UNTRUSTED)]) + LINES[4:]


def case_plain_lines(program):
    status, output, stderr = program.run()
    trusted = trusted_by_status(status, stderr)
    lines = program.lines(output)
    check_lines(lines, calibration_lines(trusted))
    check(("as expected" in lines[3]) == trusted, f"the cross-check line disagrees with status {status}")


def case_untrusted(program):
    # A cross-check forced to fail: status 3, and the report says why.
    status, output, stderr = program.run(environment={"SIMD_MIX_FAIL_CROSS_CHECK": "1"})
    check(status == 3 and stderr == "", f"exit status {status}: {stderr}")
    check_lines(program.lines(output), calibration_lines(False))


def case_format_version(program):
    # The document opens with its format's version, then the figures.
    status, output, stderr = program.run("--json")
    trusted_by_status(status, stderr)
    program.lines(output)
    pairs = json.loads(output, object_pairs_hook=list)
    check(pairs[0] == ("format_version", 2) and pairs[1][0] == "ticks_per_cycle", f"first keys {pairs[:2]}")


def case_tests(program):
    status, output, stderr = program.run("--tests")
    trusted = trusted_by_status(status, stderr)
    check_lines(program.lines(output), calibration_lines(trusted) + LOOPS)
    status, output, stderr = program.run("--tests", "--json")
    trusted_by_status(status, stderr)
    loops = json.loads(output)["loops"]
    windows = loops["windows"]
    check(len(loops["ruler_minimums"]) == windows, "ruler minimums per window")
    check(len(loops["ruler_medians"]) == windows, "ruler medians per window")
    rulers = {key: [(long - short) / (16 * ITERATIONS) for short, long in loops[f"ruler_{key}"]]
              for key in ("minimums", "medians")}
    check([test["test"] for test in loops["tests"]] == [-1, 0, 1, 2, 3], "the tests")
    # Each window's fastest runs by that window's fastest ruler, its middle
    # runs by its middle ruler; the median over the windows.
    for test in loops["tests"]:
        for key, runs in (("best", "minimums"), ("typical", "medians")):
            check(len(test[runs]) == windows, f"test {test['test']}: {key} runs per window")
            cycles = [run / ITERATIONS / ruler for run, ruler in zip(test[runs], rulers[runs])]
            check(abs(statistics.median(cycles) - test[key]) < 1e-5, f"test {test['test']}: {key}")
            check(abs(min(cycles) - test[f"{key}_lowest"]) < 1e-5, f"test {test['test']}: {key}_lowest")


def case_json(program):
    status, output, stderr = program.run("--json")
    trusted = trusted_by_status(status, stderr)
    program.lines(output)
    data = json.loads(output)
    check(data["trusted"] is trusted, f"trusted is {data['trusted']} with status {status}")
    # The short and the long add chain, then the short and the long imul chain.
    (add, short_add), (_, long_add), (imul, short_imul), (_, long_imul) = [
        (chain["instruction"], chain["length"]) for chain in data["chains"]]
    check((add, imul) == ("add edx, eax", "imul edx, eax"), f"chains of {add} and {imul}")
    check(short_add < long_add and short_imul < long_imul, "chain lengths")
    chains = [chain["minimums"] for chain in data["chains"]]
    check(data["windows"] >= 3 and all(len(m) == data["windows"] for m in chains), "minimums per window")
    check(sum(level["windows"] for level in data["levels"]) == data["windows"], "levels and windows")
    check(all(isinstance(value, int) and value > 0 for m in chains for value in m), "a minimum is not a count")
    # The reported figures follow from the raw minimums.
    rulers = [(long - short) / ((long_add - short_add) * ITERATIONS) for short, long in zip(chains[0], chains[1])]
    median = statistics.median(rulers)
    check(abs(data["ticks_per_cycle"] - median) < 1e-6, f"ticks_per_cycle {data['ticks_per_cycle']}, minimums say {median}")
    check(abs(data["ticks_per_cycle_lowest"] - min(rulers)) < 1e-6, "lowest window disagrees with the minimums")
    check(abs(data["ticks_per_cycle_highest"] - max(rulers)) < 1e-6, "highest window disagrees with the minimums")
    spread = 100 * (max(rulers) - min(rulers)) / median
    check(abs(data["ticks_per_cycle_spread_percent"] - spread) < 1e-4, f"spread {data['ticks_per_cycle_spread_percent']}")
    imuls = [(long - short) / ((long_imul - short_imul) * ITERATIONS) / ruler
             for short, long, ruler in zip(chains[2], chains[3], rulers)]
    check(abs(data["cross_check_cycles"] - statistics.median(imuls)) < 1e-4, "cross-check cycles disagree")
    check((abs(data["cross_check_cycles"] - 3) <= 0.15) == trusted, "trusted disagrees with the cross-check")
    check(abs(data["core_ghz"] * data["ticks_per_cycle"] - data["counter_ghz"]) < 1e-4, "core and counter GHz disagree")
    check(data["interval_seconds"] >= 0.1, f"the counter was timed over {data['interval_seconds']} s")


def case_bad_option(program):
    status, output, stderr = program.run("--fast")
    check(status == 2, f"exit status {status}")
    check(output == "", f"standard output is {output!r}")
    check(stderr.replace("\r\n", "\n") == "simd-mix-clock: unknown option '--fast'; try --help\n",
          f"standard error is {stderr!r}")
    status, usage, _ = program.run("-h")
    check(status == 0 and usage.replace("\r\n", "\n").startswith("usage: simd-mix-clock [--json] [--tests]\n"),
          f"-h: exit status {status}, {usage!r}")


if __name__ == "__main__":
    sys.exit(run_case(cases_in(globals()), Program, errors=(json.JSONDecodeError, KeyError, UnicodeDecodeError)))
