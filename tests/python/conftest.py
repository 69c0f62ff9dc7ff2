"""Shared helpers: running the rnaqubo executable on a sequence in a scratch
directory and reading what it writes."""
import os
import subprocess

import numpy as np
import pytest

import rnaqubo


def built_executable(variable, program):
    """The path that the environment's variable gives for the built program;
    the test is skipped without one."""
    exe = os.environ.get(variable)
    if not exe or not os.access(exe, os.X_OK):
        pytest.skip(f"{variable} does not name the built {program} executable")
    return exe


@pytest.fixture(scope="session")
def rnaqubo_exe():
    """Path of the built rnaqubo executable (RNAQUBO in the environment)."""
    return built_executable("RNAQUBO", "rnaqubo")


@pytest.fixture(scope="session")
def fold_exe():
    """Path of the built rnaqubo-fold executable (RNAQUBO_FOLD in the environment)."""
    return built_executable("RNAQUBO_FOLD", "rnaqubo-fold")


@pytest.fixture(scope="session")
def seq_exe():
    """Path of the built rnaqubo-seq executable (RNAQUBO_SEQ in the environment)."""
    return built_executable("RNAQUBO_SEQ", "rnaqubo-seq")


def write_sequence_file(path, letters):
    """The sequence in rnaqubo's input format: the count, then one base a line."""
    with open(path, "w") as out:
        out.write(f"{len(letters)}\n" + "".join(f"{c}\n" for c in letters))


def run_tool(exe, directory, letters, min_distance, add_quads, penalty):
    """Runs rnaqubo in directory on letters; returns the Q file's path."""
    os.makedirs(directory, exist_ok=True)
    write_sequence_file(os.path.join(directory, "seq.txt"), letters)
    args = [exe, "seq.txt", str(len(letters)), str(min_distance), str(add_quads), str(penalty)]
    done = subprocess.run(args, cwd=directory, capture_output=True, text=True)
    assert done.returncode == 0, f"{args}: {done.stdout} {done.stderr}"
    (q_name,) = [f for f in os.listdir(directory) if f.startswith("Q_") and not f.startswith("Q_nested_")]
    return os.path.join(directory, q_name)


def run_fold(exe, directory, letters, min_distance, add_quads, penalty, solution=None):
    """The lines rnaqubo-fold prints for letters (seq.txt in directory, as
    run_tool writes it), decoding the variables in solution when given."""
    args = [exe, "seq.txt", str(len(letters)), str(min_distance), str(add_quads), str(penalty)]
    if solution is not None:
        with open(os.path.join(directory, "solution.txt"), "w") as out:
            out.write(" ".join(map(str, solution)) + "\n")
        args[1:1] = ["--solution", "solution.txt"]
    done = subprocess.run(args, cwd=directory, capture_output=True, text=True)
    assert done.returncode == 0, f"{args}: {done.stdout} {done.stderr}"
    return done.stdout.splitlines()


def parse_q_text(data):
    """(Q, entries as an (E, 3) int64 array) of a Q file's bytes, parsed plainly."""
    lines = data.split(b"\n")
    header = lines[0].split()
    assert header[0] == b"p" and header[2] == b"1" and lines[-1] == b"-1"
    entries = np.array(b" ".join(lines[1:-1]).split(), dtype=np.int64).reshape(-1, 3)
    return int(header[1]), entries


def random_letters(rng, length, weights):
    """length letters drawn with weights for A, C, G, U."""
    return "".join(rng.choices("ACGU", weights=weights, k=length))
