#!/usr/bin/env bash
# The layout check itself: it passes on the tree as it is, and fails, naming
# the fault, on a copy with an include the table forbids, a folder holding two
# targets, a link across the table, sources in a folder outside it, and tests
# in a folder that follows no folder of the table.
#
#   include_targets_test.sh SOURCE_ROOT
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/check_lib.sh"
root=$(realpath "$1")
check_script=$root/tests/layout/include_targets.sh
failures=0 checks=0
enter_scratch

copy_tree() {  # copy_tree DIR: the tracked files of the tree (or all outside build trees), without git
  mkdir -p "$1"
  if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$root" && git ls-files -z | tar --null -T - -cf -) | tar -xf - -C "$1"
  else
    (cd "$root" && tar --exclude='./build*' -cf - .) | tar -xf - -C "$1"
  fi
}
# expect_fault NAME PATTERN EDIT...: a fresh copy, edited by the command EDIT run
# inside it, fails the check with a line matching PATTERN.
expect_fault() {
  rm -rf tree && copy_tree tree
  (cd tree && eval "${*:3}")
  bash "$check_script" tree > out.txt
  local status=$?
  check "$1: refused (status $status)" [ "$status" -ne 0 ]
  check "$1: names the fault" grep -q -- "$2" out.txt
}

copy_tree tree
bash "$check_script" tree > out.txt
check "the tree as it is passes ($(tail -n 1 out.txt))" [ $? -eq 0 ]

expect_fault "an include upwards" "model/quad_model.cpp includes solve/landscape.h" \
  "printf '#include \"solve/landscape.h\"\n' >> model/quad_model.cpp"
expect_fault "an include between programs" "may not include tools/rnaqubo/" \
  "printf '#include \"tools/rnaqubo/usage_text.h\"\n' >> tools/rnaqubo-fold/main.cpp"
expect_fault "a second target in a folder" "solve/ defines 2 targets" \
  "printf 'add_executable(solve_tool main.cpp)\n' >> solve/CMakeLists.txt"
expect_fault "a link the table forbids" "formats/ links rnaqubo_solve" \
  "printf 'target_link_libraries(rnaqubo_formats PUBLIC rnaqubo_solve)\n' >> formats/CMakeLists.txt"
expect_fault "sources outside the table" "extra/ holds sources" \
  "mkdir extra && printf 'int x;\n' > extra/x.cpp"
expect_fault "tests of no folder" "tests/fold/ follows no folder" \
  "mkdir -p tests/fold && printf 'true\n' > tests/fold/x.sh"
expect_fault "tests of no program" "tests/tools/rnaqubo-draw/ follows no folder" \
  "mkdir -p tests/tools/rnaqubo-draw && printf 'true\n' > tests/tools/rnaqubo-draw/x.sh"

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
