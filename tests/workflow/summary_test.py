"""The benchmark's summariser on small made-up run tables, against figures
worked out by hand: p_s 0, 1 and between, P(gap < 1%), TTS99, timeouts,
failures, answers with conflicts, an answer above an uncertified target and an
optimum of 0; its statistics (Clopper-Pearson, TTS99 clipping, the bootstrap)
and its reading of CBC's and glpsol's statements, on hand-worked cases.

usage: summary_test.py WORKFLOW_SCRIPTS_DIR
"""
import csv
import math
import os
import subprocess
import sys
import tempfile

try:
    import numpy  # noqa: F401
    import scipy  # noqa: F401
except ImportError:
    print("SKIP: the statistics need numpy and scipy")
    sys.exit(77)
sys.path.insert(0, sys.argv[1])
import benchmark_statistics  # noqa: E402
import benchmark_summary  # noqa: E402

H = "\t".join(benchmark_summary.RUN_COLUMNS) + "\n"
# The last four columns: compute_seconds, proven, bound, above_target.
RUNS = H + """\
i1\t40\tmixed\t1\t1.0\tok\t200\t200\t1.0000\tyes\tyes\t0.8000\tNA\tNA\tNA\tno
i1\t40\tmixed\t2\t3.0\tok\t199\t200\t0.9950\tyes\tyes\t0.6000\tNA\tNA\tNA\tno
i1\t40\tmixed\t3\t2.0\tok\t190\t200\t0.9500\tyes\tyes\t0.4000\tNA\tNA\tNA\tno
i1\t40\tmixed\t4\t10.0\ttimeout\tNA\t200\tNA\tyes\tNA\tNA\tNA\tNA\tNA\tNA
i1\t40\tnever\t1\t5.0\ttimeout\tNA\t200\tNA\tyes\tNA\tNA\tNA\tNA\tNA\tNA
i1\t40\tnever\t2\t1.0\tfailed\tNA\t200\tNA\tyes\tNA\tNA\tNA\tNA\tNA\tNA
i1\t40\talways\t1\t0.5\tok\t200\t200\t1.0000\tyes\tyes\tNA\t0.1\tNA\tNA\tno
i1\t40\talways\t2\t0.7\tok\t200\t200\t1.0000\tyes\tyes\tNA\t0.3\tNA\tNA\tno
i1\t40\talways\t3\t0.6\tok\t200\t200\t1.0000\tyes\tyes\tNA\t0.2\tNA\tNA\tno
i1\t40\tmilp\t1\t9.0\tok\t198\t200\t0.9900\tyes\tyes\tNA\tNA\tno\t205\tno
weak\t12\tmixed\t1\t1.0\tok\t60\t50\t1.2000\tno\tno\t0.2000\tNA\tNA\tNA\tyes
weak\t12\tmixed\t2\t3.0\tok\t50\t50\t1.0000\tno\tyes\t0.4000\tNA\tNA\tNA\tno
empty\t1\tmixed\t1\t0.25\tok\t0\t0\tNA\tyes\tyes\t1.0000\tNA\tNA\tNA\tno
"""
# By hand. i1/mixed: 1 of 4 at the optimum, 2 of 4 within 1% (199 is 0.5%
# below), 3 of 4 conflict-free; ratios 1, 0.995, 0.95 (mean 0.98167); tau the
# median of 1, 2, 3, 10 = 2.5; TTS99 = 2.5 ln 0.01 / ln 0.75 = 40.0196.
# i1/never: nothing answered: tau (5 + 1) / 2, TTS99 inf. i1/always: p_s 1, so
# TTS99 is tau, here on its stated compute times: 0.2. i1/milp (deterministic,
# one run, stopped at its limit): 1% below, so no time to the target or
# within 1% (a 1% gap is not below 1%), 9 s within 5%. weak/mixed: 60 is above
# the uncertified (feasible) optimum, which counts as reaching it, so p_s 1
# and TTS99 tau = 2. empty/mixed: the optimum 0 reached exactly, no ratio.
EXPECTED = """\
instance\tvariables\tsolver\truns\tconflict_free\tp_s\tp_gap1\tbest_ratio\tmean_ratio\ttau\ttts99\tmean_f1\
\tcertified\ttarget\tdeterministic\ttime_basis\tttt_opt\tttt_gap1\tttt_gap5\tgap_mean\tgap_median\tbest_gap\tabove_target\tproven
i1\t40\tmixed\t4\t0.7500\t0.2500\t0.5000\t1.0000\t0.9817\t2.5000\t40.0196\t0.6000\
\tyes\toptimum\tno\twall\t40.0196\t16.6096\t16.6096\t0.0183\t0.0050\t0.0000\t0.0000\tNA
i1\t40\tnever\t2\t0.0000\t0.0000\t0.0000\tNA\tNA\t3.0000\tinf\tNA\
\tyes\toptimum\tno\twall\tinf\tinf\tinf\tNA\tNA\tNA\t0.0000\tNA
i1\t40\talways\t3\t1.0000\t1.0000\t1.0000\t1.0000\t1.0000\t0.2000\t0.2000\tNA\
\tyes\toptimum\tno\tcompute\t0.2000\t0.2000\t0.2000\t0.0000\t0.0000\t0.0000\t0.0000\tNA
i1\t40\tmilp\t1\t1.0000\t0.0000\t0.0000\t0.9900\t0.9900\t9.0000\tinf\tNA\
\tyes\toptimum\tyes\twall\tinf\tinf\t9.0000\t0.0100\t0.0100\t0.0100\t0.0000\tno
weak\t12\tmixed\t2\t0.5000\t1.0000\t1.0000\t1.2000\t1.1000\t2.0000\t2.0000\t0.3000\
\tno\tfeasible optimum\tno\twall\t2.0000\t2.0000\t2.0000\t-0.1000\t-0.1000\t-0.2000\t0.5000\tNA
empty\t1\tmixed\t1\t1.0000\t1.0000\t1.0000\tNA\tNA\t0.2500\t0.2500\t1.0000\
\tyes\toptimum\tno\twall\t0.2500\t0.2500\t0.2500\t0.0000\t0.0000\t0.0000\t0.0000\tNA
"""
CHECKED = EXPECTED.splitlines()[0].split("\t")

failures = 0
with tempfile.TemporaryDirectory() as work:
    runs, summary = os.path.join(work, "runs.tsv"), os.path.join(work, "summary.tsv")
    with open(runs, "w") as f:
        f.write(RUNS)
    script = os.path.join(sys.argv[1], "benchmark_summary.py")
    result = subprocess.run([sys.executable, script, runs, summary, "milp"], capture_output=True, text=True)
    got = ""
    if os.path.exists(summary):
        with open(summary) as f:
            rows = list(csv.DictReader(f, delimiter="\t"))
        got = "".join("\t".join(row[c] for c in columns) + "\n" for columns in [CHECKED] for row in
                      [dict(zip(CHECKED, CHECKED))] + rows)
        # The deterministic solver's one run states its bound; the others' many runs have none.
        if [row["bound"] for row in rows] != ["NA", "NA", "NA", "205", "NA", "NA"]:
            failures += 1
            print("FAIL: bounds", [row["bound"] for row in rows])
    if result.returncode != 0 or got != EXPECTED:
        failures += 1
        print("FAIL: summary differs (status %d, %s)\n%s" % (result.returncode, result.stderr, got))
    # A table with other columns, or none at all, is refused and writes nothing.
    # So is one whose runs of a solver on an instance disagree on its size.
    mixed = H + "i1\t40\tmixed\t1\t1.0\tok\t200\t200\t1.0000\tyes\tyes\tNA\n" \
        "i1\t41\tmixed\t2\t1.0\tok\t200\t200\t1.0000\tyes\tyes\tNA\n"
    for name, text in (("columns", "instance\tsolver\n"), ("empty", H), ("sizes", mixed)):
        with open(runs, "w") as f:
            f.write(text)
        os.remove(summary) if os.path.exists(summary) else None
        result = subprocess.run([sys.executable, script, runs, summary], capture_output=True, text=True)
        if result.returncode == 0 or os.path.exists(summary) or "runs.tsv" not in result.stderr:
            failures += 1
            print("FAIL: %s table: status %d, %r" % (name, result.returncode, result.stderr))
# The statistics on hand-worked cases: (name, got, expected), within 1e-4.
stats = benchmark_statistics
n10 = 0.025 ** 0.1  # 0 of 10: the upper end 1 - 0.025^(1/10); 10 of 10: the lower end 0.025^(1/10)
one_low, one_high = stats.clopper_pearson(1, 100)
# At the 1/100 interval's ends the binomial tails are 2.5%: P(X >= 1) at low, P(X <= 1) at high.
CASES = [
    ("CP 0/10", stats.clopper_pearson(0, 10), (0.0, 1 - n10)),
    ("CP 10/10", stats.clopper_pearson(10, 10), (n10, 1.0)),
    ("CP 1/100 low end", one_low, 1 - 0.975 ** 0.01),
    ("CP 1/100 high end's tail", (1 - one_high) ** 100 + 100 * one_high * (1 - one_high) ** 99, 0.025),
    ("CP 1/100 high end", one_high, 0.0545),
    ("TTS99 p_s 1", stats.tts99(3.0, 1.0), 3.0),
    ("TTS99 p_s 0.995 clipped to tau", stats.tts99(3.0, 0.995), 3.0),
    ("TTS99 p_s 0.99", stats.tts99(3.0, 0.99), 3.0),
    ("TTS99 p_s 0.5", stats.tts99(1.0, 0.5), math.log(0.01) / math.log(0.5)),
    ("TTS99 p_s 0", stats.tts99(3.0, 0.0), math.inf),
    # 0 of 10 at tau 1: from the TTS99 at p_s's upper end to inf.
    ("bootstrap 0/10", stats.tts99_interval([1.0] * 10, [False] * 10), (math.log(0.01) / math.log(n10), math.inf)),
    ("bootstrap 10/10", stats.tts99_interval([2.0] * 10, [True] * 10), (2.0, 2.0)),
    ("gaps", tuple(stats.gap_figures([0.0, 0.1, 0.2, -0.1]).values()), (0.05, 0.05, 0.17, -0.1)),
]
for name, got, expected in CASES:
    got, expected = (got, expected) if isinstance(got, tuple) else ((got,), (expected,))
    if not all(g == e or abs(g - e) < 1e-4 for g, e in zip(got, expected)):
        failures += 1
        print(f"FAIL: {name}: {got}, expected {expected}")
# 50 of 100 at tau 1: the resampled share is about 0.5 +- 0.1 (two standard
# errors), so the interval is about TTS99 at 0.6 and at 0.4 (5.03 and 9.01),
# and the same on every call.
half = stats.tts99_interval([1.0] * 100, [k % 2 == 0 for k in range(100)])
if not (4.5 < half[0] < 5.6 and 8.2 < half[1] < 10.0) or half != stats.tts99_interval([1.0] * 100, [k % 2 == 0 for k in range(100)]):
    failures += 1
    print(f"FAIL: the bootstrap interval at 50/100: {half}")
# The solvers' own statements of how they ended.
STATEMENTS = [
    ("Result - Optimal solution found\n\nObjective value:                -650.00000000\n", ("yes", "NA")),
    ("Result - Stopped on time limit\nObjective value: -628\nLower bound: -702.5\nGap: 0.11\n", ("no", "702.5")),
    ("+   310: mip =   6.280000000e+02 <=   6.900000000e+02   9.9% (12; 0)\nTIME LIMIT EXCEEDED; SEARCH TERMINATED\n",
     ("no", "690")),
    ("+   612: >>>>>   6.500000000e+02 <=   6.500000000e+02   0.0% (9; 3)\n"
     "+   612: mip =   6.500000000e+02 <=     tree is empty   0.0% (0; 31)\nINTEGER OPTIMAL SOLUTION FOUND\n",
     ("yes", "650")),
    ("value: 650\n", ("NA", "NA")),
]
for text, expected in STATEMENTS:
    if benchmark_summary.solver_proof(text) != expected:
        failures += 1
        print(f"FAIL: {text!r}: {benchmark_summary.solver_proof(text)}, expected {expected}")
print("%d failures" % failures)
sys.exit(1 if failures else 0)
