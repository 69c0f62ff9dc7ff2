"""The benchmark's instance sets: the chosen records of a FASTA, FASTQ or
Stockholm file, or of an instance library's manifest, each whole and reduced
at the set's DELTAs, as entries of the benchmark's instance table. Also the
manifest's columns, which bench/instances writes and this reads."""
import csv
import hashlib
import json
import os
import re
import shutil
import subprocess

import record_selection

# The manifest: one row per instance (a record's whole model, or the model
# reduced at one DELTA), its three files with their sha256 beside each.
MANIFEST_COLUMNS = [
    "instance", "family", "record", "kind", "delta", "bases", "reference_pairs",
    "min_distance", "add_quads", "penalty", "variables", "entries", "optimum", "certified", "optima",
    "qubo", "qubo_sha256", "lp", "lp_sha256", "milp", "milp_sha256", "sequence", "reference",
]
SET_KEYS = ("file", "name", "select", "reduce", "whole", "dbn", "own_structure", "ambiguous",
            "min_distance", "add_quads", "penalty")
DELTA = re.compile(r"[0-9]+|[0-9]+(\.[0-9]+)?%")


def delta_tag(delta):
    """A DELTA as it appears in instance names: 5% as 5pct, 20 as 20."""
    return delta[:-1].replace(".", "_") + "pct" if delta.endswith("%") else delta


def sha256(path):
    """The sha256 of a file, in hexadecimal."""
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def read_manifest(path):
    """The rows of an instance library's manifest, as mappings of its columns."""
    with open(path, newline="") as f:
        rows = list(csv.DictReader((line for line in f if not line.startswith("#")), delimiter="\t"))
    if rows and set(MANIFEST_COLUMNS) - set(rows[0]):
        raise ValueError(f"{path}: not an instance manifest: no column "
                         f"{sorted(set(MANIFEST_COLUMNS) - set(rows[0]))[0]}")
    return rows


def is_manifest(path):
    """Whether path is a manifest (a TSV whose header starts with 'instance')."""
    if path.endswith((".gz", ".bgz")):
        return False
    with open(path, errors="replace") as f:
        for line in f:
            if not line.startswith("#"):
                return line.startswith("instance\t")
    return False


def manifest_split(rows, directory):
    """Writes the whole instances of a manifest as a split (manifest.tsv, and
    <record>/<record>.txt and .dbn) in directory; returns the rows by record."""
    os.makedirs(directory)
    by_record = {}
    with open(os.path.join(directory, "manifest.tsv"), "w") as out:
        out.write("name\tlength\tpath\n")
        for row in rows:
            if row["kind"] != "whole":
                continue
            name = row["instance"]
            by_record[name] = row
            os.makedirs(os.path.join(directory, name))
            with open(os.path.join(directory, name, name + ".txt"), "w") as f:
                f.write(f"{len(row['sequence'])}\n" + "".join(letter + "\n" for letter in row["sequence"]))
            if row["reference"] not in ("", "NA"):
                with open(os.path.join(directory, name, name + ".dbn"), "w") as f:
                    f.write(f">{name}\n{row['sequence']}\n{row['reference']}\n")
            out.write(f"{name}\t{len(row['sequence'])}\t{name}/{name}.txt\n")
    return by_record


def keep_split(directory, stamp, write):
    """Makes directory with write(path) unless its stamp file already holds
    stamp. Every job of a run reads the configuration again, some in processes
    of their own, so the first writes it and the others find it: it is written
    beside and renamed into place, and never rewritten while unchanged."""
    stamp_path = directory + ".stamp"
    try:
        with open(stamp_path) as f:
            if f.read() == stamp and os.path.isdir(directory):
                return
    except FileNotFoundError:
        pass
    os.makedirs(os.path.dirname(directory) or ".", exist_ok=True)
    temporary = f"{directory}.{os.getpid()}.tmp"
    if os.path.isdir(temporary):
        shutil.rmtree(temporary)
    try:
        write(temporary)
    except BaseException:
        shutil.rmtree(temporary, ignore_errors=True)
        raise
    if os.path.isdir(directory):
        shutil.rmtree(directory)
    os.rename(temporary, directory)
    with open(stamp_path + ".tmp", "w") as f:
        f.write(stamp)
    os.replace(stamp_path + ".tmp", stamp_path)


def file_stamp(paths, **settings):
    """What a split depends on: the files (path, size, time) and its settings."""
    return json.dumps({"files": [[os.path.abspath(f), os.stat(f).st_size, os.stat(f).st_mtime_ns] for f in paths],
                       **settings}, sort_keys=True)


def split_file(path, entry, rnaqubo_seq, directory):
    """rnaqubo-seq --split of a collection into directory, redone only when
    the file, its references or the split's settings changed."""
    files = [path] + ([str(entry["dbn"])] if entry.get("dbn") else [])
    ambiguous = str(entry.get("ambiguous", "refuse"))

    def write(target):
        arguments = [rnaqubo_seq, "--split", target, "--ambiguous", ambiguous]
        if entry.get("dbn"):
            arguments += ["--dbn", str(entry["dbn"])]
        if entry.get("own_structure"):
            arguments.append("--own-structure")
        result = subprocess.run(arguments + ["--", path], capture_output=True, text=True)
        if result.returncode != 0:
            raise ValueError(f"{path}: its records cannot be split: {result.stderr.strip()}")

    keep_split(directory, file_stamp(files, own=bool(entry.get("own_structure")), ambiguous=ambiguous,
                                     program=rnaqubo_seq), write)


def set_instances(sets, config_file, rnaqubo_seq, directory):
    """The benchmark's instance entries of the sets (the configuration's
    'sets' list): name, file (the record in rnaqubo's format), dbn and record
    (its reference), the model's numbers, reduce, and for a manifest the sha256
    its model.qubo must have. Raises ValueError naming config_file and the key."""
    if not isinstance(sets, list):
        raise ValueError(f"{config_file}: sets: must be a list, not {sets!r}")
    entries = []
    for index, entry in enumerate(sets):
        where = f"{config_file}: sets[{index}]"
        if not isinstance(entry, dict) or "file" not in entry:
            raise ValueError(f"{where}: needs a 'file'")
        unknown = [key for key in entry if key not in SET_KEYS]
        if unknown:
            raise ValueError(f"{where}: unknown key {unknown[0]!r} (the keys are {', '.join(SET_KEYS)})")
        path = str(entry["file"])
        if not os.path.exists(path):
            raise ValueError(f"{where}.file: {path}: no such file")
        set_name = str(entry.get("name") or os.path.basename(path).split(".")[0])
        if not re.fullmatch(r"[A-Za-z0-9_][A-Za-z0-9._-]*", set_name):
            raise ValueError(f"{where}.name: {set_name!r}: needs letters, digits, '.', '_' or '-'")
        deltas = entry.get("reduce") or []
        deltas = [deltas] if isinstance(deltas, (str, int)) else deltas
        if not isinstance(deltas, list) or not all(DELTA.fullmatch(str(d)) for d in deltas):
            raise ValueError(f"{where}.reduce: must be a list of DELTAs (integers, or percentages such "
                             f"as 10%), not {entry.get('reduce')!r}")
        deltas = [str(d) for d in deltas]
        selection = record_selection.read_selection(entry.get("select"), f"{where}.select")
        split_dir = os.path.join(directory, set_name, "records")
        manifest = is_manifest(path)
        if manifest:
            rows = read_manifest(path)
            keep_split(split_dir, file_stamp([path]), lambda target: manifest_split(rows, target))
            by_record = {row["instance"]: row for row in rows if row["kind"] == "whole"}
        else:
            for key in ("min_distance", "add_quads", "penalty"):
                if not re.fullmatch(r"[+-]?[0-9]+", str(entry.get(key, ""))):
                    raise ValueError(f"{where}.{key}: must be an integer, not {entry.get(key)!r}")
            split_file(path, entry, rnaqubo_seq, split_dir)
        chosen = record_selection.choose(record_selection.split_records(split_dir), selection,
                                         f"{where}.select", path)
        whole = entry.get("whole", True) not in (False, "false", "no", 0)
        for record in chosen:
            base = {"file": record["sequence"], "record": record["original"]}
            if manifest:
                base["source_name"] = record["name"]
            if record["dbn"]:
                base["dbn"] = record["dbn"]
            if manifest:
                row = by_record[record["name"]]
                base.update({key: row[key] for key in ("min_distance", "add_quads", "penalty")})
                shas = {(r["delta"] if r["kind"] == "reduced" else ""): r["qubo_sha256"]
                        for r in rows if r["record"] == row["record"] and r["family"] == row["family"]}
            else:
                base.update({key: str(entry[key]) for key in ("min_distance", "add_quads", "penalty")})
                shas = {}
            name = f"{set_name}.{record['name']}"
            for delta in ([""] if whole else []) + deltas:
                instance = dict(base, name=name + (f".{delta_tag(delta)}" if delta else ""))
                if delta:
                    instance["reduce"] = delta
                if delta in shas:
                    instance["qubo_sha256"] = shas[delta]
                entries.append(instance)
    return entries
