# The fold CLI tests' helpers, sourced with $fold naming rnaqubo-fold: a scratch
# directory, removed on exit and made the working directory, and the checks.
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# run NAME STATUS STDOUT STDERR ARGS...: runs the tool and compares all three.
run() {
  local name=$1 status=$2 stdout=$3 stderr=$4
  shift 4
  "$fold" "$@" >out.txt 2>err.txt </dev/null
  local got=$?
  [ "$got" -eq "$status" ] || fail "$name: status $got, expected $status"
  printf '%s' "$stdout" | cmp -s - out.txt || fail "$name: stdout differs:
$(diff <(printf '%s' "$stdout") out.txt)"
  printf '%s' "$stderr" | cmp -s - err.txt || fail "$name: stderr differs:
$(diff <(printf '%s' "$stderr") err.txt)"
}
