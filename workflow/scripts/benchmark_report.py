"""The benchmark's report: one self-contained HTML page that works offline.

It holds the summary table; p_s and TTS99 against the number of variables, per
solver; the distribution of the ratio to the optimum; and for each instance the
arc diagram of each solver's best answer against the reference (drawn by
rnaqubo-fold --svg). Plots are made with matplotlib as inline SVG; nothing is
fetched. Each plot's axes have a background tint of their own (TINTS), so that
a screenshot shows which of them were drawn.

usage: benchmark_report.py RUNS_TSV SUMMARY_TSV INSTANCES_DIR RUNS_DIR RNAQUBO_FOLD REPORT_HTML
"""
import csv
import html
import io
import os
import subprocess
import sys

import matplotlib

matplotlib.use("svg")
import matplotlib.pyplot as plt  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchmark_summary  # noqa: E402

# The axes' background of each plot, and the table header's.
TINTS = {"p_s": "#fff3e0", "tts99": "#e8f5e9", "ratio": "#ede7f6", "table": "#e3f2fd"}
plt.rcParams["svg.fonttype"] = "none"
plt.rcParams["svg.hashsalt"] = "rnaqubo"  # the same ids, so the same bytes, on every run


def read_table(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def svg_of(figure):
    """The figure as inline SVG markup (no XML declaration)."""
    text = io.StringIO()
    figure.savefig(text, format="svg", bbox_inches="tight")
    plt.close(figure)
    svg = text.getvalue()
    return svg[svg.index("<svg"):]


def plot_against_size(summary, sizes, column, label, tint, log):
    figure, axes = plt.subplots(figsize=(6, 3.6))
    axes.set_facecolor(tint)
    for solver in dict.fromkeys(row["solver"] for row in summary):
        points = sorted((sizes[row["instance"]], float(row[column])) for row in summary
                        if row["solver"] == solver and row[column] not in ("NA", "inf"))
        if points:
            axes.plot([p[0] for p in points], [p[1] for p in points], marker="o", label=solver)
    axes.set_xlabel("variables (quads)")
    axes.set_ylabel(label)
    if log:
        axes.set_yscale("log")
    axes.legend(fontsize="small")
    axes.grid(alpha=0.3)
    return svg_of(figure)


def plot_ratios(runs, tint):
    figure, axes = plt.subplots(figsize=(6, 3.6))
    axes.set_facecolor(tint)
    solvers = list(dict.fromkeys(run["solver"] for run in runs))
    data = [[float(run["ratio"]) for run in runs if run["solver"] == s and run["ratio"] != "NA"] for s in solvers]
    for k, values in enumerate(data):
        if values:
            axes.boxplot(values, positions=[k + 1], widths=0.5)
            axes.scatter([k + 1] * len(values), values, s=12, alpha=0.6)
    axes.set_xticks(range(1, len(solvers) + 1), solvers)
    axes.set_ylabel("ratio to the optimum")
    axes.grid(alpha=0.3)
    return svg_of(figure)


def instance_reduction(instances_dir, name):
    """(DELTA, the whole model's variables) of a reduced instance, from its .qubo
    file's comment lines; None for the whole model."""
    settings = {}
    with open(os.path.join(instances_dir, name, "model.qubo")) as f:
        for line in f:
            if not line.startswith("c "):
                break
            key, _, value = line[2:].rstrip("\n").partition(": ")
            settings[key] = value
    if "reduce" not in settings or " of " not in settings.get("reduced", ""):
        return None
    return settings["reduce"], settings["reduced"].split(" of ")[1]


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


def arc_diagram(fold, instances_dir, runs_dir, instance, solver, seed, zero_based):
    """rnaqubo-fold's arc diagram of an answer, as inline SVG, or None."""
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
    return svg[svg.index("<svg"):]


def table_html(rows):
    columns = benchmark_summary.SUMMARY_COLUMNS
    head = "".join(f"<th>{html.escape(c)}</th>" for c in columns)
    body = "".join("<tr>" + "".join(f"<td>{html.escape(row[c])}</td>" for c in columns) + "</tr>\n" for row in rows)
    return f'<table id="summary"><thead><tr>{head}</tr></thead><tbody>\n{body}</tbody></table>'


def make_report(runs_path, summary_path, instances_dir, runs_dir, fold, zero_based_solvers):
    """The report's HTML text."""
    runs, summary = read_table(runs_path), read_table(summary_path)
    sizes = {row["instance"]: int(row["variables"]) for row in summary}
    parts = [
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>rnaqubo solver benchmark</title>\n<style>",
        "body { font-family: sans-serif; margin: 1em; } table { border-collapse: collapse; }",
        f"th {{ background: {TINTS['table']}; }} th, td {{ border: 1px solid #999; padding: 2px 6px; }}",
        "td { text-align: right; font-variant-numeric: tabular-nums; } .plots { display: flex; flex-wrap: wrap; }",
        "figure { margin: 0.5em; } svg { max-width: 100%; height: auto; } .arcs svg { max-width: 600px; }",
        "</style></head><body>\n<h1>Solver benchmark</h1>",
        f"<p>{len(runs)} runs, {len(sizes)} instances. p_s: the share of runs reaching the certified optimum; "
        "TTS99 = tau ln(0.01) / ln(1 - p_s); ratios are the answer's value over the optimum.</p>",
        "<h2>Summary</h2>", table_html(summary),
        '<h2>Against the size of the model</h2><div class="plots">',
        f'<figure id="plot-p_s">{plot_against_size(summary, sizes, "p_s", "p_s", TINTS["p_s"], False)}</figure>',
        f'<figure id="plot-tts99">{plot_against_size(summary, sizes, "tts99", "TTS99 (s)", TINTS["tts99"], True)}'
        "<figcaption>Solvers with p_s = 0 (TTS99 inf) have no point.</figcaption></figure>",
        '</div><h2>Ratio to the optimum</h2><div class="plots">',
        f'<figure id="plot-ratio">{plot_ratios(runs, TINTS["ratio"])}</figure></div>',
        "<h2>Best answers</h2>",
    ]
    best = best_answers(runs)
    for instance in dict.fromkeys(row["instance"] for row in summary):
        reduction = instance_reduction(instances_dir, instance)
        size = f"{sizes[instance]} variables" + (f", the model of {reduction[1]} reduced at {reduction[0]}"
                                                 if reduction else "")
        parts.append(f"<h3>{html.escape(instance)} ({html.escape(size)})</h3><div class=\"plots\">")
        for solver in dict.fromkeys(row["solver"] for row in summary):
            seed = best.get((instance, solver))
            svg = seed and arc_diagram(fold, instances_dir, runs_dir, instance, solver, seed,
                                       solver in zero_based_solvers)
            caption = f"{html.escape(solver)}, seed {seed}" if svg else f"{html.escape(solver)}: no answer"
            parts.append(f'<figure class="arcs">{svg or ""}<figcaption>{caption}</figcaption></figure>')
        parts.append("</div>")
    parts.append("</body></html>\n")
    return "\n".join(parts)


if __name__ == "__main__":
    if len(sys.argv) < 7:
        sys.exit("usage: benchmark_report.py RUNS_TSV SUMMARY_TSV INSTANCES_DIR RUNS_DIR RNAQUBO_FOLD REPORT_HTML "
                 "[ZERO_BASED_SOLVER...]")
    runs_path, summary_path, instances_dir, runs_dir, fold, report = sys.argv[1:7]
    try:
        text = make_report(runs_path, summary_path, instances_dir, runs_dir, fold, set(sys.argv[7:]))
        temporary = f"{report}.{os.getpid()}.tmp"
        with open(temporary, "w") as f:
            f.write(text)
        os.replace(temporary, report)
    except (OSError, ValueError) as failure:
        sys.exit(f"benchmark_report.py: {failure}")
