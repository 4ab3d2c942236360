"""Says how this host can run the i386 Linux programs: builds a static probe
with `g++ -m32`, runs it, and where the kernel refuses it, runs it under
qemu-i386 where one is installed. Prints one line, which tests/all_targets.sh
and .ci/run read:

  native               the kernel runs the probe
  emulated EMULATOR    the kernel runs no 32-bit programs, but EMULATOR does
  refused              the kernel runs no 32-bit programs, and no emulator does
  missing REASON       the toolchain cannot build a program that runs, or the
                       probe cannot be run: it cannot be started (a noexec
                       temporary folder), fails or hangs

Finds g++ and the emulators on PATH, so that tests can put stand-ins there.
"""

import errno
import os
import shutil
import subprocess
import sys
import tempfile

# The names Debian's qemu-user and qemu-user-static give the emulator.
EMULATORS = ("qemu-i386", "qemu-i386-static")
# A probe that takes longer than this to start and end hangs.
TIMEOUT = 60


def why(error):
    return error.strerror or str(error) or type(error).__name__


def failure(command):
    """Runs a command: "" where it exits 0, None where the kernel refuses
    its format, else how it failed."""
    try:
        finished = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        return f"still running after {TIMEOUT} s"
    except OSError as error:
        if error.errno == errno.ENOEXEC:
            return None
        # EACCES, for one, where the temporary folder is mounted noexec.
        return f"cannot be started from {tempfile.gettempdir()}: {why(error)}"
    if finished.returncode < 0:
        return f"killed by signal {-finished.returncode}"
    return f"exit status {finished.returncode}" if finished.returncode else ""


def probe():
    with tempfile.TemporaryDirectory() as directory:
        program = os.path.join(directory, "probe")
        try:
            built = subprocess.run(["g++", "-m32", "-static", "-x", "c++", "-", "-o", program],
                                   input="int main() {}\n", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   text=True, timeout=10 * TIMEOUT)
        except subprocess.TimeoutExpired:
            return f"missing g++ cannot build the probe: still running after {10 * TIMEOUT} s"
        except OSError as error:
            return f"missing g++ cannot build the probe: {why(error)}"
        if built.returncode != 0 or not os.path.exists(program):
            return "missing g++ -m32 cannot build a static program"
        failed = failure([program])
        if failed == "":
            return "native"
        if failed is not None:
            return f"missing g++ -m32 builds a static program that fails when run ({failed})"
        # The kernel refused the format: ENOEXEC, not a fault of the toolchain.
        for name in EMULATORS:
            emulator = shutil.which(name)
            if emulator and failure([emulator, program]) == "":
                return f"emulated {emulator}"
        return "refused"


if __name__ == "__main__":
    try:
        print(probe())
    except OSError as error:
        # No temporary folder, for one: still a line, with the reason.
        print(f"missing the probe cannot be built: {why(error)}")
    sys.exit(0)
