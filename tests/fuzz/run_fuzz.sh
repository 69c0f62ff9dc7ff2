#!/usr/bin/env bash
# Builds the libFuzzer targets and fuzzes each for an equal share of the given
# total time in seconds (default 60), starting from a scratch copy of its seed
# corpus so that the committed corpus never grows. Exits non-zero if a target
# fails; the scratch directory with the logs and the crashing input is then kept.
#
#   bash tests/fuzz/run_fuzz.sh [seconds]
#
# RNAQUBO_FUZZ_BUILD_DIR names a build directory to reuse between runs.
set -u

targets=(reader arguments reference selection qfile letters)
total=${1:-60}
if ! [[ $total =~ ^[0-9]+$ ]] || (( total < ${#targets[@]} )); then
  echo "usage: $0 [seconds >= ${#targets[@]}]" >&2
  exit 2
fi
share=$(( total / ${#targets[@]} ))

if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ not found: fuzzing skipped"
  exit 0
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/rnaqubo-fuzz.XXXXXX")
keep_scratch=0
trap '(( keep_scratch )) || rm -rf "$scratch"' EXIT
build=${RNAQUBO_FUZZ_BUILD_DIR:-$scratch/build}

build_log=$scratch/build.log
if ! { cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ &&
       cmake --build "$build" -j2; } >"$build_log" 2>&1; then
  echo "fuzz build failed:"
  cat "$build_log"
  exit 1
fi

failed=0
for target in "${targets[@]}"; do
  corpus=$scratch/corpus-$target
  artifacts=$scratch/artifacts-$target
  log=$scratch/$target.log
  mkdir -p "$artifacts"
  cp -R "$here/corpus/$target" "$corpus"
  case $target in
    reader | qfile) max_len=8192 ;;  # past the 4096-byte blocks the readers read
    arguments) max_len=256 ;;
    *) max_len=4096 ;;
  esac
  if "$build/fuzz_$target" -max_total_time="$share" -max_len="$max_len" -timeout=10 \
       -rss_limit_mb=1024 -print_final_stats=1 -artifact_prefix="$artifacts/" \
       "$corpus" >"$log" 2>&1; then
    echo "fuzz_$target: ok, $(grep -m1 -o 'stat::number_of_executed_units: [0-9]*' "$log" |
                                 grep -o '[0-9]*$') inputs in ${share}s"
  else
    failed=1
    echo "fuzz_$target: FAILED"
    tail -n 60 "$log"
    for input in "$artifacts"/*; do
      [[ -f $input ]] || continue
      echo "input $input:"
      od -A d -c "$input" | head -n 40
    done
  fi
done

if (( failed )); then
  keep_scratch=1
  echo "logs and failing inputs kept in $scratch"
  exit 1
fi
exit 0
