#!/usr/bin/env python3
"""Draws the output of simd-mix-matrix --json: a heatmap per family of
instruction classes and a bar chart of the state transitions.

Usage: heatmap.py MATRIX.json --prefix PATH [--formats svg,png]

Each family of instruction classes that was measured (SSE, AVX2, AVX-512...)
gets its own heatmap, PATH-<family>.svg and .png: one square per pair of its
classes, below the diagonal, holding the extra core cycles of one round trip,
on a diverging colour map centred on zero (red costs, blue saves), labelled in
cycles, with a '*' and bold type where every window puts the cell 0.1 cycle or
more from zero on one side. The colours follow a symmetric logarithm, linear
within half a cycle of zero, so that a cell of one cycle stays visibly red
beside a cell of a hundred. A bimodal cell, whose runs fall in two modes
more than a cycle apart (tools/modes.py judges a matrix written before the
program did), is hatched, marked '~' and shows its typical figure below the
best. The processor's name and the family's title stand in the title.

The state transitions, where the matrix has any that were measured, go to
PATH-transitions.svg and .png: a panel per figure (the cost per change of
state, per instruction after a change, and per instruction in the steady
state; a matrix of format 1 has one, per instruction over one chain length,
and is labelled so), in each a group of bars per kind of instruction, one bar
per state, as high as the extra core cycles of that figure, on the same
symmetric logarithm, with a black line at the typical figure. A state that the
processor cannot reach is marked n/a.

The data-movement tables, where the matrix has any measured, go to
PATH-movement-<family>-types and PATH-movement-<family>-widths (.svg and
.png): a table, not a triangle, with a row per store and a column per load,
one panel per arithmetic instruction after them, each square holding the
extra core cycles of one step over its reference step (the reference itself
is labelled "ref" with its own cycles), on the same diverging symmetric
logarithm and with the same marks; a square left grey was not measured.

The program prints a line per file written, the crossings that cost in each
family, dearest first, and a line for each family or kind that was not drawn,
saying why.

An older matrix, with one triangle of SSE classes and no families, draws as
the one family "sse".

Exit status: 0; 1 when a file cannot be written, or nothing can be drawn for
want of matplotlib; 2 when the input cannot be read.
"""

import argparse
import json
import math
import os
import re
import sys

try:
    import matplotlib
except ImportError as missing:
    # Reading a matrix and summing it up draw nothing, so that a tool that
    # prints (compare.py's report) still prints; None where it can draw,
    # else why it cannot.
    NO_DRAWING = f"{missing.name or 'matplotlib'} is not installed (python3-matplotlib)"
else:
    NO_DRAWING = None
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.colors import SymLogNorm
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch, Rectangle
    from matplotlib.ticker import NullLocator

    # Text stays text in the SVG, and the file is the same for the same input.
    plt.rcParams["svg.fonttype"] = "none"
    plt.rcParams["svg.hashsalt"] = "simd-mix-matrix"

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import modes  # noqa: E402
import options  # noqa: E402

COLOURS = "RdBu_r"
# Within half a cycle of zero the scale is linear, so that measurement noise
# stays pale; beyond it each decade of cycles takes the same share of the
# colours, so that a whole cycle's penalty is plainly red even beside one of
# a hundred cycles. The bar chart's axis follows the same scale for the same
# reason: a bar of +1 must stand plainly above the axis beside one of +400.
LINEAR_WITHIN = 0.5
FORMATS = ("svg", "png")
# What an older matrix, from before the families, measured.
OLD_FAMILY_TITLE = "SSE and SSE2, 128 bits on XMM"
# The transitions' chart takes this name in place of a family's, so no family
# may have it.
TRANSITIONS = "transitions"


def signed(cycles):
    # Adding zero turns a -0.0 into 0.0, which reads +0.0 as in the report.
    return f"{round(cycles, 1) + 0.0:+.1f}"


def draw_square(axes, column, row, shade, label, typical, bold, gid):
    """One cell's square at (column, row) in `shade`, with its label in bold
    where it is measurable, in white on a deep shade and black on a pale one.
    A bimodal cell, one with a `typical` figure, is hatched and shows that
    figure under its label."""
    dark = 0.299 * shade[0] + 0.587 * shade[1] + 0.114 * shade[2] < 0.5
    ink = "white" if dark else "black"
    weight = "bold" if bold else "normal"
    axes.add_patch(Rectangle((column, row), 1, 1, facecolor=shade, edgecolor="white", linewidth=1,
                             gid=f"square-{gid}"))
    if typical is None:
        axes.text(column + 0.5, row + 0.5, label, ha="center", va="center", fontsize=8, fontweight=weight,
                  color=ink, gid=f"cell-{gid}")
        return
    # The hatching lies over the square rather than in it, so that the square
    # keeps its plain colour and the white border, and it takes the label's
    # ink, so that it shows on pale and deep squares alike.
    axes.add_patch(Rectangle((column + 0.04, row + 0.04), 0.92, 0.92, facecolor="none", linewidth=0,
                             edgecolor=ink, alpha=0.45, hatch="////", gid=f"bimodal-{gid}"))
    backing = {"boxstyle": "round,pad=0.1", "facecolor": shade, "edgecolor": "none"}
    axes.text(column + 0.5, row + 0.38, label, ha="center", va="center", fontsize=8, fontweight=weight,
              color=ink, gid=f"cell-{gid}", bbox=backing)
    axes.text(column + 0.5, row + 0.72, "typ " + signed(typical), ha="center", va="center", fontsize=6,
              color=ink, gid=f"typical-{gid}", bbox=backing)


def fast_text(cell):
    """A bimodal cell's fast mode: "fast +3.9 in 15.0% of runs", "in at least"
    where only the least count of fast runs is known (results that kept each
    window's fastest and middle runs alone), without a share where none was
    kept; empty where neither its figure nor its share is known."""
    fast = cell.get("fast")
    share = cell.get("fast_share")
    known_fast = isinstance(fast, (int, float)) and not isinstance(fast, bool)
    known_share = isinstance(share, (int, float)) and not isinstance(share, bool)
    if not known_fast and not known_share:
        return ""
    text = "fast" + (f" {signed(fast)}" if known_fast else "")
    if known_share:
        text += f" in {'at least ' if cell.get('at_least') else ''}{100 * share:.1f}% of runs"
    return text


def bimodal_note(cell, typical):
    """What a summary says beside a bimodal cell: its fast mode where known,
    its typical figure, and that it is bimodal."""
    return " (" + ", ".join(part for part in (fast_text(cell), f"typical {typical:+.1f}", "bimodal") if part) + ")"


def cell_label(cell):
    return signed(cell["cycles"]) + ("*" if cell["measurable"] else "") + ("~" if cell["bimodal"] else "")


def field(record, name, where):
    """record[name], or an error that says which field of what is missing."""
    if not isinstance(record, dict):
        raise ValueError(f"{where} is not an object")
    if name not in record:
        raise ValueError(f"{where} has no {name!r}")
    return record[name]


def listed(record, name, where):
    value = field(record, name, where)
    if not isinstance(value, list):
        raise ValueError(f"{where}: {name!r} is not a list")
    return value


def file_name_part(name, where):
    # The name becomes part of a file name, which it must not lead out of
    # the folder that the prefix names.
    if not isinstance(name, str) or not re.fullmatch(r"[A-Za-z0-9_+-]+", name):
        raise ValueError(f"{where} has the name {name!r}, which cannot stand in a file name")
    return name


def load_family(entry, where):
    """A family as drawn: its name, title and status, and for a measured one
    its class names in order and its cells by pair of names."""
    name = file_name_part(field(entry, "name", where), where)
    where = f"family {name!r}"
    if name == TRANSITIONS:
        raise ValueError(f"{where} has the name of the transitions' chart")
    status = field(entry, "status", where)
    family = {"name": name, "status": status, "title": entry.get("title", name), "why": entry.get("why", "")}
    if status != "measured":
        return family
    family["title"] = field(entry, "title", where)
    family["left_out"] = [f"{field(item, 'name', f'a class left out of {where}')} "
                          f"({item.get('why', 'no reason given')})" for item in entry.get("left_out", [])]
    names = [field(item, "name", f"a class of {where}") for item in listed(entry, "classes", where)]
    cells = {}
    for cell in listed(entry, "round_trips", where):
        pair = (field(cell, "first", f"a round trip of {where}"), field(cell, "second", f"a round trip of {where}"))
        # A matrix from before the typical figures were measured lacks them;
        # say which field is missing rather than fail halfway through a drawing.
        for needed in ("cycles", "measurable", "typical", "bimodal"):
            field(cell, needed, f"round trip {pair[0]} <-> {pair[1]} of {where}")
        cells[pair] = cell
    for first in range(len(names)):
        for second in range(first + 1, len(names)):
            if (names[first], names[second]) not in cells:
                raise ValueError(f"{where} has no round trip {names[first]} <-> {names[second]}")
    family["names"], family["cells"] = names, cells
    return family


# A matrix of format version 1 timed each state at the head of one chain
# length and gave one figure per instruction, in which a cost per change of
# state and a cost per instruction read alike; it is shown as measured then,
# under this name.
ONE_LENGTH = ("one_length", "per instruction, one chain length (format 1)")


def load_transitions(section, version=1):
    """The transitions as drawn: the figures and the states in order, and
    each kind with its states' entries by state name, in the order of the
    input, each measured entry with its figures by name; a state that a kind
    does not list is drawn as one it cannot reach. A matrix of format 1 has
    one figure, ONE_LENGTH; one of format 2 names its figures."""
    where = "transitions"
    if version >= 2:
        figures = [(field(entry, "name", "a figure of transitions"), field(entry, "title", "a figure of transitions"))
                   for entry in listed(section, "figures", where)]
    else:
        figures = [ONE_LENGTH]
    states = [(field(entry, "name", "a state of transitions"), field(entry, "title", "a state of transitions"))
              for entry in listed(section, "states", where)]
    known = {name for name, _ in states}
    kinds = []
    for entry in listed(section, "kinds", where):
        name = field(entry, "name", "a kind of transitions")
        kind_where = f"transition kind {name!r}"
        kind = {"name": name, "status": field(entry, "status", kind_where), "title": entry.get("title", name),
                "why": entry.get("why", ""), "instruction": entry.get("instruction"), "latency": entry.get("latency")}
        if kind["status"] == "measured":
            kind["title"] = field(entry, "title", kind_where)
            kind["states"] = {}
            for result in listed(entry, "states", kind_where):
                state = field(result, "state", f"a state of {kind_where}")
                result_where = f"state {state!r} of {kind_where}"
                if state not in known:
                    raise ValueError(f"{kind_where} names the state {state!r}, which transitions' states lack")
                result = dict(result)
                if field(result, "status", result_where) == "measured":
                    result["figures"] = {}
                    for figure, _ in figures:
                        # Format 1 keeps its one figure's fields in the state's entry.
                        entry_of = result if version < 2 else field(result, figure, result_where)
                        figure_where = result_where if version < 2 else f"figure {figure!r} of {result_where}"
                        for needed in ("cycles", "typical", "measurable"):
                            field(entry_of, needed, figure_where)
                        result["figures"][figure] = entry_of
                kind["states"][state] = result
        kinds.append(kind)
    return {"figures": figures, "states": states, "kinds": kinds, "format_version": version}


def load(path):
    """The matrix's processor, clock and settings as read, its families and
    its transitions (None where it has none)."""
    with open(path) as source:
        return read(json.load(source))


def read(data):
    """What load gives, from the matrix's JSON object once parsed."""
    field(data, "processor", "the matrix")
    field(field(data, "calibration", "the matrix"), "core_ghz", "the matrix's calibration")
    if "families" in data:
        entries = listed(data, "families", "the matrix")
    elif "classes" in data:
        # A matrix saved before the families measured one triangle of SSE
        # classes; it still draws, as that family.
        entries = [{"name": "sse", "title": OLD_FAMILY_TITLE, "status": "measured",
                    "classes": data["classes"], "round_trips": field(data, "round_trips", "the matrix")}]
    else:
        raise ValueError("the matrix has no 'families' (nor the 'classes' of a matrix from before them)")
    families = [load_family(entry, f"family {number + 1}") for number, entry in enumerate(entries)]
    # Results written before the program judged the modes of its cells get
    # them judged here, by the same rule.
    for entry in entries:
        modes.judge_family(entry, data)
    seen = set()
    for family in families:
        if family["name"] in seen:
            raise ValueError(f"two families have the name {family['name']!r}")
        seen.add(family["name"])
    # A matrix from before the format versions has the transitions of format 1.
    version = data.get("format_version", 1)
    if "transitions" in data:
        # Before they are read, so that the figures read carry the modes.
        modes.judge_transitions(data["transitions"], data, version)
    transitions = load_transitions(data["transitions"], version) if "transitions" in data else None
    return data, families, transitions


def reach_of(figures):
    """How far the colour scale reaches either side of zero for these
    figures: symmetric about zero over all of them, savings included, so that
    equal costs and savings get equally deep colours; never narrower than
    half a cycle, so that a matrix of noise stays pale."""
    return max([LINEAR_WITHIN] + [abs(figure) for figure in figures])


def colour_norm(cells, reach=None):
    """The colour scale of these cells, or the one that reaches `reach`,
    which pictures drawn on one scale share: the gallery's reach over every
    machine it shows."""
    reach = reach_of(cell["cycles"] for cell in cells.values()) if reach is None else reach
    return SymLogNorm(linthresh=LINEAR_WITHIN, linscale=1.0, vmin=-reach, vmax=reach, base=10), reach


def heading(data):
    """The processor and the clock that a picture's title names: the
    matrix's own, as its report prints them; a tool that says more of the
    machine in its text (the gallery) gives its own, so that the two agree."""
    return {"processor": data["processor"], "clock": f"core clock {data['calibration']['core_ghz']:.2f} GHz"}


def side_marks(reach):
    """The positive ticks up to reach: the powers of ten within it and the
    end, with half a cycle where the range is too narrow for more."""
    marks = [10 ** power for power in range(0, 7) if 10 ** power <= reach]
    if reach < 2:
        marks.insert(0, LINEAR_WITHIN)
    end = math.floor(reach * 10) / 10
    if end >= 1.5 * marks[-1]:
        marks.append(end)
    return marks


def axis_marks(reach):
    """The positive ticks of the bar chart's axis: the powers of ten up to
    reach, or half a cycle and one where the range is too narrow for more."""
    marks = [10 ** power for power in range(0, 7) if 10 ** power <= reach]
    return [LINEAR_WITHIN] + marks if reach < 2 else marks


def tick_labels(ticks):
    return ["0" if tick == 0 else f"{tick:+g}" for tick in ticks]


def colour_ticks(reach):
    """Ticks for the colour bar: zero, the powers of ten within reach and the
    ends, with half a cycle where the range is too narrow for more."""
    marks = side_marks(reach)
    ticks = [-mark for mark in reversed(marks)] + [0] + marks
    return ticks, tick_labels(ticks)


def marks_legend(data):
    resolution = data.get("cycle_resolution", 0.1)
    return f"* every window {resolution:g} or more from zero on one side"


def draw(data, family, reach=None, named=None, notes=()):
    """The family's figure: row i, column j < i holds the pair of classes i
    and j; on the scale of `reach` where given, titled as `named` (heading's
    keys) where given, with `notes` as footnotes."""
    names, cells = family["names"], family["cells"]
    count = len(names)
    norm, reach = colour_norm(cells, reach)
    named = named or heading(data)
    colours = plt.get_cmap(COLOURS)
    # Each class takes the same room whatever the count, so that a cell's
    # label and an 11-letter name keep their size in a triangle of 20; a small
    # family still gets the width that its three title lines need.
    size = max(0.62 * count + 2.5, 6.0)
    figure, axes = plt.subplots(figsize=(size + 1.5, size))
    for row in range(1, count):
        for column in range(row):
            first, second = names[column], names[row]
            cell = cells[(first, second)]
            draw_square(axes, column, row, colours(norm(cell["cycles"])), cell_label(cell),
                        cell["typical"] if cell["bimodal"] else None, cell["measurable"], f"{first}-{second}")
    axes.set_xlim(0, max(count - 1, 1))
    axes.set_ylim(max(count, 2), 1)
    axes.set_aspect("equal")
    axes.set_xticks([i + 0.5 for i in range(count - 1)], names[:-1], rotation=45, ha="right")
    axes.set_yticks([i + 0.5 for i in range(1, count)], names[1:])
    axes.tick_params(length=0)
    for side in axes.spines.values():
        side.set_visible(False)
    mapping = plt.cm.ScalarMappable(norm=norm, cmap=colours)
    bar = figure.colorbar(mapping, ax=axes, shrink=0.7,
                          label="extra core cycles per round trip (logarithmic beyond ±0.5)")
    ticks, labels = colour_ticks(reach)
    bar.set_ticks(ticks, labels=labels)
    bar.minorticks_off()
    axes.set_title(f"{named['processor']}: round trips between instruction classes\n"
                   f"{family['title']}; {named['clock']}\n"
                   f"{marks_legend(data)}; ~ bimodal, typ: what most runs cost", fontsize=10)
    return laid_out(figure, "left out", family["left_out"], "left-out", notes)


def laid_out(figure, label, items, gid, notes=()):
    """The figure laid out, with a footnote listing `items` under `label`
    where there are any, and a line of its own for each of `notes`."""
    lines = list(notes) + ([f"{label}: " + "; ".join(items)] if items else [])
    for number, line in enumerate(reversed(lines)):
        figure.text(0.01, 0.01 + 0.03 * number, line, fontsize=8,
                    gid=gid if items and number == 0 else f"note-{len(lines) - 1 - number}")
    figure.tight_layout(rect=(0, 0.03 * len(lines), 1, 1))
    return figure


def summary(cells):
    """The crossings that cost, dearest first, each bimodal one with the
    typical cost beside its best."""
    # Dearest first as far as the labels' tenths tell them apart; equals keep
    # the order of the input.
    costly = sorted((cell for cell in cells.values() if cell["measurable"] and cell["cycles"] > 0),
                    key=lambda cell: -round(cell["cycles"], 1))
    if not costly:
        return "crossings that cost: none measurable"
    return "crossings that cost: " + "; ".join(
        f"{cell['first']} <-> {cell['second']} {cell['cycles']:+.1f}"
        + (bimodal_note(cell, cell["typical"]) if cell["bimodal"] else "")
        for cell in costly)


def measured_kinds(transitions):
    return [kind for kind in transitions["kinds"] if kind["status"] == "measured"]


def measured_results(kind):
    """The kind's measured states, as (state name, entry), in the order of the
    input."""
    return [(state, result) for state, result in kind["states"].items() if result["status"] == "measured"]


def transitions_heading(data, transitions):
    """What the chart's chains were, for its title."""
    section = data["transitions"]
    if transitions["format_version"] < 2:
        per_iteration = section.get("instructions_per_iteration")
        return ("a dependent chain" + (f" of {per_iteration} instructions" if per_iteration else "")
                + " with the state written at the head of each iteration, one chain length (format 1)")
    return (f"the state written at the head of each iteration of chains of {section.get('short_chain')} and "
            f"{section.get('long_chain')} instructions, and set once before a chain of {section.get('steady_chain')}")


def draw_transitions(data, transitions, named=None):
    """The bar chart: a panel per figure, in it a group per measured kind and
    a bar per state; titled as `named` (heading's keys) where given."""
    named = named or heading(data)
    kinds = measured_kinds(transitions)
    states, figures_shown = transitions["states"], transitions["figures"]
    width = 0.8 / max(len(states), 1)
    figure, panels = plt.subplots(len(figures_shown), 1, squeeze=False, sharex=True, figsize=(
        max(7.0, 1.5 + len(kinds) * (0.5 * len(states) + 0.9)) + 3.2, 1.5 + 3.6 * len(figures_shown)))
    palette = plt.get_cmap("tab10")
    for axes, (figure_name, figure_title) in zip(panels[:, 0], figures_shown):
        draw_figure_panel(axes, kinds, states, figure_name, width, palette)
        axes.set_ylabel("extra core cycles", fontsize=8)
        axes.set_title(figure_title, fontsize=9, loc="left", fontweight="bold", gid=f"panel-{figure_name}")
    axes = panels[-1, 0]
    axes.set_xlim(-0.5, len(kinds) - 0.5)
    axes.set_xticks(range(len(kinds)), [
        "\n".join([kind["title"]] + ([kind["instruction"]] if kind["instruction"] else [])
                  + ([f"latency {kind['latency']:.1f} cycles"] if isinstance(kind["latency"], (int, float)) else []))
        for kind in kinds], fontsize=8)
    axes.tick_params(axis="x", length=0)
    handles = [Patch(facecolor=palette(number % 10), label=title) for number, (_, title) in enumerate(states)]
    handles.append(Line2D([], [], color="black", linewidth=2, label="typical: what most runs cost"))
    panels[0, 0].legend(handles=handles, loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=8, frameon=False)
    figure.suptitle(f"{named['processor']}: what the upper-half state costs the instructions after it; "
                    f"{named['clock']}\n"
                    f"extra core cycles beyond the same chain with no state write: "
                    f"{transitions_heading(data, transitions)}\n"
                    f"bars: best; linear within ±0.5, logarithmic beyond; {marks_legend(data)}; ~ bimodal", fontsize=9)
    omitted = [f"{kind['title']} ({kind['why'] or kind['status']})" for kind in transitions["kinds"]
               if kind["status"] != "measured"]
    return laid_out(figure, "not measured", omitted, "not-measured")


def draw_figure_panel(axes, kinds, states, figure_name, width, palette):
    """One figure's bars: a group per kind, a bar per state."""
    figures = [result["figures"][figure_name][value] for kind in kinds for _, result in measured_results(kind)
               for value in ("cycles", "typical")]
    for group, kind in enumerate(kinds):
        for number, (state, _) in enumerate(states):
            x = group - 0.4 + width * (number + 0.5)
            result = kind["states"].get(state)
            gid = f"{figure_name}-{kind['name']}-{state}"
            if result is None or result["status"] != "measured":
                # No bar at all, which would read as zero: a state the
                # processor cannot reach has no figure to show.
                axes.annotate("n/a", (x, 0), xytext=(0, 3), textcoords="offset points", ha="center", va="bottom",
                              fontsize=7, color="dimgray", gid=f"na-{gid}")
                continue
            entry = result["figures"][figure_name]
            cycles, typical, measurable = entry["cycles"], entry["typical"], entry["measurable"]
            # A measurable bar is drawn in full with a black outline and a
            # bold label; the others are faint, so that the eye goes to what
            # the windows agree on.
            axes.bar(x, cycles, width * 0.92, color=palette(number % 10), alpha=1.0 if measurable else 0.35,
                     edgecolor="black" if measurable else "none", linewidth=1.2, gid=f"bar-{gid}")
            axes.plot([x - width * 0.46, x + width * 0.46], [typical] * 2, color="black", linewidth=2,
                      solid_capstyle="butt", gid=f"typical-{gid}")
            top = max(cycles, typical) if cycles >= 0 else min(cycles, typical)
            marks = ("*" if measurable else "") + ("~" if entry.get("bimodal") else "")
            axes.annotate(signed(cycles) + marks, (x, top),
                          xytext=(0, 3 if cycles >= 0 else -3), textcoords="offset points", ha="center",
                          va="bottom" if cycles >= 0 else "top", rotation=90, fontsize=7,
                          fontweight="bold" if measurable else "normal", gid=f"label-{gid}")
    axes.axhline(0, color="black", linewidth=0.8)
    axes.set_yscale("symlog", linthresh=LINEAR_WITHIN, linscale=1.0, base=10)
    # Room above the tallest bar, and below the deepest, for its label.
    high = max([LINEAR_WITHIN] + figures)
    low = max([LINEAR_WITHIN] + [-figure for figure in figures])
    axes.set_ylim(-(low * 8 if low > LINEAR_WITHIN else 1.0), high * 8 if high > LINEAR_WITHIN else 2.0)
    # The bars carry their own figures, so the axis needs only the decades.
    ticks = [-mark for mark in reversed(axis_marks(low))] + [0] + axis_marks(high)
    axes.set_yticks(ticks, tick_labels(ticks))
    axes.yaxis.set_minor_locator(NullLocator())


def transitions_summary(transitions, titled=False):
    """The transitions that cost, figure by figure, dearest first, in the
    order of the input where the tenths are equal; each bimodal one with its
    fast mode and typical figure. Kinds and states go by their names, or
    with `titled` by the titles that the chart gives them."""
    states = dict(transitions["states"])
    parts = []
    for figure, title in transitions["figures"]:
        costly = sorted(((kind["title"] if titled else kind["name"],
                          states[state][0].lower() + states[state][1:] if titled else state,
                          result["figures"][figure]) for kind in measured_kinds(transitions)
                         for state, result in measured_results(kind)
                         if result["figures"][figure]["measurable"] and result["figures"][figure]["cycles"] > 0),
                        key=lambda item: -round(item[2]["cycles"], 1))
        if costly:
            parts.append(f"{title}: " + ", ".join(
                f"{kind} after {state} {entry['cycles']:+.1f}"
                + (bimodal_note(entry, entry["typical"]) if entry.get("bimodal") else "")
                for kind, state, entry in costly))
    return "transitions that cost: " + ("; ".join(parts) if parts else "none measurable")


def draw_all_transitions(data, transitions, args):
    for kind in transitions["kinds"]:
        if kind["status"] != "measured":
            print(f"transitions: {kind['name']} not measured, {kind['status']}: {kind['why'] or 'no reason given'}")
    if not measured_kinds(transitions):
        print("transitions: no kind measured, no chart")
        return
    for path in save(draw_transitions(data, transitions), args.prefix, TRANSITIONS, args.formats):
        print(f"heatmap: wrote {path}")
    print(transitions_summary(transitions))


def save(figure, prefix, name, formats):
    """Writes the figure once per format; gives the paths written."""
    written = []
    try:
        for kind in formats:
            path = f"{prefix}-{name}.{kind}"
            if kind == "svg":
                figure.savefig(path, format="svg", metadata={"Date": None})
            else:
                figure.savefig(path, format="png", dpi=110, metadata={"Software": None})
            written.append(path)
    finally:
        plt.close(figure)
    return written


def formats_list(text):
    formats = [part.strip() for part in text.split(",") if part.strip()]
    unknown = [part for part in formats if part not in FORMATS]
    if unknown or not formats:
        raise argparse.ArgumentTypeError(f"formats are a comma-separated list of {', '.join(FORMATS)}")
    return list(dict.fromkeys(formats))


MOVEMENT = "movement"


def load_movement(section):
    """The movement tables as drawn: a list of families, each with its name,
    title, status and why, and for a measured one its tables, each with its
    store, load and arithmetic names in order and its cells by (store, load,
    arithmetic)."""
    families = []
    for number, entry in enumerate(listed(section, "families", "movement")):
        where = f"movement family {number + 1}"
        name = file_name_part(field(entry, "name", where), where)
        where = f"movement family {name!r}"
        family = {"name": name, "status": field(entry, "status", where), "title": entry.get("title", name),
                  "why": entry.get("why", ""), "tables": []}
        if family["status"] == "measured":
            for table in listed(entry, "tables", where):
                table_name = file_name_part(field(table, "name", f"a table of {where}"), f"a table of {where}")
                table_where = f"table {table_name!r} of {where}"
                names = {side: [field(item, "name", f"a {side} entry of {table_where}")
                                for item in listed(table, side, table_where)]
                         for side in ("stores", "loads", "arithmetic")}
                titles = {side: [item.get("title", item.get("name")) for item in table[side]]
                          for side in ("stores", "loads")}
                cells = {}
                for cell in listed(table, "cells", table_where):
                    key = tuple(field(cell, part, f"a cell of {table_where}") for part in ("store", "load", "arithmetic"))
                    for needed in ("cycles", "extra", "extra_typical", "measurable", "bimodal", "reference"):
                        field(cell, needed, f"cell {' -> '.join(key)} of {table_where}")
                    cells[key] = cell
                family["tables"].append({"name": table_name, "names": names, "titles": titles, "cells": cells,
                                         "left_out": [f"{item.get('store')} -> {item.get('load')} -> "
                                                      f"{item.get('arithmetic')} ({item.get('why', 'no reason given')})"
                                                      for item in table.get("left_out", [])]})
        families.append(family)
    modes.judge_movement(section)
    return families


def is_reference(cell):
    return cell["reference"]["store"] == cell["store"] and cell["reference"]["load"] == cell["load"]


def movement_label(cell):
    if is_reference(cell):
        return f"ref {cell['cycles']:.1f}"
    return signed(cell["extra"]) + ("*" if cell["measurable"] else "") + ("~" if cell["bimodal"] else "")


def draw_movement(data, family, table, reach=None, named=None):
    """A table's figure: a panel per arithmetic instruction, a row per store
    and a column per load; on the scale of `reach` and titled as `named`
    where given, as draw's."""
    named = named or heading(data)
    stores, loads, arithmetic = table["names"]["stores"], table["names"]["loads"], table["names"]["arithmetic"]
    panels = [name for name in arithmetic if any(key[2] == name for key in table["cells"])]
    extras = {key: {"cycles": 0.0 if is_reference(cell) else cell["extra"]} for key, cell in table["cells"].items()}
    norm, reach = colour_norm(extras, reach)
    colours = plt.get_cmap(COLOURS)
    # Long store titles take the room of the rows' labels in the widths table.
    label_room = max(len(title) for title in table["titles"]["stores"]) * 0.07
    width = 0.9 * len(loads) + label_room + 1.0
    # Never narrower than the three lines of the title need.
    figure, axes_list = plt.subplots(1, len(panels), squeeze=False, layout="constrained",
                                     figsize=(max(width * len(panels) + 1.5, 10.0), 0.6 * len(stores) + 3.6))
    for axes, name in zip(axes_list[0], panels):
        reference = None
        for row, store in enumerate(stores):
            for column, load in enumerate(loads):
                cell = table["cells"].get((store, load, name))
                gid = f"{name}-{store}-{load}"
                if cell is None:
                    axes.add_patch(Rectangle((column, row), 1, 1, facecolor="#eeeeee", edgecolor="white", linewidth=1,
                                             gid=f"blank-{gid}"))
                    continue
                if is_reference(cell):
                    reference = cell
                draw_square(axes, column, row, colours(norm(extras[(store, load, name)]["cycles"])),
                            movement_label(cell), cell["extra_typical"] if cell["bimodal"] else None,
                            cell["measurable"] and not is_reference(cell), gid)
        axes.set_xlim(0, len(loads))
        axes.set_ylim(len(stores), 0)
        axes.set_aspect("equal")
        axes.set_xticks([i + 0.5 for i in range(len(loads))], table["titles"]["loads"], rotation=45, ha="right")
        axes.set_yticks([i + 0.5 for i in range(len(stores))], table["titles"]["stores"])
        axes.set_xlabel("load")
        axes.set_ylabel("store")
        axes.tick_params(length=0)
        for side in axes.spines.values():
            side.set_visible(False)
        against = ("" if reference is None else
                   f" over {reference['store']} -> {reference['load']} ({reference['cycles']:.1f} cycles)")
        axes.set_title(f"then {name}: extra cycles per step{against}" if table["name"] == "types" else
                       f"then {name}: extra cycles per step over the same-width store and load", fontsize=9)
    mapping = plt.cm.ScalarMappable(norm=norm, cmap=colours)
    bar = figure.colorbar(mapping, ax=list(axes_list[0]), shrink=0.7,
                          label="extra core cycles per step (logarithmic beyond ±0.5)")
    ticks, labels = colour_ticks(reach)
    bar.set_ticks(ticks, labels=labels)
    bar.minorticks_off()
    what = ("types: store with the row's move, load with the column's" if table["name"] == "types" else
            "widths: store whole, in parts or through EDX; load whole, in part or through EDX")
    figure.suptitle(f"{named['processor']}: data movement, {family['title']}\n{what}; "
                    f"{named['clock']}\n{marks_legend(data)}; ~ bimodal, typ: what most runs "
                    "cost; grey: not measured", fontsize=10)
    if table["left_out"]:
        figure.text(0.01, 0.01, "left out: " + "; ".join(table["left_out"]), fontsize=8, gid="left-out")
    return figure


def movement_summary(table, titled=False):
    """The cells that cost, dearest first: each by its store's, load's and
    arithmetic's names, or with `titled` by the store's and the load's
    titles, as the table's picture gives them."""
    costly = sorted((cell for cell in table["cells"].values()
                     if cell["measurable"] and cell["extra"] > 0 and not is_reference(cell)),
                    key=lambda cell: -round(cell["extra"], 1))
    if not costly:
        return "movements that cost: none measurable"
    titles = {side: dict(zip(table["names"][side], table["titles"][side])) for side in ("stores", "loads")}

    def named(cell):
        if not titled:
            return f"{cell['store']} -> {cell['load']}"
        return f"{titles['stores'].get(cell['store'], cell['store'])} -> {titles['loads'].get(cell['load'], cell['load'])}"

    return "movements that cost: " + "; ".join(
        f"{named(cell)} -> {cell['arithmetic']} {cell['extra']:+.1f}"
        + (bimodal_note(cell, cell["extra_typical"]) if cell["bimodal"] else "")
        for cell in costly)


def draw_all_movement(data, args):
    if "movement" not in data:
        return
    for family in load_movement(data["movement"]):
        if family["status"] != "measured":
            print(f"{MOVEMENT} {family['name']}: not drawn, {family['status']}: {family['why'] or 'no reason given'}")
            continue
        for table in family["tables"]:
            if not table["cells"]:
                continue
            name = f"{MOVEMENT}-{family['name']}-{table['name']}"
            for path in save(draw_movement(data, family, table), args.prefix, name, args.formats):
                print(f"heatmap: wrote {path}")
            print(f"{MOVEMENT} {family['name']} {table['name']}: {movement_summary(table)}")


def main(argv=None):
    parser = options.Parser("heatmap", description=__doc__.split("\n\n")[0])
    parser.add_argument("matrix", help="the output of simd-mix-matrix --json")
    parser.add_argument("--prefix", required=True,
                        help="where the pictures go: PREFIX-<family>.<format> and PREFIX-transitions.<format>")
    parser.add_argument("--formats", type=formats_list, default=list(FORMATS),
                        help="comma-separated, of svg and png (default: svg,png)")
    args = parser.parse_args(argv)
    if NO_DRAWING:
        print(f"heatmap: cannot draw: {NO_DRAWING}", file=sys.stderr)
        return 1
    try:
        data, families, transitions = load(args.matrix)
        if "movement" in data:
            load_movement(data["movement"])
    except (OSError, ValueError, KeyError, TypeError) as error:
        print(f"heatmap: cannot read {args.matrix}: {error}", file=sys.stderr)
        return 2
    try:
        for family in families:
            if family["status"] != "measured":
                print(f"{family['name']}: not drawn, {family['status']}: {family['why'] or 'no reason given'}")
                continue
            for path in save(draw(data, family), args.prefix, family["name"], args.formats):
                print(f"heatmap: wrote {path}")
            print(f"{family['name']}: {summary(family['cells'])}")
        if transitions is not None:
            draw_all_transitions(data, transitions, args)
        draw_all_movement(data, args)
    except OSError as error:
        print(f"heatmap: cannot write under {args.prefix}: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
