#!/usr/bin/env bash
# Checks that includes between folders point one way: a source file may include
# headers of its own folder and of folders on a lower floor, never of its own
# floor's other rooms or of a floor above. The floors are read from the table
# between the markers "<!-- floors:" and "-->" in docs/architecture.md, one line
# per floor from the ground up, "floor: folder folder ...".
#
#   include_layers.sh SOURCE_ROOT
set -u
root=${1:?usage: include_layers.sh SOURCE_ROOT}
doc=$root/docs/architecture.md
[[ -f $doc ]] || { echo "FAIL: $doc is missing"; exit 1; }

declare -A floor_of
floor=0
while IFS= read -r line; do
  [[ $line =~ ^[[:space:]]*[0-9]+:[[:space:]]*(.*)$ ]] || continue
  for folder in ${BASH_REMATCH[1]}; do floor_of[$folder]=$floor; done
  floor=$((floor + 1))
done < <(sed -n '/<!-- floors:/,/-->/p' "$doc")
(( ${#floor_of[@]} > 0 )) || { echo "FAIL: no floors found in $doc"; exit 1; }

failures=0
checked=0
cd "$root" || exit 1
# The tracked sources (a checkout), or every source outside tests/ and build
# trees (an unpacked release).
list_sources() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files "$@"
  else
    local patterns=()
    for pattern in "$@"; do patterns+=(-o -name "$pattern"); done
    find . -path ./tests -prune -o -path './build*' -prune -o -type f \( "${patterns[@]:1}" \) -print |
      sed 's|^\./||'
  fi
}
# Every folder that holds sources must be on a floor.
for folder in $(list_sources '*.cpp' '*.h' '*.h.in' | grep -v '^tests/' | cut -d/ -f1 | sort -u); do
  if [[ -z ${floor_of[$folder]+x} ]]; then
    echo "FAIL: folder $folder/ holds sources but is on no floor of docs/architecture.md"
    failures=$((failures + 1))
  fi
done
while IFS= read -r file; do
  from=${file%%/*}
  [[ -n ${floor_of[$from]+x} ]] || continue
  while IFS= read -r included; do
    to=${included%%/*}
    [[ $to == "$from" || -z ${floor_of[$to]+x} ]] && continue
    checked=$((checked + 1))
    if (( floor_of[$to] >= floor_of[$from] )); then
      echo "FAIL: $file includes $included: $to/ is on floor ${floor_of[$to]}, $from/ on floor ${floor_of[$from]}"
      failures=$((failures + 1))
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(list_sources '*.cpp' '*.h' | grep -v '^tests/')
if (( checked == 0 )); then
  echo "FAIL: no include between folders was found: the scan is broken"
  exit 1
fi
if (( failures > 0 )); then
  echo "$failures include(s) point the wrong way"
  exit 1
fi
echo "include layers: $checked includes between folders, all downwards"
