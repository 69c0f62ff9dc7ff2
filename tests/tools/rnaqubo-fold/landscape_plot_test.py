"""rnaqubo-fold --landscape-plot, end to end: the counts the picture draws,
read back from its SVG, equal those of the selections --subopt lists (the
values per bar of the histogram, the selections pairing each position, those
holding each pair) and the variables --reduce keeps (its map); the refusals.

usage: landscape_plot_test.py RNAQUBO_FOLD EXAMPLES_DIR
"""
import collections
import os
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../.."))
from picture_checks import PictureChecks, bracket_pairs  # noqa: E402

SVG = "{http://www.w3.org/2000/svg}"
fold, examples = sys.argv[1:3]
checks = PictureChecks(fold)
work, check, run = checks.work, checks.check, checks.run


def elements(root, kind, *names):
    return [tuple(int(e.get(n)) for n in names) for e in root.iter() if e.get("class") == kind]


# (sequence, n, delta, --max-selections): a histogram of one bar per value, one
# of wider bars (more values than bars), and a listing cut short.
cases = [("trna_phe_yeast.txt", 76, "5%", 20), ("srp_ecoli.txt", 113, "15%", 400),
         ("trna_phe_yeast.txt", 76, "10%", 7)]
for sequence, n, delta, most in cases:
    name = f"{sequence} --subopt {delta}"
    out = run([os.path.join(examples, sequence), str(n), "4", "1", "-200", "--subopt", delta,
               "--max-selections", str(most), "--reduce", delta, "--out", "kept", "--landscape-plot", "plot.svg"])
    check(out.returncode == 0, f"{name}: exit {out.returncode}: {out.stderr}")
    if out.returncode != 0:
        continue
    lines = out.stdout.splitlines()
    subopt = next(k for k, line in enumerate(lines) if line.startswith("subopt: "))
    optimum = int(lines[subopt].split()[-1])
    listed = [line.split("\t") for line in lines[subopt + 1:] if "\t" in line]
    values = [int(v) for _, v, _ in listed]
    pairs = [bracket_pairs(s) for s, _, _ in listed]
    root = ET.parse(os.path.join(work, "plot.svg")).getroot()

    bars = elements(root, "value-bar", "data-low", "data-high", "data-count")
    check(sum(c for _, _, c in bars) == len(values) == min(most, len(values)),
          f"{name}: {sum(c for _, _, c in bars)} selections in the histogram, {len(values)} listed")
    for low, high, count in bars:
        check(count == sum(low <= v <= high for v in values), f"{name}: bar {low}..{high} counts {count}")
    check(bars and bars[-1][1] == optimum and len(bars) <= 60, f"{name}: bars end at {bars[-1:]}, not {optimum}")
    check(all(a[1] + 1 == b[0] for a, b in zip(bars, bars[1:])), f"{name}: bars leave gaps or overlap")

    paired = collections.Counter(p for s in pairs for pair in s for p in pair)
    drawn = dict(elements(root, "position-bar", "data-position", "data-count"))
    check(sorted(drawn) == list(range(1, n + 1)), f"{name}: position bars for {len(drawn)} positions")
    check(all(drawn[p] == paired[p] for p in drawn), f"{name}: position counts differ: "
          f"{[(p, drawn[p], paired[p]) for p in drawn if drawn[p] != paired[p]][:5]}")
    held = collections.Counter(pair for s in pairs for pair in s)
    arcs = {(i, j): c for i, j, c in elements(root, "pair-arc", "data-i", "data-j", "data-count")}
    check(arcs == dict(held), f"{name}: pair arcs differ from the pairs held")

    kept_map = open(os.path.join(work, "kept.map")).read().splitlines()[1:]
    want = sorted(tuple(map(int, row.split("\t")[1:4])) for row in kept_map)
    check(sorted(elements(root, "kept-arc", "data-variable", "data-i", "data-j")) == want,
          f"{name}: kept arcs differ from kept.map")
    legend = " ".join(t.text or "" for t in root.find(f"{SVG}g[@id='legend']").iter(f"{SVG}text"))
    check(f"{len(values)} listed and drawn" in legend and f"reduced: {len(kept_map)} of" in legend,
          f"{name}: legend {legend!r}")

# --reduce alone draws the kept variables only.
out = run([os.path.join(examples, "trna_phe_yeast.txt"), "76", "4", "1", "-200", "--reduce", "5%", "--out", "five",
           "--landscape-plot", "reduce.svg"])
root = ET.parse(os.path.join(work, "reduce.svg")).getroot()
check(len(elements(root, "kept-arc", "data-variable", "data-i", "data-j")) == 42 and
      not elements(root, "value-bar", "data-count"), "--reduce 5% alone: not the 42 kept arcs only")

ggggcccc = [os.path.join(examples, "ggggcccc.txt"), "8", "0", "1", "-200"]
for args, said in (([], "Option --landscape-plot needs --subopt or --reduce"),
                   (["--subopt", "0", "--marginals", "same.svg"], "would both write"),
                   (["--subopt", "0", "--svg", "same.svg"], "would both write")):
    out = run(ggggcccc + args + ["--landscape-plot", "same.svg"])
    check(out.returncode == 2 and said in out.stderr, f"{args}: exit {out.returncode}: {out.stderr}")
out = run(ggggcccc + ["--subopt", "0", "--landscape-plot", "plot.jpg"])
check(out.returncode == 2 and "cannot tell the picture's format" in out.stderr, f"plot.jpg: {out.stderr}")
out = run(ggggcccc + ["--subopt", "0", "--landscape-plot", "no/such/dir/plot.svg"])
check(out.returncode == 2 and out.stdout == "", f"an unwritable picture: exit {out.returncode}, {out.stdout!r}")
check(not any(os.path.exists(os.path.join(work, f)) for f in ("same.svg", "plot.jpg")), "a refused run wrote")

checks.finish()
