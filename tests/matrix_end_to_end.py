"""End-to-end checks of the built simd-mix-matrix, one case per call.

Usage: matrix_end_to_end.py --program PATH --platform NAME [--emulator CMD] CASE

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

TIMEOUT = 180
ITERATIONS = 4096
CLASSES = ["paddd", "pmuludq", "pand", "pshufd", "addps", "mulps", "andps", "shufps", "addpd", "mulpd", "andpd",
           "shufpd"]
LATENCY = re.compile(r"  (\w+) +(packed 32-bit integer|packed single|packed double) +(add|multiply|logic|shuffle) "
                     r"+\d+\.\d\d +\d+\.\d\d")
CELL = re.compile(r"[+-]\d+\.\d\*?~?")
TYPICAL = r"typical [+-]\d+\.\d, \d+\.\d% of runs fast"
CROSSING = re.compile(rf"  (\w+) <-> (\w+): \+\d+\.\d cycles per round trip( at best; {TYPICAL})?")
BIMODAL = re.compile(rf"  (\w+) <-> (\w+): best [+-]\d+\.\d, {TYPICAL}")
FAILURE_PREFIX = "simd-mix-matrix: cannot write to standard output: "


class Program:
    def __init__(self, args):
        self.command = command_of(args)
        self.line_break = "\r\n" if args.platform == "win32" else "\n"
        self.windows = args.platform == "win32"

    def run(self, *arguments, stdout=subprocess.PIPE, environment=None):
        result = subprocess.run(self.command + list(arguments), stdout=stdout, stderr=subprocess.PIPE, timeout=TIMEOUT,
                                env=dict(os.environ, **(environment or {})))
        output = result.stdout.decode("ascii") if result.stdout is not None else None
        return result.returncode, output, result.stderr.decode("ascii", errors="replace")

    def measured(self, *arguments, environment=None, statuses=(0, 3)):
        """The lines of a measuring run, which exits 0, or 3 where core
        cycles cannot be trusted."""
        status, output, stderr = self.run(*arguments, environment=environment)
        check(status in statuses, f"exit status {status}: {stderr}")
        check(stderr == "", f"standard error is {stderr!r}")
        check(output.endswith(self.line_break), f"output ends in {output[-40:]!r}")
        lines = output[:-len(self.line_break)].split(self.line_break)
        check(all("\r" not in line and "\n" not in line for line in lines), "mixed line breaks")
        return lines


def report_sections(lines):
    """The latency lines, the triangle's rows, the costly crossings and the
    bimodal ones."""
    latency_at = lines.index("typical: of their middle runs):")
    triangle_at = lines.index("* marks a cell that every window puts 0.1 or more from zero on one side, ~ a bimodal one:")
    crossings_at = lines.index("crossings that cost:")
    bimodal_at = lines.index("difference:")
    check(lines[latency_at + 1].split() == ["best", "typical"], "latency column heads")
    latencies = lines[latency_at + 2:triangle_at - 2]
    check(lines[triangle_at - 2] == "", "no empty line after the latencies")
    rows = lines[triangle_at + 1:crossings_at - 1]
    return latencies, rows, lines[crossings_at + 1:bimodal_at - 2], lines[bimodal_at + 1:]


def check_report(lines, classes):
    check(lines[0].startswith("simd-mix-matrix on "), f"first line {lines[0]!r}")
    check(lines[1].startswith("calibration: "), f"second line {lines[1]!r}")
    latencies, rows, crossings, bimodal = report_sections(lines)
    check([LATENCY.fullmatch(line).group(1) if LATENCY.fullmatch(line) else line for line in latencies] == classes,
          f"latency lines {latencies!r}")
    header, *rows = rows
    check(header.split() == classes[:-1], f"column heads {header!r}")
    marked, bimodal_marked = set(), set()
    for i, row in enumerate(rows, start=1):
        name, *cells = row.split()
        check(name == classes[i] and len(cells) == i, f"row {row!r}")
        check(all(CELL.fullmatch(cell) for cell in cells), f"cells of {row!r}")
        marked |= {frozenset((name, classes[j])) for j, cell in enumerate(cells) if "*" in cell}
        bimodal_marked |= {frozenset((name, classes[j])) for j, cell in enumerate(cells) if cell.endswith("~")}
    check(len(rows) == len(classes) - 1, f"{len(rows)} rows")
    check(sum(len(row.split()) - 1 for row in rows) == len(classes) * (len(classes) - 1) // 2, "cell count")
    if crossings != ["  none measurable"]:
        for line in crossings:
            crossing = CROSSING.fullmatch(line)
            check(crossing, f"crossing line {line!r}")
            check(frozenset(crossing.groups()[:2]) in marked, f"{line!r} is not a marked cell")
    listed = set()
    if bimodal != ["  none"]:
        for line in bimodal:
            cell = BIMODAL.fullmatch(line)
            check(cell, f"bimodal line {line!r}")
            listed.add(frozenset(cell.groups()))
    check(listed == bimodal_marked, f"bimodal cells {listed} but {bimodal_marked} marked")


def case_report(program):
    check_report(program.measured(), CLASSES)


def case_classes(program):
    # Named in any order, measured in the table's.
    check_report(program.measured("--classes", "mulps,pand,addpd"), ["pand", "mulps", "addpd"])


def case_json(program):
    data = json.loads(program.line_break.join(program.measured("--json")))
    check([entry["name"] for entry in data["classes"]] == CLASSES, "classes")
    check(len(data["round_trips"]) == 66, f"{len(data['round_trips'])} round trips")
    windows, extra = data["windows"], (data["long_chain"] - data["short_chain"]) * ITERATIONS
    lengths = [chain["length"] for chain in data["calibration"]["chains"]]
    every_ruler = []

    def per_window(runs, kind):
        """A chain's cycles per instruction, each window by the ruler timed in it."""
        check(all(len(runs[key]) == windows for key in runs), "figures per window")
        rulers = [(long - short) / ((lengths[1] - lengths[0]) * ITERATIONS) for short, long in runs[f"ruler_{kind}"]]
        if kind == "minimums":
            every_ruler.extend(rulers)
        return [(long - short) / extra / ruler
                for short, long, ruler in zip(runs[f"short_{kind}"], runs[f"long_{kind}"], rulers)]

    latency = {}
    for entry in data["classes"]:
        for kind, key in (("minimums", "latency"), ("medians", "typical")):
            latency[entry["name"], kind] = per_window(entry["windows"], kind)
            check(abs(statistics.median(latency[entry["name"], kind]) - entry[key]) < 1e-4, f"{key} of {entry['name']}")
    for cell in data["round_trips"]:
        name = f"{cell['first']} <-> {cell['second']}"
        trips = {}
        for kind, key in (("minimums", "cycles"), ("medians", "typical")):
            trips[key] = [2 * both - first - second for both, first, second in
                          zip(per_window(cell["windows"], kind), latency[cell["first"], kind],
                              latency[cell["second"], kind])]
            check(abs(statistics.median(trips[key]) - cell[key]) < 1e-4, f"{name}: {key}")
            check(abs(min(trips[key]) - cell[f"{key}_lowest"]) < 1e-4, f"{name}: {key}_lowest")
        # Measurable when every window puts it on one side, beyond a tenth.
        agree = min(trips["cycles"]) >= 0.1 or max(trips["cycles"]) <= -0.1
        check(cell["measurable"] == agree, f"{name}: measurable")
        check(cell["bimodal"] == (cell["typical"] - cell["cycles"] > data["bimodal_margin"]), f"{name}: bimodal")
        check(0 <= cell["fast_share"] <= 1, f"{name}: fast_share")
    check(abs(statistics.median(every_ruler) - data["window_ticks_per_cycle"]) < 1e-5, "the windows' ruler")


def case_untrusted(program):
    # A cross-check forced to fail: status 3, and the report says so.
    lines = program.measured("--classes", "pand,mulps", environment={"SIMD_MIX_FAIL_CROSS_CHECK": "1"}, statuses=(3,))
    check(lines[1].endswith("; core cycles cannot be trusted on this processor"), f"second line {lines[1]!r}")


def case_list(program):
    status, output, stderr = program.run("--list", "--classes", "pand,mulps")
    check(status == 0 and stderr == "", f"exit status {status}: {stderr}")
    titles = [line for line in output.split(program.line_break) if line.startswith("chain ")]
    check(titles == ["chain pand alone: 4 instructions per loop iteration",
                     "chain pand alone: 12 instructions per loop iteration",
                     "chain pand, mulps: 4 instructions per loop iteration",
                     "chain pand, mulps: 12 instructions per loop iteration",
                     "chain mulps alone: 4 instructions per loop iteration",
                     "chain mulps alone: 12 instructions per loop iteration"], f"titles {titles!r}")
    # The short alternating chain, as the benchmark lists a loop body.
    block = program.line_break.join([
        "chain pand, mulps: 4 instructions per loop iteration", "\tcode:", "\t\t/*|*/", "",
        "\t\t# bitwise logical and (integer; SSE2)", "\t\t# pand xmm0, xmm2", "\t\t66 0F DB C2", "",
        "\t\t# multiply packed single-precision floating-point values (floating point; SSE)",
        "\t\t# mulps xmm0, xmm3", "\t\t0F 59 C3", "",
        "\t\t# bitwise logical and (integer; SSE2)", "\t\t# pand xmm0, xmm2", "\t\t66 0F DB C2", "",
        "\t\t# multiply packed single-precision floating-point values (floating point; SSE)",
        "\t\t# mulps xmm0, xmm3", "\t\t0F 59 C3", "", ""])
    check(block in output, "the listing of pand, mulps at 4 per iteration differs")
    # One mark at every 16-byte boundary that a body reaches: at offset 0 of
    # the 16, 14 and 12 bytes of the short chains, and at 0, 16 and 32 of the
    # 48, 42 and 36 bytes of the long ones.
    check(output.count("/*|*/") == 3 * 1 + 3 * 3, "16-byte marks")


def case_bad_option(program):
    for arguments, message in ((["--fast"], "unknown option '--fast'"),
                               (["--classes", "pand,nope"], "no instruction class 'nope'"),
                               (["--classes", "pand,pand"], "class 'pand' named twice"),
                               (["--classes", "paddd,"], "an empty class name in 'paddd,'"),
                               (["--classes"], "--classes needs a list of names")):
        status, output, stderr = program.run(*arguments)
        check(status == 2, f"{arguments}: exit status {status}")
        check(output == "", f"{arguments}: standard output {output!r}")
        check(stderr.replace("\r\n", "\n").startswith(f"simd-mix-matrix: {message}\nusage: simd-mix-matrix "),
              f"{arguments}: standard error {stderr!r}")


def case_output_failure(program):
    with open("/dev/full", "wb") as full:
        status, _, stderr = program.run("--list", stdout=full)
    check(status == 1, f"exit status {status}")
    if program.windows:
        check(re.fullmatch(re.escape(FAILURE_PREFIX) + r"[^\r\n]+\r\n", stderr), f"standard error {stderr!r}")
    else:
        check(stderr == FAILURE_PREFIX + "No space left on device\n", f"standard error {stderr!r}")


if __name__ == "__main__":
    sys.exit(run_case(cases_in(globals()), Program, errors=(json.JSONDecodeError, KeyError, ValueError)))
