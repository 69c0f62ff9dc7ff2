"""Checks the benchmark report as headless Chromium parsed it (its --dump-dom),
and the PDFs beside it:
- every figure holds a drawing: the two profiles, the TTS99 plot, one residual
  curve per instance and one arc diagram per instance and solver with an
  answer (checked against runs.tsv), titled by record and solver, never by
  the instance's file name;
- in the TTS99 plot no line joins two instances: outside the marker
  definitions, every straight path runs along one axis (error bars, caps,
  grid, the inf line), and each of INF_SOLVERS has one "inf" marker per whole
  instance, WHOLE of them;
- every PDF starts with %PDF- and pdfinfo (where installed) reads it.

usage: report_check.py DOM_HTML RUNS_TSV FIGURES_DIR WHOLE INF_SOLVER...
"""
import csv
import glob
import re
import shutil
import subprocess
import sys

dom_path, runs_path, figures_dir, whole = sys.argv[1:5]
inf_solvers = sys.argv[5:]
dom = open(dom_path).read()
with open(runs_path, newline="") as f:
    runs = list(csv.DictReader(f, delimiter="\t"))
failures = []
instances = list(dict.fromkeys(run["instance"] for run in runs))
figures = dict(re.findall(r'<figure[^>]*id="(plot-[^"]+)"[^>]*>(.*?)</figure>', dom, re.S))
wanted = ["plot-profile-opt", "plot-profile-gap1", "plot-tts99"] + [f"plot-gap-{k}" for k in range(len(instances))]
for name in wanted:
    if "<path" not in figures.get(name, ""):
        failures.append(f"figure {name} is missing or draws nothing")
answered = {(run["instance"], run["solver"]) for run in runs if run["status"] == "ok"}
arcs = re.findall(r'<figure class="arcs">(.*?)</figure>', dom, re.S)
drawn = [figure for figure in arcs if "<svg" in figure]
if len(drawn) != len(answered):
    failures.append(f"{len(drawn)} arc diagrams, {len(answered)} instance-solver pairs with an answer")
if "model.qubo" in "".join(arcs):
    failures.append("an arc diagram is titled by the instance's file")

tts = figures.get("plot-tts99", "")
outside = re.sub(r"<defs>.*?</defs>", "", tts, flags=re.S)
for d in re.findall(r'<path[^>]* d="([^"]*)"', outside):
    if re.search(r"[CQAcqa]", d):
        continue
    points = [tuple(map(float, p)) for p in re.findall(r"(-?[0-9.]+) (-?[0-9.]+)", d)]
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        if abs(x0 - x1) > 0.01 and abs(y0 - y1) > 0.01:
            failures.append(f"the TTS99 plot has a slanted line: {d[:80]!r}")
            break
for solver in inf_solvers:
    group = re.search(rf'<g id="inf-{re.escape(solver)}">(.*?)</g>\s*</g>', tts, re.S)
    count = len(re.findall(r"<use ", group.group(1))) if group else 0
    if count != int(whole):
        failures.append(f"{solver}: {count} inf markers in the TTS99 plot, {whole} expected")

pdfs = sorted(glob.glob(f"{figures_dir}/*.pdf"))
if len(pdfs) < len(wanted):
    failures.append(f"{len(pdfs)} PDFs, at least {len(wanted)} expected")
for pdf in pdfs:
    with open(pdf, "rb") as f:
        if f.read(5) != b"%PDF-":
            failures.append(f"{pdf} is not a PDF")
    if shutil.which("pdfinfo") and subprocess.run(["pdfinfo", pdf], capture_output=True).returncode != 0:
        failures.append(f"pdfinfo cannot read {pdf}")
for failure in failures:
    print("FAIL:", failure)
print(f"{len(figures)} figures, {len(drawn)} arc diagrams, {len(pdfs)} PDFs"
      + ("" if shutil.which("pdfinfo") else " (pdfinfo is not installed: the PDFs' magic only)"))
sys.exit(1 if failures else 0)
