#!/usr/bin/env bash
# Renders rnaqubo-seq's manual page with warnings on and checks its sections,
# every option of the program and the version in its footer.
#   seq_man_page.sh MAN_PAGE VERSION
set -u
page=$1 version=$2
command -v groff > /dev/null || { echo "SKIP: groff is not installed"; exit 77; }
text=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww "$page" 2> /tmp/seq_man_page.$$ | sed 's/.\x08//g')
warnings=$(cat /tmp/seq_man_page.$$) && rm -f /tmp/seq_man_page.$$
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
[ -z "$warnings" ] || fail "groff warned: $warnings"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" EXAMPLES; do
  grep -qx "$section" <<< "$text" || fail "no $section section"
done
for word in -o -i --ambiguous --split --dbn --write-dbn --own-structure STOCKHOLM SS_cons --help --version manifest.tsv .fai .gzi; do
  grep -qF -- "$word" <<< "$text" || fail "$word is not described"
done
tail -n 2 <<< "$text" | grep -qF "rnaqubo $version" || fail "the footer does not name rnaqubo $version"
[ "$failures" -eq 0 ] && echo "ok: $page"
[ "$failures" -eq 0 ]
