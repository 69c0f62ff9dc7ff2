#!/usr/bin/env bash
# The command lines that do not start a run: --help, -h, --version, and those
# flags with an extra argument, which are usage errors.
# usage: command_line.sh RNAQUBO help|short_help|version|usage_error VERSION
set -u
exe=$1 mode=$2 version=$3

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
# The tool runs in an empty directory of its own; its output is kept beside it.
mkdir "$work/run" && cd "$work/run" || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

usage_lines() {
  printf 'usage: %s input_RNA_sequence_filename sequence_length min_distance_allowed_between_positions add_quads0/1 M_penalty\n' "$exe"
  printf 'usage: %s ase_00010.txt 316 4 1 -200\n' "$exe"
}
usage_lines > "$work/usage"

# run ARG...: runs the tool, stdout to $work/out and stderr to $work/err, and
# fails if the tool left any file behind.
run() {
  "$exe" "$@" > "$work/out" 2> "$work/err"
  status=$?
  if [ -n "$(find . -mindepth 1 -print -quit)" ]; then
    fail "'$*' created files: $(find . -mindepth 1 | tr '\n' ' ')"
    find . -mindepth 1 -delete
  fi
}

check_help() {
  run "$1"
  [ "$status" -eq 0 ] || fail "'$1' exited with $status, not 0"
  [ ! -s "$work/err" ] || fail "'$1' wrote to stderr: $(cat "$work/err")"
  head -n 2 "$work/out" | cmp -s - "$work/usage" || fail "'$1' does not start with the two usage lines:
$(head -n 2 "$work/out")"
  [ "$(wc -l < "$work/out")" -gt 4 ] || fail "'$1' prints no description after the usage lines"
  for word in input_RNA_sequence_filename dot_paren.txt Q_nested_ "Exit status"; do
    tail -n +3 "$work/out" | grep -qF -- "$word" || fail "'$1' description does not mention $word"
  done
}

case $mode in
  help) check_help --help ;;
  short_help) check_help -h ;;
  version)
    run --version
    [ "$status" -eq 0 ] || fail "--version exited with $status, not 0"
    [ ! -s "$work/err" ] || fail "--version wrote to stderr: $(cat "$work/err")"
    printf 'rnaqubo %s\n' "$version" | cmp -s - "$work/out" ||
      fail "--version printed '$(cat "$work/out")', expected 'rnaqubo $version'"
    ;;
  usage_error)
    for args in "--help extra" "-h extra" "--version extra" "extra --help" "--help --version"; do
      # shellcheck disable=SC2086 # the words of args are the arguments
      run $args
      [ "$status" -eq 2 ] || fail "'$args' exited with $status, not 2"
      [ ! -s "$work/out" ] || fail "'$args' wrote to stdout: $(cat "$work/out")"
      cmp -s "$work/err" "$work/usage" || fail "'$args' stderr is not the two usage lines:
$(cat "$work/err")"
    done
    ;;
  *) echo "unknown mode $mode"; exit 1 ;;
esac

[ "$failures" -eq 0 ] && echo "ok: $mode"
[ "$failures" -eq 0 ]
