#!/usr/bin/env bash
# rnaqubo-fold --reference and --svg, end to end: every line of standard output
# and standard error and the exit status compared with values worked out by hand,
# and the pictures checked as XML.
# usage: fold_options.sh RNAQUBO_FOLD
set -u
exe=$1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

# GGGGCCCC, minimum distance 0, chain bonus on: quads 1..9 are the outer pairs
# (1,6) (1,7) (1,8) (2,6) (2,7) (2,8) (3,6) (3,7) (3,8); the optimum is quads
# 3 5 7, the helix 1-8 2-7 3-6 4-5, value 131.
printf '8\nG\nG\nG\nG\nC\nC\nC\nC\n' > g.txt
printf '>hairpin\nggggcccc\n(((..)))\n' > ref.dbn
printf '(((())))\r\n' > self.txt
printf '3 4\n' > conflict.txt
optimum=$'GGGGCCCC\n(((()))) (131)\nquads: 3 5 7'
# The optimum against 1-8 2-7 3-6: 3 of 3 reference pairs, 3 of 4 predicted, 6/7.
# The reference's own selection: quads 3 and 5 of 1-8 2-7 3-6, worth 74 of 131.
against_ref=$'sensitivity: 1.0000\nPPV: 0.7500\nF1: 0.8571\nreference value: 74 ratio: 0.5649'
ones=$'sensitivity: 1.0000\nPPV: 1.0000\nF1: 1.0000\nreference value: 131 ratio: 1.0000'
# Quads 3 and 4 give 1-8 2-7 2-6 3-5: 2 of 3 reference pairs, 2 of 4 predicted, 4/7;
# against the optimum's 1-8 2-7 3-6 4-5, 2 of 4 each way.
conflict_lines=$'GGGGCCCC\nnot a secondary structure: 1 conflicting couples (-134)\nquads: 3 4\nvalue: -134 optimum: 131 ratio: -1.0229\nconflicts: 1\nconflict: 3 4\noptimum sensitivity: 0.5000\noptimum PPV: 0.5000\noptimum F1: 0.5000\nsensitivity: 0.6667\nPPV: 0.5000\nF1: 0.5714\nreference value: 74 ratio: 0.5649'

# check NAME STATUS STDOUT STDERR ARG...: STDOUT is compared with the first three
# lines and the lines after the certificate, or whole when it has no "quads:" line
# at its third; the certificate line depends on the model's bound, tested elsewhere.
check() {
  local name=$1 status=$2 out=$3 err=$4
  shift 4
  "$exe" "$@" > out 2> err
  local got=$?
  local shown
  shown=$(if [ "$(sed -n 4p out | cut -c1-10)" = "certified:" ]; then sed 4d out; else cat out; fi)
  if [ "$got" != "$status" ] || [ "$shown" != "$out" ] || [ "$(cat err)" != "$err" ]; then
    echo "FAIL: $name: status $got (want $status)"
    diff <(echo "$out") <(echo "$shown") | head -n 10
    diff <(printf '%s' "$err") <(cat err) | head -n 5
    failures=$((failures + 1))
  fi
}

check "scores" 0 "$optimum"$'\n'"$against_ref" "" g.txt 8 0 1 -200 --reference ref.dbn
check "F1 of a structure against itself" 0 "$optimum"$'\n'"$ones" "" --reference=self.txt g.txt 8 0 1 -200
check "solution with conflicts" 0 "$conflict_lines" "" g.txt 8 0 1 -200 --solution conflict.txt \
  --reference ref.dbn --svg conflict.svg

printf '(((.)))\n' > short.txt
printf '>x\nGGGGCCCA\n(((..)))\n' > other.dbn
printf '((((.)))\n' > open.txt
printf '(((..)>)\n' > closer.txt
check "short reference" 1 "" "rnaqubo-fold: short.txt: line 1: the structure has 7 characters, the folded sequence 8 bases" \
  g.txt 8 0 1 -200 --reference short.txt
check "other sequence" 1 "" "rnaqubo-fold: other.dbn: line 2, position 8: letter 'A' differs from 'C' of the folded sequence" \
  g.txt 8 0 1 -200 --reference other.dbn
check "unclosed bracket" 1 "" "rnaqubo-fold: open.txt: line 1, position 1: '(' is never closed" \
  g.txt 8 0 1 -200 --reference open.txt
check "wrong closer" 1 "" "rnaqubo-fold: closer.txt: line 1, position 7: '>' closes no '<'" \
  g.txt 8 0 1 -200 --reference closer.txt
check "missing reference" 2 "" "rnaqubo-fold: missing.dbn: cannot read: No such file or directory" \
  g.txt 8 0 1 -200 --reference missing.dbn
check "svg in a missing directory" 2 "" "rnaqubo-fold: no/dir.svg: cannot write: No such file or directory" \
  g.txt 8 0 1 -200 --svg no/dir.svg
cp g.txt g.kept
for input in g.txt ref.dbn conflict.txt; do
  check "svg onto input $input" 2 "" "rnaqubo-fold: $input: cannot write: Input file would be overwritten" \
    g.txt 8 0 1 -200 --reference ref.dbn --solution conflict.txt --svg "$input"
done
cmp -s g.txt g.kept || { echo "FAIL: the sequence file was changed"; failures=$((failures + 1)); }

# A picture replaces an earlier file of its name; nothing else is left behind.
echo old > optimum.svg
check "svg" 0 "$optimum"$'\n'"$against_ref" "" g.txt 8 0 1 -200 --reference ref.dbn --svg optimum.svg
check "svg without reference" 0 "$optimum" "" g.txt 8 0 1 -200 --svg plain.svg
leftover=$(ls -A | grep -v -x -e g.txt -e g.kept -e ref.dbn -e self.txt -e conflict.txt -e short.txt \
  -e other.dbn -e open.txt -e closer.txt -e out -e err -e conflict.svg -e optimum.svg -e plain.svg)
[ -z "$leftover" ] || { echo "FAIL: files left behind: $leftover"; failures=$((failures + 1)); }

# The arcs of each picture by colour group: the optimum's 4 pairs, 3 of them in
# the reference (1-8 2-7 3-6); the conflicting selection's 2-7 and 2-6 share 2.
/usr/bin/python3 - <<'EOF' || failures=$((failures + 1))
import sys
import xml.etree.ElementTree as ET

SVG = "{http://www.w3.org/2000/svg}"
expected = {
    "optimum.svg": ("hairpin", {"structure-both": 3, "structure-only": 1, "reference-both": 3}),
    "plain.svg": ("g.txt", {"structure": 4}),
    "conflict.svg": ("hairpin (not a secondary structure)",
                     {"structure-both": 1, "structure-only": 1, "structure-conflicting": 2,
                      "reference-both": 2, "reference-only": 1}),
}
bad = 0
for name, (title, groups) in expected.items():
    root = ET.parse(name).getroot()
    found = {g.get("id"): len(g.findall(f"{SVG}path")) for g in root.findall(f"{SVG}g")
             if g.find(f"{SVG}path") is not None}
    if root.find(f"{SVG}title").text != title or found != groups:
        print(f"FAIL: {name}: title {root.find(f'{SVG}title').text!r}, arcs {found}")
        bad += 1
sys.exit(bad)
EOF

[ "$failures" -eq 0 ]
