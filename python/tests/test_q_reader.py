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
        kind = rng.randrange(6)
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
