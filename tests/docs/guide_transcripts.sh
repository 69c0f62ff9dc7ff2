#!/usr/bin/env bash
# Replays the command transcripts of the README's guide and compares what each
# command prints (standard output and error together) with the lines shown.
#
# A transcript is a fenced block after a marker <!-- transcript: NAME -->. Its
# lines starting "$ " are commands, run in order by one shell in a scratch copy
# of examples/ and workflow/, with build/ pointing at the build directory; the
# lines up to the next command are that command's output. A line "..." stands
# for any number of lines (output that varies, such as snakemake's progress).
#
#   guide_transcripts.sh SOURCE_DIR BUILD_DIR [NAME...]   (no NAME: every transcript)
set -u
source_dir=$(realpath "$1") build_dir=$(realpath "$2")
shift 2
wanted=" $* "
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$source_dir/README.md" "$work" "$wanted" <<'PY' || exit 1
import pathlib, re, sys
readme, work, wanted = sys.argv[1], pathlib.Path(sys.argv[2]), sys.argv[3]
lines = pathlib.Path(readme).read_text().splitlines()
k, found = 0, 0
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
    if wanted.strip() and f" {name} " not in wanted:
        continue
    found += 1
    steps, block = [], lines[start:k]
    for line in block:
        if line.startswith("$ "):
            steps.append([line[2:], []])
        elif steps:
            steps[-1][1].append(line)
        else:
            sys.exit(f"{readme}: transcript {name} does not start with a command")
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
if found == 0:
    sys.exit(f"{readme}: no transcript found")
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
[ "$failures" -eq 0 ]
