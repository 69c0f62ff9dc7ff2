"""Checks a screenshot of the benchmark report, taken by headless Chromium:
the summary table's header and each matplotlib plot show their own background
tint (benchmark_report.TINTS) over a real area, and below the last plot the
arc diagrams' arcs (the colours their SVG strokes name, greys left out) cover
at least 150 pixels per diagram the page holds.

usage: report_screenshot.py SCREENSHOT_PNG REPORT_HTML WORKFLOW_SCRIPTS_DIR
"""
import re
import sys

from PIL import Image

sys.path.insert(0, sys.argv[3])
import benchmark_report  # noqa: E402

image = Image.open(sys.argv[1]).convert("RGB")
width, height = image.size
pixels = image.load()
wanted = {name: tuple(int(tint[k:k + 2], 16) for k in (1, 3, 5)) for name, tint in benchmark_report.TINTS.items()}
counts = {name: 0 for name in wanted}
lowest = 0  # the lowest row of any plot's tint
report = open(sys.argv[2]).read()
figures = re.findall(r'<figure class="arcs"><svg.*?</svg>', report, re.S)
arc_colours = set()
for figure in figures:
    for colour in re.findall(r'stroke="#([0-9A-Fa-f]{6})"', figure):
        rgb = tuple(int(colour[k:k + 2], 16) for k in (0, 2, 4))
        if len(set(rgb)) > 1:
            arc_colours.add(rgb)
arc_rows = {}
for y in range(height):
    for x in range(width):
        p = pixels[x, y]
        for name, colour in wanted.items():
            if p == colour:
                counts[name] += 1
                if name != "table":
                    lowest = max(lowest, y)
        if p in arc_colours:
            arc_rows[y] = arc_rows.get(y, 0) + 1
failures = []
for name, count in counts.items():
    need = 500 if name == "table" else 20000
    if count < need:
        failures.append(f"{name}: {count} pixels of its tint, at least {need} expected: not rendered")
diagrams = len(figures)
arcs = sum(count for y, count in arc_rows.items() if y > lowest)
if diagrams == 0 or arcs < 150 * diagrams:
    failures.append(f"{diagrams} arc diagrams, {arcs} pixels of arcs below the plots")
for failure in failures:
    print("FAIL:", failure)
print(f"tints {counts}; {diagrams} arc diagrams, {arcs} arc pixels")
sys.exit(1 if failures else 0)
