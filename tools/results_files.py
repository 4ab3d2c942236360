"""Reads one JSON file of a machine's results folder, as make results writes
it, for the tools that read such folders (compare.py, gallery.py).

A folder may come from anyone, so a file that none of this project's
programs would write is refused with the reason, rather than read whole,
misread, or left to end the tool with a traceback: a file that is missing or
not a plain file, larger than LIMIT_BYTES (judged by its size before a byte
is read), not UTF-8, not JSON (NaN and Infinity included, which Python's
json module would take), holding a number too large to be finite, nested
more than MAX_DEPTH deep, not an object, or without a format version this
tool knows.
"""

import json
import math
import os
import stat
import sys

# The version of every results file's layout that this project's programs and
# tools write now, the first key of each; it rises when a key goes or changes
# meaning. The readers know every version written so far.
FORMAT_VERSION = 2
KNOWN_VERSIONS = (1, FORMAT_VERSION)
# The largest file so far, a matrix.json with every family and table, holds
# about 1 MB.
LIMIT_BYTES = 64_000_000
# The deepest file so far, a matrix.json, nests 11 levels.
MAX_DEPTH = 64


class Refused(Exception):
    """A file, or the folder that holds it, that cannot be read, and why."""


def not_json(constant):
    raise ValueError(f"{constant}, which JSON does not allow")


def finite(text):
    value = float(text)
    if not math.isfinite(value):
        raise ValueError(f"the number {text[:20]} is too large to be finite")
    return value


def integer(text):
    # Every figure is printed as a float, which an integer beyond the
    # largest float cannot become.
    value = int(text)
    if abs(value) > sys.float_info.max:
        raise ValueError(f"the number {text[:20]}... is too large to be finite")
    return value


def deepest_within(data, limit):
    """Whether no object or array of data lies more than limit deep, the
    outermost being 1 deep."""
    stack = [(data, 1)]
    while stack:
        value, depth = stack.pop()
        if isinstance(value, (dict, list)):
            if depth > limit:
                return False
            stack.extend((item, depth + 1) for item in (value.values() if isinstance(value, dict) else value))
    return True


def read(path):
    """The file's JSON object, once its format version is one this tool
    knows; raises Refused, whose text names the file, where it is not."""
    try:
        found = os.stat(path)
    except FileNotFoundError:
        raise Refused(f"{path}: missing")
    except OSError as error:
        raise Refused(f"{path}: cannot be read: {error.strerror}")
    if not stat.S_ISREG(found.st_mode):
        raise Refused(f"{path}: not a plain file")
    if found.st_size > LIMIT_BYTES:
        raise Refused(f"{path}: {found.st_size / 1e6:.0f} MB, more than the {LIMIT_BYTES / 1e6:.0f} MB that any "
                      "results file stays within")
    try:
        # Read as bytes, so that a file that is not UTF-8 counts as malformed
        # JSON below; never more than the limit, should the file have grown.
        with open(path, "rb") as source:
            text = source.read(LIMIT_BYTES + 1)
    except OSError as error:
        raise Refused(f"{path}: cannot be read: {error.strerror}")
    if len(text) > LIMIT_BYTES:
        raise Refused(f"{path}: more than the {LIMIT_BYTES / 1e6:.0f} MB that any results file stays within")
    try:
        # Decoded here: json.loads would take UTF-16 and UTF-32 bytes too.
        data = json.loads(text.decode("utf-8"), parse_constant=not_json, parse_float=finite, parse_int=integer)
    except RecursionError:
        raise Refused(f"{path}: nested more than {MAX_DEPTH} deep")
    except ValueError as error:
        raise Refused(f"{path}: malformed JSON: {error}")
    if not deepest_within(data, MAX_DEPTH):
        raise Refused(f"{path}: nested more than {MAX_DEPTH} deep")
    if not isinstance(data, dict):
        raise Refused(f"{path}: not a JSON object")
    if "format_version" not in data:
        raise Refused(f"{path}: no format_version (written before results had format versions?)")
    if data["format_version"] not in KNOWN_VERSIONS:
        raise Refused(f"{path}: format version {data['format_version']!r}, which this tool does not know "
                      f"(it reads {', '.join(map(str, KNOWN_VERSIONS))})")
    return data
