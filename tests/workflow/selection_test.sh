#!/usr/bin/env bash
# Record selection: a table of selections of a Stockholm alignment and of a
# FASTA file with references, each through the one selection (the split's
# records, chosen by workflow/scripts/record_selection.py), against the names
# worked out by hand or the error it must name. Then the same selection in a
# real run of the collection workflow and in a dry run of the benchmark, and
# -q all runs that fail: each prints the failing job's message or the
# configuration's key.
#
#   selection_test.sh SOURCE_DIR RNAQUBO RNAQUBO_SEQ RNAQUBO_FOLD
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../check_lib.sh"
source_dir=$(realpath "$1") rnaqubo=$(realpath "$2") seq_exe=$(realpath "$3") fold_exe=$(realpath "$4")
command -v snakemake > /dev/null || { echo "SKIP: snakemake is not installed"; exit 77; }
enter_scratch
failures=0 checks=0
select_py=$source_dir/workflow/scripts/record_selection.py

# SS_cons pairs columns 1-12, 2-11, 3-10, 4-9: r1 and r4 keep all four, r2
# (gaps at 4 and 10) two, r3 (bases at 1, 5-8 and 12) one.
cat > family.sto <<'ALIGNMENT'
# STOCKHOLM 1.0
r1 GGGGAAAACCCC
r2 GGG-AAAAC-CC
r3 G---AAAA---C
r4 GGGGAAAACCCU
#=GC SS_cons <<<<....>>>>
//
ALIGNMENT
# f1 has no reference; f/3 is split as f_3 and may be named either way.
printf '>f1\nGGGGAAAACCCC\n>f2\nGGGAAAUCCC\n>f/3\nGGGGGAAAACCCCC\n' > set.fa
printf '>f2\nGGGAAAUCCC\n(((....)))\n>f/3\nGGGGGAAAACCCCC\n((((....))))..\n' > set.dbn
"$seq_exe" --split sto family.sto 2> /dev/null && "$seq_exe" --split fa --dbn set.dbn set.fa 2> /dev/null ||
  { echo "FAIL: rnaqubo-seq --split"; exit 1; }

# SPLIT | SELECTION | the names chosen, or !text the error must hold
while IFS='|' read -r split selection expected; do
  got=$(/usr/bin/python3 "$select_py" --where "c.yaml: select" "$split" "$selection" 2>&1 | tr '\n' ' ')
  if [ "${expected:0:1}" = '!' ]; then
    check "$split $selection refused ($got)" grep -qF -- "${expected:1}" <<< "$got"
  else
    check "$split $selection chooses $expected (got $got)" test "$got" = "$expected "
  fi
done <<'CASES'
sto|{}|r1 r2 r3 r4
sto|{"names": ["r3", "r1"]}|r1 r3
sto|{"count": 2}|r1 r2
sto|{"min_length": 10}|r1 r2 r4
sto|{"max_length": 10}|r2 r3
sto|{"min_length": 6, "max_length": 6}|r3
sto|{"min_pairs": 2}|r1 r2 r4
sto|{"min_pairs": 2, "max_length": 11}|r2
sto|{"min_pairs": 3, "count": 1, "names": ["r4", "r3"]}|r4
sto|{"names": ["r1", "zz"]}|!c.yaml: select.names: 'zz' is not a record of sto
sto|{"min_pairs": 5}|!c.yaml: select: selects no record of sto (4 records)
sto|{"min_length": 9, "max_length": 8}|!c.yaml: select: min_length 9 is above max_length 8
sto|{"count": 0}|!c.yaml: select.count: must be at least 1
sto|{"count": -1}|!c.yaml: select.count: must be a whole number
sto|{"size": 3}|!c.yaml: select: unknown key 'size'
fa|{}|f1 f2 f_3
fa|{"names": ["f/3", "f1"]}|f1 f_3
fa|{"names": ["f_3"]}|f_3
fa|{"min_pairs": 1}|f2 f_3
fa|{"min_pairs": 4}|f_3
fa|{"max_length": 12, "count": 1}|f1
fa|{"min_pairs": 1, "min_length": 11}|f_3
CASES

config() { printf 'rnaqubo: %s\nrnaqubo_seq: %s\nrnaqubo_fold: %s\n' "$rnaqubo" "$seq_exe" "$fold_exe"; }
# The collection workflow folds only the chosen rows, with their projected references.
{ config; printf 'fasta: family.sto\nmin_distance: 2\nadd_quads: 1\npenalty: -200\n'
  printf 'select: {min_pairs: 2, count: 2}\n'; } > flow.yaml
snakemake -s "$source_dir/workflow/Snakefile" --configfile flow.yaml -j 2 -q all > flow.log 2>&1
check "the workflow folds the chosen rows" test "$(cut -f 1,11 results/table.tsv 2>/dev/null | tr '\t\n' ': ')" \
  = "name:reference r1:yes r2:yes "
# The benchmark expands the same selection of the FASTA file into its instances.
{ config; printf 'rnaqubo_anneal: %s\nsolvers: {exact: {command: "true"}}\n' "$fold_exe"
  printf 'sets: [{file: set.fa, dbn: set.dbn, select: {min_pairs: 1}, reduce: [5%%], min_distance: 2, add_quads: 1, penalty: -200}]\n'
} > bench.yaml
snakemake -s "$source_dir/workflow/benchmark.smk" --configfile bench.yaml -n -j 1 > bench.log 2>&1
check "the benchmark's set holds the chosen records, whole and reduced" test \
  "$(sed -n 's/^ *wildcards: name=\([^,]*\)$/\1/p' bench.log | sort -u | tr '\n' ' ')" \
  = "set.f2 set.f2.5pct set.f_3 set.f_3.5pct "

# -q all prints nothing of its own: a failing job's log and a selection's error still show.
printf '>bad\nGGGNAAACCC\n' > bad.fa
snakemake -s "$source_dir/workflow/Snakefile" --configfile flow.yaml -j 1 -q all \
  --config fasta=bad.fa > quiet.out 2> quiet.err
check "a failing -q run fails" test $? -ne 0
check "a failing -q run prints the job's message" grep -q 'bad.fa: record bad: 1 ambiguous letter' quiet.err
check "... naming the job's log" grep -q 'logs/split.log' quiet.err
sed -i 's/count: 2/names: [r1, nowhere]/' flow.yaml
snakemake -s "$source_dir/workflow/Snakefile" --configfile flow.yaml -j 1 -q all > quiet.out 2> quiet.err
check "a -q run names the selection's file and key" grep -q "flow.yaml: select.names: 'nowhere' is not a record" quiet.err

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
