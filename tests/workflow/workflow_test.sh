#!/usr/bin/env bash
# Runs the collection workflow with snakemake -j 2 on the bundled collection
# and compares results/table.tsv with a table made here by running
# rnaqubo-seq, rnaqubo and rnaqubo-fold by hand on each record, for each
# setting the run goes through: the example's, another penalty, back to the
# example's, and without references. Each change must redo what depends on it
# and no more. Before the first run the working directory holds splits the
# workflow did not write (records/, as the guide's --split example leaves it,
# and runs/records/), both without references: neither may be used. Also
# checks that the large Q files are deleted unless kept, and that a second run
# finds nothing to do.
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
references=yes
if ! "$fold_exe" --help 2>&1 | grep -q -- --reference; then
  echo "note: this rnaqubo-fold has no --reference: the workflow runs without references"
  references=no
fi
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0 checks=0

# by_hand PENALTY REFERENCES(yes|no): the expected table, each record converted,
# modelled and folded in a directory of its own; its path on standard output.
by_hand() {
  local penalty=$1 use_dbn=$2 dir=$work/hand_$1_$2 name length pairs quads bytes
  local reference scores structure optimum certified
  [ -f "$dir/expected.tsv" ] && { echo "$dir/expected.tsv"; return 0; }
  mkdir -p "$dir" || return 1
  printf 'name\tlength\tmin_distance\tadd_quads\tpenalty\tfeasible_pairs\tquads\tq_file_bytes\toptimum\tcertified\treference\tsensitivity\tppv\tf1\tstructure\n' \
    > "$dir/expected.tsv"
  for name in trna_phe_yeast hairpin_gc hairpin_alu; do
    mkdir "$dir/$name" && cd "$dir/$name" || return 1
    "$seq_exe" -o "$name.txt" "$source_dir/examples/collection.fa" "$name" 2> /dev/null || return 1
    length=$(head -n 1 "$name.txt")
    "$rnaqubo" "$name.txt" "$length" 4 1 "$penalty" > console.txt || return 1
    pairs=$(grep '^Feasible Base Pairs' console.txt | cut -d' ' -f5)
    quads=$(grep '^Nested Feasible Base Pairs' console.txt | cut -d' ' -f6)
    bytes=$(wc -c < "Q_${quads}_$name.txt")
    reference=()
    if [ "$use_dbn" = yes ] && grep -qx ">$name" "$source_dir/examples/collection.dbn"; then
      grep -A 2 -x ">$name" "$source_dir/examples/collection.dbn" > "$name.dbn"
      reference=(--reference "$name.dbn")
    fi
    "$fold_exe" "${reference[@]}" "$name.txt" "$length" 4 1 "$penalty" > fold.txt || return 1
    structure=$(sed -n '2s/ (-\{0,1\}[0-9]*)$//p' fold.txt)
    optimum=$(sed -n '2s/.*(\(-\{0,1\}[0-9]*\))$/\1/p' fold.txt)
    certified=$(sed -n 's/^certified: \([a-z]*\).*/\1/p' fold.txt)
    scores=no$'\t'NA$'\t'NA$'\t'NA
    if [ ${#reference[@]} -gt 0 ]; then
      scores=yes$'\t'$(sed -n 's/^sensitivity: //p' fold.txt)$'\t'$(sed -n 's/^PPV: //p' fold.txt)$'\t'$(sed -n 's/^F1: //p' fold.txt)
    fi
    printf '%s\t%s\t4\t1\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$name" "$length" "$penalty" "$pairs" \
      "$quads" "$bytes" "$optimum" "$certified" "$scores" "$structure" >> "$dir/expected.tsv"
  done
  echo "$dir/expected.tsv"
}

# The workflow, as a user runs it, from a directory holding the collection.
mkdir -p "$work/flow/examples"
cp "$source_dir"/examples/collection.fa "$source_dir"/examples/collection.dbn "$work/flow/examples/"
cd "$work/flow" || exit 1
dbn_setting=(dbn=examples/collection.dbn)
[ "$references" = yes ] || dbn_setting=(dbn=)
flow() {  # flow OPTION SETTING...
  snakemake -s "$source_dir/workflow/Snakefile" --configfile "$source_dir/workflow/config.yaml" "$1" \
    --config rnaqubo="$rnaqubo" rnaqubo_seq="$seq_exe" rnaqubo_fold="$fold_exe" "${@:2}"
}
# run LOG SETTING...: runs the workflow with these settings, or stops the test.
run() {
  local log=$1
  shift
  (cd "$work/flow" && flow -j2 "$@") > "$work/$log" 2>&1 && return 0
  tail -n 30 "$work/$log"
  echo "FAIL: the workflow failed ($*)"
  exit 1
}
# matches EXPECTED: whether the workflow's table is that one; shows the difference if not.
matches() { diff "$1" "$work/flow/results/table.tsv" >&2; }
# ran LOG RULE: whether the run logged in LOG ran a job of RULE.
ran() { grep -Eq "^(rule|checkpoint) $2:" "$work/$1"; }

# Splits this workflow did not make, without references.
"$seq_exe" --split records examples/collection.fa 2> /dev/null &&
  "$seq_exe" --split runs/records examples/collection.fa 2> /dev/null || exit 1
run first.log "${dbn_setting[@]}"
check "the table matches the runs by hand" matches "$(by_hand -200 "$references")"
check "every record ran in a directory of its own" \
  test "$(ls runs/model/*/dot_paren.txt | wc -l)" -eq 3
check "the Q files are deleted once the table is made" \
  test -z "$(find runs -name 'Q_[0-9]*' -print -quit)"
check "the quad listings stay" test "$(find runs -name 'Q_nested_*' | wc -l)" -eq 3
check "each optimum is drawn under its record's name" eval \
  '(for name in trna_phe_yeast hairpin_gc hairpin_alu; do
      grep -q "<title>$name</title>" "runs/fold/$name/$name.svg" || exit 1
    done)'
check "the guide's records/ is left as it was" \
  test -z "$(find records -newer runs/records/manifest.tsv -print -quit)"
flow -n "${dbn_setting[@]}" > "$work/again.log" 2>&1
check "a second run has nothing to do" grep -q 'Nothing to be done' "$work/again.log"

# A model setting redoes the models, the folds and the table, not the split;
# going back to the earlier setting, whose files are older, redoes them again.
run penalty.log "${dbn_setting[@]}" penalty=-10
check "a new penalty gives the table of that penalty" matches "$(by_hand -10 "$references")"
check "a new penalty reruns every model and fold, not the split" eval \
  'test "$(grep -c "^rule model:" "$work/penalty.log")" -eq 3 &&
   test "$(grep -c "^rule fold:" "$work/penalty.log")" -eq 3 && ! ran penalty.log split'
run back.log "${dbn_setting[@]}"
check "the earlier penalty gives its table again" matches "$(by_hand -200 "$references")"

# The references are a setting of the split: leaving them out redoes it.
if [ "$references" = yes ]; then
  run no_dbn.log dbn=
  check "leaving out the references redoes the split and drops the scores" eval \
    'ran no_dbn.log split && matches "$(by_hand -200 no)"'
fi

# Names that Snakemake or a shell would take apart: rnaqubo-seq makes them safe,
# and the workflow folds every record under its safe name.
printf '>{a}$b\nGGGGAAACCCC\n>q"u`o'"'"'te;x\nGGGAAAUCCC\n>sp*?[]ace\tand more\nGGGGAAAACCCC\n' \
  > examples/hostile.fa
run hostile.log fasta=examples/hostile.fa dbn=
check "every hostile name is folded under its safe name" eval \
  'test "$(cut -f1 results/table.tsv | tail -n +2 | sort | tr "\n" " ")" = "_a__b q_u_o_te_x sp____ace " &&
   test "$(cut -f9 results/table.tsv | tail -n +2 | grep -c "^[0-9][0-9]*$")" -eq 3'

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
