"""Tests of tools/gallery.py: the committed README's gallery is the one that
docs/results/ gives, with every picture it shows in the tree; on two fixture
machines, one as format 1 wrote it (data/format1/), the other of format 2 and
given a movement table (data/results/), the command rewrites only the part
between the markers and draws every picture that part shows. On two
scripted folders, one of older programs that lack a class, the summary
table's headline answers, the lines and pictures that say what a folder
lacks, one colour scale for every heatmap of both machines, and titles that
name the processor and clock as the machine's paragraph does.

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

from drawing_tools import import_drawing, without_matplotlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
[gallery] = import_drawing("gallery")

MACHINES = ("amd-family25-model1-vm", "intel-family6-model207-metal")
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
            for kind, machine in (("format1", "amd-family25-model1-vm"), ("results", "intel-family6-model207-metal")):
                shutil.copytree(os.path.join(HERE, "data", kind, machine), os.path.join(work, "results", machine))
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
            # Each machine's pictures stand in two lines: its heatmaps and
            # transitions, then its movement tables.
            rows = [PICTURE.findall(line) for line in gallery_part(text).splitlines() if PICTURE.search(line)]
            self.assertEqual(rows, [shown[0:3], shown[3:7], shown[7:8], shown[8:9]])
            # A machine without movement tables leaves no empty row behind.
            self.assertNotIn("\n\n\n", gallery_part(text))
            for path in shown:
                self.assertIn(f"gallery: wrote {path}\n", printed)
                with open(os.path.join(work, path), "rb") as picture:
                    self.assertEqual(picture.read(8), b"\x89PNG\r\n\x1a\n")
            # The side-by-side picture is the comparison's of every machine,
            # the AVX-512 family too, which the first machine lacks, on the
            # gallery's one scale.
            compared = os.path.join(work, "compared.png")
            machines = gallery.load(os.path.join(work, "results"))
            gallery.compare.save(gallery.compare.draw(machines, ["sse", "avx2", "avx512"], gallery.reach(machines)),
                                 compared)
            with open(os.path.join(work, "results", "crossings.png"), "rb") as drawn, open(compared, "rb") as same:
                # Whole files, too large for a readable difference.
                self.assertTrue(drawn.read() == same.read(), "crossings.png is not what compare.py --picture draws")
            self.assertIn("addps <-> addpd +0.4~ / +77.0, fast +0.4 in 18.0% of runs", text)
            self.assertIn("- `avx512`: not on this processor (the processor has no AVX-512 Foundation)", text)
            self.assertEqual(text.count("- the `sse` widths table's movements that cost: "), 1)
            self.assertEqual([line for line in text.splitlines() if line.startswith("- transitions")], [
                "- transitions, measured with one chain length (format 1), which cannot tell a cost per change of "
                "state from one per instruction; those that cost: per instruction, one chain length (format 1): "
                "legacy SSE, 128 bits after dirty YMM upper half +28.1",
                # The Intel fixture kept no windows: a typical figure more than a
                # cycle above its best makes a cost per change bimodal.
                "- transitions that cost: per change of state: legacy SSE, 128 bits after dirty ZMM upper half +446.0 "
                "(fast +446.0, typical +448.1, bimodal), legacy SSE, 128 bits after dirty YMM upper half +389.0 "
                "(fast +389.0, typical +392.3, bimodal); per instruction after a change: VEX, 256 bits after dirty "
                "ZMM upper half +1.4"])
            self.assertEqual(run("--results", "results", "--check", where=work)[0], 0)
            markers = (f"gallery: the README needs the marker lines {gallery.BEGIN!r} and {gallery.END!r}, once "
                       "each, in that order\n")
            for wrong in ("no markers\n", f"{gallery.END}\n{gallery.BEGIN}\n", f"{gallery.BEGIN}\n" * 2 + gallery.END):
                with open(readme, "w") as target:
                    target.write(wrong)
                self.assertEqual(run("--results", "results", where=work), (2, "", markers))


def scripted(work):
    """Two scripted folders under work/results, loaded as the gallery loads
    them: an AMD guest of format 1 whose programs predate `shufps` (its
    triangle has three of the four SSE classes), which left `vpermps` out,
    and whose CPUID brand string is not its /proc/cpuinfo name; and an Intel
    host of format 2 with the classes' operations, an SSE widths table, and
    one round trip of +40 where the other's dearest is +1."""
    results = os.path.join(work, "results")
    amd, intel = (os.path.join(results, name) for name in MACHINES)
    shutil.copytree(os.path.join(HERE, "data", "format1", MACHINES[0]), amd)
    shutil.copytree(os.path.join(HERE, "data", "results", MACHINES[1]), intel)

    def rewrite(folder, change):
        path = os.path.join(folder, "matrix.json")
        with open(path) as source:
            data = json.load(source)
        change(data, {family["name"]: family for family in data["families"]})
        with open(path, "w") as target:
            json.dump(data, target)

    def older_programs(data, families):
        data["processor"] = "Scripted brand"
        sse, avx2 = families["sse"], families["avx2"]
        sse["classes"] = [item for item in sse["classes"] if item["name"] != "shufps"]
        sse["round_trips"] = [cell for cell in sse["round_trips"] if "shufps" not in (cell["first"], cell["second"])]
        for cell in sse["round_trips"]:
            if (cell["first"], cell["second"]) == ("paddd", "addps"):
                cell.update(cycles=1.0, typical=1.0)
        avx2["classes"] = [item for item in avx2["classes"] if item["name"] != "vpermps"]
        avx2["round_trips"] = [cell for cell in avx2["round_trips"] if "vpermps" not in (cell["first"], cell["second"])]
        avx2["left_out"] = [{"name": "vpermps", "why": "scripted"}]

    def newer_programs(data, families):
        for item in families["sse"]["classes"]:
            item["operation"] = {"paddd": "add", "addps": "add", "shufps": "shuffle", "addpd": "add"}[item["name"]]
        for cell in families["sse"]["round_trips"]:
            if (cell["first"], cell["second"]) == ("addps", "addpd"):
                cell.update(cycles=40.0, typical=40.0, bimodal=False, measurable=True)
        with open(os.path.join(ROOT, "docs", "results", "amd-family26-model2-vm", "matrix.json")) as source:
            movement = json.load(source)["movement"]
        movement["families"] = [{**family, "tables": [table for table in family["tables"] if table["name"] == "widths"]}
                                for family in movement["families"] if family["name"] == "sse"]
        data["movement"] = movement

    rewrite(amd, older_programs)
    rewrite(intel, newer_programs)
    return results, gallery.load(results)


def colour_bar(figure):
    """The tick labels of a heatmap's colour bar."""
    bar = next(axes for axes in figure.axes if axes.get_ylabel().startswith("extra core cycles per"))
    return [label.get_text() for label in bar.get_yticklabels()]


class Scripted(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.TemporaryDirectory()
        self.results, self.machines = scripted(self.work.name)

    def tearDown(self):
        self.work.cleanup()

    def drawn(self):
        """Every picture the gallery draws, by its file's name beneath the
        results."""
        drawn = {}
        for prefix, draw in gallery.figures(self.machines, self.results):
            drawn[os.path.relpath(prefix, self.results)] = draw()
        return drawn

    def test_the_summary_gives_each_machines_headline_answers_in_the_pictures_names(self):
        self.assertEqual(gallery.summary_table(self.machines), [
            "| machine | integer data through floating-point moves (test 1 - test 0) | a change of type at every step "
            "(test 3 - (test 0 + test 2) / 2) | the dearest crossing | a dirty upper half, per change of state | a "
            "dirty upper half, per instruction after a change | narrow stores, then a 128-bit load |",
            "| --- | --- | --- | --- | --- | --- | --- |",
            "| amd-family25-model1-vm | +0.00 | +3.01* | `sse` paddd <-> addpd +2.0* / +2.0 | not measured "
            "(format 1: one chain length) | legacy SSE, 128 bits after dirty YMM upper half +28.1* (one chain "
            "length, format 1) | not measured |",
            "| intel-family6-model207-metal | +1.43* | -0.12 | `sse` addps <-> addpd +40.0* / +40.0 | legacy SSE, "
            "128 bits after dirty ZMM upper half +446.0*~ | VEX, 256 bits after dirty ZMM upper half +1.4* | four "
            "32-bit stores of EDX -> 128 bits +11.0* |"])

    def test_a_folder_of_older_programs_says_which_classes_it_lacks_and_its_pictures_too(self):
        line = "measured before the shuffles: 3 of 6 round trips"
        # A class that the processor left out is not one the programs lacked.
        self.assertEqual(gallery.lacking(self.machines), {(MACHINES[0], "sse"): line})
        self.assertIn(f"- `sse` ({line}): ", "\n".join(gallery.findings(self.machines[0],
                                                                        gallery.lacking(self.machines))))
        drawn = self.drawn()
        notes = [text.get_text() for text in drawn[f"{MACHINES[0]}/matrix-sse"].texts]
        self.assertIn(line, notes)
        panels = {axes.get_gid(): axes.get_title(loc="left") for axes in drawn["crossings"].axes if axes.get_gid()}
        self.assertTrue(panels["panel-sse-0"].startswith(f"{MACHINES[0]}\nolder programs: 3 of 6 measured\n"),
                        panels["panel-sse-0"])
        self.assertFalse(any("older programs" in title for gid, title in panels.items() if gid != "panel-sse-0"))
        for figure in drawn.values():
            gallery.heatmap.plt.close(figure)

    def test_every_heatmap_of_every_machine_shares_one_colour_scale(self):
        drawn = self.drawn()
        heatmaps = {name: figure for name, figure in drawn.items() if not name.endswith("transitions")}
        self.assertEqual(sorted(heatmaps), [f"{MACHINES[0]}/matrix-avx2", f"{MACHINES[0]}/matrix-sse", "crossings",
                                            f"{MACHINES[1]}/matrix-avx2", f"{MACHINES[1]}/matrix-avx512",
                                            f"{MACHINES[1]}/matrix-movement-sse-widths", f"{MACHINES[1]}/matrix-sse"])
        # The Intel host's +40 sets the scale of the AMD guest's pictures too.
        for name, figure in heatmaps.items():
            self.assertEqual(colour_bar(figure), ["-40", "-10", "-1", "0", "+1", "+10", "+40"], name)

        def square(name, gid):
            return next(patch.get_facecolor() for axes in drawn[name].axes for patch in axes.patches
                        if patch.get_gid() == gid)

        # A round trip of +1.0 on either machine takes one colour.
        self.assertEqual(square(f"{MACHINES[0]}/matrix-sse", "square-paddd-addps"),
                         square(f"{MACHINES[1]}/matrix-sse", "square-paddd-addps"))
        for figure in drawn.values():
            gallery.heatmap.plt.close(figure)

    def test_each_picture_is_titled_with_the_name_and_clock_of_its_paragraph(self):
        drawn = self.drawn()
        for machine in self.machines:
            paragraph = gallery.description(machine)
            named = gallery.named(machine)
            self.assertIn(f"{named['processor']} (", paragraph)
            self.assertIn(named["clock"], paragraph)
            for name, figure in drawn.items():
                if name.startswith(machine["label"] + "/"):
                    titles = " ".join([axes.get_title() for axes in figure.axes]
                                      + ([figure._suptitle.get_text()] if figure._suptitle else []))
                    self.assertIn(f"{named['processor']}: ", titles, name)
                    self.assertIn(f"; {named['clock']}", titles, name)
        self.assertEqual(gallery.named(self.machines[0]), {
            "processor": "AMD EPYC 7B13", "clock": "core clock 3.24 GHz over the matrix's windows"})
        self.assertIn('family 25, model 1, which CPUID names "Scripted brand";', gallery.description(self.machines[0]))
        for figure in drawn.values():
            gallery.heatmap.plt.close(figure)


def crossing(first, second, cycles, typical=None, bimodal=False):
    return {"first": first, "second": second, "cycles": cycles, "typical": cycles if typical is None else typical,
            "measurable": True, "bimodal": bimodal}


class Findings(unittest.TestCase):
    def test_a_family_with_four_costly_crossings_lists_them_and_one_with_five_sums_them_up(self):
        cells = [crossing("a", "b", 1.0), crossing("a", "c", 3.0), crossing("b", "c", 0.5, 9.0, True),
                 crossing("a", "d", 2.0), crossing("b", "d", 0.0)]
        four = {(cell["first"], cell["second"]): cell for cell in cells}
        self.assertEqual(gallery.crossings_summary(four),
                         "4 of 5 round trips cost: b <-> c +0.5*~ / +9.0; a <-> c +3.0* / +3.0; "
                         "a <-> d +2.0* / +2.0; a <-> b +1.0* / +1.0")
        five = {**four, ("c", "d"): crossing("c", "d", 4.0)}
        self.assertEqual(gallery.crossings_summary(five),
                         "5 of 6 round trips cost +0.5 to +4.0 (typical +1.0 to +9.0); dearest b <-> c +0.5*~ / "
                         "+9.0; bimodal: b <-> c +0.5*~ / +9.0")


class Refusals(unittest.TestCase):
    def test_a_hostile_file_stops_the_gallery_in_one_line_naming_it(self):
        with tempfile.TemporaryDirectory() as work:
            for machine in MACHINES:
                shutil.copytree(os.path.join(HERE, "data", "results", machine),
                                os.path.join(work, "results", machine))
            matrix = os.path.join(work, "results", MACHINES[1], "matrix.json")
            with open(matrix) as source:
                text = source.read()
            with open(matrix, "w") as target:
                target.write(text.replace('"latency": 1.0', '"latency": NaN', 1))
            readme = os.path.join(work, "README.md")
            with open(readme, "w") as target:
                target.write(f"{gallery.BEGIN}\n{gallery.END}\n")
            folder = f"results/{MACHINES[1]}"
            self.assertEqual(run("--results", "results", where=work),
                             (2, "", f"gallery: {folder}: {folder}/matrix.json: malformed JSON: NaN, which JSON does "
                                     "not allow\n"))
            self.assertEqual(sorted(os.listdir(os.path.join(work, "results", MACHINES[0]))),
                             sorted(os.listdir(os.path.join(HERE, "data", "results", MACHINES[0]))))

    def test_without_matplotlib_the_check_runs_and_drawing_says_why_it_cannot(self):
        result = without_matplotlib("gallery.py", "--check", where=ROOT)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        with tempfile.TemporaryDirectory() as work:
            readme = os.path.join(work, "README.md")
            with open(readme, "w") as target:
                target.write(f"{gallery.BEGIN}\n{gallery.END}\n")
            result = without_matplotlib("gallery.py", "--results", os.path.join(ROOT, "docs", "results"), "--readme",
                                        readme, where=work)
            self.assertEqual((result.returncode, result.stdout, result.stderr),
                             (1, "", "gallery: cannot draw the gallery's pictures: matplotlib is not installed "
                                     "(python3-matplotlib)\n"))
            with open(readme) as source:
                self.assertEqual(source.read(), f"{gallery.BEGIN}\n{gallery.END}\n")


if __name__ == "__main__":
    unittest.main()
