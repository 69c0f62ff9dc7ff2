#!/usr/bin/env bash
# Runs the collection workflow with snakemake -j 2 on the bundled collection
# (with its reference structures) and compares results/table.tsv with a table
# made here by running rnaqubo-seq, rnaqubo and rnaqubo-fold by hand on each
# record. Also checks that the large Q files are deleted unless kept, and that a
# second run finds nothing to do.
#
#   workflow_test.sh SOURCE_DIR RNAQUBO RNAQUBO_SEQ RNAQUBO_FOLD
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../check_lib.sh"
source_dir=$(realpath "$1") rnaqubo=$(realpath "$2") seq_exe=$(realpath "$3")
fold_exe=$4
command -v snakemake > /dev/null || { echo "SKIP: snakemake is not installed"; exit 77; }
[ -x "$fold_exe" ] || { echo "SKIP: rnaqubo-fold is not built"; exit 77; }
fold_exe=$(realpath "$fold_exe")
# Reference structures need rnaqubo-fold --reference; without it they are left out.
dbn_config=(dbn=examples/collection.dbn)
if ! "$fold_exe" --help 2>&1 | grep -q -- --reference; then
  echo "note: this rnaqubo-fold has no --reference: the workflow runs without references"
  dbn_config=(dbn=)
fi
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0 checks=0

# The expected table, by hand: each record converted, modelled and folded in a
# directory of its own.
mkdir -p "$work/hand"
cd "$work/hand" || exit 1
printf 'name\tlength\tfeasible_pairs\tquads\tq_file_bytes\toptimum\tcertified\tsensitivity\tppv\tf1\n' > expected.tsv
for name in trna_phe_yeast hairpin_gc hairpin_alu; do
  mkdir "$name" && cd "$name" || exit 1
  "$seq_exe" -o "$name.txt" "$source_dir/examples/collection.fa" "$name" 2> /dev/null || exit 1
  length=$(head -n 1 "$name.txt")
  "$rnaqubo" "$name.txt" "$length" 4 1 -200 > console.txt || exit 1
  pairs=$(grep '^Feasible Base Pairs' console.txt | cut -d' ' -f5)
  quads=$(grep '^Nested Feasible Base Pairs' console.txt | cut -d' ' -f6)
  bytes=$(wc -c < "Q_${quads}_$name.txt")
  reference=()
  if [ "${dbn_config[0]}" != dbn= ] && grep -qx ">$name" "$source_dir/examples/collection.dbn"; then
    grep -A 2 -x ">$name" "$source_dir/examples/collection.dbn" > "$name.dbn"
    reference=(--reference "$name.dbn")
  fi
  "$fold_exe" "${reference[@]}" "$name.txt" "$length" 4 1 -200 > fold.txt || exit 1
  optimum=$(sed -n '2s/.*(\(-\{0,1\}[0-9]*\))$/\1/p' fold.txt)
  certified=$(sed -n 's/^certified: \([a-z]*\).*/\1/p' fold.txt)
  scores=NA$'\t'NA$'\t'NA
  if [ ${#reference[@]} -gt 0 ]; then
    scores=$(sed -n 's/^sensitivity: //p' fold.txt)$'\t'$(sed -n 's/^PPV: //p' fold.txt)$'\t'$(sed -n 's/^F1: //p' fold.txt)
  fi
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$length" "$pairs" "$quads" "$bytes" \
    "$optimum" "$certified" "$scores" >> ../expected.tsv
  cd .. || exit 1
done

# The workflow, as a user runs it, from a directory holding the collection.
mkdir -p "$work/flow/examples"
cp "$source_dir"/examples/collection.fa "$source_dir"/examples/collection.dbn "$work/flow/examples/"
cd "$work/flow" || exit 1
flow() {
  snakemake -s "$source_dir/workflow/Snakefile" --configfile "$source_dir/workflow/config.yaml" \
    --config rnaqubo="$rnaqubo" rnaqubo_seq="$seq_exe" rnaqubo_fold="$fold_exe" "${dbn_config[@]}" "$@"
}
if ! flow -j 2 > snakemake.log 2>&1; then
  tail -n 30 snakemake.log
  echo "FAIL: the workflow failed"
  exit 1
fi
check "the table matches the runs by hand" cmp -s results/table.tsv "$work/hand/expected.tsv"
cmp -s results/table.tsv "$work/hand/expected.tsv" || diff "$work/hand/expected.tsv" results/table.tsv
check "every record ran in a directory of its own" \
  test "$(ls runs/*/dot_paren.txt | wc -l)" -eq 3
check "the Q files are deleted once the table is made" \
  test -z "$(find runs -name 'Q_[0-9]*' -print -quit)"
check "the quad listings stay" test "$(find runs -name 'Q_nested_*' | wc -l)" -eq 3
flow -n > again.log 2>&1
check "a second run has nothing to do" grep -q 'Nothing to be done' again.log

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
