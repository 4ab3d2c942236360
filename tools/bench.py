#!/usr/bin/env python3
"""Repeats the benchmark and says what its numbers mean.

Runs the program WARMUP times unrecorded and RUNS times recorded, with
simd-mix-clock --tests (beside the program) before the first and after the
last recorded run: it calibrates the core clock and times the benchmark's own
five loops in short windows beside its ruler, so that their core cycles are
measured at the core clock of the same moment. Then prints for each test the
median count of the program's runs, its range and spread, the time-stamp
ticks per loop iteration, and the core cycles per iteration of the clock's
windows, best and typical. Below the table: the two penalties for mixing
integer and floating-point SIMD instructions, a verdict, and the wall time
and peak memory of one program run.

Exit status: 0, or 2 when the program or the clock fails, is killed or prints
fewer than five counts, or an option cannot be honoured.
"""

import json
import os
import re
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
# --json writes the version of the companion programs' documents, its first key.
import options  # noqa: E402
from results_files import FORMAT_VERSION  # noqa: E402

TESTS = (-1, 0, 1, 2, 3)
ITERATIONS = 4096
TITLE = re.compile(r"^test (-?\d+)(?: \(.*\))?$")
COUNT = re.compile(r"execution time in machine cycles: (\S*)")
# A count as the program prints it: a 64-bit number in ASCII digits, not
# whatever str.isdigit() takes ('²', which int() refuses).
COUNT_DIGITS = re.compile(r"[0-9]{1,20}")


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
        if not COUNT_DIGITS.fullmatch(text):
            raise BenchError(f"test {current} has no usable count: {text!r}"
                             + (" (the time-stamp counter went backwards)" if text.startswith("-") else ""))
        counts[current] = int(text)
        current = None
    missing = [number for number in TESTS if number not in counts]
    if missing:
        raise BenchError(f"the output has {len(counts)} of 5 counts; missing: "
                         + ", ".join(f"test {number}" for number in missing))
    return counts


def spread_percent(counts):
    """The width of the counts, from the smallest to the largest, as a
    percentage of their median."""
    median = statistics.median(counts)
    return 100.0 * (max(counts) - min(counts)) / median if median else 0.0


def summarize(runs, windows=None, typical_windows=None):
    """Per-test statistics over the recorded runs (lists of count dicts), with
    the core cycles per iteration of the clock's windows (lists of dicts of
    per-test figures, best and typical), or None where there are none to
    trust."""
    table = {}
    for number in TESTS:
        counts = [run[number] for run in runs]
        median = statistics.median(counts)
        table[number] = {
            "counts": counts,
            "median": median,
            "min": min(counts),
            "max": max(counts),
            "spread_percent": spread_percent(counts),
            "ticks_per_iteration": median / ITERATIONS,
            "core_cycles_per_iteration": statistics.median(w[number] for w in windows) if windows else None,
            "typical_core_cycles_per_iteration":
                statistics.median(w[number] for w in typical_windows) if typical_windows else None,
        }
    return table


def loop_windows(calibration, key):
    """The core cycles per iteration of every test in each window of one run
    of simd-mix-clock --tests, each by the ruler timed in that window: the
    fastest runs by the ruler's fastest ("minimums"), or the middle ones by
    its middle ones ("medians"). A window whose ruler cannot convert (a
    counter that went backwards) is left out."""
    loops = calibration["loops"]
    # The ruler is the clock's short and long add chain, one cycle an addition.
    extra_cycles = calibration["chains"][1]["length"] - calibration["chains"][0]["length"]
    rulers = [(longer - shorter) / (extra_cycles * ITERATIONS) for shorter, longer in loops[f"ruler_{key}"]]
    windows = [{} for _ in rulers]
    for test in loops["tests"]:
        for window, ruler, ticks in zip(windows, rulers, test[key]):
            if ruler > 0:
                window[test["test"]] = ticks / ITERATIONS / ruler
    return [window for window in windows if window]


# Two runs of the empty loop this far apart, in core cycles per iteration,
# stand on different floors: its runs do not scatter, they jump.
FLOOR_GAP = 0.2


def floors(counts, ticks_per_cycle):
    """The floors that the runs of the empty loop fell on, lowest first, as
    (core cycles per iteration, number of runs) pairs; one floor when they
    all agree. None without a calibration to trust."""
    if not ticks_per_cycle:
        return None
    values = sorted(count / ITERATIONS / ticks_per_cycle for count in counts)
    groups = [[values[0]]]
    for previous, value in zip(values, values[1:]):
        if value - previous > FLOOR_GAP:
            groups.append([])
        groups[-1].append(value)
    return [(statistics.median(group), len(group)) for group in groups]


def floors_line(found):
    """One line on the floors of the empty loop, where there is more than one."""
    if not found or len(found) < 2:
        return None
    (lowest, runs), *higher = found
    described = f"{lowest:.2f} core cycles per iteration in {runs} run{'s' if runs != 1 else ''}"
    described += "".join(f", {value:.2f} in {count}" for value, count in higher)
    return (f"test -1 fell on {len(found)} floors: {described}; the empty loop is bound by its core's front end, "
            "which a second hardware thread or the loop buffer can slow, while tests 0-3 are chains bound by "
            "latency and unaffected")


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


# A penalty in core cycles per iteration counts once every window puts it at
# least this far from zero, on the same side.
PENALTY_RESOLUTION = 0.05


def combination(penalty, figures):
    """The penalty's formula applied to one figure per test."""
    return (sum(figures[n] for n in penalty["plus"]) / len(penalty["plus"])
            - sum(figures[n] for n in penalty["minus"]) / len(penalty["minus"]))


def penalties(table, runs, windows=None):
    """Each penalty in ticks per iteration, from the program's median counts,
    and in core cycles per iteration, from the clock's windows (None without
    them). It is measurable, in either direction, when every window puts it
    beyond PENALTY_RESOLUTION on the same side; without windows, when the
    ticks stand out of the spread of the counts they are made from. A
    measurable negative penalty means mixing was faster."""
    results = []
    for penalty in PENALTIES:
        involved = penalty["plus"] + penalty["minus"]
        difference = combination(penalty, {n: table[n]["median"] for n in TESTS})
        result = {
            "name": penalty["name"],
            "formula": penalty["formula"],
            "ticks_per_iteration": difference / ITERATIONS,
            "core_cycles_per_iteration": None,
        }
        if windows:
            each = [combination(penalty, window) for window in windows]
            result["core_cycles_per_iteration"] = statistics.median(each)
            result["window_lowest"], result["window_highest"] = min(each), max(each)
            result["measurable"] = min(each) >= PENALTY_RESOLUTION or max(each) <= -PENALTY_RESOLUTION
        else:
            noise = max(table[n]["max"] - table[n]["min"] for n in involved)
            result["measurable"] = None if runs < 2 else abs(difference) > noise
        results.append(result)
    return results


def signed(value):
    """A figure to two places with its sign, a zero without one's minus."""
    return f"{round(value, 2) + 0.0:+.2f}"


def amount(result):
    """A penalty per iteration in core cycles, or in ticks without a calibration."""
    if result["core_cycles_per_iteration"] is None:
        return f"{signed(result['ticks_per_iteration'])} ticks"
    return f"{signed(result['core_cycles_per_iteration'])} core cycles"


def verdict(results):
    if any(result["measurable"] is None for result in results):
        return "one run has no spread to judge by: repeat with RUNS=5 or more"
    def amount_of(result):
        core = result["core_cycles_per_iteration"]
        return result["ticks_per_iteration"] if core is None else core

    costly = [r for r in results if r["measurable"] and amount_of(r) > 0]
    faster = [r for r in results if r["measurable"] and amount_of(r) < 0]
    if not costly and not faster:
        return "no measurable penalty for mixing integer and floating-point SIMD instructions"
    parts = []
    if costly:
        parts.append("mixing costs: " + "; ".join(f"{r['name']}, {amount(r)} per iteration" for r in costly))
    if faster:
        parts.append("mixing is faster: " + "; ".join(f"{r['name']}, {amount(r)} per iteration" for r in faster))
    return "; ".join(parts)


# The two calibrations may differ by this much before the difference means
# that the core's clock changed during the benchmark.
CALIBRATION_TOLERANCE_PERCENT = 1.0


def combine_calibrations(before, after):
    """One calibration from the clock's runs before and after the recorded
    runs: their mean, and how far the second moved from the first."""
    trusted = before["trusted"] and after["trusted"]
    moved = 100.0 * (after["ticks_per_cycle"] - before["ticks_per_cycle"]) / before["ticks_per_cycle"]
    return {
        "ticks_per_cycle": (before["ticks_per_cycle"] + after["ticks_per_cycle"]) / 2,
        "spread_percent": max(before["ticks_per_cycle_spread_percent"], after["ticks_per_cycle_spread_percent"]),
        "counter_ghz": (before["counter_ghz"] + after["counter_ghz"]) / 2,
        "core_ghz": (before["core_ghz"] + after["core_ghz"]) / 2,
        "trusted": trusted,
        "moved_percent": moved,
        "moved": abs(moved) > CALIBRATION_TOLERANCE_PERCENT,
        "before": before,
        "after": after,
    }


def parse_calibration(output):
    """The figures that simd-mix-clock --json --tests printed."""
    try:
        data = json.loads(output)
        for key in ("ticks_per_cycle", "ticks_per_cycle_spread_percent", "counter_ghz", "core_ghz"):
            if not isinstance(data[key], (int, float)):
                raise BenchError(f"the clock's {key} is not a number")
        if not isinstance(data["trusted"], bool) or data["ticks_per_cycle"] <= 0:
            raise BenchError("the clock's figures are not usable")
        tests = [test["test"] for test in data["loops"]["tests"]]
        if sorted(tests) != sorted(TESTS):
            raise BenchError(f"the clock timed tests {tests}")
        windows = len(data["loops"]["ruler_minimums"])
        if len(data["loops"]["ruler_medians"]) != windows or any(
                len(test[key]) != windows for test in data["loops"]["tests"] for key in ("minimums", "medians")):
            raise BenchError("the clock's windows are incomplete")
        if [chain["instruction"] for chain in data["chains"][:2]] != ["add edx, eax"] * 2:
            raise BenchError("the clock's ruler is not its add chains")
        return data
    except (ValueError, KeyError, TypeError) as error:
        raise BenchError(f"the clock's output is not its JSON object: {error}")


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


def clock_beside(binary):
    """The calibration program of the same build: simd-mix-clock, or
    simd-mix-clock.exe beside a PE32 program."""
    name = "simd-mix-clock.exe" if binary.lower().endswith(".exe") else "simd-mix-clock"
    return os.path.join(os.path.dirname(binary), name)


def pinning(cpu):
    """What a child runs before the program to stay on processor `cpu`."""
    if cpu is None:
        return None
    return lambda: os.sched_setaffinity(0, {cpu})


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


def run_once(command, cpu=None, accept=(0,)):
    """One run of the program: its output, wall time and peak memory in KiB.
    An exit status outside `accept` is an error.

    The peak is sampled from the running program itself: a child's rusage
    would also count the memory of this script, which it was forked from.
    """
    environment = dict(os.environ)
    environment.setdefault("WINEDEBUG", "-all")
    started = time.monotonic()
    try:
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=environment,
                                   preexec_fn=pinning(cpu))
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
    if process.returncode not in accept:
        detail = errors.decode(errors="replace").strip()
        raise BenchError(f"{command[-1]} failed with exit status {process.returncode}"
                         + (f": {detail}" if detail else ""))
    return output.decode("ascii", errors="replace"), wall, peak_kib


class Progress:
    """A line on standard error that counts the runs, kept up to date in
    place; silent unless standard error is a terminal."""

    def __init__(self, total):
        self.total = total
        self.done = 0
        self.shown = sys.stderr.isatty()

    def step(self, what):
        self.done += 1
        if self.shown:
            sys.stderr.write(f"\rbench: {self.done} of {self.total}: {what}\x1b[K")
            sys.stderr.flush()

    def finish(self):
        if self.shown:
            sys.stderr.write("\r\x1b[K")
            sys.stderr.flush()


def calibrate(clock, cpu):
    # Status 3 is the clock's own word that core cycles cannot be trusted here.
    output, _, _ = run_once(command_for(clock) + ["--json", "--tests"], cpu, accept=(0, 3))
    return parse_calibration(output)


def measure(binary, runs, warmup, clock, cpu=None):
    """The clock's calibrations before and after, the counts of each recorded
    run, the median wall time of one run and the largest peak memory of one
    run in KiB (None where it can't be read)."""
    command = command_for(binary)
    progress = Progress(warmup + runs + 2)
    try:
        for run in range(warmup):
            progress.step(f"warm-up run {run + 1}")
            run_once(command, cpu)
        progress.step("calibration before the first recorded run")
        before = calibrate(clock, cpu)
        recorded, walls, peaks = [], [], []
        for run in range(runs):
            progress.step(f"recorded run {run + 1}")
            output, wall, peak_kib = run_once(command, cpu)
            recorded.append(parse_counts(output))
            walls.append(wall)
            if peak_kib is not None:
                peaks.append(peak_kib)
        progress.step("calibration after the last recorded run")
        after = calibrate(clock, cpu)
    finally:
        progress.finish()
    return before, after, recorded, statistics.median(walls), max(peaks) if peaks else None


def report(binary, runs, warmup, before, after, recorded, wall, peak_kib):
    calibration = combine_calibrations(before, after)
    ruler = calibration["ticks_per_cycle"] if calibration["trusted"] else None
    windows = typical = None
    if calibration["trusted"]:
        # The windows of both runs of the clock together.
        windows = loop_windows(before, "minimums") + loop_windows(after, "minimums")
        typical = loop_windows(before, "medians") + loop_windows(after, "medians")
    table = summarize(recorded, windows, typical)
    results = penalties(table, runs, windows)
    found = floors([run[-1] for run in recorded], ruler)
    return {
        "format_version": FORMAT_VERSION,
        "binary": binary,
        "cpu": cpu_name(),
        "runs": runs,
        "warmup": warmup,
        "calibration": calibration,
        "tests": [dict(test=number, **table[number]) for number in TESTS],
        "empty_loop_floors": [{"core_cycles_per_iteration": value, "runs": count} for value, count in found or []],
        "windows": len(windows) if windows else 0,
        "penalties": results,
        "verdict": verdict(results),
        "wall_seconds_median": wall,
        "peak_memory_kib": peak_kib,
    }


def calibration_lines(calibration):
    before, after = calibration["before"], calibration["after"]
    lines = [
        f"core clock {calibration['core_ghz']:.3f} GHz, time-stamp counter {calibration['counter_ghz']:.3f} GHz: "
        f"{calibration['ticks_per_cycle']:.4f} ticks per core cycle",
        f"  (simd-mix-clock: {before['ticks_per_cycle']:.4f} before the first recorded run, "
        f"{after['ticks_per_cycle']:.4f} after the last, spread within each at most "
        f"{calibration['spread_percent']:.2f}%)",
    ]
    if calibration["moved"]:
        lines.append(f"warning: the calibration moved by {calibration['moved_percent']:+.2f}% during the benchmark: "
                     "the core's frequency changed, so core cycles are approximate")
    if not calibration["trusted"]:
        lines.append("warning: simd-mix-clock's cross-check failed: core cycles cannot be trusted on this processor, "
                     "so penalties are given in time-stamp ticks")
    return lines


def format_report(data):
    lines = [
        f"simd-mix-bench: {data['runs']} recorded runs ({data['warmup']} warm-up) of {data['binary']}",
        f"processor: {data['cpu']}",
        *calibration_lines(data["calibration"]),
        "counts are time-stamp ticks for 4,096 loop iterations" + (
            "; core cycles per iteration come from simd-mix-clock --tests, which timed the same loops in "
            f"{data['windows']} windows beside its ruler (best: their fastest runs, typical: their middle runs)"
            if data["windows"] else ""),
        "",
        f"{'test':>4}  {'median':>10}  {'min-max':>23}  {'spread':>7}  {'ticks/iter':>10}  {'core cycles/iter':>16}  "
        f"{'typical':>7}",
    ]

    def cycles(value, width):
        return f"{'n/a' if value is None else format(value, '.2f'):>{width}}"

    for row in data["tests"]:
        lines.append(
            f"{row['test']:>4}  {row['median']:>10g}  {str(row['min']) + '-' + str(row['max']):>23}  "
            f"{row['spread_percent']:>6.1f}%  {row['ticks_per_iteration']:>10.2f}  "
            f"{cycles(row['core_cycles_per_iteration'], 16)}  {cycles(row['typical_core_cycles_per_iteration'], 7)}")
    floors_text = floors_line([(f["core_cycles_per_iteration"], f["runs"]) for f in data["empty_loop_floors"]])
    if floors_text:
        lines.append(floors_text)
    lines += ["", "penalties per iteration:"]
    for penalty in data["penalties"]:
        core = penalty["core_cycles_per_iteration"]
        if core is None:
            judged = {None: "", True: " (beyond the runs' spread)", False: " (within the runs' spread)"}
        else:
            judged = {True: " (every window agrees)",
                      False: f" (the windows range from {signed(penalty['window_lowest'])} to "
                             f"{signed(penalty['window_highest'])})"}
        lines.append(f"  {penalty['name']} = {penalty['formula']}:")
        lines.append(f"    {signed(penalty['ticks_per_iteration'])} ticks, "
                     f"{'n/a' if core is None else signed(core)} core cycles"
                     f"{judged[penalty['measurable']]}")
    lines += [
        f"verdict: {data['verdict']}",
        f"one program run: median wall time {data['wall_seconds_median']:.2f} s, "
        "peak memory " + ("n/a" if data["peak_memory_kib"] is None else f"{data['peak_memory_kib'] / 1024:.1f} MiB"),
    ]
    return "\n".join(lines)


def main(argv=None):
    parser = options.Parser("bench", description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", default="build/simd-mix-bench", help="the program to run (a .exe runs through wine)")
    parser.add_argument("--clock", help="the calibration program (default: simd-mix-clock beside the program)")
    parser.add_argument("--runs", type=int, default=5, help="recorded runs (default 5)")
    parser.add_argument("--warmup", type=int, default=1, help="unrecorded runs first (default 1)")
    parser.add_argument("--cpu", type=int, help="pin the program and the clock to this processor (Linux)")
    parser.add_argument("--json", action="store_true", help="print the figures as one JSON object")
    args = parser.parse_args(argv)
    if args.runs < 1 or args.warmup < 0:
        parser.error("--runs must be at least 1 and --warmup at least 0")
    if args.cpu is not None:
        if not hasattr(os, "sched_setaffinity"):
            parser.error("--cpu needs processor affinity, which this platform does not offer (Linux has it)")
        if args.cpu not in os.sched_getaffinity(0):
            parser.error(f"--cpu {args.cpu}: no such processor is available to this process")
    clock = args.clock or clock_beside(args.binary)
    try:
        measured = measure(args.binary, args.runs, args.warmup, clock, args.cpu)
    except BenchError as error:
        print(f"bench: {error}", file=sys.stderr)
        return 2
    data = report(args.binary, args.runs, args.warmup, *measured)
    print(json.dumps(data, indent=2) if args.json else format_report(data))
    return 0


if __name__ == "__main__":
    sys.exit(main())
