#!/usr/bin/env bash
# --split into a directory that holds an earlier split, stopped by a signal at a
# random moment: SIGTERM (the run takes itself back and ends with 143, or had
# already finished) and SIGKILL (the next split into the directory, here one
# that then fails on a missing input, takes it back or finishes it first).
# Afterwards the directory holds exactly the earlier split or exactly the new
# one, manifest included, and no staging directory.
#
#   split_signals.sh RNAQUBO_SEQ
set -u
exe=$(realpath "$1")
work=$(mktemp -d) || exit 1
# Only this shell cleans up: a signal can reach a background job's forked shell
# before it execs rnaqubo-seq and has reset the traps, and that shell must not
# take the whole scratch directory with it.
main_shell=$BASHPID
trap '[ "$BASHPID" = "$main_shell" ] && rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0 checks=0

# The new collection replaces 600 records of the old, adds 100, leaves 100.
awk 'BEGIN { srand(11); for (r = 1; r <= 700; r++) { printf ">%s%d\n", r <= 100 ? "q" : "r", r;
  s = ""; for (k = 0; k < 40; k++) s = s substr("ACGU", int(rand() * 4) + 1, 1); print s } }' > old.fa
awk 'BEGIN { srand(12); for (r = 101; r <= 800; r++) { printf ">r%d\n", r;
  s = ""; for (k = 0; k < 50; k++) s = s substr("ACGU", int(rand() * 4) + 1, 1); print s } }' > new.fa

# The files of a collection with their checksums, staging directories left out.
snapshot() { (cd "$1" && find . -path './.rnaqubo-seq-*' -prune -o -type f -print0 | sort -z | xargs -0 md5sum); }
staging_left() { find "$1" -maxdepth 1 -name '.rnaqubo-seq-*' | grep -q .; }

"$exe" --split before old.fa 2> /dev/null || exit 1
snapshot before > old.sum
cp -a before after && "$exe" --split after new.fa 2> /dev/null || exit 1
snapshot after > new.sum
cmp -s old.sum new.sum && { echo "FAIL: the two collections do not differ"; exit 1; }
start=$(date +%s%N); cp -a before timing && "$exe" --split timing new.fa 2> /dev/null; span=$((($(date +%s%N) - start) / 1000))

outcome() {  # prints old, new or mixed for directory $1
  snapshot "$1" > now.sum
  if cmp -s now.sum old.sum; then echo old; elif cmp -s now.sum new.sum; then echo new; else echo mixed; fi
}
declare -A seen=()
for run in $(seq 1 56); do
  signal=TERM; [ $((run % 2)) -eq 0 ] && signal=KILL
  rm -rf d && cp -a before d
  "$exe" --split d new.fa 2> run.err &
  pid=$!
  # A moment anywhere from the start to a little past a whole run.
  delay=$((RANDOM * 12 / 10 * span / 32768))
  sleep "$(printf '0.%06d' "$delay")"
  kill -s "$signal" "$pid" 2> /dev/null
  wait "$pid" 2> /dev/null
  status=$?
  checks=$((checks + 1))
  problem=
  if [ "$signal" = TERM ]; then
    [ "$status" -eq 0 ] || [ "$status" -eq 143 ] || problem="status $status"
  else
    [ "$status" -eq 0 ] || [ "$status" -eq 137 ] || problem="status $status"
    "$exe" --split d missing.fa 2> rerun.err
    [ $? -eq 2 ] || problem="rerun status"
  fi
  staging_left d && problem="$problem staging left"
  state=$(outcome d)
  [ "$state" = mixed ] && problem="$problem mixed files"
  seen[$signal-$state]=1
  if [ -n "$problem" ]; then
    echo "FAIL: run $run, SIG$signal after ${delay}us: $problem"
    head -n 3 run.err
    failures=$((failures + 1))
  fi
done
echo "outcomes seen: ${!seen[*]} (a whole split takes ${span}us)"
echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
