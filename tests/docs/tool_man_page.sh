#!/usr/bin/env bash
# Renders a tool's manual page with warnings on and checks its sections, that
# every word given (the program's options and the names it writes) is
# described, and the version in its footer.
#   tool_man_page.sh MAN_PAGE VERSION WORD...
set -u
page=$1 version=$2
shift 2
command -v groff > /dev/null || { echo "SKIP: groff is not installed"; exit 77; }
scratch=$(mktemp)
text=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww "$page" 2> "$scratch" | sed 's/.\x08//g')
warnings=$(cat "$scratch") && rm -f "$scratch"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
[ -z "$warnings" ] || fail "groff warned: $warnings"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES; do
  grep -qx "$section" <<< "$text" || fail "no $section section"
done
for word in "$@"; do
  grep -qF -- "$word" <<< "$text" || fail "$word is not described"
done
tail -n 2 <<< "$text" | grep -qF "rnaqubo $version" || fail "the footer does not name rnaqubo $version"
[ "$failures" -eq 0 ] && echo "ok: $page"
[ "$failures" -eq 0 ]
