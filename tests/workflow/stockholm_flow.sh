#!/usr/bin/env bash
# The collection workflow on a Stockholm alignment in place of FASTA plus dbn:
# every row is folded and scored against its projected reference, which is
# worked out here by hand and scored by running rnaqubo-fold on it directly.
# Asking for the rows' own #=GR SS lines reruns the split and changes the score
# of the row that has one.
#
#   stockholm_flow.sh SOURCE_DIR RNAQUBO RNAQUBO_SEQ RNAQUBO_FOLD
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../check_lib.sh"
source_dir=$(realpath "$1") rnaqubo=$(realpath "$2") seq_exe=$(realpath "$3") fold_exe=$(realpath "$4")
command -v snakemake > /dev/null || { echo "SKIP: snakemake is not installed"; exit 77; }
enter_scratch
failures=0 checks=0

cat > family.sto <<'ALIGNMENT'
# STOCKHOLM 1.0
h1 GGGGAAACCCC.
h2 GGGAAA-UCCCA
#=GR h2 SS <<<....>>>..
#=GC SS_cons <<<<...>>>>.
//
ALIGNMENT
# The projections, by hand: h2 loses column 7, so SS_cons's pair of columns
# 4 and 8 becomes 4-7.
printf '>h1\nGGGGAAACCCC\n((((...))))\n' > h1.cons.dbn
printf '>h2\nGGGAAAUCCCA\n((((..)))).\n' > h2.cons.dbn
printf '>h2\nGGGAAAUCCCA\n(((...)))..\n' > h2.own.dbn

# scores NAME DBN: "name reference sensitivity ppv f1" from rnaqubo-fold run by hand.
scores() {
  local letters
  letters=$(sed -n 2p "$2")
  { echo "${#letters}"; echo "$letters" | fold -w 1; } > "$1.txt"
  "$fold_exe" --reference "$2" "$1.txt" "${#letters}" 4 1 -200 |
    awk -v name="$1" -F': ' '/^sensitivity/ { s = $2 } /^PPV/ { p = $2 } /^F1/ { f = $2 }
      END { printf "%s\tyes\t%s\t%s\t%s\n", name, s, p, f }'
}
# table: the same columns of the workflow's table.
table() {
  awk -F'\t' 'NR == 1 { for (k = 1; k <= NF; ++k) c[$k] = k; next }
    { printf "%s\t%s\t%s\t%s\t%s\n", $c["name"], $c["reference"], $c["sensitivity"], $c["ppv"], $c["f1"] }' \
    results/table.tsv
}
flow() {
  snakemake -s "$source_dir/workflow/Snakefile" --configfile "$source_dir/workflow/config.yaml" -j 2 \
    --config rnaqubo="$rnaqubo" rnaqubo_seq="$seq_exe" rnaqubo_fold="$fold_exe" fasta=family.sto dbn= "$@" \
    > "$work/flow.log" 2>&1 || { tail -n 20 "$work/flow.log"; echo "FAIL: the workflow failed ($*)"; exit 1; }
}

flow
check "SS_cons references, scored as by hand" cmp -s <(table) <(scores h1 h1.cons.dbn; scores h2 h2.cons.dbn)
flow own_structure=true
check "own_structure reruns the split" grep -q '^checkpoint split:' "$work/flow.log"
check "h2 scored against its own SS line" cmp -s <(table) <(scores h1 h1.cons.dbn; scores h2 h2.own.dbn)
check "the two references differ in score" test "$(scores h2 h2.cons.dbn)" != "$(scores h2 h2.own.dbn)"
# The word "false" from --config turns it off again, as YAML's false does.
flow own_structure=false
check "own_structure=false goes back to SS_cons" cmp -s <(table) <(scores h1 h1.cons.dbn; scores h2 h2.cons.dbn)

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
