#!/usr/bin/env python3
"""Draws the results gallery of the README from the machines' folders.

Usage: gallery.py [--results DIR] [--readme PATH] [--check]

Every folder under DIR (docs/results by default) is one machine's, as make
results writes it. For each, the heatmaps of its measured families, the
chart of its transitions and its movement tables go into the folder itself
(matrix-<family>.png, matrix-transitions.png,
matrix-movement-<family>-<table>.png), and, once there are two machines or
more, every family's triangle on each machine side by side to
DIR/crossings.png, as tools/compare.py draws them. Every heatmap, the
triangles, the movement tables and the side-by-side picture alike, is drawn
on one colour scale, which reaches the largest figure of any of them, and
each picture is titled with the processor's name and the clock that the
machine's paragraph gives. The README's part between the gallery's two
marker lines is rewritten: a table of every machine's headline answers, then
a paragraph per machine saying what it is, what its folder lacks beside the
others (the classes its programs predate, transitions of one chain length)
and what costs on it, then its pictures.

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


def named(machine):
    """The processor and the clock that the machine's pictures are titled
    with, as its paragraph gives them: the name that /proc/cpuinfo gave, and
    the core clock over the matrix's own windows, which converted what the
    pictures show."""
    return {"processor": machine["machine"]["processor"],
            "clock": f"core clock {machine['matrix']['calibration']['core_ghz']:.2f} GHz over the matrix's windows"}


def format_of(machine):
    return machine["matrix"].get("format_version", 1)


def description(machine):
    described, clock = machine["machine"], machine["clock"]
    wide = [name for name in described["simd_extensions"] if name.startswith("avx512")]
    processors = described.get("logical_processors")
    kind = "a virtual machine" if described["virtual_machine"] else "not a virtual machine"
    if processors:
        kind += f", {processors} logical processors"
    # A host may give CPUID a brand string of its own, which the matrix
    # read, beside what /proc/cpuinfo names.
    brand = machine["matrix"]["processor"]
    also = f', which CPUID names "{brand}"' if brand != described["processor"] else ""
    return (f"**{machine['label']}**: {described['processor']} ({described['vendor']}, family "
            f"{described['family']}, model {described['model']}{also}; {kind}); core clock "
            f"{clock['core_ghz']:.2f} GHz by simd-mix-clock, {named(machine)['clock']}; time-stamp counter "
            f"{clock['counter_ghz']:.3f} GHz; "
            + (f"AVX-512 ({', '.join(wide)})" if wide else "no AVX-512")
            + f"; measured {str(described['date'])[:10]} with version {described['version']}, commit "
              f"{str(described['commit'])[:12]}, results of format {format_of(machine)}.")


def plural(operation):
    if operation.endswith("y"):
        return operation[:-1] + "ies"
    return operation + ("es" if operation.endswith(("s", "sh", "ch", "x")) else "s")


def operations(machines):
    """Each class's operation ("shift", "compare"), by family and class
    name, as any machine's matrix gives it."""
    found = {}
    for machine in machines:
        for entry in machine["matrix"].get("families", []):
            for item in entry.get("classes", []) if isinstance(entry, dict) else []:
                if isinstance(item, dict) and isinstance(item.get("operation"), str):
                    found.setdefault((entry.get("name"), item.get("name")), item["operation"])
    return found


def kinds_text(family_name, missing, classes, known):
    """The classes `missing` of a family's `classes`, in words: a kind of
    class ("the shifts") where every class of its operation is missing, a
    round trip through a register by that register, and a class by its name
    where others of its operation were measured."""
    parts = []
    for name in missing:
        if ":" in name:
            register = name.split(":", 1)[1]
            parts.append(f"round trips through {register.upper() if register.startswith('e') else register}")
            continue
        operation = known.get((family_name, name))
        kin = [other for other in classes if ":" not in other and known.get((family_name, other)) == operation]
        parts.append(plural(operation) if operation and all(other in missing for other in kin) else name)
    parts = list(dict.fromkeys(parts))
    return parts[0] if len(parts) == 1 else ", ".join(parts[:-1]) + " and " + parts[-1]


def lacking(machines):
    """What each machine's folder lacks beside the others, by (label, family
    name): the line that says which classes its programs predate and how
    many of the round trips it measured, for each measured family that lacks
    any."""
    known = operations(machines)
    found = {}
    for name in compare.measured_families(machines)[0]:
        classes = compare.family_classes(machines, name)
        for machine in machines:
            family = compare.family_state(machine, name)[0]
            missing = compare.never_measured(family, classes) if family else []
            if missing:
                have = compare.pairs_of(len(family["names"]))
                found[(machine["label"], name)] = (
                    f"measured before the {kinds_text(name, missing, classes, known)}: {have} of "
                    f"{compare.pairs_of(len(family['names']) + len(missing))} round trips")
    return found


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


ONE_LENGTH_NOTE = ("measured with one chain length (format 1), which cannot tell a cost per change of state from "
                   "one per instruction")


def findings(machine, lacks):
    """What costs on the machine, a line each: every family's crossings,
    with what its folder lacks (`lacks`, as lacking gives it), the
    transitions, the benchmark's penalties."""
    lines = []
    for name, family in machine["families"].items():
        if family["status"] == "measured":
            lack = lacks.get((machine["label"], name))
            lines.append(f"- `{name}`" + (f" ({lack})" if lack else "") + f": {crossings_summary(family['cells'])}")
        elif family["status"] == "unsupported":
            lines.append(f"- `{name}`: not on this processor ({family['why']})")
    if machine["transitions"]:
        summary = heatmap.transitions_summary(machine["transitions"], titled=True)
        if machine["transitions"]["format_version"] < 2:
            summary = summary.replace("transitions that cost:", f"transitions, {ONE_LENGTH_NOTE}; those that cost:", 1)
        lines.append(f"- {summary}")
    lines += [f"- the `{family['name']}` {table['name']} table's {heatmap.movement_summary(table, titled=True)}"
              for family, table in movement_tables(machine)]
    penalties = [f"{penalty['name']} {compare.penalty_text(machine['penalties'][penalty['name']])}"
                 for penalty in bench.PENALTIES if penalty["name"] in machine["penalties"]]
    lines.append("- the benchmark's penalties per iteration in core cycles: " + "; ".join(penalties))
    return lines


def dearest_crossing(machine):
    """The dearest round trip of every family of the machine, in words."""
    costly = [(compare.dearest(cell), name, cell) for name, family in machine["families"].items()
              if family["status"] == "measured" for cell in family["cells"].values() if compare.costs(cell)]
    if not costly:
        return "none costs"
    # The first of equals, in the order of the families and their cells.
    _, name, cell = max(costly, key=lambda item: item[0])
    return f"`{name}` {crossing(cell)}"


def dearest_transition(machine, figure):
    """The dearest measurable cost of a transition figure, as "KIND after
    STATE +FIGURE", in the titles that the chart gives; None where the
    machine's transitions have no such figure."""
    transitions = machine["transitions"]
    if not transitions or figure not in [name for name, _ in transitions["figures"]]:
        return None
    states = dict(transitions["states"])
    costly = [(result["figures"][figure], kind, state) for kind in heatmap.measured_kinds(transitions)
              for state, result in heatmap.measured_results(kind)
              if result["figures"][figure]["measurable"] and result["figures"][figure]["cycles"] > 0]
    if not costly:
        return "none measurable"
    entry, kind, state = max(costly, key=lambda item: round(item[0]["cycles"], 1))
    marks = "*" + ("~" if entry.get("bimodal") else "")
    return f"{kind['title']} after {states[state][0].lower() + states[state][1:]} {heatmap.signed(entry['cycles'])}{marks}"


def narrow_stores(machine):
    """The dearest of the SSE widths table's cells in which narrower stores
    fill the register and one load reads it whole, in the table's titles."""
    for family, table in movement_tables(machine):
        if family["name"] != "sse" or table["name"] != "widths":
            continue
        titles = {side: dict(zip(table["names"][side], table["titles"][side])) for side in ("stores", "loads")}
        cells = [cell for cell in table["cells"].values()
                 if cell["load"] == "whole" and cell["store"] != "whole" and not heatmap.is_reference(cell)]
        if not cells:
            break
        cell = max(cells, key=lambda cell: round(cell["extra"], 1))
        return (f"{titles['stores'][cell['store']]} -> {titles['loads'][cell['load']]} "
                f"{heatmap.movement_label(cell)}")
    return compare.NOT_MEASURED


def penalty_cell(machine, name):
    penalty = machine["penalties"].get(name)
    if penalty is None:
        return compare.NOT_MEASURED
    core = penalty["core_cycles_per_iteration"]
    if core is None:
        return f"n/a (core cycles untrusted; {bench.signed(penalty['ticks_per_iteration'])} ticks)"
    return bench.signed(core) + ("*" if penalty["measurable"] else "")


SUMMARY_COLUMNS = ("machine", "integer data through floating-point moves (test 1 - test 0)",
                   "a change of type at every step (test 3 - (test 0 + test 2) / 2)", "the dearest crossing",
                   "a dirty upper half, per change of state", "a dirty upper half, per instruction after a change",
                   "narrow stores, then a 128-bit load")


def summary_table(machines):
    """The machines' headline answers, a row per machine, in the names that
    their pictures give."""
    rows = []
    for machine in machines:
        transitions = machine["transitions"]
        old = transitions is not None and transitions["format_version"] < 2
        per_change = "not measured (format 1: one chain length)" if old else \
            dearest_transition(machine, "per_change") or compare.NOT_MEASURED
        per_instruction = (dearest_transition(machine, heatmap.ONE_LENGTH[0]) + " (one chain length, format 1)"
                           if old else dearest_transition(machine, "per_instruction") or compare.NOT_MEASURED)
        rows.append([machine["label"]] + [penalty_cell(machine, penalty["name"]) for penalty in bench.PENALTIES]
                    + [dearest_crossing(machine), per_change, per_instruction, narrow_stores(machine)])
    return [compare.row(SUMMARY_COLUMNS), compare.row(["---"] * len(SUMMARY_COLUMNS))] + [compare.row(row)
                                                                                           for row in rows]


def side_by_side(machines):
    """The crossings that cost, whose picture shows all machines side by
    side: none where there is one machine, whose heatmaps show them better."""
    return compare.crossings(machines, compare.measured_families(machines)[0]) if len(machines) > 1 else []


def section(machines, results):
    """The gallery's text between the markers."""
    lines = [f"Drawn by `make gallery` from the folders under `{results}/`, each written by `make results` on "
             "the machine it names. First every machine's headline answers in core cycles (the benchmark's per "
             "iteration, the others best / typical as the pictures give them; `*` every window agrees, `~` "
             "bimodal; see the [glossary](docs/glossary.md)); then per machine what costs, dearest first, and its "
             "heatmaps, its transitions and its movement tables, every heatmap on one colour scale.", ""]
    lines += summary_table(machines) + [""]
    lacks = lacking(machines)
    for machine in machines:
        lines += [description(machine), ""] + findings(machine, lacks) + [""]
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


def reach(machines):
    """How far the one colour scale of every heatmap reaches either side of
    zero: the largest round trip of any machine's triangles, or extra of any
    movement cell over its reference, so that a figure takes the same colour
    in every picture."""
    figures = [cell["cycles"] for machine in machines for family in machine["families"].values()
               if family["status"] == "measured" for cell in family["cells"].values()]
    figures += [cell["extra"] for machine in machines for _, table in movement_tables(machine)
                for cell in table["cells"].values() if not heatmap.is_reference(cell)]
    return heatmap.reach_of(figures)


def figures(machines, results):
    """Every picture the gallery shows, as (path without its ending, a
    function that draws it)."""
    scale, lacks = reach(machines), lacking(machines)
    for machine in machines:
        prefix, data, title = os.path.join(machine["folder"], "matrix"), machine["matrix"], named(machine)
        for name, family in machine["families"].items():
            if family["status"] == "measured":
                notes = [lacks[(machine["label"], name)]] if (machine["label"], name) in lacks else []
                yield f"{prefix}-{name}", lambda family=family, data=data, title=title, notes=notes: heatmap.draw(
                    data, family, scale, title, notes)
        transitions = machine["transitions"]
        if transitions and heatmap.measured_kinds(transitions):
            yield f"{prefix}-{heatmap.TRANSITIONS}", lambda data=data, transitions=transitions, title=title: \
                heatmap.draw_transitions(data, transitions, title)
        for family, table in movement_tables(machine):
            yield f"{prefix}-{movement_name(family, table)}", \
                lambda data=data, family=family, table=table, title=title: heatmap.draw_movement(
                    data, family, table, scale, title)
    if side_by_side(machines):
        yield os.path.join(results, CROSSINGS[:-len(".png")]), lambda: compare.draw(
            machines, compare.measured_families(machines)[0], scale)


def draw(machines, results):
    """Every picture the gallery shows; gives the paths written."""
    written = []
    for prefix, drawn in figures(machines, results):
        path = f"{prefix}.png"
        compare.save(drawn(), path)
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
