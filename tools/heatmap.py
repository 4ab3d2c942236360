#!/usr/bin/env python3
"""Draws the round-trip matrix of simd-mix-matrix --json as a heatmap.

Usage: heatmap.py MATRIX.json [--svg PATH] [--png PATH]

One square per pair of classes, below the diagonal: the extra core cycles of
one round trip, on a diverging colour map centred on zero (red costs, blue
saves), labelled in cycles, with a '*' and bold type where the cell lies
beyond its spread. The processor's name stands in the title.

Exit status: 0, or 2 when the input cannot be read.
"""

import argparse
import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.colors import TwoSlopeNorm  # noqa: E402
from matplotlib.patches import Rectangle  # noqa: E402

# Text stays text in the SVG, and the file is the same for the same input.
plt.rcParams["svg.fonttype"] = "none"
plt.rcParams["svg.hashsalt"] = "simd-mix-matrix"


def cell_label(cell):
    # Adding zero turns a -0.0 into 0.0, which reads +0.0 as in the report.
    return f"{round(cell['cycles'], 1) + 0.0:+.1f}" + ("*" if cell["measurable"] else "")


def load(path):
    with open(path) as source:
        data = json.load(source)
    names = [entry["name"] for entry in data["classes"]]
    cells = {(cell["first"], cell["second"]): cell for cell in data["round_trips"]}
    for first in range(len(names)):
        for second in range(first + 1, len(names)):
            if (names[first], names[second]) not in cells:
                raise ValueError(f"no round trip {names[first]} <-> {names[second]}")
    return data, names, cells


def draw(data, names, cells):
    """The figure: row i, column j < i holds the pair of classes i and j."""
    count = len(names)
    values = [cell["cycles"] for cell in cells.values()]
    # Symmetric about zero, and never narrower than half a cycle, so that
    # noise around zero stays pale.
    reach = max([0.5] + [abs(value) for value in values])
    norm = TwoSlopeNorm(vcenter=0.0, vmin=-reach, vmax=reach)
    colours = plt.get_cmap("RdBu_r")
    size = 0.62 * count + 2.5
    figure, axes = plt.subplots(figsize=(size + 1.5, size))
    for row in range(1, count):
        for column in range(row):
            first, second = names[column], names[row]
            cell = cells[(first, second)]
            axes.add_patch(Rectangle((column, row), 1, 1, facecolor=colours(norm(cell["cycles"])),
                                     edgecolor="white", linewidth=1, gid=f"square-{first}-{second}"))
            shade = colours(norm(cell["cycles"]))
            dark = 0.299 * shade[0] + 0.587 * shade[1] + 0.114 * shade[2] < 0.5
            axes.text(column + 0.5, row + 0.5, cell_label(cell), ha="center", va="center", fontsize=8,
                      fontweight="bold" if cell["measurable"] else "normal",
                      color="white" if dark else "black", gid=f"cell-{first}-{second}")
    axes.set_xlim(0, count - 1)
    axes.set_ylim(count, 1)
    axes.set_aspect("equal")
    axes.set_xticks([i + 0.5 for i in range(count - 1)], names[:-1], rotation=45, ha="right")
    axes.set_yticks([i + 0.5 for i in range(1, count)], names[1:])
    axes.tick_params(length=0)
    for side in axes.spines.values():
        side.set_visible(False)
    mapping = plt.cm.ScalarMappable(norm=norm, cmap=colours)
    figure.colorbar(mapping, ax=axes, shrink=0.7, label="extra core cycles per round trip")
    calibration = data["calibration"]
    axes.set_title(f"{data['processor']}: round trips between SSE instruction classes\n"
                   f"core clock {calibration['core_ghz']:.2f} GHz; * beyond the spread of {data['rounds']} rounds",
                   fontsize=10)
    figure.tight_layout()
    return figure


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
    costly = sorted((cell for cell in cells.values() if cell["measurable"] and cell["cycles"] > 0),
                    key=lambda cell: -cell["cycles"])
    print("heatmap: wrote " + (" and ".join(written) if written else "nothing (no --svg or --png)"))
    print("crossings that cost: " + ("; ".join(f"{c['first']} <-> {c['second']} {c['cycles']:+.1f}" for c in costly)
                                     if costly else "none measurable"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
