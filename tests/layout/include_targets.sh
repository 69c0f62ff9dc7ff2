#!/usr/bin/env bash
# Checks that every folder of sources is one target and that includes between
# targets go only where the table allows. The table sits in docs/architecture.md
# between "<!-- targets:" and "-->", one line per folder:
#   FOLDER TARGET: FOLDER FOLDER ...   (the folders it may include)
# Fails on a source outside the table's folders, on a folder whose
# CMakeLists.txt defines no target or more than one or another than the table
# names, on an include of a folder the table does not allow, and on a link to a
# project library of such a folder, and on tests in a folder of tests/ that
# follows no folder of the table.
#
#   include_targets.sh SOURCE_ROOT
set -u
root=${1:?usage: include_targets.sh SOURCE_ROOT}
doc=$root/docs/architecture.md
[[ -f $doc ]] || { echo "FAIL: $doc is missing"; exit 1; }

declare -A target_of allowed folder_of_target
while IFS= read -r line; do
  [[ $line =~ ^[[:space:]]*([a-z0-9_/-]+)[[:space:]]+([A-Za-z0-9_-]+):(.*)$ ]] || continue
  target_of[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
  allowed[${BASH_REMATCH[1]}]=" ${BASH_REMATCH[3]} "
  folder_of_target[${BASH_REMATCH[2]}]=${BASH_REMATCH[1]}
done < <(sed -n '/<!-- targets:/,/-->/p' "$doc")
(( ${#target_of[@]} > 0 )) || { echo "FAIL: no targets found in $doc"; exit 1; }

failures=0 checked=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cd "$root" || exit 1
# The tracked sources (a checkout), or every source outside tests/ and build
# trees (an unpacked release).
list_sources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files "$@" | grep -v '^tests/'
  else
    local patterns=()
    for pattern in "$@"; do patterns+=(-o -name "$pattern"); done
    find . -path ./tests -prune -o -path './build*' -prune -o -type f \( "${patterns[@]:1}" \) -print |
      sed 's|^\./||'
  fi
}

# Each folder of the table defines exactly its one target.
for folder in "${!target_of[@]}"; do
  cmake_file=$folder/CMakeLists.txt
  if [[ ! -f $cmake_file ]]; then
    fail "$folder/ has no CMakeLists.txt: the table says it is ${target_of[$folder]}"
    continue
  fi
  defined=$(sed -n 's/^[[:space:]]*\(add_library\|add_executable\|pybind11_add_module\)([[:space:]]*\([A-Za-z0-9_-]*\).*/\2/p' "$cmake_file")
  count=$(printf '%s' "$defined" | grep -c .)
  if (( count != 1 )); then
    fail "$folder/ defines $count targets ($(echo $defined)): a folder is one library or one program"
  elif [[ $defined != "${target_of[$folder]}" ]]; then
    fail "$folder/ defines $defined, but the table says ${target_of[$folder]}"
  fi
  # Its links to the project's libraries stay within what it may include.
  for linked in $(sed -n '/target_link_libraries(/,/)/p' "$cmake_file" | grep -o 'rnaqubo_[a-z_]*'); do
    to=${folder_of_target[$linked]-}
    [[ -z $to || $to == "$folder" ]] && continue
    [[ ${allowed[$folder]} == *" $to "* ]] || fail "$folder/ links $linked, but may not use $to/"
  done
done

# Every source lies directly in a folder of the table.
while IFS= read -r file; do
  folder=${file%/*}; [[ $file == */* ]] || folder=.
  [[ -n ${target_of[$folder]+x} ]] || fail "$file: $folder/ holds sources but is no target of docs/architecture.md"
done < <(list_sources '*.cpp' '*.h' '*.h.in')

# Every include of another folder is one the table allows.
while IFS=: read -r file included; do
  from=${file%/*}
  [[ -n ${target_of[$from]+x} ]] || continue
  included=${included#*\"}
  included=${included%%\"*}
  to=${included%/*}; [[ $included == */* ]] || to=.
  [[ $to == "$from" || -z ${target_of[$to]+x} ]] && continue
  checked=$((checked + 1))
  [[ ${allowed[$from]} == *" $to "* ]] ||
    fail "$file includes $included: ${target_of[$from]} may not include $to/ (${target_of[$to]})"
done < <(list_sources '*.cpp' '*.h' | tr '\n' '\0' |
           xargs -0 grep -H '^[[:space:]]*#[[:space:]]*include[[:space:]]*"')
# Tests follow the folders: tests/<folder>/ tests the target of <folder>/;
# beside them only the folders of what is no target (docs, bench, workflow,
# the layout check and the fuzz targets), and tests/tools/ itself for what all
# the tools share.
test_homes=" docs bench workflow layout fuzz tools "
while IFS= read -r file; do
  rest=${file#tests/}
  [[ $rest == */* ]] || continue
  home=${rest%%/*}
  if [[ $home == tools && ${rest#tools/} == */* ]]; then
    home=${rest#tools/}
    home=tools/${home%%/*}
  fi
  [[ -n ${target_of[$home]+x} || $test_homes == *" $home "* ]] ||
    fail "$file: tests/$home/ follows no folder of docs/architecture.md"
done < <(if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then git ls-files tests; else find tests -type f; fi)
if (( checked == 0 )); then
  echo "FAIL: no include between folders was found: the scan is broken"
  exit 1
fi
if (( failures > 0 )); then
  echo "$failures fault(s) in the layout"
  exit 1
fi
echo "layout: ${#target_of[@]} folders, one target each; $checked includes between them, all allowed"
