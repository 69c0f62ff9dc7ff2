"""The benchmark's summariser on small made-up run tables, against figures
worked out by hand: p_s 0, 1 and between, P(gap < 1%), TTS99, timeouts,
failures, answers with conflicts and an optimum of 0.

usage: summary_test.py WORKFLOW_SCRIPTS_DIR
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, sys.argv[1])
import benchmark_summary  # noqa: E402

H = "instance\tvariables\tsolver\tseed\tseconds\tstatus\tvalue\toptimum\tratio\tcertified\tconflict_free\tf1\n"
RUNS = H + """\
i1\t40\tmixed\t1\t1.0\tok\t200\t200\t1.0000\tyes\tyes\t0.8000
i1\t40\tmixed\t2\t3.0\tok\t199\t200\t0.9950\tyes\tyes\t0.6000
i1\t40\tmixed\t3\t2.0\tok\t190\t200\t0.9500\tyes\tyes\t0.4000
i1\t40\tmixed\t4\t10.0\ttimeout\tNA\t200\tNA\tyes\tNA\tNA
i1\t40\tnever\t1\t5.0\ttimeout\tNA\t200\tNA\tyes\tNA\tNA
i1\t40\tnever\t2\t1.0\tfailed\tNA\t200\tNA\tyes\tNA\tNA
i1\t40\talways\t1\t0.5\tok\t200\t200\t1.0000\tyes\tyes\tNA
i1\t40\talways\t2\t0.7\tok\t200\t200\t1.0000\tyes\tyes\tNA
i1\t40\talways\t3\t0.6\tok\t200\t200\t1.0000\tyes\tyes\tNA
weak\t12\tmixed\t1\t1.0\tok\t60\t50\t1.2000\tno\tno\t0.2000
weak\t12\tmixed\t2\t3.0\tok\t50\t50\t1.0000\tno\tyes\t0.4000
empty\t1\tmixed\t1\t0.25\tok\t0\t0\tNA\tyes\tyes\t1.0000
"""
# By hand. i1/mixed: 1 of 4 at the optimum, 2 of 4 within 1% (199 is 0.5%
# below), 3 of 4 conflict-free; ratios 1, 0.995, 0.95 (mean 0.98167); tau the
# median of 1, 2, 3, 10 = 2.5; TTS99 = 2.5 ln 0.01 / ln 0.75 = 40.0196.
# i1/never: nothing answered: tau (5 + 1) / 2, TTS99 inf. i1/always: p_s 1, so
# TTS99 is tau, 0.6. weak/mixed: 60 is above the optimum but holds conflicts,
# so only the 50 counts: p_s 1/2, TTS99 = 2 ln 0.01 / ln 0.5 = 13.2877.
# empty/mixed: the optimum 0 reached exactly, no ratio.
EXPECTED = """\
instance\tvariables\tsolver\truns\tconflict_free\tp_s\tp_gap1\tbest_ratio\tmean_ratio\ttau\ttts99\tmean_f1
i1\t40\tmixed\t4\t0.7500\t0.2500\t0.5000\t1.0000\t0.9817\t2.5000\t40.0196\t0.6000
i1\t40\tnever\t2\t0.0000\t0.0000\t0.0000\tNA\tNA\t3.0000\tinf\tNA
i1\t40\talways\t3\t1.0000\t1.0000\t1.0000\t1.0000\t1.0000\t0.6000\t0.6000\tNA
weak\t12\tmixed\t2\t0.5000\t0.5000\t0.5000\t1.2000\t1.1000\t2.0000\t13.2877\t0.3000
empty\t1\tmixed\t1\t1.0000\t1.0000\t1.0000\tNA\tNA\t0.2500\t0.2500\t1.0000
"""

failures = 0
with tempfile.TemporaryDirectory() as work:
    runs, summary = os.path.join(work, "runs.tsv"), os.path.join(work, "summary.tsv")
    with open(runs, "w") as f:
        f.write(RUNS)
    script = os.path.join(sys.argv[1], "benchmark_summary.py")
    result = subprocess.run([sys.executable, script, runs, summary], capture_output=True, text=True)
    got = open(summary).read() if os.path.exists(summary) else ""
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
# The time to solution at the edges, directly.
if benchmark_summary.tts99(3.0, 1.0) != 3.0 or benchmark_summary.tts99(3.0, 0.0) != float("inf"):
    failures += 1
    print("FAIL: tts99 at p_s 1 or 0")
print("%d failures" % failures)
sys.exit(1 if failures else 0)
