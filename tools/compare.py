#!/usr/bin/env python3
"""Compares results folders of several machines side by side.

Usage: compare.py FOLDER... [--picture PATH]

Each folder is one machine's, as make results writes it: machine.json,
clock.json, bench.json and matrix.json. The report, in Markdown on standard
output, has one column per machine: what the machine is, each family's
latencies, every round trip between classes that costs on any machine (best
and typical, with the marks of the heatmaps), the upper-half transitions and
the benchmark's two penalties in core cycles. A machine that lacks a family,
a transition or a state shows "not on this processor".

--picture draws the crossings that cost, one column per machine, on the
heatmaps' scale, to PATH (.png or .svg).

A folder that misses a file, holds malformed JSON, or a format version this
tool does not know, is refused with a line on standard error naming the file
and what is wrong; the other folders are still compared.

Exit status: 0; 1 when a folder was refused or the picture cannot be
written; 2 when no folder can be compared.
"""

import argparse
import json
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.patches import Rectangle  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench  # noqa: E402
import heatmap  # noqa: E402
import modes  # noqa: E402
from heatmap import field, listed, signed  # noqa: E402

KNOWN_VERSIONS = (1,)
FILES = ("machine.json", "clock.json", "bench.json", "matrix.json")
ABSENT = "not on this processor"
NOT_MEASURED = "not measured"


class Refused(Exception):
    """A folder that cannot be compared, and why."""


def read_json(folder, name):
    """The file's JSON object, once its format version is one this tool
    knows."""
    path = os.path.join(folder, name)
    try:
        # Read as bytes, so that a file that is not UTF-8 counts as malformed
        # JSON below rather than ending the whole comparison.
        with open(path, "rb") as source:
            text = source.read()
    except FileNotFoundError:
        raise Refused(f"{path}: missing")
    except OSError as error:
        raise Refused(f"{path}: cannot be read: {error.strerror}")
    try:
        data = json.loads(text)
    except ValueError as error:
        raise Refused(f"{path}: malformed JSON: {error}")
    if not isinstance(data, dict):
        raise Refused(f"{path}: not a JSON object")
    if "format_version" not in data:
        raise Refused(f"{path}: no format_version (written before results had format versions?)")
    if data["format_version"] not in KNOWN_VERSIONS:
        raise Refused(f"{path}: format version {data['format_version']!r}, which this tool does not know "
                      f"(it reads {', '.join(map(str, KNOWN_VERSIONS))})")
    return data


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
                    cells.append("left out")
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
        for pair in pairs:
            cells = {}
            for machine in machines:
                family, instead = family_state(machine, name)
                cells[machine["label"]] = instead or (family["cells"].get(pair) or family["cells"].get(pair[::-1])
                                                      or "left out")
            costly = [cell for cell in cells.values() if isinstance(cell, dict) and costs(cell)]
            if costly:
                found.append((name, pair, cells, max(dearest(cell) for cell in costly)))
    found.sort(key=lambda item: -item[3])
    return [(name, pair, cells) for name, pair, cells, _ in found]


def crossing_text(cell):
    if not isinstance(cell, dict):
        return cell
    text = f"{heatmap.cell_label(cell)} / {signed(cell['typical'])}"
    if cell["bimodal"]:
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


def transition_section(machines):
    known = [machine["transitions"] for machine in machines if machine["transitions"]]
    if not known:
        return []
    states = in_order([[state for state in section["states"]] for section in known])
    kinds = in_order([[(kind["name"], kind["title"]) for kind in section["kinds"] if kind["status"] == "measured"]
                      for section in known])
    rows = []
    for kind_name, kind_title in kinds:
        for state_name, state_title in states:
            cells = [f"{kind_title}: {state_title}"]
            for machine in machines:
                section = machine["transitions"]
                kind = next((kind for kind in section["kinds"] if kind["name"] == kind_name), None) \
                    if section else None
                result = kind["states"].get(state_name) if kind and kind["status"] == "measured" else None
                if kind is None:
                    cells.append(NOT_MEASURED)
                elif kind["status"] == "unsupported" or (result and result["status"] == "unsupported"):
                    cells.append(ABSENT)
                elif result is None or result["status"] != "measured":
                    cells.append(NOT_MEASURED)
                else:
                    text = f"{signed(result['cycles'])}{'*' if result['measurable'] else ''}" \
                           f"{'~' if result.get('bimodal') else ''} / {signed(result['typical'])}"
                    if isinstance(result.get("per_iteration"), (int, float)):
                        text += f" ({signed(result['per_iteration'])} per iteration)"
                    if result.get("bimodal"):
                        text += f", {heatmap.fast_text(result)}"
                    cells.append(text)
            rows.append(cells)
    return ["## Transitions", "",
            "Extra core cycles per instruction of a dependent chain after each upper-half state, beyond the same "
            "chain with no state write, best / typical, and per iteration (best).", ""] \
        + table("instruction: state before it", machines, rows) + [""]


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


def draw(machines, found):
    """The crossings that cost, a row each, a column per machine, coloured on
    the heatmaps' scale."""
    figures = {(index, machine["label"]): cells[machine["label"]] for index, (_, _, cells) in enumerate(found)
               for machine in machines if isinstance(cells[machine["label"]], dict)}
    norm, reach = heatmap.colour_norm(figures)
    colours = plt.get_cmap(heatmap.COLOURS)
    width = 4.0 + 1.7 * len(machines)
    figure, axes = plt.subplots(figsize=(width + 1.5, 1.8 + 0.3 * len(found)))
    for number, (name, pair, cells) in enumerate(found):
        for column, machine in enumerate(machines):
            cell = cells[machine["label"]]
            if not isinstance(cell, dict):
                axes.add_patch(Rectangle((column, number), 1, 1, facecolor="#e8e8e8", edgecolor="white",
                                         linewidth=1))
                axes.text(column + 0.5, number + 0.5, cell, ha="center", va="center", fontsize=6, color="dimgray")
                continue
            shade = colours(norm(cell["cycles"]))
            dark = 0.299 * shade[0] + 0.587 * shade[1] + 0.114 * shade[2] < 0.5
            ink = "white" if dark else "black"
            axes.add_patch(Rectangle((column, number), 1, 1, facecolor=shade, edgecolor="white", linewidth=1))
            label = heatmap.cell_label(cell)
            if cell["bimodal"]:
                axes.add_patch(Rectangle((column + 0.02, number + 0.06), 0.96, 0.88, facecolor="none", linewidth=0,
                                         edgecolor=ink, alpha=0.45, hatch="////"))
                label += "  typ " + signed(cell["typical"])
            axes.text(column + 0.5, number + 0.5, label, ha="center", va="center", fontsize=7, color=ink,
                      fontweight="bold" if cell["measurable"] else "normal",
                      bbox={"boxstyle": "round,pad=0.1", "facecolor": shade, "edgecolor": "none"}
                      if cell["bimodal"] else None)
    axes.set_xlim(0, len(machines))
    axes.set_ylim(len(found), 0)
    axes.set_xticks([column + 0.5 for column in range(len(machines))], [machine["label"] for machine in machines],
                    rotation=20, ha="right", fontsize=8)
    axes.set_yticks([number + 0.5 for number in range(len(found))],
                    [f"{name}: {pair[0]} <-> {pair[1]}" for name, pair, _ in found], fontsize=7)
    axes.tick_params(length=0)
    for side in axes.spines.values():
        side.set_visible(False)
    bar = figure.colorbar(plt.cm.ScalarMappable(norm=norm, cmap=colours), ax=axes, shrink=0.8,
                          label="extra core cycles per round trip\n(logarithmic beyond ±0.5)")
    ticks, labels = heatmap.colour_ticks(reach)
    bar.set_ticks(ticks, labels=labels)
    bar.minorticks_off()
    axes.set_title("round trips between instruction classes that cost on some machine\n"
                   "best figure; * every window agrees, ~ bimodal (hatched) with its typical figure", fontsize=9)
    figure.tight_layout()
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
        else:
            try:
                save(draw(machines, found), picture)
            except OSError as error:
                print(f"compare: cannot write {picture}: {error}", file=errors)
                return 1
    return 1 if refused else 0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folders", nargs="+", metavar="FOLDER", help="a machine's results folder")
    parser.add_argument("--picture", help="draw the crossings that cost to this .png or .svg file")
    args = parser.parse_args(argv)
    if args.picture and not args.picture.endswith((".png", ".svg")):
        parser.error("--picture must name a .png or .svg file")
    return compare(args.folders, args.picture)


if __name__ == "__main__":
    sys.exit(main())
