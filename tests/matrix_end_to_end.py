"""End-to-end checks of the built simd-mix-matrix, one case per call.

Usage: matrix_end_to_end.py --program PATH --platform NAME [--emulator CMD] CASE

The figures are measurements: only their form and their arithmetic are
checked, never their size.
"""

import json
import os
import re
import statistics
import subprocess
import sys

from case_runner import cases_in, check, command_of, on_real_processor, run_case

TIMEOUT = 180
ITERATIONS = 4096
TRANSITION_SHORT, TRANSITION_LONG = 4, 12
TRANSITION_FIGURES = ["per_change", "per_instruction", "steady_per_instruction"]
SSE_CLASSES = ["paddd", "pmuludq", "pand", "pshufd", "addps", "mulps", "andps", "shufps", "addpd", "mulpd", "andpd",
               "shufpd", "addss", "mulss", "addsd", "mulsd", "cvtdq2ps", "cvtps2dq", "blendvps", "pblendvb", "pslld",
               "psrlq", "pcmpeqd", "pcmpgtd", "cmpps", "pminud", "minps", "packssdw", "punpckldq", "unpcklps", "phaddd",
               "haddps", "pmaddwd", "insertps", "pextrd:eax", "extractps:eax", "movd:eax"]
# The SSE classes that need no more than SSE2, which every x86-64 processor has.
SSE2_CLASSES = 29
FAMILIES = ["sse", "avx", "avx2", "avx512"]
# The instruction sets each family needs, as /proc/cpuinfo names them.
FAMILY_FLAGS = {"sse": "sse2", "avx": "avx", "avx2": "avx2", "avx512": "avx512f"}
TYPES = "packed (?:16|32|64)-bit integer|packed single|packed double|scalar single|scalar double|integer to single|" \
        "single to integer|packed bytes|[xyz]mm->eax->[xyz]mm|zmm->k1->zmm|zmm->k1->eax->k1->zmm"
OPERATIONS = "add|multiply|logic|shuffle|convert|blend|multiply-add|lane cross|shift|compare|minimum|pack|unpack|" \
             "horizontal add|insert|extract, insert|move, move|compare, masked add|mask through eax"
# A class's name: a mnemonic, or for a round trip through a general or a mask
# register, the mnemonic that leaves the vector register and the register.
NAME = r"\w+(?::\w+)?"
LATENCY = re.compile(rf"  ({NAME}) +({TYPES}) +({OPERATIONS}) +\d+\.\d\d +\d+\.\d\d")
CELL = re.compile(r"[+-]\d+\.\d\*?~?")
MODES = r"fast [+-]\d+\.\d in \d+\.\d% of runs, typical [+-]\d+\.\d"
CROSSING = re.compile(rf"  ({NAME}) <-> ({NAME}): \+\d+\.\d cycles per round trip( \(best\); two modes: {MODES})?")
BIMODAL = re.compile(rf"  ({NAME}) <-> ({NAME}): best [+-]\d+\.\d; {MODES}")
HEADING = re.compile(r"(sse|avx|avx2|avx512): ([^:]+)(: (unsupported, .+|every avx class is measured in the avx2 "
                     r"triangle))?")
# A state's three figures: per change of state, per instruction after it and
# per instruction in the steady state, each best with its mark and typical.
TRANSITION = re.compile(r"    (after vzeroupper \(the control\)|dirty YMM upper half|dirty ZMM upper half|dirty zmm16-31) +"
                        r"([+-]\d+\.\d(\*~?| ~)? +[+-]\d+\.\d( +[+-]\d+\.\d\d(\*~?| ~)? +[+-]\d+\.\d\d){2}|n/a, .+)")
# Under a state, the two modes of each of its bimodal figures, in order.
TRANSITION_MODES = re.compile(r"      (per change of state|per instruction after a change|per instruction, steady state), "
                              r"two modes: fast [+-]\d+\.\d\d? in \d+\.\d% of runs, typical [+-]\d+\.\d\d?")
TRANSITION_TITLES = ["per change of state", "per instruction after a change", "per instruction, steady state"]
MOVEMENT_HEADING = re.compile(r"data movement, (sse|avx|avx2|avx512): ([^:]+)(: (unsupported, .+|every avx movement "
                              r"chain is measured in avx2's tables))?")
GRID_HEAD = re.compile(r"  (\w+): (\w+) -> (\w+) -> (\w+) takes \d+\.\d\d cycles per step \(typical \d+\.\d\d\)")
GRID_CELL = re.compile(r"[+-]\d+\.\d\*?~?|\.")
# A cell's marks follow its figure, a blank standing for a missing *.
WIDTH_LINE = re.compile(r"  (.+?) +-> (.+?) +\d+\.\d\d +\d+\.\d\d +(\(the reference\)|[+-]\d+\.\d(\*~?| ~)? +[+-]\d+\.\d)")
# A bimodal cell's two modes, under its line or its grid: as an extra, or
# for a reference as its step's cycles.
MOVEMENT_MODES = r"fast ([+-]\d+\.\d in \d+\.\d% of runs, typical [+-]\d+\.\d|\d+\.\d\d in \d+\.\d% of runs, " \
                 r"typical \d+\.\d\d cycles per step)"
WIDTH_MODES = re.compile(rf"      two modes: {MOVEMENT_MODES}")
GRID_MODES = re.compile(rf"    two modes, (\w+) -> (\w+): {MOVEMENT_MODES}")
FAILURE_PREFIX = "simd-mix-matrix: cannot write to standard output: "


def processor_flags():
    """The instruction sets /proc/cpuinfo names, or None where there is none."""
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("flags"):
                    return set(line.split(":", 1)[1].split())
    except OSError:
        pass
    return None


class Program:
    def __init__(self, args):
        self.command = command_of(args)
        self.line_break = "\r\n" if args.platform == "win32" else "\n"
        self.windows = args.platform == "win32"
        self.bits = 64 if args.platform == "x86_64-linux" else 32

    def run(self, *arguments, stdout=subprocess.PIPE, environment=None):
        result = subprocess.run(self.command + list(arguments), stdout=stdout, stderr=subprocess.PIPE, timeout=TIMEOUT,
                                env=dict(os.environ, **(environment or {})))
        output = result.stdout.decode("ascii") if result.stdout is not None else None
        return result.returncode, output, result.stderr.decode("ascii", errors="replace")

    def measured(self, *arguments, environment=None, statuses=(0, 3)):
        """The lines of a measuring run, which exits 0, or 3 where core
        cycles cannot be trusted."""
        status, output, stderr = self.run(*arguments, environment=environment)
        check(status in statuses, f"exit status {status}: {stderr}")
        check(stderr == "", f"standard error is {stderr!r}")
        check(output.endswith(self.line_break), f"output ends in {output[-40:]!r}")
        lines = output[:-len(self.line_break)].split(self.line_break)
        check(all("\r" not in line and "\n" not in line for line in lines), "mixed line breaks")
        return lines


def family_sections(lines):
    """The report's families, by name: the heading's match and the lines up
    to the next heading or the transitions."""
    transitions_at = next(i for i, line in enumerate(lines) if line.startswith("transitions between upper-half"))
    starts = [i for i, line in enumerate(lines[:transitions_at]) if HEADING.fullmatch(line)]
    families = {}
    for start, end in zip(starts, starts[1:] + [transitions_at]):
        heading = HEADING.fullmatch(lines[start])
        check(lines[start - 1] == "", f"no empty line before {lines[start]!r}")
        families[heading.group(1)] = (heading, lines[start + 1:end - 1])
    return families, lines[transitions_at:]


def report_sections(lines):
    """The latency lines, the triangle's rows, the costly crossings and the
    bimodal ones of one measured family."""
    latency_at = lines.index("typical: of their middle runs):")
    triangle_at = lines.index("* marks a cell that every window puts 0.1 or more from zero on one side, ~ a bimodal one:")
    crossings_at = lines.index("crossings that cost:")
    bimodal_at = lines.index("them:")
    check(lines[latency_at + 1].split() == ["best", "typical"], "latency column heads")
    latencies = lines[latency_at + 2:triangle_at - 2]
    check(lines[triangle_at - 2] == "", "no empty line after the latencies")
    rows = lines[triangle_at + 1:crossings_at - 1]
    return latencies, rows, lines[crossings_at + 1:bimodal_at - 2], lines[bimodal_at + 1:]


def check_family(lines, classes):
    latencies, rows, crossings, bimodal = report_sections(lines)
    check([LATENCY.fullmatch(line).group(1) if LATENCY.fullmatch(line) else line for line in latencies] == classes,
          f"latency lines {latencies!r}")
    header, *rows = rows
    check(header.split() == classes[:-1], f"column heads {header!r}")
    # A cell's marks follow its figure, a blank standing for a missing *:
    # "+0.8 ~" is one bimodal cell, not two.
    rows = [row.replace(" ~", "~") for row in rows]
    marked, bimodal_marked = set(), set()
    for i, row in enumerate(rows, start=1):
        name, *cells = row.split()
        check(name == classes[i] and len(cells) == i, f"row {row!r}")
        check(all(CELL.fullmatch(cell) for cell in cells), f"cells of {row!r}")
        marked |= {frozenset((name, classes[j])) for j, cell in enumerate(cells) if "*" in cell}
        bimodal_marked |= {frozenset((name, classes[j])) for j, cell in enumerate(cells) if cell.endswith("~")}
    check(len(rows) == len(classes) - 1, f"{len(rows)} rows")
    check(sum(len(row.split()) - 1 for row in rows) == len(classes) * (len(classes) - 1) // 2, "cell count")
    if crossings != ["  none measurable"]:
        for line in crossings:
            crossing = CROSSING.fullmatch(line)
            check(crossing, f"crossing line {line!r}")
            check(frozenset(crossing.groups()[:2]) in marked, f"{line!r} is not a marked cell")
    listed = set()
    if bimodal != ["  none"]:
        for line in bimodal:
            cell = BIMODAL.fullmatch(line)
            check(cell, f"bimodal line {line!r}")
            listed.add(frozenset(cell.groups()))
    check(listed == bimodal_marked, f"bimodal cells {listed} but {bimodal_marked} marked")


def check_transitions(lines):
    check(lines[5] == "figure 0.1 or more from zero on one side; ~ where a figure's runs fall in two modes, judged on",
          f"{lines[5]!r}")
    kinds, at = [], 8
    while at < len(lines):
        line = lines[at]
        kind = re.fullmatch(r"  (legacy SSE|VEX|EVEX), (128|256|512) bits, ([^:]+)(: unsupported, .+|, \d+\.\d\d "
                            r"cycles per instruction with no state write:)", line)
        check(kind, f"transition kind {line!r}")
        kinds.append(kind.group(1) + " " + kind.group(2))
        at += 1
        if "unsupported" in kind.group(4):
            continue
        check(lines[at].split() == ["per", "change", "per", "instruction", "per", "instruction,"], f"{lines[at]!r}")
        check(lines[at + 1].split() == ["of", "state", "after", "a", "change", "steady", "state"], f"{lines[at + 1]!r}")
        check(lines[at + 2].split() == ["best", "typical"] * 3, f"{lines[at + 2]!r}")
        # Four states, each with the two modes of its bimodal figures under it.
        at += 3
        for _ in range(4):
            state = TRANSITION.fullmatch(lines[at])
            check(state, f"state {lines[at]!r}")
            at += 1
            if state.group(2).startswith("n/a"):
                continue
            marks = [mark or "" for mark in re.findall(r"[+-]\d+\.\d+(\*~?| ~)? +[+-]\d+\.\d+", state.group(2))]
            bimodal = [title for title, mark in zip(TRANSITION_TITLES, marks) if "~" in mark]
            listed = []
            while at < len(lines) and TRANSITION_MODES.fullmatch(lines[at]):
                listed.append(TRANSITION_MODES.fullmatch(lines[at]).group(1))
                at += 1
            check(listed == bimodal, f"two modes of {lines[at - 1 - len(listed)]!r}: {listed} but {bimodal} marked")
    check(kinds == ["legacy SSE 128", "VEX 128", "VEX 256", "EVEX 512"], f"kinds {kinds}")


def check_report(lines, classes_of):
    """A measured report: `classes_of(family)` names the classes expected of
    each measured family."""
    check(lines[0].startswith("simd-mix-matrix on "), f"first line {lines[0]!r}")
    check(lines[1].startswith("calibration: "), f"second line {lines[1]!r}")
    # The triangles' documented window shape: 12 windows of 12 turns, eight
    # chains beside one ruler in each.
    check(lines[3] == "chains of 4 and 12 dependent instructions per iteration, 1,024 iterations a run; "
          "12 windows of 12 turns for each chain, 8 chains to a window", f"fourth line {lines[3]!r}")
    families, transitions = family_sections(lines)
    for name, (heading, section) in families.items():
        if heading.group(3) is None:
            if section and section[0].startswith("left out: "):
                section = section[1:]
            check_family(section, classes_of(name, section))
        else:
            check(section == [], f"{name} is not measured, but has lines {section[:2]!r}")
    check_transitions(transitions)
    return families


def measured_classes(name, section):
    """The classes of a family as its latency lines name them; the SSE ones
    must be all of SSE's but for those of SSE3, SSSE3 and SSE4.1 that the
    processor may lack."""
    names = [LATENCY.fullmatch(line).group(1) for line in section if LATENCY.fullmatch(line)]
    if name == "sse":
        check([c for c in SSE_CLASSES if c in names] == names and len(names) >= SSE2_CLASSES, f"sse classes {names}")
    return names


def case_report(program):
    families = check_report(program.measured("--arithmetic"), measured_classes)
    check(list(families) == FAMILIES, f"families {list(families)}")
    flags = processor_flags()
    if flags is not None and on_real_processor(program, "matrix.report: the measured families match /proc/cpuinfo",
                                               "the emulated processor's instruction sets are the emulator's"):
        # Every family the processor has is measured, or counted within
        # another; the others say why not.
        for name, (heading, _) in families.items():
            has = FAMILY_FLAGS[name] in flags
            state = heading.group(4) or "measured"
            check(has != state.startswith("unsupported"), f"{name}: {state}, but cpuinfo says {has}")
        check(families["avx"][0].group(4) is not None or "avx2" not in flags, "avx measured twice")


def case_classes(program):
    # Named in any order, measured in the table's order, in every family
    # that has them and that the processor has.
    families = check_report(program.measured("--isa", "sse,avx", "--classes", "mulps,pand,addpd,vmulpd"),
                            lambda name, section: {"sse": ["pand", "mulps", "addpd"], "avx": ["vmulpd"]}[name])
    check(list(families) == ["sse", "avx"], f"families {list(families)}")


def movement_sections(lines):
    """The movement section's families, by name: the heading's match and the
    lines up to the next heading."""
    starts = [i for i, line in enumerate(lines) if MOVEMENT_HEADING.fullmatch(line)]
    sections = {}
    for start, end in zip(starts, starts[1:] + [len(lines) + 1]):
        check(lines[start - 1] == "", f"no empty line before {lines[start]!r}")
        sections[MOVEMENT_HEADING.fullmatch(lines[start]).group(1)] = (MOVEMENT_HEADING.fullmatch(lines[start]),
                                                                     lines[start + 1:end - 1])
    return sections


def check_types(lines):
    """A types table's grids: a heading, column heads and six rows each;
    gives the measured cells by (subtraction, store, load)."""
    check(lines[1] == "one step over the step through the subtraction's own aligned move:", f"{lines[1]!r}")
    cells, at = {}, 2
    while at < len(lines) and GRID_HEAD.fullmatch(lines[at]):
        head = GRID_HEAD.fullmatch(lines[at])
        loads = lines[at + 1].split()
        check(len(loads) == 6 and head.group(3) in loads, f"column heads {lines[at + 1]!r}")
        bimodal = set()
        for row in lines[at + 2:at + 8]:
            # "-5.5 ~" is one bimodal cell, not two.
            store, *figures = row.replace(" ~", "~").split()
            check(len(figures) == 6 and all(GRID_CELL.fullmatch(figure) for figure in figures), f"row {row!r}")
            cells.update({(head.group(1), store, load): figure for load, figure in zip(loads, figures) if figure != "."})
            bimodal |= {(store, load) for load, figure in zip(loads, figures) if figure.endswith("~")}
        # The reference is measured, and costs nothing over itself.
        check(cells.get((head.group(1), head.group(2), head.group(3))).rstrip("~") == "+0.0",
              f"reference of {lines[at]!r}")
        at += 8
        # Every bimodal cell of the grid, in its order, with its two modes.
        listed = []
        while at < len(lines) and GRID_MODES.fullmatch(lines[at]):
            listed.append(GRID_MODES.fullmatch(lines[at]).groups()[:2])
            at += 1
        check(set(listed) == bimodal and len(listed) == len(bimodal), f"two modes of {sorted(bimodal)}: {listed}")
    return cells, lines[at:]


def check_widths(lines):
    check(lines[2].split() == ["best", "typical", "extra", "typical"], f"{lines[2]!r}")
    rows, at = [], 3
    while at < len(lines):
        row = WIDTH_LINE.fullmatch(lines[at])
        check(row, f"widths line {lines[at]!r}")
        rows.append((row.group(1), row.group(2), row.group(3)))
        at += 1
        # A bimodal cell has its two modes under it; so has a bimodal
        # reference, which shows no figure to mark.
        marked = "~" in row.group(3)
        if at < len(lines) and WIDTH_MODES.fullmatch(lines[at]):
            check(marked or row.group(3) == "(the reference)", f"two modes under {lines[at - 1]!r}")
            at += 1
        else:
            check(not marked, f"no two modes under {lines[at - 1]!r}")
    return rows


def case_movement(program):
    # The movement alone: no triangle, no transitions; the cells chosen by
    # the names and the references they are counted against.
    lines = program.measured("--movement", "--classes", "movdqu,halves")
    check(lines[0].startswith("simd-mix-matrix on ") and lines[1].startswith("calibration: "), f"{lines[:2]!r}")
    check(lines[2].startswith("each window converted by the clock's add chains timed in it: "), f"{lines[2]!r}")
    check(not any(line.startswith(("transitions", "latency")) for line in lines), "arithmetic in the report")
    sections = movement_sections(lines)
    # SSE is always measured; a family beyond it only where cpuinfo names its
    # extension (an emulator may offer less than the host has).
    flags = processor_flags()
    measured = [name for name, (heading, _) in sections.items() if heading.group(3) is None]
    check(measured[:1] == ["sse"] and set(measured) <= {"sse", "avx2", "avx512"}, f"measured families {measured}")
    check(flags is None or all(FAMILY_FLAGS[name] in flags for name in measured), f"measured families {measured}")
    for name, (heading, section) in sections.items():
        if heading.group(3) is not None:
            check(section == [], f"{name} is not measured, but has lines")
            continue
        if name == "sse":
            check(section[0].startswith("types: "), f"{section[0]!r}")
            cells, section = check_types(section)
            # movdqu as a store or a load, with each subtraction, and each
            # subtraction's reference.
            check(len(cells) == 24, f"{len(cells)} types cells")
        check(section[0].startswith("widths: "), f"{section[0]!r}")
        rows = check_widths(section)
        check(len(rows) == 2 and rows[0][2] == "(the reference)" and rows[1][0].startswith("two "), f"widths {rows}")


def case_movement_json(program):
    # Every movement figure follows from the runs and rulers the document
    # holds, window by window; the arithmetic's sections are absent.
    data = json.loads(program.line_break.join(program.measured("--movement", "--json", "--classes", "halves,edx32")))
    check(list(data)[0] == "format_version" and "transitions" not in data and data["families"] == [], "sections")
    movement, lengths = data["movement"], [chain["length"] for chain in data["calibration"]["chains"]]
    # The window shape the documentation gives for the movement tables.
    check((movement["windows"], movement["turns"]) == (12, 12), f"windows {movement['windows']} x {movement['turns']}")
    steps, rulers = movement["long_steps"] - movement["short_steps"], []
    for family in movement["families"]:
        if family["status"] != "measured":
            check(family["why"] and "tables" not in family, f"{family['name']}: says why, has no tables")
            continue
        for table in family["tables"]:
            cycles = {}
            for cell in table["cells"]:
                runs = cell["windows"]
                check(len(runs["long_minimums"]) == movement["windows"], "a figure per window")
                for kind in ("minimums", "medians"):
                    cycles[cell["store"], cell["load"], kind] = per_window(runs, kind, steps * ITERATIONS, lengths,
                                                                           rulers)
            for cell in table["cells"]:
                name = f"{family['name']} {table['name']} {cell['store']} -> {cell['load']}"
                reference = (cell["reference"]["store"], cell["reference"]["load"])
                for kind, key in (("minimums", "extra"), ("medians", "extra_typical")):
                    extras = [own - base for own, base in zip(cycles[cell["store"], cell["load"], kind],
                                                              cycles[reference + (kind,)])]
                    check(abs(statistics.median(extras) - cell[key]) < 1e-4, f"{name}: {key}")
                    check(abs(min(extras) - cell[f"{key}_lowest"]) < 1e-4, f"{name}: {key}_lowest")
                check(abs(statistics.median(cycles[cell["store"], cell["load"], "minimums"]) - cell["cycles"]) < 1e-4,
                      f"{name}: cycles")
                agree = cell["extra_lowest"] >= 0.1 or cell["extra_highest"] <= -0.1
                check(cell["measurable"] == agree, f"{name}: measurable")
                check_modes(cell, data, movement["windows"] * movement["turns"], name)
            # halves, the four cells with EDX, and the two references.
            check(len(table["cells"]) == 7, f"{family['name']}: {len(table['cells'])} cells")
    check(abs(statistics.median(rulers) - movement["window_ticks_per_cycle"]) < 1e-5, "the windows' ruler")


def per_window(runs, kind, extra, lengths, every_ruler=None):
    """A chain's cycles per instruction, each window by the ruler timed in it."""
    rulers = [(long - short) / ((lengths[1] - lengths[0]) * ITERATIONS) for short, long in runs[f"ruler_{kind}"]]
    if every_ruler is not None and kind == "minimums":
        every_ruler.extend(rulers)
    return [(long - short) / extra / ruler
            for short, long, ruler in zip(runs[f"short_{kind}"], runs[f"long_{kind}"], rulers)]


def check_json_family(family, data, lengths, every_ruler):
    # The chains run fewer iterations than the ruler, whose ITERATIONS the
    # document's "iterations" gives.
    check(data["iterations"] == ITERATIONS and data["chain_iterations"] < ITERATIONS, "iterations")
    windows, extra = data["windows"], (data["long_chain"] - data["short_chain"]) * data["chain_iterations"]
    latency = {}
    for entry in family["classes"]:
        for kind, key in (("minimums", "latency"), ("medians", "typical")):
            check(all(len(entry["windows"][field]) == windows for field in entry["windows"]), "figures per window")
            latency[entry["name"], kind] = per_window(entry["windows"], kind, extra, lengths, every_ruler)
            check(abs(statistics.median(latency[entry["name"], kind]) - entry[key]) < 1e-4, f"{key} of {entry['name']}")
    names = [entry["name"] for entry in family["classes"]]
    check(len(family["round_trips"]) == len(names) * (len(names) - 1) // 2, "round trips")
    for cell in family["round_trips"]:
        name = f"{family['name']}: {cell['first']} <-> {cell['second']}"
        trips = {}
        for kind, key in (("minimums", "cycles"), ("medians", "typical")):
            trips[key] = [2 * both - first - second for both, first, second in
                          zip(per_window(cell["windows"], kind, extra, lengths, every_ruler),
                              latency[cell["first"], kind], latency[cell["second"], kind])]
            check(abs(statistics.median(trips[key]) - cell[key]) < 1e-4, f"{name}: {key}")
            check(abs(min(trips[key]) - cell[f"{key}_lowest"]) < 1e-4, f"{name}: {key}_lowest")
        # Measurable when every window puts it on one side, beyond a tenth.
        agree = min(trips["cycles"]) >= 0.1 or max(trips["cycles"]) <= -0.1
        check(cell["measurable"] == agree, f"{name}: measurable")
        check_modes(cell, data, windows * data["turns"], name)


def check_modes(cell, data, runs, name):
    """A cell's modes: every run of every window read, the fast ones counted
    and their share, bimodal where they hold the least share or more."""
    check(cell["runs"] == runs, f"{name}: {cell['runs']} runs")
    check((cell["fast"] is None) == (cell["fast_runs"] == 0), f"{name}: fast")
    check(abs(cell["fast_share"] - cell["fast_runs"] / runs) < 1e-6, f"{name}: fast_share")
    one_in = round(1 / data["fast_share_least"])
    check(cell["bimodal"] == (cell["fast_runs"] > 0 and cell["fast_runs"] * one_in >= runs), f"{name}: bimodal")


def check_json_transitions(transitions, data, lengths, every_ruler):
    check((transitions["short_chain"], transitions["long_chain"], transitions["steady_chain"])
          == (TRANSITION_SHORT, TRANSITION_LONG, TRANSITION_LONG), "chain lengths")
    check([figure["name"] for figure in transitions["figures"]] == TRANSITION_FIGURES, "figures")
    check([(figure["modes_from"], figure["modes_parts"]) for figure in transitions["figures"]]
          == [("head_long", 1), ("head_long", TRANSITION_LONG), ("steady", TRANSITION_LONG)], "figures' modes")
    check([state["name"] for state in transitions["states"]] == ["clean", "dirty_ymm", "dirty_zmm", "dirty_zmm16_31"],
          "states")
    check([kind["name"] for kind in transitions["kinds"]] == ["sse128", "vex128", "vex256", "evex512"], "kinds")
    lengths_apart = TRANSITION_LONG - TRANSITION_SHORT
    for kind in transitions["kinds"]:
        if kind["status"] != "measured":
            check(kind["why"], f"{kind['name']} says why not")
            continue
        latencies = []
        for state in kind["states"]:
            if state["status"] != "measured":
                check(state["why"], f"{kind['name']} after {state['state']} says why not")
                continue
            runs, name = state["windows"], f"{kind['name']} after {state['state']}"
            for kind_of_run, key in (("minimums", "cycles"), ("medians", "typical")):
                rulers = [(long - short) / ((lengths[1] - lengths[0]) * ITERATIONS)
                          for short, long in runs[f"ruler_{kind_of_run}"]]
                if kind_of_run == "minimums":
                    every_ruler.extend(rulers)

                def per_iteration(first, second):
                    return [(after - before) / ITERATIONS / ruler for before, after, ruler in
                            zip(runs[f"{first}_{kind_of_run}"], runs[f"{second}_{kind_of_run}"], rulers)]
                at_short = per_iteration("reference_short", "head_short")
                at_long = per_iteration("reference_long", "head_long")
                instruction = [(long - short) / lengths_apart for short, long in zip(at_short, at_long)]
                figures = {"per_change": [short - TRANSITION_SHORT * each for short, each in zip(at_short, instruction)],
                           "per_instruction": instruction,
                           "steady_per_instruction": [extra / TRANSITION_LONG for extra in
                                                      per_iteration("reference_long", "steady")]}
                if kind_of_run == "minimums":
                    latencies += [cycles / lengths_apart for cycles in per_iteration("reference_short", "reference_long")]
                for figure, values in figures.items():
                    # The window shape the documentation gives: 12 windows of 12 turns.
                    check(len(values) == transitions["windows"] == 12 and transitions["turns"] == 12,
                          f"{name}: a figure per window of 12")
                    entry = state[figure]
                    check(abs(statistics.median(values) - entry[key]) < 1e-4, f"{name}: {figure} {key}")
                    check(abs(min(values) - entry[f"{key}_lowest"]) < 1e-4, f"{name}: {figure} {key}_lowest")
                    if kind_of_run == "minimums":
                        agree = min(values) >= 0.1 or max(values) <= -0.1
                        check(entry["measurable"] == agree, f"{name}: {figure} measurable")
            for figure in TRANSITION_FIGURES:
                check_modes(state[figure], data, transitions["windows"] * transitions["turns"], f"{name}: {figure}")
        check(abs(statistics.median(latencies) - kind["latency"]) < 1e-4, f"{kind['name']}: latency")


def case_json(program):
    data = json.loads(program.line_break.join(program.measured(
        "--json", "--classes", "paddd,addps,cvtdq2ps,blendvps,movd:eax,vpaddd,vaddps,vfmadd231pd,vperm2f128")))
    check([family["name"] for family in data["families"]] == FAMILIES, "families")
    check((data["windows"], data["turns"], data["chains_per_window"]) == (12, 12, 8), "the triangles' window shape")
    # Each class names its instructions, a round trip all of them in order.
    instructions = {entry["name"]: entry["instructions"] for entry in data["families"][0]["classes"]}
    check(instructions["paddd"] == ["paddd xmm0, xmm1"] and
          instructions["movd:eax"] == ["movd eax, xmm0", "movd xmm0, eax"], f"instructions {instructions}")
    lengths = [chain["length"] for chain in data["calibration"]["chains"]]
    every_ruler = []
    for family in data["families"]:
        check(family["status"] in ("measured", "within", "unsupported"), f"{family['name']}: status")
        if family["status"] == "measured":
            check_json_family(family, data, lengths, every_ruler)
        else:
            check(family["why"] and "classes" not in family, f"{family['name']}: says why, has no classes")
    check_json_transitions(data["transitions"], data, lengths, every_ruler)
    # The windows of the families and of the transitions alike.
    check(abs(statistics.median(every_ruler) - data["window_ticks_per_cycle"]) < 1e-5, "the windows' ruler")


# A brand string as a virtual machine's host may set it: a quote, a
# backslash, a tab, a byte that is no UTF-8 (0xE9 alone), a UTF-8 letter that
# the Windows code pages hold (e acute) and one that none of the Western ones
# does (capital omega).
HOSTILE_NAME = b'Evil "Turin" \\ 9\t5\xe9 caf\xc3\xa9 \xce\xa9'
# What it must read back as: every character kept, the stray byte as U+FFFD.
# A PE32 program reads its environment as UTF-16, so under wine too, where
# the stray byte reaches it as U+FFFD and no code page stands in between.
HOSTILE_TEXT = 'Evil "Turin" \\ 9\t5\ufffd caf\u00e9 \u03a9'


# A name far longer than a brand string's 48 bytes comes back whole too.
LONG_NAME = HOSTILE_NAME * 150
LONG_TEXT = HOSTILE_TEXT * 150


def case_hostile_name(program):
    # One character, as short as a name can be, is a name too: one byte, and
    # one UTF-16 unit of two bytes.
    for given, expected in ((HOSTILE_NAME, HOSTILE_TEXT), (LONG_NAME, LONG_TEXT), (b"7", "7"),
                            (b"\xce\xa9", "\u03a9")):
        status, output, stderr = program.run("--json", "--isa", "sse", "--classes", "pand",
                                             environment={"SIMD_MIX_PROCESSOR_NAME": given})
        check(status in (0, 3) and stderr == "", f"exit status {status}: {stderr}")
        data = json.loads(output, object_pairs_hook=list)
        check(data[0] == ("format_version", 2), f"first key {data[0]}")
        name = dict(data)["processor"]
        check(name == expected, f"processor {name[:80]!r}, {len(name)} characters")


def case_untrusted(program):
    # A cross-check forced to fail: status 3, and the report says so.
    lines = program.measured("--classes", "pand,mulps", environment={"SIMD_MIX_FAIL_CROSS_CHECK": "1"}, statuses=(3,))
    check(lines[1].endswith("; core cycles cannot be trusted on this processor"), f"second line {lines[1]!r}")


def case_list(program):
    status, output, stderr = program.run("--list", "--classes", "pand,mulps")
    check(status == 0 and stderr == "", f"exit status {status}: {stderr}")
    lines = output.split(program.line_break)
    titles = [line for line in lines if line.startswith("sse chain ")]
    check(titles == ["sse chain pand alone: 4 instructions per loop iteration",
                     "sse chain pand alone: 12 instructions per loop iteration",
                     "sse chain pand, mulps: 4 instructions per loop iteration",
                     "sse chain pand, mulps: 12 instructions per loop iteration",
                     "sse chain mulps alone: 4 instructions per loop iteration",
                     "sse chain mulps alone: 12 instructions per loop iteration"], f"titles {titles!r}")
    # Every transition routine the program has follows, the zmm16-31 ones
    # on a 64-bit program only.
    # Each kind's reference at 4 and 12 instructions, and for each state the
    # write at the head of the chains of 4 and 12 and once before the loop.
    transitions = [line for line in lines if line.startswith("transition ")]
    states = 4 if program.bits == 64 else 3
    check(len(transitions) == 4 * (2 + 3 * states), f"{len(transitions)} transition listings")
    check(transitions[:8] == [
        "transition sse128, none: 4 instructions per loop iteration",
        "transition sse128, none: 12 instructions per loop iteration",
        "transition sse128, clean: one state write and 4 instructions per loop iteration",
        "transition sse128, clean: one state write and 12 instructions per loop iteration",
        "transition sse128, clean, steady: 12 instructions per loop iteration, after vzeroupper (C5 F8 77) once "
        "before the first time stamp",
        "transition sse128, dirty_ymm: one state write and 4 instructions per loop iteration",
        "transition sse128, dirty_ymm: one state write and 12 instructions per loop iteration",
        "transition sse128, dirty_ymm, steady: 12 instructions per loop iteration, after vinsertf128 ymm7, ymm3, "
        "xmm3, 0x01 (C4 E3 65 18 FB 01) once before the first time stamp"], f"{transitions[:8]!r}")
    # The short alternating chain, as the benchmark lists a loop body.
    block = program.line_break.join([
        "chain pand, mulps: 4 instructions per loop iteration", "\tcode:", "\t\t/*|*/", "",
        "\t\t# bitwise logical and (integer; SSE2)", "\t\t# pand xmm0, xmm2", "\t\t66 0F DB C2", "",
        "\t\t# multiply packed single-precision floating-point values (floating point; SSE)",
        "\t\t# mulps xmm0, xmm3", "\t\t0F 59 C3", "",
        "\t\t# bitwise logical and (integer; SSE2)", "\t\t# pand xmm0, xmm2", "\t\t66 0F DB C2", "",
        "\t\t# multiply packed single-precision floating-point values (floating point; SSE)",
        "\t\t# mulps xmm0, xmm3", "\t\t0F 59 C3", "", ""])
    check(block in output, "the listing of pand, mulps at 4 per iteration differs")
    chains = output[:output.index("transition ")]
    # One mark at every 16-byte boundary that a body reaches: at offset 0 of
    # the 16, 14 and 12 bytes of the short chains, and at 0, 16 and 32 of the
    # 48, 42 and 36 bytes of the long ones.
    check(chains.count("/*|*/") == 3 * 1 + 3 * 3, "16-byte marks")
    # A round trip through EAX is one step of its chain, both of its
    # instructions listed, and the titles count both.
    status, output, _ = program.run("--list", "--isa", "sse", "--classes", "paddd,movd:eax", "--arithmetic")
    titles = [line for line in output.split(program.line_break) if line.startswith("sse chain ")]
    round_trip = "; each movd:eax the round trip xmm->eax->xmm in 2 instructions"
    check(status == 0 and titles == ["sse chain paddd alone: 4 instructions per loop iteration",
                                     "sse chain paddd alone: 12 instructions per loop iteration",
                                     "sse chain paddd, movd:eax: 4 steps per loop iteration, 6 instructions" + round_trip,
                                     "sse chain paddd, movd:eax: 12 steps per loop iteration, 18 instructions" + round_trip,
                                     "sse chain movd:eax alone: 4 steps per loop iteration, 8 instructions" + round_trip,
                                     "sse chain movd:eax alone: 12 steps per loop iteration, 24 instructions" + round_trip],
          f"round-trip titles {titles!r}")
    step = program.line_break.join([
        "\t\t# add packed doubleword integers (integer; SSE2)", "\t\t# paddd xmm0, xmm1", "\t\t66 0F FE C1", "",
        "\t\t# move doubleword to a general-purpose register (integer; SSE2)", "\t\t# movd eax, xmm0",
        "\t\t66 0F 7E C0", "",
        "\t\t# move doubleword from a general-purpose register (integer; SSE2)", "\t\t# movd xmm0, eax",
        "\t\t66 0F 6E C0", "", "\t\t# add packed"])
    check(step in output, "the listing of paddd, movd:eax")
    # A family the processor lacks is listed all the same, and a round trip
    # through the mask register k1 and EAX as its four instructions.
    status, output, _ = program.run("--list", "--isa", "avx512", "--classes", "vshuff32x4,kmovw:eax")
    check(status == 0 and "\t\t# vshuff32x4 zmm0, zmm0, zmm0, 0x4E" + program.line_break + "\t\t62 F3 7D 48 23 C0 4E"
          in output, "the listing of vshuff32x4")
    check("avx512 chain kmovw:eax alone: 4 steps per loop iteration, 16 instructions; each kmovw:eax the round trip "
          "zmm->k1->eax->k1->zmm in 4 instructions" + program.line_break in output, "the title of kmovw:eax alone")
    chains = output[:output.index("transition ")].split(program.line_break)
    mnemonics = [line for line in chains if line.startswith("\t\t# ") and "," in line]
    check(mnemonics[:4] == ["\t\t# vshuff32x4 zmm0, zmm0, zmm0, 0x4E"] * 4 and
          mnemonics[-4:] == ["\t\t# vpcmpgtd k1, zmm0, zmm1", "\t\t# kmovw eax, k1", "\t\t# kmovw k1, eax",
                             "\t\t# vpaddd zmm0{k1}, zmm0, zmm1"], f"mnemonics {mnemonics[-4:]!r}")
    # The movement chains of a family the processor lacks, and no others.
    status, output, _ = program.run("--list", "--movement", "--isa", "avx512", "--classes", "edx")
    titles = [line for line in output.split(program.line_break) if line.startswith(("movement", "sse", "transition"))]
    check(status == 0 and titles == ["movement avx512 widths whole, whole, vpord: 1 step per loop iteration",
                                     "movement avx512 widths whole, whole, vpord: 2 steps per loop iteration",
                                     "movement avx512 widths edx, whole, vpord: 1 step per loop iteration",
                                     "movement avx512 widths edx, whole, vpord: 2 steps per loop iteration"],
          f"movement titles {titles!r}")
    check(output.count("\t\t# mov RAM[ebx+60], edx" + program.line_break) == 3,
          "sixteen stores of EDX, once in the short chain and twice in the long one")


def listings_of(output, line_break):
    """Each listing of a --list output: its title and its instructions, each
    as its summary, mnemonic and bytes, the 16-byte marks left out."""
    listings = []
    for line in output.split(line_break):
        if line and not line.startswith("\t"):
            listings.append((line, []))
        elif line.startswith("\t\t") and line != "\t\t/*|*/":
            listings[-1][1].append(line.replace("/*|*/", ""))
    return [(title, [tuple(lines[i:i + 3]) for i in range(0, len(lines), 3)]) for title, lines in listings]


def case_long_listings_repeat_the_short_ones(program):
    # Each listing reads its bytes where its own routine runs: the long
    # chain's loop is the short one's, step for step, 3 times over (12
    # instructions against 4) or twice (2 steps against 1), and a state
    # written at the head of the loop stands once in each. A listing read
    # from another routine shows its loop control or tear-down instead.
    status, output, stderr = program.run("--list")
    check(status == 0 and stderr == "", f"exit status {status}: {stderr}")
    length = re.compile(r"^(.*): (one state write and )?(\d+) (?:instructions|steps?) per loop iteration")
    shorter, pairs = {}, 0
    for title, instructions in listings_of(output, program.line_break):
        match = length.match(title)
        check(match is not None, f"title {title!r}")
        prefix, head, count = match.group(1), 1 if match.group(2) else 0, int(match.group(3))
        if prefix not in shorter:
            shorter[prefix] = (count, instructions[:head], instructions[head:])
            continue
        short_count, short_head, short_loop = shorter.pop(prefix)
        pairs += 1
        expected = short_head + short_loop * (count // short_count)
        check(instructions == expected, f"{title}: its loop is not the short chain's {count // short_count} times")
    # Every chain but the transitions' steady ones (a single length) pairs.
    check(pairs > 1000 and all("steady" in prefix for prefix in shorter), f"{pairs} pairs, unpaired {list(shorter)[:3]}")


def case_bad_option(program):
    for arguments, message in ((["--fast"], "unknown option '--fast'"),
                               (["--classes", "pand,nope"], "no instruction class 'nope' in the families chosen"),
                               (["--isa", "sse", "--classes", "vaddps"],
                                "no instruction class 'vaddps' in the families chosen"),
                               (["--classes", "pand,pand"], "class 'pand' named twice"),
                               (["--classes", "paddd,"], "an empty class name"),
                               (["--isa", "sse,avx3"], "no family 'avx3' (sse, avx, avx2 or avx512)"),
                               (["--isa"], "--isa needs a list of names"),
                               (["--classes"], "--classes needs a list of names"),
                               (["--arithmetic", "--movement"], "--arithmetic and --movement exclude each other"),
                               (["--movement", "--classes", "pand"], "no movement cell uses the class 'pand'"),
                               (["--movement", "--isa", "sse", "--classes", "paddd"],
                                "no movement cell uses the class 'paddd'"),
                               (["--json", "--list"], "--json and --list exclude each other"),
                               (["--bogus", "--list"], "unknown option '--bogus'"),
                               (["--isa=sse", "-x"], "unknown option '-x'"),
                               (["--list", "extra"], "unknown option 'extra'")):
        status, output, stderr = program.run(*arguments)
        check(status == 2, f"{arguments}: exit status {status}")
        check(output == "", f"{arguments}: standard output {output!r}")
        # One line, whatever the option: no usage after it.
        check(stderr.replace("\r\n", "\n") == f"simd-mix-matrix: {message}; try --help\n",
              f"{arguments}: standard error {stderr!r}")
    # --opt=value as --opt value, and -h as --help.
    for arguments in (["--isa=sse", "--classes=paddd,addps"], ["--isa", "sse", "--classes", "paddd,addps"]):
        status, output, errors = program.run("--list", *arguments)
        check(status == 0 and output.count("sse chain ") == 6, f"{arguments}: exit status {status}, {errors!r}")
    status, usage, _ = program.run("-h")
    check(status == 0 and usage.startswith("usage: simd-mix-matrix "), f"-h: exit status {status}, {usage!r}")
    # Every round trip the usage gives as an example, through EAX or through
    # k1, is a name --classes takes.
    round_trips = re.findall(r"\b[a-z0-9]+[^a-z0-9\s,()]+(?:eax|k1)\b", usage)
    check(len(round_trips) >= 2, f"the usage's round trips {round_trips}")
    for name in round_trips:
        status, _, errors = program.run("--list", "--classes", name)
        check(status == 0, f"--classes {name}, as the usage names it: exit status {status}, {errors!r}")


def case_output_failure(program):
    with open("/dev/full", "wb") as full:
        status, _, stderr = program.run("--list", stdout=full)
    check(status == 1, f"exit status {status}")
    if program.windows:
        check(re.fullmatch(re.escape(FAILURE_PREFIX) + r"[^\r\n]+\r\n", stderr), f"standard error {stderr!r}")
    else:
        check(stderr == FAILURE_PREFIX + "No space left on device\n", f"standard error {stderr!r}")


if __name__ == "__main__":
    sys.exit(run_case(cases_in(globals()), Program, errors=(json.JSONDecodeError, KeyError, ValueError)))
