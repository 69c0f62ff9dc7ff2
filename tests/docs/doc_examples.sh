#!/usr/bin/env bash
# The files and console output shown in the README and the manual page are the
# ones the tool really writes.
# usage: doc_examples.sh RNAQUBO SOURCE_DIR
set -u
exe=$1 source=$2
. "$(dirname "$0")/doc_blocks.sh"

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

write_sequence "$work/gggccc.txt" GGGCCC
write_sequence "$work/ggggcccc.txt" GGGGCCCC
run_tool "$work" gggccc "$work/gggccc.txt" 6 0 1 -200 || exit 1
run_tool "$work" ggggcccc "$work/ggggcccc.txt" 8 0 1 -200 || exit 1
run_tool "$work" srp_ecoli "$source/examples/srp_ecoli.txt" 113 4 1 -200 || exit 1

failures=0
for doc in md:README.md man:docs/rnaqubo.1; do
  format=${doc%%:*} path=$source/${doc#*:}
  dest=$work/blocks_$format
  extract_blocks "$format" "$path" "$dest" || { failures=$((failures + 1)); continue; }
  check_blocks "$dest" "$work" gggccc ggggcccc srp_ecoli
  failures=$((failures + $?))
  if [ "$checked_blocks" -eq 0 ]; then
    echo "FAIL: no example block found in $path"
    failures=$((failures + 1))
  else
    echo "checked $checked_blocks example blocks of ${doc#*:}"
  fi
done
[ "$failures" -eq 0 ]
