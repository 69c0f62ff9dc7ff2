#!/usr/bin/env bash
# --split into a directory that holds an earlier split, stopped by a signal at
# every step in turn: each record staged, each directory made, each file set
# aside, each file placed, the commit's end. The build with test hooks sends the
# signal itself at the chosen step, so the points covered do not depend on the
# machine. SIGTERM: the run takes itself back and ends with 143 (or, past its
# last check, completes and ends with 143). SIGKILL: the next split into the
# directory, here one that then fails on a missing input, takes it back or
# finishes it first. Afterwards the directory holds exactly the earlier split or
# exactly the new one, manifest and structures included, and no staging directory.
#
#   split_signals.sh RNAQUBO_SEQ_WITH_TEST_HOOKS
set -u
exe=$(realpath "$1")
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0 checks=0

# The new collection replaces five records of the old, adds two and leaves two;
# r3's structure goes away, r8 brings one, q1 keeps the old one.
awk 'BEGIN { srand(11); for (r = 1; r <= 7; r++) { printf ">%s%d\n", r <= 2 ? "q" : "r", r;
  s = ""; for (k = 0; k < 12; k++) s = s substr("ACGU", int(rand() * 4) + 1, 1); print s } }' > old.fa
awk 'BEGIN { srand(12); for (r = 3; r <= 9; r++) { printf ">r%d\n", r;
  s = ""; for (k = 0; k < 14; k++) s = s substr("ACGU", int(rand() * 4) + 1, 1); print s } }' > new.fa
structure() { awk -v name="$2" '$0 == ">" name { print; getline; print; print "(" substr("............", 1, length($0) - 2) ")" }' "$1"; }
{ structure old.fa q1; structure old.fa r3; } > old.dbn
structure new.fa r8 > new.dbn

# The files of a collection with their checksums, staging directories left out.
snapshot() { (cd "$1" && find . -path './.rnaqubo-seq-*' -prune -o -type f -print0 | sort -z | xargs -0 md5sum); }
staging_left() { find "$1" -maxdepth 1 -name '.rnaqubo-seq-*' | grep -q .; }
outcome() {  # prints old, new or mixed for directory $1
  snapshot "$1" > now.sum
  if cmp -s now.sum old.sum; then echo old; elif cmp -s now.sum new.sum; then echo new; else echo mixed; fi
}

"$exe" --split before --dbn old.dbn old.fa 2> /dev/null || exit 1
snapshot before > old.sum
cp -a before after && "$exe" --split after --dbn new.dbn new.fa 2> /dev/null || exit 1
snapshot after > new.sum
cmp -s old.sum new.sum && { echo "FAIL: the two collections do not differ"; exit 1; }
[ -f after/r3/r3.dbn ] && { echo "FAIL: r3's old structure outlived the new split"; exit 1; }

declare -A seen=()
for signal in TERM KILL; do
  number=$(kill -l "$signal")
  step=0 reached=yes
  while [ "$reached" = yes ]; do
    step=$((step + 1))
    rm -rf d && cp -a before d
    # (The group keeps the shell's own "Killed" notes out of the log.)
    { RNAQUBO_TEST_SIGNAL_STEP=$step RNAQUBO_TEST_SIGNAL=$number "$exe" --split d --dbn new.dbn new.fa 2> run.err; } 2> /dev/null
    status=$?
    checks=$((checks + 1))
    problem=
    case $status in
      0) reached=no ;;  # every step passed: the signal was never sent
      $((128 + number))) ;;
      *) problem="status $status" ;;
    esac
    if [ "$signal" = KILL ]; then
      "$exe" --split d missing.fa 2> rerun.err
      [ $? -eq 2 ] || problem="$problem rerun status"
    fi
    staging_left d && problem="$problem staging left"
    state=$(outcome d)
    [ "$state" = mixed ] && problem="$problem mixed files"
    [ "$reached" = no ] && [ "$state" != new ] && problem="$problem an uninterrupted split left $state files"
    seen[$signal-$state]=1
    if [ -n "$problem" ]; then
      echo "FAIL: SIG$signal at step $step: $problem"
      head -n 3 run.err
      failures=$((failures + 1))
    fi
    [ "$step" -le 200 ] || { echo "FAIL: SIG$signal: more than 200 steps"; failures=$((failures + 1)); break; }
  done
  echo "SIG$signal at each of $((step - 1)) steps"
done
# A second split into the directory while the first is stopped at each of its
# steps (SIGSTOP, sent by the first to itself) is refused and changes nothing;
# the first then completes. Into an existing directory and into a new one.
"$exe" --split fresh --dbn new.dbn new.fa 2> /dev/null || exit 1
snapshot fresh > fresh.sum
awk 'BEGIN { srand(13); for (r = 1; r <= 3; r++) { printf ">r%d\n", r; print "GGGGAAAACCCC" } }' > other.fa
stopped() { [ "$(awk '{ sub(/.*\) /, ""); print substr($0, 1, 1) }' "/proc/$1/stat" 2> /dev/null)" = T ]; }
for target in existing new; do
  step=0 reached=yes
  while [ "$reached" = yes ] && [ "$step" -le 200 ]; do
    step=$((step + 1))
    rm -rf d && { [ "$target" = new ] || cp -a before d; }
    RNAQUBO_TEST_SIGNAL_STEP=$step RNAQUBO_TEST_SIGNAL=$(kill -l STOP) "$exe" --split d --dbn new.dbn new.fa 2> run.err &
    first=$!
    while kill -0 "$first" 2> /dev/null && ! stopped "$first"; do sleep 0.01; done
    stopped "$first" || reached=no
    problem=
    if [ "$reached" = yes ]; then
      "$exe" --split d other.fa 2> second.err
      status=$?
      [ "$status" -eq 2 ] || problem="second split: status $status"
      grep -q 'another split into it is running; nothing was changed' second.err ||
        problem="$problem second split: $(head -c 200 second.err)"
      kill -s CONT "$first"
    fi
    wait "$first"
    status=$?
    [ "$status" -eq 0 ] || problem="$problem first split: status $status"
    checks=$((checks + 1))
    staging_left d && problem="$problem staging left"
    snapshot d > now.sum
    expected=new.sum
    [ "$target" = new ] && expected=fresh.sum
    cmp -s now.sum "$expected" || problem="$problem not the first split's collection"
    if [ -n "$problem" ]; then
      echo "FAIL: a second split into the $target directory, the first stopped at step $step: $problem"
      failures=$((failures + 1))
    fi
  done
  echo "a second split refused at each of $((step - 1)) steps ($target directory)"
done

# Both outcomes must have been reached by each signal: a stop before the first
# move keeps the old collection, one after the last check completes the new one.
for expected in TERM-old TERM-new KILL-old KILL-new; do
  [ -n "${seen[$expected]:-}" ] || { echo "FAIL: no stop ended as $expected"; failures=$((failures + 1)); }
done
echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
