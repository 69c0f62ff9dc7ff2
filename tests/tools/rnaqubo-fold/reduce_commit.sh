#!/usr/bin/env bash
# --reduce --out PREFIX writes its three files as one: a run stopped by a signal
# at each of its steps (the build with test hooks sends the signal itself at
# the chosen step) leaves the earlier files or the new ones, never a mixture
# once a run has looked at the prefix, and nothing staged after a catchable
# signal; what a SIGKILL leaves, the next run into the prefix finishes or
# removes before its first step. A second run into the prefix while the first
# is stopped at any step is refused and changes nothing.
#
#   reduce_commit.sh RNAQUBO_FOLD_WITH_TEST_HOOKS EXAMPLES_DIR
set -u
exe=$(realpath "$1")
examples=$(realpath "$2")
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0 checks=0
model=("$examples/trna_phe_yeast.txt" 76 4 1 -200)

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
sums() { md5sum p.map p.qubo p.q 2> /dev/null; }
# What else is there besides the three files (the lock file, when allowed).
leftovers() { ls -A | grep '^p\.' | grep -v -x -e p.map -e p.qubo -e p.q ${1:+-e "$1"}; }
state() {  # old, new or mixed
  sums > now.sum
  if cmp -s now.sum old.sum; then echo old; elif cmp -s now.sum new.sum; then echo new; else echo mixed; fi
}
reset() { rm -f p.*; for s in map qubo q; do cp "old.$s" "p.$s"; done; }

"$exe" "${model[@]}" --reduce 5% --out old > /dev/null || exit 1
"$exe" "${model[@]}" --reduce 10% --out new > /dev/null || exit 1
for s in map qubo q; do cp "old.$s" "p.$s"; done; sums > old.sum
for s in map qubo q; do cp "new.$s" "p.$s"; done; sums > new.sum
cmp -s old.sum new.sum && { echo "FAIL: the two reductions do not differ"; exit 1; }

declare -A seen=()
for signal in TERM KILL; do
  number=$(kill -l "$signal")
  step=0 reached=yes
  while [ "$reached" = yes ] && [ "$step" -le 50 ]; do
    step=$((step + 1))
    reset
    { RNAQUBO_TEST_SIGNAL_STEP=$step RNAQUBO_TEST_SIGNAL=$number "$exe" "${model[@]}" --reduce 10% --out p \
        > /dev/null 2> run.err; } 2> /dev/null
    status=$?
    checks=$((checks + 1))
    problem=
    case $status in
      0) reached=no ;;
      $((128 + number))) ;;
      *) problem="status $status" ;;
    esac
    if [ "$signal" = TERM ]; then
      [ "$(state)" = mixed ] && problem="$problem mixed files"
      [ -n "$(leftovers)" ] && problem="$problem left: $(leftovers | tr '\n' ' ')"
    else
      # The next run into the prefix, itself killed right after it looked at the
      # prefix: the prefix must then be whole, with nothing staged.
      { RNAQUBO_TEST_SIGNAL_STEP=1 RNAQUBO_TEST_SIGNAL=$number "$exe" "${model[@]}" --reduce 5% --out p \
          > /dev/null 2>&1; } 2> /dev/null
      [ "$(state)" = mixed ] && problem="$problem mixed files after the next run looked"
      [ -n "$(leftovers p.rnaqubo-lock)" ] && problem="$problem left: $(leftovers p.rnaqubo-lock | tr '\n' ' ')"
    fi
    [ "$reached" = no ] && [ "$(state)" != new ] && problem="$problem an uninterrupted run left $(state) files"
    seen[$signal-$(state)]=1
    [ -z "$problem" ] || { fail "SIG$signal at step $step: $problem"; head -n 3 run.err; }
  done
  echo "SIG$signal at each of $((step - 1)) steps"
done
for expected in TERM-old TERM-new KILL-old KILL-new; do
  [ -n "${seen[$expected]:-}" ] || fail "no stop ended as $expected"
done

# A second run while the first is stopped (SIGSTOP, sent by itself) at each step.
stopped() { [ "$(awk '{ sub(/.*\) /, ""); print substr($0, 1, 1) }' "/proc/$1/stat" 2> /dev/null)" = T ]; }
step=0 reached=yes
while [ "$reached" = yes ] && [ "$step" -le 50 ]; do
  step=$((step + 1))
  reset
  RNAQUBO_TEST_SIGNAL_STEP=$step RNAQUBO_TEST_SIGNAL=$(kill -l STOP) "$exe" "${model[@]}" --reduce 10% --out p \
    > /dev/null 2> run.err &
  first=$!
  while kill -0 "$first" 2> /dev/null && ! stopped "$first"; do sleep 0.01; done
  stopped "$first" || reached=no
  problem=
  if [ "$reached" = yes ]; then
    "$exe" "${model[@]}" --reduce 20% --out p > /dev/null 2> second.err
    status=$?
    [ "$status" -eq 2 ] || problem="second run: status $status"
    [ "$(cat second.err)" = "rnaqubo-fold: p: cannot write: another run is writing these files" ] ||
      problem="$problem second run: $(head -c 200 second.err)"
    kill -s CONT "$first"
  fi
  wait "$first" || problem="$problem first run: status $?"
  checks=$((checks + 1))
  [ "$(state)" = new ] || problem="$problem $(state) files"
  [ -n "$(leftovers)" ] && problem="$problem left: $(leftovers | tr '\n' ' ')"
  [ -z "$problem" ] || fail "a second run, the first stopped at step $step: $problem"
done
echo "a second run refused at each of $((step - 1)) steps"
echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
