#!/usr/bin/env bash
# Renders the manual page with warnings on and checks its sections, its
# argument names and its version line.
# usage: man_page.sh MAN_PAGE VERSION
set -u
page=$1 version=$2

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

if command -v groff > /dev/null; then
  renderer="groff -man -Tutf8 -ww"
  LC_ALL=C.UTF-8 groff -man -Tutf8 -ww "$page" > "$work/raw" 2> "$work/err"
elif command -v man > /dev/null; then
  renderer="man -l"
  MANWIDTH=80 MAN_KEEP_FORMATTING=0 man -l "$page" > "$work/raw" 2> "$work/err"
else
  echo "SKIP: neither groff nor man is available to render $page"
  exit 77
fi
status=$?

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

[ "$status" -eq 0 ] || fail "$renderer exited with $status"
[ ! -s "$work/err" ] || fail "$renderer warned:
$(cat "$work/err")"

# Drop the overstrike sequences of bold and underlined text.
sed 's/.\x08//g' "$work/raw" > "$work/text"

for section in NAME SYNOPSIS DESCRIPTION ARGUMENTS FILES "EXIT STATUS" EXAMPLES NOTES; do
  grep -qx "$section" "$work/text" || fail "no $section section"
done
for name in input_RNA_sequence_filename sequence_length min_distance_allowed_between_positions \
            add_quads0/1 M_penalty dot_paren.txt Q_nested_ --help --version; do
  grep -qF -- "$name" "$work/text" || fail "$name is not described"
done
tail -n 3 "$work/text" | grep -qF "rnaqubo $version" ||
  fail "the footer does not name rnaqubo $version: $(tail -n 1 "$work/text")"

[ "$failures" -eq 0 ] && echo "ok: $page renders cleanly with $renderer"
[ "$failures" -eq 0 ]
