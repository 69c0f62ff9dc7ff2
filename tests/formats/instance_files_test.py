"""Instance files against the model they were written from, on random models.

1. For 120 random models, every random selection's value computed from the LP
   (linear terms plus the bracketed quadratic terms over 2), from the MILP (each
   y at its best under its bounds; a certified penalty's selections with a
   conflict must break a constraint, and only those) and from the .qubo file
   (negated) equals model.value(); rnaqubo-fold --instance decodes the same
   value from each file alone, and the files it writes are the module's.
   Each model is also reduced at a random DELTA: the reduced files give every
   random selection of reduced variables the model's value of its originals,
   and rnaqubo-fold --instance reports a reduced answer in the original numbering,
   and in the instance's own.
2. For 36 random models with certified penalties, CBC's proven optimum of the
   MILP (cliques and pairwise forms alternately) equals the recursion's optimum,
   and CBC's answer, decoded through the instance, has that value; so does
   CBC's optimum of the MILP of the model reduced at a random DELTA.

usage: instance_files_test.py RNAQUBO_FOLD CBC_SCRIPT   (PYTHONPATH holds the module)
"""
import os
import random
import re
import subprocess
import sys
import tempfile

import rnaqubo

fold, cbc_script = sys.argv[1], sys.argv[2]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def parse_lp_terms(lines):
    """{name: coefficient} of ' + v name' / ' - v name' lines."""
    terms = {}
    for line in lines:
        sign, value, name = line.split(None, 2)
        terms[name] = (1 if sign == "+" else -1) * int(value)
    return terms


def sections(text):
    """The lines of an LP file's sections, comments dropped."""
    body = [line for line in text.split("\n") if line and not line.startswith("\\")]
    marks = {name: body.index(name) for name in ("Maximize", "Subject To", "Binary", "End") if name in body}
    return body, marks


def lp_value(text, chosen):
    body, marks = sections(text)
    objective = body[marks["Maximize"] + 2:marks["Binary"]]
    linear = [line for line in objective if "*" not in line and line not in (" + [", " ] / 2")]
    quadratic = [line for line in objective if "*" in line]
    total = sum(v for name, v in parse_lp_terms(linear).items() if int(name[1:]) in chosen)
    doubled = 0
    for name, v in parse_lp_terms(quadratic).items():
        left, right = (int(part.strip()[1:]) for part in name.split("*"))
        doubled += v if left in chosen and right in chosen else 0
    assert doubled % 2 == 0
    return total + doubled // 2


def milp_value(text, chosen):
    """The objective with every y at its best, or None when a constraint fails.
    Each y stands for x<l> x<m>: a positive one has y <= x<l> and y <= x<m>, a
    negative one y >= x<l> + x<m> - 1 (and y >= 0), so its best is the product;
    every constraint is then checked at that point."""
    body, marks = sections(text)
    objective = parse_lp_terms(body[marks["Maximize"] + 2:marks.get("Subject To", marks["Binary"])])

    def at(name):
        if name == "unused":   # the one variable of a MILP without variables, always 0
            return 0
        if name.startswith("x"):
            return 1 if int(name[1:]) in chosen else 0
        l, m = map(int, name[1:].split("_"))
        return 1 if l in chosen and m in chosen else 0

    bounds = {}
    feasible = True
    for line in body[marks["Subject To"] + 1:marks["Binary"]] if "Subject To" in marks else []:
        words = line.split()
        sense, limit, terms = words[-2], int(words[-1]), [(1, words[0])]
        terms += [(1 if sign == "+" else -1, name) for sign, name in zip(words[1:-2:2], words[2:-2:2])]
        total = sum(sign * at(name) for sign, name in terms)
        feasible &= total <= limit if sense == "<=" else total >= limit
        if words[0].startswith("y") and len(terms) <= 3:   # a y's own bound: y - x <= 0 or y - x - x >= -1
            bounds.setdefault(words[0], set()).add(sense)
    for name, v in objective.items():
        assert name.startswith("x") or name == "unused" or bounds.get(name) == ({"<="} if v > 0 else {">="}), name
    return sum(v * at(name) for name, v in objective.items()) if feasible else None


def qubo_value(text, chosen):
    lines = [line for line in text.split("\n") if line and not line.startswith("c ")]
    assert lines[0].startswith("p qubo 0 ")
    total = 0
    for line in lines[1:]:
        i, j, v = map(int, line.split())
        total += v if i + 1 in chosen and j + 1 in chosen else 0
    return -total


def decode_quads(path, chosen, zero_based):
    """(value, quads, instance quads) rnaqubo-fold --instance reports for the
    answer chosen, or with chosen None for its optimum."""
    flags = []
    if chosen is not None:
        answer = path + ".answer"
        with open(answer, "w") as f:
            f.write(" ".join(str(v - zero_based) for v in sorted(chosen)) + "\n")
        flags = ["--solution", answer] + (["--zero-based"] if zero_based else [])
    out = subprocess.run([fold, "--instance", path] + flags, capture_output=True, text=True)
    if out.returncode != 0:
        return "status %d: %s" % (out.returncode, out.stderr)
    value = re.search(r"^value: (-?\d+) " if chosen is not None else r"^\S* \((-?\d+)\)$", out.stdout, re.M)
    return (int(value.group(1)), [int(q) for q in re.search(r"^quads:(.*)$", out.stdout, re.M).group(1).split()],
            [int(q) for q in re.search(r"^instance quads:(.*)$", out.stdout, re.M).group(1).split()])


def decode_value(path, chosen, zero_based):
    """The value rnaqubo-fold --instance reports for the answer chosen."""
    decoded = decode_quads(path, chosen, zero_based)
    if isinstance(decoded, str):
        return decoded
    # The instance's numbering is the answer's own.
    return decoded[0] if decoded[2] == sorted(chosen) else "instance quads %s" % decoded[2]


def write_instances(owner, prefix):
    """The LP, MILP, pairwise MILP and .qubo files of a Model or Reduced at
    prefix.<kind>: ({kind: path}, {kind: text})."""
    files = {kind: "%s.%s" % (prefix, kind) for kind in ("lp", "milp", "pairwise", "qubo")}
    owner.write_lp(files["lp"])
    owner.write_milp(files["milp"])
    owner.write_milp(files["pairwise"], pairwise=True)
    owner.write_qubo(files["qubo"])
    return files, {kind: open(path).read() for kind, path in files.items()}


rng = random.Random(18)
with tempfile.TemporaryDirectory() as work:
    # 1. Values of random selections in every file.
    for case in range(120):
        letters = "".join(rng.choice("GGCCAU" if case % 2 else "ACGU") for _ in range(rng.randint(6, 26)))
        penalty = rng.choice([-200, -60, -30, -10, -1, 0, 5])
        model = rnaqubo.Model(letters, rng.randint(0, 3), rng.randint(0, 1), penalty)
        files, texts = write_instances(model, os.path.join(work, "m"))
        certified = model.optimum().certified and penalty < 0
        label = "%s %d %d %d" % (letters, model.min_distance, model.add_quads, penalty)
        for trial in range(12):
            density = rng.choice([0.1, 0.3, 0.6, 1.0]) if trial else 0.0
            chosen = {v for v in range(1, model.quad_count + 1) if rng.random() < density}
            if trial == 1:
                chosen = set(model.optimum().quads)
            value = model.value(sorted(chosen))
            conflicted = bool(model.decode(sorted(chosen)).conflicts)
            check(lp_value(texts["lp"], chosen) == value, "lp value: %s %s" % (label, sorted(chosen)))
            check(qubo_value(texts["qubo"], chosen) == value, "qubo value: %s %s" % (label, sorted(chosen)))
            for kind in ("milp", "pairwise"):
                got = milp_value(texts[kind], chosen)
                expected = None if certified and conflicted else value
                check(got == expected, "%s value %s, expected %s: %s %s" % (kind, got, expected, label, sorted(chosen)))
            if trial < 2:
                for kind in ("lp", "milp", "qubo"):
                    got = decode_value(files[kind], chosen, 1 if kind == "qubo" else 0)
                    check(got == value, "--instance %s: %s, expected %d: %s" % (kind, got, value, label))
        # The model reduced at a random DELTA: values of random reduced
        # selections are those of their originals, answers decode to them.
        delta = rng.choice([0, 10, 50, "5%", "20%"])
        reduced = model.reduce(delta)
        original = reduced.original_variables.tolist()
        reduced_files, reduced_texts = write_instances(reduced, os.path.join(work, "r"))
        check("c reduced: %d of %d\n" % (len(original), model.quad_count) in reduced_texts["qubo"],
              "reduced header: %s %s" % (label, delta))
        for trial in range(6):
            density = rng.choice([0.1, 0.3, 0.6, 1.0]) if trial else 0.0
            chosen = {k for k in range(1, len(original) + 1) if rng.random() < density}
            originals = sorted(original[k - 1] for k in chosen)
            value = model.value(originals)
            conflicted = bool(model.decode(originals).conflicts)
            check(lp_value(reduced_texts["lp"], chosen) == value, "reduced lp: %s %s %s" % (label, delta, chosen))
            check(qubo_value(reduced_texts["qubo"], chosen) == value, "reduced qubo: %s %s %s" % (label, delta, chosen))
            for kind in ("milp", "pairwise"):
                got = milp_value(reduced_texts[kind], chosen)
                expected = None if certified and conflicted else value
                check(got == expected, "reduced %s %s, expected %s: %s %s" % (kind, got, expected, label, delta))
            if trial < 2:
                for kind in ("milp", "qubo"):
                    got = decode_quads(reduced_files[kind], chosen, 1 if kind == "qubo" else 0)
                    expected = (value, originals, sorted(chosen))
                    check(got == expected, "reduced --instance %s: %s, expected %s: %s %s"
                          % (kind, got, expected, label, delta))
        # Its optimum, in both numberings: what an exact solver of the file answers.
        best = model.optimum()
        expected = (best.value, sorted(best.quads), sorted(original.index(v) + 1 for v in best.quads))
        got = decode_quads(reduced_files["qubo"], None, 0)
        check(got == expected, "reduced --instance optimum: %s, expected %s: %s %s" % (got, expected, label, delta))
        # rnaqubo-fold writes what the module writes, but for the name and input lines.
        with open(os.path.join(work, "seq.txt"), "w") as f:
            f.write("%d\n%s\n" % (len(letters), " ".join(letters)))
        tool = {kind: os.path.join(work, "tool.%s" % kind) for kind in ("lp", "milp", "qubo")}
        out = subprocess.run([fold, "seq.txt", str(len(letters)), str(model.min_distance), str(model.add_quads),
                              str(penalty), "--write-lp", tool["lp"], "--write-milp", tool["milp"],
                              "--write-qubo", tool["qubo"]], cwd=work, capture_output=True)
        check(out.returncode == 0, "rnaqubo-fold --write-*: %s: %s" % (label, out.stderr))
        for kind in tool:
            strip = lambda text: re.sub(r"^(\\|c) (name|input): .*\n", "", text, flags=re.M)
            check(strip(open(tool[kind]).read()) == strip(texts[kind]), "rnaqubo-fold --write-%s: %s" % (kind, label))

    # 2. CBC's proven optimum against the recursion's.
    solved = 0
    for case in range(36):
        letters = "".join(rng.choice("GGGCCCAUU") for _ in range(rng.randint(12, 34)))
        model = rnaqubo.Model(letters, rng.randint(0, 3), rng.randint(0, 1), -200)
        best = model.optimum()
        check(best.certified, "not certified: %s" % letters)
        milp = os.path.join(work, "c%d.milp" % case)
        model.write_milp(milp, pairwise=case % 2 == 1)
        answer = os.path.join(work, "c%d.answer" % case)
        out = subprocess.run(["bash", cbc_script, milp, "60", answer], capture_output=True, text=True)
        first = out.stdout.strip()
        if out.returncode != 0 or not first.startswith("Optimal - objective value"):
            check(False, "cbc: %s: %s %s" % (letters, first, out.stderr))
            continue
        proven = float(first.split()[-1])
        check(abs(proven - best.value) < 1e-6, "cbc %s, recursion %d: %s" % (proven, best.value, letters))
        check(decode_value(milp, set(map(int, open(answer).read().split())), 0) == best.value,
              "cbc's answer decodes to another value: %s" % letters)
        solved += 1
        # The reduced model keeps every optimal selection, and a penalty
        # certified for the whole model is certified for the sub-model.
        reduced_milp = os.path.join(work, "c%d.reduced.milp" % case)
        model.reduce(rng.choice([0, 20, "10%"])).write_milp(reduced_milp, pairwise=case % 2 == 0)
        check("because the penalty -200 <= " in open(reduced_milp).read(), "reduced milp not certified: %s" % letters)
        out = subprocess.run(["bash", cbc_script, reduced_milp, "60", answer], capture_output=True, text=True)
        first = out.stdout.strip()
        check(out.returncode == 0 and first.startswith("Optimal - objective value")
              and abs(float(first.split()[-1]) - best.value) < 1e-6,
              "cbc on the reduced milp: %s, recursion %d: %s" % (first, best.value, letters))
        if out.returncode == 0:
            check(decode_value(reduced_milp, set(map(int, open(answer).read().split())), 0) == best.value,
                  "cbc's reduced answer decodes to another value: %s" % letters)
    check(solved >= 30, "cbc proved only %d of 36 models" % solved)

for failure in failures[:20]:
    print("FAIL:", failure)
print("%d failures" % len(failures))
sys.exit(1 if failures else 0)
