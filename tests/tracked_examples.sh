#!/usr/bin/env bash
# Prints, one per line, the bundled files of ROOT/examples whose names match
# PATTERN (default '*'): the files the repository tracks, never what a run left
# there (the Quick start writes its Q files into examples/). In a tree that is
# not a git checkout, the files that match less the tools' own outputs.
#
#   tracked_examples.sh ROOT [PATTERN]
set -u
root=${1:?usage: tracked_examples.sh ROOT [PATTERN]}
pattern=${2:-*}
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git -C "$root" ls-files -z -- "examples/$pattern" | while IFS= read -r -d '' file; do
    [[ $file == examples/*/* ]] || printf '%s\n' "$root/$file"
  done
else
  for file in "$root"/examples/$pattern; do
    case $(basename "$file") in Q_* | dot_paren.txt | trna.txt) continue ;; esac
    [ -f "$file" ] && printf '%s\n' "$file"
  done
fi
