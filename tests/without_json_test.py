"""A fresh machine has no JSON library: configured with the library's folder
hidden from CMake, the tree must still build the benchmark, say in one line
what it leaves out and which package brings it, and give a benchmark whose
whole output is right; but its ctest must fail, naming the package, and so
must make test, before any other target: the suite was never built.

The build lies in a mirror of the tree (a link to each of its entries but
its build folders), where tests/all_targets.sh finds it as its own; a
stand-in dpkg-query counts every package installed, as a host would whose
dpkg counts what is not there.

Usage: without_json_test.py --source DIR --hidden DIR --expected FILE

DIR in --hidden is the folder that holds nlohmann/json.hpp here.
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile

LEFT_OUT = ("-- No nlohmann/json.hpp: simd-mix-bench alone is built; simd-mix-clock, simd-mix-matrix and the "
            "test suite need Debian's nlohmann-json3-dev")
# The folder hidden holds CLI11's and xbyak's headers too, as on Debian.
NOT_BUILT = "the test suite was not built: it needs Debian's nlohmann-json3-dev libcli11-dev libxbyak-dev"
STOPPED = ("\n=== the test suites need headers that CMake did not find; add them with: "
           "sudo bash .ci/install_packages.sh nlohmann-json3-dev libcli11-dev libxbyak-dev\n")
DPKG_QUERY = "#!/bin/sh\nprintf 'install ok installed'\n"


def mirror(source, folder):
    """A new folder holding a link to each entry of the source tree but its
    build folders and git's; gives the folder."""
    os.mkdir(folder)
    for name in os.listdir(source):
        if not (name.startswith("build") or name in (".git", "dist", "results")):
            os.symlink(os.path.join(source, name), os.path.join(folder, name))
    return folder


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--hidden", required=True)
    parser.add_argument("--expected", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as work:
        tree = mirror(os.path.abspath(args.source), os.path.join(work, "tree"))
        build = os.path.join(tree, "build")
        configured = subprocess.run(["cmake", "-S", tree, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                                     f"-DCMAKE_IGNORE_PATH={args.hidden}"],
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if configured.returncode != 0:
            sys.exit(f"FAILED: the configure without the JSON library failed:\n{configured.stdout}")
        said = [line for line in configured.stdout.splitlines() if "nlohmann" in line or "JSON" in line]
        if said != [LEFT_OUT]:
            sys.exit(f"FAILED: the configure said {said!r} of the JSON library, not {[LEFT_OUT]!r}")
        # CLI11 and xbyak found where the JSON library is not: still the
        # benchmark alone, none of the programs that need the JSON library.
        alone = os.path.join(work, "build-alone")
        partly = subprocess.run(["cmake", "-S", tree, "-B", alone, "-DCMAKE_BUILD_TYPE=Release",
                                 f"-DCMAKE_IGNORE_PATH={args.hidden}", f"-DCLI11_INCLUDE_DIR={args.hidden}",
                                 f"-DXBYAK_INCLUDE_DIR={args.hidden}"],
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        targets = subprocess.run(["cmake", "--build", alone, "--target", "help"], stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True).stdout
        companions = sorted(set(re.findall(r"simd-mix-(?:clock|matrix)\b", targets)))
        if partly.returncode != 0 or companions:
            sys.exit(f"FAILED: with CLI11 and xbyak but no JSON library, the configure gave {partly.returncode} "
                     f"and the targets {companions}:\n{partly.stdout[-2000:]}")
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
        # Its ctest runs the benchmark's hardening check, which passes, and
        # fails for the suite that is not there.
        tested = subprocess.run(["ctest", "--output-on-failure", "--no-tests=error"], cwd=build,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if tested.returncode == 0 or NOT_BUILT not in tested.stdout:
            sys.exit(f"FAILED: ctest without the JSON library gave status {tested.returncode}:\n{tested.stdout}")
        # make test configures the same build again, keeps the library
        # hidden, and stops there.
        stand_ins = os.path.join(work, "bin")
        os.mkdir(stand_ins)
        with open(os.path.join(stand_ins, "dpkg-query"), "w") as stand_in:
            stand_in.write(DPKG_QUERY)
        os.chmod(os.path.join(stand_ins, "dpkg-query"), 0o755)
        # Where it goes on to the other targets it builds them for minutes:
        # a minute is ample for what it must do, and its whole group ends.
        made = subprocess.Popen(["sh", os.path.join(tree, "tests", "all_targets.sh")],
                                env=dict(os.environ, PATH=stand_ins + os.pathsep + os.environ["PATH"]),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, start_new_session=True)
        try:
            output, _ = made.communicate(timeout=60)
        except subprocess.TimeoutExpired:
            os.killpg(made.pid, signal.SIGKILL)
            output, _ = made.communicate()
            sys.exit(f"FAILED: make test without the JSON library went on past the native build:\n{output[-4000:]}")
        if made.returncode != 1 or not output.endswith(STOPPED) or "tested" in output:
            sys.exit(f"FAILED: make test without the JSON library gave status {made.returncode}:\n{output[-4000:]}")
    print("passed: the benchmark builds and runs without the JSON library, and the suite's absence fails")


if __name__ == "__main__":
    main()
