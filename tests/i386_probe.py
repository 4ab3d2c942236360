"""Says how this host can run the i386 Linux programs: builds a static probe
with `g++ -m32`, runs it, and where the kernel refuses it, runs it under
qemu-i386 where one is installed. Prints one line, which tests/all_targets.sh
and .ci/run read:

  native               the kernel runs the probe
  emulated EMULATOR    the kernel runs no 32-bit programs, but EMULATOR does
  refused              the kernel runs no 32-bit programs, and no emulator does
  missing REASON       the toolchain cannot build a program that runs

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


def started(command):
    """Runs a command; None where the kernel refuses its format, else
    whether it exited 0."""
    try:
        return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=60).returncode == 0
    except subprocess.TimeoutExpired:
        return False
    except OSError as error:
        if error.errno == errno.ENOEXEC:
            return None
        raise


def probe():
    with tempfile.TemporaryDirectory() as directory:
        program = os.path.join(directory, "probe")
        built = subprocess.run(["g++", "-m32", "-static", "-x", "c++", "-", "-o", program], input="int main() {}\n",
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, text=True)
        if built.returncode != 0 or not os.path.exists(program):
            return "missing g++ -m32 cannot build a static program"
        ran = started([program])
        if ran:
            return "native"
        if ran is False:
            return "missing g++ -m32 builds a static program that fails when run"
        # The kernel refused the format: ENOEXEC, not a fault of the toolchain.
        for name in EMULATORS:
            emulator = shutil.which(name)
            if emulator and started([emulator, program]):
                return f"emulated {emulator}"
        return "refused"


if __name__ == "__main__":
    print(probe())
    sys.exit(0)
