#!/usr/bin/env bash
# The manual page of rnaqubo-fold: renders without warnings, has its sections,
# shows the outputs the tool really prints, and installs beside the tool.
# usage: fold_docs.sh RNAQUBO_FOLD MAN_PAGE VERSION CMAKE BUILD_DIR CONFIG BINDIR MANDIR
set -u
fold=$(realpath "$1") page=$(realpath "$2") version=$3
cmake=$4 build=$(realpath "$5") config=$6 bindir=$7 mandir=$8

command -v groff >/dev/null || { echo "SKIP: groff is not installed"; exit 77; }
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

LC_ALL=C groff -man -Tascii -ww "$page" 2>err.txt | sed 's/.\x08//g' >page.txt
[ -s err.txt ] && fail "groff warned: $(cat err.txt)"
for section in NAME SYNOPSIS DESCRIPTION ARGUMENTS OPTIONS OUTPUT "EXIT STATUS" EXAMPLES "SEE ALSO"; do
  grep -qx "$section" page.txt || fail "no $section section"
done
for name in --solution --zero-based --reference --svg --help --version "certified: yes" "not a secondary structure" \
            input_RNA_sequence_filename M_penalty; do
  grep -qF -- "$name" page.txt || fail "$name is not described"
done
tail -n 3 page.txt | grep -qF "rnaqubo-fold $version" || fail "the footer does not name rnaqubo-fold $version"

# Each "$ rnaqubo-fold ..." example, run here, prints the lines shown under it.
printf '8\nG G G G C C C C\n' >g4c4.txt
echo 001010100 >answer.txt
echo '(((..)))' >hairpin.txt
sed -n 's/^ *\$ rnaqubo-fold //p' page.txt >commands.txt
[ "$(wc -l <commands.txt)" -ge 2 ] || fail "the examples are not found in the page"
while read -r command; do
  # shellcheck disable=SC2086
  "$fold" $command >actual.txt
  awk -v command="$ rnaqubo-fold $command" '
    { sub(/^ +/, "") }
    $0 == command { on = 1; next }
    on && ($0 == "" || /^\$/) { exit }
    on { print }' page.txt >shown.txt
  cmp -s shown.txt actual.txt || fail "example '$command' differs:
$(diff shown.txt actual.txt)"
done <commands.txt

config_args=()
[ -n "$config" ] && config_args=(--config "$config")
case "$bindir$mandir" in
  /*) echo "install directories are absolute: install layout not checked" ;;
  *)
    "$cmake" --install "$build" "${config_args[@]}" --prefix "$work/prefix" >install.log 2>&1 ||
      fail "cmake --install failed: $(cat install.log)"
    [ "$("$work/prefix/$bindir/rnaqubo-fold" --version)" = "rnaqubo-fold $version" ] ||
      fail "bin/rnaqubo-fold is not installed or does not run"
    cmp -s "$work/prefix/$mandir/man1/rnaqubo-fold.1" "$page" || fail "man1/rnaqubo-fold.1 is not installed"
    ;;
esac

[ "$failures" -eq 0 ] && echo "ok: $page"
[ "$failures" -eq 0 ]
