"""The landscape's methods against rnaqubo-fold's options on the same models:
the same numbers, lists, files and samples, through one differential loop."""
import math
import os
import random
import re
import subprocess

import numpy as np
import pytest

import rnaqubo
from conftest import write_sequence_file


def fold_lines(exe, directory, letters, *options):
    args = [exe, "seq.txt", str(len(letters)), "4", "1", "-200", *options]
    done = subprocess.run(args, cwd=directory, capture_output=True, text=True)
    assert done.returncode == 0, f"{args}: {done.stderr}"
    return done.stdout.splitlines()


def read_table(path):
    with open(path) as table:
        return [line.rstrip("\n").split("\t") for line in table][1:]


def test_methods_match_the_tool(fold_exe, tmp_path):
    shuffle = random.Random(17)
    letters_list = ["GCGGAUUUAGCUCAGUUGGGAGAGCGCCAGACUGAAGAUCUGGAGGUCCUGUGUUCGAUCCACAGAAUUCGCACCA"]
    letters_list += ["".join(shuffle.choice("ACGU") for _ in range(shuffle.randint(30, 90))) for _ in range(6)]
    for letters in letters_list:
        write_sequence_file(tmp_path / "seq.txt", letters)
        model = rnaqubo.Model(letters)
        lines = fold_lines(fold_exe, tmp_path, letters, "--subopt", "5%", "--max-selections", "50",
                           "--marginals", "m.tsv", "--reduce", "10%", "--out", "r",
                           "--ensemble", "10", "--probabilities", "p.tsv", "--pair-probabilities", "pp.tsv",
                           "--sample", "5", "--seed", "9")
        optima = model.count_optima()
        assert lines[4] == f"optima: {optima}"
        subopt = model.subopt("5%", 50)
        assert model.subopt(0, 0).total == optima == len(model.subopt(0).selections)
        assert lines[5] == f"subopt: {'' if subopt.exact else 'at least '}{subopt.total} selections within 5% of {subopt.optimum}"
        cut = model.subopt(0, 1)
        assert (cut.total, cut.exact, cut.selections) == (optima, True, subopt.selections[:1])
        listed = [f"{s}\t{v}\t{' '.join(map(str, q))}" for s, v, q in subopt.selections]
        assert lines[6:6 + len(listed)] == listed
        rest = lines[6 + len(listed):]

        marginals = model.marginals()
        table = read_table(tmp_path / "m.tsv")
        assert [int(row[3]) for row in table] == marginals.best_with.tolist()
        assert [int(row[4]) for row in table] == marginals.gap.tolist()

        reduced = model.reduce("10%")
        assert rest[0].startswith(f"reduced: {reduced.quad_count} of {model.quad_count} variables")
        mapped = [int(row[1]) for row in read_table(tmp_path / "r.map")]
        assert reduced.original_variables.tolist() == mapped
        quad_count, rows, columns, values = rnaqubo.read_q_file(str(tmp_path / "r.q"))
        coo = reduced.coo()
        assert quad_count == reduced.quad_count
        assert [rows.tolist(), columns.tolist(), values.tolist()] == [a.tolist() for a in coo]
        # The same .qubo but for the record's name and input, which the module does not know.
        reduced.write_qubo(tmp_path / "mine.qubo")
        record = re.compile(rb"^c (name|input): .*\n", re.M)
        mine, tool = ((tmp_path / name).read_bytes() for name in ("mine.qubo", "r.qubo"))
        assert record.sub(b"", mine) == record.sub(b"", tool)
        assert b"c reduce: 10%%\nc reduced: %d of %d\n" % (reduced.quad_count, model.quad_count) in mine
        # Every listed selection is in the reduced model, and decodes back.
        where = {v: k + 1 for k, v in enumerate(mapped)}
        for structure, value, quads in subopt.selections:
            decoded = reduced.decode([where[q] for q in quads])
            assert (decoded.value, decoded.quads, decoded.structure) == (value, quads, structure)

        ensemble = model.ensemble(10)
        assert rest[1] == f"ensemble: 10 {ensemble.log_z:.17g}"
        assert [float(row[3]) for row in read_table(tmp_path / "p.tsv")] == ensemble.probabilities.tolist()
        kept = ensemble.pair_probabilities >= 1e-6
        pairs = [(int(i), int(j), float(p)) for i, j, p in read_table(tmp_path / "pp.tsv")]
        assert pairs == list(zip(ensemble.pair_i[kept].tolist(), ensemble.pair_j[kept].tolist(),
                                 ensemble.pair_probabilities[kept].tolist()))
        samples = [f"{s}\t{v}\t{' '.join(map(str, q))}" for s, v, q in model.sample(5, 10, 9)]
        assert rest[2:] == samples

        # The optimum's structure, encoded, is a selection of at least its value.
        best = model.optimum()
        encoded = model.encode(best.structure)
        assert encoded.value >= best.value and encoded.conflicts == []
        assert (encoded.lone, encoded.non_canonical, encoded.out_of_range, encoded.pseudoknotted) == ([], [], [], [])


def test_refusals():
    model = rnaqubo.Model("GGGGAAACCCC")
    with pytest.raises(ValueError, match="not a distance"):
        model.subopt("5.5")
    with pytest.raises(TypeError):
        model.reduce(1.5)
    with pytest.raises(ValueError, match="temperature"):
        model.ensemble(0.0)
    with pytest.raises(ValueError, match="characters"):
        model.encode("((..))")
    reduced = model.reduce(0)
    with pytest.raises(ValueError, match="outside the reduced model"):
        reduced.decode([reduced.quad_count + 1])
    assert math.isfinite(model.ensemble(1e-1).log_z)
