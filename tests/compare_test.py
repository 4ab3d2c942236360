"""Tests of tools/compare.py on two fixture machines under data/results/: an
AMD guest without AVX-512, and an Intel host with AVX-512 and a bimodal
round trip (addps <-> addpd, best +0.4, typical +77). The whole report is
compared with data/compare_report.md; copies with a file missing, malformed
or of another format version are refused while the rest is compared.

Needs matplotlib (Debian's python3-matplotlib).
"""

import contextlib
import io
import json
import os
import shutil
import tempfile
import unittest
from unittest import mock
import xml.etree.ElementTree as ElementTree

from drawing_tools import import_drawing, without_matplotlib

HERE = os.path.dirname(os.path.abspath(__file__))
[compare, results_files] = import_drawing("compare", "results_files")

FIXTURES = os.path.join(HERE, "data", "results")
WITHOUT_AVX512 = os.path.join(FIXTURES, "amd-family25-model1-vm")
BIMODAL = os.path.join(FIXTURES, "intel-family6-model207-metal")
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

    def test_a_round_trip_stored_the_other_way_round_is_the_same_row(self):
        with open(os.path.join(HERE, "data", "compare_report.md")) as source:
            expected = source.read()
        with tempfile.TemporaryDirectory() as work:
            reordered = copy_of(BIMODAL, work)
            rewrite(os.path.join(reordered, "matrix.json"), reversed_sse)
            self.assertEqual(run(WITHOUT_AVX512, reordered), (0, expected, ""))

    def test_a_bar_in_a_cell_is_escaped_so_that_the_columns_hold(self):
        with tempfile.TemporaryDirectory() as work:
            barred = copy_of(BIMODAL, work)
            rewrite(os.path.join(barred, "machine.json"), lambda data: data.update(processor="Xeon | Max"))
            status, text, _ = run(WITHOUT_AVX512, barred)
        self.assertEqual(status, 0)
        self.assertIn("\n| processor | AMD EPYC 7B13 | Xeon \\| Max |\n", text)

    def test_without_matplotlib_the_report_comes_and_one_line_says_why_there_is_no_picture(self):
        with open(os.path.join(HERE, "data", "compare_report.md")) as source:
            expected = source.read()
        with tempfile.TemporaryDirectory() as folder:
            picture = os.path.join(folder, "crossings.png")
            result = without_matplotlib("compare.py", WITHOUT_AVX512, BIMODAL, "--picture", picture)
            self.assertEqual((result.returncode, result.stdout), (0, expected))
            self.assertEqual(result.stderr, f"compare: the picture {picture} was not drawn: matplotlib is not "
                                            "installed (python3-matplotlib)\n")
            self.assertEqual(os.listdir(folder), [])

    def test_the_picture_has_a_row_per_crossing_and_a_column_per_machine(self):
        with tempfile.TemporaryDirectory() as folder:
            picture = os.path.join(folder, "crossings.svg")
            status, text, _ = run(WITHOUT_AVX512, BIMODAL, picture=picture)
            self.assertEqual(status, 0)
            texts = ["".join(element.itertext()) for element in ElementTree.parse(picture).iter(f"{SVG}text")]
            png = os.path.join(folder, "crossings.png")
            self.assertEqual(run(WITHOUT_AVX512, picture=png)[0], 0)
            with open(png, "rb") as source:
                self.assertEqual(source.read(8), b"\x89PNG\r\n\x1a\n")
        rows = [line for line in text.splitlines() if line.startswith("| `") and " <-> " in line]
        self.assertEqual(len(rows), 8)
        for label in ("sse: addps <-> addpd", "avx512: vpaddd <-> vaddps", "amd-family25-model1-vm",
                      "intel-family6-model207-metal", "+0.4~  typ +77.0"):
            self.assertIn(label, texts)
        self.assertEqual(texts.count("not on this processor"), 1)
        self.assertEqual(texts.count("+2.0*"), 5)


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


def reversed_sse(data):
    """The SSE family's classes in the other order, each round trip stored
    the other way round."""
    family = data["families"][0]
    family["classes"].reverse()
    for cell in family["round_trips"]:
        cell["first"], cell["second"] = cell["second"], cell["first"]


class Refusals(unittest.TestCase):
    def test_each_bad_folder_is_refused_by_name_and_the_others_compared(self):
        with tempfile.TemporaryDirectory() as work:
            bad = {}
            for what in ("missing", "malformed", "not_utf8", "version", "unversioned", "incomplete", "no_clock",
                         "no_counter"):
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
            rewrite(os.path.join(bad["no_counter"], "clock.json"), lambda data: data.update(counter_ghz=None))
            rewrite(os.path.join(bad["version"], "clock.json"), lambda data: data.update(format_version=2))
            rewrite(os.path.join(bad["unversioned"], "machine.json"), lambda data: data.pop("format_version"))
            rewrite(os.path.join(bad["incomplete"], "matrix.json"),
                    lambda data: data["families"][0]["classes"][1].pop("typical"))
            status, text, errors = run(bad["missing"], WITHOUT_AVX512, bad["malformed"], bad["not_utf8"],
                                       bad["version"], bad["unversioned"], bad["incomplete"], bad["no_clock"],
                                       bad["no_counter"])
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
                f"compare: refused {bad['no_counter']}: {bad['no_counter']}/clock.json: the clock's 'counter_ghz' is "
                "null, not a number",
            ]
            lines = errors.splitlines()
            self.assertEqual(len(lines), len(expected))
            for line, start in zip(lines, expected):
                self.assertTrue(line.startswith(start), f"{line!r} does not start with {start!r}")
            status, text, errors = run(bad["missing"], bad["version"])
            self.assertEqual((status, text), (2, ""))
            self.assertEqual(errors.splitlines()[-1], "compare: no folder to compare")

    def test_a_picture_neither_png_nor_svg_is_refused(self):
        errors = io.StringIO()
        with contextlib.redirect_stderr(errors), self.assertRaises(SystemExit) as stopped:
            compare.main([BIMODAL, "--picture", "crossings.pdf"])
        self.assertEqual(stopped.exception.code, 2)
        self.assertTrue(errors.getvalue().endswith(": error: --picture must name a .png or .svg file\n"),
                        errors.getvalue())

    def test_a_hostile_file_is_refused_in_one_line_and_the_others_compared(self):
        with tempfile.TemporaryDirectory() as work:
            bad = {}
            for what in ("brackets", "deep", "nan", "infinity", "huge", "large", "folder"):
                os.mkdir(os.path.join(work, what))
                bad[what] = copy_of(BIMODAL, os.path.join(work, what))
            matrix = os.path.join(BIMODAL, "matrix.json")
            with open(matrix) as source:
                text = source.read()
            for what, figure in (("nan", "NaN"), ("infinity", "-Infinity"), ("huge", "1e999")):
                with open(os.path.join(bad[what], "matrix.json"), "w") as target:
                    target.write(text.replace('"latency": 1.0', f'"latency": {figure}', 1))
            with open(os.path.join(bad["brackets"], "matrix.json"), "w") as target:
                target.write("[" * 200_000)
            rewrite(os.path.join(bad["deep"], "machine.json"),
                    lambda data: data.update(stepping=json.loads("[" * 99 + "]" * 99)))
            # Sparse: its size alone refuses it.
            with open(os.path.join(bad["large"], "bench.json"), "r+b") as target:
                target.truncate(65_000_000)
            os.unlink(os.path.join(bad["folder"], "clock.json"))
            os.mkdir(os.path.join(bad["folder"], "clock.json"))
            order = ["brackets", "deep", "nan", "infinity", "huge", "large", "folder"]
            status, text, errors = run(*[bad[what] for what in order[:3]], WITHOUT_AVX512,
                                       *[bad[what] for what in order[3:]])
            self.assertEqual(status, 1)
            self.assertEqual(text, run(WITHOUT_AVX512)[1])
            self.assertEqual(errors, "".join(f"compare: refused {bad[what]}: {bad[what]}/{why}\n" for what, why in (
                ("brackets", "matrix.json: nested more than 64 deep"),
                ("deep", "machine.json: nested more than 64 deep"),
                ("nan", "matrix.json: malformed JSON: NaN, which JSON does not allow"),
                ("infinity", "matrix.json: malformed JSON: -Infinity, which JSON does not allow"),
                ("huge", "matrix.json: malformed JSON: the number 1e999 is too large to be finite"),
                ("large", "bench.json: 65 MB, more than the 64 MB that any results file stays within"),
                ("folder", "clock.json: not a plain file"))))
            # The large file is judged by its size: it is never opened.
            def opening(path, *arguments):
                self.assertFalse(path.endswith("bench.json"), path)
                return open(path, *arguments)

            with mock.patch.object(results_files, "open", create=True, side_effect=opening):
                self.assertEqual(run(bad["large"])[0], 2)


if __name__ == "__main__":
    unittest.main()
