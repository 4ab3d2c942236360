"""The README's commands, as the Makefile runs them: `make run` builds the
benchmark before it runs it, so that it works on a fresh clone; `make test`
fails where tests/all_targets.sh fails; `make bench`, `make matrix` and
`make results` first install what they need, as make test does, and stop
before building where it cannot be installed. CMake, the suite, the
installer and the tools are stand-ins, so that this takes a second."""

import os
import shutil
import subprocess
import tempfile
import unittest

from stand_ins import write_stand_ins

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Records its arguments; `cmake --build build ... --target NAME` leaves a
# build/NAME that says it ran.
CMAKE = """#!/bin/sh
echo "cmake $*" >> calls
mkdir -p build
if [ "$1" = --build ]; then
    for last; do :; done
    printf '#!/bin/sh\\necho ran %s\\n' "$last" > "$2/$last"
    chmod +x "$2/$last"
fi
"""


def make(target, suite_status=0, packages_status=0):
    """make's status and output for `target` in a copy of the Makefile, and
    the calls of the stand-ins for cmake and the installer, in order."""
    with tempfile.TemporaryDirectory() as work:
        shutil.copy(os.path.join(ROOT, "Makefile"), work)
        for folder in ("tests", "bin", "tools"):
            os.makedirs(os.path.join(work, folder))
        with open(os.path.join(work, "tests", "all_targets.sh"), "w") as suite:
            suite.write(f"echo suite ran\nexit {suite_status}\n")
        with open(os.path.join(work, "tests", "native_packages.sh"), "w") as installer:
            installer.write(f'echo "native_packages.sh $*" >> calls\nexit {packages_status}\n')
        for name in ("bench", "results", "heatmap"):
            with open(os.path.join(work, "tools", f"{name}.py"), "w") as stand_in:
                stand_in.write("")
        write_stand_ins(os.path.join(work, "bin"), ["cmake"], CMAKE)
        environment = {**os.environ, "PATH": os.path.join(work, "bin") + os.pathsep + os.environ["PATH"]}
        done = subprocess.run(["make", "-s", target], cwd=work, env=environment, capture_output=True, text=True,
                              timeout=60)
        calls = []
        if os.path.exists(os.path.join(work, "calls")):
            with open(os.path.join(work, "calls")) as made:
                calls = made.read().splitlines()
        return done.returncode, done.stdout, calls


class TheTwoCommands(unittest.TestCase):
    def test_make_run_builds_the_benchmark_alone_then_runs_it(self):
        status, output, calls = make("run")
        self.assertEqual((status, output), (0, "ran simd-mix-bench\n"))
        self.assertEqual(calls, ["cmake -S . -B build -DCMAKE_BUILD_TYPE=Release",
                                 "cmake --build build -j 2 --target simd-mix-bench"])

    def test_make_test_fails_where_the_suite_of_every_target_fails(self):
        self.assertEqual(make("test")[:2], (0, "suite ran\n"))
        status, output, _ = make("test", suite_status=3)
        self.assertNotEqual(status, 0)
        self.assertEqual(output, "suite ran\n")


class TargetsThatNeedPackages(unittest.TestCase):
    NEEDS = {"bench": "nlohmann-json3-dev libcli11-dev",
             "matrix": "nlohmann-json3-dev libcli11-dev libxbyak-dev python3-matplotlib",
             "results": "nlohmann-json3-dev libcli11-dev libxbyak-dev"}

    def test_each_installs_what_it_needs_before_it_builds(self):
        for target, packages in self.NEEDS.items():
            with self.subTest(target):
                status, _, calls = make(target)
                self.assertEqual(status, 0)
                self.assertEqual(calls[:2], [f"native_packages.sh make {target} {packages}",
                                             "cmake -S . -B build -DCMAKE_BUILD_TYPE=Release"])

    def test_each_stops_before_building_where_it_cannot_install(self):
        for target, packages in self.NEEDS.items():
            with self.subTest(target):
                status, _, calls = make(target, packages_status=1)
                self.assertNotEqual(status, 0)
                self.assertEqual(calls, [f"native_packages.sh make {target} {packages}"])


if __name__ == "__main__":
    unittest.main()
