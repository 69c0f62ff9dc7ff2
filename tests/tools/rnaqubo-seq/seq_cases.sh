#!/usr/bin/env bash
# End-to-end cases of rnaqubo-seq: each runs the built program on small files
# written here and compares the status, standard output and standard error byte
# for byte with what was worked out by hand, and checks that a failed run leaves
# no file behind.
#
#   seq_cases.sh RNAQUBO_SEQ
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../../check_lib.sh"
exe=$(realpath "$1")
enter_scratch
failures=0 checks=0

# The input format for LETTERS: the count, then one letter per line.
as_input() { echo "${#1}"; [ -z "$1" ] || echo "$1" | fold -w 1; }

# expect NAME STATUS STDOUT STDERR -- ARGS...: runs rnaqubo-seq ARGS in $work.
# A STDERR starting with ~ is an extended regular expression for its one line.
expect() {
  local name=$1 status=$2 out=$3 err=$4
  shift 5
  checks=$((checks + 1))
  "$exe" "$@" > actual.out 2> actual.err < /dev/null
  local got=$?
  if [ "$got" -ne "$status" ] || ! cmp -s actual.out <(printf '%s' "$out") ||
     { [ "${err:0:1}" = "~" ] && ! grep -Eqx -- "${err:1}" actual.err; } ||
     { [ "${err:0:1}" != "~" ] && ! cmp -s actual.err <(printf '%s' "$err"); }; then
    echo "FAIL: $name (status $got, expected $status)"
    diff <(printf '%s' "$out") actual.out | head -n 8
    diff <(printf '%s' "$err") actual.err | head -n 8
    failures=$((failures + 1))
  fi
}

# Reading: layouts, compressions, letters.
printf '>first one\nGGGAAA\nCCC\n>second\nacgu\nAC\n' > wrapped.fa
expect "wrapped FASTA, first record" 0 "$(as_input GGGAAACCC)
" "" -- wrapped.fa
expect "record by name" 0 "$(as_input ACGUAC)
" "" -- wrapped.fa second
expect "record by number" 0 "$(as_input ACGUAC)
" "" -- -i 2 wrapped.fa
expect "missing record by name" 1 "" "rnaqubo-seq: wrapped.fa: no record named third: the file has 2 records
" -- wrapped.fa third
expect "missing record by number" 1 "" "rnaqubo-seq: wrapped.fa: no record number 3: the file has 2 records
" -- -i 3 wrapped.fa
printf '>crlf\r\nGGU\r\nAcC\r\n\r\n' > crlf.fa
expect "CRLF line ends" 0 "$(as_input GGUACC)
" "" -- crlf.fa
printf '@read1 x\nGGTT\n+\nIIII\n@read2\nCCAA\n+read2\n!!!!\n' > reads.fq
expect "FASTQ, T written as U" 0 "$(as_input CCAA)
" "" -- reads.fq read2
expect "FASTQ, T note" 0 "$(as_input GGUU)
" "rnaqubo-seq: note: record read1: 2 T written as U
" -- reads.fq
printf '@cut\nACGU\n+\nII\n' > cut.fq
expect "FASTQ with a short quality line" 1 "" "rnaqubo-seq: cut.fq: record cut: the FASTQ quality line is missing or not as long as the sequence
" -- cut.fq
printf '>aln\n-gg.C-t..\n' > gaps.fa
expect "lower case, gaps and T" 0 "$(as_input GGCU)
" "rnaqubo-seq: note: record aln: 1 T written as U
rnaqubo-seq: note: record aln: 5 gaps ('-' or '.') removed
" -- gaps.fa
printf '>amb\nGNNACRUUNYCN\n' > amb.fa
expect "ambiguity codes refused" 1 "" "rnaqubo-seq: amb.fa: record amb: 6 ambiguous letters (N at 2, N at 3, R at 6, N at 9, Y at 10, ...); --ambiguous drop removes them
" -- amb.fa
expect "ambiguity codes dropped" 0 "$(as_input GACUUC)
" "rnaqubo-seq: note: record amb: 6 ambiguous letters dropped, so later positions shift
" -- --ambiguous drop amb.fa
printf '>odd\nACXG*U\n' > odd.fa
expect "letters that are not bases" 1 "" "rnaqubo-seq: odd.fa: record odd: 2 letters that are neither a base, a gap nor an ambiguity code (X at 3, * at 5)
" -- --ambiguous drop odd.fa
printf '>empty\n>full\nGC\n' > empty.fa
expect "empty record" 1 "" "rnaqubo-seq: empty.fa: record empty: the sequence is empty
" -- empty.fa
printf '>g\n-N.\n' > gapsonly.fa
expect "record left empty by the rules" 1 "" "rnaqubo-seq: gapsonly.fa: record g: no base is left after removing 3 letters
" -- --ambiguous drop gapsonly.fa
printf '5\nG\nG\nA\nC\nC\n' > own.txt
expect "rnaqubo's own format" 1 "" "rnaqubo-seq: own.txt: not FASTA or FASTQ: the first record does not start with '>' or '@' and looks like rnaqubo's own input format already
" -- own.txt
gzip -c wrapped.fa | "$exe" - second > actual.out 2> actual.err
check "gzip on standard input" cmp -s actual.out <(as_input ACGUAC)
expect "missing file" 2 "" "rnaqubo-seq: nowhere.fa: sequence file: cannot read: No such file or directory
" -- nowhere.fa
mkdir adir
expect "directory" 2 "" "rnaqubo-seq: adir: sequence file: cannot read: Is a directory
" -- adir

# Compressed files: gzip, bgzip with and without an index, damaged data.
awk 'BEGIN { srand(7); for (r = 1; r <= 400; r++) { printf ">r%d\n", r;
  for (l = 0; l < 5; l++) { s = ""; for (k = 0; k < 60; k++) s = s substr("ACGT", int(rand() * 4) + 1, 1); print s } } }' > many.fa
last=$(tail -n 5 many.fa | tr -d '\n' | tr T U)
last_t=$(tail -n 5 many.fa | tr -cd T | wc -c)
gzip -c many.fa > many.fa.gz
expect "gzip" 0 "$(as_input "$last")
" "rnaqubo-seq: note: record r400: $last_t T written as U
" -- many.fa.gz r400
# A named pipe (here a process substitution) is read once, by its reader.
expect "FASTA through a named pipe" 0 "$(as_input "$last")
" "rnaqubo-seq: note: record r400: $last_t T written as U
" -- <(cat many.fa) r400
head -c 30000 many.fa.gz > cut.fa.gz
# The record being read when the damage shows is named where there is one.
expect "truncated gzip" 1 "" "~rnaqubo-seq: cut.fa.gz: (record r[0-9]+: )?the compressed data is damaged or truncated" -- cut.fa.gz r400
python3 -c "import sys; d = bytearray(open('many.fa.gz','rb').read()); d[20000] ^= 0x55; open('bad.fa.gz','wb').write(d)"
# Nothing decoded from damaged data is shown as a record name.
expect "corrupt gzip" 1 "" "rnaqubo-seq: bad.fa.gz: the compressed data is damaged or truncated
" -- bad.fa.gz r400
if command -v bgzip > /dev/null && command -v samtools > /dev/null; then
  bgzip -c many.fa > many.fa.bgz
  expect "bgzip without index" 0 "$(as_input "$last")
" "rnaqubo-seq: note: record r400: $last_t T written as U
" -- many.fa.bgz r400
  head -c -28 many.fa.bgz > noeof.fa.bgz
  expect "bgzip cut at a block boundary" 1 "" "rnaqubo-seq: noeof.fa.bgz: record r400: the bgzip file is truncated (no end-of-file block)
" -- noeof.fa.bgz r400
  # The same cut in a Stockholm alignment and in a dot-bracket file: no alignment
  # or reference after the cut is lost unnoticed.
  printf '# STOCKHOLM 1.0\nh1 GGGGAAACCCC\n#=GC SS_cons <<<<...>>>>\n//\n' | bgzip -c | head -c -28 > noeof.sto.bgz
  expect "Stockholm bgzip cut at a block boundary" 1 "" "rnaqubo-seq: noeof.sto.bgz: the bgzip file is truncated (no end-of-file block)
" -- noeof.sto.bgz h1
  printf '>r1\nACGU\n....\n' | bgzip -c | head -c -28 > noeof.dbn.bgz
  expect "dot-bracket bgzip cut at a block boundary" 1 "" "rnaqubo-seq: noeof.dbn.bgz: the bgzip file is truncated (no end-of-file block)
" -- --split noeof.split --dbn noeof.dbn.bgz many.fa
  samtools faidx many.fa.bgz
  expect "bgzip with index, by name" 0 "$(as_input "$last")
" "rnaqubo-seq: note: record r400: $last_t T written as U
" -- many.fa.bgz r400
  expect "bgzip with index, by number" 0 "$(as_input "$last")
" "rnaqubo-seq: note: record r400: $last_t T written as U
" -- -i 400 many.fa.bgz
  expect "bgzip with index, missing record" 1 "" "rnaqubo-seq: many.fa.bgz: no record named r401: the file has 400 records
" -- many.fa.bgz r401
  # Damage the first block: only a reader that jumps to the last record through
  # the index still finds it; a stale index is not trusted.
  cp many.fa.bgz jump.fa.bgz && cp many.fa.bgz.fai jump.fa.bgz.fai && cp many.fa.bgz.gzi jump.fa.bgz.gzi
  python3 -c "d = bytearray(open('jump.fa.bgz','rb').read()); d[5000] ^= 0x55; open('jump.fa.bgz','r+b').write(d)"
  touch -d '2000-01-01' jump.fa.bgz
  expect "indexed record fetched by random access" 0 "$(as_input "$last")
" "rnaqubo-seq: note: record r400: $last_t T written as U
" -- jump.fa.bgz r400
  touch jump.fa.bgz
  expect "stale index ignored" 1 "" "~rnaqubo-seq: jump.fa.bgz: (record r[0-9]+: )?the compressed data is damaged or truncated" -- jump.fa.bgz r400
  printf '@q1\nGGTT\n+\nIIII\n@q2\nCCAA\n+\n!!!!\n' > indexed.fq && samtools fqidx indexed.fq
  expect "indexed FASTQ" 0 "$(as_input CCAA)
" "" -- indexed.fq q2
else
  echo "note: bgzip or samtools missing: the bgzip and index cases are skipped"
fi

# Output files: complete or absent.
expect "-o writes the file" 0 "" "" -- -o out.txt wrapped.fa second
check "-o content" cmp -s out.txt <(as_input ACGUAC)
expect "-o keeps the old file on bad data" 1 "" "rnaqubo-seq: wrapped.fa: no record named none: the file has 2 records
" -- -o out.txt wrapped.fa none
check "-o old content kept" cmp -s out.txt <(as_input ACGUAC)
expect "-o into a missing directory" 2 "" "rnaqubo-seq: no/such/out.txt: cannot write: No such file or directory
" -- -o no/such/out.txt wrapped.fa
cp wrapped.fa same.fa
expect "-o never replaces the input" 2 "" "rnaqubo-seq: same.fa: cannot write: Input file would be overwritten
" -- -o same.fa same.fa
check "input kept" cmp -s same.fa wrapped.fa
check "no temporary left" test -z "$(find . -name '.rnaqubo*' -print -quit)"

# Collections: one directory per record, safe names, clashes refused.
printf '>a/b x\nGGGACCC\n>..\nAC\n>ok\nGTTC\n' > names.fa
expect "split with unsafe names" 0 "" "rnaqubo-seq: note: record 1 (a/b) is written as a_b
rnaqubo-seq: note: record 2 (..) is written as _.
rnaqubo-seq: note: record ok: 2 T written as U
" -- --split coll names.fa
check "split layout" test "$(cd coll && find . -type f | sort | tr '\n' ' ')" = \
  "./_./_..txt ./a_b/a_b.txt ./manifest.tsv ./ok/ok.txt "
check "split manifest" cmp -s coll/manifest.tsv <(printf 'name\tlength\tpath\na_b\t7\ta_b/a_b.txt\n_.\t2\t_./_..txt\nok\t4\tok/ok.txt\n')
check "split record file" cmp -s coll/ok/ok.txt <(as_input GUUC)
printf '>a_b\nGG\n>x\nCC\n>a/b\nAA\n' > clash.fa
expect "clashing names refused" 1 "" "rnaqubo-seq: clash.fa: records 1 (a_b) and 3 (a/b) would both be written to fresh/a_b/a_b.txt
" -- --split fresh clash.fa
check "nothing written for a clash" test ! -e fresh
printf '>x\nGG\n>x\nCC\n' > dup.fa
expect "duplicate names refused" 1 "" "rnaqubo-seq: dup.fa: records 1 (x) and 2 (x) would both be written to coll/x/x.txt
" -- --split coll dup.fa
check "existing collection untouched" test ! -e coll/x
check "existing collection untouched" cmp -s coll/ok/ok.txt <(as_input GUUC)

printf '>--help\nGGAC\n>-o\nCC\n' > dashes.fa
expect "names read as options made safe" 0 "" "rnaqubo-seq: note: record 1 (--help) is written as _-help
rnaqubo-seq: note: record 2 (-o) is written as _o
" -- --split dashcoll dashes.fa
check "no file name starts with '-'" test -z "$(find dashcoll -name '-*' -print -quit)"

# A note that comes once per record, or once per leftover of an earlier split:
# the first three as they are, then one line for the rest with the total.
for count in 3 4 120; do
  : > many.fa
  for ((k = 1; k <= count; k++)); do printf '>n/%d\nGC\n' "$k" >> many.fa; done
  more=$(case $count in
    4) echo "rnaqubo-seq: note: ... and 1 more record is written under a safe name (4 in all)" ;;
    120) echo "rnaqubo-seq: note: ... and 117 more records are written under a safe name (120 in all)" ;;
  esac)
  expect "$count renamed records" 0 "" "rnaqubo-seq: note: record 1 (n/1) is written as n_1
rnaqubo-seq: note: record 2 (n/2) is written as n_2
rnaqubo-seq: note: record 3 (n/3) is written as n_3
${more:+$more
}" -- --split "many$count" many.fa
done
mkdir -p left/.rnaqubo-seq-{d,b,c,a}
expect "4 leftovers of earlier splits" 0 "" "rnaqubo-seq: note: left/.rnaqubo-seq-a: an earlier split stopped before its commit; its staged files are removed
rnaqubo-seq: note: left/.rnaqubo-seq-b: an earlier split stopped before its commit; its staged files are removed
rnaqubo-seq: note: left/.rnaqubo-seq-c: an earlier split stopped before its commit; its staged files are removed
rnaqubo-seq: note: ... and 1 more leftover of an earlier split dealt with (4 in all)
" -- --split left wrapped.fa
check "every leftover removed" test -z "$(find left -name '.rnaqubo-seq-*' -print -quit)"

# Every byte a name can hold (all but white space, which ends the name): only
# [A-Za-z0-9._-] reaches a file name, unchanged; every other byte becomes '_'.
/usr/bin/python3 -c "
import sys
out = sys.stdout.buffer
for b in range(1, 256):
    if b in b' \t\n\r\v\f': continue
    out.write(b'>n%d_' % b + bytes([b]) + b'\nGC\n')" > bytes.fa
"$exe" --split bytecoll bytes.fa > /dev/null 2>&1
check "split of every name byte" test "$(tail -n +2 bytecoll/manifest.tsv | wc -l)" -eq 249
check "only [A-Za-z0-9._-] in written names" test -z "$(cut -f 1 bytecoll/manifest.tsv | tail -n +2 | LC_ALL=C grep -v '^[A-Za-z0-9._-]*$')"
check "kept bytes unchanged" test "$(cut -f 1 bytecoll/manifest.tsv | LC_ALL=C grep -c '^n[0-9]*_[A-Za-z0-9.-]$')" -eq 64
check "brace and dollar replaced" test -d bytecoll/n123__ -a -d bytecoll/n36__ -a -d bytecoll/n125__

# A failed write names the record's file; links never lead a split out of DIR.
awk 'BEGIN { for (r = 1; r <= 3; r++) { printf ">s%d\n", r; s = ""; for (k = 0; k < 600 * r; k++) s = s "A"; print s } }' > big.fa
(ulimit -f 2; "$exe" --split fullcoll big.fa > /dev/null 2> full.err; echo $? > full.status)
check "file size limit names the record" grep -qx 'rnaqubo-seq: fullcoll/s2/s2.txt: cannot write: File too large' full.err
check "file size limit leaves nothing" test "$(cat full.status)" = 2 -a ! -e fullcoll
mkdir -p outside linked && ln -s ../outside/manifest.tsv linked/manifest.tsv && ln -s ../outside/s1.txt linked/s1.txt
mkdir linked/s1 && ln -s ../../outside/s1.txt linked/s1/s1.txt
"$exe" --split linked big.fa 2> /dev/null
check "links replaced, nothing written outside" test -z "$(ls outside)" -a ! -L linked/manifest.tsv -a ! -L linked/s1/s1.txt -a -s linked/manifest.tsv
ln -s ../outside linked/s2.moved && rm -r linked/s2 && ln -s ../outside linked/s2
expect "record directory that is a link refused" 2 "" "rnaqubo-seq: linked/s2: cannot create: a symbolic link is in the way; nothing was changed in linked
" -- --split linked big.fa
check "nothing written through the link" test -z "$(ls outside)"

# A split never lands on its own input, and fails as a whole: records moved
# into place are taken back and earlier files put back.
mkdir -p selfdir/a && printf '>a\nGGAC\n' > selfdir/a/a.txt && cp selfdir/a/a.txt self.keep
expect "split onto its input refused" 2 "" "rnaqubo-seq: selfdir/a/a.txt: cannot write: Input file would be overwritten
" -- --split selfdir selfdir/a/a.txt
check "input of the split kept" cmp -s selfdir/a/a.txt self.keep
mkdir -p selfdir/x && printf '>q\nGC\n..\n' > selfdir/x/x.dbn && cp selfdir/x/x.dbn self.keep
printf '>x\nGGAC\n' > x.fa
expect "structure removal never hits the input" 2 "" "rnaqubo-seq: selfdir/x/x.dbn: cannot write: Input file would be overwritten
" -- --split selfdir --dbn selfdir/x/x.dbn x.fa
check "reference input kept" cmp -s selfdir/x/x.dbn self.keep
cp -r coll coll.before
printf '>ok\nGGGG\n>a_b\nAA\n>new\nCC\n>z\nGG\n' > partial.fa
: > coll/new
expect "failed commit rolled back" 2 "" "rnaqubo-seq: coll/new: cannot create: Not a directory; nothing was changed in coll
" -- --split coll partial.fa
rm coll/new
check "earlier split restored" diff -r coll coll.before
mkdir -p coll/z/z.txt && : > coll/z/z.txt/keep
expect "directory in the way" 2 "" "rnaqubo-seq: coll/z/z.txt: cannot replace: Is a directory; nothing was changed in coll
" -- --split coll partial.fa
check "directory in the way kept" test -e coll/z/z.txt/keep
rm -r coll/z
check "earlier split restored" diff -r coll coll.before
rm -rf coll.before
check "no staging left" test -z "$(find . -name '.rnaqubo-seq-*' -print -quit)"

# Memory running out ends the run with a message, and the split leaves nothing.
# Skipped where the program cannot even start under the limit (sanitizers).
if (ulimit -v 150000 && "$exe" --version > /dev/null 2>&1); then
  { echo '>big'; head -c 64000000 /dev/zero | tr '\0' A; echo; } > big.fa
  (ulimit -v 150000 && exec "$exe" --split oom big.fa > /dev/null 2> oom.err)
  check "out of memory: status 1" test $? -eq 1
  check "out of memory: message" grep -qx 'rnaqubo-seq: Memory allocation problem' oom.err
  check "out of memory: nothing left" test ! -e oom
  rm -f big.fa
fi

# Reference structures beside the sequences.
printf '>ok\nGUUC\n(..)\n\n>a/b\nGGGACCC\n(((.))) (-3.10)\n>extra\nGC\n..\n' > refs.dbn
expect "split with references" 0 "" "rnaqubo-seq: note: record 1 (a/b) is written as a_b
rnaqubo-seq: note: record 2 (..) is written as _.
rnaqubo-seq: note: 1 reference structure names no record of names.fa: extra
rnaqubo-seq: note: record ok: 2 T written as U
" -- --split coll --dbn refs.dbn names.fa
check "structure file" cmp -s coll/a_b/a_b.dbn <(printf '>a/b\nGGGACCC\n(((.)))\n')
check "record without structure" test ! -e coll/_./_..dbn
printf '>s1\nGGG-AAACCC\n(((....)))\n>s2\nGCNAAAGC\n((....))\n' > own.dbn
expect "sequences from the dot-bracket file" 0 "" "rnaqubo-seq: note: record s1: 1 gap ('-' or '.') removed
rnaqubo-seq: note: record s2: 1 ambiguous letter dropped, so later positions shift
" -- --split fromdbn --ambiguous drop --dbn own.dbn
check "gap column removed from the structure" cmp -s fromdbn/s1/s1.dbn <(printf '>s1\nGGGAAACCC\n(((...)))\n')
check "ambiguous column removed from the structure" cmp -s fromdbn/s2/s2.dbn <(printf '>s2\nGCAAAGC\n((...))\n')
printf '>s1\nGNGAAACCC\n(((...)))\n' > paired.dbn
expect "paired column removed" 1 "" "rnaqubo-seq: paired.dbn: record s1: position 2 (N) is removed from the sequence but paired in the structure
" -- --split bad --ambiguous drop --dbn paired.dbn
printf '>s1\nGGAAACC\n((...)\n' > unbalanced.dbn
expect "unbalanced structure" 1 "" "rnaqubo-seq: unbalanced.dbn: record s1: the structure has 6 characters for 7 letters
" -- --split bad --dbn unbalanced.dbn
printf '>s1\nGGAAACC\n((...)(\n' > unbalanced.dbn
expect "unbalanced structure" 1 "" "rnaqubo-seq: unbalanced.dbn: record s1: structure: position 7: '(' is never closed
" -- --split bad --dbn unbalanced.dbn
printf '>ok\nGUUA\n(..)\n' > other.dbn
expect "reference of another sequence" 1 "" "rnaqubo-seq: other.dbn: record ok: the sequence differs from the one in names.fa
" -- --split bad --dbn other.dbn names.fa
check "nothing written for bad references" test ! -e bad

# Usage errors: one line each.
expect "no file" 2 "" "rnaqubo-seq: no FILE given
" --
expect "bad record number" 2 "" "rnaqubo-seq: -i: not a record number from 1 to 9223372036854775807: 0
" -- -i 0 wrapped.fa
expect "name and number" 2 "" "rnaqubo-seq: give NAME or -i K, not both
" -- -i 1 wrapped.fa second
expect "bad ambiguity mode" 2 "" "rnaqubo-seq: --ambiguous: not refuse or drop: keep
" -- --ambiguous=keep wrapped.fa

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
