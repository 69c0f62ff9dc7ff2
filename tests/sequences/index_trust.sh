#!/usr/bin/env bash
# rnaqubo-seq against faidx indexes that are damaged or lie: each case writes an
# index (or edits the file after indexing) and fetches records with it. The run
# must agree with a run on the same file without any index (same status, same
# output), end with a status below 128, and say in a note when it did not use
# the index. A sound index must be used silently.
#
#   index_trust.sh RNAQUBO_SEQ
set -u
exe=$(realpath "$1")
command -v samtools > /dev/null && command -v bgzip > /dev/null || { echo "SKIP: samtools or bgzip missing"; exit 77; }
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0 checks=0

# check CASE FILE NOTE ARGS...: NOTE is yes (a note about the index is expected),
# no (none), or any.
check() {
  local name=$1 file=$2 note=$3
  shift 3
  checks=$((checks + 1))
  "$exe" "$file" "$@" > indexed.out 2> indexed.err < /dev/null
  local got=$?
  mkdir -p hidden && for x in "$file".fai "$file".gzi; do [ -e "$x" ] && mv "$x" hidden/; done
  "$exe" "$file" "$@" > scanned.out 2> scanned.err < /dev/null
  local want=$?
  for x in hidden/*; do [ -e "$x" ] && mv "$x" .; done
  local noted=no
  grep -q "\.fai: not used" indexed.err && noted=yes
  if [ "$got" -ge 128 ] || [ "$got" -ne "$want" ] || ! cmp -s indexed.out scanned.out ||
     { [ "$note" != any ] && [ "$noted" != "$note" ]; }; then
    echo "FAIL: $name ($file $*): status $got, expected $want, note $noted, expected $note"
    head -n 3 indexed.err
    failures=$((failures + 1))
  fi
}

# Two wrapped records, a description, and an empty record samtools leaves out.
fasta='>q1 first\nAAAA\nCC\n>e\n>q2\nCCCCGG\nGG\n>q3\nUUU\n'
good=$(printf "$fasta" > ok.fa && samtools faidx ok.fa && cat ok.fa.fai)
for record in q1 q2 q3 e; do check "sound index" ok.fa "$([ $record = e ] && echo no || echo no)" "$record"; done
check "sound index, first record" ok.fa any
check "sound index, missing record" ok.fa no q9
printf '>e\n>q\nAC\n' > empty_first.fa && samtools faidx empty_first.fa
check "empty record first, left out of the index" empty_first.fa no q
check "empty record first, first record" empty_first.fa any

# lie NAME TEXT: the index of ok.fa replaced by TEXT (printf format).
n=0
lie() {
  n=$((n + 1))
  printf "$fasta" > "lie$n.fa"
  printf "$2" > "lie$n.fa.fai"
  touch -d '+1 min' "lie$n.fa.fai"
  for record in q1 q2 q3; do check "$1" "lie$n.fa" any "$record"; done
  check "$1, first record" "lie$n.fa" any
  check "$1, record 2" "lie$n.fa" any -i 2
}
line() { printf '%s' "$good" | awk -v r="$1" -v c="$2" -v v="$3" 'BEGIN{FS=OFS="\t"} $1==r{$c=v} {print}'; }
lie "q2 shorter" "$(line q2 2 4)\n"
lie "q2 longer" "$(line q2 2 9)\n"
lie "q2 at another offset" "$(line q2 3 20)\n"
lie "q2 offset past the end" "$(line q2 3 900)\n"
lie "zero line widths" "$(line q2 4 0 | awk 'BEGIN{FS=OFS="\t"} $1=="q2"{$5=0} {print}')\n"
lie "line width below its bases" "$(line q1 5 3)\n"
lie "line width far above its bases" "$(line q1 5 9)\n"
lie "line bases wrong" "$(line q2 4 3 | awk 'BEGIN{FS=OFS="\t"} $1=="q2"{$5=4} {print}')\n"
lie "only q1 listed" "$(printf '%s' "$good" | head -n 1)\n"
lie "q1 missing" "$(printf '%s' "$good" | tail -n 2)\n"
lie "an extra record" "$good\nq4\t5\t60\t5\t6\n"
lie "records swapped" "$(printf '%s' "$good" | sed -n 2p)\n$(printf '%s' "$good" | sed -n 1p)\n$(printf '%s' "$good" | sed -n 3p)\n"
lie "a name twice" "$good\n$(printf '%s' "$good" | head -n 1)\n"
lie "negative length" "$(line q2 2 -8)\n"
lie "huge numbers" "$(line q2 2 99999999999999999999)\n"
lie "a word for a number" "$(line q2 3 x)\n"
lie "four columns" "q1\t6\t10\t4\n"
lie "no last line end" "$good"
lie "empty index" ""
lie "binary garbage" '\x01\x02\tq\n\xff\n'

# Rewritten after indexing, with the index's time stamp.
printf "$fasta" > stale.fa && samtools faidx stale.fa
printf '>q1 first\nAAAAUU\nCC\n>q2\nCCCCGGGG\nGGG\n>q3\nUU\n' > new.fa && cat new.fa > stale.fa
touch -r stale.fa.fai stale.fa
for record in q1 q2 q3; do check "rewritten with the index's time" stale.fa yes "$record"; done

# bgzip: a sound index, a truncated file with the whole file's index, a damaged .gzi.
awk 'BEGIN { srand(3); for (r = 1; r <= 300; r++) { printf ">r%d\n", r;
  for (l = 0; l < 4; l++) { s = ""; for (k = 0; k < 60; k++) s = s substr("ACGU", int(rand() * 4) + 1, 1); print s } } }' > many.fa
bgzip -c many.fa > many.fa.gz && samtools faidx many.fa.gz
for record in r1 r150 r300; do check "bgzip, sound index" many.fa.gz no "$record"; done
for cut in 100 20000 40000 -28; do
  head -c "$cut" many.fa.gz > "cut$cut.fa.gz" && cp many.fa.gz.fai "cut$cut.fa.gz.fai" && cp many.fa.gz.gzi "cut$cut.fa.gz.gzi"
  for record in r1 r150 r300; do check "bgzip cut at $cut, whole index" "cut$cut.fa.gz" any "$record"; done
done
for damage in 'd[:8]' 'd[:-5]' 'd[:8]+d[24:]+d[8:24]' 'd[:16]+bytes([0xff]*8)+d[24:]' 'd[:8]+bytes([0x30]*8)+d[16:]'; do
  cp many.fa.gz gzi.fa.gz && cp many.fa.gz.fai gzi.fa.gz.fai
  /usr/bin/python3 -c "d = open('many.fa.gz.gzi', 'rb').read(); open('gzi.fa.gz.gzi', 'wb').write($damage)"
  for record in r1 r150 r300; do check "bgzip, .gzi $damage" gzi.fa.gz any "$record"; done
done
cp many.fa.gz nogzi.fa.gz && cp many.fa.gz.fai nogzi.fa.gz.fai
check "bgzip without its .gzi" nogzi.fa.gz yes r300
gzip -c many.fa > plain.fa.gz && cp many.fa.gz.fai plain.fa.gz.fai && touch plain.fa.gz.fai
check "gzip with a .fai" plain.fa.gz yes r300

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
