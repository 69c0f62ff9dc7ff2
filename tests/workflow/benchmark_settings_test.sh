#!/usr/bin/env bash
# The benchmark workflow refuses, before any run, a time limit that is not a
# finite number above 0 and counts that are not whole numbers: snakemake fails
# with a message naming the key and the value. Dry runs only: a refused
# configuration needs no solver, and the accepted one is only planned.
#
#   benchmark_settings_test.sh SOURCE_DIR
set -u
source_dir=$(realpath "$1")
command -v snakemake > /dev/null || { echo "SKIP: snakemake is not installed"; exit 77; }
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

plan() {  # KEY VALUE: a dry run with KEY: VALUE in the configuration
  cat > config.yaml <<YAML
instances:
  - {name: g4c4, file: $source_dir/examples/ggggcccc.txt, min_distance: 0, add_quads: 1, penalty: -200}
solvers:
  exact:
    command: "{rnaqubo_fold} --instance {lp} | sed -n 's/^instance quads://p' > {answer}"
$1: $2
YAML
  snakemake -s "$source_dir/workflow/benchmark.smk" --configfile config.yaml -n > snakemake.log 2>&1
}

plan seconds 2.5 || fail "a valid configuration is refused: $(tail -n 5 snakemake.log)"
# key | YAML value | the value as the message shows it
while IFS='|' read -r key value shown; do
  plan "$key" "$value" && { fail "$key: $value accepted"; continue; }
  grep -qF "'$key' must be a" snakemake.log && grep -qF "not $shown" snakemake.log ||
    fail "$key: $value: no message naming it: $(grep -m 3 -i error snakemake.log)"
done <<'TABLE'
seconds|.nan|nan
seconds|.inf|inf
seconds|-.inf|-inf
seconds|0|0
seconds|-3|-3
seconds|ten|'ten'
seconds|true|True
repeats|0|0
repeats|2.5|2.5
repeats|many|'many'
first_seed|1.5|1.5
TABLE

[ "$failures" -eq 0 ] && echo "benchmark settings: all checks passed"
exit $((failures > 0))
