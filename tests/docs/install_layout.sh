#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks the layout: a working
# bin/rnaqubo and the manual page under man1.
# usage: install_layout.sh CMAKE BUILD_DIR CONFIG BINDIR MANDIR SOURCE_MAN_PAGE VERSION
set -u
cmake=$1 build=$2 config=$3 bindir=$4 mandir=$5 man_source=$6 version=$7

case "$bindir$mandir" in
  /*) echo "install directories are absolute ($bindir, $mandir): not testable in a prefix"
      exit 77 ;;
esac

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

config_args=()
[ -n "$config" ] && config_args=(--config "$config")
if ! "$cmake" --install "$build" "${config_args[@]}" --prefix "$prefix" > "$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL: cmake --install failed"
  exit 1
fi

exe=$prefix/$bindir/rnaqubo
if [ ! -x "$exe" ]; then
  fail "$bindir/rnaqubo is not installed or not executable"
else
  out=$("$exe" --version) || fail "installed rnaqubo --version exited with $?"
  [ "$out" = "rnaqubo $version" ] || fail "installed rnaqubo --version printed '$out'"
  # A real run with the installed binary, in a directory of its own.
  mkdir "$work/run" && cd "$work/run" || exit 1
  printf '6\nG\nG\nG\nC\nC\nC\n' > gggccc.txt
  "$exe" gggccc.txt 6 0 1 -200 > console.txt 2>&1 || fail "installed rnaqubo run exited with $?"
  if [ ! -f Q_4_gggccc.txt ] || [ "$(head -n 1 Q_4_gggccc.txt)" != "p 4 1" ]; then
    fail "installed rnaqubo did not write Q_4_gggccc.txt"
  fi
  cd "$work" || exit 1
fi

man_page=$prefix/$mandir/man1/rnaqubo.1
if [ ! -f "$man_page" ]; then
  fail "$mandir/man1/rnaqubo.1 is not installed"
elif ! cmp -s "$man_page" "$man_source"; then
  fail "the installed manual page differs from $man_source"
fi

[ "$failures" -eq 0 ] && echo "ok: installed $(cd "$prefix" && find . -type f | sort | tr '\n' ' ')"
[ "$failures" -eq 0 ]
