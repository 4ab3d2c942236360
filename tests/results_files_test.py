"""Tests of tools/results_files.py at the edges of what it reads: the depth
that real files never near, numbers too large to be finite of either sign,
and a document that is not an object. The whole refusals, one line each
naming the file, are tested through compare and the gallery."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
import results_files  # noqa: E402


def read(text):
    """What the reader gives for a file holding text, or the refusal's
    text."""
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "matrix.json")
        with open(path, "w") as target:
            target.write(text)
        try:
            return results_files.read(path)
        except results_files.Refused as refused:
            return str(refused).replace(path, "FILE")


def nested(depth):
    """A versioned document whose deepest value lies depth deep, the
    document itself 1 deep."""
    return '{"format_version": 2, "x": ' + "[" * (depth - 1) + "]" * (depth - 1) + "}"


class Edges(unittest.TestCase):
    def test_the_deepest_allowed_nesting_is_read_and_one_more_is_refused(self):
        limit = results_files.MAX_DEPTH
        self.assertEqual(read(nested(limit))["format_version"], 2)
        self.assertEqual(read(nested(limit + 1)), f"FILE: nested more than {limit} deep")

    def test_an_integer_too_large_to_be_finite_is_refused_whatever_its_sign(self):
        huge = "1" + "0" * 400
        for number in (huge, "-" + huge):
            refused = read('{"format_version": 2, "x": %s}' % number)
            self.assertEqual(refused, f"FILE: malformed JSON: the number {number[:20]}... is too large to be finite")

    def test_a_document_that_is_not_an_object_is_refused_as_such(self):
        self.assertEqual(read('[{"format_version": 2}]'), "FILE: not a JSON object")
        self.assertEqual(read('2'), "FILE: not a JSON object")


if __name__ == "__main__":
    unittest.main()
