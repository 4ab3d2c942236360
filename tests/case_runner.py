"""What the end-to-end scripts share: a failed check, the command that runs
the program under test, and running one named case of a script."""

import argparse
import subprocess


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def command_of(args):
    """The program, behind its emulator where it has one (wine for PE32)."""
    return (args.emulator.split() if args.emulator else []) + [args.program]


def emulates_processor(args):
    """Whether the program runs on an emulated processor: an emulator of a
    Linux program is one (qemu-i386), wine is not."""
    return bool(args.emulator) and args.platform != "win32"


# tests/all_targets.sh counts these lines in the suite's log.
SKIP_MARK = "skipped under emulation: "


def on_real_processor(program, name, reason):
    """Whether to check the assertion NAME, which holds on real hardware
    alone; under emulation it prints that it skips it, and why."""
    if program.emulated:
        print(f"{SKIP_MARK}{name}: {reason}")
    return not program.emulated


def cases_in(namespace):
    """The script's cases: its functions named case_NAME, by NAME."""
    return {name[len("case_"):]: function for name, function in namespace.items() if name.startswith("case_")}


def run_case(cases, make_program, required=(), errors=()):
    """Runs the case named on the command line against make_program(args);
    --program, --platform and --emulator are read, and the options named in
    `required`. A Failure, a time-out or one of `errors` fails the case, and
    the program's stop(), where it has one, follows the case. Returns the
    exit status."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--platform", required=True)
    parser.add_argument("--emulator", default="")
    for option in required:
        parser.add_argument(option, required=True)
    parser.add_argument("case", choices=sorted(cases))
    args = parser.parse_args()
    program = make_program(args)
    program.emulated = emulates_processor(args)
    try:
        cases[args.case](program)
    except (Failure, subprocess.TimeoutExpired, *errors) as failure:
        print(f"FAILED {args.case}: {failure}")
        return 1
    finally:
        # Whatever a failed case left running, such as a program waiting for
        # a key, ends with it.
        if hasattr(program, "stop"):
            program.stop()
    print(f"passed {args.case}")
    return 0
