"""rnaqubo-fold --ensemble T --dot-plot, end to end: every pair that
--pair-probabilities lists is drawn once, in its cell of the upper triangle,
with the area its probability gives; the optimum's and the reference's pairs
are in the lower triangle; the SVG, PNG and PDF are rendered by real renderers
and the marks are where the SVG puts them; a 1,500-base plot keeps its ticks.

usage: dot_plot_test.py RNAQUBO_FOLD EXAMPLES_DIR
Exits 77 when rsvg-convert, pdftoppm or PIL is missing.
"""
import os
import random
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from picture_checks import PictureChecks, bracket_pairs  # noqa: E402

try:
    from PIL import Image
except ImportError:
    sys.exit(77)
if not all(shutil.which(p) for p in ("rsvg-convert", "pdftoppm")):
    sys.exit(77)

SVG = "{http://www.w3.org/2000/svg}"
fold, examples = sys.argv[1:3]
checks = PictureChecks(fold)
work, check, run = checks.work, checks.check, checks.run


def marks(root, kind):
    """{(i, j): (x, y, width, height)} of the marks of one class."""
    found = {}
    for rect in root.iter(f"{SVG}rect"):
        if rect.get("class") == kind:
            key = (int(rect.get("data-i")), int(rect.get("data-j")))
            check(key not in found, f"{kind} {key} drawn twice")
            found[key] = tuple(float(rect.get(a)) for a in ("x", "y", "width", "height"))
    return found


def inside(box, row, column, left, top, cell):
    x, y, w, h = box
    slack = 1e-3
    return (left + (column - 1) * cell - slack <= x and x + w <= left + column * cell + slack and
            top + (row - 1) * cell - slack <= y and y + h <= top + row * cell + slack)


def check_plot(name, args, reference):
    """One run: the SVG read back against --pair-probabilities and the report."""
    out = run(args + ["--ensemble", "10", "--pair-probabilities", name + ".tsv", "--dot-plot", name + ".svg"] +
              (["--reference", reference] if reference else []))
    check(out.returncode == 0, f"{name}: exit {out.returncode}: {out.stderr}")
    if out.returncode != 0:
        return None
    listed = {}
    for line in open(os.path.join(work, name + ".tsv")).read().splitlines()[1:]:
        i, j, p = line.split("\t")
        listed[(int(i), int(j))] = float(p)
    root = ET.parse(os.path.join(work, name + ".svg")).getroot()
    group = root.find(f"{SVG}g[@id='probabilities']")
    cell = float(group.get("data-cell"))
    frame = root.find(f"{SVG}rect[@id='frame']")
    left, top = float(frame.get("x")), float(frame.get("y"))
    drawn = marks(root, "probability")
    check(set(drawn) == set(listed), f"{name}: drawn pairs differ from the listed ones: "
          f"{sorted(set(drawn) ^ set(listed))[:5]}")
    for pair, box in drawn.items():
        p = listed.get(pair, 0)
        area = box[2] * box[3] / cell ** 2
        check(abs(area - p) <= 1e-4 * p + 1e-9, f"{name}: {pair} of probability {p} drawn with area {area}")
        check(inside(box, pair[0], pair[1], left, top, cell), f"{name}: {pair} not in row i, column j")
    optimum = bracket_pairs(out.stdout.splitlines()[1].split(" ")[0])
    wanted = {"optimum": optimum}
    if reference:
        wanted["reference"] = bracket_pairs(open(reference).read().split()[-1])
    for kind, pairs in wanted.items():
        found = marks(root, kind)
        check(set(found) == pairs, f"{name}: {kind} marks {sorted(found)} for pairs {sorted(pairs)}")
        for (i, j), box in found.items():
            check(inside(box, j, i, left, top, cell), f"{name}: {kind} pair {(i, j)} not in the lower triangle")
    legend = " ".join(t.text or "" for t in root.find(f"{SVG}g[@id='legend']").iter(f"{SVG}text"))
    check(f"{len(listed)} pairs from" in legend and f"the optimum's pairs: {len(optimum)}" in legend,
          f"{name}: legend {legend!r}")
    return root, left, top, cell, drawn, listed, optimum


def check_rendered(name, args, plot):
    """The same plot as PNG and PDF, and the SVG through rsvg-convert: each
    image shows the dark square of the likeliest pair and the optimum's blue
    marks where the SVG puts them."""
    root, left, top, cell, drawn, listed, optimum = plot
    for extension in ("png", "pdf"):
        out = run(args + ["--ensemble", "10", "--dot-plot", f"{name}.{extension}"])
        check(out.returncode == 0, f"{name}.{extension}: exit {out.returncode}: {out.stderr}")
    magic = {"png": b"\x89PNG\r\n\x1a\n", "pdf": b"%PDF-"}
    for extension, start in magic.items():
        with open(os.path.join(work, f"{name}.{extension}"), "rb") as f:
            check(f.read(len(start)) == start, f"{name}.{extension}: not a {extension.upper()} file")
    subprocess.run(["rsvg-convert", "--zoom", "2", "-o", f"{name}.svg.png", f"{name}.svg"], cwd=work, check=True)
    subprocess.run(["pdftoppm", "-r", "192", "-singlefile", "-png", f"{name}.pdf", f"{name}.pdf"], cwd=work,
                   check=True)
    likeliest = max(listed, key=listed.get)
    for image_name in (f"{name}.svg.png", f"{name}.png", f"{name}.pdf.png"):
        image = Image.open(os.path.join(work, image_name)).convert("RGB")
        scale = image.size[0] / float(root.get("width"))
        check(abs(scale - 2) < 0.02, f"{image_name}: rendered at {image.size}")

        def pixel(column, row):
            return image.getpixel((int(scale * (left + (column - 0.5) * cell)),
                                   int(scale * (top + (row - 0.5) * cell))))
        dark = pixel(likeliest[1], likeliest[0])
        check(max(dark) < 90, f"{image_name}: the likeliest pair {likeliest} rendered as {dark}")
        for i, j in optimum:
            r, g, b = pixel(i, j)
            check(b > 140 and r < 60, f"{image_name}: optimum pair {(i, j)} rendered as {(r, g, b)}")


ggggcccc = [os.path.join(examples, "ggggcccc.txt"), "8", "0", "1", "-200"]
trna = [os.path.join(examples, "trna_phe_yeast.txt"), "76", "4", "1", "-200"]
for name, args, reference in (("ggggcccc", ggggcccc, None),
                              ("trna", trna, os.path.join(examples, "trna_phe_yeast.dbn"))):
    plot = check_plot(name, args, reference)
    if plot:
        check_rendered(name, args + (["--reference", reference] if reference else []), plot)

# 1,500 bases: no letters, the ticks and labels still there, every pair drawn.
random.seed(7)
letters = "".join(random.choice("ACGU") for _ in range(1500))
with open(os.path.join(work, "long.txt"), "w") as f:
    f.write("1500\n" + "\n".join(letters) + "\n")
plot = check_plot("long", [os.path.join(work, "long.txt"), "1500", "4", "1", "-200"], None)
if plot:
    root = plot[0]
    check(root.find(f"{SVG}g[@id='letters']") is None, "1500 bases: letters drawn")
    labels = [t.text for t in root.find(f"{SVG}g[@id='labels']").iter(f"{SVG}text")]
    check(labels[:4] == ["1", "1", "50", "50"] and labels[-1] == "1500", f"1500 bases: labels {labels[:6]}")

# The module's Model.dot_plot draws the same marks as the tool.
try:
    import rnaqubo
except ImportError:
    rnaqubo = None
if rnaqubo is not None:
    model = rnaqubo.Model.from_file(trna[0], 4, 1, -200)
    model.dot_plot(os.path.join(work, "module.svg"), 10, reference=os.path.join(examples, "trna_phe_yeast.dbn"))
    grids = [open(os.path.join(work, f)).read().split('<g id="guides"')[1] for f in ("module.svg", "trna.svg")]
    check(grids[0] == grids[1], "Model.dot_plot's grid differs from rnaqubo-fold --dot-plot's")
    try:
        model.dot_plot(os.path.join(work, "module.svg"), 0)
        check(False, "Model.dot_plot took temperature 0")
    except ValueError:
        pass

# Refusals: no plot without an ensemble; one file for two outputs; a name
# without a known extension; none of them leaves a file.
for args, said in (([], "Option --dot-plot needs --ensemble"),
                   (["--ensemble", "10", "--pair-probabilities", "same.svg"], "would both write"),
                   (["--ensemble", "10", "--draw", "same.svg"], "would both write"),
                   (["--ensemble", "10", "--subopt", "0", "--landscape-plot", "same.svg"], "would both write")):
    out = run(ggggcccc + args + ["--dot-plot", "same.svg"])
    check(out.returncode == 2 and said in out.stderr, f"{args}: exit {out.returncode}: {out.stderr}")
out = run(ggggcccc + ["--ensemble", "10", "--dot-plot", "plot.gif"])
check(out.returncode == 2 and "cannot tell the picture's format" in out.stderr, f"plot.gif: {out.stderr}")
out = run(ggggcccc + ["--ensemble", "1e-300", "--dot-plot", "cold.svg"])
check(out.returncode == 1, f"a temperature too low: exit {out.returncode}: {out.stderr}")
for left_over in ("same.svg", "plot.gif", "cold.svg"):
    check(not os.path.exists(os.path.join(work, left_over)), f"{left_over} written by a refused run")

checks.finish()
