#!/usr/bin/env python3
"""Measures this machine with every program and writes one results folder.

Usage: results.py [--build DIR] [--out DIR] [--runs N] [--warmup N]

Runs simd-mix-clock --json --tests, tools/bench.py --json (the benchmark
WARMUP times unrecorded and RUNS times recorded, 1 and 3 by default) and
simd-mix-matrix --json (every family and table that the processor has), and
writes their JSON to OUT/NAME/clock.json, bench.json and matrix.json, with
machine.json beside them: what the processor is, from /proc/cpuinfo, the
time-stamp counter's rate and the core clock levels that the runs saw, the
operating system, the programs' version and commit, and the date. NAME says
what the machine is: vendor, family, model, and whether it is a virtual
machine (amd-family26-model2-vm). The folder appears only once every program
has succeeded, replacing one of the same name.

--cpuinfo and --run-with let a test script the processor and the programs:
the first names the file read in place of /proc/cpuinfo, the second a
command put before every program's command line. SOURCE_DATE_EPOCH, where
set, gives the date.

Exit status: 0; 2 when a program fails or prints what is not its JSON, the
processor cannot be read, or SOURCE_DATE_EPOCH is set to what is no date.
"""

import argparse
import datetime
import json
import os
import platform
import re
import shlex
import shutil
import subprocess
import sys
import time

UNTRUSTED = 3
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
# Every file this tool writes carries the version of its layout as its first key.
import options  # noqa: E402
from results_files import FORMAT_VERSION  # noqa: E402

ROOT = os.path.dirname(HERE)
VENDORS = {"AuthenticAMD": "amd", "GenuineIntel": "intel", "HygonGenuine": "hygon", "CentaurHauls": "centaur"}
# The flags of /proc/cpuinfo that name SIMD extensions; the kernel calls SSE3
# "pni".
SIMD_FLAG = re.compile(r"(mmx|sse|pni|ssse3|avx|fma|f16c|xop|amx|vaes|vpclmulqdq|gfni)")
FLAG_NAMES = {"pni": "sse3"}


class ResultsError(Exception):
    """The machine cannot be measured or described."""


def read_cpuinfo(path):
    """The first processor's fields of a /proc/cpuinfo text, and the number
    of processors it lists."""
    try:
        with open(path) as source:
            text = source.read()
    except OSError as error:
        raise ResultsError(f"cannot read {path}: {error.strerror}")
    blocks = [block for block in re.split(r"\n\s*\n", text) if block.strip()]
    if not blocks:
        raise ResultsError(f"{path} lists no processor")
    fields = {}
    for line in blocks[0].splitlines():
        if ":" in line:
            key, value = line.split(":", 1)
            fields[key.strip()] = value.strip()
    return fields, sum(1 for block in blocks if re.match(r"processor\s*:", block))


def whole_number(text):
    """The number that text writes in ASCII digits, or None: str.isdigit()
    also takes digits such as '²', which int() refuses, and int() takes
    other scripts' digits, which no kernel writes."""
    if not re.fullmatch(r"[0-9]+", text):
        return None
    try:
        return int(text)
    except ValueError:
        # More digits than int() reads.
        return None


def number(fields, key, path):
    value = whole_number(fields.get(key, ""))
    if value is None:
        raise ResultsError(f"{path} has no {key!r} as a number")
    return value


def describe_processor(path):
    """What the processor is, as machine.json gives it, and the folder's
    name."""
    fields, processors = read_cpuinfo(path)
    if "vendor_id" not in fields:
        raise ResultsError(f"{path} has no 'vendor_id'")
    vendor = fields["vendor_id"]
    family, model = number(fields, "cpu family", path), number(fields, "model", path)
    flags = fields.get("flags", "").split()
    virtual = "hypervisor" in flags
    short = VENDORS.get(vendor) or re.sub(r"[^a-z0-9]+", "", vendor.lower()) or "unknown"
    stepping = fields.get("stepping", "")
    machine = {
        "processor": fields.get("model name", "unknown processor"),
        "vendor": vendor,
        "family": family,
        "model": model,
        "stepping": whole_number(stepping),
        "simd_extensions": [FLAG_NAMES.get(flag, flag) for flag in flags if SIMD_FLAG.match(flag)],
        "virtual_machine": virtual,
        "logical_processors": processors,
    }
    return f"{short}-family{family}-model{model}-{'vm' if virtual else 'metal'}", machine


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as source:
        found = re.search(r"project\(\S+ VERSION (\S+)", source.read())
    return found.group(1) if found else "unknown"


def commit():
    """The commit the programs were built from, and whether the tree had
    changes beside it."""
    try:
        head = subprocess.run(["git", "-C", ROOT, "rev-parse", "HEAD"], capture_output=True, text=True)
        changes = subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no"],
                                 capture_output=True, text=True)
    except OSError:
        return "unknown", None
    if head.returncode != 0:
        return "unknown", None
    return head.stdout.strip(), bool(changes.stdout.strip()) if changes.returncode == 0 else None


def operating_system():
    name = f"{platform.system()} {platform.release()}"
    try:
        with open("/etc/os-release") as release:
            found = re.search(r'^PRETTY_NAME="?([^"\n]*)"?$', release.read(), re.MULTILINE)
        if found:
            name += f" ({found.group(1)})"
    except OSError:
        pass
    return name


def source_date():
    """The date that SOURCE_DATE_EPOCH gives, or None where it is not set;
    read before anything is measured, so that a value that is no date
    stops the run before the programs take their minutes."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        return None
    seconds, moment = whole_number(epoch), None
    try:
        if seconds is not None:
            moment = datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc)
    except (ValueError, OverflowError, OSError):
        # Beyond the years that a date can hold.
        pass
    if moment is None:
        raise ResultsError(f"SOURCE_DATE_EPOCH is {epoch[:30]!r}, not a date in seconds since 1970")
    return moment


def date_text(moment=None):
    return (moment or datetime.datetime.now(datetime.timezone.utc)).strftime("%Y-%m-%dT%H:%M:%SZ")


def run_program(command, shown, prefix):
    """The JSON object that the command printed, and its text. Its standard
    error goes to this one's, so that the programs' own progress shows on a
    terminal."""
    try:
        process = subprocess.run(prefix + command, stdout=subprocess.PIPE)
    except OSError as error:
        raise ResultsError(f"cannot start {shown}: {error.strerror}")
    if process.returncode < 0:
        raise ResultsError(f"{shown} was killed by signal {-process.returncode}")
    # Status 3 is a program's word that its core cycles cannot be trusted
    # here; its JSON says so, and is what this machine gives.
    if process.returncode not in (0, UNTRUSTED):
        raise ResultsError(f"{shown} failed with exit status {process.returncode}")
    if process.returncode == UNTRUSTED:
        print(f"results: {shown}: core cycles cannot be trusted on this processor (status 3); "
              "its figures are kept as they are", file=sys.stderr)
    try:
        data = json.loads(process.stdout)
    except ValueError as error:
        raise ResultsError(f"{shown} printed no JSON object: {error}")
    if not isinstance(data, dict) or next(iter(data), None) != "format_version":
        raise ResultsError(f"{shown} printed JSON without a format version as its first key "
                           "(a build from before format versions?)")
    if data["format_version"] != FORMAT_VERSION:
        raise ResultsError(f"{shown} printed format version {data['format_version']!r}; "
                           f"this tool writes version {FORMAT_VERSION}")
    return data, process.stdout


def levels_seen(clock, bench, matrix):
    """Every core clock level that a calibration of the run saw, in GHz to
    two places, lowest first."""
    calibrations = [clock, bench["calibration"]["before"], bench["calibration"]["after"], matrix["calibration"]]
    return sorted({round(level["ghz"], 2) for calibration in calibrations for level in calibration.get("levels", [])})


def programs(build, runs, warmup):
    """Each file of the folder, the command that prints it, and that command
    as machine.json records it, from the repository's root."""
    bench = ["--json", "--binary", os.path.join(build, "simd-mix-bench"), "--runs", str(runs), "--warmup", str(warmup)]
    steps = [
        ("clock.json", [os.path.join(build, "simd-mix-clock"), "--json", "--tests"]),
        ("bench.json", [sys.executable, os.path.join(HERE, "bench.py")] + bench, ["tools/bench.py"] + bench),
        ("matrix.json", [os.path.join(build, "simd-mix-matrix"), "--json"]),
    ]
    return [(step[0], step[1], " ".join(step[-1])) for step in steps]


def measure(args):
    """Runs every program into a hidden folder beside the results, which
    becomes the results once everything succeeded; gives its path."""
    name, machine = describe_processor(args.cpuinfo)
    date = source_date()
    prefix = shlex.split(args.run_with) if args.run_with else []
    shown = sys.stderr.isatty()
    started = time.monotonic()
    target = os.path.join(args.out, name)
    partial = os.path.join(args.out, f".{name}.partial")
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    try:
        outputs = {}
        steps = programs(args.build, args.runs, args.warmup)
        for step, (file_name, command, recorded) in enumerate(steps, 1):
            if shown:
                print(f"results: {step} of {len(steps)}: {recorded}", file=sys.stderr, flush=True)
            data, text = run_program(command, recorded, prefix)
            with open(os.path.join(partial, file_name), "wb") as target_file:
                target_file.write(text)
            outputs[file_name] = data
        clock, bench, matrix = outputs["clock.json"], outputs["bench.json"], outputs["matrix.json"]
        head, modified = commit()
        described = {"format_version": FORMAT_VERSION, "name": name, **machine,
                     "time_stamp_counter_ghz": clock["counter_ghz"],
                     "core_clock_levels_ghz": levels_seen(clock, bench, matrix),
                     "operating_system": operating_system(),
                     "version": project_version(), "commit": head, "commit_modified": modified,
                     "date": date_text(date),
                     "commands": {file_name: recorded for file_name, _, recorded in steps}}
        with open(os.path.join(partial, "machine.json"), "w") as target_file:
            target_file.write(json.dumps(described, indent=2) + "\n")
        shutil.rmtree(target, ignore_errors=True)
        os.replace(partial, target)
    except BaseException:
        shutil.rmtree(partial, ignore_errors=True)
        raise
    return target, time.monotonic() - started


def main(argv=None):
    parser = options.Parser("results", description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build", help="where the programs are (default: build)")
    parser.add_argument("--out", default="results", help="where the machine's folder goes (default: results)")
    # Three recorded runs rather than make bench's five keep the whole
    # measurement within two minutes on a busy two-processor guest; the core
    # cycles come from the clock's windows, which the runs do not change.
    parser.add_argument("--runs", type=int, default=3, help="the benchmark's recorded runs (default 3)")
    parser.add_argument("--warmup", type=int, default=1, help="the benchmark's unrecorded runs first (default 1)")
    parser.add_argument("--cpuinfo", default="/proc/cpuinfo", help=argparse.SUPPRESS)
    parser.add_argument("--run-with", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.runs < 1 or args.warmup < 0:
        parser.error("--runs must be at least 1 and --warmup at least 0")
    try:
        target, seconds = measure(args)
    except (ResultsError, OSError) as error:
        print(f"results: {error}", file=sys.stderr)
        return 2
    print(f"results: wrote {target}/ (clock.json, bench.json, matrix.json, machine.json) in {seconds:.0f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
