"""The module's annealer: restarts give the same answer on any number of
threads, replica exchange and anneal_qubo reach the optimum of small random
QUBOs found by enumeration, and anneal_qubo reads a .qubo path as its arrays."""
import itertools
import random

import numpy as np
import pytest

import rnaqubo


def random_qubo(rng, n, whole):
    """(rows, columns, values): every node's entry and about half the couples."""
    value = (lambda: rng.randint(-9, 9)) if whole else (lambda: rng.uniform(-9, 9))
    entries = [(k, k, value()) for k in range(n)]
    entries += [(i, j, value()) for i, j in itertools.combinations(range(n), 2) if rng.random() < 0.5]
    return tuple(np.array(column) for column in zip(*entries))


def minimum(qubo, n):
    rows, columns, values = qubo
    return min(sum(v for i, j, v in zip(rows, columns, values) if bits[i] and bits[j])
               for bits in itertools.product((0, 1), repeat=n))


@pytest.mark.parametrize("n, whole, seed", [(5, True, 1), (9, False, 2), (12, True, 3), (12, False, 4)])
def test_anneal_qubo_reaches_the_enumerated_minimum(n, whole, seed, tmp_path):
    qubo = random_qubo(random.Random(seed), n, whole)
    best = minimum(qubo, n)
    for options in ({"restarts": 6}, {"replicas": 8}):
        value, nodes = rnaqubo.anneal_qubo(qubo, 400, seed, (20.0, 0.05), **options)
        assert value == pytest.approx(best)
        assert value == pytest.approx(sum(v for i, j, v in zip(*qubo) if i in nodes and j in nodes))
    path = tmp_path / "x.qubo"
    lines = [f"{i} {j} {v!r}" for i, j, v in zip(*qubo)]
    path.write_text(f"c random\np qubo 0 {n} {n} {len(lines) - n}\n" + "\n".join(lines) + "\n")
    assert rnaqubo.anneal_qubo(path, 50, seed) == rnaqubo.anneal_qubo(qubo, 50, seed)


def test_restarts_and_replicas_do_not_depend_on_threads():
    model = rnaqubo.Model("GCGGAUUUAGCUCAGUUGGGAGAGCGCCAGACUGAAGAUCUGGAGGUCCUGUGUUCGAUCCACAGAAUUCGCACCA")
    for options in ({"restarts": 5}, {"restarts": 3, "replicas": 4}):
        answers = {threads: rnaqubo.anneal(model, 200, 9, threads=threads, **options) for threads in (1, 2, 3)}
        assert answers[1] == answers[2] == answers[3]
    one = rnaqubo.anneal(model, 200, 9)
    assert rnaqubo.anneal(model, 200, 9, restarts=4).value >= one.value
    with pytest.raises(ValueError, match="one per replica"):
        rnaqubo.anneal(model, 10, 1, [1.0, 2.0, 3.0], replicas=4)
    with pytest.raises(ValueError, match="a couple given twice"):
        rnaqubo.anneal_qubo(([0, 1], [1, 0], [1.0, 2.0]))
