#!/usr/bin/env python3
"""Draws the results gallery of the README from the machines' folders.

Usage: gallery.py [--results DIR] [--readme PATH] [--check]

Every folder under DIR (docs/results by default) is one machine's, as make
results writes it. For each, the heatmaps of its measured families, the
chart of its transitions and its movement tables go into the folder itself
(matrix-<family>.png, matrix-transitions.png,
matrix-movement-<family>-<table>.png), and, once there are two machines or
more, every family's triangle on each machine side by side to
DIR/crossings.png, as tools/compare.py draws them. The README's part
between the gallery's two marker lines is rewritten: a paragraph per machine
saying what it is and what costs on it, then its pictures.

--check draws nothing and writes nothing: it says whether the README's
gallery is the one these folders give, and needs no matplotlib.

Exit status: 0; 1 when the README's gallery is out of date (--check) or a
picture cannot be drawn or written; 2 when a folder or the README cannot be
read (a folder's file is refused as tools/compare.py refuses it).
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402
import compare  # noqa: E402
import heatmap  # noqa: E402
import options  # noqa: E402

BEGIN = "<!-- gallery: begin (make gallery writes what stands between these lines) -->"
END = "<!-- gallery: end -->"
CROSSINGS = "crossings.png"


def folders_under(results):
    return sorted(os.path.join(results, name) for name in os.listdir(results)
                  if os.path.isdir(os.path.join(results, name)))


def load(results):
    """The machines of the folders under results, in the order of their
    names; any folder that cannot be read stops the gallery."""
    machines = []
    for folder in folders_under(results):
        try:
            machine = compare.load_folder(folder)
            # The comparison leaves the movement tables aside; the gallery
            # draws them where the matrix has them.
            machine["movement"] = compare.checked(
                os.path.join(folder, "matrix.json"),
                lambda: heatmap.load_movement(machine["matrix"]["movement"]) if "movement" in machine["matrix"]
                else [])
        except compare.Refused as why:
            raise compare.Refused(f"{folder}: {why}")
        machines.append(machine)
    if not machines:
        raise compare.Refused(f"{results} holds no machine's folder")
    return machines


def picture(folder, name):
    return f"{folder}/matrix-{name}.png"


def pictures(machine):
    """The pictures of one machine, as (path, description), in the order
    the README shows them."""
    folder = machine["folder"].replace(os.sep, "/")
    shown = [(picture(folder, name), f"The {name} family on {machine['label']}")
             for name, family in machine["families"].items() if family["status"] == "measured"]
    transitions = machine["transitions"]
    if transitions and heatmap.measured_kinds(transitions):
        shown.append((picture(folder, heatmap.TRANSITIONS), f"The transitions on {machine['label']}"))
    shown += [(picture(folder, movement_name(family, table)),
               f"The {family['name']} {table['name']} movement table on {machine['label']}")
              for family, table in movement_tables(machine)]
    return shown


def picture_rows(machine):
    """The pictures of one machine in two rows, each one line of the README,
    so that the gallery stays short: the heatmaps and the transitions, then
    the movement tables. A row without a picture is left out."""
    shown = pictures(machine)
    movement = [(path, text) for path, text in shown if " movement table on " in text]
    return [row for row in ([entry for entry in shown if entry not in movement], movement) if row]


def movement_tables(machine):
    """The movement tables that were measured, as (family, table)."""
    return [(family, table) for family in machine["movement"] if family["status"] == "measured"
            for table in family["tables"] if table["cells"]]


def movement_name(family, table):
    return f"{heatmap.MOVEMENT}-{family['name']}-{table['name']}"


def description(machine):
    described, clock = machine["machine"], machine["clock"]
    wide = [name for name in described["simd_extensions"] if name.startswith("avx512")]
    processors = described.get("logical_processors")
    kind = "a virtual machine" if described["virtual_machine"] else "not a virtual machine"
    if processors:
        kind += f", {processors} logical processors"
    return (f"**{machine['label']}**: {described['processor']} ({described['vendor']}, family "
            f"{described['family']}, model {described['model']}; {kind}); core clock {clock['core_ghz']:.2f} GHz, "
            f"time-stamp counter {clock['counter_ghz']:.3f} GHz; "
            + (f"AVX-512 ({', '.join(wide)})" if wide else "no AVX-512")
            + f"; measured {str(described['date'])[:10]} with version {described['version']}, commit "
              f"{str(described['commit'])[:12]}.")


# A family with this many crossings that cost or fewer lists them all; one
# with more gives their count and range, and lists only the bimodal ones.
LISTED = 4


def crossing(cell):
    return f"{cell['first']} <-> {cell['second']} {compare.crossing_text(cell)}"


def span(figures):
    low, high = heatmap.signed(min(figures)), heatmap.signed(max(figures))
    return low if low == high else f"{low} to {high}"


def crossings_summary(cells):
    """The round trips of a family that cost: each of them where there are
    few, else their count and range, with every bimodal one in full."""
    # Dearest first, as the comparison orders them; equals keep the order of
    # the triangle.
    costly = sorted((cell for cell in cells.values() if compare.costs(cell)), key=lambda cell: -compare.dearest(cell))
    if not costly:
        return f"none of {len(cells)} round trips costs"
    if len(costly) <= LISTED:
        return (f"{len(costly)} of {len(cells)} round trips {'costs' if len(costly) == 1 else 'cost'}: "
                + "; ".join(crossing(cell) for cell in costly))
    bimodal = [cell for cell in costly if cell["bimodal"]]
    return (f"{len(costly)} of {len(cells)} round trips cost {span([cell['cycles'] for cell in costly])} "
            f"(typical {span([cell['typical'] for cell in costly])}); dearest {crossing(costly[0])}; "
            + ("bimodal: " + "; ".join(crossing(cell) for cell in bimodal) if bimodal else "none bimodal"))


def findings(machine):
    """What costs on the machine, a line each: every family's crossings, the
    transitions, the benchmark's penalties."""
    lines = []
    for name, family in machine["families"].items():
        if family["status"] == "measured":
            lines.append(f"- `{name}`: {crossings_summary(family['cells'])}")
        elif family["status"] == "unsupported":
            lines.append(f"- `{name}`: not on this processor ({family['why']})")
    if machine["transitions"]:
        lines.append(f"- {heatmap.transitions_summary(machine['transitions'])}")
    lines += [f"- the `{family['name']}` {table['name']} table's {heatmap.movement_summary(table)}"
              for family, table in movement_tables(machine)]
    penalties = [f"{penalty['name']} {compare.penalty_text(machine['penalties'][penalty['name']])}"
                 for penalty in bench.PENALTIES if penalty["name"] in machine["penalties"]]
    lines.append("- the benchmark's penalties per iteration in core cycles: " + "; ".join(penalties))
    return lines


def side_by_side(machines):
    """The crossings that cost, whose picture shows all machines side by
    side: none where there is one machine, whose heatmaps show them better."""
    return compare.crossings(machines, compare.measured_families(machines)[0]) if len(machines) > 1 else []


def section(machines, results):
    """The gallery's text between the markers."""
    lines = [f"Drawn by `make gallery` from the folders under `{results}/`, each written by `make results` on "
             "the machine it names. Per machine, what costs, dearest first (best / typical core cycles; `*` every "
             "window agrees, `~` bimodal), then its heatmaps, its transitions and its movement tables.", ""]
    for machine in machines:
        lines += [description(machine), ""] + findings(machine) + [""]
        lines += [line for row in picture_rows(machine)
                  for line in (" ".join(f"![{text}]({path})" for path, text in row), "")]
    if side_by_side(machines):
        lines += ["Every family's round trips on each machine, side by side on one scale (`make compare` prints "
                  "those that cost, with the latencies, transitions and penalties):", "",
                  f"![Every family's round trips, by machine]({results}/{CROSSINGS})", ""]
    return "\n".join(lines)


def replaced(readme, text):
    """The README with its gallery part replaced by text."""
    if readme.count(BEGIN) != 1 or readme.count(END) != 1 or readme.index(BEGIN) > readme.index(END):
        raise ValueError(f"the README needs the marker lines {BEGIN!r} and {END!r}, once each, in that order")
    head, rest = readme.split(BEGIN)
    _, tail = rest.split(END)
    return f"{head}{BEGIN}\n{text}\n{END}{tail}"


def draw(machines, results):
    """Every picture the gallery shows; gives the paths written."""
    written = []
    for machine in machines:
        folder = machine["folder"]
        for name, family in machine["families"].items():
            if family["status"] == "measured":
                figure = heatmap.draw(machine["matrix"], family)
                written += heatmap.save(figure, os.path.join(folder, "matrix"), name, ["png"])
        transitions = machine["transitions"]
        if transitions and heatmap.measured_kinds(transitions):
            figure = heatmap.draw_transitions(machine["matrix"], transitions)
            written += heatmap.save(figure, os.path.join(folder, "matrix"), heatmap.TRANSITIONS, ["png"])
        for family, table in movement_tables(machine):
            figure = heatmap.draw_movement(machine["matrix"], family, table)
            written += heatmap.save(figure, os.path.join(folder, "matrix"), movement_name(family, table), ["png"])
    if side_by_side(machines):
        path = os.path.join(results, CROSSINGS)
        compare.save(compare.draw(machines, compare.measured_families(machines)[0]), path)
        written.append(path)
    return written


def main(argv=None):
    parser = options.Parser("gallery", description=__doc__.split("\n\n")[0])
    parser.add_argument("--results", default="docs/results", help="the machines' folders (default: docs/results)")
    parser.add_argument("--readme", default="README.md", help="the README to rewrite (default: README.md)")
    parser.add_argument("--check", action="store_true", help="only say whether the README's gallery is current")
    args = parser.parse_args(argv)
    results = os.path.normpath(args.results).replace(os.sep, "/")
    try:
        machines = load(results)
        with open(args.readme) as source:
            readme = source.read()
        updated = replaced(readme, section(machines, results))
    except (compare.Refused, OSError, ValueError) as error:
        print(f"gallery: {error}", file=sys.stderr)
        return 2
    if not args.check and heatmap.NO_DRAWING:
        print(f"gallery: cannot draw the gallery's pictures: {heatmap.NO_DRAWING}", file=sys.stderr)
        return 1
    if args.check:
        if updated != readme:
            print(f"gallery: the gallery in {args.readme} is not the one {results}/ gives: run make gallery",
                  file=sys.stderr)
            return 1
        return 0
    try:
        for path in draw(machines, results):
            print(f"gallery: wrote {path}")
        with open(args.readme, "w") as target:
            target.write(updated)
    except OSError as error:
        print(f"gallery: cannot write: {error}", file=sys.stderr)
        return 1
    print(f"gallery: wrote the gallery of {len(machines)} machine{'s' if len(machines) != 1 else ''} "
          f"into {args.readme}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
