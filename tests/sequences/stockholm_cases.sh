#!/usr/bin/env bash
# Stockholm alignments through rnaqubo-seq, worked by hand: each case writes a
# small alignment, runs the built program and compares the status, standard
# error and the projected references (--write-dbn, and the record's own .dbn)
# byte for byte with what the alignment gives on paper. A failed run must leave
# no directory behind.
#
#   stockholm_cases.sh RNAQUBO_SEQ
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../check_lib.sh"
exe=$(realpath "$1")
enter_scratch
failures=0 checks=0

# split NAME STATUS STDERR DBN FILE [OPTIONS...]: rnaqubo-seq --split out
# --write-dbn all.dbn OPTIONS FILE; DBN is the expected all.dbn ("-" for none:
# the run fails and out/ must not exist).
split() {
  local name=$1 status=$2 err=$3 dbn=$4 file=$5
  shift 5
  checks=$((checks + 1))
  rm -rf out all.dbn
  "$exe" --split out --write-dbn all.dbn "$@" "$file" > /dev/null 2> actual.err
  local got=$? ok=1
  [ "$got" -eq "$status" ] && cmp -s actual.err <(printf '%s' "$err") || ok=0
  if [ "$dbn" = - ]; then
    [ ! -e out ] && [ ! -e all.dbn ] || ok=0
  else
    cmp -s all.dbn <(printf '%s' "$dbn") || ok=0
  fi
  if [ "$ok" -eq 0 ]; then
    echo "FAIL: $name (status $got, expected $status)"
    diff <(printf '%s' "$err") actual.err | head -n 6
    [ "$dbn" = - ] || diff <(printf '%s' "$dbn") all.dbn 2>&1 | head -n 6
    failures=$((failures + 1))
  fi
}

note() { printf 'rnaqubo-seq: note: %s\n' "$@"; }

# Two blocks; '.', '-', '_' and '~' as gaps; lower case and T; in s2 the 5'
# column of the innermost pair is a gap, so that pair goes.
cat > blocks.sto <<'EOF'
# STOCKHOLM 1.0
#=GF ID blocks

s1 GGg.AA
s2 GG-UAt
#=GC SS_cons <<<.__

s1 ACcC
s2 A~CC
#=GC SS_cons ~>>>
//
EOF
split "several blocks, gaps, case, T" 0 "$(note "record s2: 1 T written as U" \
  "3 gaps ('-' or '.') removed in 2 records")
" ">s1
GGGAAACCC
(((...)))
>s2
GGUAUACC
((....))
" blocks.sto
check "the record's .dbn equals its line in the one file" cmp -s out/s2/s2.dbn <(printf '>s2\nGGUAUACC\n((....))\n')
check "the record's .txt" cmp -s out/s1/s1.txt <(printf '9\nG\nG\nG\nA\nA\nA\nC\nC\nC\n')

# A row's own #=GR SS line wins over SS_cons only when asked for.
cat > own.sto <<'EOF'
# STOCKHOLM 1.0
a GACGAAAGUCA
#=GR a SS <.<.....>.>
b GACGAAAGUCA
#=GC SS_cons ...<...>...
//
EOF
split "#=GC SS_cons by default" 0 "" ">a
GACGAAAGUCA
...(...)...
>b
GACGAAAGUCA
...(...)...
" own.sto
split "#=GR over #=GC" 0 "" ">a
GACGAAAGUCA
(.(.....).)
>b
GACGAAAGUCA
...(...)...
" own.sto --own-structure

# Pseudoknots: letters pair with their lower case; crossing pairs take [] then
# {} then <> in 5' order, and a fifth mutually crossing pair has no kind left.
printf '# STOCKHOLM 1.0\np GCGCAUAUGC\n#=GC SS_cons <A(>aB)b..\n//\n' > knot.sto
split "pseudoknot letters, crossing brackets" 0 "" ">p
GCGCAUAUGC
([{)](})..
" knot.sto
printf '# STOCKHOLM 1.0\nq GGGGCCCC\n#=GC SS_cons ABCDabcd\n//\n' > four.sto
split "four crossing kinds" 0 "" ">q
GGGGCCCC
([{<)]}>
" four.sto
printf '# STOCKHOLM 1.0\nq GGGGGCCCCC\n#=GC SS_cons ABCDEabcde\n//\n' > five.sto
split "five mutually crossing pairs" 1 "rnaqubo-seq: five.sto: line 2: record q: #=GC SS_cons: position 5: the pair 5-10 crosses pairs of all four bracket kinds
" - five.sto

# An ambiguity code: refused, or dropped together with its pair.
printf '# STOCKHOLM 1.0\nn GNAAAC\n#=GC SS_cons <<..>>\n//\n' > amb.sto
split "ambiguity code refused" 1 "rnaqubo-seq: amb.sto: line 2: column 4: record n: 1 ambiguous letter (N at base 2 in alignment column 2); --ambiguous drop removes them
" - amb.sto
split "ambiguity code dropped with its pair" 0 "$(note "record n: 1 ambiguous letter dropped, so later positions shift")
" ">n
GAAAC
(...)
" amb.sto --ambiguous drop

# A refused letter is reported where it is in the file (its line, and its
# column in that line), by its base in the ungapped row and its alignment
# column; the letters after the first also with their line and column. r1's
# pieces start at column 6 of line 8 and column 4 of line 12; the first block
# holds 8 of its bases in 10 columns, the second 12 in 13. Lines 8 and 10 are
# indented, which moves the columns with them. The same message comes when
# the row is taken alone by name.
refused() {
  local name=$1 second=$2 third=$3 structure=$4 err=$5
  printf '# STOCKHOLM 1.0\n#=GF ID pieces\n\nr1 GGAC..UAGC\nr2 GGAC--UAGC\n#=GC SS_cons <<<....>>>\n\n  r1 %s\nr2 AAAAGCAA-CCUA\n  #=GC SS_cons %s\n\nr1 %s\nr2 GGAU\n#=GC SS_cons ....\n//\n' \
    "$second" "$structure" "$third" > pieces.sto
  split "$name" 1 "rnaqubo-seq: pieces.sto: $err
" - pieces.sto
  check "$name, the row alone" cmp -s <("$exe" pieces.sto r1 2>&1 > /dev/null) <(printf 'rnaqubo-seq: pieces.sto: %s\n' "$err")
}
plain=............. drop="; --ambiguous drop removes them"
refused "an N in the second block" AAANGCAA-CCUA GGAU $plain \
  "line 8: column 9: record r1: 1 ambiguous letter (N at base 12 in alignment column 14)$drop"
refused "a letter no base in the third block, over an N" AAANGCAA-CCUA GG*U $plain \
  "line 12: column 6: record r1: 1 letter that is neither a base, a gap nor an ambiguity code (* at base 23 in alignment column 26)"
refused "letters in two blocks, five shown" NAAAGCAA-CCRN NNGY $plain \
  "line 8: column 6: record r1: 6 ambiguous letters (N at base 9 in alignment column 11, R at base 19 in alignment column 22 (line 8, column 17), N at base 20 in alignment column 23 (line 8, column 18), N at base 21 in alignment column 24 (line 12, column 4), N at base 22 in alignment column 25 (line 12, column 5), ...)$drop"
refused "an indented structure line's fault" AAAAGCAA-CCUA GGAU .....\>....... \
  "line 10: column 21: #=GC SS_cons: '>' closes no '<' (alignment column 16)"

# Two alignments in one gzip file, the first with no structure line: its record
# gets no .dbn; a record is chosen across alignments.
printf '# STOCKHOLM 1.0\nx ACGU\n//\n\n# STOCKHOLM 1.0\ny GGAAACC\n#=GC SS_cons <<...>>\n//\n' | gzip > multi.sto.gz
split "two alignments, gzip, no SS line" 0 "" ">y
GGAAACC
((...))
" multi.sto.gz
check "no .dbn without a structure line" test ! -e out/x/x.dbn
check "manifest of both alignments" cmp -s out/manifest.tsv <(printf 'name\tlength\tpath\nx\t4\tx/x.txt\ny\t7\ty/y.txt\n')
check "a record of the second alignment by name" cmp -s <("$exe" multi.sto.gz y) <(printf '7\nG\nG\nA\nA\nA\nC\nC\n')
check "a record of the second alignment by number" cmp -s <("$exe" -i 2 multi.sto.gz) <(printf '7\nG\nG\nA\nA\nA\nC\nC\n')

# '>' for the 5' side and '<' for the 3' side, as in srp-euk.sto's #=GR lines.
printf '# STOCKHOLM 1.0\nr GGAAACC\n#=GR r SS >>...<<\n#=GC SS_cons <<...>>\n//\n' > reversed.sto
split "reversed angle brackets read reversed" 0 "$(note "reversed.sto: line 3: #=GR r SS writes the 5' side of a pair as '>' and the 3' side as '<', the reverse of WUSS; read that way")
" ">r
GGAAACC
((...))
" reversed.sto --own-structure

# Every error names the file, the line and the item, and writes nothing.
printf '# STOCKHOLM 1.0\na ACGU\nb ACG\n//\n' > e.sto
split "rows of different lengths in a block" 1 "rnaqubo-seq: e.sto: line 3: the sequence b has 3 columns, the block's first line (line 2) has 4
" - e.sto
printf '# STOCKHOLM 1.0\na AC\nb AC\n\na GU\n//\n' > e.sto
split "a row missing from a block" 1 "rnaqubo-seq: e.sto: line 3: the row of b covers 2 columns, the alignment has 4 (the row of a)
" - e.sto
# Structure pieces laid out of step with the rows: in a block of their own, or
# a block later than their columns' rows.
printf '# STOCKHOLM 1.0\na GGGG\n#=GC SS_cons <<<<\n\na CCCC\n\n#=GC SS_cons >>>>\n//\n' > e.sto
split "an SS line in a block without rows" 1 "rnaqubo-seq: e.sto: line 7: #=GC SS_cons is in a block with no sequence rows
" - e.sto
printf '# STOCKHOLM 1.0\na GGGG\n\na CCCC\n#=GC SS_cons <<<<\n\n#=GC SS_cons >>>>\n//\n' > e.sto
split "an SS line a block late" 1 "rnaqubo-seq: e.sto: line 5: #=GC SS_cons starts at alignment column 1, this block's rows at 5: a piece of it is missing from another block
" - e.sto
printf '# STOCKHOLM 1.0\na ACGU\n#=GC SS_cons <.>\n//\n' > e.sto
split "an SS line of another length" 1 "rnaqubo-seq: e.sto: line 3: #=GC SS_cons has 3 columns, the block's first line (line 2) has 4
" - e.sto
printf '# STOCKHOLM 1.0\na GGAAACC\n\na U\n#=GR a SS .\n//\n' > e.sto
split "an SS line missing from a block" 1 "rnaqubo-seq: e.sto: line 5: #=GR a SS starts at alignment column 1, this block's rows at 8: a piece of it is missing from another block
" - e.sto --own-structure
printf '# STOCKHOLM 1.0\na GGAAACC\n#=GC SS_cons <<...>.\n//\n' > e.sto
split "unbalanced brackets" 1 "rnaqubo-seq: e.sto: line 3: column 14: #=GC SS_cons: '<' is never closed (alignment column 1)
" - e.sto
printf '# STOCKHOLM 1.0\na GGAAACC\n\na GG\n#=GC SS_cons ..\n#=GC SS_cons ..\n//\n' > e.sto
split "SS_cons twice in one block" 1 "rnaqubo-seq: e.sto: line 6: #=GC SS_cons appears twice in this block (first at line 5)
" - e.sto
printf '# STOCKHOLM 1.0\na GGAAACC\n#=GC SS_cons <<...>>\n\na GG\n#=GC SS_cons   .A\n//\n' > e.sto
split "unbalanced letter in a later block" 1 "rnaqubo-seq: e.sto: line 6: column 17: #=GC SS_cons: 'A' is never closed (alignment column 9)
" - e.sto
printf '# STOCKHOLM 1.0\na ACGU\na ACGU\n//\n' > e.sto
split "a sequence named twice" 1 "rnaqubo-seq: e.sto: line 3: the sequence a is named twice in this block (first at line 2)
" - e.sto
printf '# STOCKHOLM 1.0\na ACGU\n\n' > e.sto
split "a missing //" 1 "rnaqubo-seq: e.sto: line 3: the file ends before the alignment that starts at line 1 ends with \"//\"
" - e.sto
printf '# STOCKHOLM 1.0\na ACGU\n# STOCKHOLM 1.0\n' > e.sto
split "a new alignment before //" 1 "rnaqubo-seq: e.sto: line 3: a new alignment starts before the one at line 1 ends with \"//\"
" - e.sto
printf '# STOCKHOLM 1.0\na ACGU\n#=GR b SS ....\n//\n' > e.sto
split "#=GR for no sequence" 1 "rnaqubo-seq: e.sto: line 3: #=GR b SS names no sequence of the alignment
" - e.sto
split "--dbn with Stockholm" 2 "rnaqubo-seq: blocks.sto: a Stockholm alignment carries its own structures: no --dbn with it
" - blocks.sto --dbn blocks.sto
printf '>f\nACGU\n' > f.fa
split "--own-structure without Stockholm" 2 "rnaqubo-seq: f.fa: not a Stockholm alignment: it has no #=GR SS lines to take structures from
" - f.fa --own-structure

# The one dot-bracket file is refused before anything is written when it would
# replace the input, and a failure to write it says that the split is complete.
cp blocks.sto kept.sto
rm -rf out
"$exe" --split out --write-dbn kept.sto kept.sto 2> actual.err
check "--write-dbn on the input: refused" test $? -eq 2
check "--write-dbn on the input: message" grep -qx "rnaqubo-seq: kept.sto: cannot write: Input file would be overwritten" actual.err
check "--write-dbn on the input: input kept, nothing split" eval 'cmp -s kept.sto blocks.sto && test ! -e out'
# Nor may it go inside the split's own directory (onto its manifest, say).
rm -rf out
"$exe" --split out --write-dbn out/manifest.tsv blocks.sto 2> actual.err
check "--write-dbn inside DIR: refused" test $? -eq 2
check "--write-dbn inside DIR: message, nothing split" eval 'grep -qx "rnaqubo-seq: out/manifest.tsv: cannot write: it is inside the split'"'"'s directory out" actual.err && test ! -e out'
"$exe" --split out --write-dbn missing/all.dbn blocks.sto 2> actual.err
check "--write-dbn unwritable: status 2" test $? -eq 2
check "--write-dbn unwritable: the split is complete" eval 'grep -qx "rnaqubo-seq: missing/all.dbn: cannot write: No such file or directory; the split into out is complete" actual.err && test -s out/s1/s1.dbn'

echo "$checks checks, $failures failures"
[ "$failures" -eq 0 ]
