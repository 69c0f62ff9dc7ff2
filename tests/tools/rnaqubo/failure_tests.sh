#!/usr/bin/env bash
# Failure scenarios of rnaqubo that need the shell: a full disk forced with a
# file-size limit at each output, termination signals during the Q file, an
# unwritable directory, and hostile inputs. Every run must end with its message
# and status, leave no temporary file, and never leave an incomplete output
# under its final name.
#
#   failure_tests.sh BINARY
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../../check_lib.sh"
binary=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
checks=0

same_text() { [ "$(cat "$1")" = "$2" ]; }

# A random sequence of n bases in the input format, from a fixed seed.
random_sequence() {  # random_sequence N SEED FILE
  awk -v n="$1" -v seed="$2" 'BEGIN { srand(seed); print n;
    for (k = 0; k < n; k++) print substr("ACGU", int(rand() * 4) + 1, 1) }' >"$3"
}

# Runs the binary in directory $1 with the remaining arguments; sets status, out.
run_in() {
  local dir=$1
  shift
  out=$( (cd "$dir" && timeout 60 "$binary" "$@") 2>"$dir/.stderr")
  status=$?
}

# --- A file-size limit at each of the three outputs --------------------------
# The example's dot_paren.txt is about 15 KB, its listing 27 KB, its Q file 3 MB,
# so limits of 8, 20 and 100 KB stop the run inside each file in turn.
for entry in "8 dot_paren.txt" "20 Q_nested_922_x.txt" "100 Q_922_x.txt"; do
  set -- $entry
  limit=$1
  victim=$2
  dir=$scratch/limit_$limit
  mkdir -p "$dir"
  cp "$(dirname "$0")/../../../examples/srp_ecoli.txt" "$dir/x.txt"
  for name in dot_paren.txt Q_nested_922_x.txt Q_922_x.txt; do echo "earlier $name" >"$dir/$name"; done
  out=$( (cd "$dir" && ulimit -f "$limit" && "$binary" x.txt 113 4 1 -200) 2>"$dir/.stderr")
  status=$?
  check "limit at $victim: status 2 (got $status)" [ "$status" -eq 2 ]
  check "limit at $victim: message" [ "${out##*$'\n'}" = "Could not write to file!" ]
  check "limit at $victim: earlier file intact" same_text "$dir/$victim" "earlier $victim"
  check "limit at $victim: no temporary left" no_temporaries "$dir"
  # The files before the failing one are complete; the ones after it untouched.
  case $victim in
    dot_paren.txt) check "limit at $victim: listing untouched" same_text "$dir/Q_nested_922_x.txt" "earlier Q_nested_922_x.txt" ;;
    Q_nested_922_x.txt) check "limit at $victim: dot_paren complete" [ "$(wc -l <"$dir/dot_paren.txt")" -eq 923 ] ;;
    Q_922_x.txt) check "limit at $victim: listing complete" [ "$(wc -l <"$dir/Q_nested_922_x.txt")" -eq 922 ] ;;
  esac
done

# --- Termination signals while the Q file is written ---------------------------
dir=$scratch/signals
mkdir -p "$dir"
random_sequence 3000 7 "$dir/big.txt"
for signal in TERM INT HUP; do
  # The signal must land while the Q file is written; a run that finished
  # first (a fast or idle machine) is tried again, up to ten times.
  for attempt in $(seq 1 10); do
    rm -f "$dir"/Q_* "$dir"/dot_paren.txt
    (cd "$dir" && exec "$binary" big.txt 3000 4 1 -200 >/dev/null) &
    pid=$!
    # Wait until the Q file is being written: the listing is complete and another
    # output is open.
    for _ in $(seq 1 2000); do
      if compgen -G "$dir/Q_nested_*" >/dev/null && writing_in "$pid" "$dir"; then break; fi
      sleep 0.005
    done
    mid_write=no
    compgen -G "$dir/Q_nested_*" >/dev/null && writing_in "$pid" "$dir" && mid_write=yes
    delivered=yes
    kill -s "$signal" "$pid" 2>/dev/null || delivered=no
    wait "$pid"
    status=$?
    [ "$delivered" = yes ] && [ "$mid_write" = yes ] && [ "$status" -ne 0 ] && break
  done
  number=$(kill -l "$signal")
  check "SIG$signal: caught while the Q file was being written" [ "$mid_write" = yes ]
  check "SIG$signal: status $((128 + number)) (got $status)" [ "$status" -eq $((128 + number)) ]
  check "SIG$signal: no temporary left" no_temporaries "$dir"
  check "SIG$signal: no Q file under its final name" [ -z "$(compgen -G "$dir/Q_[0-9]*")" ]
done

# --- An unwritable working directory ----------------------------------------------
dir=$scratch/readonly
mkdir -p "$dir"
printf '5\nG\nG\nA\nC\nC\n' >"$dir/x.txt"
chmod 555 "$dir"
chmod 755 "$scratch"
if prepare_other_user "$scratch/other_user" "$binary"; then
  out=$(cd "$dir" && "${as_user[@]}" "$user_binary" x.txt 5 0 1 -200 2>"$scratch/readonly.stderr")
  status=$?
  check "unwritable directory: status 2 (got $status)" [ "$status" -eq 2 ]
  check "unwritable directory: system reason on stderr" \
    same_text "$scratch/readonly.stderr" "Failed to open Permission denied"
  check "unwritable directory: message" [ "${out##*$'\n'}" = "Could not write to file!" ]
  check "unwritable directory: nothing created" [ "$(ls -A "$dir")" = x.txt ]
  # An input that cannot be read is reported as such.
  chmod 755 "$dir"
  chmod 000 "$dir/x.txt"
  out=$(cd "$dir" && "${as_user[@]}" "$user_binary" x.txt 5 0 1 -200 2>/dev/null)
  status=$?
  check "unreadable input: status 2 (got $status)" [ "$status" -eq 2 ]
  check "unreadable input: message" [ "${out##*$'\n'}" = "Could not read from Q file!" ]
else
  echo "skipped: unwritable directory ($skip_reason)"
fi

# --- Hostile inputs: each gets its message and status, never a signal -------------
dir=$scratch/inputs
mkdir -p "$dir"
head -c 65536 /dev/urandom >"$dir/garbage.bin"
printf '4\nG\0G\nA\0\0\nC\nC\n' >"$dir/nul.txt"  # NUL is part of a word
{ printf '3\nG'; head -c 10000000 /dev/zero | tr '\0' 'x'; printf '\nC\nC\n'; } >"$dir/long_word.txt"
{ printf '2\n'; head -c 10000000 /dev/zero | tr '\0' ' '; printf 'G C\n'; } >"$dir/long_line.txt"
printf -- '-5\nG\nG\nA\nC\nC\n' >"$dir/negative.txt"
printf '+5\nG\nG\nA\nC\nC\n' >"$dir/plus.txt"
mkfifo "$dir/fifo"
for entry in "garbage.bin 5 -" "nul.txt 4 ok" "long_word.txt 3 ok" "long_line.txt 2 ok" \
            "negative.txt 5 File size does not equal command line 5 != -5" "plus.txt 5 ok" \
            "fifo 5 Nothing read from Sequence"; do
  set -- $entry
  file=$1
  n=$2
  shift 2
  want="$*"
  run_in "$dir" "$file" "$n" 0 1 -200
  check "input $file: no signal, no hang (status $status)" [ "$status" -lt 3 ]
  case $want in
    -) ;;
    ok) check "input $file: complete run (status $status)" [ "$status" -eq 0 ] ;;
    *) check "input $file: says '$want' (got '${out##*$'\n'}')" [ "${out##*$'\n'}" = "$want" ] ;;
  esac
done
# A FIFO with a writer is read like a file.
printf '5\nG\nG\nA\nC\nC\n' >"$dir/fifo" &
run_in "$dir" fifo 5 0 1 -200
wait
check "fifo with a writer: complete run (status $status)" [ "$status" -eq 0 ]
check "no temporary left by the input runs" no_temporaries "$dir"

echo "failure scenarios: $((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
