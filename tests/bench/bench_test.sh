#!/usr/bin/env bash
# Checks the benchmark helpers of bench/lib.sh on known figures, then runs
# bench/run end to end on tiny inputs: two passes, every row measured, ratios
# present, the reproducibility table filled, every file it made removed, and a
# run whose output is cut short reported as a failure. No timing is asserted
# beyond what the clock cannot avoid (a sleep lasts at least its length).
#   bench_test.sh RNAQUBO REFERENCE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
rnaqubo=$(realpath "$1")
reference=$(realpath "$2")
. "$root/bench/lib.sh"

failures=0
Check() {  # Check DESCRIPTION EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf 'FAIL %s: expected [%s], got [%s]\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Medians, ranges and spreads: odd and even counts, unsorted input, one value.
Check "median of an odd count" 3 "$(printf '5\n1\n3\n' | bench_median)"
Check "median of an even count" 2.500000 "$(printf '4\n1\n3\n2\n' | bench_median)"
Check "median compares numbers, not text" 9 "$(printf '10\n9\n2.5\n' | bench_median)"
Check "median of one value" 0.25 "$(echo 0.25 | bench_median)"
Check "median of nothing" "" "$(bench_median </dev/null)"
Check "range" "0.5 12" "$(printf '3\n12\n0.5\n' | bench_range)"
Check "spread of equal figures" 0.0 "$(bench_spread_percent 1.2 1.2 1.2)"
Check "spread in percent of the smallest" 25.0 "$(bench_spread_percent 1.0 1.25 1.1)"
Check "spread against zero" inf "$(bench_spread_percent 0 1)"
for case in "10.0 10 yes" "10.1 10 no" "0.0 0 yes" "inf 1000 no"; do
  set -- $case
  verdict=no
  bench_within_tolerance "$1" "$2" && verdict=yes
  Check "spread $1 within $2%" "$3" "$verdict"
done

# One measured run: output where asked, wall time no shorter than the sleep,
# a peak memory; a failing command prints nothing and passes its status on.
read -r seconds kilobytes user system < <(bench_measure "$scratch/out.txt" sh -c 'echo written; sleep 0.2')
Check "measured output" written "$(cat "$scratch/out.txt")"
Check "wall time covers the command" 1 "$(awk -v s="$seconds" 'BEGIN { print (s >= 0.2) }')"
Check "peak memory reported" 1 "$(awk -v k="$kilobytes" 'BEGIN { print (k > 0) }')"
Check "CPU times reported, a sleep taking little" 1 \
  "$(awk -v u="$user" -v s="$system" -v w="$seconds" 'BEGIN { print (u != "" && s != "" && u + s < w) }')"
read -r _ _ user _ < <(bench_measure /dev/null sh -c 'k=0; while [ $k -lt 200000 ]; do k=$((k + 1)); done')
Check "user time of a busy loop" 1 "$(awk -v u="$user" 'BEGIN { print (u > 0) }')"
figures=$(bench_measure /dev/null sh -c 'exit 3')
Check "status of a failed command" 3 "$?"
Check "nothing printed for a failed command" "" "$figures"

# End to end on tiny inputs. srp_ecoli has 922 quads at minimum distance 4.
work=$scratch/work
mkdir "$work"
settings=(SIZES="40 90" EXAMPLES=srp_ecoli RUNS=2 REPEAT=2 SETTLE=0 TOLERANCE=1000000 MIN_TIME=0
  BENCH_DIR="$work" RNAQUBO="$rnaqubo" REFERENCE="$reference")
env "${settings[@]}" bash "$root/bench/run" >"$scratch/table.txt" 2>"$scratch/log.txt"
Check "status of a complete run" 0 "$?"
rows=$(grep -c '^| \(random_\|srp\)' "$scratch/table.txt")
Check "rows: 3 inputs in 2 passes, then 3 in the reproducibility table" 9 "$rows"
Check "quads of srp_ecoli in both passes" "922
922" "$(awk -F' [|] ' '$1 == "| srp_ecoli.txt" && NF == 9 { print $3 }' "$scratch/table.txt")"
# Every measured row holds a positive ratio against cat and against the reference.
bad_rows=$(awk -F' [|] ' 'NF == 9 && $1 ~ /^[|] (random|srp)/ {
    split($8, r, " "); split($9, s, "x"); if (!(r[1] > 0 && s[1] > 0)) print }' "$scratch/table.txt")
Check "ratios present in every row" "" "$bad_rows"
Check "verdicts" 3 "$(grep -c '| reproduces |$' "$scratch/table.txt")"
Check "files left behind" "" "$(ls -A "$work")"

# Runs shorter than MIN_TIME get no verdict on their ratios, and no failure.
env SIZES=40 EXAMPLES= RUNS=1 REPEAT=2 SETTLE=0 MIN_TIME=1000 BENCH_DIR="$work" RNAQUBO="$rnaqubo" \
  bash "$root/bench/run" >"$scratch/table.txt" 2>"$scratch/log.txt"
Check "status when every run is too short" 0 "$?"
Check "verdict when every run is too short" 1 "$(grep -c '^| random_40.txt | .* | too short (under 1000 s) |$' "$scratch/table.txt")"

# A run that cuts its Q file short must not be counted.
cat >"$scratch/short_rnaqubo" <<SCRIPT
#!/bin/sh
"$rnaqubo" "\$@" || exit
calls=\$(cat "$scratch/calls" 2>/dev/null || echo 0)
echo \$((calls + 1)) >"$scratch/calls"
[ "\$calls" -eq 0 ] || truncate -s -1 Q_[0-9]*_"\$1"
SCRIPT
chmod +x "$scratch/short_rnaqubo"
env SIZES=40 EXAMPLES= RUNS=1 SETTLE=0 BENCH_DIR="$work" RNAQUBO="$scratch/short_rnaqubo" \
  bash "$root/bench/run" >/dev/null 2>"$scratch/log.txt"
Check "status when a Q file is cut short" 1 "$?"
Check "message when a Q file is cut short" 1 "$(grep -c 'random_40.txt: rnaqubo did not write' "$scratch/log.txt")"
Check "files left behind after the failure" "" "$(ls -A "$work")"

env RUNS=0 BENCH_DIR="$work" RNAQUBO="$rnaqubo" bash "$root/bench/run" >/dev/null 2>"$scratch/log.txt"
Check "status for RUNS=0" 1 "$?"
Check "message for RUNS=0" "bench/run: RUNS must be at least 1" "$(cat "$scratch/log.txt")"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all benchmark checks passed"
