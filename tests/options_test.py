"""Every tool that takes options answers bad input in one line on standard
error, naming what was wrong and pointing to --help, with exit status 2 and
nothing on standard output; takes `--opt=value` as well as `--opt value`;
and prints its usage for -h. Each case stops in the option parser or in the
tool's own check of a value, so that nothing is measured or drawn."""

import os
import subprocess
import sys
import unittest

TOOLS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools")


def tool(name, *arguments):
    return subprocess.run([sys.executable, os.path.join(TOOLS, f"{name}.py"), *arguments], capture_output=True,
                          text=True, timeout=60)


class BadInput(unittest.TestCase):
    CASES = {
        "bench": {("--bogus",): "unknown option --bogus",
                  ("--bogus=3",): "unknown option --bogus",
                  ("--runs",): "argument --runs: expected one argument",
                  ("--runs=x",): "argument --runs: invalid int value: 'x'",
                  ("--runs", "x"): "argument --runs: invalid int value: 'x'",
                  # A prefix of an option is not the option.
                  ("--run", "3"): "unknown option --run",
                  # The tool's own check of a value given with '='.
                  ("--runs=0",): "--runs must be at least 1 and --warmup at least 0",
                  ("extra",): "unexpected argument 'extra'",
                  # An option that holds a line break still gives one line.
                  ("--bo\ngus",): "unknown option --bo gus"},
        "results": {("--warmup=-1",): "--runs must be at least 1 and --warmup at least 0",
                    ("--out",): "argument --out: expected one argument",
                    ("-x",): "unknown option -x"},
        "compare": {(): "the following arguments are required: FOLDER",
                    ("folder", "--picture=crossings.pdf"): "--picture must name a .png or .svg file",
                    ("folder", "--bogus", "other"): "unknown option --bogus"},
        "heatmap": {("matrix.json",): "the following arguments are required: --prefix",
                    ("matrix.json", "--prefix=build/m", "--formats=gif"):
                        "argument --formats: formats are a comma-separated list of svg, png",
                    ("matrix.json", "--prefix", "build/m", "--formats", "gif"):
                        "argument --formats: formats are a comma-separated list of svg, png"},
        "gallery": {("--check=yes",): "argument --check: ignored explicit argument 'yes'",
                    ("--results",): "argument --results: expected one argument"},
    }

    def test_every_bad_input_is_one_line_naming_it_and_status_2(self):
        for name, cases in self.CASES.items():
            for arguments, message in cases.items():
                with self.subTest(name=name, arguments=arguments):
                    result = tool(name, *arguments)
                    self.assertEqual((result.returncode, result.stdout, result.stderr),
                                     (2, "", f"{name}: {message}; try --help\n"))

    def test_h_and_help_print_the_usage_and_succeed(self):
        for name in self.CASES:
            for option in ("-h", "--help"):
                with self.subTest(name=name, option=option):
                    result = tool(name, option)
                    self.assertEqual((result.returncode, result.stderr), (0, ""))
                    self.assertTrue(result.stdout.startswith(f"usage: {name}.py "), result.stdout)


if __name__ == "__main__":
    unittest.main()
