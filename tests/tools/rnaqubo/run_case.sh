#!/usr/bin/env bash
# Runs one end-to-end case of rnaqubo and compares everything it leaves behind.
#
#   run_case.sh BINARY CASE_DIR
#
# CASE_DIR holds:
#   args             the command-line arguments, one per line
#   input/           files and folders copied into an empty working directory
#   expected/stdout, expected/stderr, expected/status
#   expected/files/  every file the run must create or rewrite
# After the run the working directory must hold exactly the input files and the
# expected files (no more: no temporary left over), each byte for byte.
set -u
binary=$1
case_dir=$2
name=$(basename "$case_dir")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
work=$scratch/work
mkdir -p "$work"
[ -d "$case_dir/input" ] && cp -a "$case_dir/input/." "$work/"
find "$work" -name .keep -type f -delete

mapfile -t args < "$case_dir/args"
(cd "$work" && exec -a rnaqubo "$binary" "${args[@]}") >"$scratch/stdout" 2>"$scratch/stderr" </dev/null
echo $? >"$scratch/status"

failed=0
report() {
  echo "case $name: $1"
  failed=1
}
for stream in stdout stderr status; do
  if ! cmp -s "$case_dir/expected/$stream" "$scratch/$stream"; then
    report "$stream differs (expected, then actual)"
    diff <(od -c "$case_dir/expected/$stream") <(od -c "$scratch/$stream") | head -20
  fi
done

# The files the working directory must hold, and what each must contain.
expected_list=$scratch/expected_list
actual_list=$scratch/actual_list
{
  [ -d "$case_dir/input" ] && (cd "$case_dir/input" && find . -type f ! -name .keep)
  [ -d "$case_dir/expected/files" ] && (cd "$case_dir/expected/files" && find . -type f ! -name .keep)
} | sort -u >"$expected_list"
(cd "$work" && find . -type f) | sort >"$actual_list"
if ! cmp -s "$expected_list" "$actual_list"; then
  report "the set of files differs (< expected, > actual)"
  diff "$expected_list" "$actual_list"
fi
while read -r file; do
  want=$case_dir/expected/files/$file
  [ -f "$want" ] || want=$case_dir/input/$file
  [ -f "$work/$file" ] || continue
  if ! cmp -s "$want" "$work/$file"; then
    report "$file differs (expected, then actual)"
    diff "$want" "$work/$file" | head -20
  fi
done <"$expected_list"

[ $failed -eq 0 ] && echo "case $name: ok"
exit $failed
