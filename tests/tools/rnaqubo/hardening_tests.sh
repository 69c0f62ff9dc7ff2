#!/usr/bin/env bash
# What an adversary tries on rnaqubo: no threads, no memory, SIGKILL and
# unusual signals mid-write, stale temporaries, an output that is the input,
# names too long for the file system, hostile base words. Every run must end
# with its documented message and status, keep its progress lines, leave no
# temporary and lose no file.
#
#   hardening_tests.sh BINARY HOOKS_BINARY
# HOOKS_BINARY is the test build that reads RNAQUBO_TEST_NAMED_TEMPORARY (force
# named temporaries) and RNAQUBO_TEST_FAILING_BUFFER=k (refuse the k-th buffer).
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../../check_lib.sh"
shopt -s extglob
binary=$(realpath "$1")
hooks=$(realpath "$2")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
example=$(cd "$(dirname "$0")/../../../examples" && pwd)/srp_ecoli.txt
failures=0
checks=0

same_file() { cmp -s "$1" "$2"; }
matches() { [[ $1 =~ $2 ]]; }
# Whether file $1 is a leading part of the progress lines in $2, then one memory message.
memory_failure_after_progress() {
  local text progress
  text=$(cat "$1")
  progress=${text%Memory allocation problem in AllocateInt@(Array|Matrix)}
  [ "$progress" != "$text" ] && [ "${progress/Memory/}" = "$progress" ] &&
    printf '%s' "$progress" | cmp -s - <(head -c "$(printf '%s' "$progress" | wc -c)" "$2")
}
# The names in directory $1, hidden ones included, on one line.
listing() { (cd "$1" && ls -A | tr '\n' ' '); }
fresh_dir() {  # fresh_dir NAME: an empty directory anyone may write in, as $dir
  dir=$scratch/$1
  mkdir -p "$dir"
  chmod 777 "$dir"
}
# Runs COMMAND... in $dir; sets status, and keeps stdout and stderr in $dir/.out, .err.
run_here() {
  (cd "$dir" && timeout 120 "$@") >"$scratch/out" 2>"$scratch/err" </dev/null
  status=$?
}


# --- The complete run every other run is compared with ------------------------------
fresh_dir reference
cp "$example" "$dir/x.txt"
run_here "$binary" x.txt 113 4 1 -200
ref=$dir
cp "$scratch/out" "$scratch/ref.stdout"
outputs=(dot_paren.txt Q_nested_922_x.txt Q_922_x.txt)
check "reference run completes (status $status)" [ "$status" -eq 0 ]

# --- No thread can be started: the run completes on the calling thread --------------
if prepare_other_user "$scratch/other_user" "$binary"; then
  fresh_dir no_threads
  cp "$example" "$dir/x.txt"
  run_here "${as_user[@]}" bash -c 'ulimit -u 1 && exec "$@"' - "$user_binary" x.txt 113 4 1 -200
  check "no threads: complete (status $status)" [ "$status" -eq 0 ]
  check "no threads: progress lines" same_file "$scratch/out" "$scratch/ref.stdout"
  for name in "${outputs[@]}"; do
    check "no threads: $name as usual" same_file "$dir/$name" "$ref/$name"
  done
  check "no threads: nothing else left" [ "$(listing "$dir")" = "$(listing "$ref")" ]
else
  echo "skipped: thread limits ($skip_reason)"
fi

# --- A buffer refused at each output -----------------------------------------------------
# Allocations 1, 2 and 3 are the buffers of the three outputs in turn; a refused
# fourth (a helper thread's) only means fewer threads.
for entry in "1 0" "2 1" "3 2" "4 3"; do
  set -- $entry
  refused=$1
  complete=$2  # outputs completed before the refusal
  fresh_dir buffer_$refused
  cp "$example" "$dir/x.txt"
  for name in "${outputs[@]}"; do echo "earlier $name" >"$dir/$name"; done
  run_here env RNAQUBO_TEST_FAILING_BUFFER=$refused "$hooks" x.txt 113 4 1 -200
  if [ "$complete" -lt 3 ]; then
    check "buffer $refused: status 1 (got $status)" [ "$status" -eq 1 ]
    check "buffer $refused: progress lines, then the message once" \
      [ "$(cat "$scratch/out")" = "$(cat "$scratch/ref.stdout")"$'\n'"Memory allocation problem in AllocateIntArray" ]
  else
    check "buffer $refused: complete (status $status)" [ "$status" -eq 0 ]
  fi
  check "buffer $refused: no temporary" no_temporaries "$dir"
  for k in 0 1 2; do
    name=${outputs[$k]}
    if [ "$k" -lt "$complete" ]; then
      check "buffer $refused: $name complete" same_file "$dir/$name" "$ref/$name"
    else
      check "buffer $refused: $name keeps its old content" [ "$(cat "$dir/$name")" = "earlier $name" ]
    fi
  done
done

# --- Tight address-space limits ------------------------------------------------------------
# Whatever runs short (tables, buffers, thread stacks), a run completes or ends
# with the memory message once, keeps its progress lines and leaves every output
# either complete or as it was. Skipped where a generous limit already fails
# (a sanitizer build reserves far more address space).
fresh_dir address_space
cp "$example" "$dir/x.txt"
limited() { run_here bash -c 'ulimit -v "$1" && shift && exec "$@"' - "$@"; }
limited 400000 "$binary" x.txt 113 4 1 -200
if [ "$status" -eq 0 ]; then
  for limit in $(seq 5000 1000 16000); do
    for name in "${outputs[@]}"; do echo "earlier $name" >"$dir/$name"; done
    limited "$limit" "$binary" x.txt 113 4 1 -200
    # Too little for the dynamic loader itself: the program never started.
    [ "$status" -eq 127 ] && grep -q 'error while loading shared libraries' "$scratch/err" && continue
    check "limit $limit KB: status 0 or 1 (got $status)" [ "$status" -le 1 ]
    [ "$status" -eq 1 ] && check "limit $limit KB: progress lines, then the memory message once" \
      memory_failure_after_progress "$scratch/out" "$scratch/ref.stdout"
    check "limit $limit KB: no temporary" no_temporaries "$dir"
    for name in "${outputs[@]}"; do
      check "limit $limit KB: $name complete or as it was" \
        eval 'same_file "$dir/$name" "$ref/$name" || [ "$(cat "$dir/$name")" = "earlier $name" ]'
    done
  done
else
  echo "skipped: address-space limits (a generous limit already fails)"
fi

# --- Killed while the Q file is written ----------------------------------------------------
# Unnamed outputs leave nothing at all; named ones (forced) leave one temporary
# of the documented pattern, and every signal that can be caught removes it.
awk -v n=3000 'BEGIN { srand(7); print n; for (k = 0; k < n; k++) print substr("ACGU", int(rand() * 4) + 1, 1) }' \
  >"$scratch/big.txt"
for entry in "KILL unnamed" "KILL named" "USR1 named" "ALRM named" "USR2 named" "QUIT named" "RTMIN+2 named"; do
  set -- $entry
  signal=$1
  kind=$2
  fresh_dir "kill_${signal}_$kind"
  cp "$scratch/big.txt" "$dir/big.txt"
  if [ "$kind" = named ]; then
    (cd "$dir" && ulimit -c 0 && exec env RNAQUBO_TEST_NAMED_TEMPORARY=1 "$hooks" big.txt 3000 4 1 -200 >/dev/null) &
  else
    (cd "$dir" && ulimit -c 0 && exec "$binary" big.txt 3000 4 1 -200 >/dev/null) &
  fi
  pid=$!
  for _ in $(seq 1 4000); do
    if compgen -G "$dir/Q_nested_*" >/dev/null && writing_in "$pid" "$dir"; then break; fi
    sleep 0.005
  done
  mid_write=no
  compgen -G "$dir/Q_nested_*" >/dev/null && writing_in "$pid" "$dir" && mid_write=yes
  kill -s "$signal" "$pid"
  { wait "$pid"; } 2>/dev/null
  status=$?
  left=$(cd "$dir" && ls -A | grep -v -e '^big.txt$' -e '^dot_paren.txt$' -e '^Q_nested_58766_big.txt$' | tr '\n' ' ')
  check "SIG$signal $kind: caught mid-write" [ "$mid_write" = yes ]
  check "SIG$signal $kind: status $((128 + $(kill -l "$signal" 2>/dev/null || echo 0))) (got $status)" \
    [ "$status" -eq $((128 + $(kill -l "$signal"))) ]
  if [ "$signal" = KILL ] && [ "$kind" = named ]; then
    check "SIGKILL named: one temporary '.rnaqubo-$pid-<16 hex digits>.tmp' (left: $left)" \
      matches "$left" "^\.rnaqubo-$pid-[0-9a-f]{16}\.tmp $"
  else
    check "SIG$signal $kind: nothing left (left: $left)" [ -z "$left" ]
  fi
done

# --- Always PID 1, with a thousand stale temporaries --------------------------------------
if unshare --pid --fork true 2>/dev/null; then
  for entry in "unnamed" "named"; do
    fresh_dir pid1_$entry
    cp "$example" "$dir/x.txt"
    (cd "$dir" && for k in $(seq 0 999); do : >".rnaqubo-1-$k.tmp"; done)
    if [ "$entry" = named ]; then
      run_here unshare --pid --fork env RNAQUBO_TEST_NAMED_TEMPORARY=1 "$hooks" x.txt 113 4 1 -200
    else
      run_here unshare --pid --fork "$binary" x.txt 113 4 1 -200
    fi
    check "PID 1 $entry among stale names: complete (status $status)" [ "$status" -eq 0 ]
    for name in "${outputs[@]}"; do
      check "PID 1 $entry: $name as usual" same_file "$dir/$name" "$ref/$name"
    done
    check "PID 1 $entry: only the stale names are hidden" [ "$(find "$dir" -name '.rnaqubo-*' | wc -l)" -eq 1000 ]
  done
else
  echo "skipped: PID namespace (unshare not permitted)"
fi

# --- An output that is the input -------------------------------------------------------------
# Each layout is refused before anything is written: every file stays as it was.
five=$'5\nG\nG\nA\nC\nC\n'
for entry in "dot_paren.txt plain" "in.txt symlink dot_paren.txt" "x.txt hardlink Q_nested_1_x.txt" \
             "x.txt symlink Q_1_x.txt" "./dot_paren.txt plain"; do
  set -- $entry
  input=$1
  layout=$2
  fresh_dir "own_input_$(echo "$entry" | tr ' /.' '___')"
  if [ "$layout" = plain ]; then
    printf '%s' "$five" >"$dir/$input"
  else
    printf '%s' "$five" >"$dir/$input"
    if [ "$layout" = symlink ] && [ "$3" = dot_paren.txt ]; then
      mv "$dir/$input" "$dir/dot_paren.txt" && ln -s dot_paren.txt "$dir/$input"
    elif [ "$layout" = symlink ]; then
      ln -s "$input" "$dir/$3"
    else
      ln "$dir/$input" "$dir/$3"
    fi
  fi
  before=$(cd "$dir" && ls -lA --time-style=+%s.%N && cat ./*)
  run_here "$binary" "$input" 5 0 1 -200
  check "own input $entry: status 2 (got $status)" [ "$status" -eq 2 ]
  check "own input $entry: reason on stderr" [ "$(cat "$scratch/err")" = "Failed to open Input file would be overwritten" ]
  check "own input $entry: progress lines, then the message" [ "$(cat "$scratch/out")" = \
    "$(printf 'Using penalty = -200\nNumber of bases on Sequence read = 5\n\nFeasible Base Pairs = 4\n\nNested Feasible Base Pairs = 1\nCould not write to file!')" ]
  check "own input $entry: nothing touched" [ "$(cd "$dir" && ls -lA --time-style=+%s.%N && cat ./*)" = "$before" ]
done

# --- A name longer than the file system allows ------------------------------------------
# "Q_nested_922_" and 250 characters exceed 255: the run is refused before any
# output is written, so an earlier dot_paren.txt stays as it was.
long=$(printf 'a%.0s' $(seq 1 246)).txt
for kind in unnamed named; do
  fresh_dir long_$kind
  cp "$example" "$dir/$long"
  echo earlier >"$dir/dot_paren.txt"
  if [ $kind = named ]; then
    run_here env RNAQUBO_TEST_NAMED_TEMPORARY=1 "$hooks" "$long" 113 4 1 -200
  else
    run_here "$binary" "$long" 113 4 1 -200
  fi
  check "long name $kind: status 2 (got $status)" [ "$status" -eq 2 ]
  check "long name $kind: progress lines, then the message" \
    [ "$(cat "$scratch/out")" = "$(cat "$scratch/ref.stdout")"$'\n'"Could not write to file!" ]
  check "long name $kind: dot_paren.txt untouched" [ "$(cat "$dir/dot_paren.txt")" = earlier ]
  check "long name $kind: nothing else" [ "$(listing "$dir")" = "$long dot_paren.txt " ]
done

# --- Outputs that are links, FIFOs and devices -----------------------------------------------
# A link stays a link and the file it leads to takes the output (a dangling one
# creates it); a FIFO, /dev/null or standard output is written in place.
fresh_dir links
cp "$example" "$dir/x.txt"
mkdir "$dir/sub"
echo earlier >"$dir/sub/real.txt"
ln -s sub/real.txt "$dir/dot_paren.txt"
ln -s "$dir/sub/made.txt" "$dir/Q_nested_922_x.txt"
ln -s /dev/null "$dir/Q_922_x.txt"
run_here "$binary" x.txt 113 4 1 -200
check "links: complete (status $status)" [ "$status" -eq 0 ]
check "links: dot_paren.txt still a link" [ -L "$dir/dot_paren.txt" ]
check "links: its target replaced" same_file "$dir/sub/real.txt" "$ref/dot_paren.txt"
check "links: dangling link's target created" same_file "$dir/sub/made.txt" "$ref/Q_nested_922_x.txt"
check "links: /dev/null still a device" [ -c /dev/null ] && [ -L "$dir/Q_922_x.txt" ]
check "links: nothing else" [ "$(listing "$dir") $(listing "$dir/sub")" = \
  "Q_922_x.txt Q_nested_922_x.txt dot_paren.txt sub x.txt  made.txt real.txt " ]
fresh_dir fifo
cp "$example" "$dir/x.txt"
mkfifo "$dir/dot_paren.txt"
timeout 60 cat "$dir/dot_paren.txt" >"$scratch/fifo.read" &
reader=$!
run_here "$binary" x.txt 113 4 1 -200
wait "$reader"
check "fifo: complete (status $status)" [ "$status" -eq 0 ]
check "fifo: the reader received dot_paren.txt" same_file "$scratch/fifo.read" "$ref/dot_paren.txt"
check "fifo: still a FIFO" [ -p "$dir/dot_paren.txt" ]
fresh_dir stdout
cp "$example" "$dir/x.txt"
ln -s /proc/self/fd/1 "$dir/dot_paren.txt"
run_here "$binary" x.txt 113 4 1 -200
check "stdout: complete (status $status)" [ "$status" -eq 0 ]
check "stdout: still a link" [ -L "$dir/dot_paren.txt" ]
# The progress lines, buffered, may come before or after: nothing is overwritten.
on_stdout() {
  cat "$ref/dot_paren.txt" "$scratch/ref.stdout" | cmp -s - "$scratch/out" ||
    cat "$scratch/ref.stdout" "$ref/dot_paren.txt" | cmp -s - "$scratch/out"
}
check "stdout: dot_paren.txt and the progress lines on standard output" on_stdout
no_temporaries "$dir" || check "stdout: no temporary" false

# --- Hostile base words ----------------------------------------------------------------------
# Each word follows "3 G" and must be shown as the last line of standard output.
fresh_dir words
long_word() { head -c "$1" /dev/zero | tr '\0' "$2"; }
word_cases=(
  "Thymine|Thymine"
  "$(printf 'T\033[2J\033]0;owned\007')|T\\x1B[2J\\x1B]0;owned\\x07"
  "$(printf 'X\tY')|X"
  "$(printf 'T\xc3\xa9')|T\\xC3\\xA9"
  "T$(long_word 63 x)|T$(long_word 63 x)"
  "T$(long_word 64 x)|T$(long_word 63 x)..."
  "$(printf '\x01')$(long_word 80 y)|\\x01$(long_word 63 y)..."
)
k=0
for entry in "${word_cases[@]}"; do
  word=${entry%%|*}
  shown=${entry#*|}
  k=$((k + 1))
  printf '3\nG\n%s\nC\n' "$word" >"$dir/w$k.txt"
  run_here "$binary" "w$k.txt" 3 0 1 -200
  check "word $k: status 1 (got $status)" [ "$status" -eq 1 ]
  check "word $k: shown as '$shown' (got '$(tail -n 1 "$scratch/out")')" \
    [ "$(tail -n 1 "$scratch/out")" = "Invalid gene base read: $shown" ]
done
# NUL bytes, and a word of 200 MB that must not be echoed whole.
printf '2\nG\nT\0\0U\nC\n' >"$dir/nul.txt"
run_here "$binary" nul.txt 2 0 1 -200
check "NUL word: escaped" [ "$(tail -n 1 "$scratch/out" | tr -d '\0')" = 'Invalid gene base read: T\x00\x00U' ]
check "NUL word: no NUL byte written" [ "$(tr -cd '\0' <"$scratch/out" | wc -c)" -eq 0 ]
{ printf '2\nG\nX'; head -c 200000000 /dev/zero | tr '\0' 'z'; printf '\nC\n'; } >"$dir/huge.txt"
run_here "$binary" huge.txt 2 0 1 -200
check "200 MB word: status 1 (got $status)" [ "$status" -eq 1 ]
check "200 MB word: cut" [ "$(tail -n 1 "$scratch/out")" = "Invalid gene base read: X$(long_word 63 z)..." ]
rm -f "$dir/huge.txt"

echo "hardening scenarios: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
