"""Tests of how make test installs what the native suite needs, with
stand-ins for dpkg, dpkg-query, id and sudo, and for the installer, which
only logs how it was called: nothing is installed. PATH holds the stand-ins
and only the few real tools the script uses."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from stand_ins import link_real_tools, write_stand_ins

TESTS = os.path.dirname(os.path.abspath(__file__))
REAL_TOOLS = ("sh", "bash", "dirname", "true")
NEEDS = ["nlohmann-json3-dev", "libcli11-dev", "libxbyak-dev", "python3-matplotlib"]

# dpkg-query -W and dpkg -s answer from the scenario's packages, each with
# its status ("install ok installed" for those listed as installed), as the
# real ones do: dpkg-query -W prints the status of every package that dpkg
# knows of and fails for one it does not; dpkg -s fails for one not
# installed at all, but succeeds for one whose configuration files alone are
# left. id -u gives the scenario's user; sudo -n either runs what follows as
# root or asks for a password.
STAND_IN = """#!%s -S
import json, os, sys
name, args = os.path.basename(sys.argv[0]), sys.argv[1:]
with open(os.environ["SCENARIO"]) as scenario:
    scenario = json.load(scenario)
statuses = {package: "install ok installed" for package in scenario["installed"]}
statuses.update(scenario["statuses"])
if name == "dpkg-query":
    assert args[:2] == ["-W", "-f=${Status}"], args
    if args[2] not in statuses:
        print("dpkg-query: no packages found matching " + args[2], file=sys.stderr)
        sys.exit(1)
    print(statuses[args[2]], end="")
if name == "dpkg":
    assert args[0] == "-s", args
    if not statuses.get(args[1], "not-installed").endswith("not-installed"):
        print("Package: %%s\\nStatus: %%s" %% (args[1], statuses[args[1]]))
        sys.exit(0)
    print("dpkg-query: package '%%s' is not installed" %% args[1], file=sys.stderr)
    sys.exit(1)
if name == "id":
    print(0 if os.environ.get("AS_ROOT") else scenario["uid"])
if name == "sudo":
    asks = args[0] != "-n"
    args = args[1:] if not asks else args
    if scenario["sudo"] != "without password":
        if asks:
            # Without -n, sudo waits at its prompt for a password.
            import time
            time.sleep(60)
        print("sudo: a password is required", file=sys.stderr)
        sys.exit(1)
    os.execvpe(args[0], args, dict(os.environ, AS_ROOT="1"))
""" % sys.executable

# The installer's stand-in: its arguments, and whether it ran as root.
INSTALLER = """#!/bin/sh
echo "installer: $*"
echo "$* ${AS_ROOT:-}" >>"$CALLS"
exit "${INSTALL_STATUS:-0}"
"""


def run(installed, uid=0, sudo="none", install_status=0, dpkg=True, statuses=None, arguments=()):
    """Runs a copy of native_packages.sh; gives its exit status, its output
    and the installer's calls as (arguments, ran as root). Beside the
    packages installed, dpkg knows those of `statuses` in the status given."""
    with tempfile.TemporaryDirectory() as directory:
        root, stand_ins, tools = (os.path.join(directory, name) for name in ("tree", "bin", "tools"))
        for folder in (os.path.join(root, "tests"), os.path.join(root, ".ci"), stand_ins, tools):
            os.makedirs(folder)
        shutil.copy(os.path.join(TESTS, "native_packages.sh"), os.path.join(root, "tests"))
        with open(os.path.join(root, ".ci", "install_packages.sh"), "w") as installer:
            installer.write(INSTALLER)
        names = ["id"] + (["dpkg", "dpkg-query"] if dpkg else []) + (["sudo"] if sudo != "none" else [])
        write_stand_ins(stand_ins, names, STAND_IN)
        link_real_tools(tools, REAL_TOOLS)
        with open(os.path.join(directory, "scenario.json"), "w") as file:
            json.dump({"installed": installed, "statuses": statuses or {}, "uid": uid, "sudo": sudo}, file)
        calls = os.path.join(directory, "calls")
        env = {"PATH": stand_ins + os.pathsep + tools, "SCENARIO": os.path.join(directory, "scenario.json"),
               "CALLS": calls, "INSTALL_STATUS": str(install_status)}
        result = subprocess.run(["sh", os.path.join(root, "tests", "native_packages.sh"), *arguments], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=30)
        installs = []
        if os.path.exists(calls):
            with open(calls) as file:
                installs = [(line.split()[:-1], True) if line.split()[-1] == "1" else (line.split(), False)
                            for line in file]
    return result.returncode, result.stdout, installs


class NativePackages(unittest.TestCase):
    def test_a_machine_that_has_everything_installs_nothing_and_says_nothing(self):
        for uid, sudo in ((0, "none"), (1000, "none"), (1000, "without password")):
            self.assertEqual(run(NEEDS, uid=uid, sudo=sudo), (0, "", []))
        # Nor does a host without dpkg, which CMake tells what it lacks.
        self.assertEqual(run([], uid=1000, dpkg=False), (0, "", []))

    def test_root_installs_only_what_is_missing_and_says_so_first(self):
        status, output, installs = run(["nlohmann-json3-dev", "libcli11-dev", "libxbyak-dev"])
        self.assertEqual(status, 0, output)
        self.assertEqual(output, "=== installing what the native suite needs: python3-matplotlib\n"
                                 "installer: python3-matplotlib\n")
        self.assertEqual(installs, [(["python3-matplotlib"], False)])

        status, output, installs = run([])
        self.assertEqual((status, installs), (0, [(NEEDS, False)]), output)

    def test_a_user_installs_through_a_sudo_that_asks_no_password(self):
        status, output, installs = run([], uid=1000, sudo="without password")
        self.assertEqual(status, 0, output)
        self.assertEqual(output, "=== installing what the native suite needs: nlohmann-json3-dev "
                                 "libcli11-dev libxbyak-dev python3-matplotlib\ninstaller: nlohmann-json3-dev "
                                 "libcli11-dev libxbyak-dev python3-matplotlib\n")
        self.assertEqual(installs, [(NEEDS, True)])

    def test_a_user_who_cannot_install_is_stopped_with_the_one_command_that_would(self):
        stopped = ("=== the native suite needs nlohmann-json3-dev, and installing needs root:\n"
                   "    sudo bash .ci/install_packages.sh nlohmann-json3-dev\n")
        for sudo in ("none", "with password"):
            self.assertEqual(run(["libcli11-dev", "libxbyak-dev", "python3-matplotlib"], uid=1000, sudo=sudo), (1, stopped, []))

    def test_a_make_target_checks_only_what_it_names_and_names_itself(self):
        make_bench = ("make bench", "nlohmann-json3-dev")
        self.assertEqual(run(["nlohmann-json3-dev"], uid=1000, arguments=make_bench), (0, "", []))
        self.assertEqual(run([], uid=1000, arguments=make_bench),
                         (1, "=== make bench needs nlohmann-json3-dev, and installing needs root:\n"
                             "    sudo bash .ci/install_packages.sh nlohmann-json3-dev\n", []))
        status, output, installs = run([], arguments=("make matrix", *NEEDS))
        self.assertEqual((status, installs), (0, [(NEEDS, False)]), output)
        self.assertTrue(output.startswith("=== installing what make matrix needs: nlohmann-json3-dev "
                                          "libcli11-dev libxbyak-dev python3-matplotlib\n"), output)

    def test_only_a_package_unpacked_and_configured_counts_as_installed(self):
        # Removed but not purged, its configuration files alone left; half
        # installed; forgotten but for its name: each is installed again. A
        # package held where it stands is there.
        for status in ("deinstall ok config-files", "install reinstreq half-installed", "unknown ok not-installed"):
            with self.subTest(status):
                self.assertEqual(run(NEEDS[1:], statuses={"nlohmann-json3-dev": status}),
                                 (0, "=== installing what the native suite needs: nlohmann-json3-dev\n"
                                     "installer: nlohmann-json3-dev\n", [(["nlohmann-json3-dev"], False)]))
        self.assertEqual(run(NEEDS[1:], statuses={"nlohmann-json3-dev": "hold ok installed"}),
                         (0, "", []))

    def test_a_failed_install_fails_the_run(self):
        status, output, installs = run([], install_status=1)
        self.assertEqual((status, installs), (1, [(NEEDS, False)]), output)


if __name__ == "__main__":
    unittest.main()
