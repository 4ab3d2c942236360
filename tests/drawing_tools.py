"""The tools that draw need matplotlib (Debian's python3-matplotlib). Outside
CI a machine without it skips their tests, exit status 77, and says so; in CI
its absence fails them."""

import importlib
import os
import sys

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools")


def import_drawing(*names):
    """The modules of these names, tools/ searched first."""
    if TOOLS not in sys.path:
        sys.path.insert(0, TOOLS)
    try:
        return [importlib.import_module(name) for name in names]
    except ImportError as missing:
        if os.environ.get("CI") == "true":
            raise
        print(f"skipped: {missing} (install python3-matplotlib)")
        sys.exit(77)
