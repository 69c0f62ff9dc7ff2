# Helpers shared by the benchmark scripts under bench/. Source it from bash:
#   . "$(dirname "$0")/lib.sh"
# Every script builds in the one benchmark build directory (bench_build), times
# every command through the one timing function (bench_measure) and takes the
# one median (bench_median). Times are seconds with microsecond resolution
# (bash's EPOCHREALTIME), so runs of a few milliseconds still compare; peak
# memory and CPU times come from /usr/bin/time.

bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# bench_build TARGET...: configures the benchmark build directory
# ($bench_root/build-bench: Release, with the Python module), builds TARGETs
# there and sets build to its path.
bench_build() {
  build=$bench_root/build-bench
  cmake -S "$bench_root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DRNAQUBO_PYTHON=ON >/dev/null
  cmake --build "$build" -j2 --target "$@" >/dev/null
}

# bench_measure OUT COMMAND...: runs COMMAND once with its standard output sent
# to OUT (a new file, or /dev/null) and prints "seconds kilobytes user system":
# the wall time from before the shell opens OUT to the command's end, the
# command's peak resident memory, and its user and system CPU seconds. Returns
# the command's exit status (a failed run prints nothing on stdout). Every
# compared command goes through this one path, so the fork, exec and open
# costs are the same for all of them.
bench_measure() {
  local out=$1
  shift
  local usage_file start end status
  usage_file=$(mktemp)
  start=${EPOCHREALTIME/[.,]/}
  /usr/bin/time -f '%M %U %S' -o "$usage_file" "$@" >"$out" && status=0 || status=$?
  end=${EPOCHREALTIME/[.,]/}
  if [ "$status" -eq 0 ]; then
    tail -n 1 "$usage_file" | awk -v us=$((end - start)) '{ printf "%.6f %d %.2f %.2f\n", us / 1e6, $1, $2, $3 }'
  fi
  rm -f "$usage_file"
  return "$status"
}

# bench_median: the median of the numbers on stdin, one a line (the mean of the
# two middle values for an even count). Prints nothing for empty input.
bench_median() {
  sort -g | awk '{ v[NR] = $1 } END {
    if (NR == 0) exit
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# bench_range: "min max" of the numbers on stdin, one a line.
bench_range() {
  sort -g | awk 'NR == 1 { low = $1 } { high = $1 } END { if (NR) print low, high }'
}

# bench_spread_percent A B...: how far apart the figures are, in percent of the
# smallest: 100 * (max - min) / min. Prints "inf" when the smallest is not
# positive, since no ratio against it means anything.
bench_spread_percent() {
  printf '%s\n' "$@" | awk 'NR == 1 { low = $1; high = $1 }
    { if ($1 < low) low = $1; if ($1 > high) high = $1 }
    END { if (low <= 0) print "inf"; else printf "%.1f\n", 100 * (high - low) / low }'
}

# bench_within_tolerance SPREAD TOLERANCE: succeeds when a spread printed by
# bench_spread_percent is at most TOLERANCE percent.
bench_within_tolerance() {
  [ "$1" != inf ] && awk -v s="$1" -v t="$2" 'BEGIN { exit !(s <= t) }'
}

# bench_can_drop_caches: succeeds when this process may drop the page cache.
bench_can_drop_caches() {
  [ -w /proc/sys/vm/drop_caches ]
}

# bench_flush DROP: writes every dirty page out and, with DROP=1, drops the
# clean page cache too (fails where that is not permitted).
bench_flush() {
  sync
  if [ "$1" = 1 ]; then
    echo 1 >/proc/sys/vm/drop_caches
  fi
}

# bench_free_bytes DIR: bytes available to this user on the file system of DIR.
bench_free_bytes() {
  df --output=avail -B1 "$1" | tail -n 1 | tr -d ' '
}
