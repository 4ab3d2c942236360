"""A fresh machine has no JSON library: configured with the library's folder
hidden from CMake, the tree must still build the benchmark, say in one line
what it leaves out and which package brings it, and give a benchmark whose
whole output is right.

Usage: without_json_test.py --source DIR --hidden DIR --expected FILE

DIR in --hidden is the folder that holds nlohmann/json.hpp here.
"""

import argparse
import os
import subprocess
import sys
import tempfile

LEFT_OUT = ("-- No nlohmann/json.hpp: simd-mix-bench alone is built; simd-mix-clock, simd-mix-matrix and the "
            "test suite need Debian's nlohmann-json3-dev")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--hidden", required=True)
    parser.add_argument("--expected", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as build:
        configured = subprocess.run(["cmake", "-S", args.source, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                                     f"-DCMAKE_IGNORE_PATH={args.hidden}"],
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if configured.returncode != 0:
            sys.exit(f"FAILED: the configure without the JSON library failed:\n{configured.stdout}")
        said = [line for line in configured.stdout.splitlines() if "nlohmann" in line or "JSON" in line]
        if said != [LEFT_OUT]:
            sys.exit(f"FAILED: the configure said {said!r} of the JSON library, not {[LEFT_OUT]!r}")
        # Everything the tree builds there, not only the benchmark's target:
        # nothing else may be left to fail on the missing header.
        built = subprocess.run(["cmake", "--build", build, "-j", "2"], stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True)
        if built.returncode != 0:
            sys.exit(f"FAILED: the build without the JSON library failed:\n{built.stdout[-4000:]}")
        # The compiler still finds the header in its own search path, where
        # CMake was told to ignore it: what each object was compiled from
        # tells whether any of them would need it on a fresh machine.
        readers = [name for folder, _, names in os.walk(build) for name in names
                   if name.endswith(".o.d") and "nlohmann/json.hpp" in open(os.path.join(folder, name)).read()]
        if readers:
            sys.exit(f"FAILED: built without the JSON library, these objects read its header: {sorted(readers)}")
        programs = sorted(name for name in os.listdir(build) if name.startswith("simd-mix-"))
        if programs != ["simd-mix-bench"]:
            sys.exit(f"FAILED: the build without the JSON library made {programs}")
        # The benchmark's own end-to-end check of its whole output.
        checked = subprocess.run([sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                               "end_to_end.py"),
                                  "--program", os.path.join(build, "simd-mix-bench"), "--platform", "x86_64-linux",
                                  "--expected", args.expected, "complete_output"],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if checked.returncode != 0:
            sys.exit(f"FAILED: the benchmark built without the JSON library:\n{checked.stdout}")
    print("passed: the benchmark builds and runs without the JSON library")


if __name__ == "__main__":
    main()
