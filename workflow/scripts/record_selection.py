"""Choosing records of a collection: by name, by length, by the number of pairs
of their reference structure, and the first N of what remains.

The records are those of a split written by rnaqubo-seq --split (its
manifest.tsv and each record's <name>.dbn), so that a Stockholm row's
reference is the projection rnaqubo-seq makes of the alignment's structure
(SS_cons, or the row's own #=GR SS line with --own-structure). The collection
workflow, the benchmark and the instance library all choose through here.

A selection is a mapping with any of these keys:
    names        a list of record names (as in the file, or as the split wrote
                 them); only these records, in file order
    min_length, max_length   the range of the number of bases (ungapped)
    min_pairs    at least this many pairs in the record's reference (a record
                 without a reference has none)
    count        the first N records (in file order) the other keys leave

    record_selection.py [--where TEXT] SPLIT_DIR [SELECTION_JSON]
        prints the chosen records' split names, one a line
"""
import csv
import json
import os
import sys

KEYS = ("names", "count", "min_length", "max_length", "min_pairs")
OPENING = set("([{<")


class SelectionError(ValueError):
    """A selection that cannot be used, its message naming where it was given."""


def _whole(value, where, key):
    if isinstance(value, bool) or not (isinstance(value, int) or (isinstance(value, str) and value.strip().isdigit())) \
            or int(value) < 0:
        raise SelectionError(f"{where}.{key}: must be a whole number of at least 0, not {value!r}")
    return int(value)


def read_selection(value, where):
    """The selection given as value (a mapping, or None for every record),
    checked: unknown keys, names that are not a list of words, numbers that are
    not whole numbers of at least 0 (count at least 1), and an empty length
    range raise SelectionError naming where and the key."""
    if value is None or value == {}:
        return {}
    if not isinstance(value, dict):
        raise SelectionError(f"{where}: must be a mapping of {', '.join(KEYS)}, not {value!r}")
    unknown = [key for key in value if key not in KEYS]
    if unknown:
        raise SelectionError(f"{where}: unknown key {unknown[0]!r} (the keys are {', '.join(KEYS)})")
    selection = {}
    if "names" in value:
        names = value["names"]
        if isinstance(names, str):
            names = [names]
        if not isinstance(names, list) or not names or not all(isinstance(n, (str, int)) for n in names):
            raise SelectionError(f"{where}.names: must be a list of record names, not {value['names']!r}")
        selection["names"] = [str(n) for n in names]
    for key in ("count", "min_length", "max_length", "min_pairs"):
        if key in value:
            selection[key] = _whole(value[key], where, key)
    if selection.get("count") == 0:
        raise SelectionError(f"{where}.count: must be at least 1")
    if selection.get("min_length", 0) > selection.get("max_length", sys.maxsize):
        raise SelectionError(f"{where}: min_length {selection['min_length']} is above max_length "
                             f"{selection['max_length']}")
    return selection


def reference_pairs(path):
    """The number of pairs of the structure in a one-record dot-bracket file."""
    with open(path) as f:
        lines = [line.strip() for line in f if line.strip()]
    return sum(1 for letter in lines[2] if letter in OPENING) if len(lines) >= 3 else 0


def split_records(split_dir):
    """The records of rnaqubo-seq --split's directory, in file order: each a
    mapping of name (the split's), original (the name in the file, from its
    reference when it has one), length, pairs (None without a reference), and
    the paths of its sequence and reference (None)."""
    records = []
    with open(os.path.join(split_dir, "manifest.tsv"), newline="") as rows:
        for row in csv.DictReader(rows, delimiter="\t"):
            name = row["name"]
            sequence = os.path.join(split_dir, row["path"])
            dbn = os.path.join(os.path.dirname(sequence), name + ".dbn")
            original, pairs = name, None
            if os.path.exists(dbn):
                with open(dbn) as f:
                    original = (f.readline()[1:].split() or [name])[0]
                pairs = reference_pairs(dbn)
            else:
                dbn = None
            records.append({"name": name, "original": original, "length": int(row["length"]),
                            "pairs": pairs, "sequence": sequence, "dbn": dbn})
    return records


def choose(records, selection, where, collection):
    """The records the selection keeps, in their order. A listed name that
    names no record of the collection, and a selection that keeps none, raise
    SelectionError naming where (the configuration file and key) and the
    collection."""
    chosen = list(records)
    if "names" in selection:
        known = {name for record in records for name in (record["name"], record["original"])}
        missing = [name for name in selection["names"] if name not in known]
        if missing:
            raise SelectionError(f"{where}.names: {missing[0]!r} is not a record of {collection}"
                                 + (f" (nor are {len(missing) - 1} more)" if len(missing) > 1 else ""))
        wanted = set(selection["names"])
        chosen = [r for r in chosen if r["name"] in wanted or r["original"] in wanted]
    chosen = [r for r in chosen if selection.get("min_length", 0) <= r["length"] <= selection.get("max_length", sys.maxsize)]
    if "min_pairs" in selection:
        chosen = [r for r in chosen if (r["pairs"] or 0) >= selection["min_pairs"]]
    if "count" in selection:
        chosen = chosen[:selection["count"]]
    if not chosen:
        raise SelectionError(f"{where}: selects no record of {collection} ({len(records)} records)")
    return chosen


def main(arguments):
    where = "selection"
    if arguments[:1] == ["--where"]:
        where, arguments = arguments[1], arguments[2:]
    if len(arguments) not in (1, 2):
        print("usage: record_selection.py [--where TEXT] SPLIT_DIR [SELECTION_JSON]", file=sys.stderr)
        return 2
    try:
        selection = read_selection(json.loads(arguments[1]) if len(arguments) > 1 else {}, where)
        for record in choose(split_records(arguments[0]), selection, where, arguments[0]):
            print(record["name"])
    except (SelectionError, OSError, json.JSONDecodeError) as failure:
        print(f"record_selection: {failure}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
