"""Tests of .ci/install_packages.sh against stand-ins for apt-get, apt-cache
and dpkg, which log their calls and answer from a scenario, so that the
machine's own packages are never touched."""

import json
import os
import subprocess
import sys
import tempfile
import unittest

CI = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".ci")
SCRIPT = os.path.join(CI, "install_packages.sh")

# One stand-in under three names. The install succeeds once every pin of every
# complaint is among its arguments; until then apt prints the first complaint
# whose pins are missing, as apt names the next library only once the first
# are settled. dpkg leaves comparing versions to the real dpkg, which reads
# nothing from the package database. Python starts without site (-S), which
# the stand-in does not need, to keep the many calls quick.
STAND_IN = """#!%s -S
import json, os, subprocess, sys
name, args = os.path.basename(sys.argv[0]), sys.argv[1:]
with open(os.environ["CALLS"], "a") as calls:
    calls.write(json.dumps([name] + args) + "\\n")
with open(os.environ["SCENARIO"]) as scenario:
    scenario = json.load(scenario)
if name == "make":
    if args == ["test"] and os.environ.get("TARGETS_SUMMARY"):
        with open(os.environ["TARGETS_SUMMARY"], "w") as summary:
            summary.write("=== x86-64: tested natively\\n")
    sys.exit(1 if args[0] in scenario.get("make_fails", []) else 0)
if name == "g++":
    # The i386 probe: a program that runs, or where the scenario's kernel runs
    # no 32-bit programs, bytes that no kernel runs (ENOEXEC).
    probe = args[args.index("-o") + 1]
    with open(probe, "w") as file:
        file.write("\\0 not a program\\n" if scenario.get("kernel") == "refuses" else "#!/bin/sh\\n")
    os.chmod(probe, 0o755)
    sys.exit(0)
if name.startswith("qemu-i386"):
    # Hides the host's emulator: the scenario has none that runs the probe.
    sys.exit(1)
if name == "dpkg-query":
    version = scenario.get("versions", {}).get(args[-1].split(":")[0])
    if version:
        print(version)
    sys.exit(0 if version else 1)
if name == "dpkg" and args[0] == "--print-foreign-architectures":
    print("i386")
    sys.exit(0)
if name == "dpkg" and args[0] == "--compare-versions":
    sys.exit(subprocess.call(["/usr/bin/dpkg"] + args))
if name == "dpkg":
    sys.exit(0 if args[0] == "-s" and args[1] in scenario.get("installed", []) else 1)
if name == "apt-cache":
    print("\\n".join(scenario.get("madison", {}).get(args[-1].split(":")[0], [])))
elif args[0] == "update" and "update" in scenario:
    print(scenario["update"])
    sys.exit(100)
elif args[0] == "install":
    for pins, complaint in scenario.get("complaints", []):
        if not set(pins) <= set(args):
            print(complaint)
            sys.exit(100)
""" % sys.executable

MAIN = "http://deb.debian.org/debian bookworm/main"
SECURITY = "http://deb.debian.org/debian-security bookworm-security/main"


def madison(name, *rows):
    return [f"  {name} | {version} | {archive} {arch} Packages" for version, archive, arch in rows]


def skewed(name, security, main):
    """A library whose security update is published for amd64 only, listed
    oldest first: the script must compare the versions, not trust the order."""
    pins = [f"{name}:amd64={main}", f"{name}:i386={main}"]
    return pins, madison(name, (main, MAIN, "i386"), (main, MAIN, "amd64"), (security, SECURITY, "amd64"))


def run(packages, command=("bash", SCRIPT), **scenario):
    """Runs the script; gives its exit status, its output, and the stand-ins' calls."""
    with tempfile.TemporaryDirectory() as directory:
        for name in ("apt-get", "apt-cache", "dpkg", "dpkg-query", "make", "g++", "qemu-i386", "qemu-i386-static"):
            with open(os.path.join(directory, name), "w") as stand_in:
                stand_in.write(STAND_IN)
            os.chmod(os.path.join(directory, name), 0o755)
        with open(os.path.join(directory, "scenario.json"), "w") as file:
            json.dump(scenario, file)
        env = dict(os.environ, PATH=directory + os.pathsep + os.environ["PATH"],
                   CALLS=os.path.join(directory, "calls"), SCENARIO=os.path.join(directory, "scenario.json"))
        result = subprocess.run([*command, *packages], env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, timeout=60)
        with open(env["CALLS"]) as file:
            calls = [json.loads(line) for line in file]
    return result.returncode, result.stdout, calls


def apt_get(calls, command):
    """The operands of each `apt-get COMMAND` call, without its options."""
    return [[a for a in call[2:] if not a.startswith("-")] for call in calls if call[:2] == ["apt-get", command]]


class InstallPackages(unittest.TestCase):
    def test_installs_only_what_is_missing_and_a_failed_refresh_is_a_warning(self):
        fetch_error = ("E: Failed to fetch http://deb.debian.org/debian/dists/bookworm/main/binary-i386/Packages.xz"
                       "  File has unexpected size (34523 != 34611). Mirror sync in progress? [IP: 151.101.2.132 80]")
        status, output, calls = run(["cmake", "wine32:i386", "make", "g++"], installed=["cmake", "make"],
                                    update="Hit:1 http://deb.debian.org/debian bookworm InRelease\n" + fetch_error)
        self.assertEqual(status, 0, output)
        self.assertIn("warning", output)
        self.assertIn(fetch_error, output)
        self.assertEqual(apt_get(calls, "install"), [["wine32:i386", "g++"]])

        status, output, calls = run(["cmake", "make"], installed=["cmake", "make"])
        self.assertEqual(status, 0, output)
        self.assertEqual([call for call in calls if call[0] != "dpkg"], [])

    def test_the_ci_run_goes_on_to_the_suite_after_a_failed_refresh(self):
        status, output, calls = run([], command=("bash", os.path.join(CI, "run")), installed=["cmake", "make"],
                                    update="E: Failed to fetch ... Mirror sync in progress?")
        self.assertEqual(status, 0, output)
        self.assertIn("warning: apt-get update reported an error", output)
        self.assertEqual(len(apt_get(calls, "install")), 1)
        self.assertEqual([call[1:] for call in calls if call[0] == "make"], [["test"], ["sanitize"], ["dist-check"]])

    def test_the_ci_run_adds_qemu_where_the_kernel_runs_no_32_bit_programs_and_closes_with_the_summary(self):
        for kernel, emulator in (("runs", []), ("refuses", [["qemu-user-static"]])):
            status, output, calls = run([], command=("bash", os.path.join(CI, "run")), kernel=kernel,
                                        installed=["cmake", "make"])
            self.assertEqual(status, 0, output)
            installs = apt_get(calls, "install")
            self.assertNotIn("qemu-user-static", installs[0])
            self.assertEqual(installs[1:], emulator, kernel)
            self.assertRegex(output, r"=== CI passed\n=== x86-64: tested natively\n[^\n]*sanitizers[^\n]*\n$")

        status, output, calls = run([], command=("bash", os.path.join(CI, "run")), installed=["cmake", "make"],
                                    make_fails=["test"])
        self.assertNotEqual(status, 0, output)
        self.assertNotIn("CI passed", output)
        self.assertEqual([call[1:] for call in calls if call[0] == "make"], [["test"]])

    def test_skewed_libraries_are_pinned_to_the_version_both_architectures_share(self):
        brotli, brotli_versions = skewed("libbrotli1", "1.0.9-2+deb12u1", "1.0.9-2+b6")
        zlib, zlib_versions = skewed("zlib1g", "1:1.2.13.dfsg-1+deb12u1", "1:1.2.13.dfsg-1")
        zstd, zstd_versions = skewed("libzstd1", "1.5.4+dfsg2-5+deb12u1", "1.5.4+dfsg2-5")
        ssl_versions = madison("libssl3", ("3.0.15-1~deb12u1", MAIN, "amd64"), ("3.0.15-1~deb12u1", MAIN, "i386"))
        first = ("The following packages have unmet dependencies:\n"
                 " libcurl4:i386 : Depends: libbrotli1:i386 (>= 0.6.0) but it is not going to be installed\n"
                 "                 Depends: libssl3:i386 (>= 3.0.0) but it is not going to be installed\n"
                 "                 Depends: zlib1g:i386 (>= 1:1.1.4) but it is not going to be installed\n"
                 "E: Unable to correct problems, you have held broken packages.")
        hidden = (" libpq5:i386 : Depends: libzstd1:i386 (>= 1.5.2) but it is not going to be installed\n"
                  "E: Unable to correct problems, you have held broken packages.")
        status, output, calls = run(
            ["wine32:i386"], complaints=[(brotli + zlib, first), (zstd, hidden)],
            madison={"libbrotli1": brotli_versions, "zlib1g": zlib_versions, "libzstd1": zstd_versions,
                     "libssl3": ssl_versions})
        self.assertEqual(status, 0, output)
        installs = apt_get(calls, "install")
        self.assertEqual([sorted(args) for args in installs],
                         [["wine32:i386"], sorted(["wine32:i386", *brotli, *zlib]),
                          sorted(["wine32:i386", *brotli, *zlib, *zstd])])
        self.assertIn("--allow-downgrades", calls[-1])

    def test_an_installed_library_newer_than_every_index_is_pinned_back_too(self):
        # The machine's libc6 came from an image newer than its mirror, whose
        # two indexes agree with each other.
        pins = ["libc6:amd64=2.36-9+deb12u4", "libc6:i386=2.36-9+deb12u4"]
        versions = madison("libc6", ("2.36-9+deb12u4", MAIN, "amd64"), ("2.36-9+deb12u4", MAIN, "i386"))
        complaint = " libc6:i386 : Breaks: libc6 (!= 2.36-9+deb12u4) but 2.36-9+deb12u7 is installed"
        status, output, calls = run(["wine32:i386"], complaints=[(pins, complaint)], madison={"libc6": versions},
                                    versions={"libc6": "2.36-9+deb12u7"})
        self.assertEqual(status, 0, output)
        self.assertEqual(sorted(apt_get(calls, "install")[-1]), sorted(["wine32:i386", *pins]))

    def test_an_uninstallable_package_fails_after_one_retry_with_apts_reason(self):
        status, output, calls = run(["foo", "cmake"], installed=["cmake"],
                                    complaints=[(["never"], "E: Unable to locate package foo")])
        self.assertNotEqual(status, 0)
        self.assertEqual(apt_get(calls, "install"), [["foo"], ["foo"]])
        self.assertEqual(len(apt_get(calls, "update")), 2)
        self.assertRegex(output, r"cannot install foo\b.*\n(.*\n)*  E: Unable to locate package foo\n")


if __name__ == "__main__":
    unittest.main()
