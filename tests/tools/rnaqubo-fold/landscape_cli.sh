#!/usr/bin/env bash
# End-to-end runs of rnaqubo-fold's landscape options: hand-worked outputs of
# the GGGGCCCC model compared byte for byte, the reduced Q file against the one
# rnaqubo writes, the map's round trip on the bundled tRNA, and the refusals.
# usage: landscape_cli.sh RNAQUBO_FOLD RNAQUBO EXAMPLES_DIR
set -u
fold=$(realpath "$1") rnaqubo=$(realpath "$2") examples=$(realpath "$3")

. "$(dirname "$0")/cli_lib.sh"

# GGGGCCCC at 8 0 1 -200: quads 3 (1-8), 5 (2-7) and 7 (3-6) form one helix
# worth 3 x 33 + 8 + 8 + 16 = 131; 3 and 7 alone 66 + 16 = 82; each linked
# couple 2-4, 3-5, 5-7 and 6-8 is worth 33 + 33 + 8 = 74, and every other
# couple of quads conflicts. So within 57 of 131 lie six selections.
printf '8\nG G G G C C C C\n' >g.txt
head=$'GGGGCCCC\n(((()))) (131)\nquads: 3 5 7\ncertified: yes (penalty -200 <= -57)\n'
run "subopt" 0 "$head"$'optima: 1\nsubopt: 6 selections within 57 of 131\n(((())))\t131\t3 5 7
(((())))\t82\t3 7\n(((.))).\t74\t2 4\n(((..)))\t74\t3 5\n.((())).\t74\t5 7\n.(((.)))\t74\t6 8\n' "" \
  g.txt 8 0 1 -200 --subopt 57
# Cut at M: the first M of the six in order, the count only a lower bound;
# at M = 6 all fit and the count is exact.
six=$'(((())))\t131\t3 5 7\n(((())))\t82\t3 7\n(((.))).\t74\t2 4\n(((..)))\t74\t3 5\n.((())).\t74\t5 7\n.(((.)))\t74\t6 8\n'
for m in 0 1 3 5 6; do
  listed=$(printf '%s' "$six" | head -n "$m")
  [ "$m" -eq 0 ] || listed+=$'\n'
  count="at least $m"
  [ "$m" -lt 6 ] || count=6
  run "subopt cut at $m" 0 "$head"$'optima: 1\nsubopt: '"$count"$' selections within 57 of 131\n'"$listed" "" \
    g.txt 8 0 1 -200 --subopt=57 --max-selections "$m"
done
# 44% of 131 is 57.64: the same six.
"$fold" g.txt 8 0 1 -200 --subopt 44% | grep -qx 'subopt: 6 selections within 44% of 131' || fail "subopt 44%"

# best_with: 131 for the helix's quads, 74 for those of a linked couple, 33 for
# quads 1 and 9, which couple with nothing they can be chosen with.
"$fold" g.txt 8 0 1 -200 --marginals m.tsv --reduce 0 --out r >/dev/null || fail "marginals run"
printf 'variable\ti\tj\tbest_with\tgap\n1\t1\t6\t33\t98\n2\t1\t7\t74\t57\n3\t1\t8\t131\t0
4\t2\t6\t74\t57\n5\t2\t7\t131\t0\n6\t2\t8\t74\t57\n7\t3\t6\t131\t0\n8\t3\t7\t74\t57\n9\t3\t8\t33\t98\n' |
  cmp -s - m.tsv || fail "marginals file: $(cat m.tsv)"
# The reduced model at 0: the helix, its entries in rnaqubo's order (the bonus
# before the link in row 1).
printf 'p 3 1\n1  1  33\n1  3  16\n1  2  8\n2  2  33\n2  3  8\n3  3  33\n-1' | cmp -s - r.q || fail "reduced q: $(cat r.q)"
# The .qubo is the reduced model's instance: its comment lines record the
# reduction, so that an answer decodes in the original numbering.
reduced_lines() {  # PREFIX: the comment lines of the reduced GGGGCCCC model at 0
  printf '%s\n' "$1rnaqubo instance: $2" "$1name: g" "$1sequence: GGGGCCCC" "$1input: g.txt" "$1length: 8" \
    "$1min_distance: 0" "$1add_quads: 1" "$1penalty: -200" "$1reduce: 0" "$1reduced: 3 of 9" "$1variables: 3"
}
{ reduced_lines "c " qubo
  printf 'c numbering: node k - 1 is variable k of the model reduced at the recorded distance (an answer in node numbers is zero-based: read it with --zero-based; rnaqubo-anneal answers one-based, in variable numbers, and says so on its first line)
c values: negated, minimise: the minimum is minus the model'"'"'s maximum
p qubo 0 3 3 3\n0 0 -33\n1 1 -33\n2 2 -33\n0 1 -8\n0 2 -16\n1 2 -8\n'; } | cmp -s - r.qubo || fail "reduced qubo: $(cat r.qubo)"
# Its MILP: quads 3 (1-8 2-7), 5 (2-7 3-6) and 7 (3-6 4-5) renumbered 1, 2, 3;
# positions 2 and 7 are held by 1 and 2 (linked), 3 and 6 by 2 and 3 (linked),
# the bound 33 + 8 + 16 of variable 1 is the full model's.
"$fold" g.txt 8 0 1 -200 --reduce 0 --write-milp r.milp >/dev/null || fail "reduced milp run"
{ reduced_lines '\ ' milp
  printf '%s\n' '\ numbering: x<k> is variable k of the model reduced at the recorded distance (answers are one-based)' \
    '\ values: as in the model, maximise' \
    '\ couplings: y<l>_<m> is x<l> x<m>: y <= x<l>, y <= x<m> for a positive value' \
    '\ conflicts: no conflicting couple may be chosen, because the penalty -200 <= -57 certifies that the best conflict-free selection is the maximum of the model' \
    '\ form: per position, the quads that hold it minus the stack links among them sum to at most 1; x<l> + x<m> <= 1 for the conflicting couples that share no position' \
    'Maximize' ' obj:' ' + 33 x1' ' + 33 x2' ' + 33 x3' ' + 8 y1_2' ' + 16 y1_3' ' + 8 y2_3' 'Subject To' \
    ' x1 + x2 - y1_2 <= 1' ' x2 + x3 - y2_3 <= 1' ' x2 + x3 - y2_3 <= 1' ' x1 + x2 - y1_2 <= 1' \
    ' y1_2 - x1 <= 0' ' y1_2 - x2 <= 0' ' y1_3 - x1 <= 0' ' y1_3 - x3 <= 0' ' y2_3 - x2 <= 0' ' y2_3 - x3 <= 0' \
    'Binary' ' x1 x2 x3' 'End'; } | cmp -s - r.milp || fail "reduced milp: $(cat r.milp)"
# An answer in the reduced numbering is reported in the original one: 1 and 3
# are quads 3 and 7, worth 82; and in its own.
printf '1 3\n' >a13.txt
printf '0 2\n' >a02.txt
decoded=$'GGGGCCCC\n(((()))) (82)\nquads: 3 7\ninstance quads: 1 3\nvalue: 82 optimum: 131 ratio: 0.6260\nconflicts: 0
optimum sensitivity: 1.0000\noptimum PPV: 1.0000\noptimum F1: 1.0000\n'
run "reduced optimum" 0 $'GGGGCCCC\n(((()))) (131)\nquads: 3 5 7\ninstance quads: 1 2 3
certified: yes (penalty -200 <= -57)\n' "" --instance r.qubo
run "reduced milp answer" 0 "$decoded" "" --instance r.milp --solution a13.txt
run "reduced qubo answer" 0 "$decoded" "" --instance r.qubo --solution a02.txt --zero-based
run "reduced answer out of range" 1 "" \
  $'rnaqubo-fold: a13.txt: item 2 "3": out of range: variables are numbered 0 to 2 (the numbering of r.qubo)\n' \
  --instance r.qubo --solution a13.txt --zero-based
sed -e 's/^c reduced: 3 of 9$/c reduced: 2 of 9/' -e 's/^c variables: 3$/c variables: 2/' r.qubo >tampered.qubo
run "reduction that does not hold" 1 "" \
  $'rnaqubo-fold: tampered.qubo: instance file: reduced: 2 of 9 recorded, but the model reduced at 0 keeps 3\n' \
  --instance tampered.qubo --solution a02.txt
sed -e '/^c reduced: /d' r.qubo >half.qubo
run "reduce without reduced" 1 "" $'rnaqubo-fold: half.qubo: instance file: no reduced line\n' --instance half.qubo
run "map beside a reduced instance" 2 "" \
  $'rnaqubo-fold: Option --map cannot be given with a reduced --instance: the answer is numbered as the instance is\n' \
  --instance r.qubo --solution a02.txt --map r.map
printf 'variable\toriginal\ti\tj\n1\t3\t1\t8\n2\t5\t2\t7\n3\t7\t3\t6\n' | cmp -s - r.map || fail "reduced map: $(cat r.map)"

# --encode: a pseudoknot, lone pairs, a G-G pair and a pair too close.
printf '(([..)])\n' >pk.txt
run "encode pseudoknot" 0 $'GGGGCCCC\n........ (0)\nquads:\nvalue: 0 optimum: 131 ratio: 0.0000\nconflicts: 0
lone pairs: 2 1-8 2-6\nnon-canonical pairs: 0\npairs out of range: 0\npseudoknotted pairs: 1 3-7\n' "" \
  g.txt 8 0 1 -200 --encode pk.txt
# A helix crossed by a lone pair is still the helix: quads 3 5 7, 131.
printf '20\nG A G G G G A A A C A A A A A A C C C C\n' >gx.txt
printf '(.[[[[...)......]]]]\n' >gx.dbn
"$fold" gx.txt 20 0 1 -200 --encode gx.dbn | sed -n '3,4p;9p' >crossed.txt
printf 'quads: 3 5 7\nvalue: 131 optimum: 131 ratio: 1.0000\npseudoknotted pairs: 1 1-10\n' | cmp -s - crossed.txt ||
  fail "encode a crossed helix: $(cat crossed.txt)"
"$fold" gx.txt 20 0 1 -200 --reference gx.dbn | grep -qx 'reference value: 131 ratio: 1.0000' ||
  fail "reference value of a crossed helix: $("$fold" gx.txt 20 0 1 -200 --reference gx.dbn)"
printf '((())..)\n' >near.txt
"$fold" g.txt 8 4 1 -200 --encode near.txt | tail -n 4 >tail.txt
printf 'lone pairs: 1 1-8\nnon-canonical pairs: 1 3-4\npairs out of range: 1 2-5\npseudoknotted pairs: 0\n' |
  cmp -s - tail.txt || fail "encode kinds: $(cat tail.txt)"

# Whole reductions write rnaqubo's own Q file, byte for byte.
cp "$examples/srp_ecoli.txt" .
"$rnaqubo" srp_ecoli.txt 113 4 1 -200 >/dev/null
"$fold" srp_ecoli.txt 113 4 1 -200 --reduce 100000 --out all >/dev/null || fail "full reduction"
cmp -s all.q Q_922_srp_ecoli.txt || fail "the full reduction's .q is not rnaqubo's Q file"

# The tRNA at 10%: 111 of 372 variables; the cloverleaf (617, 5.1% below) is
# kept: encoded, renumbered through the map and decoded back, it is itself.
cp "$examples/trna_phe_yeast.txt" "$examples/trna_phe_yeast.dbn" .
"$fold" trna_phe_yeast.txt 76 4 1 -200 --reduce 10% --out t10 | tail -n 1 >reduced.txt
grep -qx "reduced: 111 of 372 variables; every conflict-free selection within 10% of 650 is kept with its value" reduced.txt ||
  fail "tRNA reduction: $(cat reduced.txt)"
"$fold" trna_phe_yeast.txt 76 4 1 -200 --encode trna_phe_yeast.dbn >encoded.txt
sed -n 3p encoded.txt | cut -d: -f2 >original.txt
awk 'NR == FNR { for (k = 1; k <= NF; k++) want[$k] = 1; next } FNR > 1 && ($2 in want) { printf "%s ", $1 }' \
  original.txt t10.map >renumbered.txt
"$fold" trna_phe_yeast.txt 76 4 1 -200 --solution renumbered.txt --map t10.map >decoded.txt
head -n 5 decoded.txt | cmp -s <(head -n 5 encoded.txt) - || fail "map round trip: $(diff <(head -n 5 encoded.txt) decoded.txt)"
grep -qx "optimum F1: 0.5333" decoded.txt || fail "map round trip: no score against the optimum: $(cat decoded.txt)"

# Two optima (quad 180 or 194 with the same 18 others), listed or only counted.
"$fold" trna_phe_yeast.txt 76 4 1 -200 --subopt 0 |
  awk -F '\t' 'NR == 5 || NR == 6 { printf "%s|", $0 } NR == 7 || NR == 8 { printf "%s|", $2 }' >optima.txt
[ "$(cat optima.txt)" = "optima: 2|subopt: 2 selections within 0 of 650|650|650|" ] || fail "tRNA optima: $(cat optima.txt)"
"$fold" trna_phe_yeast.txt 76 4 1 -200 --subopt 0 --max-selections 0 | sed -n 6p >counted.txt
[ "$(cat counted.txt)" = "subopt: 2 selections within 0 of 650" ] || fail "tRNA optima counted: $(cat counted.txt)"
# At 0 the count stays exact when the listing is cut: the optimum with 180 comes first.
"$fold" trna_phe_yeast.txt 76 4 1 -200 --subopt 0 --max-selections 1 | tail -n +6 | cut -f 1,2 >first.txt
printf 'subopt: 2 selections within 0 of 650\n%s\t650\n' \
  '(((((((....((((((((.......)).)))))).((((....))))(((((.......))))))))))))....' | cmp -s - first.txt ||
  fail "tRNA optima cut at 1: $(cat first.txt)"

# Samples: the same seed gives the same lines, each a selection of the model.
"$fold" trna_phe_yeast.txt 76 4 1 -200 --ensemble 10 --sample 20 --seed 7 >s1.txt
"$fold" trna_phe_yeast.txt 76 4 1 -200 --ensemble 10 --sample 20 --seed 7 >s2.txt
cmp -s s1.txt s2.txt || fail "the same seed gave other samples"
[ "$(grep -c $'\t' s1.txt)" -eq 20 ] || fail "not 20 samples"

# Refusals: before anything is written, with the option named.
run "reduce without out" 2 "" \
  $'rnaqubo-fold: Option --reduce needs --out PREFIX or --write-lp, --write-milp, --write-qubo\n' g.txt 8 0 1 -200 --reduce 5
run "bad distance" 2 "" $'rnaqubo-fold: --subopt: not a distance (a whole number up to 10^15, or a percentage such as 5% or 2.5% with at most 6 decimals): 5.5\n' g.txt 8 0 1 -200 --subopt 5.5
run "bad temperature" 2 "" $'rnaqubo-fold: --ensemble: not a temperature from 1e-307 to 1e307: 0\n' g.txt 8 0 1 -200 --ensemble 0
run "sample without ensemble" 2 "" $'rnaqubo-fold: Option --sample needs --ensemble\n' g.txt 8 0 1 -200 --sample 3
run "map of another model" 1 "" \
  $'rnaqubo-fold: t10.map: line 2: original variable 8 is the quad of pair 3-7, not 1-72: a map of another model\n' \
  g.txt 8 0 1 -200 --solution pk.txt --map t10.map
# ln Z past the range of doubles is refused, not printed as inf; at 1e-6 the
# two optima give 650 / T + ln 2.
"$fold" trna_phe_yeast.txt 76 4 1 -200 --ensemble 1e-306 >/dev/null 2>err.txt
[ $? -eq 1 ] && grep -qx 'rnaqubo-fold: temperature 1e-306 is too low for this model: ln Z is not finite' err.txt ||
  fail "a temperature too low: $(cat err.txt)"
"$fold" trna_phe_yeast.txt 76 4 1 -200 --ensemble 1e-6 | tail -n 1 | grep -qx 'ensemble: 1e-6 650000000.69314718' ||
  fail "ln Z at 1e-6"
# Nor one where ln Z (650 / T) passes 2^32 and the two tied optima's
# probabilities, 1/2 each, would come out wrong: 650 / 2e-7 is below it, 1e-7
# not, which is refused before anything is printed or written.
"$fold" trna_phe_yeast.txt 76 4 1 -200 --ensemble 1e-7 --marginals lowt.tsv >out.txt 2>err.txt
[ $? -eq 1 ] && [ ! -s out.txt ] && [ ! -e lowt.tsv ] && grep -qx 'rnaqubo-fold: temperature 9.9999999999999995e-08 is too low for this model: ln Z is beyond 2^32, where the probabilities lose their precision' err.txt ||
  fail "a temperature too low for precision: $(cat err.txt)"
"$fold" trna_phe_yeast.txt 76 4 1 -200 --ensemble 2e-7 --probabilities tied.tsv >/dev/null &&
  awk -F'\t' '($1 == 180 || $1 == 194) && ($4 < 0.4999999 || $4 > 0.5000001) { bad = 1 } END { exit bad }' tied.tsv ||
  fail "the tied optima at 2e-7: $(awk -F'\t' '$1 == 180 || $1 == 194' tied.tsv)"
# An output that would replace the sequence file is refused, and nothing of
# the reduction takes its name when one of its files cannot be written.
cp g.txt keep.txt
"$fold" g.txt 8 0 1 -200 --marginals g.txt >/dev/null 2>err.txt && fail "marginals over the sequence file"
cmp -s g.txt keep.txt || fail "the sequence file was replaced"
mkdir blocked.qubo
"$fold" g.txt 8 0 1 -200 --reduce 0 --out blocked >out.txt 2>err.txt
[ $? -eq 2 ] || fail "a reduction into a directory did not fail with status 2"
# The destinations are tried before the search: nothing is printed.
[ -s out.txt ] && fail "a run whose output cannot be written printed: $(cat out.txt)"
grep -qx 'rnaqubo-fold: blocked.qubo: cannot write: Is a directory' err.txt || fail "blocked: $(cat err.txt)"
[ -e blocked.q ] || [ -e blocked.map ] && fail "a failed reduction left files: $(ls)"
# Standard output that fails ends a long listing at its first block, not at its end.
if [ -w /dev/full ]; then
  timeout 60 "$fold" g.txt 8 0 1 -200 --ensemble 10 --sample 999999999 >/dev/full 2>err.txt
  [ $? -eq 2 ] && grep -qx 'rnaqubo-fold: standard output: cannot write: No space left on device' err.txt ||
    fail "samples into a full standard output: $(cat err.txt)"
fi
# A named pipe as an output is written once, not tried first (which ended its
# reader's input); the destinations are tried before any instance file is written.
mkfifo marginals.fifo
cat marginals.fifo > fifo.tsv &
reader=$!
timeout 20 "$fold" g.txt 8 0 1 -200 --marginals marginals.fifo >/dev/null || fail "marginals into a named pipe"
wait "$reader"
cmp -s fifo.tsv m.tsv || fail "marginals through a named pipe: $(cat fifo.tsv)"
"$fold" g.txt 8 0 1 -200 --write-qubo early.qubo --marginals missing/m.tsv >/dev/null 2>err.txt
[ $? -eq 2 ] && [ ! -e early.qubo ] || fail "an instance file written before a landscape output was tried: $(cat err.txt)"
# A reduction that fails part way (here its .q, the largest file, beyond a file
# size limit its .map and .qubo fit in) leaves the earlier files of its prefix
# as they were, and nothing staged.
"$fold" srp_ecoli.txt 113 4 1 -200 --reduce 10% --out keep >/dev/null || fail "small reduction"
for suffix in q qubo map; do cp "keep.$suffix" "before.$suffix"; done
(ulimit -f 2600; "$fold" srp_ecoli.txt 113 4 1 -200 --reduce 100000 --out keep >/dev/null 2>err.txt)
[ $? -eq 2 ] || fail "a reduction beyond the file size limit did not fail with status 2"
grep -qx 'rnaqubo-fold: keep.q: cannot write: File too large' err.txt || fail "limit: $(cat err.txt)"
for suffix in q qubo map; do cmp -s "keep.$suffix" "before.$suffix" || fail "keep.$suffix was replaced"; done
ls | grep -q staged && fail "staged files left: $(ls | grep staged)"

[ "$failures" -eq 0 ] && echo "ok: landscape options"
[ "$failures" -eq 0 ]
