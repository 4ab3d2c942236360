"""Tests of how tests/all_targets.sh chooses and reports the targets, with
stand-ins for the compilers, the kernel's answer, the emulator, wine, cmake
and ctest, so that every kind of host is checked on this one and nothing is
built. The scripts run from a copy, so no build directory of the tree is
touched; PATH holds the stand-ins and only the few real tools the scripts use,
which hides the host's own compilers, emulators and wine."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from unittest import mock

import i386_probe
from stand_ins import link_real_tools, write_stand_ins

TESTS = os.path.dirname(os.path.abspath(__file__))
REAL_TOOLS = ("sh", "grep", "sed", "sort", "dirname", "mkdir", "cat")

# One stand-in under every name; it logs its call and acts on the scenario.
# g++ builds the i386 probe: a program that runs, or, where the scenario's
# kernel runs no 32-bit programs, bytes that no kernel runs (ENOEXEC); where
# the temporary folder is mounted noexec, a program that cannot be started
# (EACCES); or one that hangs. The emulator runs the probe it is given.
# cmake's configure leaves a cache that says whether it found the JSON
# library; ctest, as the real one does, finds no test in a directory that the
# scenario leaves empty, and fails for that only with --no-tests=error.
STAND_IN = """#!%s -S
import json, os, sys
name, args = os.path.basename(sys.argv[0]), sys.argv[1:]
with open(os.environ["CALLS"], "a") as calls:
    calls.write(json.dumps([name, os.path.basename(os.getcwd())] + args) + "\\n")
with open(os.environ["SCENARIO"]) as scenario:
    scenario = json.load(scenario)
if name == "g++":
    if scenario.get("toolchain") == "missing":
        sys.exit(1)
    if scenario.get("toolchain") == "hangs":
        import time
        time.sleep(60)
    probe = args[args.index("-o") + 1]
    kernel = scenario.get("kernel")
    with open(probe, "w") as file:
        file.write({"refuses": "\\0 not a program\\n",
                    "hangs": "#!" + sys.executable + "\\nimport time\\ntime.sleep(60)\\n",
                    "signals": "#!/bin/sh\\nkill -9 $$\\n"}.get(kernel, "#!/bin/sh\\n"))
    os.chmod(probe, 0o644 if kernel == "noexec" else 0o755)
elif name in ("qemu-i386", "qemu-i386-static"):
    given = args[0] if args and os.path.isfile(args[0]) else os.devnull
    with open(given, "rb") as program:
        sys.exit(0 if program.read(2) == b"\\0 " and scenario.get("emulator") != "fails" else 1)
elif name == "dpkg-query":
    # Knows no package, or, where the scenario says so, every one.
    if not scenario.get("packages_installed"):
        sys.exit(1)
    print("install ok installed", end="")
elif name == "id":
    print(1000)
elif name == "cmake" and "-B" in args:
    build = args[args.index("-B") + 1]
    os.makedirs(build, exist_ok=True)
    missing = scenario.get("headers_missing", ["NLOHMANN_JSON_INCLUDE_DIR"] if scenario.get("json") == "missing" else [])
    with open(os.path.join(build, "CMakeCache.txt"), "w") as cache:
        for variable in ("NLOHMANN_JSON_INCLUDE_DIR", "CLI11_INCLUDE_DIR", "XBYAK_INCLUDE_DIR"):
            found = variable + "-NOTFOUND" if variable in missing else "/usr/include"
            cache.write(variable + ":PATH=" + found + "\\n")
elif name == "ctest":
    directory = os.path.basename(os.getcwd())
    if directory in scenario.get("empty", []):
        print("No tests were found!!!")
        sys.exit(8 if "--no-tests=error" in args else 0)
    os.makedirs("Testing/Temporary", exist_ok=True)
    with open("Testing/Temporary/LastTest.log", "w") as log:
        log.write(scenario.get("logs", {}).get(directory, ""))
    sys.exit(1 if directory in scenario.get("failing", []) else 0)
""" % sys.executable


def host(directory, ci, scenario):
    """The scripts copied under directory/tree and the stand-ins in
    directory/bin, for the scenario; gives the tree, the stand-ins' directory
    and the environment to run them in."""
    root, stand_ins, tools = (os.path.join(directory, name) for name in ("tree", "bin", "tools"))
    for folder in (os.path.join(root, "tests"), stand_ins, tools):
        os.makedirs(folder)
    for script in ("all_targets.sh", "i386_probe.py", "native_packages.sh"):
        shutil.copy(os.path.join(TESTS, script), os.path.join(root, "tests"))
    if "probe" in scenario:
        with open(os.path.join(root, "tests", "i386_probe.py"), "w") as probe:
            probe.write(scenario["probe"])
    names = ["g++", "cmake", "ctest"] + [name for name in ("qemu-i386", "qemu-i386-static",
                                                           "i686-w64-mingw32-g++-posix", "wine", "dpkg-query", "id")
                                         if name in scenario.get("installed", [])]
    write_stand_ins(stand_ins, names, STAND_IN)
    link_real_tools(tools, REAL_TOOLS)
    os.symlink(sys.executable, os.path.join(tools, "python3"))
    with open(os.path.join(directory, "scenario.json"), "w") as file:
        json.dump(scenario, file)
    env = {"PATH": stand_ins + os.pathsep + tools, "CALLS": os.path.join(directory, "calls"),
           "SCENARIO": os.path.join(directory, "scenario.json"),
           "TARGETS_SUMMARY": os.path.join(directory, "summary")}
    if ci:
        env["CI"] = "true"
    return root, stand_ins, env


def calls_in(env):
    if not os.path.exists(env["CALLS"]):
        return []
    with open(env["CALLS"]) as file:
        return [json.loads(line) for line in file]


def run(ci=False, **scenario):
    """Runs a copy of all_targets.sh; gives its exit status, its output, the
    stand-ins' calls as (name, working directory, arguments...), the summary
    file it wrote, and the stand-ins' directory."""
    with tempfile.TemporaryDirectory() as directory:
        root, stand_ins, env = host(directory, ci, scenario)
        result = subprocess.run(["sh", os.path.join(root, "tests", "all_targets.sh")], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=60)
        calls = calls_in(env)
        summary = None
        if os.path.exists(env["TARGETS_SUMMARY"]):
            with open(env["TARGETS_SUMMARY"]) as file:
                summary = file.read()
    return result.returncode, result.stdout, calls, summary, stand_ins


def probed(**scenario):
    """What tests/i386_probe.py answers on the scenario's host, its hang
    timeout a second, and the stand-ins' calls."""
    with tempfile.TemporaryDirectory() as directory:
        _, _, env = host(directory, False, scenario)
        with mock.patch.dict(os.environ, env, clear=True), mock.patch.object(i386_probe, "TIMEOUT", 1):
            answer = i386_probe.probe()
        return answer, calls_in(env)


def configured(calls, directory):
    """The options of each configuration of a build directory."""
    return [call[2:] for call in calls if call[0] == "cmake" and "-B" in call and call[call.index("-B") + 1] == directory]


def suites(calls):
    """Each ctest call as (build directory, options)."""
    return [(call[1], call[2:]) for call in calls if call[0] == "ctest"]


EVERYTHING = ["qemu-i386", "i686-w64-mingw32-g++-posix", "wine"]
# ctest's options for every suite.
SUITE = ["--output-on-failure", "--no-tests=error", "-j", "2"]
SKIPS = ("ok\nskipped under emulation: matrix.report: flags: the emulator's\n"
         "skipped under emulation: clock.json: a figure: not this processor's\n"
         "skipped under emulation: matrix.report: flags: the emulator's\n")


class AllTargets(unittest.TestCase):
    def test_a_kernel_that_runs_32_bit_programs_runs_every_suite_natively(self):
        status, output, calls, summary, _ = run(ci=True, installed=EVERYTHING)
        self.assertEqual(status, 0, output)
        self.assertEqual(summary, "=== x86-64: tested natively\n=== i386: tested natively\n"
                                  "=== win32: tested under wine\n")
        self.assertTrue(output.endswith(summary), output)
        # An emulator cached by an earlier run is cleared; wine runs it all.
        self.assertIn("-DCMAKE_CROSSCOMPILING_EMULATOR=", configured(calls, "build-i386")[0])
        self.assertEqual(suites(calls), [("build", SUITE), ("build-i386", SUITE), ("build-win32", SUITE)])

    def test_without_32_bit_programs_i386_runs_emulated_and_pe32_is_checked_from_its_files(self):
        status, output, calls, summary, stand_ins = run(ci=True, kernel="refuses", installed=EVERYTHING,
                                                        logs={"build-i386": SKIPS})
        self.assertEqual(status, 0, output)
        emulator = os.path.join(stand_ins, "qemu-i386")
        self.assertEqual(summary, f"=== x86-64: tested natively\n"
                                  f"=== i386: tested under the emulator {emulator}; assertions skipped, as they hold "
                                  f"on real hardware alone: 2\n"
                                  f"      clock.json: a figure: not this processor's\n"
                                  f"      matrix.report: flags: the emulator's\n"
                                  f"=== win32: built and checked; its programs were not run: this kernel runs no "
                                  f"32-bit programs\n")
        self.assertIn(f"-DCMAKE_CROSSCOMPILING_EMULATOR={emulator}", configured(calls, "build-i386")[0])
        self.assertEqual(suites(calls)[2], ("build-win32", SUITE + ["--label-exclude", "wine"]))
        self.assertNotIn("toolchain missing", output)
        self.assertNotIn("wine", [call[0] for call in calls])

        # No assertion skipped is said so too; a failing emulated suite fails.
        status, output, _, summary, _ = run(kernel="refuses", installed=EVERYTHING, failing=["build-win32"])
        self.assertEqual(status, 1, output)
        self.assertIn("on real hardware alone: 0\n=== win32: FAILED", summary)
        status, output, _, summary, _ = run(kernel="refuses", installed=EVERYTHING, failing=["build-i386"])
        self.assertEqual(status, 1, output)
        self.assertRegex(summary, "=== i386: FAILED: its build or its suite under .*qemu-i386 failed\n")
        self.assertRegex(output, "=== targets failed: i386\n$")

    def test_a_target_not_run_says_why_and_fails_ci(self):
        refused = ("this kernel runs no 32-bit programs (IA-32 emulation is off), and no qemu-i386 is installed "
                   "to emulate them; add one with: sudo bash .ci/install_packages.sh qemu-user-static")
        status, output, calls, summary, _ = run(kernel="refuses", installed=["i686-w64-mingw32-g++-posix"])
        self.assertEqual(status, 0, output)
        self.assertIn(f"=== i386: skipped: {refused}\n", summary)
        self.assertIn("=== win32: built and checked; its programs were not run", summary)
        self.assertEqual(configured(calls, "build-i386"), [])
        self.assertNotIn("toolchain missing", output)
        # With CI=true it is built, so that it is known to build, and fails.
        status, output, calls, summary, _ = run(ci=True, kernel="refuses", installed=["i686-w64-mingw32-g++-posix"])
        self.assertEqual(status, 1, output)
        self.assertIn(f"=== i386: FAILED: built, but its programs were not run: {refused}\n", summary)
        self.assertEqual(len(configured(calls, "build-i386")), 1)
        self.assertNotIn("build-i386", [directory for directory, _ in suites(calls)])

        missing = ("=== i386: {}toolchain missing (g++ -m32 cannot build a static program); add it with: "
                   "sudo bash .ci/install_packages.sh g++-multilib\n"
                   "=== win32: {}toolchain missing (no i686-w64-mingw32-g++-posix); add it with: "
                   "sudo bash .ci/install_packages.sh g++-mingw-w64-i686\n")
        status, output, calls, summary, _ = run(toolchain="missing", installed=["qemu-i386"])
        self.assertEqual(status, 0, output)
        self.assertTrue(summary.endswith(missing.format("skipped: ", "skipped: ")), summary)
        status, output, calls, summary, _ = run(ci=True, toolchain="missing", installed=["qemu-i386"])
        self.assertEqual(status, 1, output)
        self.assertTrue(summary.endswith(missing.format("FAILED: ", "FAILED: ")), summary)
        self.assertEqual([directory for directory, _ in suites(calls)], ["build"])

        status, output, calls, summary, _ = run(ci=True, installed=["i686-w64-mingw32-g++-posix"])
        self.assertEqual(status, 1, output)
        self.assertTrue(summary.endswith("=== win32: FAILED: no wine to run PE32 programs; add it with: sudo dpkg "
                                         "--add-architecture i386 && sudo bash .ci/install_packages.sh wine "
                                         "wine32:i386\n"), summary)

    def test_a_native_suite_that_lacks_packages_no_one_can_install_stops_the_run_before_any_build(self):
        # dpkg knows no package, and the user is no root and has no sudo.
        status, output, calls, summary, _ = run(installed=EVERYTHING + ["dpkg-query", "id"])
        self.assertEqual(status, 1, output)
        self.assertEqual(output, "=== the native suite needs nlohmann-json3-dev libcli11-dev libxbyak-dev "
                                 "python3-matplotlib, and installing needs root:\n    sudo bash "
                                 ".ci/install_packages.sh nlohmann-json3-dev libcli11-dev libxbyak-dev "
                                 "python3-matplotlib\n")
        self.assertEqual([call[0] for call in calls if call[0] not in ("dpkg-query", "id")], [])
        self.assertIsNone(summary)

    def test_a_suite_that_runs_no_test_fails_and_is_never_said_tested_on_any_target(self):
        for kernel, empty, failed in (
                (None, "build", "=== x86-64: FAILED: its build or its suite failed\n"),
                (None, "build-i386", "=== i386: FAILED: its build or its suite failed\n"),
                (None, "build-win32", "=== win32: FAILED: its build or its suite failed\n"),
                ("refuses", "build-i386", "=== i386: FAILED: its build or its suite under "),
                ("refuses", "build-win32", "=== win32: FAILED: its build or its checks failed\n")):
            with self.subTest(kernel=kernel, empty=empty):
                status, output, calls, summary, _ = run(ci=True, kernel=kernel, installed=EVERYTHING, empty=[empty])
                self.assertEqual(status, 1, output)
                self.assertIn(failed, summary)
                self.assertEqual(summary.count("FAILED"), 1, summary)
                self.assertIn("No tests were found!!!", output)
                self.assertTrue(all("--no-tests=error" in options for _, options in suites(calls)), calls)

    def test_a_host_without_the_json_library_stops_after_the_native_build_naming_the_package(self):
        # dpkg counts the package installed, or there is no dpkg: CMake
        # finds no JSON library, builds the benchmark alone and no suite.
        for installed in (EVERYTHING + ["dpkg-query", "id"], EVERYTHING):
            with self.subTest(installed=installed):
                status, output, calls, summary, _ = run(ci=True, json="missing", installed=installed,
                                                        packages_installed=True)
                self.assertEqual(status, 1, output)
                self.assertTrue(output.endswith(
                    "\n=== the test suites need headers that CMake did not find; add them with: "
                    "sudo bash .ci/install_packages.sh nlohmann-json3-dev\n"), output)
                self.assertNotIn("tested", output)
                self.assertIsNone(summary)
                self.assertEqual(suites(calls), [])
                self.assertEqual(configured(calls, "build-i386"), [])


    def test_a_host_without_cli11_or_xbyak_stops_after_the_native_build_naming_each_package(self):
        for missing, packages in ((["CLI11_INCLUDE_DIR"], "libcli11-dev"), (["XBYAK_INCLUDE_DIR"], "libxbyak-dev"),
                                  (["CLI11_INCLUDE_DIR", "XBYAK_INCLUDE_DIR"], "libcli11-dev libxbyak-dev")):
            with self.subTest(missing=missing):
                status, output, calls, summary, _ = run(ci=True, headers_missing=missing, installed=EVERYTHING,
                                                        packages_installed=True)
                self.assertEqual(status, 1, output)
                self.assertTrue(output.endswith(
                    "\n=== the test suites need headers that CMake did not find; add them with: "
                    f"sudo bash .ci/install_packages.sh {packages}\n"), output)
                self.assertIsNone(summary)
                self.assertEqual(suites(calls), [])


class Probe(unittest.TestCase):
    def test_a_probe_that_cannot_be_started_or_hangs_is_a_failed_run_with_its_reason_and_no_emulator_is_tried(self):
        failed = "missing g++ -m32 builds a static program that fails when run "
        answer, calls = probed(kernel="noexec", installed=["qemu-i386"])
        self.assertEqual(answer, failed + f"(cannot be started from {tempfile.gettempdir()}: Permission denied)")
        self.assertEqual([call[0] for call in calls], ["g++"])
        answer, calls = probed(kernel="hangs", installed=["qemu-i386"])
        self.assertEqual(answer, failed + "(still running after 1 s)")
        self.assertEqual([call[0] for call in calls], ["g++"])
        answer, _ = probed(kernel="signals")
        self.assertEqual(answer, failed + "(killed by signal 9)")
        # An emulator that cannot run the probe either is no way to run it.
        self.assertEqual(probed(kernel="refuses", installed=["qemu-i386"], emulator="fails")[0], "refused")
        # The probe's folder cannot be made: still one line, with the reason.
        hidden = ("import runpy, sys, tempfile\n"
                  "def refuse(*args, **kwargs):\n    raise PermissionError(13, 'Permission denied')\n"
                  "tempfile.TemporaryDirectory = refuse\n"
                  "runpy.run_path(sys.argv[1], run_name='__main__')\n")
        probed_here = subprocess.run([sys.executable, "-c", hidden, os.path.join(TESTS, "i386_probe.py")],
                                     capture_output=True, text=True, timeout=60)
        self.assertEqual((probed_here.returncode, probed_here.stdout, probed_here.stderr),
                         (0, "missing the probe cannot be built: Permission denied\n", ""))
        # An error that says nothing of itself is named by its kind.
        self.assertEqual(i386_probe.why(OSError()), "OSError")
        # A compiler that never ends is a reason too, not a traceback.
        answer, _ = probed(toolchain="hangs")
        self.assertRegex(answer, r"^missing g\+\+ cannot build the probe: still running after 10 s$")
        # The emulator is given the probe to run.
        answer, calls = probed(kernel="refuses", installed=["qemu-i386"])
        self.assertTrue(answer.startswith("emulated ") and answer.endswith("/qemu-i386"), answer)
        self.assertEqual(calls[1][0], "qemu-i386")
        self.assertRegex(calls[1][2], "/probe$")
        # Debian's qemu-user-static names it qemu-i386-static: tried next.
        answer, calls = probed(kernel="refuses", installed=["qemu-i386-static"])
        self.assertTrue(answer.startswith("emulated ") and answer.endswith("/qemu-i386-static"), answer)
        answer, _ = probed(kernel="refuses", installed=["qemu-i386", "qemu-i386-static"], emulator="fails")
        self.assertEqual(answer, "refused")

    def test_make_test_says_why_the_probe_failed_and_never_gives_an_empty_reason(self):
        status, output, _, summary, _ = run(kernel="noexec", installed=["qemu-i386"])
        self.assertEqual(status, 0, output)
        self.assertRegex(summary, r"\n=== i386: skipped: toolchain missing \(g\+\+ -m32 builds a static program that "
                                  r"fails when run \(cannot be started from /\S+: Permission denied\)\); add it with: "
                                  r"sudo bash \.ci/install_packages\.sh g\+\+-multilib\n")
        # A probe that ends in a traceback, printing nothing, is said so.
        status, output, _, summary, _ = run(ci=True, probe="raise OSError('no probe')\n")
        self.assertEqual(status, 1, output)
        self.assertIn("\n=== i386: FAILED: tests/i386_probe.py did not say how this host runs i386 programs\n", summary)
        self.assertNotIn("()", output)
        # Nor is a bare "missing" a toolchain missing for no reason.
        status, output, _, summary, _ = run(probe="print('missing')\n")
        self.assertIn("\n=== i386: skipped: tests/i386_probe.py did not say how this host runs i386 programs (it "
                      "printed: missing)\n", summary)
        status, output, _, summary, _ = run(probe="print('perhaps')\n")
        self.assertIn("\n=== i386: skipped: tests/i386_probe.py did not say how this host runs i386 programs (it "
                      "printed: perhaps)\n", summary)


if __name__ == "__main__":
    unittest.main()
