# Sourced by doc_examples.sh, readme_python.sh and guide_transcripts.sh: pulls
# the marked example blocks out of the guide's pages and the manual page and
# compares them with files written by real runs.
#
# A marker names a kind and a "run:file" name:
#   markdown:    <!-- output: gggccc:Q_4_gggccc.txt -->   then a ``` fenced block
#   manual page: .\" output: gggccc:Q_4_gggccc.txt        then .nf ... .fi
# Kinds: output (the whole file), head (the first lines), within (a run of
# consecutive lines anywhere), snippet (source code, used by the tests).
# Leading "$ command" lines of a block are shown commands, not output.

# Runs that the tests know how to produce; a marker naming any other run is a mistake.
doc_known_runs="gggccc ggggcccc srp_ecoli python trna_fold trna_solution"

# The guide's pages, from the top of the source tree: the front page and its
# chapters. The tests read the marked blocks of every one of them, and
# doc_links.sh fails on a chapter in docs/guide/ that is not listed here.
doc_pages="README.md docs/guide/sequences.md docs/guide/model.md docs/guide/python.md
  docs/guide/structures.md docs/guide/landscape.md docs/guide/collections.md
  docs/guide/benchmarking.md docs/guide/performance.md"

# extract_blocks md|man DOC DEST: writes each block to DEST/block_<k> and lists
# them in DEST/index as "kind name block_<k>" lines.
extract_blocks() {
  local format=$1 doc=$2 dest=$3
  mkdir -p "$dest" && : > "$dest/index"
  awk -v format="$format" -v dest="$dest" -v doc="$doc" '
    function problem(text) { printf "%s:%d: %s\n", doc, NR, text > "/dev/stderr"; bad = 1; exit 1 }
    function open_block() {
      count++; file = dest "/block_" count; printf "" > file
      print kind, name, "block_" count >> (dest "/index"); lines = 0; state = 2
    }
    function content(line) {
      if (lines == 0 && kind != "snippet" && line ~ /^\$ /) return
      print line > file; lines++
    }
    function close_block() {
      if (lines == 0) problem("empty block for " name)
      close(file); state = 0
    }
    state == 0 && format == "md" && /^<!-- (output|head|within|snippet): [^ ]+ -->$/ ||
    state == 0 && format == "man" && /^\.\\" (output|head|within|snippet): [^ ]+$/ {
      kind = $2; sub(/:$/, "", kind); name = $3; state = 1; next
    }
    state == 1 && format == "md" {
      if (/^[ \t]*$/) next
      if (/^```/) { open_block(); next }
      problem("marker for " name " is not followed by a code block")
    }
    state == 1 && format == "man" {
      if (/^\./) next
      open_block()
    }
    state == 2 && format == "md" {
      if (/^```/) close_block(); else content($0)
      next
    }
    state == 2 && format == "man" {
      if (/^\.fi/) { close_block(); next }
      if (/^[.'"'"']/) problem("request inside the example block for " name)
      line = $0; gsub(/\\-/, "-", line); gsub(/\\&/, "", line); gsub(/\\e/, "\\", line)
      content(line)
      next
    }
    END { if (!bad && state != 0) problem("block for " name " does not end"); exit bad }
  ' "$doc"
}

# extract_guide_blocks SOURCE_DIR DEST: the blocks of every page of doc_pages,
# each page's in DEST/<page name>/, listed together in DEST/index as
# "kind name <page name>/block_<k> page" lines.
extract_guide_blocks() {
  local source=$1 dest=$2 page folder failed=0
  mkdir -p "$dest" && : > "$dest/index"
  for page in $doc_pages; do
    folder=$(basename "$page" .md)
    if [ ! -f "$source/$page" ]; then
      echo "FAIL: the guide's page $page is missing"; failed=1; continue
    fi
    extract_blocks md "$source/$page" "$dest/$folder" || { failed=1; continue; }
    awk -v folder="$folder" -v page="$page" '{ print $1, $2, folder "/" $3, page }' \
      "$dest/$folder/index" >> "$dest/index"
  done
  return "$failed"
}

# count_blocks DEST PAGE KIND RUN...: the number of blocks of that kind (any
# kind but snippet for "-") on PAGE ("-" for any page) naming one of the runs.
count_blocks() {
  local dest=$1 page=$2 kind=$3
  shift 3
  awk -v page="$page" -v kind="$kind" -v runs=" $* " '
    { run = $2; sub(/:.*/, "", run) }
    (page == "-" || $4 == page) && (kind == "-" ? $1 != "snippet" : $1 == kind) &&
      index(runs, " " run " ") { n++ }
    END { print n + 0 }' "$dest/index"
}

# block_of DEST KIND NAME: prints the path of the block of that kind and name.
block_of() {
  awk -v kind="$2" -v name="$3" -v dest="$1" \
    '$1 == kind && $2 == name { print dest "/" $3; found = 1; exit } END { exit !found }' "$1/index"
}

# check_blocks DEST WORKDIR RUN...: compares every output/head/within block of
# the given runs with WORKDIR/<run>/<file>. Prints one line per failure, sets
# checked_blocks to the number of blocks compared and returns the failure count.
check_blocks() {
  local dest=$1 work=$2
  shift 2
  local runs=" $* " kind name block run file actual lines first n found errors=0
  checked_blocks=0
  while read -r kind name block _; do
    [ "$kind" = snippet ] && continue
    run=${name%%:*} file=${name#*:}
    case " $doc_known_runs " in
      *" $run "*) ;;
      *) echo "FAIL: block $name names the unknown run '$run'"; errors=$((errors + 1)); continue ;;
    esac
    case $runs in *" $run "*) ;; *) continue ;; esac
    actual=$work/$run/$file
    if [ ! -f "$actual" ]; then
      echo "FAIL: block $name: the run wrote no $file"; errors=$((errors + 1)); continue
    fi
    checked_blocks=$((checked_blocks + 1))
    # awk 1 ends the last line, as the block does (the Q file has no final line end).
    awk 1 "$actual" > "$dest/actual"
    lines=$(wc -l < "$dest/$block")
    case $kind in
      output) cmp -s "$dest/$block" "$dest/actual" ;;
      head) head -n "$lines" "$dest/actual" | cmp -s - "$dest/$block" ;;
      within)
        first=$(head -n 1 "$dest/$block") found=1
        while IFS=: read -r n _; do
          if sed -n "${n},$((n + lines - 1))p" "$dest/actual" | cmp -s - "$dest/$block"; then
            found=0; break
          fi
        done < <(grep -n -x -F -- "$first" "$dest/actual")
        [ "$found" -eq 0 ] ;;
    esac || {
      if [ "$kind" = within ]; then
        echo "FAIL: the lines of the within block $name are not consecutive lines of the real $file:"
        cat "$dest/$block"
      else
        echo "FAIL: the $kind block $name does not match the real $file:"
        diff "$dest/$block" <(head -n "$lines" "$dest/actual") | head -n 20
      fi
      errors=$((errors + 1))
    }
  done < "$dest/index"
  return "$errors"
}

# run_tool WORKDIR RUN INPUT_FILE ARG...: copies the input into WORKDIR/RUN and
# runs the tool $exe there, stdout to "console". Returns non-zero, with a
# message, if the run fails or writes to stderr.
run_tool() {
  : "${exe:?run_tool needs exe, the tool under test}"
  local work=$1 run=$2 input=$3
  shift 3
  mkdir -p "$work/$run" && cp "$input" "$work/$run/" || return 1
  (cd "$work/$run" && "$exe" "$(basename "$input")" "$@" > console 2> stderr)
  local status=$?
  if [ "$status" -ne 0 ] || [ -s "$work/$run/stderr" ]; then
    echo "FAIL: run $run ($*) exited with $status: $(cat "$work/$run/stderr")"
    return 1
  fi
}

# write_sequence FILE LETTERS: a sequence file holding the letters of LETTERS.
write_sequence() {
  { echo "${#2}"; echo "$2" | fold -w 1; } > "$1"
}
