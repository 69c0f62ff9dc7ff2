#!/usr/bin/env bash
# The python3 scripts of the README work on real Q files and print what the
# README shows.
# usage: readme_python.sh RNAQUBO SOURCE_DIR
set -u
exe=$1 source=$2

if ! command -v python3 > /dev/null; then
  echo "SKIP: python3 is not available to run the README scripts"
  exit 77
fi
. "$(dirname "$0")/doc_blocks.sh"

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
dir=$work/python

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

extract_blocks md "$source/README.md" "$work/blocks" || exit 1
write_sequence "$work/gggccc.txt" GGGCCC
run_tool "$work" python "$work/gggccc.txt" 6 0 1 -200 || exit 1
run_tool "$work" python "$source/examples/srp_ecoli.txt" 113 4 1 -200 || exit 1

for script in read_q.py q_to_qubo.py best_tiny.py; do
  block=$(block_of "$work/blocks" snippet "$script") || { echo "FAIL: README has no $script"; exit 1; }
  cp "$block" "$dir/$script"
done

cd "$dir" || exit 1
python3 read_q.py Q_922_srp_ecoli.txt > read_q_srp_ecoli.out || fail "read_q.py exited with $?"
python3 best_tiny.py Q_4_gggccc.txt > best_tiny_gggccc.out || fail "best_tiny.py exited with $?"
python3 q_to_qubo.py Q_4_gggccc.txt gggccc.qubo || fail "q_to_qubo.py exited with $?"

# --negate gives the same file with every value's sign flipped.
python3 q_to_qubo.py Q_4_gggccc.txt negated.qubo --negate || fail "q_to_qubo.py --negate exited with $?"
awk 'NR == 1 { print; next } { print $1, $2, -$3 }' gggccc.qubo | cmp -s - negated.qubo ||
  fail "q_to_qubo.py --negate does not flip the signs"

# The .qubo counts add up for a large model too.
python3 q_to_qubo.py Q_922_srp_ecoli.txt srp_ecoli.qubo || fail "q_to_qubo.py exited with $?"
read -r _ _ _ nodes diagonals elements < srp_ecoli.qubo
if [ "$nodes" -ne 922 ] ||
   [ "$(($(wc -l < srp_ecoli.qubo) - 1))" -ne "$((diagonals + elements))" ] ||
   [ "$(awk 'NR > 1 && $1 == $2' srp_ecoli.qubo | wc -l)" -ne "$diagonals" ]; then
  fail "srp_ecoli.qubo header does not match its lines: $(head -n 1 srp_ecoli.qubo)"
fi

# A Q file cut short (no -1 at the end) is refused, not read as a smaller model.
head -n 5 Q_922_srp_ecoli.txt > cut.txt
python3 read_q.py cut.txt > /dev/null 2>&1 && fail "read_q.py accepted a file without -1"

check_blocks "$work/blocks" "$work" python
failures=$((failures + $?))
[ "$checked_blocks" -ge 3 ] || fail "only $checked_blocks python output blocks found in the README"
[ "$failures" -eq 0 ] && echo "ok: README scripts checked, $checked_blocks output blocks match"
[ "$failures" -eq 0 ]
