"""End-to-end checks of the built program, one case per call.

Usage: end_to_end.py --program PATH --platform NAME --expected FILE
                     [--emulator CMD] CASE

The expected file is the complete output with every count replaced by "#".
Counts are measurements: only their form is checked, never their size.
"""

import array
import fcntl
import os
import pty
import re
import resource
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import time

from case_runner import Failure, cases_in, check, command_of, run_case

COUNT = re.compile(rb"execution time in machine cycles: (-?\d+)")
FAILURE_PREFIX = b"simd-mix-bench: cannot write to standard output: "
TIMEOUT = 120


def masked(output):
    """The output with its counts replaced by '#', after checking their form."""
    counts = COUNT.findall(output)
    check(len(counts) == 5, f"expected 5 counts, found {len(counts)}")
    for match in COUNT.finditer(output):
        follows = output[match.end():match.end() + 2]
        check(follows in (b"", b"\r\n"), f"count followed by {follows!r}")
    return COUNT.sub(b"execution time in machine cycles: #", output)


def check_complete(output, expected):
    check(all(byte < 0x80 for byte in output), "output is not ASCII")
    check(output[-1:].isdigit(), f"output ends in {output[-20:]!r}, not in a count")
    actual = masked(output)
    if actual != expected:
        at = next((i for i, (a, b) in enumerate(zip(actual, expected)) if a != b), min(len(actual), len(expected)))
        raise Failure(f"output differs at byte {at}: {actual[at - 40:at + 40]!r} "
                      f"instead of {expected[at - 40:at + 40]!r} ({len(actual)} bytes, {len(expected)} expected)")


class Program:
    def __init__(self, args):
        self.command = command_of(args)
        self.windows = args.platform == "win32"
        self.expected = open(args.expected, "rb").read()
        self.processes = []

    def run(self, arguments=(), command=None, **popen):
        """Starts the program, or `command` in its place."""
        process = subprocess.Popen((command or self.command) + list(arguments), stderr=subprocess.PIPE, **popen)
        self.processes.append(process)
        return process

    def stop(self):
        """Ends what a failed case left running, such as a program waiting for a key."""
        for process in self.processes:
            if process.poll() is None:
                process.kill()

    def check_failure_line(self, stderr, reason):
        """One line on standard error naming the reason (the system's words on Windows)."""
        if self.windows:
            check(re.fullmatch(re.escape(FAILURE_PREFIX) + rb"[^\r\n]+\r\n", stderr),
                  f"standard error is {stderr!r}")
        else:
            check(stderr == FAILURE_PREFIX + reason + b"\n", f"standard error is {stderr!r}")


def run_to_file(program, arguments=(), **popen):
    with tempfile.TemporaryFile() as output:
        process = program.run(arguments, stdout=output, **popen)
        _, stderr = process.communicate(timeout=TIMEOUT)
        output.seek(0)
        return process.returncode, output.read(), stderr


def case_complete_output(program):
    status, output, stderr = run_to_file(program)
    check(status == 0, f"exit status {status}")
    check(stderr == b"", f"standard error is {stderr!r}")
    check_complete(output, program.expected)


def case_arguments_ignored(program):
    status, output, stderr = run_to_file(program, ["x"] * 10000)
    check(status == 0, f"exit status {status}")
    check(stderr == b"", f"standard error is {stderr!r}")
    check_complete(output, program.expected)


def case_dev_full(program):
    with open("/dev/full", "wb") as full:
        process = program.run(stdout=full)
        _, stderr = process.communicate(timeout=TIMEOUT)
    check(process.returncode == 1, f"exit status {process.returncode}")
    program.check_failure_line(stderr, b"No space left on device")


def case_stdout_closed(program):
    process = program.run(stdout=subprocess.DEVNULL, preexec_fn=lambda: os.close(1))
    _, stderr = process.communicate(timeout=TIMEOUT)
    check(process.returncode == 1, f"exit status {process.returncode}")
    program.check_failure_line(stderr, b"Bad file descriptor")


def case_reader_gone(program):
    """The reader takes 100 bytes and leaves."""
    process = program.run(stdout=subprocess.PIPE)
    check(len(process.stdout.read(100)) == 100, "fewer than 100 bytes arrived")
    process.stdout.close()
    stderr = process.stderr.read()
    status = process.wait(timeout=TIMEOUT)
    if program.windows:
        # Windows has no SIGPIPE: the write fails and is reported.
        check(status == 1, f"exit status {status}")
        program.check_failure_line(stderr, b"")
    else:
        check(status == -signal.SIGPIPE, f"exit status {status}, not killed by SIGPIPE")
        check(stderr == b"", f"standard error is {stderr!r}")


def case_partial_write_at_file_size_limit(program):
    """The file size limit falls inside the last count: its write is cut short
    and the rest of it fails as too large."""
    # The counts' lengths vary, so a run without a limit tells where it is.
    status, output, stderr = run_to_file(program)
    check(status == 0, f"exit status {status} without a limit")
    limit = len(output) - 2

    def limit_file_size():
        # Ignored, SIGXFSZ leaves the failure to write, which returns EFBIG.
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    status, output, stderr = run_to_file(program, preexec_fn=limit_file_size)
    check(status == 1, f"exit status {status}")
    program.check_failure_line(stderr, b"File too large")
    check(len(output) == limit, f"{len(output)} bytes written, the limit is {limit}")
    # Should this run's counts be a digit longer or shorter than the first
    # run's, the limit still falls inside the last one.
    check(masked(output) == program.expected, f"the file does not end inside the last count: {output[-60:]!r}")


def queued_bytes(descriptor):
    count = array.array("i", [0])
    fcntl.ioctl(descriptor, termios.FIONREAD, count)
    return count[0]


def sleeping(pid):
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rpartition(")")[2].split()[0] == "S"
    except OSError:
        return False


def read_after_the_program_waits(process, reader):
    """Reads nothing until the program has slept for a while with its output
    pending (five samples, 0.1 s): it measures without sleeping, so it is
    waiting for room to write. Then reads all of it. Returns the output and
    whether the program waited."""
    waited = False
    steady, last = 0, 0
    deadline = time.monotonic() + TIMEOUT
    while not waited and process.poll() is None and time.monotonic() < deadline:
        pending = queued_bytes(reader)
        steady = steady + 1 if pending > 0 and pending == last and sleeping(process.pid) else 0
        last = pending
        waited = steady == 5
        time.sleep(0.02)
    output = b""
    while chunk := os.read(reader, 65536):
        output += chunk
    return output, waited


def check_complete_after_waiting(program, process, reader):
    output, waited = read_after_the_program_waits(process, reader)
    stderr = process.stderr.read()
    status = process.wait(timeout=TIMEOUT)
    check(status == 0, f"exit status {status}, standard error {stderr!r}")
    check(stderr == b"", f"standard error is {stderr!r}")
    check(waited, "the program never waited for the reader")
    check_complete(output, program.expected)


def case_waits_while_nonblocking_pipe_is_full(program):
    """A one-page pipe left non-blocking, read only once the program waits."""
    read_end, write_end = os.pipe()
    fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, 4096)
    os.set_blocking(write_end, False)
    process = program.run(stdout=write_end)
    os.close(write_end)
    try:
        check_complete_after_waiting(program, process, read_end)
    finally:
        os.close(read_end)


def case_waits_while_nonblocking_socket_is_full(program):
    """A socket with the smallest send buffer, left non-blocking, read only once
    the program waits."""
    reader, writer = socket.socketpair()
    writer.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1)
    writer.setblocking(False)
    process = program.run(stdout=writer.fileno())
    writer.close()
    with reader:
        check_complete_after_waiting(program, process, reader.fileno())


def on_screen(output):
    """What a terminal shows: no CRs, tabs at every eighth column, and the
    cursor movements of wine's console as the blanks they stand for."""
    output = re.sub(rb"\x1b\[\?25[lh]|\x1b\[K", b"", output)
    output = re.sub(rb"\x1b\[(\d*)C", lambda m: b" " * int(m.group(1) or 1), output)
    return output.replace(b"\r", b"").expandtabs(8)


class Terminal:
    """A pseudo-terminal, wide enough that no line wraps, and what it showed."""

    def __init__(self):
        self.primary, self.secondary = pty.openpty()
        fcntl.ioctl(self.secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 2000, 0, 0))
        self.output = b""

    def started(self, process):
        """Keeps the program's side open only in the program."""
        os.close(self.secondary)
        return process

    def collect(self, process, seconds, quiet=None):
        """Reads what the program shows for up to `seconds`. Returns True once
        it has exited and everything it wrote is read, False if it still runs.
        With `quiet`, returns False early, as soon as all five counts are
        shown and nothing more has come for `quiet` seconds."""
        deadline = time.monotonic() + seconds
        last_output = time.monotonic()
        while time.monotonic() < deadline:
            if not select.select([self.primary], [], [], 0.2)[0]:
                if process.poll() is not None:
                    return True
                if (quiet is not None and time.monotonic() - last_output >= quiet
                        and len(COUNT.findall(on_screen(self.output))) == 5):
                    return False
                continue
            try:
                chunk = os.read(self.primary, 65536)
            except OSError:  # the last writer closed the terminal
                chunk = b""
            if not chunk:
                process.wait(timeout=TIMEOUT)
                return True
            self.output += chunk
            last_output = time.monotonic()
        return False

    def close(self):
        os.close(self.primary)


def check_screen(output, expected):
    screen = on_screen(output)
    check(len(COUNT.findall(screen)) == 5, "expected 5 counts on the screen")
    actual = COUNT.sub(b"execution time in machine cycles: #", screen)
    expected = on_screen(expected)
    check(actual == expected, f"screen shows {actual[-200:]!r}, expected {expected[-200:]!r}")


def check_ended_cleanly(process):
    status = process.wait(timeout=TIMEOUT)
    check(status == 0, f"exit status {status}")
    stderr = process.stderr.read()
    check(stderr == b"", f"standard error is {stderr!r}")


def case_terminal(program):
    """On a terminal the Windows program writes through the console. Under
    wine the program is the only process on that console, as after a double
    click in Explorer, so it keeps the console open until a key is pressed,
    with the whole output shown and nothing added. On Linux it just ends."""
    terminal = Terminal()
    process = terminal.started(program.run(stdin=terminal.secondary, stdout=terminal.secondary))
    if program.windows:
        check(not terminal.collect(process, TIMEOUT, quiet=1.0),
              "the program ended without waiting for a key on a console of its own")
        check_screen(terminal.output, program.expected)
        # A key pressed before the program began to wait is discarded: press
        # again until it ends.
        pressed = 0
        while pressed < 10 and not terminal.collect(process, 1.0):
            os.write(terminal.primary, b"x")
            pressed += 1
    else:
        check(terminal.collect(process, TIMEOUT), "the program did not end")
    terminal.close()
    check_ended_cleanly(process)
    check_screen(terminal.output, program.expected)


def case_terminal_redirected(program):
    """With either standard stream redirected away from the console the
    program ends without waiting for a key."""
    terminal = Terminal()
    with tempfile.TemporaryFile() as output:
        process = terminal.started(program.run(stdin=terminal.secondary, stdout=output))
        check(terminal.collect(process, TIMEOUT), "with output to a file, the program did not end")
        check_ended_cleanly(process)
        output.seek(0)
        check_complete(output.read(), program.expected)
    terminal.close()

    terminal = Terminal()
    process = terminal.started(program.run(stdin=subprocess.DEVNULL, stdout=terminal.secondary))
    check(terminal.collect(process, TIMEOUT), "with input from /dev/null, the program did not end")
    terminal.close()
    check_ended_cleanly(process)
    check_screen(terminal.output, program.expected)


def case_terminal_shared(program):
    """Started by a Windows shell, which shares the console and outlives the
    program, the program ends without waiting for a key."""
    check(program.windows, "only the Windows program has a shell to share its console with")
    terminal = Terminal()
    windows_path = "Z:" + os.path.abspath(program.command[-1]).replace("/", "\\")
    shell = program.command[:-1] + ["cmd", "/c", windows_path]
    process = terminal.started(program.run(command=shell, stdin=terminal.secondary, stdout=terminal.secondary))
    check(terminal.collect(process, TIMEOUT), "the program did not end")
    terminal.close()
    check_ended_cleanly(process)
    check_screen(terminal.output, program.expected)


if __name__ == "__main__":
    sys.exit(run_case(cases_in(globals()), Program, required=("--expected",)))
