"""The benchmark's table of runs summarised per instance and solver.

A run is a row of runs.tsv: instance, variables (the instance's, of the
reduced model for a reduced instance), solver, seed, seconds (its wall time),
status, value, optimum, ratio, certified, conflict_free, f1, compute_seconds,
proven, bound, above_target. status is "ok" when the solver gave an answer
(decoded by rnaqubo-fold), "timeout" when it was ended at the time limit,
"failed" when it exited with an error or wrote no answer; value, ratio,
conflict_free and f1 are "NA" without an answer, f1 also without a reference.
optimum is the target: rnaqubo-fold's optimum, the optimum of the QUBO where
certified is "yes", else the best conflict-free (feasible) selection's value,
which a QUBO answer with conflicts may exceed (above_target "yes").
compute_seconds is the solver's own statement of its compute time ("NA"
without one); proven and bound are a MILP solver's statement that it proved
its answer optimal ("yes") or stopped at a limit ("no"), and its best bound
("NA" where it says nothing).

Per instance and solver (summary.tsv), after the instance and its variables:
  runs             the number of runs
  conflict_free    the share of runs whose answer has no conflicting couple
  p_s              the share of runs that reached the target: a conflict-free
                   answer of the target's value, or an answer above it
  p_gap1           the share of runs that reached it within 1%: a
                   conflict-free answer whose gap (target - value) / |target|
                   is below 0.01 (|target| taken as 1 at 0), or one above it
  best_ratio, mean_ratio   over the runs with an answer (NA when none)
  tau              the median time of a run, in seconds, on the time basis
  tts99            tau ln(0.01) / ln(1 - p_s): the time to reach the target
                   with 99% confidence; tau at p_s >= 0.99, inf at p_s = 0; for a
                   deterministic solver its run's time, or inf if it missed
  mean_f1          over the runs with an answer and a reference (NA when none)
  certified        whether the target is the certified optimum ("yes")
  target           "optimum", or "feasible optimum" where it is not certified
  deterministic    "yes" for a solver that runs once
  p_s_low, p_s_high      the Clopper-Pearson 95% interval of p_s (NA for a
                   deterministic solver, whose one run is not a sample)
  tts99_low, tts99_high  the bootstrap 95% interval of TTS99 (NA for a
                   deterministic solver); at p_s = 0 its low end is the TTS99 at
                   p_s_high, its high end inf
  time_basis       "compute" where every run stated its compute time, which tau
                   and the times to target then use, else "wall"
  ttt_opt, ttt_gap1, ttt_gap5   the time to target (as tts99) at the target,
                   within 1% and within 5% of it
  gap_mean, gap_median, gap_q90, best_gap   the residual gap over the answers
                   (negative above the target)
  above_target     the share of runs whose answer's value is above the target
  proven           the runs' proven status ("some" where they differ)
  bound            the best bound its one run stated (NA for several runs)

usage: benchmark_summary.py RUNS_TSV SUMMARY_TSV [DETERMINISTIC_SOLVER...]
"""
import csv
import math
import os
import re
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchmark_statistics  # noqa: E402

RUN_COLUMNS = ["instance", "variables", "solver", "seed", "seconds", "status", "value", "optimum", "ratio", "certified",
               "conflict_free", "f1", "compute_seconds", "proven", "bound", "above_target"]
SUMMARY_COLUMNS = ["instance", "variables", "solver", "runs", "conflict_free", "p_s", "p_gap1", "best_ratio", "mean_ratio",
                   "tau", "tts99", "mean_f1", "certified", "target", "deterministic", "p_s_low", "p_s_high",
                   "tts99_low", "tts99_high", "time_basis", "ttt_opt", "ttt_gap1", "ttt_gap5", "gap_mean",
                   "gap_median", "gap_q90", "best_gap", "above_target", "proven", "bound"]
GAPS = (("ttt_opt", 0), ("ttt_gap1", 0.01), ("ttt_gap5", 0.05))

# What CBC and GLPK (glpsol) print when they end: whether they proved their
# answer optimal or stopped at a limit, and their best bound.
PROOF_STATEMENTS = [
    (re.compile(r"^Result - Optimal solution found", re.M), "yes"),
    (re.compile(r"^Result - (Stopped on|Finished)", re.M), "no"),
    (re.compile(r"^INTEGER OPTIMAL SOLUTION FOUND", re.M), "yes"),
    (re.compile(r"^(TIME LIMIT EXCEEDED|SEARCH TERMINATED BY APPLICATION)", re.M), "no"),
]
BOUND_STATEMENTS = [
    re.compile(r"^(?:Lower|Upper) bound:\s+(\S+)", re.M),  # CBC's summary
    re.compile(r"^\+\s*\d+: (?:mip =|>>>>>)\s+\S+\s+[<>]=\s+(\S+)", re.M),  # glpsol's progress lines
]


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


def solver_proof(text):
    """(proven, bound) from a solver's output: "yes" where it states it proved
    its answer optimal, "no" where it states it stopped at a limit, "NA" where it
    says neither; its last best bound as printed (its sign as the solver's
    objective has it), "NA" without one. The last statement counts."""
    found, proven = -1, "NA"
    for pattern, meaning in PROOF_STATEMENTS:
        for match in pattern.finditer(text):
            if match.start() > found:
                found, proven = match.start(), meaning
    bound, at = "NA", -1
    for pattern in BOUND_STATEMENTS:
        for match in pattern.finditer(text):
            if match.start() > at:
                try:
                    bound, at = f"{abs(float(match.group(1))):g}", match.start()
                except ValueError:
                    pass
    return proven, bound


def gap(run):
    """The answer's relative gap to the target, (target - value) / |target|
    (|target| taken as 1 at 0): negative above it; None without an answer."""
    if run["status"] != "ok" or run["value"] == "NA":
        return None
    value, target = int(run["value"]), int(run["optimum"])
    return (target - value) / max(abs(target), 1)


def reached(run, within):
    """Whether a run reached the target within the share `within`: a
    conflict-free answer less than that below it (at it, for 0), or an answer
    whose value is above it, which only an uncertified target allows."""
    share = gap(run)
    if share is None:
        return False
    if share < 0:
        return True
    if run["conflict_free"] != "yes":
        return False
    return share <= 0 if within == 0 else share < within


def tts99(tau, p_s):
    """The time to solution with 99% confidence (benchmark_statistics.tts99)."""
    return benchmark_statistics.tts99(tau, p_s)


def number(value):
    """4 decimals, 'inf', or 'NA' for None."""
    if value is None:
        return "NA"
    if math.isinf(value):
        return "inf"
    return f"{value:.4f}"


def run_time(run, basis):
    return float(run["compute_seconds"] if basis == "compute" else run["seconds"])


def summarise(runs, deterministic=()):
    """The summary rows (dicts of strings) of run rows, by instance then solver
    in first-seen order; the solvers named in `deterministic` ran once, and
    their times to target are their run's time, without an interval."""
    groups = {}
    for run in runs:
        groups.setdefault((run["instance"], run["solver"]), []).append(run)
    rows = []
    for (instance, solver), group in groups.items():
        count = len(group)
        answered = [run for run in group if run["status"] == "ok"]
        ratios = [float(run["ratio"]) for run in answered if run["ratio"] != "NA"]
        f1s = [float(run["f1"]) for run in answered if run["f1"] != "NA"]
        gaps = [share for share in map(gap, group) if share is not None]
        sizes = {run["variables"] for run in group}
        if len(sizes) != 1:
            raise ValueError(f"instance {instance}: runs of {solver} on models of {' and '.join(sorted(sizes))} variables")
        certified = {run["certified"] for run in group}
        # A solver's own compute time where every run gave one, else the wall time.
        basis = "compute" if all(run["compute_seconds"] != "NA" for run in group) else "wall"
        times = [run_time(run, basis) for run in group]
        tau = statistics.median(times)
        hits = [reached(run, 0) for run in group]
        successes = sum(hits)
        p_s = successes / count
        p_low, p_high = benchmark_statistics.clopper_pearson(successes, count)
        single = solver in deterministic
        if single:
            # Its one run's time where it reached the target, else never.
            tts, tts_low, tts_high = (tau if p_s == 1 else math.inf), None, None
            ttt = {name: (tau if all(reached(run, within) for run in group) else math.inf) for name, within in GAPS}
        else:
            tts = tts99(tau, p_s)
            tts_low, tts_high = benchmark_statistics.tts99_interval(times, hits)
            ttt = {name: tts99(tau, sum(reached(run, within) for run in group) / count) for name, within in GAPS}
        figures = benchmark_statistics.gap_figures(gaps)
        proofs = {run["proven"] for run in group}
        rows.append({
            "instance": instance, "variables": sizes.pop(), "solver": solver, "runs": str(count),
            "conflict_free": number(sum(run["conflict_free"] == "yes" for run in group) / count),
            "p_s": number(p_s),
            "p_gap1": number(sum(reached(run, 0.01) for run in group) / count),
            "best_ratio": number(max(ratios) if ratios else None),
            "mean_ratio": number(statistics.fmean(ratios) if ratios else None),
            "tau": number(tau), "tts99": number(tts),
            "mean_f1": number(statistics.fmean(f1s) if f1s else None),
            "certified": certified.pop() if len(certified) == 1 else "NA",
            "target": "optimum" if all(run["certified"] == "yes" for run in group) else "feasible optimum",
            "deterministic": "yes" if single else "no",
            "p_s_low": "NA" if single else number(p_low), "p_s_high": "NA" if single else number(p_high),
            "tts99_low": number(tts_low), "tts99_high": number(tts_high), "time_basis": basis,
            **{name: number(value) for name, value in ttt.items()},
            "gap_mean": number(figures["mean"]), "gap_median": number(figures["median"]),
            "gap_q90": number(figures["q90"]), "best_gap": number(figures["best"]),
            "above_target": number(sum(gap(run) is not None and gap(run) < 0 for run in group) / count),
            "proven": proofs.pop() if len(proofs) == 1 else "some",
            # A solver's best bound where it ran once and stated one.
            "bound": group[0]["bound"] if count == 1 else "NA",
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
    if len(sys.argv) < 3:
        sys.exit("usage: benchmark_summary.py RUNS_TSV SUMMARY_TSV [DETERMINISTIC_SOLVER...]")
    try:
        runs = read_runs(sys.argv[1])
        try:
            rows = summarise(runs, set(sys.argv[3:]))
        except ValueError as failure:
            raise ValueError(f"{sys.argv[1]}: {failure}") from None
        write_table(sys.argv[2], SUMMARY_COLUMNS, rows)
    except (OSError, ValueError) as failure:
        sys.exit(f"benchmark_summary.py: {failure}")
