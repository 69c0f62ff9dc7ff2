# Shell helpers shared by the script tests; source it, then set failures=0 checks=0.

check() {  # check DESCRIPTION COMMAND...: counts a check, reports it if the command fails
  checks=$((checks + 1))
  "${@:2}" || { echo "FAIL: $1"; failures=$((failures + 1)); }
}

# Makes a scratch directory $work, removed when the script ends, and enters it.
enter_scratch() {
  work=$(mktemp -d) || exit 1
  trap 'rm -rf "$work"' EXIT
  cd "$work" || exit 1
}

# Whether directory $1 holds no named temporary of an output.
no_temporaries() { [ -z "$(find "$1" -name '.rnaqubo-*' -print -quit)" ]; }

# Whether process $1 is writing an output in directory $2: a named temporary
# there, or an unnamed file of that directory open in the process.
writing_in() {
  ! no_temporaries "$2" && return 0
  local fd
  for fd in /proc/"$1"/fd/*; do
    case $(readlink "$fd" 2>/dev/null) in "$2"/\#*" (deleted)") return 0 ;; esac
  done
  return 1
}
