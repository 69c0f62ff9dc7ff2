"""The benchmark's table of runs summarised per instance and solver.

A run is a row of runs.tsv: instance, variables (the instance's, of the
reduced model for a reduced instance), solver, seed, seconds, status, value,
optimum, ratio, certified, conflict_free, f1. status is "ok" when the solver
gave an answer (decoded by rnaqubo-fold), "timeout" when it was ended at the
time limit, "failed" when it exited with an error or wrote no answer; value,
ratio, conflict_free and f1 are "NA" without an answer, f1 also without a
reference.

Per instance and solver (summary.tsv), after the instance and its variables:
  runs             the number of runs
  conflict_free    the share of runs whose answer has no conflicting couple
  p_s              the share of runs that reached the optimum: a conflict-free
                   answer whose value is the optimum's
  p_gap1           the share of runs with a conflict-free answer within 1% of
                   the optimum: (optimum - value) < 0.01 |optimum|, or value =
                   optimum when it is 0
  best_ratio, mean_ratio   over the runs with an answer (NA when none)
  tau              the median wall time of a run, in seconds, over every run
                   (a run ended at the limit counts with the time it ran)
  tts99            tau ln(0.01) / ln(1 - p_s): the time to reach the optimum
                   with 99% confidence; tau when p_s = 1, inf when p_s = 0
  mean_f1          over the runs with an answer and a reference (NA when none)

usage: benchmark_summary.py RUNS_TSV SUMMARY_TSV
"""
import csv
import math
import os
import statistics
import sys

RUN_COLUMNS = ["instance", "variables", "solver", "seed", "seconds", "status", "value", "optimum", "ratio", "certified",
               "conflict_free", "f1"]
SUMMARY_COLUMNS = ["instance", "variables", "solver", "runs", "conflict_free", "p_s", "p_gap1", "best_ratio", "mean_ratio",
                   "tau", "tts99", "mean_f1"]


def instance_variables(qubo_path):
    """The number of variables recorded in an instance's .qubo file (of the
    reduced model for a reduced instance)."""
    with open(qubo_path) as f:
        for line in f:
            if line.startswith("c variables: "):
                return int(line.split()[2])
            if not line.startswith("c "):
                break
    raise ValueError(f"{qubo_path}: no variables line")


def reached(run, within):
    """Whether a run's answer is conflict-free and within the share `within` of the optimum."""
    if run["status"] != "ok" or run["conflict_free"] != "yes":
        return False
    value, optimum = int(run["value"]), int(run["optimum"])
    if optimum == 0:
        return value == 0
    gap = optimum - value
    return gap <= 0 if within == 0 else gap < within * abs(optimum)


def tts99(tau, p_s):
    """The time to solution with 99% confidence."""
    if p_s >= 1:
        return tau
    if p_s <= 0:
        return math.inf
    return tau * math.log(0.01) / math.log(1 - p_s)


def number(value):
    """4 decimals, 'inf', or 'NA' for None."""
    if value is None:
        return "NA"
    if math.isinf(value):
        return "inf"
    return f"{value:.4f}"


def summarise(runs):
    """The summary rows (dicts of strings) of run rows, by instance then solver in first-seen order."""
    groups = {}
    for run in runs:
        groups.setdefault((run["instance"], run["solver"]), []).append(run)
    rows = []
    for (instance, solver), group in groups.items():
        count = len(group)
        answered = [run for run in group if run["status"] == "ok"]
        ratios = [float(run["ratio"]) for run in answered if run["ratio"] != "NA"]
        f1s = [float(run["f1"]) for run in answered if run["f1"] != "NA"]
        p_s = sum(reached(run, 0) for run in group) / count
        tau = statistics.median(float(run["seconds"]) for run in group)
        sizes = {run["variables"] for run in group}
        if len(sizes) != 1:
            raise ValueError(f"instance {instance}: runs of {solver} on models of {' and '.join(sorted(sizes))} variables")
        rows.append({
            "instance": instance, "variables": sizes.pop(), "solver": solver, "runs": str(count),
            "conflict_free": number(sum(run["conflict_free"] == "yes" for run in group) / count),
            "p_s": number(p_s),
            "p_gap1": number(sum(reached(run, 0.01) for run in group) / count),
            "best_ratio": number(max(ratios) if ratios else None),
            "mean_ratio": number(statistics.fmean(ratios) if ratios else None),
            "tau": number(tau), "tts99": number(tts99(tau, p_s)),
            "mean_f1": number(statistics.fmean(f1s) if f1s else None),
        })
    return rows


def read_runs(path):
    with open(path, newline="") as f:
        reader = csv.DictReader(f, delimiter="\t")
        if reader.fieldnames != RUN_COLUMNS:
            raise ValueError(f"{path}: columns {reader.fieldnames}, expected {RUN_COLUMNS}")
        runs = list(reader)
    if not runs:
        raise ValueError(f"{path}: no runs")
    return runs


def write_table(path, columns, rows):
    """Writes a TSV table atomically: complete under its name, or not at all."""
    temporary = f"{path}.{os.getpid()}.tmp"
    try:
        with open(temporary, "w", newline="") as f:
            writer = csv.DictWriter(f, columns, delimiter="\t", lineterminator="\n")
            writer.writeheader()
            writer.writerows(rows)
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.remove(temporary)
        raise


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: benchmark_summary.py RUNS_TSV SUMMARY_TSV")
    try:
        runs = read_runs(sys.argv[1])
        try:
            rows = summarise(runs)
        except ValueError as failure:
            raise ValueError(f"{sys.argv[1]}: {failure}") from None
        write_table(sys.argv[2], SUMMARY_COLUMNS, rows)
    except (OSError, ValueError) as failure:
        sys.exit(f"benchmark_summary.py: {failure}")
