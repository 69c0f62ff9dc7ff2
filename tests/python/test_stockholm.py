"""Model.from_file on Stockholm alignments, differential against rnaqubo-seq:
for every alignment of Infernal's test suite and a few rows of each, the
model's sequence must be the rnaqubo input file that rnaqubo-seq -i writes for
that row (and the row's .txt of rnaqubo-seq --split), its reference the row's
.dbn of the split or None where the split writes none, under SS_cons and under
the rows' own SS lines; where the tool refuses a row, from_file raises
ValueError with the tool's message. Then the sources without a reference and
the bad structure= arguments."""
import glob
import gzip
import os
import re
import subprocess

import pytest

import rnaqubo

SUITE = "/usr/share/doc/infernal/examples/testsuite"
ALIGNMENTS = sorted(glob.glob(os.path.join(SUITE, "*.sto")))


def run_seq(exe, *args):
    """rnaqubo-seq's status and standard error, run on args."""
    done = subprocess.run([exe, *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    return done.returncode, done.stderr


def tool_error(stderr):
    """The tool's failure without the program's name: its last line."""
    return stderr.splitlines()[-1].removeprefix("rnaqubo-seq: ")


@pytest.mark.skipif(not ALIGNMENTS, reason="Infernal's test suite is not installed (Debian: infernal)")
@pytest.mark.parametrize("structure", ["consensus", "own"])
@pytest.mark.parametrize("path", ALIGNMENTS, ids=os.path.basename)
def test_rows_equal_the_tool(path, structure, seq_exe, tmp_path):
    own = ["--own-structure"] if structure == "own" else []
    split = tmp_path / "split"
    status, stderr = run_seq(seq_exe, "--split", str(split), "--ambiguous", "drop", *own, path)
    # (name, .txt, .dbn) of each row from the split's manifest; None when the
    # split is refused as a whole (two rows of one name, a bad structure line),
    # and the rows are then compared one by one through -i alone.
    written = None
    if status == 0:
        manifest = [line.split("\t") for line in (split / "manifest.tsv").read_text().splitlines()[1:]]
        written = [(name, split / where, split / (where[:-len(".txt")] + ".dbn")) for name, _, where in manifest]
    status, stderr = run_seq(seq_exe, "-i", "1000000000", path)
    rows = int(re.search(r"the file has (\d+) records?", stderr).group(1))
    assert written is None or len(written) == rows
    for k in sorted({1, 2, (rows + 1) // 2, rows} & set(range(1, rows + 1))):
        one = tmp_path / f"{k}.txt"
        status, stderr = run_seq(seq_exe, "-i", str(k), "--ambiguous", "drop", *own, "-o", str(one), path)
        if status != 0:
            with pytest.raises(ValueError) as refused:
                rnaqubo.Model.from_file(path, record=k, ambiguous="drop", structure=structure)
            assert str(refused.value) == tool_error(stderr)
            continue
        model = rnaqubo.Model.from_file(path, record=k, ambiguous="drop", structure=structure)
        input_text = f"{model.n}\n" + "".join(f"{c}\n" for c in model.sequence)
        assert one.read_text() == input_text
        if written is None:
            continue
        name, txt, dbn = written[k - 1]
        # The manifest lists the name made safe for a path; the .dbn keeps it as it is.
        assert re.sub(r"^[.-]|[^A-Za-z0-9._-]", "_", model.name) == name and txt.read_text() == input_text
        if dbn.exists():
            assert dbn.read_text() == f">{model.name}\n{model.sequence}\n{model.reference}\n"
        else:
            assert model.reference is None
        if k == (rows + 1) // 2 and [row[0] for row in written].count(name) == 1:
            by_name = rnaqubo.Model.from_file(path, record=model.name, ambiguous="drop", structure=structure)
            assert (by_name.sequence, by_name.reference) == (model.sequence, model.reference)


EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples")


def test_references_of_other_sources_and_bad_arguments(tmp_path):
    hairpins = os.path.join(EXAMPLES, "hairpins.sto")
    packed = tmp_path / "hairpins.sto.gz"
    packed.write_bytes(gzip.compress(open(hairpins, "rb").read()))
    plain = rnaqubo.Model.from_file(hairpins, record=3)
    compressed = rnaqubo.Model.from_file(packed, record="hp_three")
    assert (compressed.name, compressed.sequence, compressed.reference) == \
        (plain.name, plain.sequence, plain.reference) == ("hp_three", "GGGCUUCGGCCCU", "((((....)))).")
    for model in (rnaqubo.Model.from_file(os.path.join(EXAMPLES, "collection.fa")),
                  rnaqubo.Model.from_file(os.path.join(EXAMPLES, "gggccc.txt")), rnaqubo.Model("GGGAAACCC")):
        assert model.reference is None
    fasta = os.path.join(EXAMPLES, "collection.fa")
    with pytest.raises(ValueError, match=re.escape(f'{fasta}: structure="own" needs a Stockholm alignment')):
        rnaqubo.Model.from_file(fasta, structure="own")
    with pytest.raises(ValueError, match='structure must be "consensus" or "own", not "SS_cons"'):
        rnaqubo.Model.from_file(hairpins, structure="SS_cons")
    with pytest.raises(ValueError, match=re.escape(f"{hairpins}: no record number 4: the file has 3 records")):
        rnaqubo.Model.from_file(hairpins, record=4)
