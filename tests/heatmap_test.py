"""Tests of tools/heatmap.py on a fixed matrix: a real run's JSON in which
three cells were set by hand, pand <-> mulps to a measurable +1.0,
paddd <-> addps to a measurable -0.6 and pshufd <-> shufpd to -0.004; and on
copies of it with a few cells changed, to try the colour scale, the bimodal
cells and the summary.

Needs matplotlib (Debian's python3-matplotlib).
"""

import contextlib
import io
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
    import matplotlib.pyplot as plt  # noqa: E402
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


def end_of_map(where):
    """The colour map's colour at 0 (deepest blue) or 1 (deepest red), as fill_of gives it."""
    return tuple(round(channel * 255) for channel in plt.get_cmap(heatmap.COLOURS)(where)[:3])


def darkness(colour):
    red, green, blue = colour
    return -(0.299 * red + 0.587 * green + 0.114 * blue)


def render(folder, name, changes):
    """Draws the fixture with the cells in changes updated; gives the exit
    status, the SVG's elements by id and the printed lines."""
    with open(FIXTURE) as source:
        data = json.load(source)
    for cell in data["round_trips"]:
        cell.update(changes.get((cell["first"], cell["second"]), {}))
        # The raw minimums change with the way the program measures; the
        # heatmap must draw without them.
        cell.pop("minimums", None)
    matrix, svg = os.path.join(folder, name + ".json"), os.path.join(folder, name + ".svg")
    with open(matrix, "w") as target:
        json.dump(data, target)
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        status = heatmap.main([matrix, "--svg", svg])
    by_id = {element.get("id"): element for element in ElementTree.parse(svg).getroot().iter() if element.get("id")}
    return status, by_id, printed.getvalue().splitlines()


def squares(by_id):
    return {key[len("square-"):]: fill_of(element) for key, element in by_id.items() if key.startswith("square-")}


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
        # Bold type (weight 700) for the measurable cells, and only
        # for them.
        def weight(key):
            font = re.search(r"font: (\d+ )?\d+px", self.by_id[key].find(f"{SVG}text").get("style"))
            return (font.group(1) or "400").strip()
        self.assertEqual(weight("cell-pand-mulps"), "700")
        self.assertEqual(weight("cell-pshufd-shufpd"), "400")

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


class LargeCells(unittest.TestCase):
    """One bimodal crossing of +77 cycles among cells of +1, and the -0.6 of
    the fixture."""

    ONE = {"cycles": 1.0, "cycles_lowest": 0.9, "cycles_highest": 1.1, "measurable": True,
           "typical": 1.0, "typical_lowest": 0.9, "typical_highest": 1.1}
    CHANGES = {("addps", "addpd"): {"cycles": 77.0, "cycles_lowest": 76.4, "cycles_highest": 77.6, "measurable": True,
                                    "typical": 152.0, "typical_lowest": 150.0, "typical_highest": 154.0,
                                    "bimodal": True, "fast_share": 0.3},
               ("paddd", "mulps"): ONE, ("pshufd", "shufps"): ONE}

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.status, cls.by_id, cls.printed = render(cls.folder.name, "large", cls.CHANGES)

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_one_cycle_stays_plainly_red_beside_seventy_seven(self):
        self.assertEqual(self.status, 0)
        fills = squares(self.by_id)
        self.assertEqual(fills["addps-addpd"], end_of_map(1.0))
        self.assertEqual(max(fills.values(), key=darkness), fills["addps-addpd"])
        for pair in ("pand-mulps", "paddd-mulps", "pshufd-shufps"):
            red, green, blue = fills[pair]
            self.assertGreater(red, blue + 60, pair)
            self.assertLess(blue, 170, pair)
        # The colour bar reads in whole decades, signed, up to both ends.
        texts = {"".join(element.itertext()).strip() for element in self.by_id["axes_2"].iter(f"{SVG}text")}
        self.assertLessEqual({"-77", "-10", "-1", "0", "+1", "+10", "+77"}, texts)

    def test_a_bimodal_cell_is_hatched_and_shows_its_typical_cost(self):
        self.assertEqual(self.status, 0)
        self.assertEqual("".join(self.by_id["cell-addps-addpd"].itertext()).strip(), "+77.0*~")
        self.assertEqual("".join(self.by_id["typical-addps-addpd"].itertext()).strip(), "typ +152.0")
        hatched = [key for key in self.by_id if key.startswith("bimodal-")]
        self.assertEqual(hatched, ["bimodal-addps-addpd"])
        self.assertIn("url(#", self.by_id["bimodal-addps-addpd"].find(f"{SVG}path").get("style"))

    def test_the_summary_lists_the_measurable_costs_dearest_first(self):
        self.assertEqual(self.printed[-1], "crossings that cost: addps <-> addpd +77.0 (typical +152.0, bimodal); "
                                           "paddd <-> mulps +1.0; pand <-> mulps +1.0; pshufd <-> shufps +1.0")

    def test_a_bimodal_square_takes_the_colour_of_its_best_figure(self):
        # Best +1, typical +40: paler than a plain +10, as its label says.
        status, by_id, _ = render(self.folder.name, "best", {
            ("paddd", "addps"): {**self.ONE, "typical": 40.0, "bimodal": True, "fast_share": 0.1},
            ("pand", "addps"): {**self.ONE, "cycles": 10.0, "typical": 10.0}})
        self.assertEqual(status, 0)
        fills = squares(by_id)
        self.assertLess(darkness(fills["paddd-addps"]), darkness(fills["pand-addps"]))
        self.assertEqual(fills["paddd-addps"], fills["pand-mulps"])

    def test_a_saving_larger_than_every_cost_takes_the_deepest_blue(self):
        # The range must reach the largest saving, not only the largest cost:
        # else the -3.0 is clipped to the same deep blue, but the +1.0 takes
        # the deepest red and is the darkest square.
        status, by_id, _ = render(self.folder.name, "saving", {("paddd", "addps"): {
            "cycles": -3.0, "cycles_lowest": -3.1, "cycles_highest": -2.9, "typical": -3.0}})
        self.assertEqual(status, 0)
        fills = squares(by_id)
        self.assertEqual(fills["paddd-addps"], end_of_map(0.0))
        self.assertEqual(max(fills.values(), key=darkness), fills["paddd-addps"])


if __name__ == "__main__":
    unittest.main()
