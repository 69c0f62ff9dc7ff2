"""The benchmark's report: one self-contained HTML page that works offline, and
every figure of it also as a PDF, for a paper.

It holds a header with the run's settings (time limit, repeats, seeds), the
software's versions, the machine and its load; a table per instance and
solver (size, target and whether it is certified, p_s and TTS99 with their
95% intervals, times to target, best gap, proof); Dolan–Moré performance
profiles over the time to target; TTS99 against the sequence's length on the
whole models, one marker per instance with its interval and never a line
between instances, p_s = 0 drawn at the top as "inf"; the residual-gap curves
of each instance; and for each instance the arc diagram of each solver's best
answer against the reference (drawn by rnaqubo-fold --svg, titled by record
and solver). Plots are made with matplotlib, inline as SVG and written as PDF
(and SVG) to FIGURES_DIR (the arc diagrams through rsvg-convert, where it is installed).
Nothing is fetched.

usage: benchmark_report.py RUNS_TSV SUMMARY_TSV INSTANCES_DIR RUNS_DIR RNAQUBO_FOLD REPORT_HTML SETTINGS_JSON
       FIGURES_DIR [ZERO_BASED_SOLVER...]
SETTINGS_JSON holds seconds, repeats, first_seed, deterministic (solver names),
time_basis_note, versions ({program: version line}), load_start (three
numbers or null).
"""
import csv
import html
import io
import json
import math
import os
import platform
import re
import shutil
import subprocess
import sys

import matplotlib

matplotlib.use("svg")
import matplotlib.pyplot as plt  # noqa: E402

plt.rcParams["svg.fonttype"] = "none"
plt.rcParams["svg.hashsalt"] = "rnaqubo"  # the same ids, so the same bytes, on every run
plt.rcParams["font.size"] = 11
plt.rcParams["pdf.fonttype"] = 42
MARKERS = "osD^vP*X"


def read_table(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def value(text):
    """A summary figure as a float: inf for 'inf', None for 'NA'."""
    return None if text == "NA" else math.inf if text == "inf" else float(text)


def save(figure, figures_dir, name):
    """The figure as inline SVG markup (no XML declaration), also written as
    FIGURES_DIR/NAME.pdf and NAME.svg."""
    figure.savefig(os.path.join(figures_dir, f"{name}.pdf"), format="pdf", bbox_inches="tight",
                   metadata={"CreationDate": None})
    text = io.StringIO()
    figure.savefig(text, format="svg", bbox_inches="tight")
    plt.close(figure)
    svg = text.getvalue()
    with open(os.path.join(figures_dir, f"{name}.svg"), "w") as f:
        f.write(svg)
    return svg[svg.index("<svg"):]


def performance_profile(summary, column, label, figures_dir, name):
    """Dolan–Moré profiles: per solver, the share of instances on which its
    time to target is within a factor t of the best solver's."""
    instances = list(dict.fromkeys(row["instance"] for row in summary))
    solvers = list(dict.fromkeys(row["solver"] for row in summary))
    times = {(row["instance"], row["solver"]): value(row[column]) for row in summary}
    ratios = {solver: [] for solver in solvers}
    for instance in instances:
        finite = [t for s in solvers if (t := times.get((instance, s))) is not None and math.isfinite(t)]
        best = min(finite) if finite else None
        for solver in solvers:
            t = times.get((instance, solver))
            ok = best is not None and t is not None and math.isfinite(t)
            # Against a best time of 0 only another 0 is within any factor.
            ratios[solver].append(math.inf if not ok else t / best if best > 0 else 1.0 if t == 0 else math.inf)
    top = max([r for rs in ratios.values() for r in rs if math.isfinite(r)] + [1.0]) * 2
    figure, axes = plt.subplots(figsize=(6.4, 4))
    for k, solver in enumerate(solvers):
        finite = sorted(r for r in ratios[solver] if math.isfinite(r))
        xs = [1.0] + finite + [top]
        ys = [sum(r <= x for r in finite) / len(instances) for x in xs]
        axes.step(xs, ys, where="post", label=solver, marker=MARKERS[k % len(MARKERS)], markevery=list(range(1, len(xs) - 1)),
                  linewidth=2.2 - 0.4 * (k % 3), alpha=0.9)
    axes.set_xscale("log")
    axes.set_ylim(-0.03, 1.03)
    axes.set_xlabel(f"t: within a factor t of the best {label}")
    axes.set_ylabel("share of instances")
    axes.set_title(f"Performance profile, {label}")
    axes.legend()
    axes.grid(alpha=0.3)
    return save(figure, figures_dir, name)


def tts_against_length(summary, lengths, figures_dir):
    """TTS99 against the length, whole models only: markers with their interval
    as error bars, never joined; a solver's points are shifted a little
    sideways so that none hides another's; inf drawn at the top."""
    rows = [row for row in summary if row["instance"] in lengths]
    solvers = list(dict.fromkeys(row["solver"] for row in summary))
    finite = [v for row in rows for key in ("tts99", "tts99_low", "tts99_high")
              if (v := value(row[key])) is not None and math.isfinite(v) and v > 0]
    low, high = (min(finite), max(finite)) if finite else (1e-3, 1.0)
    ceiling = high * 10  # where inf is drawn
    figure, axes = plt.subplots(figsize=(6.4, 4))
    for k, solver in enumerate(solvers):
        shift = 1 + 0.03 * (k - (len(solvers) - 1) / 2)
        xs, ys, below, above, inf_xs = [], [], [], [], []
        for row in rows:
            if row["solver"] != solver:
                continue
            x = lengths[row["instance"]] * shift
            tts = value(row["tts99"])
            if tts is None:
                continue
            if math.isinf(tts):
                inf_xs.append(x)
                continue
            lo, hi = value(row["tts99_low"]), value(row["tts99_high"])
            xs.append(x)
            ys.append(tts)
            below.append(tts - lo if lo is not None else 0)
            above.append((min(hi, ceiling) - tts) if hi is not None else 0)
        marker = MARKERS[k % len(MARKERS)]
        colour = f"C{k}"
        if xs:
            axes.errorbar(xs, ys, yerr=[below, above], linestyle="none", marker=marker, color=colour, capsize=3,
                          label=solver, gid=f"tts-{solver}")
        if inf_xs:
            axes.plot(inf_xs, [ceiling] * len(inf_xs), linestyle="none", marker=marker, color=colour,
                      markerfacecolor="none", markersize=9, label=None if xs else solver, gid=f"inf-{solver}")
    axes.axhline(ceiling, color="0.5", linewidth=0.8, linestyle=":")
    axes.text(0.01, ceiling, " inf (p_s = 0)", transform=axes.get_yaxis_transform(), va="bottom", fontsize=10)
    axes.set_xscale("log")
    axes.set_yscale("log")
    axes.set_ylim(low / 3, ceiling * 4)
    axes.set_xlabel("sequence length (bases)")
    axes.set_ylabel("TTS99 (s)")
    axes.set_title("TTS99 against length, whole models")
    axes.legend()
    axes.grid(alpha=0.3)
    return save(figure, figures_dir, "tts99_length")


def gap_curves(runs, instance, figures_dir, index):
    """Per solver, the share of runs whose answer is within each gap of the
    target (runs without an answer never are)."""
    group = [run for run in runs if run["instance"] == instance]
    solvers = list(dict.fromkeys(run["solver"] for run in group))
    figure, axes = plt.subplots(figsize=(5.2, 3.4))
    gaps_of = {}
    for solver in solvers:
        mine = [run for run in group if run["solver"] == solver]
        gaps = []
        for run in mine:
            if run["status"] == "ok" and run["value"] != "NA":
                target = int(run["optimum"])
                gaps.append(100 * (target - int(run["value"])) / max(abs(target), 1))
        gaps_of[solver] = (sorted(gaps), len(mine))
    right = max([g for gaps, _ in gaps_of.values() for g in gaps] + [1.0]) * 1.1
    left = min([g for gaps, _ in gaps_of.values() for g in gaps] + [0.0])
    for k, solver in enumerate(solvers):
        gaps, count = gaps_of[solver]
        xs = [left] + gaps + [right]
        ys = [sum(g <= x for g in gaps) / count for x in xs]
        axes.step(xs, ys, where="post", label=solver, linewidth=2.2 - 0.4 * (k % 3), alpha=0.9)
    axes.set_ylim(-0.03, 1.03)
    axes.set_xlabel("gap to the target (%)")
    axes.set_ylabel("share of runs within it")
    axes.set_title(f"Residual gap, {instance}")
    axes.legend()
    axes.grid(alpha=0.3)
    return save(figure, figures_dir, f"gap_{index:03d}_{safe(instance)}")


def safe(name):
    return re.sub(r"[^A-Za-z0-9._-]", "_", name)


def instance_facts(instances_dir, name):
    """(length, record name, reduction) of an instance: reduction is (DELTA, the
    whole model's variables) for a reduced one, else None."""
    settings = {}
    with open(os.path.join(instances_dir, name, "model.qubo")) as f:
        for line in f:
            if not line.startswith("c "):
                break
            key, _, rest = line[2:].rstrip("\n").partition(": ")
            settings[key] = rest
    reduction = None
    if "reduce" in settings and " of " in settings.get("reduced", ""):
        reduction = settings["reduce"], settings["reduced"].split(" of ")[1].split()[0]
    length = len(settings.get("sequence", "")) or None
    return length, settings.get("name", name), reduction


def best_answers(runs):
    """{(instance, solver): seed of the best conflict-free answer, else of the best answer}."""
    best = {}
    for run in runs:
        if run["status"] != "ok":
            continue
        key = (run["instance"], run["solver"])
        rank = (run["conflict_free"] == "yes", int(run["value"]))
        if key not in best or rank > best[key][0]:
            best[key] = (rank, run["seed"])
    return {key: seed for key, (rank, seed) in best.items()}


def arc_diagram(fold, instances_dir, runs_dir, instance, solver, seed, zero_based, title, pdf):
    """rnaqubo-fold's arc diagram of an answer, titled `title`, as inline SVG
    (also written to pdf where rsvg-convert is installed), or None."""
    directory = os.path.join(runs_dir, instance, solver, seed)
    picture = os.path.join(directory, "answer.svg")
    arguments = [fold, "--instance", os.path.join(instances_dir, instance, "model.qubo"),
                 "--solution", os.path.join(directory, "answer.txt"), "--svg", picture]
    if zero_based:
        arguments.append("--zero-based")
    reference = os.path.join(instances_dir, instance, "reference.dbn")
    if os.path.exists(reference):
        arguments += ["--reference", reference]
    if subprocess.run(arguments, capture_output=True).returncode != 0:
        return None
    with open(picture) as f:
        svg = f.read()
    svg = svg[svg.index("<svg"):]
    # rnaqubo-fold titles a drawing by its input file: the record and solver instead.
    svg = re.sub(r"(<title>).*?(</title>)", lambda m: m.group(1) + html.escape(title) + m.group(2), svg, count=1)
    svg = re.sub(r'(<text[^>]*font-weight="bold"[^>]*>).*?(</text>)', lambda m: m.group(1) + html.escape(title)
                 + m.group(2), svg, count=1)
    svg = svg.replace(">model.qubo | ", f">{html.escape(instance)} | ", 1)
    if shutil.which("rsvg-convert"):
        with open(picture, "w") as f:
            f.write(svg)
        subprocess.run(["rsvg-convert", "-f", "pdf", "-o", pdf, picture], capture_output=True)
    return svg


def interval(row, key):
    low, high = row[f"{key}_low"], row[f"{key}_high"]
    return "" if low == "NA" else f" [{low}, {high}]"


def table_html(summary, facts):
    columns = ["instance", "length", "variables", "target", "certified", "solver", "runs", "p_s [95%]",
               "TTS99 s [95%]", "time basis", "to target s", "to 1% s", "to 5% s", "best gap", "above target", "proven", "bound"]
    head = "".join(f"<th>{html.escape(c)}</th>" for c in columns)
    body = []
    for row in summary:
        length, _, reduction = facts[row["instance"]]
        size = row["variables"] + (f" (of {reduction[1]}, reduced at {reduction[0]})" if reduction else "")
        cells = [row["instance"], str(length or "NA"), size, f"{row['target']} {row['optimum']}", row["certified"],
                 row["solver"], row["runs"], row["p_s"] + interval(row, "p_s"), row["tts99"] + interval(row, "tts99"),
                 row["time_basis"], row["ttt_opt"], row["ttt_gap1"], row["ttt_gap5"], row["best_gap"],
                 row["above_target"], row["proven"], row["bound"]]
        body.append("<tr>" + "".join(f"<td>{html.escape(c)}</td>" for c in cells) + "</tr>\n")
    return f'<table id="summary"><thead><tr>{head}</tr></thead><tbody>\n{"".join(body)}</tbody></table>'


def machine():
    """The CPU's model name and the number of cores."""
    model = platform.processor() or "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} cores"


def header_html(settings, runs):
    load_end = [round(x, 2) for x in os.getloadavg()]
    load_start = settings.get("load_start")
    seeds = sorted({int(run["seed"]) for run in runs})
    deterministic = settings.get("deterministic") or []
    items = [
        ("time limit", f"{settings['seconds']:g} s a run"),
        ("repeats", f"{settings['repeats']} a stochastic solver"
         + (f" (the default is 100; this configuration sets {settings['repeats']})" if settings["repeats"] != 100 else "")
         + (f"; once: {', '.join(deterministic)} (deterministic)" if deterministic else "")),
        ("seeds", f"{seeds[0]} to {seeds[-1]}" if seeds else "none"),
        ("time basis", "a solver's own compute time where every run of it stated one (time basis 'compute'), "
                       "else the wall time of the run, process start and model reading included ('wall')"),
        ("target", "rnaqubo-fold's optimum: the certified optimum of the QUBO where certified, else the feasible "
                   "optimum (the best conflict-free selection), which a QUBO answer with conflicts may exceed: "
                   "such an answer counts as reaching it and is shown under 'above target'"),
        ("statistics", "p_s with its Clopper-Pearson 95% interval; TTS99 = tau ln 0.01 / ln(1 - p_s), tau the "
                       "median run time, clipped to tau at p_s >= 0.99, inf at p_s = 0, with a percentile "
                       "bootstrap 95% interval (2000 draws, fixed seed); times to target likewise at the target "
                       "and within 1% and 5% of it"),
        ("software", "; ".join(f"{name}: {text}" for name, text in settings.get("versions", {}).items())),
        ("machine", machine()),
        ("load", f"{' '.join(map(str, load_start)) if load_start else 'NA'} at the start, "
                 f"{' '.join(map(str, load_end))} at the end (1, 5 and 15 minute averages)"),
    ]
    rows = "".join(f"<tr><th>{html.escape(k)}</th><td>{html.escape(v)}</td></tr>\n" for k, v in items)
    return f'<table id="settings">{rows}</table>'


def make_report(runs_path, summary_path, instances_dir, runs_dir, fold, settings, figures_dir, zero_based_solvers):
    """The report's HTML text; writes the PDFs."""
    runs, summary = read_table(runs_path), read_table(summary_path)
    os.makedirs(figures_dir, exist_ok=True)
    optimum = {run["instance"]: run["optimum"] for run in runs}
    for row in summary:
        row["optimum"] = optimum.get(row["instance"], "NA")
    instances = list(dict.fromkeys(row["instance"] for row in summary))
    facts = {name: instance_facts(instances_dir, name) for name in instances}
    lengths = {name: length for name, (length, _, reduction) in facts.items() if reduction is None and length}
    parts = [
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>rnaqubo solver benchmark</title>\n<style>",
        "body { font-family: sans-serif; margin: 1em; font-size: 15px; } table { border-collapse: collapse; }",
        "th, td { border: 1px solid #999; padding: 2px 6px; } th { text-align: left; }",
        "#summary td { text-align: right; font-variant-numeric: tabular-nums; } .plots { display: flex; flex-wrap: wrap; }",
        "figure { margin: 0.5em; } figcaption { font-size: 15px; max-width: 640px; }",
        "svg { max-width: 100%; height: auto; } .arcs svg { max-width: 600px; }",
        "</style></head><body>\n<h1>Solver benchmark</h1>",
        header_html(settings, runs),
        f"<p>{len(runs)} runs, {len(instances)} instances.</p>",
        "<h2>Per instance and solver</h2>", table_html(summary, facts),
        '<h2>Performance profiles</h2><div class="plots">',
        '<figure id="plot-profile-opt">'
        + performance_profile(summary, "ttt_opt", "time to target", figures_dir, "profile_target")
        + "<figcaption>Per solver, the share of instances whose time to the target is within a factor t of the "
          "fastest solver's on that instance (Dolan–Moré). A solver that never reached the target on an "
          "instance never counts for it.</figcaption></figure>",
        '<figure id="plot-profile-gap1">'
        + performance_profile(summary, "ttt_gap1", "time to 1% gap", figures_dir, "profile_gap1")
        + "<figcaption>The same over the time to come within 1% of the target.</figcaption></figure>",
        '</div><h2>TTS99 against length</h2><div class="plots">',
        '<figure id="plot-tts99">' + tts_against_length(summary, lengths, figures_dir)
        + "<figcaption>Whole models only (reduced ones left out), one marker per instance and solver with "
          "its 95% interval; markers are not joined, since the instances are unrelated. Open markers on the "
          "dotted line are p_s = 0 (TTS99 inf).</figcaption></figure>",
        '</div><h2>Residual gap</h2><div class="plots">',
    ]
    for k, instance in enumerate(instances):
        parts.append(f'<figure class="gap" id="plot-gap-{k}">{gap_curves(runs, instance, figures_dir, k)}'
                     f"<figcaption>{html.escape(instance)}: the share of runs whose answer is within each gap "
                     "of the target.</figcaption></figure>")
    parts.append("</div><h2>Best answers</h2>")
    best = best_answers(runs)
    for k, instance in enumerate(instances):
        length, record, reduction = facts[instance]
        size = (f"{length} bases, " if length else "") + f"{summary_size(summary, instance)} variables" + (
            f", the model of {reduction[1]} reduced at {reduction[0]}" if reduction else "")
        parts.append(f"<h3>{html.escape(instance)} ({html.escape(size)})</h3><div class=\"plots\">")
        for solver in dict.fromkeys(row["solver"] for row in summary):
            seed = best.get((instance, solver))
            title = f"{record}, {solver}" + (f", seed {seed}" if seed else "")
            pdf = os.path.join(figures_dir, f"arcs_{k:03d}_{safe(instance)}_{safe(solver)}.pdf")
            svg = seed and arc_diagram(fold, instances_dir, runs_dir, instance, solver, seed,
                                       solver in zero_based_solvers, title, pdf)
            caption = html.escape(title) if svg else f"{html.escape(record)}, {html.escape(solver)}: no answer"
            parts.append(f'<figure class="arcs">{svg or ""}<figcaption>{caption}</figcaption></figure>')
        parts.append("</div>")
    parts.append("</body></html>\n")
    return "\n".join(parts)


def summary_size(summary, instance):
    return next(row["variables"] for row in summary if row["instance"] == instance)


if __name__ == "__main__":
    if len(sys.argv) < 9:
        sys.exit("usage: benchmark_report.py RUNS_TSV SUMMARY_TSV INSTANCES_DIR RUNS_DIR RNAQUBO_FOLD REPORT_HTML "
                 "SETTINGS_JSON FIGURES_DIR [ZERO_BASED_SOLVER...]")
    runs_path, summary_path, instances_dir, runs_dir, fold, report, settings_path, figures = sys.argv[1:9]
    try:
        with open(settings_path) as f:
            settings = json.load(f)
        text = make_report(runs_path, summary_path, instances_dir, runs_dir, fold, settings, figures,
                           set(sys.argv[9:]))
        temporary = f"{report}.{os.getpid()}.tmp"
        with open(temporary, "w") as f:
            f.write(text)
        os.replace(temporary, report)
    except (OSError, ValueError, KeyError) as failure:
        sys.exit(f"benchmark_report.py: {failure}")
