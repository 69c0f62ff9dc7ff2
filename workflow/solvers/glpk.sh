#!/usr/bin/env bash
# Runs GLPK's glpsol on an MILP written by rnaqubo-fold --write-milp and writes
# the chosen variables (x<k> at 1, one-based) to ANSWER, for rnaqubo-fold
# --solution. The answer is written only when glpsol reports an integer
# solution: proven optimal, or the best found when its own time limit stopped
# it. glpsol's last lines, with its statement of optimality ("INTEGER OPTIMAL
# SOLUTION FOUND" or "TIME LIMIT EXCEEDED") and its last bound, go to
# standard output.
# usage: glpk.sh MILP SECONDS ANSWER [GLPSOL]
set -u
milp=$1 seconds=$2 answer=$3 glpsol=${4:-glpsol}
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
trap 'exit 143' TERM INT
# glpsol stops itself a little before the harness's limit, so that the best
# answer it found is still written (its limit is in whole seconds).
limit=$(awk -v s="$seconds" 'BEGIN { l = (s > 2 ? s - 1 - 0.1 * s : s / 2); l = int(l); printf "%d", (l < 1 ? 1 : l) }')
# The printout goes to a file of its own: glpsol removes its -o file before
# writing it, which as root would remove a device such as /dev/stdout.
"$glpsol" --lp "$milp" --tmlim "$limit" -o "$work/solution.txt" > "$work/log.txt" 2>&1
status=$?
grep -E '^\+ *[0-9]+: (mip|>>>>>) =' "$work/log.txt" | tail -n 1
grep -E '^(INTEGER OPTIMAL SOLUTION FOUND|TIME LIMIT EXCEEDED|PROBLEM HAS NO)' "$work/log.txt"
if [ "$status" -ne 0 ] || [ ! -s "$work/solution.txt" ]; then
  echo "glpk.sh: $milp: glpsol gave no solution (status $status)" >&2
  tail -n 5 "$work/log.txt" >&2
  exit 1
fi
case $(sed -n 's/^Status: *//p' "$work/solution.txt") in
  "INTEGER OPTIMAL" | "INTEGER NON-OPTIMAL") ;;
  *) echo "glpk.sh: $milp: no integer solution" >&2; exit 1 ;;
esac
# The columns' table: number, name, '*' for an integer column, activity.
awk '/^ *No\. *Column name/ { columns = 1; next }
     columns && $2 ~ /^x[0-9]+$/ { activity = ($3 == "*" ? $4 : $3); if (activity > 0.5) print substr($2, 2) }' \
  "$work/solution.txt" > "$answer.part.$$" &&
  mv "$answer.part.$$" "$answer" || { rm -f "$answer.part.$$"; exit 2; }
