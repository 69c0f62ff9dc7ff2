"""Draws arc diagrams, renders them with rsvg-convert and checks the pictures.

usage: render_test.py DRAW_ARCS EXAMPLES_DIR
Exits 77 when rsvg-convert or PIL is missing.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

try:
    from PIL import Image
except ImportError:
    sys.exit(77)
if shutil.which("rsvg-convert") is None:
    sys.exit(77)

SVG = "{http://www.w3.org/2000/svg}"
BOTH, EXTRA, MISSED, CONFLICT = (0x00, 0x72, 0xB2), (0xE6, 0x9F, 0x00), (0xCC, 0x79, 0xA7), (0xD5, 0x5E, 0x00)
draw_arcs, examples = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp()
failures = []


def check(condition, text):
    if not condition:
        failures.append(text)


def stem(i, j, length):
    return [(i + k, j - k) for k in range(length)]


def draw(name, letters, pairs, reference, title, value):
    """Runs the driver; returns (stdout, parsed svg root, svg path)."""
    path = os.path.join(work, name + ".svg")
    listing = ",".join(f"{i}-{j}" for i, j in pairs)
    run = subprocess.run([draw_arcs, letters, listing, reference, path, title, str(value)],
                         capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"{name}: draw_arcs failed: {run.stderr}")
    return run.stdout, ET.parse(path).getroot(), path


def render(root, name, drop_legend, zoom=1):
    """Renders root (without its legend if asked) to PNG at zoom; returns the RGB image."""
    if drop_legend:
        root.remove(root.find(f"{SVG}g[@id='legend']"))
    svg_path, png_path = os.path.join(work, name + "-r.svg"), os.path.join(work, name + ".png")
    ET.ElementTree(root).write(svg_path)
    subprocess.run(["rsvg-convert", "--zoom", str(zoom), "-o", png_path, svg_path], check=True)
    return Image.open(png_path).convert("RGB")


def colour_rows(image, colours):
    """For each colour, the row of every pixel of that colour (within a small tolerance)."""
    width = image.size[0]
    rows = {colour: [] for colour in colours}
    for k, pixel in enumerate(image.getdata()):
        if pixel == (255, 255, 255):
            continue
        for colour in colours:
            if all(abs(a - b) <= 10 for a, b in zip(pixel, colour)):
                rows[colour].append(k // width)
    return rows


def group_sizes(root):
    return {g.get("id"): len(g.findall(f"{SVG}path")) for g in root.findall(f"{SVG}g")
            if g.find(f"{SVG}path") is not None}


def axis_y(root, which):
    return float(root.find(f"{SVG}line[@id='{which}']").get("y1"))


def check_picture(name, root, expected_sides, zoom=1):
    """The whole picture renders at the declared size; without the legend, each
    colour appears on its expected side of the axes and no other colour is drawn.
    Thin arcs need a zoom to show pixels of their own colour."""
    image = render(root, name, drop_legend=False, zoom=zoom)
    check(image.size == (zoom * int(root.get("width")), zoom * int(root.get("height"))),
          f"{name}: PNG size {image.size} differs from the SVG's")
    arcs = render(root, name + "-arcs", drop_legend=True, zoom=zoom)
    upper = zoom * axis_y(root, "upper-axis")
    lower = zoom * axis_y(root, "lower-axis") if root.find(f"{SVG}line[@id='lower-axis']") is not None else None
    labelled = (("both", BOTH), ("extra", EXTRA), ("missed", MISSED), ("conflict", CONFLICT))
    rows_of = colour_rows(arcs, [colour for _, colour in labelled])
    for label, colour in labelled:
        rows = rows_of[colour]
        # Row y covers y..y+1: the arcs end on the axes, so a row may touch an axis.
        above = sum(1 for y in rows if y < upper + zoom)
        below = sum(1 for y in rows if lower is not None and y > lower - zoom)
        want_above, want_below = expected_sides.get(label, (False, False))
        check((above >= 10) == want_above, f"{name}: {above} {label} pixels above the axis")
        check((below >= 10) == want_below, f"{name}: {below} {label} pixels below the axis")
        check(above + below == len(rows), f"{name}: {label} pixels between the axes")


# A tRNA prediction that misses the D arm and adds two pairs in its loop.
letters = "".join(open(os.path.join(examples, "trna_phe_yeast.txt")).read().split()[1:])
predicted = stem(1, 72, 7) + stem(27, 43, 5) + stem(49, 65, 5) + [(15, 20), (16, 19)]
title = 'tRNA <Phe> & "yeast"'
out, root, _ = draw("trna", letters, predicted, os.path.join(examples, "trna_phe_yeast.dbn"),
                    title, -123)
# 17 of 19 predicted pairs are among the 21 of the reference: 17/21, 17/19, 34/40.
check(out == "sensitivity: 0.8095\nPPV: 0.8947\nF1: 0.8500\n", f"trna: scores {out!r}")
check(root.find(f"{SVG}title").text == title, "trna: title not kept")
check(group_sizes(root) == {"structure-only": 2, "structure-both": 17, "reference-only": 4,
                            "reference-both": 17}, f"trna: arc groups {group_sizes(root)}")
legend = "".join(root.find(f"{SVG}g[@id='legend']").itertext())
check("value: -123" in legend and "F1: 0.8500" in legend, f"trna: legend {legend!r}")
check("not a secondary structure" not in legend, "trna: called not a secondary structure")
labels = [t.text for t in root.find(f"{SVG}g[@id='labels']")]
check(labels == ["1", "10", "20", "30", "40", "50", "60", "70"], f"trna: labels {labels}")
check(len(root.find(f"{SVG}g[@id='letters']")) == 76, "trna: not 76 letters")
check_picture("trna", root, {"both": (True, True), "extra": (True, False), "missed": (False, True)})

# Pairs sharing a position or crossing are not a secondary structure.
conflicting = stem(2, 71, 6) + [(1, 72), (1, 75), (30, 50), (40, 55)]
_, root, _ = draw("conflict", letters, conflicting, "-", "selection", 7)
check(group_sizes(root) == {"structure": 6, "structure-conflicting": 4},
      f"conflict: arc groups {group_sizes(root)}")
check("not a secondary structure" in root.find(f"{SVG}title").text, "conflict: title")
check_picture("conflict", root, {"both": (True, False), "conflict": (True, False)})

# A long sequence keeps a bounded picture with sparser labels.
rng = random.Random(5)
long_letters = "".join(rng.choice("ACGU") for _ in range(3000))
long_pairs = [p for k in range(0, 2900, 100) for p in stem(k + 5, k + 90, 6)] + [(1, 3000)]
_, root, path = draw("long", long_letters, long_pairs, "-", "long", 0)
width, height = int(root.get("width")), int(root.get("height"))
check(width <= 2000 and height <= 800, f"long: {width} x {height}")
numbers = [int(t.text) for t in root.find(f"{SVG}g[@id='labels']")]
step = numbers[1]
check(numbers[0] == 1 and step > 10 and numbers[1:] == list(range(step, 3001, step)),
      f"long: labels {numbers[:5]}...")
check(root.find(f"{SVG}g[@id='letters']") is None, "long: letters drawn too close to read")
check_picture("long", root, {"both": (True, False)}, zoom=4)

# At 400 and 1,500 bases the letters give way to ticks, and the arcs of a stem
# stay apart: a column through the stem's top, rendered at the PNG output's
# zoom, crosses each of its six arcs as a run of its own.
for n in (400, 1500):
    stem_pairs = stem(n // 2 - 60, n // 2 + 60, 6)
    _, root, _ = draw(f"long{n}", "".join(rng.choice("ACGU") for _ in range(n)), stem_pairs, "-", "x", 0)
    check(root.find(f"{SVG}g[@id='letters']") is None and root.find(f"{SVG}g[@id='ticks']") is not None,
          f"long{n}: letters instead of ticks")
    image = render(root, f"long{n}", drop_legend=True, zoom=2)
    upper = 2 * axis_y(root, "upper-axis")
    path_d = root.find(f"{SVG}g[@id='structure']/{SVG}path").get("d")
    left, right = float(path_d[1:].split()[0]), float(path_d.split("A")[1].split()[-2])
    column = int(left + right)  # the centre, doubled
    inked = [image.getpixel((column, y)) != (255, 255, 255) for y in range(int(upper) - 4)]
    runs = sum(1 for y in range(1, len(inked)) if inked[y] and not inked[y - 1])
    check(runs == 6, f"long{n}: {runs} separate arcs in the stem's column, want 6")

shutil.rmtree(work)
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
