#!/usr/bin/env bash
# End-to-end runs of rnaqubo-fold: hand-worked outputs compared byte for byte,
# --solution in every form against the optimum it decodes, the printed value
# against the Q file rnaqubo writes, and the error cases.
# usage: fold_cli.sh RNAQUBO_FOLD RNAQUBO EXAMPLES_DIR
set -u
fold=$(realpath "$1") rnaqubo=$(realpath "$2") examples=$(realpath "$3")

. "$(dirname "$0")/cli_lib.sh"

printf '6\nG G G C C C\n' >gggccc.txt
printf '8\nG\nG\nG\nG\nC\nC\nC\nC\n' >g4c4.txt
printf '7\nggg cccc\n' | sed 's/\([gc]\)/\1 /g' >g3c4.txt
printf '5\nG G A C C\n' >ggacc.txt

# Hand-worked optima. GGGCCC: quads 2 (1,6,2,5) and 3 (2,5,3,4), 33 + 33 + 8.
# GGGGCCCC: quads 3, 5 and 7, 3 x 33 + 8 + 8 + the chain bonus 16; the bound is
# quad 3's 33 + 8 + 16 = 57, so -50 does not certify it. GGGCCCC has two optima
# of 74, ((())). and (((.))): position 1 takes its nearest partner.
run gggccc 0 $'GGGCCC\n((())) (74)\nquads: 2 3\ncertified: yes (penalty -200 <= -41)\n' '' \
  gggccc.txt 6 0 1 -200
run g4c4_chain 0 $'GGGGCCCC\n(((()))) (131)\nquads: 3 5 7\ncertified: yes (penalty -200 <= -57)\n' '' \
  g4c4.txt 8 0 1 -200
run g4c4_weak 0 $'GGGGCCCC\n(((()))) (131)\nquads: 3 5 7\ncertified: no (penalty -50 > -57): best conflict-free selection only; a selection with conflicts may score higher\n' '' \
  g4c4.txt 8 0 1 -50
run g4c4_no_chain 0 $'GGGGCCCC\n(((()))) (115)\nquads: 3 5 7\ncertified: yes (penalty -49 <= -49)\n' '' \
  g4c4.txt 8 0 0 -49
run g3c4_tie 0 $'GGGCCCC\n((())). (74)\nquads: 2 4\ncertified: yes (penalty -200 <= -41)\n' '' \
  g3c4.txt 7 0 1 -200
run no_quad 0 $'GGACC\n..... (0)\nquads:\ncertified: yes (penalty -200 <= 0)\n' '' \
  ggacc.txt 5 2 1 -200

# --solution: numbers, 0/1 string and zero-based numbers give the same lines;
# a selection with conflicts is never drawn as a structure. The last three
# lines score its pairs against the optimum's: all of them, or none.
same=$'optimum sensitivity: 1.0000\noptimum PPV: 1.0000\noptimum F1: 1.0000\n'
apart=$'optimum sensitivity: 0.0000\noptimum PPV: 0.0000\noptimum F1: 0.0000\n'
decoded=$'GGGGCCCC\n(((()))) (131)\nquads: 3 5 7\nvalue: 131 optimum: 131 ratio: 1.0000\nconflicts: 0\n'$same
printf '3 5\n7\n' >numbers.txt
printf '001010100\n' >bits.txt
printf '2 4 6' >zero.txt
run solution_numbers 0 "$decoded" '' --solution numbers.txt g4c4.txt 8 0 1 -200
run solution_bits 0 "$decoded" '' g4c4.txt 8 0 1 -200 --solution bits.txt
run solution_zero 0 "$decoded" '' g4c4.txt --zero-based 8 0 --solution=zero.txt 1 -200
# Quads 1, 2 and 5 score 33 each, continue no stack and conflict pairwise:
# 99 - 3 x 200. Their six distinct pairs hold two of the optimum's four
# (2-7 and 3-6, of quad 5): sensitivity 2/4, PPV 2/6, F1 4/10.
printf '1 2 5\n' >clash.txt
run solution_clash 0 $'GGGGCCCC\nnot a secondary structure: 3 conflicting couples (-501)\nquads: 1 2 5\nvalue: -501 optimum: 131 ratio: -3.8244\nconflicts: 3\nconflict: 1 2\nconflict: 1 5\nconflict: 2 5\noptimum sensitivity: 0.5000\noptimum PPV: 0.3333\noptimum F1: 0.4000\n' '' \
  --solution clash.txt g4c4.txt 8 0 1 -200
: >empty.txt
run solution_empty 0 $'GGACC\n..... (0)\nquads:\nvalue: 0 optimum: 0 ratio: -\nconflicts: 0\n'"$same" '' \
  --solution empty.txt ggacc.txt 5 2 1 -200

# A lone word of 0 and 1: a 0/1 string only when it has one character per
# variable and the numbers are 1-based; with --zero-based always a number.
# GGAAAAAACC has the one quad 1-10/2-9 (33); GGAAAAAACCC has quad 1 (1-10/2-9)
# and quad 2 (1-11/2-10), 33 each.
printf '10\nG G A A A A A A C C\n' >q1.txt
printf '11\nG G A A A A A A C C C\n' >q2.txt
q1_one=$'GGAAAAAACC\n((......)) (33)\nquads: 1\nvalue: 33 optimum: 33 ratio: 1.0000\nconflicts: 0\n'$same
q2_one=$'GGAAAAAACCC\n((......)). (33)\nquads: 1\nvalue: 33 optimum: 33 ratio: 1.0000\nconflicts: 0\n'$same
# The optimum is quad 1 (position 1 takes its nearest partner): quad 2 shares no pair.
q2_two=$'GGAAAAAACCC\n((.......)) (33)\nquads: 2\nvalue: 33 optimum: 33 ratio: 1.0000\nconflicts: 0\n'$apart
hint=' (a 0/1 string is read only without --zero-based)'
while IFS='|' read -r name word base input n expected_status expected; do
  printf '%s\n' "$word" >lone.txt
  flag=() && [ "$base" = 0 ] && flag=(--zero-based)
  case $expected in
    q1_none) expected=$'GGAAAAAACC\n.......... (0)\nquads:\nvalue: 0 optimum: 33 ratio: 0.0000\nconflicts: 0\n'$apart ;;
    q1_one | q2_one | q2_two) expected=${!expected} ;;
  esac
  if [ "$expected_status" = 0 ]; then
    run "lone_$name" 0 "$expected" '' "${flag[@]}" --solution lone.txt "$input" "$n" 4 1 -200
  else
    run "lone_$name" 1 '' "rnaqubo-fold: lone.txt: ${expected/HINT/$hint}"$'\n' "${flag[@]}" --solution lone.txt "$input" "$n" 4 1 -200
  fi
done <<'TABLE'
q1_bits_1|1|1|q1.txt|10|0|q1_one
q1_bits_0|0|1|q1.txt|10|0|q1_none
q1_zero_0|0|0|q1.txt|10|0|q1_one
q1_zero_1|1|0|q1.txt|10|1|item 1 "1": out of range: variables are numbered 0 to 0HINT
q2_bits_01|01|1|q2.txt|11|0|q2_two
q2_bits_10|10|1|q2.txt|11|0|q2_one
q2_number_1|1|1|q2.txt|11|0|q2_one
q2_bits_short|0|1|q2.txt|11|1|a 0/1 string of 1 characters, but the model has 2 variables
q2_zero_0|0|0|q2.txt|11|0|q2_one
q2_zero_1|1|0|q2.txt|11|0|q2_two
q2_zero_01|01|0|q2.txt|11|0|q2_two
q2_zero_10|10|0|q2.txt|11|1|item 1 "10": out of range: variables are numbered 0 to 1HINT
TABLE

# The numbering header on the first line must agree with --zero-based, and the
# words after it are read as without it; no header, the option alone decides.
# HEADER is a printf format (\r for a CRLF file); "-" writes no header line.
said='line 1 says "# numbering:'
while IFS='|' read -r name header words base expected_status expected; do
  { [ "$header" = - ] || printf "$header\n"; printf '%s\n' "$words"; } >header.txt
  flag=() && [ "$base" = 0 ] && flag=(--zero-based)
  if [ "$expected_status" = 0 ]; then
    run "header_$name" 0 "$decoded" '' "${flag[@]}" --solution header.txt g4c4.txt 8 0 1 -200
  else
    run "header_$name" 1 '' "rnaqubo-fold: header.txt: ${expected/SAID/$said}"$'\n' "${flag[@]}" --solution header.txt g4c4.txt 8 0 1 -200
  fi
done <<'TABLE'
one_read_one|# numbering: one-based|3 5 7|1|0|
one_read_zero|# numbering: one-based|2 4 6|0|1|SAID one-based", but the answer is read zero-based (--zero-based)
zero_read_zero|# numbering: zero-based|2 4 6|0|0|
zero_read_one|# numbering: zero-based|3 5 7|1|1|SAID zero-based", but the answer is read one-based (without --zero-based)
none_read_one|-|3 5 7|1|0|
none_read_zero|-|2 4 6|0|0|
one_bits|# numbering: one-based|001010100|1|0|
crlf_blanks|  # numbering: zero-based \r|2 4 6|0|0|
item_after_header|# numbering: one-based|3 x5|1|1|item 2 "x5": not a variable number
bad_word|# numbering: 1-based|3 5 7|1|1|line 1: not a numbering header: expected "# numbering: one-based" or "# numbering: zero-based", found "# numbering: 1-based"
bad_comment|#|3 5 7|0|1|line 1: not a numbering header: expected "# numbering: one-based" or "# numbering: zero-based", found "#"
TABLE
# A header anywhere but on the first line is no header: its words are items.
printf '3 5 7\n# numbering: one-based\n' >late.txt
run header_late 1 '' $'rnaqubo-fold: late.txt: item 4 "#": not a variable number\n' --solution late.txt g4c4.txt 8 0 1 -200

# Errors in the solution file name the file and the first bad item.
printf '3 x5 99\n' >word.txt
printf '3 10\n' >range.txt
printf '0010101\n' >short.txt
run bad_word 1 '' $'rnaqubo-fold: word.txt: item 2 "x5": not a variable number\n' --solution word.txt g4c4.txt 8 0 1 -200
run bad_range 1 '' $'rnaqubo-fold: range.txt: item 2 "10": out of range: variables are numbered 1 to 9\n' \
  --solution range.txt g4c4.txt 8 0 1 -200
printf '2 4\n\n9 1\n' >zero_bad.txt
run bad_zero 1 '' $'rnaqubo-fold: zero_bad.txt: item 3 "9": out of range: variables are numbered 0 to 8\n' \
  --zero-based --solution zero_bad.txt g4c4.txt 8 0 1 -200
run bad_length 1 '' $'rnaqubo-fold: short.txt: a 0/1 string of 7 characters, but the model has 9 variables\n' \
  --solution short.txt g4c4.txt 8 0 1 -200
run no_variables 1 '' $'rnaqubo-fold: numbers.txt: item 1 "3": out of range: the model has no variables\n' \
  --solution numbers.txt ggacc.txt 5 2 1 -200
run missing_solution 2 '' $'rnaqubo-fold: absent.txt: cannot read: No such file or directory\n' \
  --solution absent.txt g4c4.txt 8 0 1 -200
mkdir folder
run directory_solution 2 '' $'rnaqubo-fold: folder: cannot read: Is a directory\n' --solution folder g4c4.txt 8 0 1 -200

# The model arguments and the sequence file: rnaqubo's statuses, one line each
# on standard error, the sequence file named as such.
printf '8\nG G G G C T C C\n' >thymine.txt
printf '9\nG G G G C C C C\n' >long_count.txt
printf 'eight\n' >no_count.txt
run four_arguments 2 '' "rnaqubo-fold: expected 5 arguments (input_RNA_sequence_filename sequence_length min_distance_allowed_between_positions add_quads0/1 M_penalty), got 4
" g4c4.txt 8 0 1
run unknown_option 2 '' $'rnaqubo-fold: Unknown option: --svgg\n' --svgg x g4c4.txt 8 0 1 -200
run option_value 2 '' $'rnaqubo-fold: Option --solution needs a value\n' g4c4.txt 8 0 1 -200 --solution
run zero_based_alone 2 '' $'rnaqubo-fold: Option --zero-based needs --solution\n' --zero-based g4c4.txt 8 0 1 -200
run out_of_range 2 '' $'rnaqubo-fold: Number out of range: 99999999999\n' g4c4.txt 8 0 1 99999999999
run length_zero 1 '' $'rnaqubo-fold: Error in sequence length 0\n' g4c4.txt zero 0 1 -200
run missing_input 2 '' $'rnaqubo-fold: absent.txt: sequence file: cannot read: No such file or directory\n' absent.txt 8 0 1 -200
run thymine 1 '' $'rnaqubo-fold: thymine.txt: sequence file: a word that starts with no base: T\n' thymine.txt 8 0 1 -200
printf '8\nG G G G C \033[2J\\\n' >hostile.txt
run hostile_word 1 '' $'rnaqubo-fold: hostile.txt: sequence file: a word that starts with no base: \\x1B[2J\\\n' hostile.txt 8 0 1 -200
run count_mismatch 1 '' $'rnaqubo-fold: long_count.txt: sequence file: the file counts 9 bases, the command line 8\n' long_count.txt 8 0 1 -200
run no_count 1 '' $'rnaqubo-fold: no_count.txt: sequence file: no count of bases at the start\n' no_count.txt 8 0 1 -200
"$fold" --version >out.txt && grep -qx 'rnaqubo-fold [0-9.]*' out.txt || fail "--version: $(cat out.txt)"
"$fold" g4c4.txt --help >out.txt && grep -q -- '--zero-based' out.txt || fail "--help does not describe the options"
if [ -w /dev/full ]; then
  "$fold" g4c4.txt 8 0 1 -200 >/dev/full 2>err.txt
  [ $? -eq 2 ] && grep -qx 'rnaqubo-fold: standard output: cannot write: No space left on device' err.txt ||
    fail "a full standard output is not reported"
fi

# Memory failures: the message on standard error with its line end, nothing on
# standard output, status 1. A length beyond every table is refused before any
# allocation; a search table the address-space limit refuses (an all-A sequence
# of 10^6 bases: no quad, but a band of 151 values per base) fails after the
# --svg file was started, which must leave nothing behind. A sanitizer build
# cannot start under such a limit: then only the first case runs.
run huge_length 1 '' $'rnaqubo-fold: Memory allocation problem in AllocateIntArray\n' g4c4.txt 2147483647 4 1 -200
if (ulimit -v 400000 && "$fold" --version) >/dev/null 2>&1; then
  mkdir limited
  awk 'BEGIN { print 1000000; for (k = 0; k < 1000000; k++) print "A" }' >limited/many_a.txt
  (ulimit -v 400000 && "$fold" --svg limited/arcs.svg limited/many_a.txt 1000000 4 1 -200) >out.txt 2>err.txt
  status=$?
  [ "$status" -eq 1 ] && [ ! -s out.txt ] && [ "$(cat err.txt)" = "rnaqubo-fold: Memory allocation problem" ] ||
    fail "memory failure in the search: status $status, stdout $(head -c 80 out.txt), stderr $(head -c 80 err.txt)"
  [ "$(ls -A limited)" = many_a.txt ] || fail "memory failure in the search left files: $(ls -A limited)"
  [ "$(tail -c 1 err.txt | od -An -c | tr -d ' ')" = '\n' ] || fail "memory failure message without a line end"
else
  echo "note: the address-space limit cannot be applied here; the search memory failure is not tested"
fi

# Through the real Q file: the printed value is the Q file's value of the
# printed quads, the quads hold no conflict, and feeding them back gives ratio 1.
q_value() {  # Q_FILE QUADS... -> the value and the number of penalty entries among them
  awk -v chosen="$2" -v penalty="$3" 'BEGIN { n = split(chosen, list, " "); for (k = 1; k <= n; k++) pick[list[k]] = 1 }
    NR > 1 && NF == 3 && ($1 in pick) && ($2 in pick) { value += $3; if ($1 != $2 && $3 == penalty) clashes++ }
    END { print value + 0, clashes + 0 }' "$1"
}
cp "$examples"/srp_ecoli.txt "$examples"/vault1.txt .
for run_args in "srp_ecoli.txt 113 4 1 -200" "vault1.txt 137 0 0 -83" "vault1.txt 137 3 1 -83" "srp_ecoli.txt 113 -1 1 -100"; do
  read -r input n distance chain penalty <<<"$run_args"
  "$rnaqubo" "$input" "$n" "$distance" "$chain" "$penalty" >/dev/null || fail "rnaqubo $run_args"
  "$fold" "$input" "$n" "$distance" "$chain" "$penalty" >optimum.txt || fail "rnaqubo-fold $run_args"
  printed=$(sed -n '2s/.* (\(-*[0-9]*\))$/\1/p' optimum.txt)
  quads=$(sed -n '3s/^quads://p' optimum.txt)
  qfile=$(ls Q_[0-9]*_"$input")
  read -r value clashes < <(q_value "$qfile" "$quads" "$penalty")
  [ "$value" = "$printed" ] || fail "$run_args: printed $printed, the Q file gives $value"
  [ "$clashes" -eq 0 ] || fail "$run_args: $clashes conflicting couples in the optimum"
  grep -qx 'certified: yes .*' optimum.txt || fail "$run_args: not certified"
  echo "$quads" >own.txt
  "$fold" --solution own.txt "$input" "$n" "$distance" "$chain" "$penalty" >decoded.txt
  [ "$(head -n 3 decoded.txt)" = "$(head -n 3 optimum.txt)" ] || fail "$run_args: decoding the optimum's quads prints other lines"
  grep -qx "value: $printed optimum: $printed ratio: 1.0000" decoded.txt || fail "$run_args: $(sed -n 4p decoded.txt)"
  # The same selection as a 0/1 string and as zero-based numbers.
  awk -v q="$(head -n 1 "$qfile" | cut -d' ' -f2)" -v chosen="$quads" 'BEGIN { n = split(chosen, list, " ")
    for (k = 1; k <= n; k++) pick[list[k]] = 1
    for (v = 1; v <= q; v++) printf "%d", (v in pick); print "" }' >own_bits.txt
  echo "$quads" | awk '{ for (k = 1; k <= NF; k++) printf "%s%d", (k > 1 ? " " : ""), $k - 1; print "" }' >own_zero.txt
  "$fold" --solution own_bits.txt "$input" "$n" "$distance" "$chain" "$penalty" | cmp -s - decoded.txt ||
    fail "$run_args: the 0/1 string decodes differently"
  "$fold" --zero-based --solution own_zero.txt "$input" "$n" "$distance" "$chain" "$penalty" | cmp -s - decoded.txt ||
    fail "$run_args: the zero-based numbers decode differently"
  rm -f Q_* dot_paren.txt
done

[ "$failures" -eq 0 ] && echo "ok: rnaqubo-fold end to end"
[ "$failures" -eq 0 ]
