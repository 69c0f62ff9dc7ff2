"""rnaqubo-anneal anneals the entries of the .qubo it is given: random QUBOs
from outside (whole and fractional values, couples either way round, comments
among the entries) reach their optimum by enumeration, by plain annealing with
restarts and by replica exchange, and the printed value is the written answer's
objective; an rnaqubo instance whose entries were replaced is annealed over the
new entries (zeroed: the empty answer); the answer is the same on 1, 2 and 3
threads; malformed files are refused with their line and reason.

usage: entries_test.py RNAQUBO_FOLD RNAQUBO_ANNEAL
"""
import itertools
import os
import random
import re
import subprocess
import sys
import tempfile

fold, anneal = sys.argv[1], sys.argv[2]
failures = []
rng = random.Random(11)
SECONDS = re.compile(r"seconds: setup \d+\.\d{6} anneal \d+\.\d{6} output \d+\.\d{6}")


def run(*args):
    return subprocess.run([anneal, *map(str, args)], capture_output=True, text=True)


def outcome(result, answer):
    """(value printed, restart lines, header, chosen numbers), None for a failed or misshapen run."""
    lines = result.stdout.split("\n")
    if result.returncode != 0 or len(lines) < 3 or lines[-1] or not SECONDS.fullmatch(lines[-2]) \
            or not lines[-3].startswith("value: "):
        return None
    header, numbers = open(answer).read().split("\n")[:2]
    return float(lines[-3][7:]), lines[:-3], header, [int(w) for w in numbers.split()]


def objective(entries, nodes):
    chosen = set(nodes)
    return sum(v for i, j, v in entries if i in chosen and j in chosen)


def minimum(n, entries):
    return min(objective(entries, [k for k in range(n) if bits[k]]) for bits in itertools.product((0, 1), repeat=n))


def random_entries(n, whole):
    """Every node's entry and about half the couples, each couple once, either way round."""
    value = (lambda: rng.randint(-9, 9)) if whole else (lambda: round(rng.uniform(-9, 9), 3))
    entries = [(k, k, value()) for k in range(n)]
    for i, j in itertools.combinations(range(n), 2):
        if rng.random() < 0.5:
            entries.append((i, j, value()) if rng.random() < 0.5 else (j, i, value()))
    return entries


def qubo_text(n, entries, comments=""):
    nodes = sum(i == j for i, j, _ in entries)
    lines = [f"{i} {j} {v}" for i, j, v in entries]
    lines.insert(len(lines) // 2, "c a comment among the entries")
    return f"{comments}p qubo 0 {n} {nodes} {len(entries) - nodes}\n" + "\n".join(lines) + "\n"


with tempfile.TemporaryDirectory() as work:
    qubo, answer = os.path.join(work, "x.qubo"), os.path.join(work, "answer.txt")
    # Foreign QUBOs, minimised: plain annealing with restarts and replica exchange.
    for n, whole, options in [(6, True, ["--restarts", 4]), (10, True, ["--restarts", 8]), (13, False, ["--restarts", 8]),
                              (6, False, ["--replicas", 6]), (10, True, ["--replicas", 8]), (13, True, ["--replicas", 8]),
                              (13, False, ["--replicas", 12])]:
        for seed in (1, 2, 3):
            entries = random_entries(n, whole)
            open(qubo, "w").write(qubo_text(n, entries))
            got = outcome(run("--sweeps", 400, "--seed", seed, "--hot", 20, "--cold", 0.05, *options, qubo, answer), answer)
            label = f"n {n} whole {whole} {options} seed {seed}"
            best = minimum(n, [(min(i, j), max(i, j), v) for i, j, v in entries])
            if got is None or got[2] != "# numbering: zero-based":
                failures.append(f"{label}: no answer")
            elif abs(got[0] - objective(entries, got[3])) > 1e-9 or abs(got[0] - best) > 1e-9:
                failures.append(f"{label}: printed {got[0]}, the answer's objective {objective(entries, got[3])}, "
                                f"the optimum {best}")
    # An rnaqubo instance whose entries were replaced anneals the new entries:
    # its value is the model's sign, minus the objective of the negated entries.
    letters = "GGGAAACCCAGGGAAACCC"
    model, sequence = os.path.join(work, "m.qubo"), os.path.join(work, "m.txt")
    open(sequence, "w").write(f"{len(letters)}\n" + "\n".join(letters) + "\n")
    subprocess.run([fold, sequence, str(len(letters)), "3", "1", "-200", "--write-qubo", model],
                   capture_output=True, check=True)
    text = open(model).read()
    comments = "".join(line + "\n" for line in text.split("\n") if line.startswith("c "))
    n = int(re.search(r"^c variables: (\d+)$", text, re.M).group(1))
    original = outcome(run("--sweeps", 300, model, answer), answer)
    if not 2 <= n <= 16 or original is None or not original[3] or original[2] != "# numbering: one-based":
        failures.append(f"the model of {letters}: {n} variables, answer {original}")
    else:
        zero = re.sub(r"^(\d+ \d+) -?\d+$", r"\1 0", text, flags=re.M)
        open(qubo, "w").write(zero)
        if outcome(run("--sweeps", 300, qubo, answer), answer)[::3] != (0, []):
            failures.append("zeroed entries: not the empty answer of value 0")
        for seed in (1, 2, 3):
            entries = random_entries(n, True)
            open(qubo, "w").write(qubo_text(n, entries, comments))
            got = outcome(run("--sweeps", 400, "--seed", seed, "--hot", 20, "--cold", 0.05, "--restarts", 8,
                              qubo, answer), answer)
            best = minimum(n, [(min(i, j), max(i, j), v) for i, j, v in entries])
            if got is None or got[0] != -best or got[3] != [k + 1 for k in range(n) if k + 1 in got[3]] or \
                    objective(entries, [k - 1 for k in got[3]]) != best:
                failures.append(f"replaced entries, seed {seed}: {got}, the optimum {-best}")
    # The same answers and restart values whatever the thread count.
    for options in (["--restarts", 5], ["--restarts", 3, "--replicas", 4]):
        seen = set()
        for threads in (1, 2, 3):
            got = outcome(run("--sweeps", 200, "--seed", 9, "--threads", threads, *options, model, answer), answer)
            seen.add(repr(got))
        if len(seen) != 1 or "None" in seen:
            failures.append(f"{options} on 1, 2 and 3 threads: {seen}")
    # Malformed files: the file, the line and the reason.
    for body, message in [
            ("c nothing\n", "qubo file: no problem line"),
            ("0 0 1\np qubo 0 1 1 0\n", "qubo file: line 1: an entry before the problem line"),
            ("p qubo 0 2 2 0\n0 0 1\np qubo 0 2 2 0\n", "qubo file: line 3: a second problem line"),
            ("p qubo 0 2 1 0\n0 0 x\n", 'qubo file: line 2: value: not a finite number: "x"'),
            ("p qubo 0 2 1 0\n0 0 nan\n", 'qubo file: line 2: value: not a finite number: "nan"'),
            ("p qubo 0 2 1 0\n2 2 1\n", 'qubo file: line 2: node "2" is not from 0 to maxNodes - 1 = 1'),
            ("p qubo 0 2 1 0\n0 1\n", 'qubo file: line 2: expected "i j value"'),
            ("p qubo 0 2 0 2\n0 1 1\nc\n1 0 2\n", "qubo file: line 4: the couple 0 1 is given twice"),
            ("p qubo 0 2 2 0\n0 0 1\n", "qubo file: 1 node lines and 0 coupler lines, but the problem line says 2 and 0"),
            ("p qubo 0 2 3 0\n", "qubo file: line 1: nNodes 3 is above maxNodes 2")]:
        open(qubo, "w").write(body)
        result = run(qubo, answer)
        if result.returncode != 1 or not result.stderr.startswith(f"rnaqubo-anneal: {qubo}: {message}"):
            failures.append(f"{body!r}: status {result.returncode}, {result.stderr!r}")
for failure in failures[:20]:
    print("FAIL:", failure)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
