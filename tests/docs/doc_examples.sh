#!/usr/bin/env bash
# The files and console output shown in the guide (README.md and the chapters
# in docs/guide/) and the manual page are the ones the tools really write.
# usage: doc_examples.sh RNAQUBO SOURCE_DIR [RNAQUBO_FOLD]
set -u
exe=$1 source=$2 fold=${3:-}
. "$(dirname "$0")/doc_blocks.sh"

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

write_sequence "$work/gggccc.txt" GGGCCC
run_tool "$work" gggccc "$work/gggccc.txt" 6 0 1 -200 || exit 1
# The bundled file the guide names, which must hold GGGGCCCC.
[ "$(tail -n +2 "$source/examples/ggggcccc.txt" | tr -d '\n')" = GGGGCCCC ] ||
  { echo "FAIL: examples/ggggcccc.txt does not hold GGGGCCCC"; exit 1; }
run_tool "$work" ggggcccc "$source/examples/ggggcccc.txt" 8 0 1 -200 || exit 1
run_tool "$work" srp_ecoli "$source/examples/srp_ecoli.txt" 113 4 1 -200 || exit 1
runs="gggccc ggggcccc srp_ecoli"

# rnaqubo-fold on the bundled tRNA: the optimum with its picture, and the
# accepted cloverleaf given as a solver's answer. The committed picture is the
# one the run draws.
failures=0
if [ -n "$fold" ]; then
  trna=$source/examples/trna_phe_yeast
  mkdir -p "$work/trna_fold" "$work/trna_solution" || exit 1
  cp "$trna.dbn" "$work/trna_fold/" && cp "$trna.dbn" "$work/trna_solution/" || exit 1
  echo 8 16 32 41 49 70 103 112 122 246 248 251 255 343 346 351 355 > "$work/trna_solution/cloverleaf.txt"
  exe=$fold run_tool "$work" trna_fold "$trna.txt" 76 4 1 -200 --reference trna_phe_yeast.dbn \
    --svg trna_phe_yeast.svg || exit 1
  exe=$fold run_tool "$work" trna_solution "$trna.txt" 76 4 1 -200 --solution cloverleaf.txt \
    --reference trna_phe_yeast.dbn || exit 1
  runs="$runs trna_fold trna_solution"
  if ! cmp -s "$source/docs/trna_phe_yeast.svg" "$work/trna_fold/trna_phe_yeast.svg"; then
    echo "FAIL: docs/trna_phe_yeast.svg is not the picture rnaqubo-fold draws now"
    failures=$((failures + 1))
  fi
  # The guide's dot plot and landscape picture of the tRNA.
  for picture in "dot_plot --ensemble 10 --dot-plot" \
                 "landscape --subopt 5% --max-selections 20 --reduce 10% --out trna10 --landscape-plot"; do
    name=${picture%% *}
    mkdir -p "$work/trna_$name" && cp "$trna.dbn" "$work/trna_$name/" || exit 1
    # shellcheck disable=SC2086
    exe=$fold run_tool "$work" "trna_$name" "$trna.txt" 76 4 1 -200 --reference trna_phe_yeast.dbn \
      ${picture#* } "trna_phe_yeast_$name.svg" || exit 1
    if ! cmp -s "$source/docs/trna_phe_yeast_$name.svg" "$work/trna_$name/trna_phe_yeast_$name.svg"; then
      echo "FAIL: docs/trna_phe_yeast_$name.svg is not the picture rnaqubo-fold draws now"
      failures=$((failures + 1))
    fi
  done
  # The same optimum in 2D, when VARNA is there to draw it.
  if command -v java > /dev/null && [ -f "${RNAQUBO_VARNA_JAR:-/usr/share/java/varna.jar}" ]; then
    mkdir -p "$work/trna_2d" && cp "$trna.dbn" "$work/trna_2d/" || exit 1
    exe=$fold run_tool "$work" trna_2d "$trna.txt" 76 4 1 -200 --reference trna_phe_yeast.dbn \
      --layout 2d --draw trna_phe_yeast_2d.svg || exit 1
    if ! cmp -s "$source/docs/trna_phe_yeast_2d.svg" "$work/trna_2d/trna_phe_yeast_2d.svg"; then
      echo "FAIL: docs/trna_phe_yeast_2d.svg is not the picture rnaqubo-fold draws now"
      failures=$((failures + 1))
    fi
  else
    echo "note: java or VARNA is not installed: docs/trna_phe_yeast_2d.svg is not checked"
  fi
fi

# Every output, head and within block of the guide's pages is checked. The
# pages below are those that show these runs: each must still hold one, and
# so must the manual page, or a block lost in a move would go unnoticed.
extract_guide_blocks "$source" "$work/blocks_md" || failures=$((failures + 1))
# shellcheck disable=SC2086
check_blocks "$work/blocks_md" "$work" $runs
failures=$((failures + $?))
echo "checked $checked_blocks example blocks of the guide's pages"
for page in README.md docs/guide/model.md docs/guide/structures.md; do
  # shellcheck disable=SC2086
  if [ "$(count_blocks "$work/blocks_md" "$page" - $runs)" -eq 0 ]; then
    echo "FAIL: no example block found in $page"
    failures=$((failures + 1))
  fi
done
for run in $runs; do
  if [ "$(count_blocks "$work/blocks_md" - - "$run")" -eq 0 ]; then
    echo "FAIL: no page of the guide shows a file of the run $run"
    failures=$((failures + 1))
  fi
done

dest=$work/blocks_man
if extract_blocks man "$source/docs/rnaqubo.1" "$dest"; then
  # shellcheck disable=SC2086
  check_blocks "$dest" "$work" $runs
  failures=$((failures + $?))
  if [ "$checked_blocks" -eq 0 ]; then
    echo "FAIL: no example block found in docs/rnaqubo.1"
    failures=$((failures + 1))
  else
    echo "checked $checked_blocks example blocks of docs/rnaqubo.1"
  fi
else
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
