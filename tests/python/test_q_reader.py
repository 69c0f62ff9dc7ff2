"""read_q_file against a plain reader of the same format, on thousands of
randomly damaged Q files: the same entries, or an error at the same line."""
import random
import re

import numpy as np
import pytest

import rnaqubo

INT = rb"(-?\d++)"
HEADER = re.compile(rb"[ \t]*p[ \t]+" + INT + rb"[ \t]+" + INT + rb"[ \t]*")
ENTRY = re.compile(rb"[ \t]*" + INT + rb"[ \t]*" + INT + rb"[ \t]+" + INT + rb"[ \t]*")
END = re.compile(rb"[ \t]*" + INT + rb"[ \t]*")
BLANK = re.compile(rb"[ \t]*")


def fits(number):
    return -(2**31) <= number < 2**31


def plain_read(data):
    """(Q, entries) of a Q file's bytes, or ("error", line, what)."""
    lines = data.split(b"\n")
    if lines[-1] == b"":
        lines.pop()
    lines = [line[:-1] if line.endswith(b"\r") else line for line in lines]
    if not lines:
        return "error", 1, "empty"
    header = HEADER.fullmatch(lines[0])
    if not header or not fits(int(header[1])) or not fits(int(header[2])) or int(header[1]) < 0:
        return "error", 1, "header"
    quad_count, entries = int(header[1]), []
    for number, line in enumerate(lines[1:], start=2):
        end = END.fullmatch(line)
        if end and int(end[1]) == -1:
            for after, rest in enumerate(lines[number:], start=number + 1):
                if not BLANK.fullmatch(rest):
                    return "error", after, "after the final"
            seen = set()
            for k, (row, column, _) in enumerate(entries):
                if (row, column) in seen:
                    return "error", k + 2, "given twice"
                seen.add((row, column))
            return quad_count, entries
        entry = ENTRY.fullmatch(line)
        if not entry or not all(fits(int(field)) for field in entry.groups()):
            return "error", number, "found"
        row, column, value = map(int, entry.groups())
        if not (1 <= row <= quad_count and 1 <= column <= quad_count):
            return "error", number, "outside"
        if row > column:
            return "error", number, "below the diagonal"
        entries.append((row, column, value))
    return "error", len(lines) + 1, "final \"-1\""


def damage(rng, data):
    """data with one to three random edits of the kinds a broken file shows."""
    for _ in range(rng.randint(1, 3)):
        at = rng.randrange(len(data) + 1)
        kind = rng.randrange(7)
        if kind == 0:
            data = data[:at] + data[at + 1:]
        elif kind == 1:
            data = data[:at] + bytes([rng.choice(b" \t\r\n-0123456789p\x00")]) + data[at:]
        elif kind == 2:
            data = data[:at]
        elif kind == 3:
            data = data[:at] + rng.choice([b"\n", b"-1\n", b"  ", b"99999999999", b"2147483648"]) + data[at:]
        elif kind == 4:
            lines = data.split(b"\n")
            k = rng.randrange(len(lines))
            data = b"\n".join(lines[:k] + [lines[k]] + lines[k:])
        elif kind == 5:
            # An entry given again further down, in its own row or another.
            lines = data.split(b"\n")
            k = rng.randrange(len(lines))
            later = min(len(lines), k + rng.randint(1, 40))
            data = b"\n".join(lines[:later] + [lines[k]] + lines[later:])
        else:
            # An entry with its row and column swapped, or moved before another.
            lines = data.split(b"\n")
            k = rng.randrange(len(lines))
            fields = lines[k].split(b"  ")
            if len(fields) == 3:
                lines[k] = b"  ".join([fields[1], fields[0], fields[2]])
            elif k > 1:
                lines[k - 1], lines[k] = lines[k], lines[k - 1]
            data = b"\n".join(lines)
    return data


def test_damaged_q_files_read_as_a_plain_reader_reads_them(tmp_path):
    rng = random.Random(20261208)
    model = rnaqubo.Model("GGGGAAAACCCCAUGCAUGC", min_distance=0, penalty=-7)
    model.write_q_file(tmp_path / "q.txt")
    original = (tmp_path / "q.txt").read_bytes()
    path = tmp_path / "damaged.txt"
    outcomes = set()
    for _ in range(3000):
        data = damage(rng, original)
        path.unlink(missing_ok=True)  # a new file is quicker to write than an emptied one
        path.write_bytes(data)
        expected = plain_read(data)
        if expected[0] == "error":
            _, line, what = expected
            with pytest.raises(ValueError, match=f": line {line}: .*{what}"):
                rnaqubo.read_q_file(path)
            outcomes.add(what)
        else:
            count, rows, columns, values = rnaqubo.read_q_file(path)
            assert count == expected[0]
            assert np.array_equal(np.stack([rows, columns, values], axis=1).reshape(-1, 3),
                                  np.array(expected[1], dtype=np.int64).reshape(-1, 3))
            outcomes.add("read")
    # Every kind of outcome came up (an empty file only when a cut lands on byte 0).
    assert outcomes - {"empty"} == {"read", "header", "found", "outside", "after the final", "final \"-1\"",
                                    "below the diagonal", "given twice"}


# A file in the writer's order cannot repeat a couple; one that strays from it
# (a second step down in a row, a step onto an earlier column, a row that comes
# back) is checked couple by couple, and the repeat named at its line.
@pytest.mark.parametrize("entries, repeat", [
    ("1 1|1 4|1 2|1 3|1 5|2 2", None),   # the bonus 1 4 before the link 1 2: the writer's order
    ("1 1|1 4|1 2|1 4", (5, 3)),         # the bonus's column again after the link
    ("1 1|1 4|1 2|1 3|1 4|1 5", (6, 3)),
    ("1 3|1 2|1 3", (4, 2)),             # the bonus first in its row
    ("1 1|1 3|1 5|1 3", (5, 3)),         # a step down onto the column before the bonus
    ("1 1|1 3|1 5|1 2|1 3", (6, 3)),     # a step below it, then up onto it
    ("1 1|1 5|1 3|1 6|1 4", None),       # two steps down in a row, no repeat
    ("1 1|1 5|1 3|1 6|1 4|1 5", (7, 3)),
    ("1 1|1 2|2 2|1 2", (5, 3)),         # a row that comes back
    ("1 1|2 2|1 3|2 3", None),
])
def test_repeats_found_in_any_order(tmp_path, entries, repeat):
    couples = [tuple(map(int, entry.split())) for entry in entries.split("|")]
    path = tmp_path / "q.txt"
    path.write_text("p 6 1\n" + "".join(f"{row}  {column}  1\n" for row, column in couples) + "-1")
    if repeat is None:
        count, rows, columns, values = rnaqubo.read_q_file(path)
        assert list(zip(rows.tolist(), columns.tolist())) == couples
    else:
        line, first = repeat
        row, column = couples[line - 2]
        with pytest.raises(ValueError, match=f"^{path}: line {line}: the couple {row} {column} "
                                             rf"is given twice \(first on line {first}\)$"):
            rnaqubo.read_q_file(path)
