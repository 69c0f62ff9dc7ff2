#!/usr/bin/env bash
# The benchmark workflow end to end with snakemake -j 2: three instances (two
# FASTA records, one with a reference, and a file in rnaqubo's own format),
# the third reduced to its optima's variables, three real solvers (the
# annealer, CBC and GLPK on the MILP, deterministic, so run once, and
# rnaqubo-fold's optimum), a fourth that answers on seed 1 (leaving a process behind, which
# must be ended with it), outlives the time limit on seed 2 and fails on seed
# 3 in a pipeline whose last command succeeds, each run three times, and a
# fifth, deterministic, that states CBC's "stopped on time" with an empty
# answer and its compute time. runs.tsv and summary.tsv are compared byte for
# byte with tables worked out by hand, the wall times left out; the timed runs
# (under a lock that records any overlap) must never overlap; the report is
# opened in headless Chromium and checked with its PDFs (report_check.py); a
# second run must find nothing to do.
#
#   benchmark_workflow_test.sh SOURCE_DIR RNAQUBO_FOLD RNAQUBO_SEQ RNAQUBO_ANNEAL
set -u
source_dir=$(realpath "$1") fold=$(realpath "$2") seq_exe=$(realpath "$3") anneal=$(realpath "$4")
command -v snakemake > /dev/null || { echo "SKIP: snakemake is not installed"; exit 77; }
command -v cbc > /dev/null || { echo "SKIP: cbc is not installed"; exit 77; }
command -v glpsol > /dev/null || { echo "SKIP: glpsol is not installed"; exit 77; }
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A timed run that finds another one going records it.
cat > alone.sh <<'SH'
mkdir "$0.lock" 2> /dev/null || echo "overlap: $*" >> "$0.overlaps"
"$@"; status=$?
rmdir "$0.lock" 2> /dev/null
exit $status
SH
cat > config.yaml <<YAML
instances:
  - {name: hairpin_gc, file: $source_dir/examples/collection.fa, record: hairpin_gc,
     dbn: $source_dir/examples/collection.dbn, min_distance: 4, add_quads: 1, penalty: -200}
  - {name: alu, file: $source_dir/examples/collection.fa, record: hairpin_alu,
     dbn: $source_dir/examples/collection.dbn, min_distance: 4, add_quads: 1, penalty: -200}
  - {name: g4c4, file: $source_dir/examples/ggggcccc.txt, min_distance: 0, add_quads: 1, penalty: -200,
     reduce: 0}
solvers:
  anneal:
    command: "bash $work/alone.sh {rnaqubo_anneal} --sweeps 1000 --seed {seed} {qubo} {answer}"
  cbc:
    command: "bash $work/alone.sh bash $source_dir/workflow/solvers/cbc.sh {milp} {seconds} {answer}"
    deterministic: true
  glpk:
    command: "bash $work/alone.sh bash $source_dir/workflow/solvers/glpk.sh {milp} {seconds} {answer}"
    deterministic: true
  exact:
    command: "{rnaqubo_fold} --instance {lp} | sed -n 's/^instance quads://p' > {answer}"
  stopped:
    command: "printf 'Result - Stopped on time limit\\nUpper bound: 700.5\\n'; echo > {answer}; echo 0.5 > {compute}"
    deterministic: true
  moody:
    command: "case {seed} in 2) sleep 30 ;; 3) {rnaqubo_fold} --instance {milp}.missing | sed -n 's/^instance quads://p' > {answer} ;; *) (sleep 29.75 &); {rnaqubo_fold} --instance {milp} | sed -n 's/^instance quads://p' > {answer} ;; esac"
repeats: 3
first_seed: 1
seconds: 4
rnaqubo_fold: $fold
rnaqubo_seq: $seq_exe
rnaqubo_anneal: $anneal
YAML

run() { snakemake -s "$source_dir/workflow/benchmark.smk" --configfile config.yaml -j 2 "$@" > snakemake.log 2>&1; }
run || { fail "snakemake failed"; tail -n 30 snakemake.log; exit 1; }

# By hand: the optima are 295 (hairpin_gc, 15 variables, whose reference is
# its optimum: F1 1), 279 (hairpin_alu, 21 variables, no reference) and 131
# (GGGGCCCC: quads 3 5 7 of 9, the only ones kept at 0, renumbered 1 2 3); all
# certified. Every real solver reaches them on these small models; moody's
# seed 2 is ended at 4 s and seed 3's failed pipeline is no answer.
# CBC and GLPK prove each optimum; stopped's empty answer is worth 0, its F1 0 where
# there is a reference.
expected_runs=$'instance\tvariables\tsolver\tseed\tstatus\tvalue\toptimum\tratio\tcertified\tconflict_free\tf1'
expected_runs+=$'\tcompute_seconds\tproven\tbound\tabove_target\n'
for instance in "hairpin_gc 15 295 1.0000 0.0000" "alu 21 279 NA NA" "g4c4 3 131 NA NA"; do
  read -r name variables optimum f1 empty_f1 <<< "$instance"
  for solver in anneal cbc glpk exact stopped moody; do
    for seed in 1 2 3; do
      line="$name	$variables	$solver	$seed	ok	$optimum	$optimum	1.0000	yes	yes	$f1	NA	NA	NA	no"
      case $solver.$seed in cbc.1 | glpk.1)
        line="$name	$variables	$solver	$seed	ok	$optimum	$optimum	1.0000	yes	yes	$f1	NA	yes	NA	no" ;; esac
      [ "$solver.$seed" = moody.2 ] && line="$name	$variables	$solver	$seed	timeout	NA	$optimum	NA	yes	NA	NA	NA	NA	NA	NA"
      [ "$solver.$seed" = moody.3 ] && line="$name	$variables	$solver	$seed	failed	NA	$optimum	NA	yes	NA	NA	NA	NA	NA	NA"
      [ "$solver.$seed" = stopped.1 ] && line="$name	$variables	$solver	$seed	ok	0	$optimum	0.0000	yes	yes	$empty_f1	0.5000	no	700.5	no"
      case $solver.$seed in cbc.[23] | glpk.[23] | stopped.[23]) continue ;; esac
      expected_runs+="$line"$'\n'
    done
  done
done
got_runs=$(cut -f 1-4,6- results/benchmark/runs.tsv)
[ "$got_runs"$'\n' = "$expected_runs" ] || fail "runs.tsv differs:
$(diff <(printf '%s' "$expected_runs") <(printf '%s\n' "$got_runs"))"
pgrep -f "sleep 29.75" > /dev/null && fail "a solver's process outlived its run: $(pgrep -af 'sleep 29.75')"
# The timed-out runs ran to the limit, and no longer than a second past it.
awk -F'\t' '$6 == "timeout" && ($5 < 4 || $5 > 5) { bad = 1 } END { exit bad }' results/benchmark/runs.tsv ||
  fail "a timed-out run's time is not the limit: $(grep timeout results/benchmark/runs.tsv)"

expected_summary=$'instance\tvariables\tsolver\truns\tconflict_free\tp_s\tp_gap1\tbest_ratio\tmean_ratio\tmean_f1\n'
for instance in "hairpin_gc 15 1.0000 0.0000" "alu 21 NA NA" "g4c4 3 NA NA"; do
  read -r name variables f1 empty_f1 <<< "$instance"
  for solver in anneal cbc glpk exact; do
    runs=3
    [ "$solver" = cbc ] || [ "$solver" = glpk ] && runs=1
    expected_summary+="$name	$variables	$solver	$runs	1.0000	1.0000	1.0000	1.0000	1.0000	$f1"$'\n'
  done
  expected_summary+="$name	$variables	stopped	1	1.0000	0.0000	0.0000	0.0000	0.0000	$empty_f1"$'\n'
  expected_summary+="$name	$variables	moody	3	0.3333	0.3333	0.3333	1.0000	1.0000	$f1"$'\n'
done
got_summary=$(cut -f 1-9,12 results/benchmark/summary.tsv)
[ "$got_summary"$'\n' = "$expected_summary" ] || fail "summary.tsv differs:
$(diff <(printf '%s' "$expected_summary") <(printf '%s\n' "$got_summary"))"
# TTS99 is tau where p_s is 1.
awk -F'\t' 'NR > 1 && $6 == "1.0000" && $10 != $11 { bad = 1 } END { exit bad }' results/benchmark/summary.tsv ||
  fail "TTS99 differs from tau at p_s = 1"

# stopped's TTS99 is inf, on its stated compute time, and its proof "no".
awk -F'\t' '$3 == "stopped" && ($11 != "inf" || $20 != "compute" || $29 != "no") { bad = 1 } END { exit bad }' \
  results/benchmark/summary.tsv || fail "stopped's summary: $(grep stopped results/benchmark/summary.tsv)"
[ -e alone.sh.overlaps ] && fail "timed runs overlapped: $(cat alone.sh.overlaps)"

# The reduced instance is answered in its own numbering, decoded in the model's.
[ "$(cat runs/benchmark/runs/g4c4/exact/1/answer.txt)" = " 1 2 3" ] ||
  fail "the reduced instance's exact answer: $(cat runs/benchmark/runs/g4c4/exact/1/answer.txt)"
grep -qx "quads: 3 5 7" runs/benchmark/runs/g4c4/cbc/1/decoded.txt || fail "CBC's reduced answer, decoded"
grep -qx "reduced: 3 of 9 variables; every conflict-free selection within 0 of 131 is kept with its value" \
  runs/benchmark/instances/g4c4/optimum.txt || fail "the reduced instance's optimum: $(cat runs/benchmark/instances/g4c4/optimum.txt)"

grep -q "<h3>g4c4 (8 bases, 3 variables, the model of 9 reduced at 0)</h3>" results/benchmark/report.html ||
  fail "the report does not say the reduced instance is reduced"

# The report in headless Chromium, as it parsed it: every figure drawn, no line
# joining two instances, stopped's two whole instances at inf; the PDFs.
grep -q "<script\|https\?://[^\"]*\.\(js\|css\|png\)" results/benchmark/report.html &&
  fail "the report loads something from outside"
if command -v chromium > /dev/null; then
  # Chromium writes its profile under HOME: a scratch one.
  HOME=$work chromium --headless --no-sandbox --disable-gpu --enable-logging=stderr --v=0 \
    --dump-dom "file://$work/results/benchmark/report.html" > dom.html 2> chromium.log ||
    fail "chromium failed: $(tail -n 3 chromium.log)"
  grep -i "uncaught\|CONSOLE(" chromium.log && fail "a script error in the report"
  /usr/bin/python3 "$source_dir/tests/workflow/report_check.py" dom.html results/benchmark/runs.tsv \
    results/benchmark/figures 2 stopped || fail "the report, as Chromium read it"
else
  echo "note: chromium is not installed: the report is not checked"
fi

run -n || fail "the dry run failed"
grep -q "Nothing to be done" snakemake.log || fail "a second run finds work: $(tail -n 5 snakemake.log)"

# Without its reference, hairpin_gc is made again and its answers go unscored.
sed -i '0,/^     dbn: /s|^     dbn: [^,]*, |     |' config.yaml
run || { fail "the run without hairpin_gc's reference failed"; tail -n 30 snakemake.log; }
awk -F'\t' '$1 == "hairpin_gc" && $12 != "NA" { bad = 1 } END { exit bad }' results/benchmark/runs.tsv ||
  fail "hairpin_gc is still scored against its old reference: $(grep hairpin_gc results/benchmark/runs.tsv | head -n 3)"

[ "$failures" -eq 0 ] && echo "benchmark workflow: all checks passed"
exit $((failures > 0))
