#!/usr/bin/env bash
# The Python snippets of the guide (docs/guide/python.md) run as written and
# print what the guide shows: the pure-Python reader on real Q files always,
# the module's snippets when the module is built (its directory holds
# rnaqubo*.so).
# usage: readme_python.sh RNAQUBO SOURCE_DIR [MODULE_DIR]
set -u
exe=$1 source=$2 module_dir=${3:-}

python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3) || {
  echo "SKIP: python3 is not available to run the guide's scripts"
  exit 77
}
. "$(dirname "$0")/doc_blocks.sh"

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
dir=$work/python

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

extract_guide_blocks "$source" "$work/blocks" || exit 1
run_tool "$work" python "$source/examples/srp_ecoli.txt" 113 4 1 -200 || exit 1

snippets=(read_q.py)
module_snippets=(model_arrays.py write_qubo.py anneal.py)
for script in "${snippets[@]}" "${module_snippets[@]}"; do
  block=$(block_of "$work/blocks" snippet "$script") || { echo "FAIL: the guide has no $script"; exit 1; }
  cp "$block" "$dir/$script"
done

cd "$dir" || exit 1
"$python" read_q.py Q_922_srp_ecoli.txt > read_q_srp_ecoli.out || fail "read_q.py exited with $?"
# A Q file cut short (no -1 at the end) is refused, not read as a smaller model.
head -n 5 Q_922_srp_ecoli.txt > cut.txt
"$python" read_q.py cut.txt > /dev/null 2>&1 && fail "read_q.py accepted a file without -1"

if compgen -G "$module_dir/rnaqubo*.so" > /dev/null; then
  export PYTHONPATH=$module_dir
  mkdir -p examples && cp "$source/examples/srp_ecoli.txt" examples/
  "$python" model_arrays.py > model_arrays.out || fail "model_arrays.py exited with $?"
  "$python" write_qubo.py || fail "write_qubo.py exited with $?"
  "$python" anneal.py > anneal.out || fail "anneal.py exited with $?"
  # The annealer's answer depends on its random numbers: its form and its
  # ratio to the optimum are checked, not its figures.
  optimum=$("$python" -c "import rnaqubo
print(rnaqubo.Model.from_file('examples/srp_ecoli.txt', 4, 1, -200).optimum().value)")
  awk -v optimum="$optimum" 'NR == 1 && length($0) != 113 && !/conflicting couples$/ { bad = 1 }
    NR == 2 && !($1 == "value" && $3 == "optimum" && $4 == optimum "," && $5 == "ratio" && $6 <= 1) { bad = 1 }
    END { exit bad || NR != 2 }' anneal.out || fail "anneal.py printed: $(cat anneal.out)"
else
  echo "note: the Python module is not built; its snippets in the guide were not run"
  grep -v -e ' python:model_arrays.out ' -e ' python:gggccc.qubo ' "$work/blocks/index" > "$work/blocks/kept"
  mv "$work/blocks/kept" "$work/blocks/index"
fi

check_blocks "$work/blocks" "$work" python
failures=$((failures + $?))
[ "$checked_blocks" -ge 1 ] || fail "no python output blocks found in the guide"
# The Python chapter is where the snippets and their outputs live: a move that
# took them elsewhere, or lost them, fails here.
page=docs/guide/python.md
[ "$(count_blocks "$work/blocks" "$page" snippet "${snippets[@]}" "${module_snippets[@]}")" -eq \
  $((${#snippets[@]} + ${#module_snippets[@]})) ] || fail "$page does not hold every snippet the test runs"
[ "$(count_blocks "$work/blocks" "$page" - python)" -ge 1 ] || fail "$page holds no python output block"
[ "$failures" -eq 0 ] && echo "ok: the guide's scripts checked, $checked_blocks output blocks match"
[ "$failures" -eq 0 ]
