"""Every kind of MILP the tools write, read and solved by GLPK and by CBC: the
one without variables, one variable without rows, a zero penalty without
links, reduced ones, the certified forms (per position and pairwise) and the
uncertified one. Both solvers reach the same objective; GLPK's answer,
decoded by rnaqubo-fold --instance, has that value; for a certified penalty it
is rnaqubo-fold's optimum, otherwise at least that (conflicts may pay).

usage: milp_readers_test.py RNAQUBO_FOLD   (PYTHONPATH holds the module, if built)
"""
import os
import re
import subprocess
import sys
import tempfile

fold = os.path.abspath(sys.argv[1])
try:
    import rnaqubo
except ImportError:
    rnaqubo = None
failures = []

# letters, min_distance, add_quads, penalty, extra options of --write-milp
CASES = [
    ("AAAA", 0, 1, -200, []),
    ("AAAA", 0, 1, 0, []),
    ("GGCC", 0, 1, -200, []),
    ("GGCC", 0, 1, 0, []),
    ("GGCC", 0, 1, -200, ["--reduce", "0"]),
    ("GGAAACCAAAAGGAAACC", 3, 0, 0, []),
    ("GGGGCCCC", 0, 1, -200, []),
    ("GGGGCCCC", 0, 1, -200, ["--reduce", "0"]),
    ("GGGGCCCC", 0, 1, -10, []),
    ("GGGAAACCCAGGGAAACCCUUUGGGAAACCC", 3, 1, -200, []),
    ("GGGAAACCCAGGGAAACCCUUUGGGAAACCC", 3, 1, -50, ["--reduce", "40"]),
]


def run(args, cwd):
    done = subprocess.run(args, cwd=cwd, capture_output=True, text=True)
    if done.returncode != 0:
        failures.append("%s: status %d: %s" % (" ".join(args), done.returncode, done.stderr.strip()))
    return done.stdout


def glpk(path, work):
    """GLPK's objective and the x<k> it sets to 1."""
    out = os.path.join(work, "glpk.txt")   # a file of ours: glpsol removes its -o file first
    log = run(["glpsol", "--lp", path, "-o", out], work)
    if not os.path.exists(out):
        failures.append("glpsol wrote no solution for %s: %s" % (path, log[-300:]))
        return None, []
    text = open(out).read()
    os.remove(out)
    objective = re.search(r"^Objective:\s+\S+ = (\S+)", text, re.M)
    chosen = [m.group(1) for m in re.finditer(r"^\s*\d+ x(\d+)\s+\*?\s+(1)\s", text, re.M)]
    return (float(objective.group(1)) if objective else None), chosen


def cbc(path, work):
    out, named = os.path.join(work, "cbc.txt"), os.path.join(work, "model.lp")   # CBC reads by extension
    if os.path.lexists(named):
        os.remove(named)
    os.symlink(path, named)
    run(["cbc", named, "solve", "solu", out], work)
    first = open(out).readline() if os.path.exists(out) else ""
    found = re.match(r"Optimal - objective value (\S+)", first)
    return float(found.group(1)) if found else None


def check_file(label, path, optimum, certified, work):
    value, chosen = glpk(path, work)
    cbc_value = cbc(path, work)
    answer = os.path.join(work, "answer.txt")
    with open(answer, "w") as f:
        f.write(" ".join(chosen) + "\n")
    decoded = re.search(r"^value: (-?\d+) ", run([fold, "--instance", path, "--solution", answer], work), re.M)
    decoded = int(decoded.group(1)) if decoded else None
    if value is None or cbc_value is None or decoded is None or not value == cbc_value == decoded:
        failures.append("%s: glpk %s, cbc %s, glpk's answer decoded %s" % (label, value, cbc_value, decoded))
    elif (value != optimum) if certified else (value < optimum):
        failures.append("%s: the solvers' optimum %s, rnaqubo-fold's %d" % (label, value, optimum))


with tempfile.TemporaryDirectory() as work:
    for letters, distance, add, penalty, extra in CASES:
        with open(os.path.join(work, "s.txt"), "w") as f:
            f.write("%d\n%s\n" % (len(letters), " ".join(letters)))
        model = ["s.txt", str(len(letters)), str(distance), str(add), str(penalty)]
        label = " ".join([letters] + model[1:] + extra)
        report = run([fold, *model, *extra, "--write-milp", "m.milp"], work).split("\n")
        optimum = int(re.search(r"\((-?\d+)\)$", report[1]).group(1))
        certified = report[3].startswith("certified: yes") and penalty < 0
        check_file(label, os.path.join(work, "m.milp"), optimum, certified, work)
        if rnaqubo is not None and not extra:
            pairwise = os.path.join(work, "pairwise.milp")
            rnaqubo.Model(letters, distance, add, penalty).write_milp(pairwise, pairwise=True)
            check_file(label + " (pairwise)", pairwise, optimum, certified, work)

for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
