"""Tests of tools/compare.py on two fixture machines under data/results/: an
AMD guest without AVX-512, and an Intel host with AVX-512 and a bimodal
round trip (addps <-> addpd, best +0.4, typical +77). The whole report is
compared with data/compare_report.md, and the picture's panels and squares
counted; the picture of two machines of docs/results/, and of ten made of
them, is bounded in size. Copies with a file missing, malformed or of
another format version are refused while the rest is compared.

Needs matplotlib (Debian's python3-matplotlib).
"""

import io
import json
import os
import shutil
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

from drawing_tools import import_drawing

HERE = os.path.dirname(os.path.abspath(__file__))
[compare] = import_drawing("compare")

FIXTURES = os.path.join(HERE, "data", "results")
WITHOUT_AVX512 = os.path.join(FIXTURES, "amd-family25-model1-vm")
BIMODAL = os.path.join(FIXTURES, "intel-family6-model207-metal")
# The committed measurements, whose families have twenty classes, or up to
# thirty-seven where measured since.
MEASURED = [os.path.join(HERE, "..", "docs", "results", name)
            for name in ("amd-family26-model2-vm", "intel-family6-model167-vm", "amd-family25-model17-vm")]
SVG = "{http://www.w3.org/2000/svg}"


def run(*folders, picture=None):
    """The exit status, the report and what went to standard error."""
    out, errors = io.StringIO(), io.StringIO()
    status = compare.compare(list(folders), picture, out, errors)
    return status, out.getvalue(), errors.getvalue()


class Report(unittest.TestCase):
    def test_the_whole_report_of_two_machines(self):
        with open(os.path.join(HERE, "data", "compare_report.md")) as source:
            expected = source.read()
        status, text, errors = run(WITHOUT_AVX512, BIMODAL)
        self.assertEqual((status, errors), (0, ""))
        self.assertEqual(text, expected)


def svg_of(*folders):
    """The ids and the texts of the picture that the comparison of the
    folders draws."""
    with tempfile.TemporaryDirectory() as work:
        picture = os.path.join(work, "crossings.svg")
        status, _, errors = run(*folders, picture=picture)
        tree = ElementTree.parse(picture)
    ids = [element.get("id") for element in tree.iter() if element.get("id")]
    texts = ["".join(element.itertext()) for element in tree.iter(f"{SVG}text")]
    return status, errors, ids, texts


def png_size(path):
    with open(path, "rb") as source:
        head = source.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path} is not a PNG")
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


# A screen's width, and two screens' height, in pixels.
SCREEN_WIDE, TWO_SCREENS_HIGH = 1920, 2160


class Picture(unittest.TestCase):
    def test_a_triangle_per_family_and_machine_with_a_square_per_round_trip(self):
        status, errors, ids, texts = svg_of(WITHOUT_AVX512, BIMODAL)
        self.assertEqual((status, errors), (0, ""))
        self.assertEqual([gid for gid in ids if gid.startswith("panel-")],
                         ["panel-sse-0", "panel-sse-1", "panel-avx2-0", "panel-avx2-1", "panel-avx512-0",
                          "panel-avx512-1"])
        self.assertEqual([gid for gid in ids if gid.startswith(("bimodal-", "absent-"))],
                         ["bimodal-sse-1-addps-addpd", "absent-avx512-0"])
        self.assertEqual(texts.count("amd-family25-model1-vm"), 3)
        self.assertEqual(texts.count("intel-family6-model207-metal"), 3)
        for caption in ("4 of 6 cost", "dearest +2.0*", "5 of 6 cost, 1 bimodal", "dearest +0.4~ typ +77.0",
                        "1 of 3 cost"):
            self.assertIn(caption, texts)
        self.assertEqual(texts.count("not on this processor"), 2)
        # The second machine's sse family without shufps: its three pairs
        # with shufps stand grey in that triangle.
        machines = [compare.load_folder(folder) for folder in (WITHOUT_AVX512, BIMODAL)]
        sse = machines[1]["families"]["sse"]
        sse["names"].remove("shufps")
        sse["cells"] = {pair: cell for pair, cell in sse["cells"].items() if "shufps" not in pair}
        figure = compare.draw(machines, ["sse", "avx2", "avx512"])
        squares = {collection.get_gid(): len(collection.get_paths()) for axes in figure.axes
                   for collection in axes.collections if collection.get_gid()}
        compare.plt.close(figure)
        self.assertEqual(squares, {"squares-sse-0": 6, "squares-sse-1": 3, "left-out-sse-1": 3, "squares-avx2-0": 3,
                                   "squares-avx2-1": 3, "squares-avx512-1": 3})

    def test_three_and_ten_machines_of_up_to_thirty_seven_classes_fit_a_screen_wide_and_two_high(self):
        with tempfile.TemporaryDirectory() as work:
            picture = os.path.join(work, "crossings.png")
            self.assertEqual(run(*MEASURED, picture=picture)[0], 0)
            sizes = [png_size(picture)]
            three = [compare.load_folder(folder) for folder in MEASURED]
            machines = [dict(three[number % 3], label=f"machine-{number}") for number in range(10)]
            families = compare.measured_families(machines)[0]
            figure = compare.draw(machines, families)
            panels = {axes.get_gid(): axes.get_position() for axes in figure.axes if axes.get_gid()}
            compare.save(figure, picture)
            sizes.append(png_size(picture))
        for wide, high in sizes:
            self.assertLessEqual(wide, SCREEN_WIDE)
            self.assertLessEqual(high, TWO_SCREENS_HIGH)
        self.assertEqual(families, ["sse", "avx2", "avx512"])
        self.assertEqual(sorted(panels), sorted(f"panel-{name}-{index}" for name in families for index in range(10)))
        # Two bands of five: within a band a family's panels stand in one
        # row, left to right; the second band lies under the whole first.
        for name in families:
            for band in (range(0, 5), range(5, 10)):
                row = [panels[f"panel-{name}-{index}"] for index in band]
                self.assertEqual(len({round(box.y1, 6) for box in row}), 1, name)
                self.assertEqual([box.x0 for box in row], sorted(box.x0 for box in row))
        lowest_of_first = min(panels[f"panel-avx512-{index}"].y0 for index in range(5))
        self.assertTrue(all(panels[f"panel-sse-{index}"].y1 < lowest_of_first for index in range(5, 10)))


def copy_of(folder, into):
    target = os.path.join(into, os.path.basename(folder))
    shutil.copytree(folder, target)
    return target


def rewrite(path, change):
    with open(path) as source:
        data = json.load(source)
    change(data)
    with open(path, "w") as target:
        json.dump(data, target)


class MissingClasses(unittest.TestCase):
    def test_a_class_never_measured_reads_not_measured_and_one_the_processor_lacked_left_out(self):
        # The second machine as an older program measured it, without shufps,
        # on a processor that could not run paddd.
        with tempfile.TemporaryDirectory() as work:
            older = copy_of(BIMODAL, work)

            def drop(data):
                sse = data["families"][0]
                sse["classes"] = [entry for entry in sse["classes"] if entry["name"] not in ("shufps", "paddd")]
                sse["round_trips"] = [cell for cell in sse["round_trips"]
                                      if not {"shufps", "paddd"} & {cell["first"], cell["second"]}]
                sse["left_out"] = [{"name": "paddd", "why": "the processor has no SSE2"}]

            rewrite(os.path.join(older, "matrix.json"), drop)
            status, text, errors = run(WITHOUT_AVX512, older)
            _, _, _, texts = svg_of(WITHOUT_AVX512, older)
        self.assertEqual((status, errors), (0, ""))
        self.assertIn("| `paddd` | 1.00 / 1.00 | left out |\n", text)
        self.assertIn("| `shufps` | 1.00 / 1.00 | not measured |\n", text)
        self.assertIn("| `sse` `paddd` <-> `addps` | +2.0* / +2.0 | left out |\n", text)
        # Its sse panel counts the one round trip it measured.
        self.assertIn("1 of 1 cost, 1 bimodal", texts)


class Refusals(unittest.TestCase):
    def test_each_bad_folder_is_refused_by_name_and_the_others_compared(self):
        with tempfile.TemporaryDirectory() as work:
            bad = {}
            for what in ("missing", "malformed", "not_utf8", "version", "unversioned", "incomplete", "no_clock"):
                os.mkdir(os.path.join(work, what))
                bad[what] = copy_of(BIMODAL, os.path.join(work, what))
            os.unlink(os.path.join(bad["missing"], "bench.json"))
            with open(os.path.join(bad["malformed"], "matrix.json"), "a") as target:
                target.write("}")
            with open(os.path.join(bad["not_utf8"], "machine.json"), "rb") as source:
                latin1 = source.read().replace(b'"processor": "', b'"processor": "caf\xe9 ', 1)
            with open(os.path.join(bad["not_utf8"], "machine.json"), "wb") as target:
                target.write(latin1)
            rewrite(os.path.join(bad["no_clock"], "clock.json"), lambda data: data.update(core_ghz=None))
            rewrite(os.path.join(bad["version"], "clock.json"), lambda data: data.update(format_version=2))
            rewrite(os.path.join(bad["unversioned"], "machine.json"), lambda data: data.pop("format_version"))
            rewrite(os.path.join(bad["incomplete"], "matrix.json"),
                    lambda data: data["families"][0]["classes"][1].pop("typical"))
            status, text, errors = run(bad["missing"], WITHOUT_AVX512, bad["malformed"], bad["not_utf8"],
                                       bad["version"], bad["unversioned"], bad["incomplete"], bad["no_clock"])
            self.assertEqual(status, 1)
            self.assertEqual(text, run(WITHOUT_AVX512)[1])
            self.assertIn("# Results of 1 machine\n", text)
            expected = [
                f"compare: refused {bad['missing']}: {bad['missing']}/bench.json: missing",
                f"compare: refused {bad['malformed']}: {bad['malformed']}/matrix.json: malformed JSON: Extra data",
                f"compare: refused {bad['not_utf8']}: {bad['not_utf8']}/machine.json: malformed JSON: 'utf-8' codec "
                "can't decode byte 0xe9",
                f"compare: refused {bad['version']}: {bad['version']}/clock.json: format version 2, which this tool "
                "does not know (it reads 1)",
                f"compare: refused {bad['unversioned']}: {bad['unversioned']}/machine.json: no format_version",
                f"compare: refused {bad['incomplete']}: {bad['incomplete']}/matrix.json: class 'addps' of family "
                "'sse' has no 'typical'",
                f"compare: refused {bad['no_clock']}: {bad['no_clock']}/clock.json: the clock's 'core_ghz' is null, "
                "not a number",
            ]
            lines = errors.splitlines()
            self.assertEqual(len(lines), len(expected))
            for line, start in zip(lines, expected):
                self.assertTrue(line.startswith(start), f"{line!r} does not start with {start!r}")
            status, text, errors = run(bad["missing"], bad["version"])
            self.assertEqual((status, text), (2, ""))
            self.assertEqual(errors.splitlines()[-1], "compare: no folder to compare")


if __name__ == "__main__":
    unittest.main()
