"""The tools that draw need matplotlib (Debian's python3-matplotlib). Outside
CI a machine without it skips their tests, exit status 77, and says so; in CI
its absence fails them."""

import importlib
import os
import subprocess
import sys

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools")


def import_drawing(*names):
    """The modules of these names, tools/ searched first."""
    if TOOLS not in sys.path:
        sys.path.insert(0, TOOLS)
    try:
        # The tools import without it, and only fail to draw.
        importlib.import_module("matplotlib")
        return [importlib.import_module(name) for name in names]
    except ImportError as missing:
        if os.environ.get("CI") == "true":
            raise
        print(f"skipped: {missing} (install python3-matplotlib)")
        sys.exit(77)


# Runs a tool as a script with matplotlib hidden from its imports, as a
# Python without it would run it.
HIDDEN = """
import runpy, sys
class Hidden:
    def find_spec(self, name, path=None, target=None):
        if name.split(".")[0] == "matplotlib":
            raise ModuleNotFoundError(f"No module named {name!r}", name=name)
sys.meta_path.insert(0, Hidden())
sys.argv.pop(0)
runpy.run_path(sys.argv[0], run_name="__main__")
"""


def without_matplotlib(tool, *arguments, where=None):
    """The finished process of tools/TOOL run with these arguments in the
    folder `where`, matplotlib hidden."""
    return subprocess.run([sys.executable, "-c", HIDDEN, os.path.join(TOOLS, tool), *arguments], cwd=where,
                          capture_output=True, text=True, timeout=60)
