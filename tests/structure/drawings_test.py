"""rnaqubo-fold --draw, end to end: every layout in every format, rendered by a
real renderer and checked against pairs worked out here from the model's own
listing (dot_paren.txt) and the reference.

usage: drawings_test.py RNAQUBO_FOLD RNAQUBO EXAMPLES_DIR
Exits 77 when rsvg-convert, pdftoppm, PIL, java or VARNA's jar is missing. The
missing programs are simulated by a PATH without them and by RNAQUBO_VARNA_JAR
naming no file.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

from pair_sets import classes, quad_pairs

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from picture_checks import bracket_pairs  # noqa: E402

try:
    from PIL import Image
except ImportError:
    sys.exit(77)
JAR = os.environ.get("RNAQUBO_VARNA_JAR") or "/usr/share/java/varna.jar"
if not all(shutil.which(p) for p in ("rsvg-convert", "pdftoppm", "java")) or not os.path.exists(JAR):
    sys.exit(77)

SVG = "{http://www.w3.org/2000/svg}"
PALETTE = {"both": (0x00, 0x72, 0xB2), "extra": (0xE6, 0x9F, 0x00), "missed": (0xCC, 0x79, 0xA7),
           "conflict": (0xD5, 0x5E, 0x00)}
fold, rnaqubo, examples = sys.argv[1:4]
work = tempfile.mkdtemp()
failures = []


def check(condition, text):
    if not condition:
        failures.append(text)


def run(args, env=None):
    return subprocess.run([fold] + args, cwd=work, capture_output=True, text=True,
                          env=dict(os.environ, **(env or {})))


def colour_rows(image, first_row):
    """For each palette colour, the rows (from first_row) of pixels close to it."""
    width = image.size[0]
    rows = {name: [] for name in PALETTE}
    for k, pixel in enumerate(image.getdata()):
        if k // width < first_row or pixel == (255, 255, 255):
            continue
        for name, colour in PALETTE.items():
            if all(abs(a - b) <= 12 for a, b in zip(pixel, colour)):
                rows[name].append(k // width)
    return rows


def pixels(length):
    """An SVG length in pixels at 96 per inch: a plain number, or millimetres."""
    return float(length[:-2]) * 96 / 25.4 if length.endswith("mm") else float(length)


def rendered(path, svg_root):
    """The picture at path as an RGB image, and its scale against the SVG's user units."""
    png = path + ".check.png"
    if path.endswith(".svg"):
        subprocess.run(["rsvg-convert", "--zoom", "2", "-o", png, path], check=True)
    elif path.endswith(".pdf"):
        # The PDF's page is the SVG at 72 points per 96 pixels; 192 dpi doubles it.
        subprocess.run(["pdftoppm", "-r", "192", "-singlefile", "-png", path, png[:-4]], check=True)
    else:
        png = path
    image = Image.open(png).convert("RGB")
    width, height = pixels(svg_root.get("width")), pixels(svg_root.get("height"))
    check(abs(image.size[0] / width - 2) < 0.02 and abs(image.size[1] / height - 2) < 0.02,
          f"{path}: rendered at {image.size}, not twice the SVG's size")
    return image, image.size[0] / float(svg_root.get("viewBox").split()[2])


def legend_bottom(root):
    return max(float(t.get("y")) for t in root.find(f"{SVG}g[@id='legend']").iter(f"{SVG}text")) + 6


def check_arc(path, root, expected):
    image, scale = rendered(path, root)
    upper = scale * float(root.find(f"{SVG}line[@id='upper-axis']").get("y1"))
    lower = scale * float(root.find(f"{SVG}line[@id='lower-axis']").get("y1"))
    rows = colour_rows(image, int(scale * legend_bottom(root)) + 1)
    sides = {"both": (expected["both"], expected["below_both"]), "extra": (expected["extra"], ()),
             "missed": ((), expected["missed"]), "conflict": (expected["conflict"], ())}
    for name, (want_above, want_below) in sides.items():
        above = sum(1 for y in rows[name] if y < upper + scale)
        below = sum(1 for y in rows[name] if y > lower - scale)
        check((above >= 10) == bool(want_above), f"{path}: {above} {name} pixels above the axis")
        check((below >= 10) == bool(want_below), f"{path}: {below} {name} pixels below the axis")
        check(above + below == len(rows[name]), f"{path}: {name} pixels between the axes")


def varna_counts(root, panel):
    """Pairs per palette colour in a panel of the 2D drawing: its lines joining
    two bases, one per pair."""
    counts = {name: 0 for name in PALETTE}
    hex_of = {"#%02X%02X%02X" % colour: name for name, colour in PALETTE.items()}
    for line in root.find(f"{SVG}g[@id='{panel}-panel']").iter(f"{SVG}line"):
        if line.get("class") == "pair":
            counts[hex_of[line.get("stroke")]] += 1
    return counts


def helices(pairs):
    """The outermost pair of each helix of a nested set, 5' to 3'."""
    return sorted(p for p in pairs if (p[0] - 1, p[1] + 1) not in pairs)


def check_helix_numbers(path, root, panel, laid_out):
    """Helix k's number is the panel's helix label nearest the centre of helix k's bases."""
    texts = list(root.find(f"{SVG}g[@id='{panel}-panel']").iter(f"{SVG}text"))
    bases = [(float(t.get("x")), float(t.get("y"))) for t in texts if t.get("class") == "base"]
    numbers = [t for t in texts if t.get("class") == "helix"]
    outer = helices(laid_out)
    check([t.text for t in numbers] == [str(k + 1) for k in range(len(outer))],
          f"{path}: {panel} helix numbers {[t.text for t in numbers]}")
    centres = []
    for i, j in outer:
        run = [p for p in laid_out if p[0] - i == j - p[1] >= 0 and all(
            (i + d, j - d) in laid_out for d in range(p[0] - i + 1))]
        spots = [bases[k - 1] for p in run for k in p]
        centres.append((sum(x for x, _ in spots) / len(spots), sum(y for _, y in spots) / len(spots)))
    for k, t in enumerate(numbers[:len(centres)]):
        x, y = float(t.get("x")), float(t.get("y"))
        nearest = min(range(len(centres)), key=lambda c: (centres[c][0] - x) ** 2 + (centres[c][1] - y) ** 2)
        check(nearest == k, f"{path}: {panel} number {k + 1} sits at helix {nearest + 1}")


def check_2d(path, root, expected):
    drawn = varna_counts(root, "structure")
    want = {name: len(expected[name]) for name in PALETTE if name != "missed"}
    check({k: v for k, v in drawn.items() if k != "missed"} == want, f"{path}: pairs per colour {drawn}, want {want}")
    reference = expected["below_both"] | expected["missed"]
    if not expected["conflict"]:
        check_helix_numbers(path, root, "structure", expected["both"] | expected["extra"])
    check_helix_numbers(path, root, "reference", reference)
    image, scale = rendered(path, root)
    rows = colour_rows(image, int(scale * legend_bottom(root)) + 1)
    shown = dict(want, both=len(expected["both"] | expected["below_both"]), missed=len(expected["missed"]))
    for name in PALETTE:
        check((len(rows[name]) >= 10) == (shown[name] > 0), f"{path}: {len(rows[name])} {name} pixels")


def check_legend_counts(path, legend, root, layout, expected):
    """Each legend row counts its set of pairs (as the scores do), says how many
    of them are drawn in the conflict colour instead, and the picture draws
    exactly that many in each colour."""
    def number(pattern):
        found = re.search(pattern, legend)
        return int(found.group(1)) if found else None
    def red(row):
        return number(row + r": \d+[^;|]*; (\d+) of them drawn in vermillion") or 0
    reference, conflict = expected["below_both"] | expected["missed"], expected["conflict"]
    shown = {"both": number(r"blue: in both: (\d+)"), "both red": red("blue: in both"),
             "extra": number(r"orange: in this structure only: (\d+)"), "extra red": red("orange: in this structure only"),
             "missed": number(r"reddish purple: in the reference only: (\d+)"),
             "conflict": number(r"vermillion: sharing a position or crossing: (\d+)") or 0}
    want = {"both": len(expected["below_both"]), "both red": len(conflict & reference),
            "extra": len(expected["extra"]) + len(conflict - reference), "extra red": len(conflict - reference),
            "missed": len(expected["missed"]), "conflict": len(conflict)}
    check(shown == want, f"{path}: legend counts {shown}, want {want}")
    if layout == "arc":
        groups = {g.get("id"): len(list(g)) for g in root.iter(f"{SVG}g")}
        drawn = {"both": groups.get("structure-both", 0), "extra": groups.get("structure-only", 0),
                 "missed": groups.get("reference-only", 0), "conflict": groups.get("structure-conflicting", 0)}
        check(groups.get("reference-both", 0) == shown["both"], f"{path}: reference-side blue arcs {groups}")
    else:
        drawn = dict(varna_counts(root, "structure"), missed=varna_counts(root, "reference")["missed"])
        check(varna_counts(root, "reference")["both"] == shown["both"], f"{path}: reference-side blue pairs")
    check(drawn == {"both": shown["both"] - shown["both red"], "extra": shown["extra"] - shown["extra red"],
                    "missed": shown["missed"], "conflict": shown["conflict"]},
          f"{path}: drawn per colour {drawn} against the legend {shown}")


# The bundled tRNA, its reference under a name with markup characters, and
# rnaqubo's listing of the quads.
name = 'tRNA <Phe> & "yeast"'
letters, structure = open(os.path.join(examples, "trna_phe_yeast.dbn")).read().split("\n")[1:3]
shutil.copy(os.path.join(examples, "trna_phe_yeast.txt"), work)
open(os.path.join(work, "ref.dbn"), "w").write(f">{name}\n{letters}\n{structure}\n")
subprocess.run([rnaqubo, "trna_phe_yeast.txt", "76", "4", "1", "-200"], cwd=work, check=True,
               capture_output=True)
reference = bracket_pairs(structure)
model = ["trna_phe_yeast.txt", "76", "4", "1", "-200", "--reference", "ref.dbn"]
# The cloverleaf's quads and three quads of a hairpin that clashes with its arms.
selection = [8, 16, 32, 41, 49, 70, 103, 112, 122, 246, 248, 251, 255, 343, 346, 351, 355, 124, 131, 135]
open(os.path.join(work, "selection.txt"), "w").write(" ".join(map(str, selection)) + "\n")

for case, extra_args in (("optimum", []), ("selection", ["--solution", "selection.txt"])):
    for layout in ("arc", "2d"):
        svg_root = None
        for form in ("svg", "png", "pdf"):
            path = os.path.join(work, f"{case}-{layout}.{form}")
            result = run(model + extra_args + ["--draw", path, "--layout", layout])
            if result.returncode != 0:
                failures.append(f"{path}: status {result.returncode}: {result.stderr}")
                continue
            if case == "optimum":
                expected = classes(bracket_pairs(result.stdout.split("\n")[1].split()[0]), reference)
            else:
                expected = classes(quad_pairs(os.path.join(work, "dot_paren.txt"), selection), reference)
                check(len(expected["conflict"]) > 0, "the selection has no conflicts")
            if form == "svg":
                text = open(path).read()
                svg_root = ET.fromstring(text)
                title = name + (" (not a secondary structure)" if case == "selection" else "")
                check(svg_root.find(f"{SVG}title").text == title, f"{path}: title")
                check("tRNA &lt;Phe&gt; &amp; &quot;yeast&quot;" in text and "<Phe>" not in text,
                      f"{path}: the name is not escaped")
                legend = " ".join(svg_root.find(f"{SVG}g[@id='legend']").itertext())
                check("trna_phe_yeast.txt | 76 bases | min. distance 4 | add quads 1 | penalty -200"
                      in legend, f"{path}: settings line")
                check(("ratio: " in legend) == (case == "selection"), f"{path}: ratio shown or not")
                for colour in ("blue: in both", "orange: in this structure only",
                               "reddish purple: in the reference only"):
                    check(colour in legend, f"{path}: legend lacks {colour!r}")
                check_legend_counts(path, legend, svg_root, layout, expected)
                if layout == "arc":
                    sides = [t.text for t in svg_root.find(f"{SVG}g[@id='sides']")]
                    check(sides == ["this structure", "reference"], f"{path}: sides {sides}")
            check_picture = check_arc if layout == "arc" else check_2d
            check_picture(path, svg_root, expected)

# A sequence file's base name with markup characters is the title, escaped.
odd = "a<&'\">b.txt"
shutil.copy(os.path.join(examples, "trna_phe_yeast.txt"), os.path.join(work, odd))
for layout in ("arc", "2d"):
    result = run([os.path.join(work, odd), "76", "4", "1", "-200", "--draw", "odd.svg", "--layout", layout])
    text = open(os.path.join(work, "odd.svg")).read() if result.returncode == 0 else ""
    check(result.returncode == 0 and ET.fromstring(text).find(f"{SVG}title").text == odd and
          "a&lt;&amp;&apos;&quot;&gt;b.txt" in text and work not in text, f"{layout}: base name as title")

# Refusals: the message, status 2, and no file. A directory with rsvg-convert
# alone stands for a machine without Java.
no_java = os.path.join(work, "no-java")
os.mkdir(no_java)
os.symlink(shutil.which("rsvg-convert"), os.path.join(no_java, "rsvg-convert"))
install = ("install them (Debian: apt-get install varna default-jre-headless), or set "
           "RNAQUBO_VARNA_JAR to VARNA's jar")
refusals = [
    (["--layout", "2d"], {"PATH": no_java}, "out.png",
     f"out.png: 2D drawings need Java and VARNA: no java on PATH; {install}"),
    (["--layout", "2d"], {"RNAQUBO_VARNA_JAR": "/nonexistent/varna.jar"}, "out.svg",
     f"out.svg: 2D drawings need Java and VARNA: /nonexistent/varna.jar: No such file or directory; {install}"),
    ([], {"PATH": os.path.join(work, "nowhere")}, "out.pdf",
     "out.pdf: PNG and PDF pictures need rsvg-convert: no rsvg-convert on PATH; install it "
     "(Debian: apt-get install librsvg2-bin)"),
    (["--layout", "3d"], {}, "out.svg", "unknown layout: 3d (arc or 2d)"),
    ([], {}, "out.jpg", "out.jpg: cannot tell the picture's format: the name must end in .svg, .png or .pdf"),
]
for extra_args, env, target, message in refusals:
    result = run(model + ["--draw", target] + extra_args, env)
    check(result.returncode == 2 and result.stderr == f"rnaqubo-fold: {message}\n" and result.stdout == ""
          and not os.path.exists(os.path.join(work, target)),
          f"{target} {extra_args} {env}: status {result.returncode}, {result.stderr!r}")

# A lone base is drawn too (VARNA's naview could not place one).
open(os.path.join(work, "one.txt"), "w").write("1\nG\n")
result = run(["one.txt", "1", "0", "1", "-200", "--layout", "2d", "--draw", "one.svg"])
letters = [t.text for t in ET.parse(os.path.join(work, "one.svg")).getroot().iter(f"{SVG}text")
           if t.get("class") == "base"] if result.returncode == 0 else []
check(result.returncode == 0 and letters == ["G"], f"one base: status {result.returncode}, {result.stderr!r}")

shutil.rmtree(work)
for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
