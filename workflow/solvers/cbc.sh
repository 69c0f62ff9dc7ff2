#!/usr/bin/env bash
# Runs CBC on an MILP written by rnaqubo-fold --write-milp and writes the chosen
# variables (x<k> at 1, one-based) to ANSWER, for rnaqubo-fold --solution.
# The answer is written only when CBC reports a solution: proven optimal, or
# the best found when its own time limit stopped it. The first line of CBC's
# solution file and CBC's closing statement (proven optimal or stopped at the
# limit, with its best bound) go to standard output.
# usage: cbc.sh MILP SECONDS ANSWER [CBC]
set -u
milp=$1 seconds=$2 answer=$3 cbc=${4:-cbc}
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
# Ended at the harness's limit (SIGTERM): the scratch directory goes too.
trap 'exit 143' TERM INT
# CBC takes the format from the file name's extension.
ln -s "$(realpath "$milp")" "$work/model.lp" || exit 2
# CBC stops itself a little before the harness's limit, so that the best
# answer it found is still written; its limit is on wall time, not on its
# processor time, which on a loaded machine runs slower than the clock.
limit=$(awk -v s="$seconds" 'BEGIN { printf "%g", (s > 2 ? s - 1 - 0.1 * s : s / 2) }')
"$cbc" "$work/model.lp" timeMode elapsed sec "$limit" solve solu "$work/solution.txt" > "$work/log.txt" 2>&1
status=$?
if [ "$status" -ne 0 ] || [ ! -s "$work/solution.txt" ]; then
  echo "cbc.sh: $milp: CBC gave no solution (status $status)" >&2
  tail -n 5 "$work/log.txt" >&2
  exit 1
fi
head -n 1 "$work/solution.txt"
# CBC's own statement of how it ended ("Result - Optimal solution found" or
# "Result - Stopped on time") and its objective and best bound.
grep -E '^(Result - |Objective value:|Lower bound:|Upper bound:|Gap:)' "$work/log.txt"
# A stop before any integer solution leaves only the relaxation: no answer.
case $(head -n 1 "$work/solution.txt") in
  *"no integer solution"*) echo "cbc.sh: $milp: stopped before any integer solution" >&2; exit 1 ;;
  Optimal* | "Stopped on time"* | "Stopped on iterations"*) ;;
  *) echo "cbc.sh: $milp: no feasible solution" >&2; exit 1 ;;
esac
# Written beside ANSWER and renamed, so that ANSWER is complete or absent.
awk '$2 ~ /^x[0-9]+$/ && $3 > 0.5 { print substr($2, 2) }' "$work/solution.txt" > "$answer.part.$$" &&
  mv "$answer.part.$$" "$answer" || { rm -f "$answer.part.$$"; exit 2; }
