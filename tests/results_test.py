"""Tests of tools/results.py with a scripted processor and stand-ins for the
programs: the folder's name, its files and machine.json, the commands run,
and what happens when a program fails.

The stand-in prints the files of a fixture folder under data/results/, so
that a run on that folder's scripted /proc/cpuinfo must give the folder back,
machine.json included, but for what depends on the machine that runs the
test: its operating system and the commit.
"""

import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOL = os.path.join(HERE, "..", "tools", "results.py")
FIXTURES = os.path.join(HERE, "data", "results")
CPUINFO = os.path.join(HERE, "data", "cpuinfo")
MACHINES = ("amd-family25-model1-vm", "intel-family6-model207-metal")
# 2026-12-09 12:00 UTC, the date of the fixtures' machine.json.
DATE_EPOCH = "1796817600"

# Logs its command line, then prints the fixture file of the program named,
# or fails where FAIL names it, or prints PRINT in its place.
STAND_IN = """
import os, sys
folder, log = sys.argv[1], sys.argv[2]
command = sys.argv[3:]
with open(log, "a") as record:
    record.write(" ".join(os.path.basename(part) for part in command) + "\\n")
program = os.path.basename(command[1] if command[0] == sys.executable else command[0])
if program == os.environ.get("FAIL"):
    sys.exit(4)
if program == os.environ.get("PRINT_FOR"):
    sys.stdout.write(os.environ["PRINT"])
    sys.exit(0)
name = {"simd-mix-clock": "clock.json", "bench.py": "bench.json", "simd-mix-matrix": "matrix.json"}[program]
with open(os.path.join(folder, name)) as source:
    sys.stdout.write(source.read())
if program == os.environ.get("UNTRUSTING"):
    sys.exit(3)
if program == os.environ.get("KILLED"):
    os.kill(os.getpid(), 9)
"""


def read(path):
    with open(path) as source:
        return source.read()


class Results(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp()
        self.stand_in = os.path.join(self.work, "stand_in.py")
        with open(self.stand_in, "w") as target:
            target.write(STAND_IN)
        self.log = os.path.join(self.work, "log")
        self.out = os.path.join(self.work, "results")

    def tearDown(self):
        shutil.rmtree(self.work)

    def run_tool(self, machine, cpuinfo=None, options=("--build", "/nowhere/build", "--runs", "3", "--warmup", "2"),
                 **environment):
        prefix = " ".join(shlex.quote(part) for part in
                          (sys.executable, self.stand_in, os.path.join(FIXTURES, machine), self.log))
        return subprocess.run(
            [sys.executable, TOOL, "--out", self.out, *options,
             "--cpuinfo", cpuinfo or os.path.join(CPUINFO, machine + ".txt"), "--run-with", prefix],
            capture_output=True, text=True, env={**os.environ, "SOURCE_DATE_EPOCH": DATE_EPOCH, **environment})

    def test_a_scripted_machine_gives_its_folder_back(self):
        with open(os.path.join(HERE, "..", "CMakeLists.txt")) as source:
            version = re.search(r"project\(\S+ VERSION (\S+)", source.read()).group(1)
        for machine in MACHINES:
            with self.subTest(machine):
                # The defaults of make results, as the fixtures' commands show.
                result = self.run_tool(machine, options=())
                self.assertEqual(result.returncode, 0, result.stderr)
                folder = os.path.join(self.out, machine)
                self.assertRegex(result.stdout, "^" + re.escape(f"results: wrote {folder}/ (clock.json, bench.json, "
                                                                 "matrix.json, machine.json) in ") + r"\d+ s\n$")
                self.assertEqual(sorted(os.listdir(self.out)), sorted(MACHINES[:MACHINES.index(machine) + 1]))
                self.assertEqual(sorted(os.listdir(folder)),
                                 ["bench.json", "clock.json", "machine.json", "matrix.json"])
                for name in ("clock.json", "bench.json", "matrix.json"):
                    self.assertEqual(read(os.path.join(folder, name)), read(os.path.join(FIXTURES, machine, name)))
                written = json.loads(read(os.path.join(folder, "machine.json")))
                expected = json.loads(read(os.path.join(FIXTURES, machine, "machine.json")))
                self.assertEqual(list(written)[0], "format_version")
                self.assertEqual(written["version"], version)
                self.assertRegex(written["commit"], r"^([0-9a-f]{40}|unknown)$")
                self.assertIn(written["commit_modified"], (True, False, None))
                self.assertRegex(written["operating_system"], r"^\S+ \S+")
                for volatile in ("commit", "commit_modified", "operating_system"):
                    written[volatile] = expected[volatile]
                self.assertEqual(list(written.items()), list(expected.items()))
        bench = "python3 bench.py --json --binary simd-mix-bench --runs 3 --warmup 1"
        bench = bench.replace("python3", os.path.basename(sys.executable))
        self.assertEqual(read(self.log), f"simd-mix-clock --json --tests\n{bench}\nsimd-mix-matrix --json\n" * 2)

    def test_the_levels_seen_include_the_matrix_calibration_and_no_warm_up_is_allowed(self):
        matrix = json.loads(read(os.path.join(FIXTURES, MACHINES[1], "matrix.json")))
        matrix["calibration"]["levels"].append({"ghz": 2.9449, "windows": 1})
        result = self.run_tool(MACHINES[1], options=("--build", "/nowhere/build", "--warmup", "0"),
                               PRINT_FOR="simd-mix-matrix", PRINT=json.dumps(matrix))
        self.assertEqual(result.returncode, 0, result.stderr)
        written = json.loads(read(os.path.join(self.out, MACHINES[1], "machine.json")))
        self.assertEqual(written["core_clock_levels_ghz"], [2.94, 3.0, 3.1])
        self.assertIn("bench.py --json --binary simd-mix-bench --runs 3 --warmup 0\n", read(self.log))

    def test_the_levels_seen_are_those_of_every_calibration_of_the_run(self):
        sys.path.insert(0, os.path.dirname(TOOL))
        import results
        levels = lambda *ghz: {"levels": [{"ghz": value, "windows": 1} for value in ghz]}
        bench = {"calibration": {"before": levels(3.204), "after": levels(3.3)}}
        self.assertEqual(results.levels_seen(levels(3.1, 3.2), bench, {"calibration": levels(2.9)}),
                         [2.9, 3.1, 3.2, 3.3])

    def test_a_second_run_replaces_the_folder(self):
        machine = MACHINES[0]
        folder = os.path.join(self.out, machine)
        os.makedirs(folder)
        with open(os.path.join(folder, "left.txt"), "w"):
            pass
        result = self.run_tool(machine)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn("left.txt", os.listdir(folder))

    def test_a_failing_program_or_one_without_a_format_version_leaves_no_folder(self):
        cases = {
            "/nowhere/build/simd-mix-matrix --json failed with exit status 4": {"FAIL": "simd-mix-matrix"},
            "tools/bench.py --json --binary /nowhere/build/simd-mix-bench --runs 3 --warmup 2 failed with exit "
            "status 4": {"FAIL": "bench.py"},
            "/nowhere/build/simd-mix-clock --json --tests printed JSON without a format version as its first "
            "key": {"PRINT_FOR": "simd-mix-clock", "PRINT": '{"core_ghz": 3.0, "format_version": 2}'},
            "/nowhere/build/simd-mix-matrix --json printed format version 1; this tool writes version 2":
                {"PRINT_FOR": "simd-mix-matrix", "PRINT": '{"format_version": 1}'},
            "/nowhere/build/simd-mix-clock --json --tests was killed by signal 9": {"KILLED": "simd-mix-clock"},
            "/nowhere/build/simd-mix-matrix --json printed no JSON object":
                {"PRINT_FOR": "simd-mix-matrix", "PRINT": '{"format_version": 2,'},
        }
        for message, environment in cases.items():
            with self.subTest(message):
                result = self.run_tool(MACHINES[1], **environment)
                self.assertEqual(result.returncode, 2)
                self.assertIn(f"results: {message}", result.stderr)
                self.assertEqual(result.stdout, "")
                self.assertEqual(os.listdir(self.out), [])

    def test_an_untrusting_clock_or_matrix_still_gives_the_folder(self):
        for program in ("simd-mix-clock", "simd-mix-matrix"):
            with self.subTest(program):
                result = self.run_tool(MACHINES[0], UNTRUSTING=program)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn(f"{program} --json", result.stderr)
                self.assertIn("cannot be trusted", result.stderr)
                self.assertEqual(sorted(os.listdir(os.path.join(self.out, MACHINES[0]))),
                                 ["bench.json", "clock.json", "machine.json", "matrix.json"])

    def test_a_processor_that_cannot_be_read_is_refused(self):
        broken = os.path.join(self.work, "cpuinfo")
        with open(broken, "w") as target:
            target.write("processor\t: 0\nvendor_id\t: AuthenticAMD\ncpu family\t: 25\n")
        cases = {broken: f"{broken} has no 'model' as a number",
                 os.path.join(self.work, "absent"): "cannot read " + os.path.join(self.work, "absent")}
        for cpuinfo, message in cases.items():
            with self.subTest(message):
                result = self.run_tool(MACHINES[0], cpuinfo=cpuinfo)
                self.assertEqual(result.returncode, 2)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(self.log))

    def test_digits_that_are_not_ascii_or_too_many_for_a_number_are_one_line_and_no_traceback(self):
        # str.isdigit() takes '²', which int() refuses, and int() takes the
        # Arabic-Indic '٣', which no kernel writes; 5,000 digits are more
        # than int() reads.
        original = read(os.path.join(CPUINFO, MACHINES[0] + ".txt"))
        scripted = os.path.join(self.work, "cpuinfo")
        for key, value in (("cpu family", "2\u00b2"), ("model", "\u0663"), ("cpu family", "9" * 5000)):
            with self.subTest(key=key, value=value[:5]):
                with open(scripted, "w") as target:
                    target.write(re.sub(rf"^{key}\t*: .*$", f"{key}\t: {value}", original, count=1, flags=re.M))
                result = self.run_tool(MACHINES[0], cpuinfo=scripted)
                self.assertEqual((result.returncode, result.stderr),
                                 (2, f"results: {scripted} has no {key!r} as a number\n"))
                self.assertFalse(os.path.exists(self.log))
        # Nor is such a stepping, which the folder does without.
        with open(scripted, "w") as target:
            target.write(re.sub(r"^stepping\t*: .*$", "stepping\t: \u00b9", original, count=1, flags=re.M))
        result = self.run_tool(MACHINES[0], cpuinfo=scripted)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIsNone(json.loads(read(os.path.join(self.out, MACHINES[0], "machine.json")))["stepping"])

    def test_a_source_date_epoch_that_is_no_date_stops_the_run_before_any_program(self):
        for epoch in ("\u00b2", "1796817600.5", "-1", "9" * 30, "\u0661" * 3):
            with self.subTest(epoch=epoch[:5]):
                result = self.run_tool(MACHINES[0], SOURCE_DATE_EPOCH=epoch)
                self.assertEqual((result.returncode, result.stderr),
                                 (2, f"results: SOURCE_DATE_EPOCH is {epoch[:30]!r}, not a date in seconds since "
                                     f"1970\n"))
                self.assertFalse(os.path.exists(self.log))
                self.assertFalse(os.path.exists(self.out) and os.listdir(self.out))


if __name__ == "__main__":
    unittest.main()
