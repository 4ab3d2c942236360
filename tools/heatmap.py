#!/usr/bin/env python3
"""Draws the round-trip matrix of simd-mix-matrix --json as a heatmap.

Usage: heatmap.py MATRIX.json [--svg PATH] [--png PATH]

One square per pair of classes, below the diagonal: the extra core cycles of
one round trip, on a diverging colour map centred on zero (red costs, blue
saves), labelled in cycles, with a '*' and bold type where every window puts
the cell 0.1 cycle or more from zero on one side. The colours follow a symmetric logarithm, linear within
half a cycle of zero, so that a cell of one cycle stays visibly red beside a
cell of a hundred. A bimodal cell, whose typical run costs clearly more than
its best, is hatched, marked '~' and shows its typical figure below the best.
The processor's name stands in the title.

Exit status: 0, or 2 when the input cannot be read.
"""

import argparse
import json
import math
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.colors import SymLogNorm  # noqa: E402
from matplotlib.patches import Rectangle  # noqa: E402

# Text stays text in the SVG, and the file is the same for the same input.
plt.rcParams["svg.fonttype"] = "none"
plt.rcParams["svg.hashsalt"] = "simd-mix-matrix"

COLOURS = "RdBu_r"
# Within half a cycle of zero the scale is linear, so that measurement noise
# stays pale; beyond it each decade of cycles takes the same share of the
# colours, so that a whole cycle's penalty is plainly red even beside one of
# a hundred cycles.
LINEAR_WITHIN = 0.5


def signed(cycles):
    # Adding zero turns a -0.0 into 0.0, which reads +0.0 as in the report.
    return f"{round(cycles, 1) + 0.0:+.1f}"


def cell_label(cell):
    return signed(cell["cycles"]) + ("*" if cell["measurable"] else "") + ("~" if cell["bimodal"] else "")


def load(path):
    with open(path) as source:
        data = json.load(source)
    names = [entry["name"] for entry in data["classes"]]
    cells = {(cell["first"], cell["second"]): cell for cell in data["round_trips"]}
    for cell in cells.values():
        # A matrix from before the typical figures were measured lacks them;
        # say which field is missing rather than fail halfway through a drawing.
        for field in ("cycles", "measurable", "typical", "bimodal"):
            if field not in cell:
                raise ValueError(f"round trip {cell['first']} <-> {cell['second']} has no {field!r}")
    for first in range(len(names)):
        for second in range(first + 1, len(names)):
            if (names[first], names[second]) not in cells:
                raise ValueError(f"no round trip {names[first]} <-> {names[second]}")
    return data, names, cells


def colour_norm(cells):
    # Symmetric about zero over every cell, savings included, so that equal
    # costs and savings get equally deep colours; never narrower than half a
    # cycle, so that a matrix of noise stays pale.
    reach = max([LINEAR_WITHIN] + [abs(cell["cycles"]) for cell in cells.values()])
    return SymLogNorm(linthresh=LINEAR_WITHIN, linscale=1.0, vmin=-reach, vmax=reach, base=10), reach


def colour_ticks(reach):
    """Ticks for the colour bar: zero, the powers of ten within reach and the
    ends, with half a cycle where the range is too narrow for more."""
    marks = [10 ** power for power in range(0, 7) if 10 ** power <= reach]
    if reach < 2:
        marks.insert(0, LINEAR_WITHIN)
    end = math.floor(reach * 10) / 10
    if end >= 1.5 * marks[-1]:
        marks.append(end)
    ticks = [-mark for mark in reversed(marks)] + [0] + marks
    return ticks, ["0" if tick == 0 else f"{tick:+g}" for tick in ticks]


def draw(data, names, cells):
    """The figure: row i, column j < i holds the pair of classes i and j."""
    count = len(names)
    norm, reach = colour_norm(cells)
    colours = plt.get_cmap(COLOURS)
    size = 0.62 * count + 2.5
    figure, axes = plt.subplots(figsize=(size + 1.5, size))
    for row in range(1, count):
        for column in range(row):
            first, second = names[column], names[row]
            cell = cells[(first, second)]
            shade = colours(norm(cell["cycles"]))
            dark = 0.299 * shade[0] + 0.587 * shade[1] + 0.114 * shade[2] < 0.5
            ink = "white" if dark else "black"
            axes.add_patch(Rectangle((column, row), 1, 1, facecolor=shade, edgecolor="white", linewidth=1,
                                     gid=f"square-{first}-{second}"))
            weight = "bold" if cell["measurable"] else "normal"
            if not cell["bimodal"]:
                axes.text(column + 0.5, row + 0.5, cell_label(cell), ha="center", va="center", fontsize=8,
                          fontweight=weight, color=ink, gid=f"cell-{first}-{second}")
                continue
            # The hatching lies over the square rather than in it, so that the
            # square keeps its plain colour and the white border, and it takes
            # the label's ink, so that it shows on pale and deep squares alike.
            axes.add_patch(Rectangle((column + 0.04, row + 0.04), 0.92, 0.92, facecolor="none", linewidth=0,
                                     edgecolor=ink, alpha=0.45, hatch="////", gid=f"bimodal-{first}-{second}"))
            axes.text(column + 0.5, row + 0.38, cell_label(cell), ha="center", va="center", fontsize=8,
                      fontweight=weight, color=ink, gid=f"cell-{first}-{second}",
                      bbox={"boxstyle": "round,pad=0.1", "facecolor": shade, "edgecolor": "none"})
            axes.text(column + 0.5, row + 0.72, "typ " + signed(cell["typical"]), ha="center", va="center",
                      fontsize=6, color=ink, gid=f"typical-{first}-{second}",
                      bbox={"boxstyle": "round,pad=0.1", "facecolor": shade, "edgecolor": "none"})
    axes.set_xlim(0, count - 1)
    axes.set_ylim(count, 1)
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
    calibration = data["calibration"]
    axes.set_title(f"{data['processor']}: round trips between SSE instruction classes\n"
                   f"core clock {calibration['core_ghz']:.2f} GHz; * every window 0.1 or more from zero on one side; "
                   f"~ bimodal, typ: what most runs cost", fontsize=10)
    figure.tight_layout()
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
        + (f" (typical {cell['typical']:+.1f}, bimodal)" if cell["bimodal"] else "") for cell in costly)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("matrix", help="the output of simd-mix-matrix --json")
    parser.add_argument("--svg", help="write the picture as SVG here")
    parser.add_argument("--png", help="write the picture as PNG here")
    args = parser.parse_args(argv)
    try:
        data, names, cells = load(args.matrix)
    except (OSError, ValueError, KeyError, TypeError) as error:
        print(f"heatmap: cannot read {args.matrix}: {error}", file=sys.stderr)
        return 2
    figure = draw(data, names, cells)
    written = []
    if args.svg:
        figure.savefig(args.svg, format="svg", metadata={"Date": None})
        written.append(args.svg)
    if args.png:
        figure.savefig(args.png, format="png", dpi=110, metadata={"Software": None})
        written.append(args.png)
    plt.close(figure)
    print("heatmap: wrote " + (" and ".join(written) if written else "nothing (no --svg or --png)"))
    print(summary(cells))
    return 0


if __name__ == "__main__":
    sys.exit(main())
