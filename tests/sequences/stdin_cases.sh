#!/usr/bin/env bash
# Standard input against the same file given by path: for each row of the table
# below, rnaqubo-seq reads the input once as a file and once piped through "-",
# and both runs must agree byte for byte (status, standard output, standard
# error with the file's name read as "-", and every file a --split writes).
# The inputs are the bundled Stockholm example plain, gzip and bgzip, FASTA
# (also a bgzip file cut short, which a pipe once passed as complete),
# and Infernal's test suite where it is installed (srp-euk.sto's reversed SS
# lines, several alignments, a refused alignment). Then the failures that only
# standard input has, each naming it as "-".
#
#   stdin_cases.sh RNAQUBO_SEQ SOURCE_DIR
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../check_lib.sh"
exe=$(realpath "$1") examples=$(realpath "$2")/examples
suite=/usr/share/doc/infernal/examples/testsuite
enter_scratch
mkdir tmp
export TMPDIR=$work/tmp
failures=0 checks=0

# The packings of an input: as it is, gzip, bgzip.
plain() { cat; }
gz() { gzip -c; }
bgz() { bgzip -c; }
bgz_cut() { bgzip -c | head -c -28; }  # without its end-of-file block

# same SOURCE PACK STATUS ARGS...: SOURCE packed by PACK into the file "given",
# read by path and then piped as "-", with the ARGS before FILE (a last "@NAME"
# comes after it as NAME); the run by path must end with STATUS.
same() {
  local source=$1 pack=$2 status=$3 name=()
  shift 3
  if [ $# -gt 0 ] && [ "${!#:0:1}" = @ ]; then name=("${!#:1}"); set -- "${@:1:$#-1}"; fi
  "$pack" < "$source" > given || { echo "FAIL: $pack $source"; failures=$((failures + 1)); return; }
  rm -rf path_run pipe_run && mkdir path_run pipe_run
  (cd path_run && "$exe" "$@" ../given "${name[@]}" > stdout 2> stderr; echo $? > status)
  (cd pipe_run && "$pack" < "$source" | "$exe" "$@" - "${name[@]}" > stdout 2> stderr; echo $? > status)
  sed -i 's/\(: \)\.\.\/given: /\1-: /g' path_run/stderr
  local label
  label="$(basename "$source") $pack $*${name:+ ${name[*]}}"
  check "$label: status" test "$(cat path_run/status)" -eq "$status"
  check "$label: same results" diff -r path_run pipe_run
  check "$label: no copy left" test -z "$(ls -A tmp)"
}

hairpins=$examples/hairpins.sto
packs=(plain gz)
command -v bgzip > /dev/null && packs+=(bgz)
for pack in "${packs[@]}"; do
  same "$hairpins" "$pack" 0 @hp_two
  same "$hairpins" "$pack" 0 -i 3 -o one.txt
  same "$hairpins" "$pack" 0 --split split --write-dbn all.dbn
  same "$hairpins" "$pack" 0 --own-structure @hp_one
done
same "$examples/collection.fa" gz 0 -i 2
same "$examples/collection.fa" plain 2 --own-structure
same "$examples/collection.fa" plain 0 --split split
same "$examples/collection.fa" plain 1 @nowhere
command -v bgzip > /dev/null && same "$examples/collection.fa" bgz_cut 1 --split split
if ls "$suite"/*.sto > /dev/null 2>&1; then
  same "$suite/srp-euk.sto" gz 0 --split split --own-structure --ambiguous drop --write-dbn all.dbn
  same "$suite/srp-euk.sto" plain 0 --own-structure --ambiguous drop -i 5
  same "$suite/tRNA1415G.sto" plain 0 --split split --ambiguous drop
  same "$suite/bug-i15.sto" gz 0 -i 2 --ambiguous drop
  same "$suite/RNaseP.sto" plain 1 @nowhere
  same "$suite/Vault.sto" gz 0 --split split
  # Its rows hold ambiguity codes: refused, and named after "-".
  same "$suite/ssu.sto" plain 1 --split split
else
  echo "note: Infernal's test suite is not installed (Debian: infernal): its rows skipped"
fi

# expect NAME STATUS STDERR INPUT COMMAND...: INPUT piped into COMMAND.
expect() {
  local name=$1 status=$2 err=$3 input=$4
  shift 4
  printf '%b' "$input" | "$@" > /dev/null 2> actual.err
  local got=$?
  check "$name: status $got" test "$got" -eq "$status"
  check "$name: message" cmp -s actual.err <(printf '%s\n' "$err")
}
expect "cut alignment" 1 'rnaqubo-seq: -: line 3: the file ends before the alignment that starts at line 2 ends with "//"' \
  '\n# STOCKHOLM 1.0\nx ACGU\n' "$exe" --split split -
check "cut alignment: nothing written" test ! -e out
expect "no copy possible" 2 "rnaqubo-seq: -: standard input: cannot keep a copy in $work/none: No such file or directory" \
  '>x\nACGU\n' env TMPDIR="$work/none" "$exe" -
# Standard input that is a file already is read in place.
check "redirected file" cmp -s <("$exe" - hp_two < "$hairpins" 2>&1) <("$exe" "$hairpins" hp_two 2>&1)
"$exe" - <&- 2> actual.err
check "closed standard input: status" test $? -eq 2
check "closed standard input: message" cmp -s actual.err <(echo "rnaqubo-seq: -: sequence file: cannot read: Bad file descriptor")
echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
