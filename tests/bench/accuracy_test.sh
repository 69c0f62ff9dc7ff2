#!/usr/bin/env bash
# bench/accuracy's helpers on tiny inputs worked out by hand: the choice of
# sequences (bases only, then a reference with a pair) and the summary of the
# workflow's tables (counts, means, medians, certified optima, knotted pairs, a
# family with nothing to fold).
#
#   accuracy_test.sh SOURCE_DIR
set -u
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/../check_lib.sh"
helper=$(realpath "$1")/bench/accuracy.py
python=/usr/bin/python3
enter_scratch
failures=0 checks=0

printf '# STOCKHOLM 1.0\nx GGAAAcc\ny GGNAACC\n#=GR y SS <<...>>\nz GGAXACC\nw GGAAAUt\n#=GC SS_cons <<...>>\n//\n' > family.sto
check "bases only" cmp -s <("$python" "$helper" letters family.sto) \
  <(printf '# STOCKHOLM 1.0\nx GGAAAcc\nw GGAAAUt\n#=GC SS_cons <<...>>\n//\n')
printf '>x\nGGAAACC\n((...))\n>w\nGGAAAUU\n.......\n' > probe.dbn
check "a reference with a pair" cmp -s <("$python" "$helper" paired family.sto probe.dbn) \
  <(printf '# STOCKHOLM 1.0\nx GGAAAcc\n#=GC SS_cons <<...>>\n//\n')
check "rows counted" test "$("$python" "$helper" rows family.sto)" = 4

head='name\tlength\tmin_distance\tadd_quads\tpenalty\tfeasible_pairs\tquads\tq_file_bytes\toptimum\tcertified\treference\tsensitivity\tppv\tf1\tstructure\n'
printf "$head"'a\t10\t4\t1\t-200\t1\t1\t1\t-5\tyes\tyes\t1.0000\t0.5000\t0.6667\t.\nb\t20\t4\t1\t-200\t1\t1\t1\t-5\tyes\tyes\t0.0000\t0.0000\t0.0000\t.\nc\t30\t4\t1\t-200\t1\t1\t1\t-5\tno\tyes\t0.5000\t1.0000\t0.6667\t.\nd\t12\t2\t0\t-200\t1\t1\t1\t-5\tyes\tyes\t0.2500\t0.2500\t0.2500\t.\n' > table.tsv
printf '>a\nGGGAAACCC\n(((...)))\n>b\nGGAACC\n([..)]\n' > references.dbn
check "the summary" cmp -s <("$python" "$helper" summarise fam=table.tsv:references.dbn none=:) <(printf '%s\n' \
  'family	min_distance	add_quads	penalty	sequences	mean_length	median_f1	mean_f1	mean_sensitivity	mean_ppv	certified	knotted_reference_pairs' \
  'fam	2	0	-200	1	12.0	0.2500	0.2500	0.2500	0.2500	1	1/5' \
  'fam	4	1	-200	3	20.0	0.6667	0.4445	0.5000	0.5000	2	1/5' \
  'none	2	0	-200	0	NA	NA	NA	NA	NA	0	0/0' \
  'none	4	1	-200	0	NA	NA	NA	NA	NA	0	0/0')
printf "$head"'a\t10\t4\t1\t-200\t1\t1\t1\t-5\tyes\tno\tNA\tNA\tNA\t.\n' > unscored.tsv
check "a table without references is refused" eval '! "$python" "$helper" summarise fam=unscored.tsv:references.dbn > /dev/null 2>&1'

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
