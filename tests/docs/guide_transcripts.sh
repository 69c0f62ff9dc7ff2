#!/usr/bin/env bash
# Replays the command transcripts of the guide (README.md and its chapters in
# docs/guide/) and compares what each command prints (standard output and
# error together) with the lines shown.
#
# A transcript is a fenced block after a marker <!-- transcript: NAME -->. Its
# lines starting "$ " are commands, run in order by one shell in a scratch copy
# of examples/ and workflow/, with build/ pointing at the build directory; the
# lines up to the next command are that command's output. A line "..." stands
# for any number of lines (output that varies, such as snakemake's progress).
#
# Each test replays one group of transcripts, the ones its tools and packages
# run. Every transcript of the pages belongs to exactly one group below, and
# every name below is a transcript of the pages: a transcript no test replays,
# or one lost in a move, fails every group.
#
#   guide_transcripts.sh SOURCE_DIR BUILD_DIR GROUP
set -u
source_dir=$(realpath "$1") build_dir=$(realpath "$2")
group=${3:?usage: guide_transcripts.sh SOURCE_DIR BUILD_DIR GROUP}
groups='sequences: getting_sequences_in split stockholm stockholm_letter front_seq
fold: landscape_subopt landscape_reduce landscape_encode landscape_ensemble landscape_dot_plot landscape_picture front_anneal
python: stockholm_python landscape_python front_python
collection: folding_a_collection front_workflow
solvers: instance_files benchmarking_a_solver'
. "$(dirname "$0")/../docs/doc_blocks.sh"
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

# shellcheck disable=SC2086
/usr/bin/python3 - "$source_dir" "$work" "$group" "$groups" $doc_pages <<'PY' || exit 1
import pathlib, re, sys
source, work, group, table = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), sys.argv[3], sys.argv[4]
pages = sys.argv[5:]
group_of = {}
for line in table.splitlines():
    name, members = line.split(":")
    for member in members.split():
        group_of[member] = name
if group not in group_of.values():
    sys.exit(f"unknown group {group}: the groups are {' '.join(sorted(set(group_of.values())))}")
found, problems = {}, []
for page in pages:
    lines = (source / page).read_text().splitlines()
    k = 0
    while k < len(lines):
        marker = re.fullmatch(r"<!-- transcript: (\S+) -->", lines[k])
        k += 1
        if not marker:
            continue
        name = marker.group(1)
        while k < len(lines) and not lines[k].startswith("```"):
            k += 1
        start = k + 1
        k = start
        while k < len(lines) and not lines[k].startswith("```"):
            k += 1
        if name in found:
            problems.append(f"{page}: transcript {name} is also in {found[name][0]}")
            continue
        found[name] = (page, lines[start:k])
        if name not in group_of:
            problems.append(f"{page}: transcript {name} is in no group of guide_transcripts.sh: no test replays it")
for name in group_of:
    if name not in found:
        problems.append(f"transcript {name} (group {group_of[name]}) is on no page of the guide")
if problems:
    sys.exit("FAIL: " + "\nFAIL: ".join(problems))
for name, (page, block) in found.items():
    if group_of[name] != group:
        continue
    steps = []
    for line in block:
        if line.startswith("$ "):
            steps.append([line[2:], []])
        elif steps:
            steps[-1][1].append(line)
        else:
            sys.exit(f"{page}: transcript {name} does not start with a command")
    if not steps:
        sys.exit(f"{page}: transcript {name} holds no command")
    directory = work / name
    directory.mkdir()
    script = ["set -u"]
    for index, (command, expected) in enumerate(steps):
        (directory / f"expected_{index}").write_text("".join(l + "\n" for l in expected))
        (directory / f"command_{index}").write_text(command + "\n")
        script.append(f"{{ {command}\n}} > {directory}/actual_{index} 2>&1 < /dev/null"
                      f"; echo $? > {directory}/status_{index}")
    (directory / "script.sh").write_text("\n".join(script) + "\n")
    (directory / "steps").write_text(str(len(steps)))
    print(f"{name}: {len(steps)} commands from {page}")
PY

failures=0 checks=0
for directory in "$work"/*/; do
  name=$(basename "$directory")
  scratch=$work/scratch_$name
  mkdir -p "$scratch/examples" && cp -r "$source_dir/workflow" "$scratch/" &&
    bash "$source_dir/tests/tracked_examples.sh" "$source_dir" | xargs -d '\n' cp -t "$scratch/examples" &&
    ln -s "$build_dir" "$scratch/build" || exit 1
  (cd "$scratch" && bash "$directory/script.sh")
  steps=$(cat "$directory/steps")
  for ((index = 0; index < steps; index++)); do
    checks=$((checks + 1))
    if ! /usr/bin/python3 - "$directory" "$index" <<'PY'
import pathlib, re, sys
directory, index = pathlib.Path(sys.argv[1]), sys.argv[2]
expected = (directory / f"expected_{index}").read_text().splitlines()
actual = (directory / f"actual_{index}").read_text()
status = int((directory / f"status_{index}").read_text())
pattern = "".join(r"(?:.*\n)*" if line == "..." else re.escape(line) + r"\n" for line in expected)
if not actual.endswith("\n") and actual:
    actual += "\n"
if status != 0 or not re.fullmatch(pattern, actual):
    command = (directory / f"command_{index}").read_text().strip()
    print(f"$ {command}\nexited with {status}; printed:\n{actual}expected:")
    print("\n".join(expected))
    sys.exit(1)
PY
    then
      echo "FAIL: transcript $name, command $((index + 1))"
      failures=$((failures + 1))
    fi
  done
done
echo "$((checks - failures)) passed, $failures failed"
[ "$checks" -gt 0 ] || { echo "FAIL: group $group replayed no command"; exit 1; }
[ "$failures" -eq 0 ]
