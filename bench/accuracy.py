"""The helpers of bench/accuracy: choosing the sequences of a family, and
summarising and plotting the collection workflow's tables.

    accuracy.py letters FAMILY.sto > OUT.sto
        the alignment without the rows whose letters are not A, C, G, T or U
        (gaps aside): no ambiguity code, no other letter
    accuracy.py paired FAMILY.sto REFERENCES.dbn > OUT.sto
        the alignment without the rows whose reference in REFERENCES.dbn (as
        rnaqubo-seq --write-dbn wrote it) has no pair, or that have none
    accuracy.py rows FAMILY.sto
        the number of sequences of the alignment
    accuracy.py summarise FAMILY=[TABLE.tsv]:[REFERENCES.dbn] ... > SUMMARY.tsv
        one line per family and setting of the tables; a family without a
        table has no sequence to fold
    accuracy.py markdown SUMMARY.tsv [MIN_DISTANCE ADD_QUADS]
        the summary as a Markdown table, all settings or one
    accuracy.py plot SVG MIN_DISTANCE ADD_QUADS FAMILY=TABLE.tsv ...
        F1 against length, a panel per family
"""
import csv
import statistics
import sys

GAPS = set(".-_~")
BASES = set("ACGTU")


def alignment_rows(line):
    """The row name of a Stockholm line that holds a row or a #=GR line, else None."""
    words = line.split()
    if not words or words[0] == "//":
        return None
    if words[0] == "#=GR" and len(words) > 1:
        return words[1]
    return None if words[0].startswith("#") else words[0]


def filter_rows(path, keep):
    """Prints the Stockholm file without the rows (and #=GR lines) keep refuses."""
    with open(path) as lines:
        for line in lines:
            name = alignment_rows(line)
            if name is None or keep(name):
                sys.stdout.write(line)


def row_letters(path):
    letters = {}
    with open(path) as lines:
        for line in lines:
            words = line.split()
            if len(words) == 2 and not words[0].startswith("#") and words[0] != "//":
                letters[words[0]] = letters.get(words[0], "") + words[1]
    return letters


def read_dbn(path):
    """{name: (letters, structure)} of a dot-bracket file of three-line records."""
    with open(path) as text:
        lines = [line.strip() for line in text if line.strip()]
    return {lines[k][1:]: (lines[k + 1], lines[k + 2]) for k in range(0, len(lines), 3)}


def pair_counts(structure):
    """(pairs, pairs written with [] {} <>: the ones that cross a () pair)."""
    paired = sum(structure.count(c) for c in "([{<")
    return paired, paired - structure.count("(")


def read_table(path):
    with open(path, newline="") as rows:
        return list(csv.DictReader(rows, delimiter="\t"))


SETTINGS = ("min_distance", "add_quads", "penalty")
COLUMNS = ["family", "min_distance", "add_quads", "penalty", "sequences", "mean_length", "median_f1",
           "mean_f1", "mean_sensitivity", "mean_ppv", "certified", "knotted_reference_pairs"]


def summarise(arguments):
    """One row per family and setting: the means and medians over its sequences.
    A family given without a table (FAMILY=:REFERENCES.dbn) has no sequence to
    fold: its rows, one per setting of the others, say 0 and NA."""
    out = csv.writer(sys.stdout, delimiter="\t", lineterminator="\n")
    out.writerow(COLUMNS)
    families = []
    for argument in arguments:
        family, _, paths = argument.partition("=")
        table, _, dbn = paths.partition(":")
        references = read_dbn(dbn) if dbn else {}
        pairs = knotted = 0
        for _, structure in references.values():
            counted = pair_counts(structure)
            pairs, knotted = pairs + counted[0], knotted + counted[1]
        groups = {}
        for row in read_table(table) if table else []:
            if row["reference"] != "yes":
                raise SystemExit(f"{table}: {row['name']} has no reference")
            groups.setdefault(tuple(row[key] for key in SETTINGS), []).append(row)
        families.append((family, groups, f"{knotted}/{pairs}"))
    settings = sorted({setting for _, groups, _ in families for setting in groups},
                      key=lambda setting: tuple(int(v) for v in setting))
    for family, groups, knotted in families:
        for setting in settings:
            rows = groups.get(setting, [])
            if not rows:
                out.writerow([family, *setting, 0, *["NA"] * 5, 0, knotted])
                continue
            f1 = [float(row["f1"]) for row in rows]
            out.writerow([family, *setting, len(rows),
                          f"{statistics.mean(int(row['length']) for row in rows):.1f}",
                          f"{statistics.median(f1):.4f}", f"{statistics.mean(f1):.4f}",
                          f"{statistics.mean(float(row['sensitivity']) for row in rows):.4f}",
                          f"{statistics.mean(float(row['ppv']) for row in rows):.4f}",
                          sum(row["certified"] == "yes" for row in rows), knotted])


def markdown(path, wanted):
    rows = read_table(path)
    if wanted:
        rows = [row for row in rows if (row["min_distance"], row["add_quads"]) == tuple(wanted)]
    heads = ["family", "min. distance", "add_quads", "sequences", "mean length", "median F1", "mean F1",
             "mean sensitivity", "mean PPV", "certified", "knotted reference pairs"]
    keys = ["family", "min_distance", "add_quads", "sequences", "mean_length", "median_f1", "mean_f1",
            "mean_sensitivity", "mean_ppv", "certified", "knotted_reference_pairs"]
    if wanted:
        heads, keys = heads[:1] + heads[3:], keys[:1] + keys[3:]
    print("| " + " | ".join(heads) + " |")
    print("|" + "---|" * len(heads))
    for row in rows:
        print("| " + " | ".join(row[key] for key in keys) + " |")


def plot(svg, min_distance, add_quads, arguments):
    import matplotlib

    matplotlib.use("svg")
    import matplotlib.pyplot as pyplot

    matplotlib.rcParams["svg.hashsalt"] = "rnaqubo"  # the same plot gives the same file
    figure, axes = pyplot.subplots(2, (len(arguments) + 1) // 2, figsize=(12, 7), squeeze=False)
    for axis, argument in zip(axes.flat, arguments):
        family, _, table = argument.partition("=")
        rows = [row for row in read_table(table)
                if (row["min_distance"], row["add_quads"]) == (min_distance, add_quads)]
        axis.scatter([int(row["length"]) for row in rows], [float(row["f1"]) for row in rows], s=8)
        axis.set_title(f"{family} ({len(rows)} sequences)")
        axis.set_xlabel("length")
        axis.set_ylabel("F1")
        axis.set_ylim(-0.05, 1.05)
    for axis in list(axes.flat)[len(arguments):]:
        axis.set_visible(False)
    figure.suptitle(f"F1 of the certified optimum against the projected reference "
                    f"(minimum distance {min_distance}, add_quads {add_quads}, penalty -200)")
    figure.tight_layout()
    figure.savefig(svg, metadata={"Date": None})


def main():
    mode, arguments = sys.argv[1], sys.argv[2:]
    if mode == "letters":
        letters = row_letters(arguments[0])
        filter_rows(arguments[0], lambda name: not set(letters.get(name, "").upper()) - GAPS - BASES)
    elif mode == "paired":
        references = read_dbn(arguments[1])
        filter_rows(arguments[0], lambda name: name in references and pair_counts(references[name][1])[0] > 0)
    elif mode == "rows":
        print(len(row_letters(arguments[0])))
    elif mode == "summarise":
        summarise(arguments)
    elif mode == "markdown":
        markdown(arguments[0], arguments[1:3])
    elif mode == "plot":
        plot(arguments[0], arguments[1], arguments[2], arguments[3:])
    else:
        raise SystemExit(__doc__)


main()
