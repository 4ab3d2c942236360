"""Tests of tools/gallery.py: the committed README's gallery is the one that
docs/results/ gives, with every picture it shows in the tree; on the fixture
machines under data/results/, one of them given a movement table, the
command rewrites only the part between the markers and draws every picture
that part shows.

Needs matplotlib (Debian's python3-matplotlib).
"""

import contextlib
import io
import json
import os
import re
import shutil
import tempfile
import unittest

from drawing_tools import import_drawing

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
[gallery] = import_drawing("gallery")

PICTURE = re.compile(r"!\[[^\]]*\]\(([^)]+)\)")


def run(*arguments, where):
    """The exit status and what was printed on both streams, run in the
    folder `where`."""
    out, errors = io.StringIO(), io.StringIO()
    previous = os.getcwd()
    os.chdir(where)
    try:
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(errors):
            status = gallery.main(list(arguments))
    finally:
        os.chdir(previous)
    return status, out.getvalue(), errors.getvalue()


def gallery_part(text):
    return text.split(gallery.BEGIN)[1].split(gallery.END)[0]


class Committed(unittest.TestCase):
    def test_the_readme_shows_the_gallery_of_docs_results_and_its_pictures_exist(self):
        status, _, errors = run("--check", where=ROOT)
        self.assertEqual(status, 0, errors)
        with open(os.path.join(ROOT, "README.md")) as source:
            shown = PICTURE.findall(gallery_part(source.read()))
        self.assertTrue(shown)
        for path in shown:
            self.assertTrue(path.startswith("docs/results/"), path)
            self.assertTrue(os.path.isfile(os.path.join(ROOT, path)), path)


class Fixtures(unittest.TestCase):
    def test_the_part_between_the_markers_is_rewritten_and_its_pictures_drawn(self):
        with tempfile.TemporaryDirectory() as work:
            for machine in ("amd-family25-model1-vm", "intel-family6-model207-metal"):
                shutil.copytree(os.path.join(HERE, "data", "results", machine),
                                os.path.join(work, "results", machine))
            # One machine gets the SSE widths table of the movement, taken
            # from the committed measurement, for its structure.
            with open(os.path.join(ROOT, "docs", "results", "amd-family26-model2-vm", "matrix.json")) as source:
                movement = json.load(source)["movement"]
            movement["families"] = [{**family, "tables": [table for table in family["tables"]
                                                          if table["name"] == "widths"]}
                                    for family in movement["families"] if family["name"] == "sse"]
            fixture = os.path.join(work, "results", "intel-family6-model207-metal", "matrix.json")
            with open(fixture) as source:
                matrix = json.load(source)
            with open(fixture, "w") as target:
                json.dump({**matrix, "movement": movement}, target)
            readme = os.path.join(work, "README.md")
            with open(readme, "w") as target:
                target.write(f"# before\n{gallery.BEGIN}\nstale\n{gallery.END}\nafter\n")
            status, _, errors = run("--results", "results", "--check", where=work)
            self.assertEqual(status, 1)
            self.assertIn("run make gallery", errors)
            status, printed, errors = run("--results", "results", where=work)
            self.assertEqual(status, 0, errors)
            with open(readme) as source:
                text = source.read()
            self.assertTrue(text.startswith(f"# before\n{gallery.BEGIN}\n"))
            self.assertTrue(text.endswith(f"\n{gallery.END}\nafter\n"))
            shown = PICTURE.findall(gallery_part(text))
            self.assertEqual(shown, [
                "results/amd-family25-model1-vm/matrix-sse.png", "results/amd-family25-model1-vm/matrix-avx2.png",
                "results/amd-family25-model1-vm/matrix-transitions.png",
                "results/intel-family6-model207-metal/matrix-sse.png",
                "results/intel-family6-model207-metal/matrix-avx2.png",
                "results/intel-family6-model207-metal/matrix-avx512.png",
                "results/intel-family6-model207-metal/matrix-transitions.png",
                "results/intel-family6-model207-metal/matrix-movement-sse-widths.png", "results/crossings.png"])
            for path in shown:
                self.assertIn(f"gallery: wrote {path}\n", printed)
                with open(os.path.join(work, path), "rb") as picture:
                    self.assertEqual(picture.read(8), b"\x89PNG\r\n\x1a\n")
            self.assertIn("addps <-> addpd +0.4~ / +77.0, fast +0.4 in 18.0% of runs", text)
            self.assertIn("- `avx512`: not on this processor (the processor has no AVX-512 Foundation)", text)
            self.assertEqual(text.count("- the `sse` widths table's movements that cost: "), 1)
            self.assertEqual(run("--results", "results", "--check", where=work)[0], 0)
            with open(readme, "w") as target:
                target.write("no markers\n")
            status, _, errors = run("--results", "results", where=work)
            self.assertEqual(status, 2)
            self.assertIn("the README needs the marker lines", errors)


if __name__ == "__main__":
    unittest.main()
