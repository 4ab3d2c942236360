"""Tests of tools/compare.py on two fixture machines under data/results/: an
AMD guest without AVX-512, and an Intel host with AVX-512 and a bimodal
round trip (addps <-> addpd, best +0.4, typical +77). The whole report is
compared with data/compare_report.md; copies with a file missing, malformed
or of another format version are refused while the rest is compared.

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


class Modes(unittest.TestCase):
    def test_a_matrix_written_before_the_modes_is_judged_from_its_windows_and_a_judged_cell_kept(self):
        # The Intel guest's adds, whose windows the program kept but whose
        # modes it did not yet judge.
        with open(os.path.join(HERE, "data", "intel_modes.json")) as source:
            data = json.load(source)
        data["families"][0]["round_trips"][5].update(bimodal=False, fast=None, fast_share=0.0, fast_runs=0, runs=144)
        _, families, _ = compare.heatmap.read(data)
        cells = {family["name"]: family["cells"] for family in families}
        self.assertEqual(compare.crossing_text(cells["sse"]["addps", "addpd"]), "+78.0* / +78.0")
        self.assertEqual(compare.crossing_text(cells["sse"]["addpd", "addss"]), "+77.8* / +78.0")
        # Judged by the program, as the edit above has it: kept as it is.
        self.assertEqual(compare.crossing_text(cells["sse"]["addss", "addsd"]), "+77.5* / +78.0")
        self.assertEqual(compare.crossing_text(cells["avx2"]["vaddps", "vaddpd"]),
                         "+76.2*~ / +79.1, fast +76.2 in at least 15.3% of runs")


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
