# Helpers shared by the benchmark scripts under bench/. Source it from bash:
#   . "$(dirname "$0")/lib.sh"
# Times are seconds with microsecond resolution (bash's EPOCHREALTIME), so runs
# of a few milliseconds still compare; peak memory comes from /usr/bin/time.

# bench_measure OUT COMMAND...: runs COMMAND once with its standard output sent
# to OUT (a new file, or /dev/null) and prints "seconds kilobytes": the wall time
# from before the shell opens OUT to the command's end, and the command's peak
# resident memory. Returns the command's exit status (a failed run prints
# nothing on stdout). Every compared command goes through this one path, so the
# fork, exec and open costs are the same for all of them.
bench_measure() {
  local out=$1
  shift
  local memory_file start end status
  memory_file=$(mktemp)
  start=${EPOCHREALTIME/[.,]/}
  /usr/bin/time -f '%M' -o "$memory_file" "$@" >"$out" && status=0 || status=$?
  end=${EPOCHREALTIME/[.,]/}
  if [ "$status" -eq 0 ]; then
    awk -v us=$((end - start)) -v kb="$(tail -n 1 "$memory_file")" \
      'BEGIN { printf "%.6f %d\n", us / 1e6, kb }'
  fi
  rm -f "$memory_file"
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
