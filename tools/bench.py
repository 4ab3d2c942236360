#!/usr/bin/env python3
"""Repeats the benchmark and says what its numbers mean.

Runs the program WARMUP times unrecorded and RUNS times recorded, then prints
for each test the median count, its range and spread, the time-stamp ticks per
loop iteration, and an estimate in core cycles per iteration that takes the
empty loop of test -1 as one core cycle per iteration. Below the table: the two
penalties for mixing integer and floating-point SIMD instructions, a verdict,
and the wall time and peak memory of one program run.

Exit status: 0, or 2 when the program fails, is killed or prints fewer than
five counts.
"""

import argparse
import json
import os
import re
import statistics
import subprocess
import sys
import time

TESTS = (-1, 0, 1, 2, 3)
ITERATIONS = 4096
TITLE = re.compile(r"^test (-?\d+)(?: \(.*\))?$")
COUNT = re.compile(r"execution time in machine cycles: (\S*)")


class BenchError(Exception):
    """The program's run or output cannot be used."""


def parse_counts(output):
    """The five counts of one run, keyed by test number, read by their labels:
    each count belongs to the test whose title came last before it."""
    counts = {}
    current = None
    for line in output.replace("\r\n", "\n").split("\n"):
        title = TITLE.match(line)
        if title:
            current = int(title.group(1))
            continue
        count = COUNT.search(line)
        if not count:
            continue
        if current is None:
            raise BenchError("a count stands before any test's title")
        if current in counts:
            raise BenchError(f"test {current} has two counts")
        text = count.group(1)
        if not text.isdigit():
            raise BenchError(f"test {current} has no usable count: {text!r}"
                             + (" (the time-stamp counter went backwards)" if text.startswith("-") else ""))
        counts[current] = int(text)
        current = None
    missing = [number for number in TESTS if number not in counts]
    if missing:
        raise BenchError(f"the output has {len(counts)} of 5 counts; missing: "
                         + ", ".join(f"test {number}" for number in missing))
    return counts


def summarize(runs):
    """Per-test statistics over the recorded runs (lists of count dicts)."""
    table = {}
    for number in TESTS:
        counts = [run[number] for run in runs]
        median = statistics.median(counts)
        table[number] = {
            "counts": counts,
            "median": median,
            "min": min(counts),
            "max": max(counts),
            "spread_percent": 100.0 * (max(counts) - min(counts)) / median if median else 0.0,
            "ticks_per_iteration": median / ITERATIONS,
        }
    # The empty loop runs one iteration per core cycle, so its median is the
    # number of ticks that 4,096 core cycles take.
    empty = table[-1]["median"]
    for row in table.values():
        row["core_cycles_per_iteration"] = row["median"] / empty if empty else None
    return table


PENALTIES = (
    {
        "name": "floating-point moves around integer arithmetic",
        "formula": "test 1 - test 0",
        "plus": (1,),
        "minus": (0,),
    },
    {
        "name": "alternating types in one chain",
        "formula": "test 3 - (test 0 + test 2) / 2, three type changes per iteration",
        "plus": (3,),
        "minus": (0, 2),
    },
)


def penalties(table, runs):
    """Each penalty in ticks and estimated core cycles per iteration, and
    whether it stands out of the spread of the counts it is made from."""
    empty = table[-1]["median"]
    results = []
    for penalty in PENALTIES:
        involved = penalty["plus"] + penalty["minus"]
        difference = (sum(table[n]["median"] for n in penalty["plus"]) / len(penalty["plus"])
                      - sum(table[n]["median"] for n in penalty["minus"]) / len(penalty["minus"]))
        noise = max(table[n]["max"] - table[n]["min"] for n in involved)
        results.append({
            "name": penalty["name"],
            "formula": penalty["formula"],
            "ticks_per_iteration": difference / ITERATIONS,
            "core_cycles_per_iteration": difference / empty if empty else None,
            "measurable": None if runs < 2 else abs(difference) > noise,
        })
    return results


def verdict(results):
    if any(result["measurable"] is None for result in results):
        return "one run has no spread to judge by: repeat with RUNS=5 or more"
    costly = [r for r in results if r["measurable"] and r["ticks_per_iteration"] > 0]
    if not costly:
        return "no measurable penalty for mixing integer and floating-point SIMD instructions"
    return "mixing costs: " + "; ".join(
        f"{r['name']}, {format_cycles(r['core_cycles_per_iteration'])} core cycles per iteration" for r in costly)


def format_cycles(value):
    return "n/a" if value is None else f"{value:+.2f}"


def cpu_name():
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown processor"


def command_for(binary):
    # A PE32 build runs through wine outside Windows.
    if binary.lower().endswith(".exe") and os.name != "nt":
        return ["wine", binary]
    return [binary]


def high_water_kib(pid):
    """The process's peak resident set so far, from /proc (None elsewhere)."""
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return None


def run_once(command):
    """One run of the program: its output, wall time and peak memory in KiB.

    The peak is sampled from the running program itself: a child's rusage
    would also count the memory of this script, which it was forked from.
    """
    environment = dict(os.environ)
    environment.setdefault("WINEDEBUG", "-all")
    started = time.monotonic()
    try:
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=environment)
    except OSError as error:
        raise BenchError(f"cannot start {command[-1]}: {error.strerror}")
    peak_kib = None
    while True:
        sample = high_water_kib(process.pid)
        if sample is not None:
            peak_kib = sample
        try:
            output, errors = process.communicate(timeout=0.05)
            break
        except subprocess.TimeoutExpired:
            continue
    wall = time.monotonic() - started
    if process.returncode < 0:
        raise BenchError(f"{command[-1]} was killed by signal {-process.returncode}")
    if process.returncode != 0:
        detail = errors.decode(errors="replace").strip()
        raise BenchError(f"{command[-1]} failed with exit status {process.returncode}"
                         + (f": {detail}" if detail else ""))
    return output.decode("ascii", errors="replace"), wall, peak_kib


def measure(binary, runs, warmup):
    """The counts of each recorded run, the median wall time of one run and
    the largest peak memory of one run in KiB (None where it can't be read)."""
    command = command_for(binary)
    for _ in range(warmup):
        run_once(command)
    recorded, walls, peaks = [], [], []
    for _ in range(runs):
        output, wall, peak_kib = run_once(command)
        recorded.append(parse_counts(output))
        walls.append(wall)
        if peak_kib is not None:
            peaks.append(peak_kib)
    return recorded, statistics.median(walls), max(peaks) if peaks else None


def report(binary, runs, warmup, recorded, wall, peak_kib):
    table = summarize(recorded)
    results = penalties(table, runs)
    return {
        "binary": binary,
        "cpu": cpu_name(),
        "runs": runs,
        "warmup": warmup,
        "core_cycle_estimate": "the empty loop of test -1 is taken as one core cycle per iteration",
        "tests": [dict(test=number, **table[number]) for number in TESTS],
        "penalties": results,
        "verdict": verdict(results),
        "wall_seconds_median": wall,
        "peak_memory_kib": peak_kib,
    }


def format_report(data):
    lines = [
        f"simd-mix-bench: {data['runs']} recorded runs ({data['warmup']} warm-up) of {data['binary']}",
        f"processor: {data['cpu']}",
        "counts are time-stamp ticks for 4,096 loop iterations; core cycles are estimated",
        "by taking the empty loop of test -1 as one core cycle per iteration",
        "",
        f"{'test':>4}  {'median':>10}  {'min-max':>23}  {'spread':>7}  {'ticks/iter':>10}  {'core cycles/iter':>16}",
    ]
    for row in data["tests"]:
        core = row["core_cycles_per_iteration"]
        lines.append(
            f"{row['test']:>4}  {row['median']:>10g}  {str(row['min']) + '-' + str(row['max']):>23}  "
            f"{row['spread_percent']:>6.1f}%  {row['ticks_per_iteration']:>10.2f}  "
            f"{'n/a' if core is None else format(core, '.2f'):>16}")
    lines += ["", "penalties per iteration:"]
    for penalty in data["penalties"]:
        judged = {None: "", True: " (beyond the runs' spread)", False: " (within the runs' spread)"}
        lines.append(f"  {penalty['name']} = {penalty['formula']}:")
        lines.append(f"    {penalty['ticks_per_iteration']:+.2f} ticks, "
                     f"{format_cycles(penalty['core_cycles_per_iteration'])} core cycles"
                     f"{judged[penalty['measurable']]}")
    lines += [
        f"verdict: {data['verdict']}",
        f"one program run: median wall time {data['wall_seconds_median']:.2f} s, "
        "peak memory " + ("n/a" if data["peak_memory_kib"] is None else f"{data['peak_memory_kib'] / 1024:.1f} MiB"),
    ]
    return "\n".join(lines)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", default="build/simd-mix-bench", help="the program to run (a .exe runs through wine)")
    parser.add_argument("--runs", type=int, default=5, help="recorded runs (default 5)")
    parser.add_argument("--warmup", type=int, default=1, help="unrecorded runs first (default 1)")
    parser.add_argument("--json", action="store_true", help="print the figures as one JSON object")
    args = parser.parse_args(argv)
    if args.runs < 1 or args.warmup < 0:
        parser.error("--runs must be at least 1 and --warmup at least 0")
    try:
        recorded, wall, peak_kib = measure(args.binary, args.runs, args.warmup)
    except BenchError as error:
        print(f"bench: {error}", file=sys.stderr)
        return 2
    data = report(args.binary, args.runs, args.warmup, recorded, wall, peak_kib)
    print(json.dumps(data, indent=2) if args.json else format_report(data))
    return 0


if __name__ == "__main__":
    sys.exit(main())
