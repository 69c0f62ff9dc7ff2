"""The compiled annealer on random models: the value it reports is the model's
value of the selection it returns (the best seen is tracked right), the same
seed gives the same answer and another seed may not, a schedule given sweep by
sweep equals the (hot, cold) one it spells out, rnaqubo-anneal writes the
module's answer under the header "# numbering: one-based" (which rnaqubo-fold
decodes as written, and refuses with --zero-based), answers a reduced instance
in its own numbering, and on small models it reaches the recursion's optimum.

usage: anneal_test.py RNAQUBO_FOLD RNAQUBO_ANNEAL   (PYTHONPATH holds the module)
"""
import os
import random
import re
import subprocess
import sys
import tempfile

import numpy as np
import rnaqubo

fold, anneal = sys.argv[1], sys.argv[2]
HEADER = "# numbering: one-based"


def printed_value(stdout):
    """The value rnaqubo-anneal printed, None unless its output is "value: <v>" then the seconds line."""
    lines = stdout.split("\n")
    timed = len(lines) == 3 and lines[2] == "" and re.fullmatch(
        r"seconds: setup \d+\.\d{6} anneal \d+\.\d{6} output \d+\.\d{6}", lines[1])
    return int(lines[0][len("value: "):]) if timed and lines[0].startswith("value: ") else None


def read_answer(path):
    """The variables of an answer rnaqubo-anneal wrote, None without its header."""
    lines = open(path).read().split("\n", 1)
    return list(map(int, lines[1].split())) if lines[0] == HEADER and len(lines) == 2 else None

failures = []
rng = random.Random(7)
reached = reduced_reached = 0
with tempfile.TemporaryDirectory() as work:
    for case in range(60):
        letters = "".join(rng.choice("GGCCAU") for _ in range(rng.randint(8, 40)))
        model = rnaqubo.Model(letters, rng.randint(0, 3), rng.randint(0, 1), rng.choice([-200, -20, 0]))
        sweeps, seed = rng.choice([1, 5, 300]), rng.randrange(2**64)
        answer = rnaqubo.anneal(model, sweeps, seed)
        label = f"{letters} {model.min_distance} {model.add_quads} {model.penalty} sweeps {sweeps} seed {seed}"
        if answer.value != model.value(answer.quads) or answer.value < 0:
            failures.append(f"reported {answer.value}, the model says {model.value(answer.quads)}: {label}")
        if rnaqubo.anneal(model, sweeps, seed) != answer:
            failures.append(f"the same seed gave another answer: {label}")
        spelled = np.geomspace(200, 2, sweeps) if sweeps > 1 else [200.0]
        if sweeps != 2 and rnaqubo.anneal(model, sweeps, seed, list(spelled)).value != answer.value:
            failures.append(f"the spelled-out schedule differs: {label}")
        if model.penalty == -200 and model.quad_count:
            best = rnaqubo.anneal(model, 2000, seed)
            reached += best.value == model.optimum().value
        if case < 10:
            instance = os.path.join(work, "m.qubo")
            model.write_qubo(instance)
            out = os.path.join(work, "answer.txt")
            result = subprocess.run([anneal, "--sweeps", str(sweeps), "--seed", str(seed), instance, out],
                                    capture_output=True, text=True)
            written = read_answer(out) if result.returncode == 0 else None
            if written != answer.quads or printed_value(result.stdout) != answer.value:
                failures.append(f"rnaqubo-anneal wrote {written} ({result.stdout!r}), the module {answer.quads}: {label}")
            # The instance's own reader takes the answer as written; --zero-based contradicts its header.
            decoded = subprocess.run([fold, "--instance", instance, "--solution", out], capture_output=True, text=True)
            quads = " ".join(map(str, answer.quads))
            if decoded.returncode != 0 or f"\nquads:{' ' if quads else ''}{quads}\n" not in decoded.stdout:
                failures.append(f"rnaqubo-fold decoded {decoded.stdout!r} {decoded.stderr!r}: {label}")
            zero = subprocess.run([fold, "--instance", instance, "--solution", out, "--zero-based"],
                                  capture_output=True, text=True)
            refusal = f'{out}: line 1 says "{HEADER}", but the answer is read zero-based (--zero-based)\n'
            if zero.returncode != 1 or not zero.stderr.endswith(refusal):
                failures.append(f"--zero-based on the annealer's answer: {zero.returncode} {zero.stderr!r}: {label}")
            # The model reduced at a DELTA, annealed over its own variables: the
            # answer is in the reduced numbering and worth its originals' value.
            delta = rng.choice([0, 10, "10%"])
            reduced = model.reduce(delta)
            reduced.write_qubo(instance)
            result = subprocess.run([anneal, "--sweeps", "300", "--seed", str(seed), instance, out],
                                    capture_output=True, text=True)
            written = (read_answer(out) or []) if result.returncode == 0 else []
            original = reduced.original_variables.tolist()
            value = model.value([original[k - 1] for k in written]) if all(
                1 <= k <= len(original) for k in written) else None
            if result.returncode != 0 or printed_value(result.stdout) != value:
                failures.append(f"reduced at {delta}: rnaqubo-anneal wrote {written} ({result.stdout!r}, "
                                f"{result.stderr!r}), worth {value}: {label}")
            # The module anneals the reduced model as the command does.
            ours = rnaqubo.anneal(reduced, 300, seed)
            if (ours.value, ours.quads) != (value, sorted(original[k - 1] for k in written)):
                failures.append(f"reduced at {delta}: the module's {ours.value} {ours.quads}, the command's {value}: {label}")
            reduced_reached += value == model.optimum().value
    if reached < 15:
        failures.append(f"2000 sweeps reached the optimum of only {reached} small certified models")
    if reduced_reached < 5:
        failures.append(f"300 sweeps reached the optimum of only {reduced_reached} of 10 reduced models")
    # Bad arguments are refused with a message naming them.
    for arguments, message in ((["--sweeps", "-1", "a", "b"], "--sweeps"), (["--hot", "0", "a", "b"], "--hot"),
                               (["nothing.qubo", "b"], "nothing.qubo: cannot read")):
        result = subprocess.run([anneal] + arguments, capture_output=True, text=True, cwd=work)
        if result.returncode != 2 or message not in result.stderr:
            failures.append(f"rnaqubo-anneal {arguments}: status {result.returncode}, {result.stderr!r}")
for failure in failures[:20]:
    print("FAIL:", failure)
print(f"{len(failures)} failures; optimum reached on {reached} models")
sys.exit(1 if failures else 0)
