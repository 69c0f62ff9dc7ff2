"""Checks a screenshot of the benchmark report, taken by headless Chromium:
the summary table's header and each matplotlib plot show their own background
tint (benchmark_report.TINTS) over a real area, and below the last plot the
arc diagrams' blue arcs cover at least 150 pixels per diagram the page holds.

usage: report_screenshot.py SCREENSHOT_PNG REPORT_HTML WORKFLOW_SCRIPTS_DIR
"""
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
blue, blue_below = (0x1F, 0x77, 0xB4), {}
for y in range(height):
    for x in range(width):
        p = pixels[x, y]
        for name, colour in wanted.items():
            if p == colour:
                counts[name] += 1
                if name != "table":
                    lowest = max(lowest, y)
        if p == blue:
            blue_below[y] = blue_below.get(y, 0) + 1
failures = []
for name, count in counts.items():
    need = 500 if name == "table" else 20000
    if count < need:
        failures.append(f"{name}: {count} pixels of its tint, at least {need} expected: not rendered")
diagrams = open(sys.argv[2]).read().count('<figure class="arcs"><svg')
arcs = sum(count for y, count in blue_below.items() if y > lowest)
if diagrams == 0 or arcs < 150 * diagrams:
    failures.append(f"{diagrams} arc diagrams, {arcs} pixels of arcs below the plots")
for failure in failures:
    print("FAIL:", failure)
print(f"tints {counts}; {diagrams} arc diagrams, {arcs} arc pixels")
sys.exit(1 if failures else 0)
