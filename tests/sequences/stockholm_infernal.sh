#!/usr/bin/env bash
# The projection of every Stockholm alignment of Infernal's test suite (several
# blocks, several alignments in a file, #=GR SS lines, srp-euk.sto's reversed
# angle brackets, pseudoknots) against stockholm_reference.py, a second plain
# implementation: the one dot-bracket file of a split must equal its output byte
# for byte, with SS_cons and with the rows' own SS lines; an alignment it refuses
# must be refused, and is compared again without the refused rows.
#
#   stockholm_infernal.sh RNAQUBO_SEQ
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../check_lib.sh"
exe=$(realpath "$1")
reference="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/stockholm_reference.py"
suite=/usr/share/doc/infernal/examples/testsuite
python=/usr/bin/python3
if ! ls "$suite"/*.sto > /dev/null 2>&1; then
  echo "SKIP: Infernal's test suite is not installed (Debian: infernal)"
  exit 77
fi
enter_scratch
failures=0 checks=0

# compare FILE MODE: rnaqubo-seq's projection of FILE against the reference's.
compare() {
  local file=$1 mode=$2 option=
  [ "$mode" = own ] && option=--own-structure
  "$python" "$reference" "$file" "$mode" > expected.dbn || { echo "FAIL: reference on $file"; failures=$((failures + 1)); return 1; }
  rm -rf out all.dbn
  "$exe" --split out --ambiguous drop --write-dbn all.dbn $option "$file" > /dev/null 2> err
  local status=$?
  if grep -q '^refused: ' expected.dbn; then
    check "$(basename "$file") $mode: refused" test "$status" -eq 1
    return 1
  fi
  check "$(basename "$file") $mode: split" test "$status" -eq 0
  check "$(basename "$file") $mode: projection" cmp -s all.dbn expected.dbn
  # Each record's own file holds its line of the one file.
  local name
  name=$(sed -n '1s/^>//p' expected.dbn)
  [ -z "$name" ] || [ "${name//[^A-Za-z0-9._-]/}" != "$name" ] ||
    check "$(basename "$file") $mode: $name.dbn" cmp -s "out/$name/$name.dbn" <(head -n 3 expected.dbn)
  return 0
}

records=0
for file in "$suite"/*.sto; do
  for mode in cons own; do
    if ! compare "$file" "$mode"; then
      "$python" "$reference" "$file" clean > clean.sto
      compare "$PWD/clean.sto" "$mode" || echo "note: $(basename "$file") refused even without its bad rows"
    fi
    count=$(grep -c '^>' all.dbn 2> /dev/null)
    records=$((records + ${count:-0}))
  done
done
"$exe" --split out --ambiguous drop --own-structure "$suite/srp-euk.sto" 2> err > /dev/null
check "srp-euk.sto's reversed #=GR lines are noted" grep -q "write the 5' side of a pair as '>' and the 3' side as '<'" err
echo "$checks checks, $failures failures, $records references compared"
[ "$failures" -eq 0 ]
