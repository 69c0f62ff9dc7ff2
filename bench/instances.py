"""The frozen instance library: RNAs of Infernal's test-suite alignments, each
as .qubo, LP and MILP with its certified optimum, whole and reduced, listed
with a sha256 per file in one manifest (bench/instances.tsv).

The rule that chooses the records, fixed so that a rebuild gives the same library:
  * the families are the alignments of the suite's *.sto files, in the order of
    the file names and, within a file, of the file; a file of one alignment
    names its family, the k-th of several is <file>-<k>;
  * a family's rows are those whose letters are A, C, G, T or U (gaps aside),
    each with its reference projected by rnaqubo-seq from the alignment's
    #=GC SS_cons (T read as U); an alignment rnaqubo-seq refuses gives none;
  * of these, in file order, those of MIN_LENGTH to MAX_LENGTH bases (20 and
    1500), through the one record selection (workflow/scripts/record_selection.py);
  * and of those the first PER_FAMILY (16) whose ungapped sequence no earlier
    record of the library has, of which at most LONG_PER_FAMILY (2) of more
    than LONG (1,000) bases: the models of 1,500 bases take 1.7 GB of files
    and half a minute each, and are kept to a few.
Each record is folded at minimum distance 4, add_quads 1, penalty -200, and
written whole and reduced at 5% and 10% (rnaqubo-fold --reduce keeps every
conflict-free selection within DELTA of the optimum: it lists none, so no
reduction is capped). The optimum's certification and the number of optima
(--subopt 0, exact; a count that saturated is written with a trailing '+')
are rnaqubo-fold's. The files record only the sequence file's bare name,
<family>.<record>.txt, so the benchmark harness rebuilds them byte for byte.
Files larger than --keep-mb (64) are removed once hashed: the manifest keeps
their sha256, and a rebuild (or the harness) makes them again.

    instances.py --build DIR [--suite DIR] [--out DIR] [--manifest FILE]
                 [--per-family K] [--families A,B] [--jobs N] [--keep-mb MB] [--check]
        builds the library in --out (default bench/out/instances) and writes
        the manifest (default bench/instances.tsv); with --check, builds it
        and compares every row with the manifest instead, printing each
        difference (exit status 1 if there is one)
"""
import argparse
import concurrent.futures
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "workflow", "scripts"))
import instance_sets  # noqa: E402
import record_selection  # noqa: E402

SUITE = "/usr/share/doc/infernal/examples/testsuite"
MODEL = ("4", "1", "-200")
DELTAS = ("5%", "10%")
MIN_LENGTH, MAX_LENGTH = 20, 1500
LONG, LONG_PER_FAMILY = 1000, 2
BASES = set("ACGTUacgtu")
GAPS = set(".-_~")


def alignments(path):
    """The alignments of a Stockholm file, each as its list of lines."""
    blocks, block = [], []
    with open(path, errors="replace") as f:
        for line in f:
            block.append(line)
            if line.strip() == "//":
                blocks.append(block)
                block = []
    return blocks


def bases_only(block):
    """The alignment without the rows (and their #=GR lines) that hold a letter
    other than a base or a gap."""
    rows = {}
    for line in block:
        words = line.split()
        if len(words) == 2 and not line.startswith("#") and words[0] != "//":
            rows[words[0]] = rows.get(words[0], True) and set(words[1]) <= BASES | GAPS
    kept = []
    for line in block:
        words = line.split()
        name = words[1] if words[:1] == ["#=GR"] and len(words) > 1 else (
            words[0] if words and not line.startswith("#") and words[0] != "//" else None)
        if name is None or rows.get(name, True):
            kept.append(line)
    return kept


def choose_records(suite, per_family, families, scratch, rnaqubo_seq):
    """The library's records by the rule above: (family, split record, letters)
    triples, of the given families only when families is not empty (every
    family is read, since a record is left out when an earlier family has it)."""
    chosen, seen = [], set()
    files = sorted(name for name in os.listdir(suite) if name.endswith(".sto"))
    for file_name in files:
        blocks = alignments(os.path.join(suite, file_name))
        stem = file_name[:-len(".sto")]
        for k, block in enumerate(blocks, 1):
            family = stem if len(blocks) == 1 else f"{stem}-{k}"
            path = os.path.join(scratch, family + ".sto")
            with open(path, "w") as f:
                f.writelines(bases_only(block))
            split = os.path.join(scratch, family)
            result = subprocess.run([rnaqubo_seq, "--split", split, "--", path], capture_output=True, text=True)
            if result.returncode != 0:
                print(f"instances: family {family}: left out: {result.stderr.strip().splitlines()[-1:]}",
                      file=sys.stderr)
                continue
            try:
                records = record_selection.choose(
                    record_selection.split_records(split),
                    {"min_length": MIN_LENGTH, "max_length": MAX_LENGTH}, f"family {family}", path)
            except record_selection.SelectionError:
                continue
            taken = long_taken = 0
            for record in records:
                with open(record["sequence"]) as f:
                    letters = "".join(f.read().split()[1:])
                long = len(letters) > LONG
                if letters in seen or taken == per_family or (long and long_taken == LONG_PER_FAMILY):
                    continue
                seen.add(letters)
                if not families or family in families:
                    chosen.append((family, record, letters))
                taken += 1
                long_taken += long
    return chosen


def fold(build, directory, stem, reference, extra):
    """rnaqubo-fold on <stem>.txt in directory with extra options; its --json figures."""
    arguments = [os.path.join(build, "rnaqubo-fold"), f"{stem}.txt", None, *MODEL, "--json", "figures.json"]
    with open(os.path.join(directory, f"{stem}.txt")) as f:
        arguments[2] = f.readline().strip()
    if reference:
        arguments += ["--reference", "reference.dbn"]
    result = subprocess.run(arguments + extra, cwd=directory, capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"{directory}: rnaqubo-fold {' '.join(extra)}: {result.stderr.strip()}")
    with open(os.path.join(directory, "figures.json")) as f:
        figures = json.load(f)
    os.remove(os.path.join(directory, "figures.json"))
    return figures


def build_record(build, out, keep_bytes, family, record, letters):
    """The manifest rows of one record: whole, then each reduction."""
    stem = f"{family}.{record['name']}"
    directory = os.path.join(out, family, record["name"])
    if os.path.isdir(directory):
        shutil.rmtree(directory)
    os.makedirs(directory)
    shutil.copyfile(record["sequence"], os.path.join(directory, f"{stem}.txt"))
    structure = "NA"
    if record["dbn"]:
        with open(record["dbn"]) as f:
            structure = f.read().split("\n")[2].strip()
        with open(os.path.join(directory, "reference.dbn"), "w") as f:
            f.write(f">{stem}\n{letters}\n{structure}\n")
    rows = []
    for delta in ("",) + DELTAS:
        tag = f".{instance_sets.delta_tag(delta)}" if delta else ""
        files = {kind: f"{stem}{tag}.{suffix}" for kind, suffix in (("qubo", "qubo"), ("lp", "lp"), ("milp", "milp.lp"))}
        extra = ["--write-qubo", files["qubo"], "--write-lp", files["lp"], "--write-milp", files["milp"]]
        extra += ["--reduce", delta] if delta else ["--subopt", "0", "--max-selections", "1"]
        figures = fold(build, directory, stem, record["dbn"] is not None, extra)
        if not delta:
            optima = figures["optima"]
            count = str(optima["count"]) + ("+" if optima.get("saturated") else "")
        with open(os.path.join(directory, files["qubo"])) as f:
            header = next(line for line in f if line.startswith("p qubo"))
        nodes, couplers = header.split()[4:6]
        row = {"instance": stem + tag, "family": family, "record": record["original"],
               "kind": "reduced" if delta else "whole", "delta": delta or "-", "bases": str(len(letters)),
               "reference_pairs": "NA" if record["pairs"] is None else str(record["pairs"]),
               "min_distance": MODEL[0], "add_quads": MODEL[1], "penalty": MODEL[2],
               "variables": str(figures["reduced"]["kept"] if delta else figures["model"]["quads"]),
               "entries": str(int(nodes) + int(couplers)), "optimum": str(figures["optimum"]),
               "certified": "yes" if figures["certified"] else "no", "optima": count,
               "sequence": letters, "reference": structure}
        for kind, name in files.items():
            path = os.path.join(directory, name)
            row[kind] = os.path.relpath(path, out)
            row[kind + "_sha256"] = instance_sets.sha256(path)
            # The largest files (the 1,500-base models' reach 0.7 GB) are
            # hashed and removed: the manifest rebuilds them.
            if os.path.getsize(path) > keep_bytes:
                os.remove(path)
        rows.append(row)
    return rows


HEADER = ("# rnaqubo instance library: Infernal test-suite records, min_distance 4, add_quads 1, penalty -200;\n"
          "# kind whole or reduced (at delta); certified: the optimum is the whole model's, proven;\n"
          "# optima: optimal selections (exact; '+' when the count saturated); paths relative to the build directory\n")


def write_manifest(path, rows):
    with open(path + ".tmp", "w") as f:
        f.write(HEADER + "\t".join(instance_sets.MANIFEST_COLUMNS) + "\n")
        for row in rows:
            f.write("\t".join(row[c] for c in instance_sets.MANIFEST_COLUMNS) + "\n")
    os.replace(path + ".tmp", path)


def main():
    parser = argparse.ArgumentParser(description="Builds or checks the frozen instance library.")
    parser.add_argument("--build", required=True, help="the directory of rnaqubo-seq and rnaqubo-fold")
    parser.add_argument("--suite", default=SUITE)
    parser.add_argument("--out", default=os.path.join(ROOT, "bench", "out", "instances"))
    parser.add_argument("--manifest", default=os.path.join(ROOT, "bench", "instances.tsv"))
    parser.add_argument("--per-family", type=int, default=16)
    parser.add_argument("--keep-mb", type=float, default=64,
                        help="remove, once hashed, each instance file larger than this (MB)")
    parser.add_argument("--families", default="", help="only these families (comma-separated)")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--check", action="store_true")
    options = parser.parse_args()
    families = set(filter(None, options.families.split(",")))
    options.build = os.path.abspath(options.build)
    with tempfile.TemporaryDirectory() as scratch:
        records = choose_records(options.suite, options.per_family, families, scratch,
                                 os.path.join(options.build, "rnaqubo-seq"))
        os.makedirs(options.out, exist_ok=True)
        with concurrent.futures.ThreadPoolExecutor(max(1, options.jobs)) as pool:
            built = list(pool.map(lambda r: build_record(options.build, options.out, options.keep_mb * 1e6, *r), records))
    rows = [row for record_rows in built for row in record_rows]
    print(f"instances: {len(records)} records, {len(rows)} instances in {options.out}", file=sys.stderr)
    if not options.check:
        write_manifest(options.manifest, rows)
        return 0
    # With --families, only those families' rows are rebuilt and compared.
    frozen = {row["instance"]: row for row in instance_sets.read_manifest(options.manifest)
              if not families or row["family"] in families}
    differences = 0
    for row in rows:
        old = frozen.pop(row["instance"], None)
        for column in instance_sets.MANIFEST_COLUMNS if old else ["instance"]:
            if old is None or old[column] != row[column]:
                differences += 1
                print(f"{row['instance']}: {column}: " + (f"{old[column]} in {options.manifest}, {row[column]} rebuilt"
                                                          if old else f"not in {options.manifest}"))
    for name in frozen:
        differences += 1
        print(f"{name}: in {options.manifest}, not rebuilt")
    print(f"instances: {len(rows)} rows rebuilt, {differences} differences from {options.manifest}",
          file=sys.stderr)
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
