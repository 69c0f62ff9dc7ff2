#!/usr/bin/env bash
# rnaqubo-fold, rnaqubo-seq and rnaqubo-anneal read their command lines the
# same way and end every failure the same way: "--opt=VALUE" as "--opt VALUE",
# a repeated, unknown or badly valued option refused in one line that names it
# (and the rule a value breaks), a full standard output reported with its
# reason on every path. rnaqubo-fold refuses two outputs naming one file before
# anything is written, and writes no instance file for a run it then refuses.
#
#   tool_frame.sh RNAQUBO_FOLD RNAQUBO_SEQ RNAQUBO_ANNEAL
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../check_lib.sh"
declare -A exe=([fold]=$(realpath "$1") [seq]=$(realpath "$2") [anneal]=$(realpath "$3"))
enter_scratch
failures=0 checks=0
export LC_ALL=C

printf '8\nG G G G C C C C\n' > g.txt
printf '>ok\nGGNCC\n' > ok.fa
printf '>plain\nGGACC\n' > plain.fa
"${exe[fold]}" g.txt 8 0 1 -200 --write-qubo m.qubo > /dev/null || echo "FAIL: no instance to anneal"
mkdir out

# refuse TOOL STATUS LINE ARGS...: runs TOOL in out/ and expects status STATUS,
# nothing on standard output, standard error exactly "rnaqubo-TOOL: LINE", and
# out/ left empty (nothing written).
refuse() {
  local tool=$1 status=$2 line=$3
  shift 3
  (cd out && "${exe[$tool]}" "$@" > ../stdout 2> ../stderr < /dev/null)
  local got=$? problem=
  checks=$((checks + 1))
  [ "$got" -eq "$status" ] || problem="status $got, expected $status"
  [ ! -s stdout ] || problem="$problem; standard output not empty"
  [ "$(cat stderr)" = "rnaqubo-$tool: $line" ] || problem="$problem; got: $(cat -v stderr)"
  [ -z "$(ls -A out)" ] || problem="$problem; left $(ls -A out | tr '\n' ' ')"
  if [ -n "$problem" ]; then
    echo "FAIL: rnaqubo-$tool $(printf '%q ' "$@"): ${problem#; }"
    failures=$((failures + 1))
  fi
  rm -rf out && mkdir out
}

fold_args=(../g.txt 8 0 1 -200)
# Each tool: a repeated option, an unknown one, a value missing or empty, a flag
# given a value, and a bad value named with its rule.
refuse fold 2 'Option --seed given twice' "${fold_args[@]}" --ensemble 1 --sample 2 --seed 1 --seed=2
refuse seq 2 'Option -o given twice' -o a -o b ../ok.fa
refuse anneal 2 'Option --sweeps given twice' --sweeps=5 --sweeps 6 ../m.qubo a
for tool in fold seq anneal; do
  refuse "$tool" 2 'Unknown option: --bogus\x1B' $'--bogus\e' x
  refuse "$tool" 2 'Option --help takes no value' --help=1
done
refuse fold 2 'Option --ensemble needs a value' "${fold_args[@]}" --ensemble
refuse seq 2 'Option --split needs a non-empty value' --split= ../ok.fa
refuse anneal 2 'Option --cold needs a value' ../m.qubo a --cold
refuse fold 2 '--seed: not a whole number from 0 to 18446744073709551615: 18446744073709551616' \
  "${fold_args[@]}" --ensemble 1 --sample 2 --seed 18446744073709551616
refuse anneal 2 '--seed: not a whole number from 0 to 18446744073709551615: -1' --seed -1 ../m.qubo a
refuse fold 2 '--max-selections: not a whole number from 0 to 999999999999999999: 1000000000000000000' \
  "${fold_args[@]}" --subopt 0 --max-selections 1000000000000000000
refuse fold 2 '--sample: not a whole number from 0 to 999999999999999999: 2.5' "${fold_args[@]}" --ensemble 1 --sample 2.5
refuse fold 2 '--subopt: not a distance (a whole number up to 10^15, or a percentage such as 5% or 2.5% with at most 6 decimals): 0.0000001%' \
  "${fold_args[@]}" --subopt 0.0000001%
refuse fold 2 '--ensemble: not a temperature from 1e-307 to 1e307: 1e-310' "${fold_args[@]}" --ensemble 1e-310
refuse anneal 2 '--hot: not a temperature from 1e-307 to 1e307: inf' --hot inf ../m.qubo a
refuse anneal 2 '--sweeps: not a whole number from 0 to 2147483647: 2147483648' --sweeps 2147483648 ../m.qubo a
refuse anneal 2 'expected 2 arguments (INSTANCE ANSWER), got 1' ../m.qubo
refuse seq 2 '-i: not a record number from 1 to 9223372036854775807: 0' -i 0 ../ok.fa
refuse seq 2 '--ambiguous: not refuse or drop: keep' --ambiguous=keep ../ok.fa
# "--" ends the options: what follows is an argument, even "-x".
refuse fold 2 '-x: sequence file: cannot read: No such file or directory' -- -x 8 0 1 -200
refuse seq 2 '-x: sequence file: cannot read: No such file or directory' -- -x

# "--opt=VALUE" reads as "--opt VALUE".
same_run() {  # same_run TOOL 'ARGS WITH =' 'ARGS WITH SPACE': the same output (but the annealer's seconds), status 0
  local tool=$1
  eval "\"\${exe[$tool]}\" $2" > eq.out 2> eq.err
  local first=$?
  eval "\"\${exe[$tool]}\" $3" > sp.out 2> sp.err
  check "rnaqubo-$tool $2: status $first and $?, same output" \
    test "$first" -eq 0 -a -s eq.out -a "$(grep -v '^seconds: ' eq.out; cat eq.err)" = "$(grep -v '^seconds: ' sp.out; cat sp.err)"
}
same_run fold 'g.txt 8 0 1 -200 --ensemble=10 --sample=3 --seed=7' 'g.txt 8 0 1 -200 --ensemble 10 --sample 3 --seed 7'
same_run seq '--ambiguous=drop ok.fa' '--ambiguous drop ok.fa'
same_run anneal '--sweeps=20 --seed=5 --hot=50 --cold=1 m.qubo a1' '--sweeps 20 --seed 5 --hot 50 --cold 1 m.qubo a2'
check "rnaqubo-anneal: the same answer" cmp -s a1 a2
# "-o -" is standard output.
same_run seq '--ambiguous drop -o - ok.fa' '--ambiguous drop ok.fa'
check "rnaqubo-seq -o -: no file named -" test ! -e -

# A full standard output, on every path: one line with the reason, status 2.
if [ -w /dev/full ]; then
  for run in "fold g.txt 8 0 1 -200" "seq plain.fa" "anneal m.qubo full.txt" \
             "fold --help" "fold -h" "fold --version" "seq --help" "seq --version" "anneal --help" "anneal --version"; do
    read -r tool args <<< "$run"
    # shellcheck disable=SC2086
    "${exe[$tool]}" $args > /dev/full 2> err
    check "rnaqubo-$run > /dev/full: status 2 and the reason" test $? -eq 2 -a \
      "$(cat err)" = "rnaqubo-$tool: standard output: cannot write: No space left on device"
  done
fi

# Two output options of rnaqubo-fold naming one file, for every pair, in the
# order the options are checked; --out names PREFIX.q, PREFIX.qubo and PREFIX.map.
outputs=(--svg --draw --write-lp --write-milp --write-qubo --marginals --probabilities --pair-probabilities --out)
for ((a = 0; a < ${#outputs[@]}; a++)); do
  for ((b = a + 1; b < ${#outputs[@]}; b++)); do
    first=${outputs[a]} second=${outputs[b]}
    [ "$first $second" = "--svg --draw" ] && continue  # refused as exclusive
    extra=(--ensemble 1)
    [ "$second" = --out ] && extra+=(--reduce 0)
    if [ "$second" = --out ]; then
      refuse fold 2 "Options $first and --out would both write same.map" "${fold_args[@]}" "${extra[@]}" \
        "$first" same.map --out same
    else
      refuse fold 2 "Options $first and $second would both write ./same.svg" "${fold_args[@]}" "${extra[@]}" \
        "$first" same.svg "$second" ./same.svg
    fi
  done
done
refuse fold 2 'Options --svg and --draw cannot be given together' "${fold_args[@]}" --svg a.svg --draw b.svg
# Through a link to an existing file; /dev/null takes any number of outputs.
printf 'old\n' > real.lp && ln -s real.lp link.lp
"${exe[fold]}" g.txt 8 0 1 -200 --write-lp real.lp --write-qubo link.lp > out.txt 2> err.txt
check "a link to the same file: refused, the file kept" test $? -eq 2 -a "$(cat real.lp)" = old -a \
  "$(cat err.txt)" = "rnaqubo-fold: Options --write-lp and --write-qubo would both write link.lp"
"${exe[fold]}" g.txt 8 0 1 -200 --write-lp /dev/null --write-qubo /dev/null > out.txt
check "/dev/null twice: status 0" test $? -eq 0
refuse seq 2 'Options --split and --write-dbn would both write coll' --split coll --write-dbn coll ../ok.fa

# An instance file is written only for a run that is not refused: here a
# temperature too low for the model, found after the search.
(cd out && "${exe[fold]}" ../g.txt 8 0 1 -200 --ensemble 1e-307 --write-lp t.lp --write-qubo t.qubo > ../stdout 2>&1)
check "a refused temperature: status 1, no instance file" test $? -eq 1 -a -z "$(ls -A out)"

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
