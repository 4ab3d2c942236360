"""The README and the pages under docs/ hold together: every relative link
and picture leads to a file of the repository, and every #anchor, within a
page or into another, names a heading of that page by the rule GitHub gives
heading anchors (lower case, punctuation but hyphens and underscores
dropped, each space a hyphen, a repeated heading's anchor followed by -1,
-2, ...).

Links written inside code, a fenced or indented block or a code span, are
text, not links, and are left alone, as are links to other sites.

Every page links to the glossary, and a page that names a machine by its
processor's family ("family 6, model 167", "the family 26 guest") names the
folder under docs/results/ that its figures come from
(intel-family6-model167-vm): a machine without a folder has no figures to
give.
"""

import glob
import os
import re
import tempfile
import unittest
import urllib.parse

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
HEADING = re.compile(r"^ {0,3}(#{1,6})(?:[ \t]+(.*?))?(?:[ \t]+#+)?[ \t]*$")
CODE_SPAN = re.compile(r"(`+)(?!`)((?:(?!\n[ \t]*\n).)+?)(?<!`)\1(?!`)", re.DOTALL)
COMMENT = re.compile(r"<!--.*?-->", re.DOTALL)
INLINE = re.compile(r"\]\(\s*(<[^>\n]*>|[^)\s]*)(?:\s+(?:\"[^\"]*\"|'[^']*'|\([^)]*\)))?\s*\)")
REFERENCE = re.compile(r"^ {0,3}\[[^\]\n]+\]:[ \t]*(<[^>\n]*>|\S+)", re.MULTILINE)
HTML = re.compile(r"<(?:a|img)\b[^>]*?\b(?:href|src)\s*=\s*\"([^\"]*)\"", re.IGNORECASE)
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:|^//")


def blanked(match):
    """A match's text with every character but the line breaks a space, so
    that what is left keeps its offsets and its line numbers."""
    return re.sub(r"[^\n]", " ", match.group(0))


def without_code_blocks(text):
    """The text with the lines of its fenced and indented code blocks
    emptied; an indented line is code only where a paragraph cannot go on,
    after a blank line or another line of code."""
    lines = text.split("\n")
    fence = None
    previous_blank = True
    in_code = False
    for number, line in enumerate(lines):
        if fence:
            if re.match(r"^ {0,3}" + re.escape(fence[0]) + "{" + str(len(fence)) + r",}[ \t]*$", line):
                fence = None
            lines[number] = ""
            continue
        opening = FENCE.match(line)
        if opening:
            fence = opening.group(1)
            lines[number] = ""
            continue
        blank = not line.strip()
        in_code = not blank and (line.startswith("    ") or line.startswith("\t")) and (previous_blank or in_code)
        if in_code:
            lines[number] = ""
        previous_blank = blank
    return "\n".join(lines)


def prose(text):
    """What of the page GitHub renders as prose: no code, no comments."""
    text = COMMENT.sub(blanked, without_code_blocks(text))
    return CODE_SPAN.sub(blanked, text)


def anchor(heading):
    """The anchor GitHub gives a heading: of its rendered text, lower case,
    with every character that is neither a letter, a digit, an underscore,
    a hyphen nor a space dropped, and every space a hyphen."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)
    text = re.sub(r"<[^>]*>", "", text).replace("`", "")
    text = re.sub(r"[^\w\- ]", "", text.strip().lower())
    return text.replace(" ", "-")


def anchors(text):
    """The anchors of a page's headings, in their order; the second heading
    of one anchor gets -1, the third -2."""
    seen = {}
    found = []
    for line in without_code_blocks(text).split("\n"):
        heading = HEADING.match(line)
        if not heading:
            continue
        base = anchor(heading.group(2) or "")
        count = seen.get(base, 0)
        seen[base] = count + 1
        found.append(base if count == 0 else f"{base}-{count}")
    return found


def links(text):
    """(line, target) of every link and picture of a page, in their order."""
    rendered = prose(text)
    found = []
    for pattern in (INLINE, REFERENCE, HTML):
        for match in pattern.finditer(rendered):
            target = match.group(1)
            if target.startswith("<") and target.endswith(">"):
                target = target[1:-1]
            found.append((rendered.count("\n", 0, match.start(1)) + 1, target))
    return sorted(found)


def pages(root):
    """The README and every page under docs/, as paths relative to root."""
    found = ["README.md"] if os.path.isfile(os.path.join(root, "README.md")) else []
    found += sorted(os.path.relpath(path, root).replace(os.sep, "/")
                    for path in glob.glob(os.path.join(root, "docs", "**", "*.md"), recursive=True))
    return found


def problems(root):
    """One line for every link of the pages under root that leads nowhere."""
    texts = {}

    def text_of(page):
        if page not in texts:
            with open(os.path.join(root, page), encoding="utf-8") as source:
                texts[page] = source.read()
        return texts[page]

    found = []
    for page in pages(root):
        for line, target in links(text_of(page)):
            where = f"{page}:{line}: {target}"
            if not target or SCHEME.match(target):
                if not target:
                    found.append(f"{where}: an empty link")
                continue
            path, _, fragment = target.partition("#")
            path = urllib.parse.unquote(path)
            if not path:
                linked = page
            elif path.startswith("/"):
                linked = os.path.normpath(path.lstrip("/"))
            else:
                linked = os.path.normpath(os.path.join(os.path.dirname(page), path))
            linked = linked.replace(os.sep, "/")
            if linked == ".." or linked.startswith("../"):
                found.append(f"{where}: leads outside the repository")
                continue
            if not os.path.exists(os.path.join(root, linked)):
                found.append(f"{where}: no such file")
                continue
            if not fragment:
                continue
            if not linked.endswith(".md") or not os.path.isfile(os.path.join(root, linked)):
                found.append(f"{where}: an anchor into {linked}, which is not a page")
            elif urllib.parse.unquote(fragment) not in anchors(text_of(linked)):
                found.append(f"{where}: no heading of {linked} has the anchor #{fragment}")
    return found


GLOSSARY = "docs/glossary.md"
# "family 25, model 17", "family 6 model 167", "the family 26 guest".
MACHINE = re.compile(r"\bfamily (\d+)(?:,? model (\d+))?\b", re.IGNORECASE)
FOLDER = re.compile(r"^[a-z]+-family(\d+)-model(\d+)-(?:vm|metal)(?:-\d+)?$")


def folders(root):
    """The machines' folders under docs/results/, by name, each with its
    family and model."""
    results = os.path.join(root, "docs", "results")
    found = {}
    for name in sorted(os.listdir(results)) if os.path.isdir(results) else []:
        named = FOLDER.match(name)
        if named and os.path.isdir(os.path.join(results, name)):
            found[name] = (named.group(1), named.group(2))
    return found


def linked(page, target):
    """The file of the repository that a relative link of `page` leads to."""
    path = urllib.parse.unquote(target.partition("#")[0])
    if not path:
        return page
    return os.path.normpath(os.path.join(os.path.dirname(page), path)).replace(os.sep, "/")


def machine_problems(root):
    """A line for every page that lacks a link to the glossary, and for every
    machine that a page names without naming its folder (or that has none)."""
    known = folders(root)
    found = []
    for page in pages(root):
        with open(os.path.join(root, page), encoding="utf-8") as source:
            text = source.read()
        if page != GLOSSARY and GLOSSARY not in [linked(page, target) for _, target in links(text)
                                                 if not SCHEME.match(target)]:
            found.append(f"{page}: no link to the glossary ({GLOSSARY})")
        # Code counts, an example's output names a machine as prose does;
        # comments do not.
        shown = COMMENT.sub(blanked, text)
        for match in MACHINE.finditer(shown):
            family, model = match.group(1), match.group(2)
            line = shown.count("\n", 0, match.start()) + 1
            candidates = [name for name, (of, at) in known.items() if of == family and model in (None, at)]
            machine = f"family {family}" + (f", model {model}" if model else "")
            if not candidates:
                found.append(f"{page}:{line}: names {machine}, of which docs/results/ holds no folder")
            elif not any(name in text for name in candidates):
                found.append(f"{page}:{line}: names {machine} without its folder ({', '.join(candidates)})")
    return found


class Committed(unittest.TestCase):
    def test_every_link_and_anchor_of_the_readme_and_docs_resolves(self):
        checked = pages(ROOT)
        self.assertEqual(checked[0], "README.md")
        self.assertIn("docs/results.md", checked)
        self.assertEqual(problems(ROOT), [], "\n" + "\n".join(problems(ROOT)))

    def test_every_page_links_the_glossary_and_names_the_folder_of_every_machine_it_names(self):
        self.assertIn(GLOSSARY, pages(ROOT))
        self.assertEqual(machine_problems(ROOT), [], "\n" + "\n".join(machine_problems(ROOT)))


class Rules(unittest.TestCase):
    def test_heading_anchors_follow_githubs_rule_and_number_repeats(self):
        text = "\n".join([
            "# The core clock: `simd-mix-clock`",
            "## Why the clock times a chain, and what two floors of test -1 mean",
            "## Results",
            "### Results",
            "## Results ##",
            "## The `format_version` and [its page](results.md)",
            "## Ünïcode: café, 1.0 (2)",
            "#not-a-heading",
            "",
            "    # an indented line of code",
            "",
            "```",
            "# in a fenced block",
            "```",
            "###### Six",
        ])
        self.assertEqual(anchors(text), [
            "the-core-clock-simd-mix-clock",
            "why-the-clock-times-a-chain-and-what-two-floors-of-test--1-mean",
            "results",
            "results-1",
            "results-2",
            "the-format_version-and-its-page",
            "ünïcode-café-10-2",
            "six",
        ])

    def test_every_broken_link_is_named_by_page_and_line_and_code_is_left_alone(self):
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, "docs", "results", "machine"))
            open(os.path.join(root, "docs", "results", "machine", "matrix-sse.png"), "w").close()
            with open(os.path.join(root, "README.md"), "w", encoding="utf-8") as target:
                target.write("\n".join([
                    "# Front door",
                    "",
                    "See [the page](docs/page.md), [its part](docs/page.md#a-part) and",
                    "[a part it lacks](docs/page.md#no-part), [here](#front-door), [not",
                    "here](#back-door) and [a lost page](docs/lost.md).",
                    "",
                    "![A picture](docs/results/machine/matrix-sse.png)",
                    "[Elsewhere](https://example.org/none.md) and `[code](none.md)`.",
                    "",
                    "    [indented code](none.md)",
                    "",
                    "<!-- [a comment](none.md) -->",
                    '<img src="docs/results/machine/none.png">',
                    "[Outside](../beside.md)",
                    "",
                    "[reference]: docs/none.md",
                ]))
            with open(os.path.join(root, "docs", "page.md"), "w", encoding="utf-8") as target:
                target.write("\n".join([
                    "# Page",
                    "",
                    "## A part",
                    "",
                    "![From here](results/machine/matrix-sse.png)",
                    "![As from the root](docs/results/machine/matrix-sse.png)",
                    "[Back](../README.md#front-door), [the folder](results/machine/) and",
                    "[a picture's part](results/machine/matrix-sse.png#top).",
                    "",
                    "```",
                    "[fenced code](none.md)",
                    "```",
                ]))
            self.assertEqual(problems(root), [
                "README.md:4: docs/page.md#no-part: no heading of docs/page.md has the anchor #no-part",
                "README.md:5: #back-door: no heading of README.md has the anchor #back-door",
                "README.md:5: docs/lost.md: no such file",
                "README.md:13: docs/results/machine/none.png: no such file",
                "README.md:14: ../beside.md: leads outside the repository",
                "README.md:16: docs/none.md: no such file",
                "docs/page.md:6: docs/results/machine/matrix-sse.png: no such file",
                "docs/page.md:8: results/machine/matrix-sse.png#top: an anchor into "
                "docs/results/machine/matrix-sse.png, which is not a page",
            ])

    def test_a_machine_named_without_its_folder_or_without_one_and_a_page_without_the_glossary(self):
        with tempfile.TemporaryDirectory() as root:
            for folder in ("intel-family6-model167-vm", "amd-family26-model2-vm", "amd-family26-model2-vm-2"):
                os.makedirs(os.path.join(root, "docs", "results", folder))
            os.makedirs(os.path.join(root, "docs", "results", "family9-model9-notes"))
            pages_of = {
                "README.md": "\n".join([
                    "See the [glossary](docs/glossary.md) and the",
                    "[Intel guest](docs/results/intel-family6-model167-vm/) of family 6, model 167;",
                    "the family 26 guest too.",
                    "",
                    "    output of an AMD EPYC guest (family 25, model 1)",
                    "<!-- family 9, model 9 in a comment -->",
                ]),
                "docs/glossary.md": "Family 6 model 207, which has none.",
                "docs/page.md": "\n".join([
                    "No [glossary](https://example.org/glossary.md) here; the",
                    "family 26 guest in amd-family26-model2-vm-2, family 26, model 3, and",
                    "family 25, model 17 or family 9, model 9.",
                ]),
            }
            for page, text in pages_of.items():
                with open(os.path.join(root, page), "w", encoding="utf-8") as target:
                    target.write(text)
            self.assertEqual(machine_problems(root), [
                "README.md:3: names family 26 without its folder (amd-family26-model2-vm, amd-family26-model2-vm-2)",
                "README.md:5: names family 25, model 1, of which docs/results/ holds no folder",
                "docs/glossary.md:1: names family 6, model 207, of which docs/results/ holds no folder",
                "docs/page.md: no link to the glossary (docs/glossary.md)",
                "docs/page.md:2: names family 26, model 3, of which docs/results/ holds no folder",
                "docs/page.md:3: names family 25, model 17, of which docs/results/ holds no folder",
                "docs/page.md:3: names family 9, model 9, of which docs/results/ holds no folder",
            ])


if __name__ == "__main__":
    unittest.main()
