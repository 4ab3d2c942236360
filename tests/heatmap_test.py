"""Tests of tools/heatmap.py on a fixed matrix: a real run's JSON in which
three cells were set by hand, pand <-> mulps to a measurable +1.0,
paddd <-> addps to a measurable -0.6 and pshufd <-> shufpd to -0.004.

Needs matplotlib (Debian's python3-matplotlib).
"""

import json
import os
import re
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools"))

try:
    import heatmap  # noqa: E402
except ImportError as missing:
    # Outside CI a machine without matplotlib skips these tests, and says so.
    if os.environ.get("CI") == "true":
        raise
    print(f"skipped: {missing} (install python3-matplotlib)")
    sys.exit(77)

FIXTURE = os.path.join(HERE, "data", "matrix.json")
SVG = "{http://www.w3.org/2000/svg}"


def fill_of(element):
    """The fill colour of a square, as (red, green, blue) from 0 to 255."""
    for path in element.iter(f"{SVG}path"):
        colour = re.search(r"fill: ?#([0-9a-f]{6})", path.get("style", ""))
        if colour:
            return tuple(int(colour.group(1)[i:i + 2], 16) for i in (0, 2, 4))
    raise AssertionError(f"no fill in {element.get('id')}")


class Heatmap(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.svg = os.path.join(cls.folder.name, "matrix.svg")
        cls.png = os.path.join(cls.folder.name, "matrix.png")
        cls.status = heatmap.main([FIXTURE, "--svg", cls.svg, "--png", cls.png])
        cls.root = ElementTree.parse(cls.svg).getroot()
        cls.by_id = {element.get("id"): element for element in cls.root.iter() if element.get("id")}

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_one_labelled_square_per_pair_of_classes(self):
        self.assertEqual(self.status, 0)
        labels = {key[len("cell-"):]: "".join(element.itertext()).strip()
                  for key, element in self.by_id.items() if key.startswith("cell-")}
        self.assertEqual(len(labels), 66)
        self.assertEqual(len([key for key in self.by_id if key.startswith("square-")]), 66)
        with open(FIXTURE) as source:
            data = json.load(source)
        expected = {f"{cell['first']}-{cell['second']}": heatmap.cell_label(cell) for cell in data["round_trips"]}
        self.assertEqual(labels, expected)
        self.assertEqual(labels["pand-mulps"], "+1.0*")
        self.assertEqual(labels["paddd-addps"], "-0.6*")
        self.assertEqual(labels["pshufd-shufpd"], "+0.0")

    def test_colours_diverge_from_white_at_zero(self):
        red, green, blue = fill_of(self.by_id["square-pand-mulps"])
        self.assertGreater(red, blue + 50)
        self.assertGreater(red, green + 50)
        red, green, blue = fill_of(self.by_id["square-paddd-addps"])
        self.assertGreater(blue, red + 40)
        # A cell at zero is the map's pale middle.
        self.assertTrue(all(channel > 230 for channel in fill_of(self.by_id["square-paddd-pmuludq"])))

    def test_the_title_names_the_processor_and_a_png_is_written_too(self):
        texts = ["".join(element.itertext()) for element in self.root.iter(f"{SVG}text")]
        self.assertTrue(any(text.startswith("AMD EPYC: round trips between SSE instruction classes")
                            for text in texts), texts[:5])
        with open(self.png, "rb") as picture:
            self.assertEqual(picture.read(8), b"\x89PNG\r\n\x1a\n")

    def test_a_matrix_without_a_cell_is_refused(self):
        with open(FIXTURE) as source:
            data = json.load(source)
        data["round_trips"] = data["round_trips"][1:]
        broken = os.path.join(self.folder.name, "broken.json")
        with open(broken, "w") as target:
            json.dump(data, target)
        self.assertEqual(heatmap.main([broken, "--svg", os.path.join(self.folder.name, "x.svg")]), 2)


if __name__ == "__main__":
    unittest.main()
