#!/usr/bin/env python3
"""Differential test: rnaqubo against rnaqubo_reference.

    differential_test.py RNAQUBO REFERENCE [--quick]

Runs both programs on the same inputs, each in its own empty directory, and
compares the exit status, standard output, standard error, the set of files
left behind and every file byte for byte. The inputs are random sequences drawn
with a fixed seed (lengths 1 to 1000, so that all three pairing windows occur,
several compositions and file layouts, every kind of command-line value), a few
sequences with long unpaired A stretches before helices, and a few bad inputs.

--quick is the shorter mix for slow (sanitizer) builds. The environment can
shrink or change either mix:
    DIFF_CASES        run at most this many cases (the first ones of the plan)
    DIFF_MAX_LENGTH   skip cases longer than this many bases
    DIFF_SEED         draw other random cases (default 20240611)
On a mismatch the case's input and command line are kept under
./differential-failures/<case>/ and the first differing line is shown.
"""

import os
import random
import shutil
import subprocess
import sys
import tempfile

DEFAULT_SEED = 20240611
RUN_TIMEOUT = 600  # seconds for one program on one case
MAX_REPORTED_FAILURES = 3

MIN_DISTANCES = [-3, 0, 3, 4, 10]
PENALTIES = [-200, 0, 7, -2147483648, 2147483647, -1]
ADD_QUADS = [0, 1, 1, 2, -1]

COMPOSITIONS = {
    "uniform": {"A": 1, "C": 1, "G": 1, "U": 1},
    "gc_rich": {"A": 15, "C": 35, "G": 35, "U": 15},
    "gu_rich": {"A": 15, "C": 15, "G": 35, "U": 35},
    "gc_only": {"C": 1, "G": 1},
    "no_pairs": {"A": 1, "C": 1},
}

WORDS = {"A": "Adenine", "C": "cytosine", "G": "GUANINE", "U": "uRaCiL"}
COMPLEMENT = {"A": "U", "C": "G", "G": "C", "U": "A"}


class Case:
    def __init__(self, name, content, args, note=""):
        self.name = name
        self.content = content  # bytes of the input file
        self.args = args        # the five arguments (or fewer/more, for usage cases)
        self.note = note
        self.length = 0
        try:
            self.length = int(args[1])
        except (IndexError, ValueError):
            pass


# ---------------------------------------------------------------- inputs

def draw_sequence(rng, n, composition):
    weights = COMPOSITIONS[composition]
    letters = list(weights)
    return rng.choices(letters, weights=[weights[x] for x in letters], k=n)


def helix(rng, stem, loop):
    """A hairpin: a stem, a loop of A and C, the stem's pairing strand."""
    left = rng.choices("GCAU", weights=[4, 4, 1, 1], k=stem)
    right = []
    for x in reversed(left):
        if x == "G" and rng.random() < 0.15:
            right.append("U")  # a G-U wobble now and then
        else:
            right.append(COMPLEMENT[x])
    return left + rng.choices("AC", k=loop) + right


def render(rng, letters, layout, count=None):
    """The sequence file for letters in one of several layouts."""
    n = len(letters) if count is None else count
    if layout == "lines":
        text = f"{n}\n" + "".join(x + "\n" for x in letters)
    elif layout == "lower_crlf":
        words = [x.lower() if rng.random() < 0.6 else x for x in letters]
        text = f"{n}\r\n" + "".join(w + "\r\n" for w in words)
    elif layout == "one_line":
        seps = [" ", "\t", "  ", " \t "]
        text = f"  {n}" + "".join(rng.choice(seps) + x for x in letters) + "\n"
    elif layout == "long_words":
        words = [WORDS[x] if rng.random() < 0.5 else x + "xyz" * rng.randint(0, 9)
                 for x in letters]
        text = f"{n}\n" + "\n".join(words) + "\n"
    elif layout == "glued_count":
        # The count runs straight into the first word: "12Guanine" is 12, then G.
        text = f"{n}{WORDS[letters[0]]}\n" + "".join(x + "\n" for x in letters[1:])
    elif layout == "trailing_words":
        text = f"{n}\n" + "".join(x + "\n" for x in letters) + "T\nX junk after the bases\n"
    else:
        raise ValueError(layout)
    return text.encode()


def random_args(rng, name, n):
    return [name, str(n), str(rng.choice(MIN_DISTANCES)), str(rng.choice(ADD_QUADS)),
            str(rng.choice(PENALTIES))]


def input_name(rng):
    return rng.choice(["seq.txt", "seq.txt", "seq.txt", "x", "rna.dat",
                       "s" * 140 + ".txt"])


def short_length(rng):
    roll = rng.random()
    if roll < 0.25:
        return rng.randint(1, 12)
    if roll < 0.75:
        return rng.randint(13, 120)
    return rng.randint(121, 300)


def plan_cases(seed, quick):
    rng = random.Random(seed)
    cases = []

    def add_random(n, composition, layout="lines", args=None):
        letters = draw_sequence(rng, n, composition)
        name = input_name(rng)
        case_args = args or random_args(rng, name, n)
        case_args[0] = name
        cases.append(Case(f"{len(cases):03d}_{composition}_{layout}_n{n}",
                          render(rng, letters, layout), case_args))

    # Sequences with long unpaired A stretches before helices: the stacked runs
    # sit at high positions but low quad rows.
    for add_quads in ("1", "0"):
        letters = list("A" * 10 + "GGGGCCCC")
        cases.append(Case(f"{len(cases):03d}_a_run_ten_{add_quads}",
                          render(rng, letters, "lines"),
                          ["seq.txt", str(len(letters)), "0", add_quads, "-200"]))
    for k in range(6):
        letters = []
        for _ in range(rng.randint(1, 4)):
            letters += ["A"] * rng.randint(5, 60)
            letters += helix(rng, rng.randint(3, 14), rng.randint(3, 8))
        if k == 5:
            letters = ["A"] * 300 + letters + draw_sequence(rng, 40, "uniform")
        cases.append(Case(f"{len(cases):03d}_a_runs_n{len(letters)}",
                          render(rng, letters, "lines"),
                          random_args(rng, "seq.txt", len(letters))))
    big = ["A"] * 600 + sum((helix(rng, 10, 4) for _ in range(4)), [])
    big += draw_sequence(rng, 950 - len(big), "uniform")
    cases.append(Case(f"{len(cases):03d}_a_run_large_n{len(big)}",
                      render(rng, big, "lines"),
                      ["seq.txt", str(len(big)), "3", "1", "-200"]))

    # Short random sequences in every composition and layout.
    layouts = ["lines"] * 6 + ["lower_crlf", "one_line", "long_words", "glued_count",
                               "trailing_words"]
    for _ in range(175):
        n = short_length(rng)
        composition = rng.choice(["uniform", "uniform", "gc_rich", "gu_rich"]
                                 + (["gc_only", "no_pairs"] if n <= 60 else []))
        add_random(n, composition, rng.choice(layouts))

    # Long sequences in each pairing window, the window edges included.
    heavy_short = [500, 420, 350] if not quick else [350]
    window_2 = [501, 900] + [rng.randint(502, 620) for _ in range(10)]
    window_3 = [901, 1000] + [rng.randint(902, 999) for _ in range(10)]
    if quick:
        window_2 = [501, rng.randint(502, 560)]
        window_3 = [901, rng.randint(902, 960)]
    for n in heavy_short + window_2 + window_3:
        composition = rng.choice(["uniform", "uniform", "gc_rich"])
        add_random(n, composition, rng.choice(["lines", "lines", "lower_crlf"]))

    # Bad inputs and failed writes: both must stop the same way.
    gggccc = render(rng, list("GGGCCC"), "lines")
    bad = [
        ("bad_base_t", b"5\nG\nG\nT\nC\nC\n", ["seq.txt", "5", "0", "1", "-200"]),
        ("count_mismatch", b"4\nG\nG\nA\nC\n", ["seq.txt", "5", "0", "1", "-200"]),
        ("too_few_words", b"5\nG\nG\nA\nC\n", ["seq.txt", "5", "0", "1", "-200"]),
        ("no_count", b"G G A C C\n", ["seq.txt", "5", "0", "1", "-200"]),
        ("empty_file", b"", ["seq.txt", "5", "0", "1", "-200"]),
        ("length_word", gggccc, ["seq.txt", "abc", "0", "1", "-200"]),
        ("penalty_word", gggccc, ["seq.txt", "6", "0", "1", "xyz"]),
        ("out_of_range", gggccc, ["seq.txt", "6", "0", "1", "-2147483649"]),
        ("missing_file", None, ["absent.txt", "6", "0", "1", "-200"]),
        ("four_arguments", gggccc, ["seq.txt", "6", "0", "1"]),
        # Q is 4 here: the listing's folder Q_nested_4_data is missing.
        ("no_listing_folder", gggccc, ["data/x.txt", "6", "0", "1", "-200"]),
        # The listing's folder exists, the Q file's folder Q_4_data does not.
        ("no_q_folder", gggccc, ["data/x.txt", "6", "0", "1", "-200"]),
    ]
    for name, content, args in bad:
        case = Case(f"{len(cases):03d}_{name}", content, args)
        if name == "no_q_folder":
            case.folders = ["Q_nested_4_data"]
        cases.append(case)
    return cases


# ---------------------------------------------------------------- running

def prepare(case, directory):
    os.makedirs(directory)
    for folder in getattr(case, "folders", []):
        os.makedirs(os.path.join(directory, folder))
    if case.content is not None:
        path = os.path.join(directory, case.args[0])
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(case.content)


def child_environment():
    """The environment of both programs. Their tables live until the process
    ends and are never released, so a leak check at exit (sanitizer builds)
    would report every table; it is off unless ASAN_OPTIONS asks for it."""
    env = dict(os.environ)
    options = env.get("ASAN_OPTIONS", "")
    if "detect_leaks" not in options:
        env["ASAN_OPTIONS"] = (options + ":" if options else "") + "detect_leaks=0"
    return env


def start(binary, case, directory):
    out = open(directory + ".stdout", "wb")
    err = open(directory + ".stderr", "wb")
    process = subprocess.Popen(["rnaqubo"] + case.args, executable=binary, cwd=directory,
                               stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                               env=CHILD_ENV)
    return process, out, err


def finish(started):
    process, out, err = started
    try:
        status = process.wait(timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        status = "timeout"
    out.close()
    err.close()
    return status


def listing(directory):
    entries = []
    for root, dirs, files in os.walk(directory):
        rel = os.path.relpath(root, directory)
        entries += [os.path.normpath(os.path.join(rel, d)) + "/" for d in dirs]
        entries += [os.path.normpath(os.path.join(rel, f)) for f in files]
    return sorted(entries)


def same_bytes(a, b):
    return subprocess.run(["cmp", "-s", a, b]).returncode == 0


def line_at(path, number):
    with open(path, "rb") as f:
        for k, line in enumerate(f, 1):
            if k == number:
                return line
    return b"<end of file>"


def first_difference(a, b):
    """Text naming the first line where files a and b differ, with both lines."""
    result = subprocess.run(["cmp", a, b], capture_output=True, text=True)
    message = (result.stdout + result.stderr).strip()
    text = "    " + message + "\n"
    number = None
    if ", line " in message:
        number = int(message.rsplit(", line ", 1)[1].split()[0])
    elif "EOF on" in message:
        # One file is a prefix of the other: show where the shorter one ends.
        with open(a, "rb") as f:
            number = sum(1 for _ in f) or 1
    if number is not None:
        text += f"    line {number}:\n"
        text += f"      rnaqubo:   {line_at(a, number)!r}\n"
        text += f"      reference: {line_at(b, number)!r}\n"
    if os.path.getsize(a) + os.path.getsize(b) < (1 << 20):
        diff = subprocess.run(["diff", a, b], capture_output=True, text=True,
                              errors="replace").stdout.splitlines()
        text += "".join("    | " + line + "\n" for line in diff[:20])
    return text


def compare(case, scratch):
    """Runs one case; returns (problems, bytes compared)."""
    product = os.path.join(scratch, "rnaqubo")
    reference = os.path.join(scratch, "reference")
    prepare(case, product)
    prepare(case, reference)
    running = [start(PRODUCT, case, product), start(REFERENCE, case, reference)]
    status = [finish(r) for r in running]

    problems = []
    compared = 0
    if status[0] != status[1]:
        problems.append(f"exit status: rnaqubo {status[0]}, reference {status[1]}")
    for stream in ("stdout", "stderr"):
        a, b = product + "." + stream, reference + "." + stream
        compared += os.path.getsize(a)
        if not same_bytes(a, b):
            problems.append(f"{stream} differs\n" + first_difference(a, b))
    files = [listing(product), listing(reference)]
    if files[0] != files[1]:
        problems.append(f"files left: rnaqubo {files[0]}, reference {files[1]}")
    for entry in files[0]:
        a, b = os.path.join(product, entry), os.path.join(reference, entry)
        if entry.endswith("/") or not os.path.isfile(b):
            continue
        compared += os.path.getsize(a)
        if not same_bytes(a, b):
            problems.append(f"{entry} differs\n" + first_difference(a, b))
    return problems, compared


def keep_failure(case, scratch):
    kept = os.path.join(os.getcwd(), "differential-failures", case.name)
    shutil.rmtree(kept, ignore_errors=True)
    os.makedirs(kept)
    if case.content is not None:
        with open(os.path.join(kept, "input.txt"), "wb") as f:
            f.write(case.content)
    with open(os.path.join(kept, "args"), "w") as f:
        f.write("\n".join(case.args) + "\n")
    for side in ("rnaqubo", "reference"):
        for stream in ("stdout", "stderr"):
            source = os.path.join(scratch, side + "." + stream)
            if os.path.exists(source):
                shutil.copy(source, os.path.join(kept, side + "." + stream))
    return kept


def window_of(n):
    return 0 if n <= 500 else (1 if n <= 900 else 2)


def main():
    global PRODUCT, REFERENCE, CHILD_ENV
    arguments = sys.argv[1:]
    quick = "--quick" in arguments
    arguments = [a for a in arguments if a != "--quick"]
    if len(arguments) != 2:
        sys.exit(__doc__)
    PRODUCT, REFERENCE = (os.path.abspath(a) for a in arguments)
    CHILD_ENV = child_environment()

    seed = int(os.environ.get("DIFF_SEED", DEFAULT_SEED))
    cases = plan_cases(seed, quick)
    max_length = os.environ.get("DIFF_MAX_LENGTH")
    if max_length:
        cases = [c for c in cases if c.length <= int(max_length)]
    if os.environ.get("DIFF_CASES"):
        cases = cases[:int(os.environ["DIFF_CASES"])]

    failures = 0
    compared_bytes = 0
    per_window = [0, 0, 0]
    root = tempfile.mkdtemp(prefix="rnaqubo-differential-")
    try:
        for number, case in enumerate(cases):
            scratch = os.path.join(root, case.name)
            os.makedirs(scratch)
            problems, compared = compare(case, scratch)
            compared_bytes += compared
            if case.length >= 1:
                per_window[window_of(case.length)] += 1
            if problems:
                failures += 1
                kept = keep_failure(case, scratch)
                print(f"MISMATCH in case {case.name}: rnaqubo {' '.join(case.args)}")
                print(f"  input and command line kept in {kept}")
                for problem in problems:
                    print("  " + problem.rstrip("\n"))
                sys.stdout.flush()
            shutil.rmtree(scratch)
            if failures >= MAX_REPORTED_FAILURES:
                print(f"stopping after {failures} mismatching cases")
                break
    finally:
        shutil.rmtree(root, ignore_errors=True)

    ran = number + 1 if cases else 0
    print(f"differential: {ran} cases (seed {seed}; n<=500: {per_window[0]}, "
          f"501..900: {per_window[1]}, >=901: {per_window[2]}), "
          f"{compared_bytes} bytes compared, {failures} mismatching")
    return 1 if failures or not cases else 0


if __name__ == "__main__":
    sys.exit(main())
