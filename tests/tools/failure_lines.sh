#!/usr/bin/env bash
# Every failure of rnaqubo-fold and rnaqubo-seq ends as one line on standard
# error, "<program>: <file>: <what>: <reason>" where a file is involved, with
# its status, nothing on standard output, and no byte outside printable ASCII:
# names, words and paths with ESC and BEL among them come out as \xHH.
#
#   failure_lines.sh RNAQUBO_FOLD RNAQUBO_SEQ
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../check_lib.sh"
fold=$(realpath "$1") seq=$(realpath "$2")
enter_scratch
failures=0 checks=0
export LC_ALL=C

# row TOOL STATUS LINE ARGS...: runs TOOL (fold or seq) with ARGS and expects
# status STATUS and standard error exactly "rnaqubo-TOOL: LINE" and a line end.
row() {
  local tool=$1 status=$2 line=$3 exe
  shift 3
  [ "$tool" = fold ] && exe=$fold || exe=$seq
  "$exe" "$@" > out 2> err < /dev/null
  local got=$?
  checks=$((checks + 1))
  local problem=
  [ "$got" -eq "$status" ] || problem="status $got, expected $status"
  [ ! -s out ] || problem="$problem; standard output not empty"
  [ "$(wc -l < err)" -eq 1 ] && [ "$(tail -c 1 err | od -An -tx1 | tr -d ' ')" = 0a ] ||
    problem="$problem; not exactly one line"
  ! tr -d '\n' < err | grep -q '[^ -~]' || problem="$problem; a raw byte outside printable ASCII"
  [ "$(cat err)" = "rnaqubo-$tool: $line" ] || problem="$problem; got: $(cat -v err)"
  if [ -n "$problem" ]; then
    echo "FAIL: rnaqubo-$tool $(printf '%q ' "$@"): ${problem#; }"
    failures=$((failures + 1))
  fi
}

esc=$'\033' bel=$'\a'
hostile="h${esc}[2J${bel}.txt" shown='h\x1B[2J\x07.txt'
printf '8\nG G G G C C C C\n' > g.txt
printf '9\nG G G G C C C C\n' > count.txt
printf '8\nG G G G C C C\n' > few.txt
printf '8\nG G G G C C C %s\n' "x${esc}]0;t${bel}" > word.txt
printf 'x\n' > nocount.txt
printf '3 x5\n' > bad_item.txt
printf '0101\n' > bits.txt
printf '((((.)))\n' > open.dbn
printf '(((..).)\n' > "$hostile"
mkdir dir

row fold 2 'Unknown option: --svgg' --svgg g.txt 8 0 1 -200
row fold 2 'Unknown option: --x\x1B[2J' "--x${esc}[2J" g.txt 8 0 1 -200
row fold 2 'Option --zero-based takes no value' --zero-based=1 g.txt 8 0 1 -200
row fold 2 'Option --solution needs a value' g.txt 8 0 1 -200 --solution
row fold 2 'Option --svg needs a non-empty value' g.txt 8 0 1 -200 --svg ''
row fold 2 'Option --reference needs a non-empty value' g.txt 8 0 1 -200 --reference=
row fold 2 'Option --solution given twice' g.txt 8 0 1 -200 --solution a --solution=b
row fold 2 'Option --zero-based needs --solution' --zero-based g.txt 8 0 1 -200
row fold 2 'expected 5 arguments (input_RNA_sequence_filename sequence_length min_distance_allowed_between_positions add_quads0/1 M_penalty), got 6' g.txt 8 0 1 -200 x
row fold 2 'Number out of range: 99999999999\x07' g.txt 8 0 1 "99999999999${bel}"
row fold 1 'Error in sequence length 0' g.txt 0 0 1 -200
row fold 1 'Memory allocation problem in AllocateIntArray' g.txt 2147483647 0 1 -200
row fold 2 "$shown.missing: sequence file: cannot read: No such file or directory" "$hostile.missing" 8 0 1 -200
row fold 2 'dir: sequence file: cannot read: Is a directory' dir 8 0 1 -200
row fold 1 'nocount.txt: sequence file: no count of bases at the start' nocount.txt 8 0 1 -200
row fold 1 'count.txt: sequence file: the file counts 9 bases, the command line 8' count.txt 8 0 1 -200
row fold 1 'few.txt: sequence file: the file ends before base 8' few.txt 8 0 1 -200
row fold 1 'word.txt: sequence file: a word that starts with no base: x\x1B]0;t\x07' word.txt 8 0 1 -200
row fold 2 "$shown.missing: cannot read: No such file or directory" --solution "$hostile.missing" g.txt 8 0 1 -200
row fold 1 'bad_item.txt: item 2 "x5": not a variable number' --solution bad_item.txt g.txt 8 0 1 -200
row fold 1 'bits.txt: a 0/1 string of 4 characters, but the model has 9 variables' --solution bits.txt g.txt 8 0 1 -200
row fold 2 'dir: cannot read: Is a directory' --reference dir g.txt 8 0 1 -200
row fold 1 'open.dbn: line 1, position 1: '"'('"' is never closed' --reference open.dbn g.txt 8 0 1 -200
row fold 1 "$shown: line 1, position 1: '(' is never closed" --reference "$hostile" g.txt 8 0 1 -200
row fold 2 "no/$shown: cannot write: No such file or directory" --svg "no/$hostile" g.txt 8 0 1 -200
row fold 2 'g.txt: cannot write: Input file would be overwritten' --svg g.txt g.txt 8 0 1 -200
# Instance files: written never over an input, read back only when whole.
row fold 2 'g.txt: lp file: cannot write: Input file would be overwritten' --write-lp g.txt g.txt 8 0 1 -200
row fold 2 "no/$shown: qubo file: cannot write: No such file or directory" --write-qubo "no/$hostile" g.txt 8 0 1 -200
row fold 2 'Option --milp-pairwise needs --write-milp' --milp-pairwise g.txt 8 0 1 -200
row fold 2 '--write-qubo: the penalty -2147483648 has no 32-bit negation' --write-qubo m.qubo g.txt 8 0 1 -2147483648
row fold 2 '--reduce --out: the penalty -2147483648 has no 32-bit negation for r.qubo' --reduce 0 --out r g.txt 8 0 1 -2147483648
row fold 2 'Option --instance takes the model from its file: expected no arguments, got 5' --instance m.qubo g.txt 8 0 1 -200
"$fold" g.txt 8 0 1 -200 --write-qubo m.qubo > /dev/null
row fold 1 'g.txt: instance file: line 1: not an instance written by rnaqubo-fold' --instance g.txt
sed 's/^c variables: 9$/c variables: 8/' m.qubo > count.qubo
row fold 1 'count.qubo: instance file: variables: 8 recorded, but its sequence has 9' --instance count.qubo
sed 's/^c sequence: GGGGCCCC$/c sequence: GGGGCCCN/' m.qubo > letter.qubo
row fold 1 "letter.qubo: instance file: sequence: position 8: 'N' is not A, C, G or U" --instance letter.qubo
grep -v '^c penalty' m.qubo > nopenalty.qubo
row fold 1 'nopenalty.qubo: instance file: no penalty line' --instance nopenalty.qubo
sed 's/^c min_distance: 0$/c min_distance: 1e3/' m.qubo > number.qubo
row fold 1 'number.qubo: instance file: min_distance: not a 32-bit number: "1e3"' --instance number.qubo

printf '>r%s\nGGNCC\n' "${esc}[2J${bel}" > amb.fa
printf '>a\nGGXCC\n>b\n\n' > two.fa
printf '@q\nACGU\n+\nII\n' > cut.fq
printf '>a\nGGAC\n((.(\n' > open_ref.dbn
printf '>a\nGGAC\n' > short.dbn
printf '>x\nGG\n>x\nCC\n' > dup.fa
printf '>ok\nGGACC\n' > ok.fa
row seq 2 'Unknown option: --x\x07' "--x${bel}" two.fa
row seq 2 'Option -o needs a value' two.fa -o
row seq 2 '-i: not a record number from 1 to 9223372036854775807: x\x1B' -i "x${esc}" two.fa
row seq 2 '--ambiguous: not refuse or drop: keep' --ambiguous keep two.fa
row seq 2 'Option --split needs a non-empty value' --split= two.fa
row seq 2 'no FILE given'
row seq 2 'too many arguments' two.fa a b
row seq 2 'give NAME or -i K, not both' -i 1 two.fa a
row seq 2 '--dbn goes with --split DIR' --dbn short.dbn two.fa
row seq 2 '--split writes every record: no -o or -i' --split coll -o x two.fa
row seq 2 "$shown.missing: sequence file: cannot read: No such file or directory" "$hostile.missing"
row seq 2 'dir: sequence file: cannot read: Is a directory' dir
row seq 1 'g.txt: not FASTA or FASTQ: the first record does not start with '"'>'"' or '"'@'"' and looks like rnaqubo'"'"'s own input format already' g.txt
row seq 1 'nocount.txt: not FASTA or FASTQ: the first record does not start with '"'>'"' or '"'@'"'' nocount.txt
row seq 1 'amb.fa: record r\x1B[2J\x07: 1 ambiguous letter (N at 3); --ambiguous drop removes them' amb.fa
row seq 1 'amb.fa: no record named r\x1B: the file has 1 record' amb.fa "r${esc}"
row seq 1 'two.fa: no record number 3: the file has 2 records' -i 3 two.fa
row seq 1 'two.fa: record a: 1 letter that is neither a base, a gap nor an ambiguity code (X at 3)' two.fa
row seq 1 'two.fa: record b: the sequence is empty' two.fa b
row seq 1 'cut.fq: record q: the FASTQ quality line is missing or not as long as the sequence' cut.fq
row seq 2 "no/$shown: cannot write: No such file or directory" -o "no/$hostile" ok.fa
row seq 2 'ok.fa: cannot write: Input file would be overwritten' -o ok.fa ok.fa
row seq 2 "$shown.missing: dot-bracket file: cannot read: No such file or directory" --split coll --dbn "$hostile.missing"
row seq 1 'short.dbn: the file ends before the structure line of the record a' --split coll --dbn short.dbn
row seq 1 "open_ref.dbn: record a: structure: position 4: '(' is never closed" --split coll --dbn open_ref.dbn
row seq 1 'dup.fa: records 1 (x) and 2 (x) would both be written to coll/x/x.txt' --split coll dup.fa
check "no collection left by the failed splits" test ! -e coll

# A full standard output: the one line names it.
if [ -w /dev/full ]; then
  for tool in fold seq; do
    [ "$tool" = fold ] && args=(g.txt 8 0 1 -200) || args=(ok.fa)
    "$([ "$tool" = fold ] && echo "$fold" || echo "$seq")" "${args[@]}" > /dev/full 2> err
    check "rnaqubo-$tool: full standard output, status 2" test $? -eq 2
    check "rnaqubo-$tool: full standard output, one line" \
      test "$(cat err)" = "rnaqubo-$tool: standard output: cannot write: No space left on device"
  done
fi

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
