"""rnaqubo-fold --json against its own text report, run by run: every figure of
the JSON object must be the one the text of the same run prints (the text
parsed here), over the bundled examples (with and without the reference, with
--solution, --encode, --instance and the landscape options) and random small
models; where the Python module rnaqubo can be imported, its figures of the
same model too. Also --json - (the object alone on standard output), a JSON
file that cannot be written, and the refusals of shared outputs.

    json_report_test.py RNAQUBO_FOLD EXAMPLES_DIR [--module]

--module: the Python module must be importable (PYTHONPATH) and is compared.
"""
import json
import os
import random
import re
import subprocess
import sys
import tempfile

FOLD, EXAMPLES = sys.argv[1], sys.argv[2]
USE_MODULE = "--module" in sys.argv[3:]
if USE_MODULE:
    import rnaqubo
failures = []


def fail(label, message):
    failures.append(f"{label}: {message}")


def run(arguments, **extra):
    return subprocess.run([FOLD] + arguments, capture_output=True, text=True, **extra)


def pair_list(words):
    return [[int(i), int(j)] for i, j in (word.split("-") for word in words)]


def parse_text(text):
    """The text report as the JSON object holds it (floats as printed)."""
    lines = text.split("\n")
    assert lines[-1] == "", "the report does not end with a line end"
    lines = lines[:-1]
    report = {"sequence": lines[0]}
    found = re.fullmatch(r"(\S+) \((-?\d+)\)", lines[1])
    conflicted = re.fullmatch(r"not a secondary structure: (\d+) conflicting couples \((-?\d+)\)", lines[1])
    if found:
        report["structure"], report["value"] = found.group(1), int(found.group(2))
    else:
        report["structure"], report["value"] = None, int(conflicted.group(2))
        report["text_conflicts"] = int(conflicted.group(1))
    assert lines[2].startswith("quads:")
    report["quads"] = [int(v) for v in lines[2][len("quads:"):].split()]
    reference, listed = {}, 0
    for line in lines[3:]:
        key, _, rest = line.partition(": ")
        if "\t" in line:
            listed += 1
        elif line.startswith("instance quads: none: "):
            report["instance_quads"] = None
            report["quads_not_in_instance"] = [int(w) for w in re.findall(r"\d+", line[len("instance quads: "):])]
        elif line.startswith("instance quads:"):
            report["instance_quads"] = [int(v) for v in line[len("instance quads:"):].split()]
        elif key == "certified":
            found = re.fullmatch(r"(yes|no) \(penalty (-?\d+) (<=|>) (-?\d+)\).*", rest)
            report["certified"] = found.group(1) == "yes"
            report["bound"] = -int(found.group(4))
        elif key == "value":
            found = re.fullmatch(r"(-?\d+) optimum: (-?\d+) ratio: (\S+)", rest)
            report["value_assessed"], report["optimum"] = int(found.group(1)), int(found.group(2))
            report["ratio"] = None if found.group(3) == "-" else found.group(3)
        elif key == "conflicts":
            report["conflicts"] = int(rest)
            report["conflicting_couples"] = []
        elif key == "conflict":
            report["conflicting_couples"].append([int(w) for w in rest.split()])
        elif key.startswith("optimum "):
            report.setdefault("against_optimum", {})[key[len("optimum "):].lower()] = rest
        elif key in ("sensitivity", "PPV", "F1"):
            reference[key.lower()] = rest
        elif key == "reference value":
            found = re.fullmatch(r"(-?\d+) ratio: (\S+)", rest)
            reference["value"] = int(found.group(1))
            reference["ratio"] = None if found.group(2) == "-" else found.group(2)
        elif key in ("lone pairs", "non-canonical pairs", "pairs out of range", "pseudoknotted pairs"):
            words = rest.split()
            name = {"lone pairs": "lone", "non-canonical pairs": "non_canonical",
                    "pairs out of range": "out_of_range", "pseudoknotted pairs": "pseudoknotted"}[key]
            report.setdefault("unrepresented", {})[name] = pair_list(words[1:])
            assert int(words[0]) == len(words) - 1
        elif key == "optima":
            found = re.fullmatch(r"(at least )?(\d+)( \(the count stops at 2\^128 - 1\))?", rest)
            report["optima"] = {"count": found.group(2), "saturated": found.group(1) is not None}
        elif key == "subopt":
            found = re.fullmatch(r"(at least )?(\d+) selections within (\S+) of (-?\d+)", rest)
            report["subopt"] = {"delta": found.group(3), "optimum": int(found.group(4)),
                                "count": found.group(2), "exact": found.group(1) is None}
        elif key == "reduced":
            found = re.fullmatch(r"(\d+) of (\d+) variables; every conflict-free selection within (\S+) of (-?\d+) "
                                 r"is kept with its value", rest)
            report["reduced"] = {"delta": found.group(3), "optimum": int(found.group(4)),
                                 "kept": int(found.group(1)), "of": int(found.group(2))}
        elif key == "ensemble":
            temperature, log_z = rest.split()
            report["ensemble"] = {"temperature": temperature, "log_z": float(log_z)}
        else:
            raise AssertionError(f"unknown line {line!r}")
    if reference:
        report["reference"] = reference
    if "subopt" in report or "ensemble" in report:
        report["listed"] = listed
    return report


def four(value):
    return None if value is None else f"{value:.4f}"


def compare(label, text, figures, arguments):
    """Every figure of the text report against the JSON object of the same run."""
    try:
        shown = parse_text(text)
    except (AssertionError, AttributeError, ValueError, IndexError) as problem:
        return fail(label, f"cannot read the text report ({problem!r}):\n{text}")
    checks = [("sequence", figures["sequence"], shown["sequence"]),
              ("structure", figures["structure"], shown["structure"]),
              ("value", figures["value"], shown["value"]),
              ("quads", figures["quads"], shown["quads"]),
              ("model.length", figures["model"]["length"], len(shown["sequence"]))]
    for key in ("instance_quads", "quads_not_in_instance", "certified", "bound", "conflicts", "conflicting_couples",
                "unrepresented", "optima"):
        checks.append((key, figures.get(key), shown.get(key)))
    if "ratio" in shown or "ratio" in figures:
        checks.append(("ratio", four(figures.get("ratio")), shown.get("ratio")))
        checks.append(("optimum", figures["optimum"], shown["optimum"]))
        checks.append(("assessed value", figures["value"], shown["value_assessed"]))
    else:
        checks.append(("optimum", figures["optimum"], shown["value"]))
    if "text_conflicts" in shown:
        checks.append(("conflicts of line 2", figures["conflicts"], shown["text_conflicts"]))
    for key in ("against_optimum", "reference"):
        if key in shown or key in figures:
            mine, theirs = figures.get(key) or {}, shown.get(key) or {}
            for score in ("sensitivity", "ppv", "f1"):
                checks.append((f"{key}.{score}", four(mine.get(score)), theirs.get(score)))
            if key == "reference":
                checks.append(("reference.value", mine.get("value"), theirs.get("value")))
                checks.append(("reference.ratio", four(mine.get("ratio")), theirs.get("ratio")))
    # The selection lines: those --subopt listed, then the samples.
    subopt, ensemble = dict(figures.get("subopt") or {}), dict(figures.get("ensemble") or {})
    if subopt or ensemble:
        checks.append(("selection lines", subopt.pop("listed", 0) + ensemble.pop("samples", 0), shown["listed"]))
    checks += [("subopt", subopt or None, shown.get("subopt")), ("ensemble", ensemble or None, shown.get("ensemble")),
               ("reduced", figures.get("reduced"), shown.get("reduced"))]
    for name, mine, theirs in checks:
        if mine != theirs:
            fail(label, f"{name}: JSON {mine!r}, text {theirs!r}")


def compare_module(label, figures, arguments, selection):
    """The module's figures of the same model (five model arguments only)."""
    if not USE_MODULE or "--instance" in arguments:
        return
    model_figures = figures["model"]
    model = rnaqubo.Model(figures["sequence"], model_figures["min_distance"], bool(model_figures["add_quads"]),
                          model_figures["penalty"])
    checks = [("pairs", model_figures["pairs"], model.pair_count), ("quads", model_figures["quads"], model.quad_count)]
    best = model.optimum()
    checks.append(("optimum", figures["optimum"], best.value))
    if selection is None and "--encode" not in arguments:
        checks += [("certified", figures["certified"], best.certified), ("quads", figures["quads"], list(best.quads)),
                   ("structure", figures["structure"], best.structure)]
    elif selection is not None:
        decoded = model.decode(selection)
        checks += [("value", figures["value"], decoded.value), ("structure", figures["structure"], decoded.structure),
                   ("conflicting couples", figures["conflicting_couples"], [list(c) for c in decoded.conflicts])]
    if "optima" in figures and not figures["optima"]["saturated"]:
        checks.append(("optima", int(figures["optima"]["count"]), model.count_optima()))
    if "subopt" in figures:
        listing = model.subopt(figures["subopt"]["delta"], max_selections=figures["subopt"]["listed"])
        checks += [("subopt.count", int(figures["subopt"]["count"]), listing.total),
                   ("subopt.exact", figures["subopt"]["exact"], listing.exact)]
    if "reduced" in figures:
        checks.append(("reduced.kept", figures["reduced"]["kept"], model.reduce(figures["reduced"]["delta"]).quad_count))
    if "ensemble" in figures:
        checks.append(("log_z", figures["ensemble"]["log_z"],
                       model.ensemble(float(figures["ensemble"]["temperature"])).log_z))
    for name, mine, theirs in checks:
        if mine != theirs:
            fail(label, f"module: {name}: JSON {mine!r}, module {theirs!r}")


def fold_both(label, arguments, work, selection=None):
    """Runs arguments with --json FILE and compares; returns the object."""
    path = os.path.join(work, "report.json")
    if os.path.exists(path):
        os.remove(path)
    result = run(arguments + ["--json", path])
    if result.returncode != 0:
        return fail(label, f"status {result.returncode}: {result.stderr}")
    with open(path) as f:
        figures = json.load(f)
    compare(label, result.stdout, figures, arguments)
    compare_module(label, figures, arguments, selection)
    plain = run(arguments)
    if plain.stdout != result.stdout:
        fail(label, "--json changed the text report")
    return figures


def model_arguments(path, min_distance=4, add_quads=1, penalty=-200):
    with open(path) as f:
        length = f.readline().strip()
    return [path, length, str(min_distance), str(add_quads), str(penalty)]


def write(work, name, text):
    path = os.path.join(work, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def examples(work):
    # The bundled examples only, never what a run left beside them (the Quick
    # start writes its Q file and dot_paren.txt into examples/).
    root = os.path.dirname(os.path.abspath(EXAMPLES))
    listed = subprocess.run(["bash", os.path.join(root, "tests", "tracked_examples.sh"), root, "*.txt"],
                            capture_output=True, text=True, check=True).stdout.split("\n")
    names = sorted(os.path.basename(path) for path in listed if path)
    trna = os.path.join(EXAMPLES, "trna_phe_yeast.txt")
    reference = os.path.join(EXAMPLES, "trna_phe_yeast.dbn")
    for name in names:
        path = os.path.join(EXAMPLES, name)
        for penalty in (-200, -3):
            arguments = model_arguments(path, penalty=penalty)
            figures = fold_both(f"{name} {penalty}", arguments, work)
            small = figures is not None and figures["model"]["quads"] <= 400
            if small:
                # Every landscape figure, and a selection: the optimum's first half with a conflicting quad.
                prefix = os.path.join(work, "reduced")
                landscape = fold_both(f"{name} {penalty} landscape",
                          arguments + ["--subopt", "3%", "--max-selections", "50", "--reduce", "2", "--out", prefix,
                                       "--ensemble", "1.5", "--sample", "4", "--seed", "7"], work)
                quads = figures["quads"]
                chosen = quads[: len(quads) // 2] + ([1, 2] if figures["model"]["quads"] >= 2 else [])
                answer = write(work, "answer.txt", " ".join(map(str, sorted(set(chosen)))) + "\n")
                fold_both(f"{name} {penalty} solution", arguments + ["--solution", answer], work, sorted(set(chosen)))
                # The reduced instance, its optimum and an answer in its numbering.
                fold_both(f"{name} {penalty} instance", ["--instance", prefix + ".qubo"], work)
                if landscape is not None and landscape["reduced"]["kept"] > 0:
                    fold_both(f"{name} {penalty} instance solution",
                              ["--instance", prefix + ".qubo", "--solution", write(work, "one.txt", "1\n")], work)
                if path == trna:
                    # Quads of the reference outside the reduced instance.
                    fold_both(f"{name} {penalty} instance encode", ["--instance", prefix + ".qubo", "--encode",
                                                                     reference], work)
        if path == trna:
            for penalty in (-200, -3):
                arguments = model_arguments(path, penalty=penalty) + ["--reference", reference]
                figures = fold_both(f"{name} {penalty} reference", arguments, work)
                fold_both(f"{name} {penalty} encode", model_arguments(path, penalty=penalty) + ["--encode", reference],
                          work)
                if figures is not None:
                    answer = write(work, "answer.txt", " ".join(map(str, figures["quads"][1:])) + "\n")
                    fold_both(f"{name} {penalty} reference solution", arguments + ["--solution", answer], work,
                              figures["quads"][1:])


def random_models(work, count):
    generator = random.Random(20261210)
    for case in range(count):
        n = generator.randint(1, 26)
        letters = "".join(generator.choice("ACGU") for _ in range(n))
        path = write(work, "random.txt", f"{n}\n" + "\n".join(letters) + "\n")
        arguments = [path, str(n), str(generator.randint(0, 4)), str(generator.randint(0, 1)),
                     str(generator.choice([-300, -200, -20, -5, -1, 0]))]
        label = f"random {case} {letters} {' '.join(arguments[2:])}"
        figures = fold_both(label, arguments + ["--subopt", str(generator.randint(0, 30)), "--reduce", "5",
                                                "--out", os.path.join(work, "random_reduced"), "--ensemble",
                                                str(generator.choice([0.5, 2, 40]))], work)
        if figures is None or figures["model"]["quads"] == 0:
            continue
        chosen = sorted(generator.sample(range(1, figures["model"]["quads"] + 1),
                                         generator.randint(0, min(6, figures["model"]["quads"]))))
        answer = write(work, "answer.txt", " ".join(map(str, chosen)) + "\n")
        structure = write(work, "structure.dbn", figures["structure"] + "\n")
        fold_both(label + " solution", arguments + ["--solution", answer, "--reference", structure], work, chosen)
        fold_both(label + " encode", arguments + ["--encode", structure, "--reference", structure], work)


def outputs(work):
    """--json -, a JSON file that cannot be written, and shared outputs."""
    arguments = model_arguments(os.path.join(EXAMPLES, "trna_phe_yeast.txt"))
    to_file = os.path.join(work, "stdout_check.json")
    run(arguments + ["--ensemble", "3", "--json", to_file])
    alone = run(arguments + ["--ensemble", "3", "--json", "-"])
    with open(to_file) as f:
        if alone.returncode != 0 or json.loads(alone.stdout) != json.load(f):
            fail("--json -", f"standard output is not the object alone: {alone.stdout[:200]!r} {alone.stderr}")
    full = run(arguments + ["--json", "/dev/full"])
    if full.returncode != 2 or "/dev/full: cannot write: No space left on device" not in full.stderr:
        fail("--json /dev/full", f"status {full.returncode}: {full.stderr!r}")
    with open("/dev/full", "w") as out:
        full = subprocess.run([FOLD] + arguments + ["--json", "-"], stdout=out, stderr=subprocess.PIPE, text=True)
    if full.returncode != 2 or "standard output: cannot write" not in full.stderr:
        fail("--json - > /dev/full", f"status {full.returncode}: {full.stderr!r}")
    kept = write(work, "kept.json", "earlier\n")
    refusals = [
        (["--json", kept, "--marginals", kept], "Options --marginals and --json would both write"),
        (["--json", kept, "--svg", os.path.join(work, ".", "kept.json")], "Options --svg and --json would both write"),
        (["--json", os.path.join(work, "r.q"), "--reduce", "0", "--out", os.path.join(work, "r")],
         "Options --json and --out would both write"),
        (["--json", "-", "--subopt", "0"], "Option --json - would share standard output with the selections --subopt"),
        (["--json", "-", "--ensemble", "2", "--sample", "1"], "with the selections --sample"),
        (["--json", "-", "--marginals", "/dev/stdout"], "Options --json - and --marginals would both write standard"),
        (["--json", "/dev/stdout"], "which is standard output"),
        (["--json", arguments[0]], "Input file would be overwritten"),
    ]
    for extra, message in refusals:
        with tempfile.TemporaryFile("w+") as out:
            result = subprocess.run([FOLD] + arguments + extra, stdout=out, stderr=subprocess.PIPE, text=True)
            out.seek(0)
            printed = out.read()
        if result.returncode != 2 or message not in result.stderr or printed:
            fail(" ".join(extra), f"not refused: status {result.returncode}, {result.stderr!r}, {printed[:80]!r}")
    with open(kept) as f:
        if f.read() != "earlier\n":
            fail("refusals", "a refused run changed the earlier file")
    # A subopt count without the listing may share standard output.
    counted = run(arguments + ["--subopt", "1", "--max-selections", "0", "--json", "-"])
    if counted.returncode != 0 or json.loads(counted.stdout)["subopt"]["listed"] != 0:
        fail("--json - --max-selections 0", f"{counted.returncode} {counted.stderr}")
    # The null device takes both.
    with open(os.devnull, "w") as out:
        null = subprocess.run([FOLD] + arguments + ["--json", os.devnull], stdout=out, stderr=subprocess.PIPE)
    if null.returncode != 0:
        fail("--json /dev/null > /dev/null", null.stderr)


with tempfile.TemporaryDirectory() as work:
    examples(work)
    random_models(work, int(os.environ.get("FOLD_JSON_CASES", "60")))
    outputs(work)
for failure in failures[:30]:
    print("FAIL:", failure)
print(f"{len(failures)} failures" if failures else "ok: --json agrees with the text report")
sys.exit(1 if failures else 0)
