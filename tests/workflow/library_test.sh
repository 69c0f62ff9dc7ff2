#!/usr/bin/env bash
# The instance library's builder (bench/instances.py) on a suite of three
# alignments made here: its rule picks the records worked out by hand; every
# file has the sha256 the manifest gives, the whole model's optimum and
# certification are rnaqubo-fold's; a rebuild passes --check and a changed
# manifest fails it, naming the row and column. The benchmark reads the
# manifest as an instance set, rebuilding its files byte for byte, and a
# manifest whose sha256 is not the instance's stops a -q run with that message.
#
#   library_test.sh SOURCE_DIR RNAQUBO_SEQ RNAQUBO_FOLD RNAQUBO_ANNEAL
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../check_lib.sh"
source_dir=$(realpath "$1") seq_exe=$(realpath "$2") fold_exe=$(realpath "$3") anneal_exe=$(realpath "$4")
command -v snakemake > /dev/null || { echo "SKIP: snakemake is not installed"; exit 77; }
enter_scratch
failures=0 checks=0
mkdir suite build
ln -s "$seq_exe" build/rnaqubo-seq && ln -s "$fold_exe" build/rnaqubo-fold || exit 1

# a.sto's first alignment: x2 holds an N, x3 is x1 with other gaps, x5 comes
# after the two taken; its second: y1 is 18 bases, y2 is x4 again. b.sto: z1.
cat > suite/a.sto <<'ALIGNMENT'
# STOCKHOLM 1.0
x1 -GGGCGAAAGCCCCAUAUAUAAAA
x2 GGGGCGAAAGCCCCAUAUANAAAA
x3 GGG-CGAAAGCCCCAUAUAUAAAA
x4 GGACUCGAAAGAGUCCAUUUAAAA
x5 GGGGCGAAAGCCCCAUAUAUAAAA
#=GC SS_cons <<<<<....>>>>>..........
//
# STOCKHOLM 1.0
y1 GGGGCGAAAGCCCCAUAU------
y2 GGACUCGAAAGAGUCCAUUUAAAA
#=GC SS_cons <<<<<....>>>>>..........
//
ALIGNMENT
printf '# STOCKHOLM 1.0\nz1 GCGCGCUUCGGCGCGCAAAAAAAA\n#=GC SS_cons ((((((....))))))........\n//\n' > suite/b.sto
library() { /usr/bin/python3 "$source_dir/bench/instances.py" --build build --suite suite --per-family 2 "$@"; }
library --out lib --manifest manifest.tsv 2> build.log || { cat build.log; echo "FAIL: the library build"; exit 1; }
column() { awk -F'\t' -v c="$1" '/^#/ { next } !n { for (k = 1; k <= NF; ++k) if ($k == c) n = k; next } { print $n }' manifest.tsv; }

check "the rule picks x1 and x4 of a-1, none of a-2, z1 of b, each whole and at 5% and 10%" test \
  "$(paste <(column instance) <(column kind) <(column delta) | tr '\t\n' ', ')" = \
  "a-1.x1,whole,- a-1.x1.5pct,reduced,5% a-1.x1.10pct,reduced,10% a-1.x4,whole,- a-1.x4.5pct,reduced,5% a-1.x4.10pct,reduced,10% b.z1,whole,- b.z1.5pct,reduced,5% b.z1.10pct,reduced,10% "
check "the references' pairs are the projections (x1 loses one pair to its gap)" test \
  "$(column reference_pairs | sort -u | tr '\n' ' ')" = "4 5 6 "
sums_match=yes
while IFS=$'\t' read -r file sum; do
  [ "$(sha256sum < "lib/$file" | cut -d' ' -f1)" = "$sum" ] || sums_match="no ($file)"
done < <(paste <(column qubo) <(column qubo_sha256); paste <(column lp) <(column lp_sha256); paste <(column milp) <(column milp_sha256))
check "every file has the manifest's sha256: $sums_match" test "$sums_match" = yes
# The whole model of z1, folded here: optimum, certification and count of optima.
printf '24\n' > z1.txt && printf 'GCGCGCUUCGGCGCGCAAAAAAAA' | fold -w 1 >> z1.txt
by_hand=$("$fold_exe" z1.txt 24 4 1 -200 --subopt 0 --max-selections 1 |
  sed -n 's/.*(\(-\{0,1\}[0-9]*\))$/\1/p; s/^certified: \([a-z]*\).*/\1/p; s/^optima: //p' | tr '\n' ' ')
check "z1's optimum, certification and optima are rnaqubo-fold's ($by_hand)" test \
  "$(paste <(column instance) <(column optimum) <(column certified) <(column optima) | grep '^b.z1	' | cut -f 2- | tr '\t' ' ') " = "$by_hand"

library --out again --manifest manifest.tsv --check > check.out 2> check.err
status=$?
check "a rebuild reproduces the manifest" eval 'test $status -eq 0 && grep -q "9 rows rebuilt, 0 differences" check.err'
awk -F'\t' 'BEGIN { OFS = "\t" } $1 == "a-1.x4" { $14 = "no"; $17 = "0" $17 } { print }' manifest.tsv > changed.tsv
library --out again --manifest changed.tsv --check > check.out 2> check.err
status=$?
check "a changed manifest fails the check, each difference named" eval \
  'test $status -eq 1 && grep -q "^a-1.x4: certified: no in changed.tsv, yes rebuilt" check.out &&
   grep -q "^a-1.x4: qubo_sha256: " check.out && test "$(wc -l < check.out)" -eq 2'

# The benchmark, on the manifest as an instance set.
bench() {  # bench MANIFEST LOG: a -q all run of the exact solver on a-1.x4 whole and at 10%
  printf 'rnaqubo_fold: %s\nrnaqubo_seq: %s\nrnaqubo_anneal: %s\nrepeats: 1\nseconds: 20\n' \
    "$fold_exe" "$seq_exe" "$anneal_exe" > bench.yaml
  printf 'sets: [{file: %s, select: {names: [a-1.x4]}, reduce: [10%%]}]\n' "$1" >> bench.yaml
  printf 'solvers: {exact: {command: "{rnaqubo_fold} --instance {qubo} | sed -n '"'"'s/^instance quads://p'"'"' > {answer}"}}\n' >> bench.yaml
  rm -rf runs results logs
  snakemake -s "$source_dir/workflow/benchmark.smk" --configfile bench.yaml -j 2 -q all > "$2.out" 2> "$2.err"
}
bench manifest.tsv frozen
status=$?
check "the benchmark runs the manifest's instances" eval \
  'test $status -eq 0 && test "$(cut -f 1,6 results/benchmark/runs.tsv | tail -n +2 | sort | tr "\t\n" ": ")" = \
   "manifest.a-1.x4:ok manifest.a-1.x4.10pct:ok "'
check "... rebuilt byte for byte" cmp -s runs/benchmark/instances/manifest.a-1.x4.10pct/model.qubo lib/a-1/x4/a-1.x4.10pct.qubo
cp changed.tsv manifest.tsv
bench manifest.tsv changed
status=$?
check "an instance that is not the manifest's stops a -q run, saying so" eval \
  'test $status -ne 0 && grep -q "model.qubo: its sha256 is not the manifest" changed.err'

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
