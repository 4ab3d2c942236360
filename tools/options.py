"""The option parser of every tool: argparse, which takes `--opt=value` as
well as `--opt value` and answers -h and --help with the usage, but whose
answer to bad input is one line on standard error, naming what was wrong and
pointing to --help, with exit status 2, rather than the usage and a second
line of argparse's own. Abbreviations are refused, so that an option means
what it spells.
"""

import argparse
import sys


class Parser(argparse.ArgumentParser):
    def __init__(self, tool, **settings):
        """`tool` opens the line of a refusal ("compare: ..."), as it opens
        the tool's other messages."""
        super().__init__(allow_abbrev=False, **settings)
        self.tool = tool

    def parse_args(self, args=None, namespace=None):
        parsed, left = self.parse_known_args(args, namespace)
        if left:
            # argparse would list everything it did not know in one message;
            # the first is named, as the programs name it.
            first = left[0]
            if first.startswith("-") and first != "-":
                self.error(f"unknown option {first.split('=', 1)[0]}")
            self.error(f"unexpected argument {first!r}")
        return parsed

    def error(self, message):
        # A message of argparse's own never spans lines, but one built from
        # what was typed may.
        print(f"{self.tool}: {' '.join(message.split())}; try --help", file=sys.stderr)
        sys.exit(2)
