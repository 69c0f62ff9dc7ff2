"""The module's model against the Q files that the rnaqubo executable writes,
on random sequences of every pairing window and all kinds of parameters."""
import os
import random

import numpy as np
import pytest

import rnaqubo
from conftest import parse_q_text, random_letters, run_fold, run_tool

INT32_MIN, INT32_MAX = -(2**31), 2**31 - 1
MIN_DISTANCES = [-3, 0, 3, 4, 10]
ADD_QUADS = [0, 1, 2, -1]
PENALTIES = [-200, 0, 7, -1, INT32_MIN, INT32_MAX]


def make_cases():
    """(name, letters, min_distance, add_quads, penalty): small random models of
    every kind, and models at each pairing window's edges (500, 501, 900, 901
    bases), A-rich there to keep their Q files to a few megabytes."""
    rng = random.Random(20261208)
    cases = []
    for k in range(30):
        length = rng.choice([1, 2, 5, 8, 13, 21, 40, 80, 120])
        weights = rng.choice([(1, 1, 1, 1), (1, 3, 3, 1), (1, 1, 3, 3), (0, 1, 1, 0), (1, 1, 0, 0)])
        cases.append((f"small{k}", random_letters(rng, length, weights), rng.choice(MIN_DISTANCES),
                      rng.choice(ADD_QUADS), rng.choice(PENALTIES)))
    # A helix with everything before it unpaired: its chain bonuses far from row 1.
    cases.append(("helix_after_a", "A" * 30 + "GGGGCCCC", 0, 1, -200))
    for length, weights in [(500, (20, 2, 2, 2)), (501, (16, 2, 2, 2)), (900, (20, 2, 2, 2)),
                            (901, (20, 2, 2, 2)), (1300, (24, 2, 2, 2))]:
        cases.append((f"window{length}", random_letters(rng, length, weights), rng.choice([0, 3, 4]),
                      rng.choice([0, 1]), rng.choice([-200, 5])))
    return cases


CASES = make_cases()


@pytest.mark.parametrize("case", CASES, ids=[c[0] for c in CASES])
def test_model_equals_the_q_file(case, rnaqubo_exe, tmp_path):
    name, letters, min_distance, add_quads, penalty = case
    model = rnaqubo.Model(letters, min_distance=min_distance, add_quads=add_quads, penalty=penalty)
    q_path = run_tool(rnaqubo_exe, tmp_path / "run", letters, min_distance, add_quads, penalty)
    with open(q_path, "rb") as f:
        quad_count, expected = parse_q_text(f.read())
    assert (model.n, model.quad_count) == (len(letters), quad_count)

    # Every entry, in the file's order.
    rows, columns, values = model.coo()
    assert all(a.dtype == np.int32 for a in (rows, columns, values))
    assert np.array_equal(np.stack([rows, columns, values], axis=1), expected)

    # The quads are those of dot_paren.txt; the diagonal that of the file.
    listing = np.array(open(tmp_path / "run" / "dot_paren.txt").read().split()[1:], dtype=np.int64)
    assert np.array_equal(model.quads, listing.reshape(-1, 5)[:, 1:])
    assert np.array_equal(model.linear(), values[rows == columns])

    # The module writes the same bytes.
    model.write_q_file(tmp_path / "written.txt")
    assert (tmp_path / "written.txt").read_bytes() == open(q_path, "rb").read()

    # The native reader gives the same arrays.
    read_count, read_rows, read_columns, read_values = rnaqubo.read_q_file(q_path)
    assert read_count == quad_count
    assert np.array_equal(np.stack([read_rows, read_columns, read_values], axis=1), expected)

    # From 0 and negated, for minimisers.
    if penalty == INT32_MIN:
        with pytest.raises(ValueError, match="negat"):
            model.coo(negate=True)
    else:
        zero_rows, zero_columns, negated = model.coo(zero_based=True, negate=True)
        assert np.array_equal(zero_rows, rows - 1) and np.array_equal(zero_columns, columns - 1)
        assert np.array_equal(negated, -values.astype(np.int64))
        check_qubo_file(model, tmp_path / "model.qubo", expected)
    if quad_count <= 200:
        dense = np.zeros((quad_count, quad_count), dtype=np.int64)
        dense[expected[:, 0] - 1, expected[:, 1] - 1] = expected[:, 2]
        assert np.array_equal(model.to_scipy().toarray(), dense)


def check_qubo_file(model, path, expected):
    """write_qubo parses back to the negated model, from 0: the comment lines
    naming the model, then the diagonal, then the couplings in ascending order,
    with counts that match the body."""
    model.write_qubo(path)
    with open(path) as f:
        lines = f.read().split("\n")
    comments = [line[2:] for line in lines if line.startswith("c ")]
    assert lines[:len(comments)] == ["c " + line for line in comments]
    assert f"sequence: {model.sequence}" in comments and f"variables: {model.quad_count}" in comments
    header = lines[len(comments)].split()
    body = np.array(" ".join(lines[len(comments) + 1:]).split(), dtype=np.int64).reshape(-1, 3)
    q = model.quad_count
    assert header == ["p", "qubo", "0", str(q), str(q), str(len(body) - q)]
    order = np.lexsort((expected[:, 1], expected[:, 0], expected[:, 0] != expected[:, 1]))
    assert np.array_equal((body + [1, 1, 0]) * [1, 1, -1], expected[order])
    # negate=False keeps the model's own signs.
    model.write_qubo(path, negate=False)
    with open(path) as f:
        entries = " ".join(line for line in f if not line.startswith(("c ", "p ")))
    plain = np.array(entries.split(), dtype=np.int64).reshape(-1, 3)
    assert np.array_equal(plain[:, 2], -body[:, 2])
    assert sorted(os.listdir(os.path.dirname(path))) == ["model.qubo", "run", "written.txt"]  # no temporary left


@pytest.mark.parametrize("case", CASES, ids=[c[0] for c in CASES])
def test_optimum_and_values_equal_the_tools(case, rnaqubo_exe, fold_exe, tmp_path):
    name, letters, min_distance, add_quads, penalty = case
    model = rnaqubo.Model(letters, min_distance=min_distance, add_quads=add_quads, penalty=penalty)
    run = tmp_path / "run"
    q_path = run_tool(rnaqubo_exe, run, letters, min_distance, add_quads, penalty)
    with open(q_path, "rb") as f:
        quad_count, entries = parse_q_text(f.read())

    # optimum() is what rnaqubo-fold prints.
    best = model.optimum()
    lines = run_fold(fold_exe, run, letters, min_distance, add_quads, penalty)
    assert lines[:3] == [letters, f"{best.structure} ({best.value})", " ".join(["quads:"] + list(map(str, best.quads)))]
    assert lines[3].startswith("certified: yes" if best.certified else "certified: no")

    # value() of random selections, in every form, is the sum over the Q file.
    rng = np.random.default_rng(len(letters) + quad_count)
    for density in (0.0, 0.05, 0.5, 1.0):
        mask = rng.random(quad_count) < density
        expected = int(entries[mask[entries[:, 0] - 1] & mask[entries[:, 1] - 1], 2].sum())
        variables = list(np.flatnonzero(mask) + 1)
        assert model.value(mask) == expected
        assert model.value(mask.astype(np.int8)) == expected
        assert model.value(variables) == expected
        assert model.value(np.flatnonzero(mask), zero_based=True) == expected

    # decode() of a selection says what rnaqubo-fold --solution says of it.
    for selection in (best.quads, sorted(rng.choice(quad_count, min(quad_count, 6), replace=False) + 1)):
        decoded = model.decode(selection)
        lines = run_fold(fold_exe, run, letters, min_distance, add_quads, penalty, solution=selection)
        shown = f"not a secondary structure: {len(decoded.conflicts)} conflicting couples" \
            if decoded.conflicts else decoded.structure
        assert lines[1:3] == [f"{shown} ({decoded.value})", " ".join(["quads:"] + list(map(str, decoded.quads)))]
        assert lines[5:-3] == [f"conflict: {l} {m}" for l, m in decoded.conflicts]
        # score() of the structure against the optimum's is what the tool prints.
        if decoded.structure is not None:
            scores = rnaqubo.score(decoded.structure, best.structure)
            assert lines[-3:] == [f"optimum {name}: {value:.4f}" for name, value in zip(("sensitivity", "PPV", "F1"), scores)]
        assert (decoded.structure is None) == bool(decoded.conflicts)


def test_sequence_files_and_strings_give_the_same_model(tmp_path):
    # rnaqubo's input format, FASTA (wrapped, lower case, DNA letters, gaps),
    # gzip and FASTQ, and the same text as a string, all make one model.
    import gzip
    from conftest import write_sequence_file
    letters = random_letters(random.Random(3), 90, (1, 1, 1, 1))
    dna = letters.lower().replace("u", "t")
    write_sequence_file(tmp_path / "seq.txt", letters)
    wrapped = "\n".join(dna[k:k + 60] for k in range(0, len(dna), 60))
    (tmp_path / "seq.fa").write_text(f">other\nACGU\n>wanted first words\n{wrapped[:10]}-.{wrapped[10:]}\n")
    with gzip.open(tmp_path / "seq.fa.gz", "wt") as out:
        out.write((tmp_path / "seq.fa").read_text())
    (tmp_path / "seq.fq").write_text(f"@wanted\n{dna}\n+\n{'I' * len(dna)}\n")
    expected = rnaqubo.Model(letters, 3, 1, -50).coo()
    models = [rnaqubo.Model.from_file(tmp_path / "seq.txt", 3, 1, -50),
              rnaqubo.Model.from_file(tmp_path / "seq.fa", 3, 1, -50, record="wanted"),
              rnaqubo.Model.from_file(str(tmp_path / "seq.fa.gz"), 3, 1, -50, record=2),
              rnaqubo.Model.from_file(tmp_path / "seq.fq", 3, 1, -50),
              rnaqubo.Model(" " + wrapped.replace("\n", "\n-"), 3, 1, -50)]
    for model in models:
        assert model.sequence == letters
        assert all(np.array_equal(a, b) for a, b in zip(model.coo(), expected))
    assert [m.name for m in models[:4]] == ["", "wanted", "wanted", "wanted"]


@pytest.mark.parametrize("write", ["write_qubo", "write_q_file"])
def test_long_calls_let_other_threads_run(write, tmp_path):
    # Another Python thread keeps ticking while the module writes a file:
    # ticks well inside a call show that it released the interpreter lock.
    import threading
    import time
    model = rnaqubo.Model(random_letters(random.Random(3), 200, (1, 1, 1, 1)))
    call = getattr(model, write)
    stamps, spans, stop = [], [], threading.Event()

    def tick():
        while not stop.is_set():
            stamps.append(time.perf_counter())
            time.sleep(0.001)

    ticker = threading.Thread(target=tick)
    ticker.start()
    try:
        for _ in range(5):
            start = time.perf_counter()
            call(tmp_path / "out.txt")
            spans.append((start, time.perf_counter()))
    finally:
        stop.set()
        ticker.join()
    assert any(a + 0.005 < s < b - 0.005 for a, b in spans for s in stamps), spans


# One quad (1-10/2-9), and two (1-10/2-9, 1-11/2-10): where a 0/1 mask and a
# list of variable numbers look alike. With zero_based an integer list is
# always numbers; without it, Q integers that are all 0 or 1 are a mask.
@pytest.mark.parametrize("letters, selection, zero_based, quads", [
    ("GGAAAAAACC", [1], False, [1]),
    ("GGAAAAAACC", [0], False, []),
    ("GGAAAAAACC", [0], True, [1]),
    ("GGAAAAAACC", [1], True, "outside 0..0"),
    ("GGAAAAAACC", np.array([False]), True, []),
    ("GGAAAAAACCC", [0, 1], False, [2]),
    ("GGAAAAAACCC", [1, 0], False, [1]),
    ("GGAAAAAACCC", [1], False, [1]),
    ("GGAAAAAACCC", [0], False, "one element per variable: 1 given for 2"),
    ("GGAAAAAACCC", [0], True, [1]),
    ("GGAAAAAACCC", [1], True, [2]),
    ("GGAAAAAACCC", [0, 1], True, [1, 2]),
    ("GGAAAAAACCC", [1, 0], True, [1, 2]),
    ("GGAAAAAACCC", np.array([False, True]), True, [2]),
])
def test_masks_and_numbers_in_small_models(letters, selection, zero_based, quads):
    model = rnaqubo.Model(letters, 4, 1, -200)
    assert model.quad_count == len(letters) - 9
    if isinstance(quads, str):
        with pytest.raises(ValueError, match=quads):
            model.decode(selection, zero_based=zero_based)
    else:
        assert list(model.decode(selection, zero_based=zero_based).quads) == quads
