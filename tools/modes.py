"""Whether a cell's runs fall in two modes, for the tools.

matrix/modes.hpp holds the same rule in the program, which judges the modes
of what it measures and writes them into its JSON ("bimodal", "fast",
"fast_share", "fast_runs", "runs"); a change to one is a change to both.
The tools apply it here to results written before the program did so,
which hold each window's fastest and middle runs but not every run.

A cell's runs are the runs of the routine that holds what the cell measures,
at its longer length, in every window where the cell can be converted: for
a transition of format 2, the long chain with the state written at the head
of every iteration for the cost per change of state and per instruction
after a change, the chain after the state set once for the steady state's
figure. Each run is read in the cell's own unit from its own core cycles,
by the ruler's fastest runs of its window, spread over the instructions or
steps of its routine (over the iteration, for the cost per change) and
placed so that the median over the windows of their fastest runs reads as
the cell's best figure. The typical
mode's centre is the median over the windows of their middle run's reading.
The fast mode is every run below the centre beyond an empty stretch of more
than BIMODAL_MARGIN: going down from the centre through the readings below
it, the first gap between neighbours (the centre counting as the first)
wider than the margin; every run below it is fast. A cell is bimodal when
its fast mode holds at least FAST_SHARE_LEAST of its runs.

From a window's fastest and middle run alone, a fast fastest run is one fast
run and a fast middle run stands for every run from the fastest up to the
middle; the runs above the middle are not known. So the count of fast runs
of such a cell is the least it can be, and the cell says so ("at_least").

A format 1 file's own "bimodal" said that a cell's typical figure lay more
than the margin above its best, and its "fast_share" counted the runs nearer
the best than the typical time: where best and typical lie close, that
share is noise on both sides of the midpoint, not a mode. Format 2's
"bimodal" and "fast_share" are this rule's; a cell that lacks "fast_runs"
(a file of format 1, or of format 2 from before the program judged modes)
is judged here from its windows, and only without windows from its figures.
"""

BIMODAL_MARGIN = 1.0
# The places to which the program writes its figures.
FIGURE_PLACES = 6
# One run in a hundred, counted in whole runs.
FAST_RUNS_ONE_IN = 100
FAST_SHARE_LEAST = 1 / FAST_RUNS_ONE_IN
# The clock's two add chains, 8 and 24 dependent one-cycle additions per
# iteration: the ruler of every window.
RULER_EXTRA_CYCLES = 16
# The ruler's iterations a run, and everything's but the matrix's chains,
# which run "chain_iterations" where a file says so (2,048 since the windows
# held eight chains, 1,024 since the classes of every kind a compiler emits)
# and ITERATIONS in files written before.
ITERATIONS = 4096


def median(values):
    ordered = sorted(values)
    middle = len(ordered) // 2
    return ordered[middle] if len(ordered) % 2 else (ordered[middle - 1] + ordered[middle]) / 2


def modes_of(readings, centre, runs):
    """The modes of `runs` runs, of which `readings` are read as (value,
    number of runs it stands for), around the centre of the typical mode:
    (fast runs, median reading of the fast mode or None)."""
    ordered = sorted(readings, key=lambda reading: -reading[0])
    above, fast = centre, len(ordered)
    for index, (value, _) in enumerate(ordered):
        if value >= centre:
            continue
        if above - value > BIMODAL_MARGIN:
            fast = index
            break
        above = value
    # The fast mode's runs in ascending order.
    values = [value for value, count in reversed(ordered[fast:]) for _ in range(count)]
    if not values:
        return 0, None
    return len(values), median(values)


def ticks_per_cycle(ruler, iterations):
    return (ruler[1] - ruler[0]) / (RULER_EXTRA_CYCLES * iterations)


def usable(windows, index):
    return all(ticks_per_cycle(windows[name][index], 1) > 0 for name in ("ruler_minimums", "ruler_medians"))


def per_unit(windows, index, units, iterations, fastest, ruler_iterations=None):
    """A routine pair's figure in one window from its fastest runs
    (fastest=True) or its middle runs, per unit of the `units` units that the
    long routine holds more than the short one, each run `iterations` long
    and the ruler's `ruler_iterations` (as many where not given)."""
    kind = "minimums" if fastest else "medians"
    ruler = windows["ruler_minimums" if fastest else "ruler_medians"][index]
    return (windows[f"long_{kind}"][index] - windows[f"short_{kind}"][index]) / (units * iterations) \
        / ticks_per_cycle(ruler, ruler_iterations or iterations)


def judged(windows, indices, routine, best, units_per_cycle, turns, ruler_iterations):
    """A cell's modes as the program writes them, from the fastest and middle
    runs of `routine` in the windows at `indices`, read in the cell's unit;
    each run's core cycles come from its window's ruler, whose runs are
    `ruler_iterations` long."""
    if not indices:
        return {"bimodal": False, "fast": None, "fast_share": 0, "fast_runs": 0, "runs": 0, "at_least": True}

    def cycles(index, kind):
        return windows[f"{routine}_{kind}"][index] / ticks_per_cycle(windows["ruler_minimums"][index],
                                                                     ruler_iterations)

    origin = median([cycles(index, "minimums") for index in indices])
    readings, middles = [], []
    for index in indices:
        fastest = best + units_per_cycle * (cycles(index, "minimums") - origin)
        middle = best + units_per_cycle * (cycles(index, "medians") - origin)
        readings += [(fastest, 1), (middle, (turns - 1) // 2)]
        middles.append(middle)
    runs = len(indices) * turns
    fast_runs, fast = modes_of(readings, median(middles), runs)
    share = fast_runs / runs
    return {"bimodal": fast_runs > 0 and fast_runs * FAST_RUNS_ONE_IN >= runs, "fast": fast, "fast_share": share,
            "fast_runs": fast_runs, "runs": runs, "at_least": True}


def round_trip_modes(both, first, second, short_chain, long_chain, turns, iterations=ITERATIONS,
                     ruler_iterations=ITERATIONS):
    """A round trip's modes from the windows of its alternating chain and of
    its two classes' chains alone, whose runs are `iterations` long, each
    window converted by its own ruler's runs of `ruler_iterations`."""
    count = min(len(both["long_minimums"]), len(first["long_minimums"]), len(second["long_minimums"]))
    indices = [index for index in range(count) if usable(both, index) and usable(first, index)
               and usable(second, index)]
    extra = long_chain - short_chain
    best = median([2 * per_unit(both, index, extra, iterations, True, ruler_iterations)
                   - per_unit(first, index, extra, iterations, True, ruler_iterations)
                   - per_unit(second, index, extra, iterations, True, ruler_iterations) for index in indices]) \
        if indices else 0
    # A run's cycles spread over the long chain's instructions, two of them
    # to a round trip.
    return judged(both, indices, "long", best, 2 / (long_chain * iterations), turns, ruler_iterations)


def movement_modes(own, reference, is_reference, short_steps, long_steps, turns, iterations=ITERATIONS):
    """A movement cell's modes, read as its extra over its reference, or for
    the reference itself as its step's cycles."""
    count = min(len(own["long_minimums"]), len(reference["long_minimums"]))
    indices = [index for index in range(count) if usable(own, index) and usable(reference, index)]
    extra = long_steps - short_steps
    best = median([per_unit(own, index, extra, iterations, True)
                   - (0 if is_reference else per_unit(reference, index, extra, iterations, True))
                   for index in indices]) if indices else 0
    return judged(own, indices, "long", best, 1 / (long_steps * iterations), turns, iterations)


def transition_modes(windows, length, turns, iterations=ITERATIONS):
    """A transition's modes from its windows of format 1, of the plain chain
    and the chain with the state write, read as an extra per instruction."""
    indices = [index for index in range(len(windows["state_minimums"])) if usable(windows, index)]
    best = median([(windows["state_minimums"][index] - windows["plain_minimums"][index]) / (length * iterations)
                   / ticks_per_cycle(windows["ruler_minimums"][index], iterations) for index in indices]) \
        if indices else 0
    return judged(windows, indices, "state", best, 1 / (length * iterations), turns, iterations)


# Format 2's figures of a transition and the routine whose runs each one's
# modes judge, with the parts of an iteration a run is spread over: the
# program names both in each figure's entry of "figures"; these stand in
# where a file written before it did lacks them.
TRANSITION_JUDGED = {"per_change": ("head_long", 1), "per_instruction": ("head_long", None),
                     "steady_per_instruction": ("steady", None)}


def transition_figure_modes(windows, routine, best, parts, turns, iterations=ITERATIONS):
    """One figure's modes of a transition of format 2 from the runs of
    `routine` in its windows, each spread over `parts` parts of an
    iteration and placed by the figure's best."""
    indices = [index for index in range(len(windows[f"{routine}_minimums"])) if usable(windows, index)]
    return judged(windows, indices, routine, best, 1 / (parts * iterations), turns, iterations)


def from_figures(best, typical, fast_share):
    """A cell's modes from its figures alone, for results that kept no
    windows: where its typical figure lies more than the margin above its
    best, the best is its fast mode's figure and fast_share (the share of its
    runs nearer its best than its typical figure), where the cell has one,
    that mode's share."""
    known = isinstance(fast_share, (int, float)) and not isinstance(fast_share, bool)
    # The files hold six places, and figures exactly a cycle apart there can
    # differ by a hair more in binary: the difference is read at the files'
    # precision.
    if round(typical - best, FIGURE_PLACES) <= BIMODAL_MARGIN:
        return {"bimodal": False, "fast": None, "fast_share": fast_share if known else None, "fast_runs": 0,
                "runs": None, "at_least": True}
    return {"bimodal": not known or fast_share >= FAST_SHARE_LEAST, "fast": best,
            "fast_share": fast_share if known else None, "fast_runs": None, "runs": None, "at_least": False}


def judge_family(entry, data):
    """Gives every round trip of a measured family entry that the program
    did not judge (no "fast_runs") the modes this rule finds, from its
    windows or, without them, from its figures."""
    if entry.get("status", "measured") != "measured":
        return
    classes = {item.get("name"): item for item in entry.get("classes", []) if isinstance(item, dict)}
    for cell in entry.get("round_trips", []):
        if not isinstance(cell, dict) or "fast_runs" in cell:
            continue
        first, second = classes.get(cell.get("first"), {}), classes.get(cell.get("second"), {})
        if all("windows" in item for item in (cell, first, second)) and "turns" in data:
            ruler_iterations = data.get("iterations", ITERATIONS)
            cell.update(round_trip_modes(cell["windows"], first["windows"], second["windows"], data["short_chain"],
                                         data["long_chain"], data["turns"],
                                         data.get("chain_iterations", ruler_iterations), ruler_iterations))
        elif "cycles" in cell and "typical" in cell:
            cell.update(from_figures(cell["cycles"], cell["typical"], cell.get("fast_share")))


def judge_transitions(section, data, version=1):
    """The same for every measured state of the transitions: in format 1 its
    one figure, in format 2 each figure that the program did not judge."""
    if not isinstance(section, dict):
        return
    judging = {}
    for figure in section.get("figures", []) if version >= 2 else []:
        if not isinstance(figure, dict) or figure.get("name") not in TRANSITION_JUDGED:
            continue
        routine, parts = TRANSITION_JUDGED[figure["name"]]
        routine = figure.get("modes_from", routine)
        parts = figure.get("modes_parts", parts or section.get("long_chain"))
        judging[figure["name"]] = (routine, parts)
    for kind in section.get("kinds", []):
        if not isinstance(kind, dict) or kind.get("status") != "measured":
            continue
        for state in kind.get("states", []):
            if not isinstance(state, dict) or state.get("status") != "measured":
                continue
            if version < 2:
                if "fast_runs" in state:
                    continue
                if "windows" in state and "turns" in section:
                    state.update(transition_modes(state["windows"], section["instructions_per_iteration"],
                                                  section["turns"], data.get("iterations", ITERATIONS)))
                elif "cycles" in state and "typical" in state:
                    state.update(from_figures(state["cycles"], state["typical"], None))
                continue
            for name, (routine, parts) in judging.items():
                entry = state.get(name)
                if not isinstance(entry, dict) or "fast_runs" in entry:
                    continue
                windows = state.get("windows")
                if isinstance(windows, dict) and f"{routine}_minimums" in windows and "turns" in section \
                        and isinstance(parts, int) and "cycles" in entry:
                    entry.update(transition_figure_modes(windows, routine, entry["cycles"], parts, section["turns"],
                                                         data.get("iterations", ITERATIONS)))
                elif "cycles" in entry and "typical" in entry:
                    entry.update(from_figures(entry["cycles"], entry["typical"], None))


def judge_movement(section, iterations=ITERATIONS):
    """The same for every measured cell of the movement tables: read as its
    extra over its reference, or for the reference itself as its step's
    cycles."""
    for family in section.get("families", []):
        if not isinstance(family, dict) or family.get("status") != "measured":
            continue
        for table in family.get("tables", []):
            cells = {(cell.get("store"), cell.get("load"), cell.get("arithmetic")): cell
                     for cell in table.get("cells", []) if isinstance(cell, dict)}
            for key, cell in cells.items():
                if "fast_runs" in cell:
                    continue
                reference = cell.get("reference") or {}
                base = cells.get((reference.get("store"), reference.get("load"), key[2]))
                if base is not None and "windows" in cell and "windows" in base and "turns" in section:
                    cell.update(movement_modes(cell["windows"], base["windows"], base is cell, section["short_steps"],
                                               section["long_steps"], section["turns"], iterations))
                elif "extra" in cell and "extra_typical" in cell:
                    cell.update(from_figures(cell["extra"], cell["extra_typical"], None))
