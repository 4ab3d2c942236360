"""Tests of tools/heatmap.py on a fixed matrix: the SSE family is a real
run's triangle in which three cells were set by hand, pand <-> mulps to a
measurable +1.0, paddd <-> addps to a measurable -0.6 and pshufd <-> shufpd to
-0.004; the AVX2 family, the AVX and AVX-512 entries and the transitions were
set by hand, in format 2 (legacy SSE after a dirty YMM upper half +389 per
change of state and nothing per instruction, as on an Intel core; VEX 128 bits
after it +1.0 per change, per instruction after it and in the steady state;
VEX 256 bits about 0 throughout, no AVX-512 state or kind). Copies of it with a
few cells changed try the colour scale, the bimodal cells and the summary; a
matrix saved before the families tries the older shape, and one of format 1
its transitions as measured then.

Needs matplotlib (Debian's python3-matplotlib).
"""

import contextlib
import copy
import io
import json
import os
import re
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

from drawing_tools import import_drawing, without_matplotlib

HERE = os.path.dirname(os.path.abspath(__file__))
heatmap, plt = import_drawing("heatmap", "matplotlib.pyplot")

FIXTURE = os.path.join(HERE, "data", "matrix.json")
ONE_TRIANGLE = os.path.join(HERE, "data", "matrix_one_triangle.json")
SVG = "{http://www.w3.org/2000/svg}"

with open(FIXTURE) as source:
    MATRIX = json.load(source)


def fill_of(element):
    """The fill colour of a square, as (red, green, blue) from 0 to 255."""
    for path in element.iter(f"{SVG}path"):
        colour = re.search(r"fill: ?#([0-9a-f]{6})", path.get("style", ""))
        if colour:
            return tuple(int(colour.group(1)[i:i + 2], 16) for i in (0, 2, 4))
    raise AssertionError(f"no fill in {element.get('id')}")


def span_of(element):
    """The lowest and highest y of an element's first path, in the SVG's
    points, downwards."""
    numbers = [float(number) for number in re.findall(r"-?\d+(?:\.\d+)?", element.find(f"{SVG}path").get("d"))]
    return min(numbers[1::2]), max(numbers[1::2])


def end_of_map(where):
    """The colour map's colour at 0 (deepest blue) or 1 (deepest red), as fill_of gives it."""
    return tuple(round(channel * 255) for channel in plt.get_cmap(heatmap.COLOURS)(where)[:3])


def darkness(colour):
    red, green, blue = colour
    return -(0.299 * red + 0.587 * green + 0.114 * blue)


def family_of(data, name):
    return next(family for family in data["families"] if family["name"] == name)


def run(folder, name, data, formats="svg"):
    """Writes data as a matrix and draws it under folder/name; gives the exit
    status, the printed lines, what went to stderr and the files written."""
    matrix = os.path.join(folder, name + ".json")
    with open(matrix, "w") as target:
        json.dump(data, target)
    printed, complaint = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(printed), contextlib.redirect_stderr(complaint):
        status = heatmap.main([matrix, "--prefix", os.path.join(folder, name), "--formats", formats])
    written = sorted(entry[len(name) + 1:] for entry in os.listdir(folder) if entry.startswith(name + "-"))
    return status, printed.getvalue().splitlines(), complaint.getvalue(), written


def elements(svg):
    return {element.get("id"): element for element in ElementTree.parse(svg).getroot().iter() if element.get("id")}


def render(folder, name, changes):
    """Draws the fixture with the SSE cells in changes updated; gives the
    exit status, the SSE family's SVG's elements by id and the printed lines."""
    data = copy.deepcopy(MATRIX)
    for cell in family_of(data, "sse")["round_trips"]:
        cell.update(changes.get((cell["first"], cell["second"]), {}))
    status, printed, _, _ = run(folder, name, data)
    return status, elements(os.path.join(folder, f"{name}-sse.svg")), printed


def squares(by_id):
    return {key[len("square-"):]: fill_of(element) for key, element in by_id.items() if key.startswith("square-")}


def ink_of(element):
    """The colour of an element's first text, as #rrggbb: black, SVG's own
    fill, where the style names none."""
    fill = re.search(r"fill: (#[0-9a-f]{6})", next(element.iter(f"{SVG}text")).get("style"))
    return fill.group(1) if fill else "#000000"


def hatch_of(by_id, key):
    """The colour of the lines of the pattern that fills an element, as
    #rrggbb."""
    pattern = re.search(r"fill: url\(#([^)]+)\)", by_id[key].find(f"{SVG}path").get("style")).group(1)
    return re.search(r"stroke: (#[0-9a-f]{6})", by_id[pattern].find(f"{SVG}path").get("style")).group(1)


def setUpModule():
    # The fixture is drawn once, in both formats, for every test that only
    # reads the pictures.
    global FOLDER, DRAWN
    FOLDER = tempfile.TemporaryDirectory()
    DRAWN = run(FOLDER.name, "matrix", MATRIX, "svg,png")


def tearDownModule():
    FOLDER.cleanup()


class Heatmap(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder, (cls.status, cls.printed, _, cls.written) = FOLDER, DRAWN
        cls.by_id = elements(os.path.join(cls.folder.name, "matrix-sse.svg"))
        cls.avx2 = elements(os.path.join(cls.folder.name, "matrix-avx2.svg"))

    def test_one_labelled_square_per_pair_of_classes(self):
        self.assertEqual(self.status, 0)
        labels = {key[len("cell-"):]: "".join(element.itertext()).strip()
                  for key, element in self.by_id.items() if key.startswith("cell-")}
        self.assertEqual(len(labels), 66)
        self.assertEqual(len([key for key in self.by_id if key.startswith("square-")]), 66)
        self.assertEqual(len([key for key in self.avx2 if key.startswith("square-")]), 10)
        expected = {f"{cell['first']}-{cell['second']}": heatmap.cell_label(cell)
                    for cell in family_of(MATRIX, "sse")["round_trips"]}
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

    def test_the_title_names_the_processor_and_the_family_and_a_png_is_written_too(self):
        for name, family in (("sse", "SSE and SSE2, 128 bits on XMM;"), ("avx2", "AVX2 and FMA, 256 bits on YMM;")):
            root = ElementTree.parse(os.path.join(self.folder.name, f"matrix-{name}.svg")).getroot()
            texts = ["".join(element.itertext()) for element in root.iter(f"{SVG}text")]
            first = texts.index("AMD EPYC: round trips between instruction classes")
            self.assertTrue(texts[first + 1].startswith(family), texts[first + 1])
        with open(os.path.join(self.folder.name, "matrix-avx2.png"), "rb") as picture:
            self.assertEqual(picture.read(8), b"\x89PNG\r\n\x1a\n")

    def test_one_file_per_measured_family_and_a_line_for_each_other(self):
        self.assertEqual(self.written, [f"{name}.{ending}" for name in ("avx2", "sse", "transitions")
                                        for ending in ("png", "svg")])
        self.assertIn("avx: not drawn, within: every avx class is measured in the avx2 triangle", self.printed)
        self.assertIn("avx512: not drawn, unsupported: the processor has no AVX-512 Foundation", self.printed)
        self.assertNotIn("square-vpaddd-vaddps", self.by_id)

    def test_the_same_matrix_gives_the_same_files_byte_for_byte(self):
        _, _, _, written = run(self.folder.name, "again", MATRIX, "svg,png")
        for ending in written:
            with open(os.path.join(self.folder.name, "matrix-" + ending), "rb") as first, \
                    open(os.path.join(self.folder.name, "again-" + ending), "rb") as second:
                self.assertEqual(first.read(), second.read(), ending)


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
        self.assertIn("sse: crossings that cost: addps <-> addpd +77.0 (fast +77.0 in 30.0% of runs, typical +152.0, "
                      "bimodal); "
                      "paddd <-> mulps +1.0; pand <-> mulps +1.0; pshufd <-> shufps +1.0", self.printed)

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

    def test_hatching_and_labels_are_white_on_deep_squares_and_black_on_pale_ones(self):
        status, by_id, _ = render(self.folder.name, "ink", {
            ("addps", "addpd"): self.CHANGES[("addps", "addpd")],
            ("paddd", "addps"): {**self.ONE, "cycles": 0.2, "measurable": False, "typical": 5.0, "bimodal": True,
                                 "fast_share": 0.1},
            ("paddd", "mulps"): {**self.ONE, "cycles": -77.0, "typical": -77.0}})
        self.assertEqual(status, 0)
        for pair, ink in (("addps-addpd", "#ffffff"), ("paddd-addps", "#000000")):
            self.assertEqual(hatch_of(by_id, "bimodal-" + pair), ink, pair)
            self.assertEqual(ink_of(by_id["cell-" + pair]), ink, pair)
            self.assertEqual(ink_of(by_id["typical-" + pair]), ink, pair)
        self.assertEqual(ink_of(by_id["cell-paddd-mulps"]), "#ffffff")
        self.assertEqual(ink_of(by_id["cell-paddd-pmuludq"]), "#000000")

    def test_twenty_classes_with_long_names_keep_their_labels_in_their_squares(self):
        names = [f"vfmadd2{number:02d}ps" for number in range(20)]
        trips = [{"first": names[row], "second": names[column], "cycles": -450.0, "measurable": True,
                  "typical": 900.0, "bimodal": (row + column) % 2 == 0}
                 for row in range(20) for column in range(row + 1, 20)]
        figure = heatmap.draw(MATRIX, heatmap.load_family({"name": "wide", "title": "wide", "status": "measured",
                                                           "classes": [{"name": name} for name in names],
                                                           "round_trips": trips}, "wide"))
        figure.canvas.draw()
        renderer, axes = figure.canvas.get_renderer(), figure.axes[0]
        room = {patch.get_gid().split("-", 1)[1]: patch.get_window_extent(renderer) for patch in axes.patches}
        for text in axes.texts:
            box, square = text.get_window_extent(renderer), room[text.get_gid().split("-", 1)[1]]
            self.assertTrue(square.x0 <= box.x0 <= box.x1 <= square.x1 and square.y0 <= box.y0 <= box.y1 <= square.y1)
        plt.close(figure)


class SmallCells(unittest.TestCase):
    """Every cell of the SSE family within a tenth of a cycle of zero."""

    def test_the_colour_scale_keeps_half_a_cycle_and_the_squares_stay_pale(self):
        figures = (0.1, -0.1, 0.04, 0.0)
        changes = {(cell["first"], cell["second"]): {"cycles": figures[number % 4], "measurable": False,
                                                     "typical": figures[number % 4], "bimodal": False}
                   for number, cell in enumerate(family_of(MATRIX, "sse")["round_trips"])}
        with tempfile.TemporaryDirectory() as folder:
            status, by_id, _ = render(folder, "small", changes)
        self.assertEqual(status, 0)
        fills = squares(by_id)
        self.assertEqual(len(fills), 66)
        for pair, fill in fills.items():
            self.assertGreater(min(fill), 190, pair)
        texts = {"".join(element.itertext()).strip() for element in by_id["axes_2"].iter(f"{SVG}text")}
        self.assertLessEqual({"-0.5", "0", "+0.5"}, texts)


FORMAT_1 = os.path.join(HERE, "data", "format1", "amd-family25-model1-vm", "matrix.json")
FIGURES = ("per_change", "per_instruction", "steady_per_instruction")


def texts_by_id(by_id, start):
    return {key[len(start):]: "".join(by_id[key].itertext()).strip() for key in by_id if key.startswith(start)}


def title_lines(svg):
    """The lines of a chart's title: the texts of the picture's own, outside
    its panels."""
    root = ElementTree.parse(svg).getroot()
    inside = {id(text) for element in root.iter() if (element.get("id") or "").startswith("axes_")
              for text in element.iter(f"{SVG}text")}
    return ["".join(text.itertext()) for text in root.iter(f"{SVG}text") if id(text) not in inside]


class Transitions(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder, cls.printed = FOLDER, DRAWN[1]
        cls.by_id = elements(os.path.join(cls.folder.name, "matrix-transitions.svg"))

    def test_a_panel_per_figure_a_bar_per_measured_state_and_n_a_where_the_state_is_unsupported(self):
        kinds = ("sse128", "vex128", "vex256")
        self.assertEqual(texts_by_id(self.by_id, "panel-"), {
            "per_change": "per change of state", "per_instruction": "per instruction after a change",
            "steady_per_instruction": "per instruction, steady state"})
        self.assertEqual(sorted(texts_by_id(self.by_id, "bar-")),
                         sorted(f"{figure}-{kind}-{state}" for figure in FIGURES for kind in kinds
                                for state in ("clean", "dirty_ymm")))
        self.assertEqual(texts_by_id(self.by_id, "na-"), {f"{figure}-{kind}-{state}": "n/a" for figure in FIGURES
                                                          for kind in kinds for state in ("dirty_zmm", "dirty_zmm16_31")})
        self.assertIn("transitions: evex512 not measured, unsupported: the processor has no AVX-512 Foundation",
                      self.printed)

    def test_each_figure_lands_in_its_own_panel_and_line(self):
        labels = texts_by_id(self.by_id, "label-")
        # Both costs per change have a typical figure more than a cycle above
        # their best: bimodal, by the figures of a matrix that kept no windows.
        self.assertEqual([labels[f"{figure}-sse128-dirty_ymm"] for figure in FIGURES], ["+389.0*~", "+0.1", "+0.0"])
        self.assertEqual([labels[f"{figure}-vex128-dirty_ymm"] for figure in FIGURES], ["+1.0*~", "+1.0*", "+1.0*"])
        self.assertEqual(self.printed[-1], "transitions that cost: per change of state: sse128 after dirty_ymm +389.0 "
                                           "(fast +389.0, typical +392.0, bimodal), vex128 after dirty_ymm +1.0 "
                                           "(fast +1.0, typical +3.0, bimodal); "
                                           "per instruction after a change: vex128 after dirty_ymm +1.0; "
                                           "per instruction, steady state: vex128 after dirty_ymm +1.0")

    def test_the_title_gives_the_chain_lengths_as_they_were_timed(self):
        self.assertEqual(title_lines(os.path.join(self.folder.name, "matrix-transitions.svg"))[:3], [
            "AMD EPYC: what the upper-half state costs the instructions after it; core clock 3.69 GHz",
            "extra core cycles beyond the same chain with no state write: the state written at the head of each "
            "iteration of chains of 4 and 12 instructions, and set once before a chain of 12",
            "bars: best; linear within ±0.5, logarithmic beyond; * every window 0.1 or more from zero on one "
            "side; ~ bimodal"])

    def test_a_transition_costs_by_its_best_figure_not_its_typical_one(self):
        data = copy.deepcopy(MATRIX)
        vex256 = next(kind for kind in data["transitions"]["kinds"] if kind["name"] == "vex256")
        clean, dirty_ymm = vex256["states"][0], vex256["states"][1]
        # A measurable cost whose typical runs save, and a measurable saving
        # whose typical runs cost.
        dirty_ymm["per_instruction"].update(cycles=0.5, cycles_lowest=0.5, typical=-0.2, measurable=True)
        clean["per_change"].update(cycles=-0.5, cycles_highest=-0.5, typical=0.3, measurable=True)
        status, printed, _, _ = run(FOLDER.name, "typical", data)
        self.assertEqual(status, 0)
        self.assertEqual(printed[-1], "transitions that cost: per change of state: sse128 after dirty_ymm +389.0 "
                                      "(fast +389.0, typical +392.0, bimodal), vex128 after dirty_ymm +1.0 "
                                      "(fast +1.0, typical +3.0, bimodal); "
                                      "per instruction after a change: vex128 after dirty_ymm +1.0, "
                                      "vex256 after dirty_ymm +0.5; "
                                      "per instruction, steady state: vex128 after dirty_ymm +1.0")

    def test_one_cycle_stands_plainly_above_zero_beside_three_hundred_and_eighty_nine(self):
        def height(key):
            top, bottom = span_of(self.by_id["bar-per_change-" + key])
            return bottom - top
        one, huge = height("vex128-dirty_ymm"), height("sse128-dirty_ymm")
        self.assertGreater(one, 0.25 * huge)
        self.assertGreater(one, 20 * height("vex128-clean"))
        # A measurable bar stands out: outlined and opaque, the others faint.
        self.assertIn("stroke: #000000", self.by_id["bar-per_change-vex128-dirty_ymm"].find(f"{SVG}path").get("style"))
        self.assertIn("opacity: 0.35", self.by_id["bar-per_change-vex128-clean"].find(f"{SVG}path").get("style"))
        # Its typical figure, +3.0, lies plainly above the bar's top.
        self.assertLess(span_of(self.by_id["typical-per_change-vex128-dirty_ymm"])[1],
                        span_of(self.by_id["bar-per_change-vex128-dirty_ymm"])[0] - 10)

    def test_a_matrix_of_format_1_shows_its_one_figure_labelled_so(self):
        with open(FORMAT_1) as source:
            format_1 = json.load(source)
        # A matrix from before the format versions, which names none, is one
        # of format 1.
        unnamed = {key: value for key, value in format_1.items() if key != "format_version"}
        for name, data in (("format1", format_1), ("unnamed", unnamed)):
            with self.subTest(name):
                status, printed, _, written = run(FOLDER.name, name, data)
                self.assertEqual((status, written), (0, ["avx2.svg", "sse.svg", "transitions.svg"]))
                svg = os.path.join(FOLDER.name, f"{name}-transitions.svg")
                by_id = elements(svg)
                self.assertEqual(texts_by_id(by_id, "panel-"),
                                 {"one_length": "per instruction, one chain length (format 1)"})
                self.assertEqual(texts_by_id(by_id, "label-")["one_length-sse128-dirty_ymm"], "+28.1*")
                self.assertEqual(title_lines(svg)[1], "extra core cycles beyond the same chain with no state write: "
                                                      "a dependent chain of 12 instructions with the state written "
                                                      "at the head of each iteration, one chain length (format 1)")
                self.assertEqual(printed[-1], "transitions that cost: per instruction, one chain length (format 1): "
                                              "sse128 after dirty_ymm +28.1")


class Inputs(unittest.TestCase):
    def test_a_matrix_from_before_the_families_draws_as_the_sse_family(self):
        with open(ONE_TRIANGLE) as source:
            status, printed, _, written = run(FOLDER.name, "old", json.load(source))
        self.assertEqual((status, written), (0, ["sse.svg"]))
        self.assertEqual(printed[-1], "sse: crossings that cost: pand <-> mulps +1.0")
        self.assertEqual(len(squares(elements(os.path.join(FOLDER.name, "old-sse.svg")))), 66)

    def test_a_matrix_without_what_it_needs_is_refused_naming_the_field(self):
        for path, message in (
                (("families", 2, "round_trips"), "family 'avx2' has no 'round_trips'"),
                (("families", 0, "round_trips", 0), "family 'sse' has no round trip paddd <-> pmuludq"),
                (("transitions", "kinds", 0, "states", 1, "per_change", "cycles"),
                 "figure 'per_change' of state 'dirty_ymm' of transition kind 'sse128' has no 'cycles'"),
                (("transitions", "kinds", 0, "states", 1, "steady_per_instruction", "measurable"),
                 "figure 'steady_per_instruction' of state 'dirty_ymm' of transition kind 'sse128' has no "
                 "'measurable'"),
                (("transitions", "figures"), "transitions has no 'figures'"),
                (("families",), "the matrix has no 'families'")):
            with self.subTest(message):
                data = copy.deepcopy(MATRIX)
                parent = data
                for step in path[:-1]:
                    parent = parent[step]
                del parent[path[-1]]
                status, printed, complaint, written = run(FOLDER.name, "broken", data)
                self.assertEqual((status, written, printed), (2, [], []))
                self.assertIn(message, complaint)

def movement_cell(store, load, arithmetic, reference, cycles, extra, typical=None, measurable=None, bimodal=False):
    typical = extra if typical is None else typical
    return {"store": store, "load": load, "arithmetic": arithmetic, "reference": {"store": reference[0],
                                                                                  "load": reference[1]},
            "cycles": cycles, "typical": cycles + typical - extra, "extra": extra, "extra_typical": typical,
            "measurable": abs(extra) >= 0.1 if measurable is None else measurable, "bimodal": bimodal}


def with_movement():
    """The fixture with a movement section: the SSE family's types table with
    a few cells of each subtraction, its widths table with two 64-bit stores
    costing +6.2 at best and +7.4 typically (bimodal) and four of EDX +11.0;
    avx within avx2, avx512 unsupported."""
    data = copy.deepcopy(MATRIX)
    moves = ["movdqa", "movdqu", "movaps", "movups", "movapd", "movupd"]
    types = {"name": "types", "stores": [{"name": move, "title": move} for move in moves],
             "loads": [{"name": move, "title": move} for move in moves],
             "arithmetic": [{"name": "psubd", "title": "psubd"}, {"name": "subps", "title": "subps"}],
             "left_out": [],
             "cells": [movement_cell("movdqa", "movdqa", "psubd", ("movdqa", "movdqa"), 11.05, 0.0),
                       movement_cell("movaps", "movaps", "psubd", ("movdqa", "movdqa"), 11.06, 0.01),
                       movement_cell("movaps", "movaps", "subps", ("movaps", "movaps"), 12.08, 0.0),
                       movement_cell("movdqa", "movapd", "subps", ("movaps", "movaps"), 13.1, 1.02)]}
    widths = {"name": "widths",
              "stores": [{"name": "whole", "title": "one 128-bit store"}, {"name": "halves", "title": "two 64-bit stores"},
                         {"name": "edx", "title": "four 32-bit stores of EDX"}],
              "loads": [{"name": "whole", "title": "128 bits"}, {"name": "low", "title": "low 64 bits"}],
              "arithmetic": [{"name": "por", "title": "por"}],
              "left_out": [{"store": "edx", "load": "low", "arithmetic": "por", "why": "not a cell"}],
              "cells": [movement_cell("whole", "whole", "por", ("whole", "whole"), 11.04, 0.0),
                        movement_cell("whole", "low", "por", ("whole", "whole"), 11.06, 0.02),
                        movement_cell("halves", "whole", "por", ("whole", "whole"), 17.25, 6.2, 7.4, bimodal=True),
                        movement_cell("edx", "whole", "por", ("whole", "whole"), 22.1, 11.0)]}
    data["movement"] = {"short_steps": 1, "long_steps": 2, "windows": 12, "turns": 12, "families": [
        {"name": "sse", "title": "SSE to SSE4.1, 128 bits on XMM", "status": "measured", "tables": [types, widths]},
        {"name": "avx", "title": "AVX, 256 bits on YMM", "status": "within",
         "why": "every avx movement chain is measured in avx2's tables"},
        {"name": "avx512", "title": "AVX-512, 512 bits on ZMM", "status": "unsupported",
         "why": "the processor has no AVX-512 Foundation"}]}
    return data


class Movement(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory()
        cls.status, cls.printed, cls.complaint, cls.written = run(cls.folder.name, "moved", with_movement())
        cls.types = elements(os.path.join(cls.folder.name, "moved-movement-sse-types.svg"))
        cls.widths = elements(os.path.join(cls.folder.name, "moved-movement-sse-widths.svg"))

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def labels(self, by_id):
        return {key[len("cell-"):]: "".join(element.itertext()).strip()
                for key, element in by_id.items() if key.startswith("cell-")}

    def test_a_table_per_measured_familys_table_with_a_panel_per_arithmetic(self):
        self.assertEqual(self.status, 0, self.complaint)
        self.assertIn("movement-sse-types.svg", self.written)
        self.assertIn("movement-sse-widths.svg", self.written)
        self.assertEqual(self.labels(self.types), {"psubd-movdqa-movdqa": "ref 11.1", "psubd-movaps-movaps": "+0.0",
                                                   "subps-movaps-movaps": "ref 12.1", "subps-movdqa-movapd": "+1.0*"})
        # Every other square of both panels was not measured, and is grey.
        blanks = [key for key in self.types if key.startswith("blank-")]
        self.assertEqual(len(blanks), 2 * 36 - 4)
        self.assertEqual(fill_of(self.types["blank-psubd-movups-movdqa"]), (0xEE, 0xEE, 0xEE))
        red, green, blue = fill_of(self.types["square-subps-movdqa-movapd"])
        self.assertGreater(red, blue + 50)

    def test_rows_store_and_columns_load_and_a_bimodal_cell_shows_its_typical(self):
        self.assertEqual(self.labels(self.widths)["por-halves-whole"], "+6.2*~")
        self.assertEqual("".join(self.widths["typical-por-halves-whole"].itertext()).strip(), "typ +7.4")
        # The halves' row lies below the whole store's, its column left of the low half's.
        whole_low, halves_whole = span_of(self.widths["square-por-whole-low"]), span_of(self.widths["square-por-halves-whole"])
        self.assertLess(whole_low[1], halves_whole[1])
        self.assertIn("left-out", self.widths)

    def test_the_summary_lists_the_movements_that_cost_and_why_a_family_was_not_drawn(self):
        self.assertIn("movement sse widths: movements that cost: edx -> whole -> por +11.0; "
                      "halves -> whole -> por +6.2 (fast +6.2, typical +7.4, bimodal)", self.printed)
        self.assertIn("movement sse types: movements that cost: movdqa -> movapd -> subps +1.0", self.printed)
        self.assertIn("movement avx512: not drawn, unsupported: the processor has no AVX-512 Foundation", self.printed)

    def test_a_movement_section_without_what_it_needs_is_refused_naming_the_field(self):
        data = with_movement()
        del data["movement"]["families"][0]["tables"][1]["cells"][2]["extra"]
        status, printed, complaint, written = run(self.folder.name, "broken", data)
        self.assertEqual((status, written), (2, []))
        self.assertIn("cell halves -> whole -> por of table 'widths' of movement family 'sse' has no 'extra'", complaint)



class FileNames(unittest.TestCase):
    def test_a_name_that_would_lead_out_of_the_output_folder_is_refused_and_nothing_is_written(self):
        # A family's, a movement family's or a table's name becomes part of
        # a file name beside the prefix; where a folder m-x lies beside it,
        # x/../../escaped would reach the folder above.
        def named(where, name):
            data = with_movement()
            entry = {"family": data["families"][0], "movement family": data["movement"]["families"][0],
                     "table": data["movement"]["families"][0]["tables"][0]}[where]
            entry["name"] = name
            return data

        for where in ("family", "movement family", "table"):
            for name in ("x/../../escaped", "..", "sse.svg"):
                with self.subTest(where=where, name=name), tempfile.TemporaryDirectory() as work:
                    out = os.path.join(work, "out")
                    os.makedirs(os.path.join(out, "m-x"))
                    status, printed, complaint, _ = run(out, "m", named(where, name))
                    self.assertEqual((status, printed), (2, []))
                    self.assertIn(f"has the name {name!r}, which cannot stand in a file name", complaint)
                    self.assertEqual((os.listdir(work), sorted(os.listdir(out)), os.listdir(os.path.join(out, "m-x"))),
                                     (["out"], ["m-x", "m.json"], []))


class WithoutMatplotlib(unittest.TestCase):
    def test_it_says_in_one_line_that_it_cannot_draw_and_fails_as_a_drawing_fails(self):
        with tempfile.TemporaryDirectory() as work:
            result = without_matplotlib("heatmap.py", FIXTURE, "--prefix", os.path.join(work, "matrix"))
            self.assertEqual(os.listdir(work), [])
        self.assertEqual((result.returncode, result.stdout), (1, ""))
        self.assertEqual(result.stderr, "heatmap: cannot draw: matplotlib is not installed (python3-matplotlib)\n")


if __name__ == "__main__":
    unittest.main()
