#!/usr/bin/env python3
"""Compares results folders of several machines side by side.

Usage: compare.py FOLDER... [--picture PATH]

Each folder is one machine's, as make results writes it: machine.json,
clock.json, bench.json and matrix.json. The report, in Markdown on standard
output, has one column per machine: what the machine is, each family's
latencies, every round trip between classes that costs on any machine (best
and typical, with the marks of the heatmaps), the upper-half transitions (a
table per figure: per change of state, per instruction after a change, per
instruction in the steady state; a folder of format 1 has one, per
instruction over one chain length) and the benchmark's two penalties in core
cycles. A machine that lacks a family,
a transition or a state shows "not on this processor".

--picture draws each family's triangle of round trips, a row per family and
a panel per machine, side by side on the heatmaps' one colour scale, each
panel saying how many of its round trips cost and the dearest, to PATH (.png
or .svg); more than five machines take bands of five at most, one under
the other.
The report needs no matplotlib: without it, a line on standard error says
that the picture was not drawn, and the exit status stays as the folders
make it.

A folder that misses a file, holds one that is malformed JSON, nested too
deeply, holds NaN, Infinity or a number too large to be finite, is larger
than 64 MB, or has a format version this tool does not know (see
results_files.py), is refused with a line on standard error naming the file
and what is wrong; the other folders are still compared.

Exit status: 0; 1 when a folder was refused or the picture cannot be
written; 2 when no folder can be compared.
"""

import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402
import heatmap  # noqa: E402
import modes  # noqa: E402
import options  # noqa: E402
import results_files  # noqa: E402
from heatmap import field, listed, signed  # noqa: E402
from results_files import Refused  # noqa: E402

# The report needs no matplotlib; the picture does (heatmap.NO_DRAWING).
if not heatmap.NO_DRAWING:
    import matplotlib.pyplot as plt
    from matplotlib.collections import PatchCollection
    from matplotlib.patches import Rectangle

FILES = ("machine.json", "clock.json", "bench.json", "matrix.json")
ABSENT = "not on this processor"
NOT_MEASURED = "not measured"


def read_json(folder, name):
    """The file's JSON object, read with the care that results_files takes."""
    return results_files.read(os.path.join(folder, name))


def checked(path, reader):
    """What reader gives, or a refusal naming the file and the field that is
    missing or wrong."""
    try:
        return reader()
    except (ValueError, KeyError, TypeError) as error:
        raise Refused(f"{path}: {error}")


def read_bench(data):
    penalties = {}
    for entry in listed(data, "penalties", "the benchmark"):
        name = field(entry, "name", "a penalty")
        for needed in ("formula", "core_cycles_per_iteration", "ticks_per_iteration", "measurable"):
            field(entry, needed, f"penalty {name!r}")
        penalties[name] = entry
    return penalties


def read_machine(data):
    for needed in ("processor", "vendor", "family", "model", "simd_extensions", "virtual_machine", "version",
                   "commit", "date"):
        field(data, needed, "the machine")
    return data


def read_clock(data):
    for needed in ("core_ghz", "counter_ghz", "trusted"):
        field(data, needed, "the clock")
    # A calibration none of whose windows converted writes null for its clocks.
    for needed in ("core_ghz", "counter_ghz"):
        if isinstance(data[needed], bool) or not isinstance(data[needed], (int, float)):
            raise ValueError(f"the clock's {needed!r} is {json.dumps(data[needed])}, not a number")
    return data


def load_folder(folder):
    """One machine: its label, its description, clock, penalties, families by
    name and transitions."""
    files = {name: read_json(folder, name) for name in FILES}

    def path(name):
        return os.path.join(folder, name)

    machine = checked(path("machine.json"), lambda: read_machine(files["machine.json"]))
    clock = checked(path("clock.json"), lambda: read_clock(files["clock.json"]))
    penalties = checked(path("bench.json"), lambda: read_bench(files["bench.json"]))
    matrix, families, transitions = checked(path("matrix.json"), lambda: heatmap.read(files["matrix.json"]))
    latencies = checked(path("matrix.json"), lambda: read_latencies(matrix, families))
    return {"label": os.path.basename(os.path.normpath(folder)), "folder": folder, "machine": machine,
            "clock": clock, "penalties": penalties, "matrix": matrix, "latencies": latencies,
            "families": {family["name"]: family for family in families}, "transitions": transitions}


def read_latencies(matrix, families):
    """Each measured family's classes by name, each with its latency, best
    and typical."""
    entries = {entry["name"]: entry for entry in listed(matrix, "families", "the matrix")}
    latencies = {}
    for family in families:
        if family["status"] != "measured":
            continue
        latencies[family["name"]] = {}
        for entry in entries[family["name"]]["classes"]:
            where = f"class {entry['name']!r} of family {family['name']!r}"
            for needed in ("latency", "typical"):
                field(entry, needed, where)
            latencies[family["name"]][entry["name"]] = entry
    return latencies


def row(cells):
    # A bar in a processor's name would end its cell.
    return "| " + " | ".join(cell.replace("|", "\\|") for cell in cells) + " |"


def table(heading, machines, rows):
    """A Markdown table with a column per machine under `heading`."""
    lines = [row([heading] + [machine["label"] for machine in machines]),
             row(["---"] * (len(machines) + 1))]
    return lines + [row(cells) for cells in rows]


def in_order(lists):
    """The items of every list, each once, in the order first met."""
    return list(dict.fromkeys(item for items in lists for item in items))


def machine_rows(machines):
    def levels(machine):
        seen = machine["machine"].get("core_clock_levels_ghz") or []
        return f" (levels seen: {', '.join(f'{level:.2f}' for level in seen)})" if len(seen) > 1 else ""

    def facts(machine):
        described, clock = machine["machine"], machine["clock"]
        processors = described.get("logical_processors")
        stepping = described.get("stepping")
        return [
            described["processor"],
            f"{described['vendor']}, family {described['family']}, model {described['model']}"
            + (f", stepping {stepping}" if stepping is not None else ""),
            ("yes" if described["virtual_machine"] else "no")
            + (f", {processors} logical processors" if processors else ""),
            " ".join(described["simd_extensions"]),
            f"{clock['core_ghz']:.2f} GHz{levels(machine)}" + ("" if clock["trusted"] else ", cross-check failed"),
            f"{clock['counter_ghz']:.3f} GHz",
            described.get("operating_system", "unknown"),
            f"{described['version']}, commit {str(described['commit'])[:12]}"
            + (" with local changes" if described.get("commit_modified") else ""),
            str(described["date"])[:10],
        ]

    names = ["processor", "vendor, family, model", "virtual machine", "SIMD extensions", "core clock",
             "time-stamp counter", "operating system", "programs", "measured"]
    columns = [facts(machine) for machine in machines]
    return [[name] + [column[number] for column in columns] for number, name in enumerate(names)]


def family_state(machine, name):
    """The machine's family of that name when measured, else what its cells
    show instead."""
    family = machine["families"].get(name)
    if family is None:
        return None, NOT_MEASURED
    if family["status"] == "unsupported":
        return None, ABSENT
    if family["status"] != "measured":
        return None, NOT_MEASURED
    return family, None


def missing_class(family, class_name):
    """What stands for a class that a measured family lacks: left out, where
    the processor could not run it, or not measured, where the program that
    measured the machine had no such class yet."""
    left_out = {item.split(" (")[0] for item in family.get("left_out", [])}
    return "left out" if class_name in left_out else NOT_MEASURED


def measured_families(machines):
    """The names of the families, in the order first met, that some machine
    measured; and the others, with the reason the first machine gave."""
    names = in_order([machine["families"] for machine in machines])
    measured, never = [], []
    for name in names:
        states = [family_state(machine, name)[0] for machine in machines]
        if any(states):
            measured.append(name)
        else:
            first = next(machine["families"][name] for machine in machines if name in machine["families"])
            never.append(f"`{name}` ({first['why'] or first['status']})")
    return measured, never


def title_of(machines, name):
    return next(family_state(machine, name)[0]["title"] for machine in machines if family_state(machine, name)[0])


def latency_section(machines, families):
    lines = ["## Latencies", "",
             "Core cycles per instruction of a dependent chain of the class alone, best / typical.", ""]
    for name in families:
        classes = in_order([family_state(machine, name)[0]["names"] for machine in machines
                            if family_state(machine, name)[0]])
        rows = []
        for class_name in classes:
            cells = [f"`{class_name}`"]
            for machine in machines:
                instead = family_state(machine, name)[1]
                entry = machine["latencies"].get(name, {}).get(class_name)
                if instead:
                    cells.append(instead)
                elif entry is None:
                    cells.append(missing_class(family_state(machine, name)[0], class_name))
                else:
                    cells.append(f"{entry['latency']:.2f} / {entry['typical']:.2f}")
            rows.append(cells)
        lines += [f"### `{name}`: {title_of(machines, name)}", ""] + table("class", machines, rows) + [""]
    return lines


def costs(cell):
    """Whether a round trip costs: every window puts it above zero, or its
    typical run costs clearly more than its best."""
    return (cell["measurable"] and cell["cycles"] > 0) or cell["bimodal"]


def dearest(cell):
    # Sorted by the labels' tenths, so that equal labels keep their order.
    return round(max(cell["cycles"], cell["typical"] if cell["bimodal"] else cell["cycles"]), 1)


def crossings(machines, families):
    """The round trips that cost on some machine, as (family, pair, cell per
    machine label or what stands instead), dearest first."""
    found = []
    for name in families:
        pairs = in_order([family_state(machine, name)[0]["cells"] for machine in machines
                          if family_state(machine, name)[0]])
        # A machine that lists the two classes the other way round has the
        # same round trip: one row, in the order first met.
        pairs = [pair for number, pair in enumerate(pairs) if pair[::-1] not in pairs[:number]]
        for pair in pairs:
            cells = {}
            for machine in machines:
                family, instead = family_state(machine, name)
                cells[machine["label"]] = instead or (
                    family["cells"].get(pair) or family["cells"].get(pair[::-1])
                    or next((missing_class(family, class_name) for class_name in pair if class_name not in family["names"]),
                            "left out"))
            costly = [cell for cell in cells.values() if isinstance(cell, dict) and costs(cell)]
            if costly:
                found.append((name, pair, cells, max(dearest(cell) for cell in costly)))
    found.sort(key=lambda item: -item[3])
    return [(name, pair, cells) for name, pair, cells, _ in found]


def crossing_text(cell):
    if not isinstance(cell, dict):
        return cell
    text = f"{heatmap.cell_label(cell)} / {signed(cell['typical'])}"
    if cell["bimodal"] and heatmap.fast_text(cell):
        text += f", {heatmap.fast_text(cell)}"
    return text


def crossing_section(machines, found, resolution):
    lines = ["## Crossings that cost", "",
             "Extra core cycles of one round trip between two classes, row to column and back, best / typical, "
             "for every round trip that costs on at least one machine, dearest first. "
             f"`*`: every window puts it {resolution:g} cycle or more from zero on one side; "
             f"`~`: bimodal, its runs fall in two modes more than {modes.BIMODAL_MARGIN:g} cycle apart, the faster "
             f"(fast) holding at least {100 * modes.FAST_SHARE_LEAST:g}% of them.", ""]
    if not found:
        return lines + ["No round trip costs on any machine.", ""]
    rows = [[f"`{name}` `{pair[0]}` <-> `{pair[1]}`"] + [crossing_text(cells[machine["label"]])
                                                        for machine in machines] for name, pair, cells in found]
    return lines + table("round trip", machines, rows) + [""]


# What each figure of the transitions is, for its table.
TRANSITION_FIGURES = {
    "per_change": "Extra core cycles at each change of state, the state written at the head of every iteration, "
                  "from chains of two lengths beyond the same chains with no state write; its modes are those of "
                  "the long chain's runs, each read per iteration.",
    "per_instruction": "Extra core cycles per instruction after a change of state, from the same chains; its modes "
                       "are those of the long chain's runs, each spread over its instructions.",
    "steady_per_instruction": "Extra core cycles per instruction with the state set once before the loop, beyond "
                              "the same chain with no state write; its modes are those of that chain's runs.",
    heatmap.ONE_LENGTH[0]: "Extra core cycles per instruction of one chain with the state written at the head of "
                           "every iteration, beyond the same chain with no state write, and per iteration: a cost "
                           "per change of state and a cost per instruction read alike here; its modes are those of "
                           "that chain's runs, judged from each window's fastest and middle run.",
}


def transition_text(machine, kind_name, state_name, figure):
    """A machine's cell of one figure of a kind after a state."""
    section = machine["transitions"]
    if section is None:
        return NOT_MEASURED
    kind = next((kind for kind in section["kinds"] if kind["name"] == kind_name), None)
    if kind is None:
        return NOT_MEASURED
    result = kind["states"].get(state_name) if kind["status"] == "measured" else None
    if kind["status"] == "unsupported" or (result and result["status"] == "unsupported"):
        return ABSENT
    if result is None or result["status"] != "measured":
        return NOT_MEASURED
    entry = result["figures"].get(figure)
    if entry is None:
        return f"not measured in format {section['format_version']}"
    text = f"{signed(entry['cycles'])}{'*' if entry['measurable'] else ''}{'~' if entry.get('bimodal') else ''} / " \
           f"{signed(entry['typical'])}"
    if isinstance(entry.get("per_iteration"), (int, float)):
        text += f" ({signed(entry['per_iteration'])} per iteration)"
    if entry.get("bimodal") and heatmap.fast_text(entry):
        text += f", {heatmap.fast_text(entry)}"
    return text


def transition_section(machines):
    """A table per figure of the transitions, a row per kind and state."""
    known = [machine["transitions"] for machine in machines if machine["transitions"]]
    if not known:
        return []
    figures = in_order([section["figures"] for section in known])
    states = in_order([[state for state in section["states"]] for section in known])
    kinds = in_order([[(kind["name"], kind["title"]) for kind in section["kinds"] if kind["status"] == "measured"]
                      for section in known])
    lines = ["## Transitions", "",
             "Extra core cycles of a dependent chain after each upper-half state, beyond the same chain with no "
             "state write, best / typical; a table per figure. "
             "`~`: bimodal, the runs that the figure judges fall in two modes more than "
             f"{modes.BIMODAL_MARGIN:g} cycle apart in its unit, the faster (fast) holding at least "
             f"{100 * modes.FAST_SHARE_LEAST:g}% of them.", ""]
    for figure, title in figures:
        rows = [[f"{kind_title}: {state_title}"] + [transition_text(machine, kind_name, state_name, figure)
                                                     for machine in machines]
                for kind_name, kind_title in kinds for state_name, state_title in states]
        lines += [f"### {title[0].upper()}{title[1:]}", "", TRANSITION_FIGURES.get(figure, title), ""]
        lines += table("instruction: state before it", machines, rows) + [""]
    return lines


def penalty_text(penalty):
    core = penalty["core_cycles_per_iteration"]
    if core is None:
        return f"n/a (core cycles untrusted; {bench.signed(penalty['ticks_per_iteration'])} ticks)"
    if penalty["measurable"]:
        return f"{bench.signed(core)}*"
    lowest, highest = penalty.get("window_lowest"), penalty.get("window_highest")
    if isinstance(lowest, (int, float)) and isinstance(highest, (int, float)):
        return f"{bench.signed(core)} (windows {bench.signed(lowest)} to {bench.signed(highest)})"
    return bench.signed(core)


def penalty_section(machines):
    rows = []
    for penalty in bench.PENALTIES:
        cells = [f"{penalty['name']} ({penalty['formula']})"]
        for machine in machines:
            found = machine["penalties"].get(penalty["name"])
            cells.append(penalty_text(found) if found else NOT_MEASURED)
        rows.append(cells)
    return ["## The benchmark's penalties", "",
            "Core cycles per iteration, the median over the clock's windows; `*`: every window puts it "
            f"{bench.PENALTY_RESOLUTION:g} cycle or more from zero on one side.", ""] \
        + table("penalty", machines, rows) + [""]


def report(machines, resolution):
    families, never = measured_families(machines)
    found = crossings(machines, families)
    lines = [f"# Results of {len(machines)} machine{'s' if len(machines) != 1 else ''}", ""]
    lines += table("machine", machines, machine_rows(machines)) + [""]
    lines += latency_section(machines, families)
    if never:
        lines += ["Measured on no machine: " + "; ".join(never) + ".", ""]
    lines += crossing_section(machines, found, resolution)
    lines += transition_section(machines)
    lines += penalty_section(machines)
    return "\n".join(lines).rstrip("\n") + "\n", found


# The picture sets at most BAND machines side by side, in bands one under the
# other beyond that, so that it stays about a screen wide. Its squares are
# SQUARE inches wide, smaller where the bands would make the picture taller
# than TALLEST inches, about two screens at the saved resolution.
BAND = 5
SQUARE = 0.12
TALLEST = 19.0
PANEL_GAP = 0.3
# Inches for the class names under and beside the first panel of a row, per
# character of the longest name, at the names' type size.
NAME_INCHES = 0.048
ABSENT_SHADE = "#e8e8e8"


def family_classes(machines, name):
    """The family's classes, each once: those of the machine that measured
    the most of them first, in its order, then any others."""
    lists = [family_state(machine, name)[0]["names"] for machine in machines if family_state(machine, name)[0]]
    return in_order(sorted(lists, key=len, reverse=True))


def bands(machines):
    """The machines with their indexes, in bands of at most BAND, as even as
    they go."""
    count = -(-len(machines) // BAND)
    size = -(-len(machines) // count)
    numbered = list(enumerate(machines))
    return [numbered[start:start + size] for start in range(0, len(machines), size)]


def never_measured(family, classes):
    """The classes of `classes` that the machine's family neither measured
    nor left out: its folder was written by programs that had no such class
    yet."""
    left_out = {item.split(" (")[0] for item in family.get("left_out", [])}
    return [name for name in classes if name not in family["names"] and name not in left_out]


def pairs_of(count):
    return count * (count - 1) // 2


def panel_caption(family, classes):
    """What costs in one machine's triangle: how many of the round trips it
    measured, which may be fewer than the triangle's `classes` hold, then the
    dearest, on two short lines that a small panel's width holds; a third
    line first where its programs predate some of the classes, so that their
    grey squares say why."""
    costly = [cell for cell in family["cells"].values() if costs(cell)]
    pairs = pairs_of(len(family["names"]))
    older = never_measured(family, classes)
    before = (f"older programs: {pairs} of {pairs_of(len(family['names']) + len(older))} measured\n"
              if older else "")
    if not costly:
        return f"{before}none of {pairs} costs"
    dearest_cell = max(costly, key=dearest)
    bimodal = sum(1 for cell in costly if cell["bimodal"])
    typical = f" typ {signed(dearest_cell['typical'])}" if dearest_cell["bimodal"] else ""
    return (f"{before}{len(costly)} of {pairs} cost" + (f", {bimodal} bimodal" if bimodal else "")
            + f"\ndearest {heatmap.cell_label(dearest_cell)}{typical}")


def draw_triangle(axes, family, classes, colours, norm, gid):
    """One machine's triangle of the family, its squares unlabelled: row i,
    column j < i holds the round trip of classes i and j, grey where this
    machine left the pair out, hatched where it is bimodal."""
    squares, figures, left_out, bimodal = [], [], [], []
    for row in range(1, len(classes)):
        for column in range(row):
            first, second = classes[column], classes[row]
            cell = family["cells"].get((first, second)) or family["cells"].get((second, first))
            if cell is None:
                left_out.append(Rectangle((column, row), 1, 1))
                continue
            if cell["bimodal"]:
                bimodal.append((len(squares), f"bimodal-{gid}-{first}-{second}"))
            squares.append(Rectangle((column, row), 1, 1))
            figures.append(cell["cycles"])
    # A panel holds up to 190 squares and a picture thirty panels: one
    # collection a kind, its colours in one call, takes a fraction of the
    # time that the squares take one by one.
    shades = colours(norm(figures)) if figures else []
    for patches, colour, name in ((squares, shades, "squares"), (left_out, ABSENT_SHADE, "left-out")):
        if patches:
            axes.add_collection(PatchCollection(patches, facecolors=colour, edgecolors="white", linewidths=0.5,
                                                gid=f"{name}-{gid}"))
    for number, name in bimodal:
        shade = shades[number]
        dark = 0.299 * shade[0] + 0.587 * shade[1] + 0.114 * shade[2] < 0.5
        axes.add_patch(Rectangle(squares[number].get_xy(), 1, 1, facecolor="none", linewidth=0,
                                 edgecolor="white" if dark else "black", alpha=0.6, hatch="//////", gid=name))


def draw(machines, families, reach=None):
    """Each family's round trips as a row of triangles, one per machine, side
    by side and all on the heatmaps' one colour scale, so that machines are
    told apart by their patterns; each panel says what costs in it. The
    scale reaches the dearest of these round trips, or `reach` where given
    (the gallery's, over every picture it shows)."""
    classes = {name: family_classes(machines, name) for name in families}
    figures = {(name, index, pair): cell for name in families for index, machine in enumerate(machines)
               if family_state(machine, name)[0]
               for pair, cell in family_state(machine, name)[0]["cells"].items()}
    norm, reach = heatmap.colour_norm(figures, reach)
    colours = plt.get_cmap(heatmap.COLOURS)
    grouped = bands(machines)
    rows = [(band, name) for band in grouped for name in families]
    spans = {name: max(len(classes[name]) - 1, 1) for name in families}
    longest = max(len(class_name) for names in classes.values() for class_name in names)
    left = 0.2 + NAME_INCHES * longest
    names_under = 0.15 + NAME_INCHES * longest
    # A panel's caption takes three lines, four where its folder predates
    # some of the classes.
    heading = 0.78 if any(never_measured(family_state(machine, name)[0], classes[name])
                          for machine in machines for name in families if family_state(machine, name)[0]) else 0.65
    top = 0.75
    fixed = top + len(rows) * (heading + names_under) + 0.1
    square = min(SQUARE, (TALLEST - fixed) / sum(spans[name] for _, name in rows))
    panel = max(spans.values()) * square
    widest = max(len(band) for band in grouped)
    # Room for the colour bar and its label, and the width that the title's
    # two lines need however few machines there are.
    width = max(left + widest * panel + (widest - 1) * PANEL_GAP + 1.3, 7.5)
    heights = [heading + spans[name] * square + names_under for _, name in rows]
    height = top + sum(heights) + 0.1
    figure = plt.figure(figsize=(width, height))

    def placed(x, y, wide, high):
        # Inches from the top left corner, as matplotlib's fractions from
        # the bottom left.
        return [x / width, 1 - (y + high) / height, wide / width, high / height]

    y = top
    for (band, name), row_height in zip(rows, heights):
        names, span = classes[name], spans[name]
        figure.text(0.1 / width, 1 - (y + 0.02) / height, f"{name}: {title_of(machines, name)}", ha="left",
                    va="top", fontsize=9, fontweight="bold")
        named = False
        for place, (index, machine) in enumerate(band):
            axes = figure.add_axes(placed(left + place * (panel + PANEL_GAP), y + heading, span * square,
                                          span * square))
            axes.set_gid(f"panel-{name}-{index}")
            axes.set_xlim(0, span)
            axes.set_ylim(span + 1, 1)
            axes.set_xticks([])
            axes.set_yticks([])
            for side in axes.spines.values():
                side.set_visible(False)
            family, instead = family_state(machine, name)
            axes.set_title(f"{machine['label']}\n{panel_caption(family, names) if family else instead}",
                           fontsize=6.5, loc="left", pad=3)
            if family is None:
                axes.text(0.5, 0.5, instead, transform=axes.transAxes, ha="center", va="center", fontsize=7,
                          color="dimgray", gid=f"absent-{name}-{index}")
                continue
            draw_triangle(axes, family, names, colours, norm, f"{name}-{index}")
            # The first triangle of a row names the classes; the others lie
            # in the same order beside it.
            if not named:
                axes.set_xticks([i + 0.5 for i in range(len(names) - 1)], names[:-1], rotation=90, fontsize=5.5)
                axes.set_yticks([i + 0.5 for i in range(1, len(names))], names[1:], fontsize=5.5)
                axes.tick_params(length=0)
                named = True
        y += row_height
    bar_axes = figure.add_axes(placed(width - 0.95, top + heading, 0.15, min(3.0, height - top - heading - 0.3)))
    bar = figure.colorbar(plt.cm.ScalarMappable(norm=norm, cmap=colours), cax=bar_axes)
    ticks, labels = heatmap.colour_ticks(reach)
    bar.set_ticks(ticks, labels=labels)
    bar.minorticks_off()
    bar.ax.tick_params(labelsize=7)
    bar.set_label("extra core cycles per round trip\n(logarithmic beyond ±0.5)", fontsize=7)
    figure.text(0.1 / width, 1 - 0.1 / height,
                "Round trips between instruction classes: a row per family, a triangle per machine, as in the "
                "heatmaps\nbest figure, one colour scale for all (linear within ±0.5, logarithmic beyond); "
                "hatched: bimodal; grey: left out, or not measured\nby the older programs that a panel headed "
                "\"older programs\" comes from", ha="left", va="top", fontsize=8)
    return figure


def save(figure, path):
    try:
        if path.endswith(".svg"):
            figure.savefig(path, format="svg", metadata={"Date": None})
        else:
            figure.savefig(path, format="png", dpi=110, metadata={"Software": None})
    finally:
        plt.close(figure)


def labelled(machines):
    """Each machine's column label: its folder's name, or its path where two
    folders share a name."""
    names = [machine["label"] for machine in machines]
    for machine in machines:
        if names.count(machine["label"]) > 1:
            machine["label"] = os.path.normpath(machine["folder"])
    return machines


def compare(folders, picture=None, out=sys.stdout, errors=sys.stderr):
    """Reads the folders, prints the report; gives the exit status."""
    machines, refused = [], False
    for folder in folders:
        try:
            machine = load_folder(folder)
        except Refused as why:
            print(f"compare: refused {folder}: {why}", file=errors)
            refused = True
            continue
        machines.append(machine)
    if not machines:
        print("compare: no folder to compare", file=errors)
        return 2
    machines = labelled(machines)
    text, found = report(machines, machines[0]["matrix"].get("cycle_resolution", 0.1))
    out.write(text)
    if picture:
        if not found:
            print(f"compare: no round trip costs on any machine, so no picture in {picture}", file=errors)
        elif heatmap.NO_DRAWING:
            print(f"compare: the picture {picture} was not drawn: {heatmap.NO_DRAWING}", file=errors)
        else:
            try:
                save(draw(machines, measured_families(machines)[0]), picture)
            except OSError as error:
                print(f"compare: cannot write {picture}: {error}", file=errors)
                return 1
    return 1 if refused else 0


def main(argv=None):
    parser = options.Parser("compare", description=__doc__.split("\n\n")[0])
    parser.add_argument("folders", nargs="+", metavar="FOLDER", help="a machine's results folder")
    parser.add_argument("--picture", help="draw every family's round trips, by machine, to this .png or .svg file")
    args = parser.parse_args(argv)
    if args.picture and not args.picture.endswith((".png", ".svg")):
        parser.error("--picture must name a .png or .svg file")
    return compare(args.folders, args.picture)


if __name__ == "__main__":
    sys.exit(main())
