#!/usr/bin/env bash
# Round trip: each bundled example, written as a FASTA record the way databases
# hand them out (DNA letters, lines of 60, mixed case, some with a gap), goes
# through rnaqubo-seq back into rnaqubo's input format. The result must equal the
# bundled file, and for the smaller examples rnaqubo must write byte-identical
# outputs from both.
#
#   round_trip.sh RNAQUBO_SEQ RNAQUBO EXAMPLES_DIR
set -u
seq_exe=$(realpath "$1") rnaqubo=$(realpath "$2") examples=$(realpath "$3")
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0 checks=0 failed_examples=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Every example of the input format, as records of one collection.
: > "$work/all.fa"
# The bundled examples only: a run may have left its outputs beside them.
examples_root=$(dirname "$examples")
while IFS= read -r example; do
  name=$(basename "$example" .txt)
  printf '>%s from %s\n' "$name" "$(basename "$example")" >> "$work/all.fa"
  # Letters on one line, then T for U, lower case for the second half of each
  # line, and a gap after the tenth letter.
  tail -n +2 "$example" | tr -d '\n' | tr U T | sed 's/^\(.\{10\}\)/\1-/' | fold -w 60 |
    awk '{ h = int(length($0) / 2); print substr($0, 1, h) tolower(substr($0, h + 1)) }' \
      >> "$work/all.fa"
done < <(bash "$(dirname "${BASH_SOURCE[0]}")/../tracked_examples.sh" "$examples_root" '*.txt')

index=0
while read -r header; do
  index=$((index + 1))
  name=${header#>} name=${name%% *}
  example=$examples/$name.txt
  checks=$((checks + 1)) failures_before=$failures
  mkdir -p "$work/original/$name" "$work/converted/$name"
  if ! "$seq_exe" -o "$work/converted/$name/$name.txt" -i "$index" "$work/all.fa" 2> "$work/notes"; then
    fail "rnaqubo-seq failed on $name: $(cat "$work/notes")"
    failed_examples=$((failed_examples + 1))
    continue
  fi
  if ! cmp -s "$example" "$work/converted/$name/$name.txt"; then
    fail "$name: the converted file differs"
    failed_examples=$((failed_examples + 1))
    continue
  fi
  [ "$(wc -l < "$example")" -le 200 ] || continue
  cp "$example" "$work/original/$name/"
  length=$(head -n 1 "$example")
  for side in original converted; do
    (cd "$work/$side/$name" && "$rnaqubo" "$name.txt" "$length" 4 1 -200 > console.txt 2>&1) ||
      fail "rnaqubo failed on the $side $name"
  done
  diff -r "$work/original/$name" "$work/converted/$name" > /dev/null ||
    fail "$name: rnaqubo's outputs differ between the original and the converted input"
  [ "$failures" -eq "$failures_before" ] || failed_examples=$((failed_examples + 1))
done < <(grep '^>' "$work/all.fa")

[ "$checks" -ge 3 ] || fail "only $checks examples found in $examples"
echo "$((checks - failed_examples)) passed, $failed_examples failed"
[ "$failures" -eq 0 ]
