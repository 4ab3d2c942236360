"""The README's two commands, as the Makefile runs them: `make run` builds
the benchmark before it runs it, so that it works on a fresh clone, and
`make test` fails where tests/all_targets.sh fails. CMake and the suite are
stand-ins, so that this takes a second."""

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


def make(target, suite_status=0):
    """make's status and output for `target` in a copy of the Makefile, and
    the stand-in cmake's calls."""
    with tempfile.TemporaryDirectory() as work:
        shutil.copy(os.path.join(ROOT, "Makefile"), work)
        os.makedirs(os.path.join(work, "tests"))
        os.makedirs(os.path.join(work, "bin"))
        with open(os.path.join(work, "tests", "all_targets.sh"), "w") as suite:
            suite.write(f"echo suite ran\nexit {suite_status}\n")
        write_stand_ins(os.path.join(work, "bin"), ["cmake"], CMAKE)
        environment = {**os.environ, "PATH": os.path.join(work, "bin") + os.pathsep + os.environ["PATH"]}
        done = subprocess.run(["make", "-s", target], cwd=work, env=environment, capture_output=True, text=True,
                              timeout=60)
        calls = open(os.path.join(work, "calls")).read().splitlines() if os.path.exists(
            os.path.join(work, "calls")) else []
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


if __name__ == "__main__":
    unittest.main()
