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

# Prepares runs as the unprivileged user nobody (limits on processes and
# permissions do not bind root). Sets as_user to the command prefix, empty when
# not root, and user_binary to a copy of program $2 in directory $1 that the
# user can reach, since the build tree may sit under a private directory.
# Returns 1, with the reason in skip_reason, when such runs cannot be made here.
prepare_other_user() {
  as_user=() user_binary=$2 skip_reason=
  [ "$(id -u)" -eq 0 ] || return 0
  if ! command -v setpriv >/dev/null; then
    skip_reason="running as root without setpriv"
    return 1
  fi
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  if ! { mkdir -p "$1/bin" && chmod 755 "$1" "$1/bin" && cp "$2" "$1/bin/"; }; then
    skip_reason="cannot copy $2 into $1"
    return 1
  fi
  user_binary=$1/bin/$(basename "$2")
  chmod 755 "$user_binary"
  if ! "${as_user[@]}" test -x "$user_binary" 2>/dev/null; then
    skip_reason="the user nobody cannot reach $1 (a private directory above it)"
    return 1
  fi
}
