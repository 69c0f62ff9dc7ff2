"""Bad input, bad paths and damaged Q files raise the documented exceptions;
a memory failure leaves the interpreter running."""
import os
import subprocess
import sys
import textwrap

import pytest

import rnaqubo
from conftest import run_tool

GOOD_Q = "p 4 1\n1  1  33\n1  2  -200\n2  2  33\n3  3  33\n3  4  -200\n4  4  33\n-1"


@pytest.mark.parametrize("args, error, text", [
    (("GGXCC",), ValueError, "X"),
    (("",), ValueError, "empty"),
    (("GGNCC",), ValueError, r"ambiguous letter \(N at 3\)"),
    (("GGACC", 4, 1, -200, "drop"), TypeError, ""),  # ambiguous is given by name only
    (("GGACC", 2**31), ValueError, "Number out of range: 2147483648"),
    (("GGACC", 4, 1, -(2**31) - 1), ValueError, "Number out of range"),
    (("GGACC", "4"), TypeError, "min_distance"),
    ((12345,), TypeError, ""),
])
def test_bad_model_arguments(args, error, text):
    with pytest.raises(error, match=text):
        rnaqubo.Model(*args)


@pytest.mark.parametrize("content, line, text", [
    ("", 1, "empty"),
    ("x 4 1\n", 1, "header"),
    ("p 4\n-1", 1, "header"),
    (GOOD_Q[:-2], 8, "final \"-1\""),            # cut before the terminator
    (GOOD_Q[:GOOD_Q.index("3  3")], 5, "final \"-1\""),  # cut at a line end
    (GOOD_Q[:GOOD_Q.index("3  3") + 4], 5, "found \"3  3\""),  # cut inside a line
    (GOOD_Q.replace("1  2  -200", "1  2  -2oo"), 3, "found \"1  2  -2oo\""),
    (GOOD_Q.replace("1  2  -200", "1  2  -2147483649"), 3, "found"),
    (GOOD_Q.replace("1  2  -200", "1  2  2147483648"), 3, "found"),
    (GOOD_Q.replace("1  2  -200", "1  2  99999999999"), 3, "found"),
    (GOOD_Q.replace("1  2  -200", "1  5  -200"), 3, "variable 5 is outside 1..4"),
    (GOOD_Q.replace("1  2  -200", "0  2  -200"), 3, "variable 0"),
    (GOOD_Q.replace("1  2  -200", ""), 3, "found \"\""),
    (GOOD_Q + "\n1  1  3", 9, "after the final"),
    (GOOD_Q.replace("1  2  -200", "2  1  -200"), 3, "entry 2 1 is below the diagonal"),
    (GOOD_Q.replace("3  3  33", "1  2  -200"), 5, r"the couple 1 2 is given twice \(first on line 3\)"),
])
def test_damaged_q_files(tmp_path, content, line, text):
    path = tmp_path / "Q_4_x.txt"
    path.write_text(content)
    with pytest.raises(ValueError, match=f"^{path}: line {line}: .*{text}"):
        rnaqubo.read_q_file(path)


def test_q_file_variants_that_are_read(tmp_path):
    # Tabs, CR LF line ends and a line end after "-1" are read; path as str or bytes.
    path = tmp_path / "q.txt"
    path.write_text(GOOD_Q.replace("  ", "\t").replace("\n", "\r\n") + "\n")
    count, rows, columns, values = rnaqubo.read_q_file(os.fsencode(path))
    assert count == 4 and list(rows) == [1, 1, 2, 3, 3, 4] and list(values)[:2] == [33, -200]
    path.write_text(GOOD_Q.replace("-200", "-2147483648", 1).replace("33", "2147483647", 1))
    assert list(rnaqubo.read_q_file(path)[3][:2]) == [2**31 - 1, -(2**31)]
    path.write_text("p 0 1\n-1")
    assert [len(a) for a in rnaqubo.read_q_file(str(path))[1:]] == [0, 0, 0]


def test_bad_paths(tmp_path):
    with pytest.raises(FileNotFoundError) as caught:
        rnaqubo.read_q_file(tmp_path / "missing.txt")
    assert caught.value.filename == str(tmp_path / "missing.txt")
    with pytest.raises(IsADirectoryError):
        rnaqubo.read_q_file(tmp_path)
    model = rnaqubo.Model("GGGCCC", min_distance=0)
    with pytest.raises(FileNotFoundError, match="such.qubo: qubo file: cannot write: No such file or directory"):
        model.write_qubo(tmp_path / "no" / "such.qubo")
    with pytest.raises(IsADirectoryError):
        model.write_qubo(tmp_path)
    with pytest.raises(FileNotFoundError, match="Q_4_x.txt: Q file: cannot write: No such file or directory"):
        model.write_q_file(tmp_path / "no" / "Q_4_x.txt")
    with pytest.raises(IsADirectoryError):
        model.write_q_file(tmp_path)
    # A NUL byte is refused, not taken as the end of the name.
    (tmp_path / "x.txt").write_text("3\nG\nG\nC\n")
    for name in (f"{tmp_path}/x.txt\0junk", os.fsencode(f"{tmp_path}/x.txt\0")):
        for call in (rnaqubo.read_q_file, rnaqubo.Model.from_file, model.write_qubo, model.write_q_file):
            with pytest.raises(ValueError, match="embedded null byte"):
                call(name)
    assert os.listdir(tmp_path) == ["x.txt"] and (tmp_path / "x.txt").read_text() == "3\nG\nG\nC\n"


def test_failed_write_keeps_the_earlier_file(tmp_path):
    # A file size limit makes the writes fail part way (Python ignores SIGXFSZ).
    earlier = tmp_path / "kept.qubo"
    earlier.write_text("earlier\n")
    code = f"""
        resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
        model = rnaqubo.Model("GGGGAAAACCCC" * 20)
        for write in (model.write_qubo, model.write_q_file):
            try:
                write({str(earlier)!r})
            except OSError as e:
                print(type(e).__name__, e.filename)
    """
    done = run_limited(code, 4096)
    assert done.returncode == 0, done.stderr
    assert done.stdout == f"OSError {earlier}\n" * 2
    assert earlier.read_text() == "earlier\n" and os.listdir(tmp_path) == ["kept.qubo"]


@pytest.mark.parametrize("selection, error, text", [
    ([2.9], TypeError, "integers .* not float64"),      # never truncated to variable 2
    ("12", TypeError, "not a string"),
    ([1, 1], ValueError, r"variable 1 is given twice \(item 2"),  # named as given, reduced
    ([4], ValueError, r"variable 4 \(item 1\) is outside the reduced model's 3 variables"),
    ([True] * 5, ValueError, "0/1 selection needs one element per variable: 5 given for 3 variables"),
    ([False, True], ValueError, "0/1 selection needs one element per variable: 2 given for 3 variables"),
])
def test_bad_reduced_selections(selection, error, text):
    reduced = rnaqubo.Model("GGGGCCCC", min_distance=0).reduce(0)
    assert reduced.quad_count == 3 and reduced.decode({3, 1}).quads == [3, 7]
    with pytest.raises(error, match=text):
        reduced.decode(selection)


def test_writers_never_replace_the_sequence_file(tmp_path):
    # Every writer of a model read from a file, and of its reduction, refuses
    # that file's name and leaves it as it was; the instance files it does
    # write record the file and, for a format without names, the file's stem.
    source = tmp_path / "hairpin.txt"
    letters = "GGGGAAAACCCC"
    source.write_text("%d\n%s\n" % (len(letters), " ".join(letters)))
    model = rnaqubo.Model.from_file(source, min_distance=2)
    reduced = model.reduce(0)
    for owner in (model, reduced):
        for write in (owner.write_lp, owner.write_milp, owner.write_qubo, owner.write_q_file):
            with pytest.raises(OSError, match="Input file would be overwritten"):
                write(source)
    assert source.read_text() == "%d\n%s\n" % (len(letters), " ".join(letters))
    model.write_qubo(tmp_path / "m.qubo")
    reduced.write_lp(tmp_path / "r.lp")
    for name, mark in (("m.qubo", "c "), ("r.lp", "\\ ")):
        header = (tmp_path / name).read_text()
        assert f"{mark}name: hairpin\n" in header and f"{mark}input: {source}\n" in header, header[:300]


@pytest.mark.parametrize("selection, options, error, text", [
    ([5], {}, ValueError, r"variable 5 \(item 1 of the selection\) is outside 1..4"),
    ([0, 5], {}, ValueError, r"variable 0 \(item 1 of the selection\) is outside 1..4"),
    # Integers holding a 0, without zero_based, can only be meant as 0/1 per variable.
    ([0], {}, ValueError, "0/1 selection needs one element per variable: 1 given for 4"),
    ([0, 1, 0], {}, ValueError, "0/1 selection needs one element per variable: 3 given for 4"),
    ([0, 1, 2, 0], {}, ValueError, "0/1 selection holds only 0 and 1: index 2 holds 2"),
    ([1, 0, 0, 7], {}, ValueError, "index 3 holds 7"),
    ([4], {"zero_based": True}, ValueError, "outside 0..3"),
    ([2, 3, 2], {}, ValueError, "variable 2 is given twice"),
    ([True, False], {}, ValueError, "one element per variable: 2 given for 4"),
    ([[1, 2]], {}, ValueError, "2 dimensions"),
    ([1.0, 2.0], {}, TypeError, "integers"),
    ("12", {}, TypeError, "integers"),
    # Extremes of 64 bits are named as given, signed or not.
    ([-(2**63)], {}, ValueError, r"variable -9223372036854775808 \(item 1 of the selection\) is outside 1..4"),
    ([1, 2**63 - 1], {"zero_based": True}, ValueError, r"variable 9223372036854775807 \(item 2"),
    ([2**63], {}, ValueError, r"variable 9223372036854775808 \(item 1 of the selection\) is outside 1..4"),
    ([2**64 - 1], {"zero_based": True}, ValueError, r"variable 18446744073709551615 .* outside 0..3"),
    ([2**31], {}, ValueError, r"variable 2147483648 \(item 1"),
    ([2**64], {}, TypeError, "integers"),  # beyond any integer type numpy has
])
def test_bad_selections(selection, options, error, text):
    model = rnaqubo.Model("GGGCCC", min_distance=0)
    for call in (model.value, model.decode):
        with pytest.raises(error, match=text):
            call(selection, **options)
    # The same values as unsigned arrays, where they fit, are refused alike.
    if error is ValueError and all(type(v) is int and 0 <= v < 2**64 for v in selection):
        import numpy as np
        with pytest.raises(ValueError, match=text):
            model.value(np.array(selection, dtype=np.uint64), **options)


def test_selection_rule_by_type():
    import numpy as np
    model = rnaqubo.Model("GGGCCC", min_distance=0)
    assert model.quad_count == 4
    everything = model.value([1, 2, 3, 4])
    for dtype in (np.int8, np.int64, np.uint8):
        assert model.value(np.array([1, 1, 0, 1], dtype=dtype)) == model.value([1, 2, 4])   # 0/1 per variable
        assert model.value(np.array([1, 0, 3, 2], dtype=dtype), zero_based=True) == everything  # numbers
    for options in ({}, {"zero_based": True}):
        assert model.value(np.array([True, True, False, True]), **options) == model.value([1, 2, 4])


def test_numpy_integers_as_model_numbers():
    import numpy as np
    model = rnaqubo.Model("GGGCCC", np.int64(0), np.int8(1), penalty=np.int64(-5))
    assert (model.min_distance, model.penalty) == (0, -5)
    with pytest.raises(TypeError, match="penalty must be an integer, not float64"):
        rnaqubo.Model("GGGCCC", penalty=np.float64(-5))
    with pytest.raises(ValueError, match="Number out of range: 2147483648"):
        rnaqubo.Model("GGGCCC", penalty=np.int64(2**31))


def test_unsigned_selections_are_read():
    import numpy as np
    model = rnaqubo.Model("GGGCCC", min_distance=0)
    for dtype in (np.uint8, np.uint32, np.uint64):
        assert model.value(np.array([1, 3], dtype=dtype)) == model.value([1, 3])
        assert model.value(np.array([0, 3], dtype=dtype), zero_based=True) == model.value([1, 4])


def test_minimum_penalty_is_not_negated(tmp_path):
    model = rnaqubo.Model("GGGCCC", min_distance=0, penalty=-(2**31))
    for call in (lambda: model.coo(negate=True), lambda: model.write_qubo(tmp_path / "m.qubo")):
        with pytest.raises(ValueError, match="-2147483648"):
            call()
    assert model.coo()[2].min() == -(2**31)


def run_limited(code, limit_mb):
    """Runs code in a child interpreter whose address space is limited."""
    script = textwrap.dedent(f"""
        import resource, sys
        import numpy, rnaqubo
        limit = {limit_mb} << 20
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    """) + textwrap.dedent(code)
    return subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)


def test_interpreter_survives_memory_failures():
    # Arrays and tables beyond the limit raise MemoryError with the tool's
    # message; the interpreter goes on, and models that go free their tables
    # (five models of 300 MB in turn fit in 640 MB).
    code = """
        import random
        rng = random.Random(1)
        letters = "".join(rng.choices("ACGU", k=150000))
        try:
            rnaqubo.Model(letters * 4, min_distance=0)
        except MemoryError as e:
            print("tables refused:", e)
        try:
            rnaqubo.Model(letters[:500], min_distance=0).coo()
        except MemoryError:
            print("arrays refused")
        for _ in range(5):
            assert rnaqubo.Model(letters, min_distance=0).quad_count == 3116706
        print(len(rnaqubo.Model("GGGCCC", min_distance=0).coo()[0]))
    """
    done = run_limited(code, 640)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["tables refused: Memory allocation problem in AllocateIntArray",
                                        "arrays refused", "10"]


def test_large_q_file_read_in_parts(rnaqubo_exe, tmp_path):
    # A Q file of some 20 MB is read in parts on several threads: its entries
    # come out whole and in order, and damage anywhere is reported at its line.
    import random
    import numpy as np
    from conftest import parse_q_text, random_letters
    letters = random_letters(random.Random(5), 250, (6, 2, 2, 2))
    q_path = run_tool(rnaqubo_exe, tmp_path / "run", letters, 4, 1, -200)
    data = open(q_path, "rb").read()
    quad_count, expected = parse_q_text(data)
    count, rows, columns, values = rnaqubo.read_q_file(q_path)
    assert count == quad_count and np.array_equal(np.stack([rows, columns, values], axis=1), expected)

    def line_start(fraction):
        """Offset and number of the line that starts after fraction of the file."""
        offset = data.index(b"\n", int(len(data) * fraction)) + 1
        return offset, data.count(b"\n", 0, offset) + 1

    damaged = tmp_path / "damaged.txt"
    lines = data.count(b"\n") + 1
    offset, line = line_start(0.75)
    following = data.index(b"\n", data.index(b"\n", offset) + 1) + 1  # two lines on
    repeated = " ".join(data[offset:data.index(b"\n", offset)].decode().split()[:2])
    for content, bad_line, text in [
        (data[:offset] + b"1  2  x\n" + data[offset:], line, "found \"1  2  x\""),
        (data[:offset], line, "final \"-1\""),
        (data[:offset] + b"-1\n" + data[offset:], line + 1, "after the final"),
        (data[:line_start(0.3)[0]] + b"-1\n" + data[line_start(0.3)[0]:], line_start(0.3)[1] + 1, "after the final"),
        (data + b"\n7", lines + 1, "after the final"),
        # Repeats in a later part: of the first entry, and of an entry two lines up.
        (data[:offset] + data.split(b"\n")[1] + b"\n" + data[offset:], line,
         r"the couple 1 1 is given twice \(first on line 2\)"),
        (data[:following] + data[offset:data.index(b"\n", offset) + 1] + data[following:], line + 2,
         rf"the couple {repeated} is given twice \(first on line {line}\)"),
    ]:
        damaged.write_bytes(content)
        with pytest.raises(ValueError, match=f": line {bad_line}: .*{text}"):
            rnaqubo.read_q_file(damaged)
    damaged.write_bytes(data + b"\n\n")  # blank lines after the end are harmless
    assert len(rnaqubo.read_q_file(damaged)[1]) == len(expected)


@pytest.mark.parametrize("content, options, error, text", [
    (b">a\nGGNCC\n", {}, ValueError, r"x.fa: record a: 1 ambiguous letter \(N at 3\)"),
    (b">a\nGGXCC\n", {"ambiguous": "drop"}, ValueError, "X at 3"),
    (b">a\nGGACC\n", {"record": "b"}, ValueError, "no record named b"),
    (b">a\nGGACC\n", {"record": 0}, ValueError, "from 1"),
    (b">a\nGGACC\n", {"ambiguous": "keep"}, ValueError, "refuse"),
    (b">a\n\n", {}, ValueError, "empty"),
    (b"3\nG\nX\nC\n", {}, ValueError, "^[^ ]*x.fa: sequence file: a word that starts with no base: X$"),
    (b"4\nG\nG\nC\n", {}, ValueError, "^[^ ]*x.fa: sequence file: the file ends before base 4$"),
    (b"9\nG\nG\nC\n", {}, ValueError, "the file ends before base 9$"),  # refused before any room is made
    (b"0\n", {}, ValueError, "sequence file: the file counts 0 bases, at least 1 is needed$"),
    (b"GGACC\n", {}, ValueError, "sequence file: no count of bases at the start$"),
    (b"3\nG\nG\nC\n", {"record": 1}, ValueError, "input format"),
    (b"\x1f\x8b\x08\x00corrupt", {}, ValueError, "x.fa"),
])
def test_bad_sequence_files(tmp_path, content, options, error, text):
    path = tmp_path / "x.fa"
    path.write_bytes(content)
    with pytest.raises(error, match=text):
        rnaqubo.Model.from_file(path, **options)


def test_unreadable_files_are_named(tmp_path):
    # The message is the tools' own "<file>: <kind> file: cannot read: <reason>".
    for call, path, error, text in [
        (rnaqubo.Model.from_file, tmp_path / "missing.fa", FileNotFoundError,
         "missing.fa: sequence file: cannot read: No such file or directory"),
        (rnaqubo.Model.from_file, tmp_path, IsADirectoryError, ": sequence file: cannot read: Is a directory"),
        (rnaqubo.read_q_file, tmp_path / "missing.txt", FileNotFoundError,
         "missing.txt: Q file: cannot read: No such file or directory"),
    ]:
        with pytest.raises(error) as caught:
            call(path)
        assert caught.value.strerror.endswith(text) and caught.value.filename == str(path)


def test_hostile_names_are_escaped(tmp_path):
    path = tmp_path / "x\x1b[2J\x07.fa"
    path.write_bytes(b">r\x1b]0;owned\x07\nGGNCC\n")
    with pytest.raises(ValueError) as caught:
        rnaqubo.Model.from_file(path)
    assert str(caught.value).endswith(r"x\x1B[2J\x07.fa: record r\x1B]0;owned\x07: 1 ambiguous letter (N at 3)")
    with pytest.raises(FileNotFoundError) as caught:
        rnaqubo.Model.from_file(tmp_path / "gone\x1b.txt")
    assert "\x1b" not in caught.value.strerror and r"gone\x1B.txt" in caught.value.strerror
