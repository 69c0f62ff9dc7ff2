"""rnaqubo-fold --layout 2d on the bundled RNAs (the RNase P RNA's 401 bases
crowd VARNA's radiate layout, which must then give way), read back from the SVG it writes:
one table of cases, each checked for
  (a) the pairs of each panel, colour by colour, against the sets worked out
      here from the report, the quads' listing and the reference, and the
      legend's counts against the colours drawn;
  (b) no two helices overlap: the convex hulls of the bases' centres of two
      different helices (maximal stems) are separated, along some axis, by at
      least a quarter of the distance between neighbouring bases (so even
      hulls that are flat, on one line, must be apart), and no two bases are
      closer than half that distance (no letter on another);
  (c) every text is at least 8 pt at the width the SVG states, and that width
      is 170 mm unless the texts need more.

usage: twod_test.py RNAQUBO_FOLD RNAQUBO EXAMPLES_DIR
Exits 77 when java or VARNA's jar is missing.
"""
import itertools
import math
import os
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

from pair_sets import classes, quad_pairs

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from picture_checks import PictureChecks, bracket_pairs  # noqa: E402

JAR = os.environ.get("RNAQUBO_VARNA_JAR") or "/usr/share/java/varna.jar"
if not shutil.which("java") or not os.path.exists(JAR):
    sys.exit(77)

SVG = "{http://www.w3.org/2000/svg}"
COLOUR = {"#0072B2": "blue", "#E69F00": "orange", "#CC79A7": "purple", "#D55E00": "vermillion"}
fold, rnaqubo, examples = sys.argv[1:4]
checks = PictureChecks(fold)
work, check = checks.work, checks.check


def expected_panels(pairs, reference):
    """Each panel's pairs by colour."""
    if reference is None:
        sets = classes(pairs, set())
        return {"structure": {"blue": sets["extra"], "vermillion": sets["conflict"]}}
    sets = classes(pairs, reference)
    return {"structure": {"blue": sets["both"], "orange": sets["extra"], "vermillion": sets["conflict"]},
            "reference": {"blue": sets["below_both"], "purple": sets["missed"]}}


def drawn_panels(root):
    """For each panel, its pairs by colour (from each line's title) and its bases' centres."""
    panels = {}
    for group in root.iter(f"{SVG}g"):
        if not (group.get("id") or "").endswith("-panel"):
            continue
        name = group.get("id").removesuffix("-panel")
        shift = [float(v) for v in re.findall(r"[-\d.]+", group.get("transform"))]
        colours = {}
        for line in group.iter(f"{SVG}line"):
            if line.get("class") == "pair":
                i, j = map(int, line.find(f"{SVG}title").text.split("-"))
                colours.setdefault(COLOUR[line.get("stroke")], set()).add((i, j))
        bases = [(float(t.get("x")) + shift[0], float(t.get("y")) - float(t.get("font-size")) / 3 + shift[1])
                 for t in group.iter(f"{SVG}text") if t.get("class") == "base"]
        panels[name] = (colours, bases)
    return panels


def helices(pairs):
    """Each maximal stem (i, j), (i + 1, j - 1), ... as its list of pairs."""
    return [[(i + d, j - d) for d in range(len(pairs)) if all((i + e, j - e) in pairs for e in range(d + 1))]
            for i, j in sorted(pairs) if (i - 1, j + 1) not in pairs]


def hull(points):
    points = sorted(set(points))
    if len(points) <= 2:
        return points
    def cross(o, a, b):
        return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0])
    lower, upper = [], []
    for chain, sequence in ((lower, points), (upper, points[::-1])):
        for p in sequence:
            while len(chain) >= 2 and cross(chain[-2], chain[-1], p) <= 0:
                chain.pop()
            chain.append(p)
    return lower[:-1] + upper[:-1]


def separation(a, b):
    """The widest gap between convex polygons a and b along the normals of
    their edges (negative: the depth by which they overlap)."""
    best = -math.inf
    for poly in (a, b):
        for p, q in zip(poly, poly[1:] + poly[:1]):
            dx, dy = q[0] - p[0], q[1] - p[1]
            length = math.hypot(dx, dy)
            for ax, ay in ((-dy / length, dx / length), (dx / length, dy / length)) if length else ():
                pa = [x * ax + y * ay for x, y in a]
                pb = [x * ax + y * ay for x, y in b]
                best = max(best, min(pb) - max(pa), min(pa) - max(pb))
    return best


def check_layout(case, panel, pairs, bases):
    step = sorted(math.dist(bases[k], bases[k + 1]) for k in range(len(bases) - 1))[len(bases) // 2]
    stems = helices(pairs)
    for x, y in itertools.combinations(range(len(stems)), 2):
        gap = separation(hull([bases[k - 1] for p in stems[x] for k in p]),
                         hull([bases[k - 1] for p in stems[y] for k in p])) / step
        check(gap >= 0.25, f"{case} {panel}: helices {stems[x][0]} and {stems[y][0]} are {gap:.2f} steps apart")
    closest = min(math.dist(bases[i], bases[j]) for i, j in itertools.combinations(range(len(bases)), 2))
    check(closest >= 0.5 * step, f"{case} {panel}: two bases {closest / step:.2f} steps apart")


def check_text_size(case, root):
    width, box = root.get("width"), root.get("viewBox").split()
    check(width.endswith("mm") and float(width[:-2]) >= 170 - 0.05, f"{case}: width {width}")
    points_per_unit = float(width[:-2]) / float(box[2]) * 72 / 25.4
    smallest = min(float(t.get("font-size")) for t in root.iter(f"{SVG}text")) * points_per_unit
    check(smallest >= 8 - 1e-6, f"{case}: a text of {smallest:.2f} pt")
    # Wider than the page only when the texts would be smaller than 8 pt at 170 mm.
    check(float(width[:-2]) <= 170 + 0.05 or smallest <= 8.01, f"{case}: {width} wide with {smallest:.2f} pt texts")


def legend_counts(root):
    legend = " ".join(root.find(f"{SVG}g[@id='legend']").itertext())
    def number(pattern):
        found = re.search(pattern, legend)
        return int(found.group(1)) if found else 0
    red = r"[^;|]*; (\d+) of them drawn in vermillion"
    return {"both": number(r"blue: in both: (\d+)"), "both red": number(r"blue: in both: \d+" + red),
            "extra": number(r"orange: in this structure only: (\d+)"),
            "extra red": number(r"orange: in this structure only: \d+" + red),
            "missed": number(r"reddish purple: in the reference only: (\d+)"),
            "conflict": number(r"vermillion: sharing a position or crossing: (\d+)"),
            "pairs": number(r"blue: base pairs: (\d+)")}


for name in ("trna_phe_yeast.txt", "trna_phe_yeast.dbn", "srp_ecoli.txt", "vault1.txt", "rnasep_bsu.txt"):
    shutil.copy(os.path.join(examples, name), work)
trna_reference = bracket_pairs(open(os.path.join(examples, "trna_phe_yeast.dbn")).read().split("\n")[2])
open(os.path.join(work, "wrong.txt"), "w").write("1 2 3 8 16 50 51\n")
cases = [  # name, model, extra arguments, reference
    ("tRNA optimum", ["trna_phe_yeast.txt", "76", "4", "1", "-200"], [], trna_reference),
    ("tRNA wrong", ["trna_phe_yeast.txt", "76", "4", "1", "-200"], ["--solution", "wrong.txt"], trna_reference),
    ("SRP optimum", ["srp_ecoli.txt", "113", "4", "1", "-200"], [], None),
    ("vault optimum", ["vault1.txt", "137", "3", "1", "-83"], [], None),
    ("RNase P optimum", ["rnasep_bsu.txt", "401", "4", "1", "-200"], [], None),
]
for case, model, extra, reference in cases:
    subprocess.run([rnaqubo] + model, cwd=work, check=True, capture_output=True)
    path = os.path.join(work, case.replace(" ", "_") + ".svg")
    args = model + extra + (["--reference", "trna_phe_yeast.dbn"] if reference else [])
    result = checks.run(args + ["--layout", "2d", "--draw", path])
    if result.returncode != 0:
        check(False, f"{case}: status {result.returncode}: {result.stderr}")
        continue
    if extra:
        quads = [int(q) for q in open(os.path.join(work, "wrong.txt")).read().split()]
        pairs = quad_pairs(os.path.join(work, "dot_paren.txt"), quads)
    else:
        pairs = bracket_pairs(result.stdout.split("\n")[1].split()[0])
    root = ET.parse(path).getroot()
    want = expected_panels(pairs, reference)
    drawn = drawn_panels(root)
    check(sorted(drawn) == sorted(want), f"{case}: panels {sorted(drawn)}")
    titles = [t.text for t in root.iter(f"{SVG}text") if t.get("class") == "panel-title"]
    check(titles == (["structure", "reference"] if reference else []), f"{case}: panel titles {titles}")
    for panel, colours in want.items():
        got = {c: s for c, s in drawn.get(panel, ({}, []))[0].items() if s}
        check(got == {c: s for c, s in colours.items() if s}, f"{case} {panel}: pairs by colour {got}")
    # (a) The legend counts what the panels draw.
    shown = legend_counts(root)
    count = {panel: {c: len(s) for c, s in colours.items()} for panel, (colours, _) in drawn.items()}
    if reference:
        check(count["structure"].get("blue", 0) == shown["both"] - shown["both red"] and
              count["reference"].get("blue", 0) == shown["both"] and
              count["structure"].get("orange", 0) == shown["extra"] - shown["extra red"] and
              count["structure"].get("vermillion", 0) == shown["conflict"] and
              count["reference"].get("purple", 0) == shown["missed"],
              f"{case}: drawn {count}, legend {shown}")
    else:
        check(count["structure"].get("blue", 0) == shown["pairs"], f"{case}: drawn {count}, legend {shown}")
    # (b) Helices apart, in each panel with the pairs it lays out (the wrong
    # selection is no secondary structure: its structure panel is not checked).
    if not extra:
        check_layout(case, "structure", pairs, drawn["structure"][1])
    if reference:
        check_layout(case, "reference", reference, drawn["reference"][1])
    # (c) Texts of 8 pt at least.
    check_text_size(case, root)

checks.finish()
