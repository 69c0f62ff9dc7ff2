#!/usr/bin/env bash
# Every relative link and picture of the guide's pages (README.md and the
# chapters in docs/guide/) leads to a file of the repository, every "#anchor"
# to a heading of the page it names, and every chapter in docs/guide/ is a
# page the documentation tests read (doc_pages in doc_blocks.sh).
# In a git checkout "a file of the repository" is a tracked file; elsewhere
# (an exported tree) any file that exists.
#
#   doc_links.sh SOURCE_DIR
set -u
source_dir=$(realpath "$1")
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3) || { echo "SKIP: python3 is not available"; exit 77; }
. "$(dirname "$0")/doc_blocks.sh"

work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
if git -C "$source_dir" rev-parse --is-inside-work-tree > /dev/null 2>&1; then
  git -C "$source_dir" ls-files > "$work/files" || exit 1
else
  (cd "$source_dir" && find . -type f ! -path './build*' -printf '%P\n') > "$work/files" || exit 1
fi

# shellcheck disable=SC2086
"$python" - "$source_dir" "$work/files" $doc_pages <<'PY'
import pathlib, posixpath, re, sys, unicodedata
source, pages = pathlib.Path(sys.argv[1]), sys.argv[3:]
files = set(pathlib.Path(sys.argv[2]).read_text().split("\n")) - {""}
directories = {posixpath.dirname(f) for f in files}
while True:
    parents = {posixpath.dirname(d) for d in directories} - directories
    if not parents:
        break
    directories |= parents
problems = []

def slug(heading):
    """The anchor GitHub gives a heading: lower case, punctuation dropped, spaces to hyphens."""
    text = re.sub(r"`|\*\*|\*|\[|\]\([^)]*\)", "", heading).strip().lower()
    text = "".join(c for c in text if c in " -_" or unicodedata.category(c)[0] in "LN")
    return text.replace(" ", "-")

def anchors(page):
    seen, result = {}, set()
    fence = False
    for line in (source / page).read_text().splitlines():
        if line.startswith("```"):
            fence = not fence
        heading = None if fence else re.match(r"#{1,6} (.*)", line)
        if heading:
            base = slug(heading.group(1))
            count = seen.get(base, 0)
            seen[base] = count + 1
            result.add(base if count == 0 else f"{base}-{count}")
    return result

chapters = {f for f in files if re.fullmatch(r"docs/guide/[^/]+\.md", f)}
for chapter in sorted(chapters - set(pages)):
    problems.append(f"{chapter} is not a page of doc_pages in tests/docs/doc_blocks.sh: its blocks are not checked")
links = 0
for page in pages:
    if page not in files:
        problems.append(f"{page}, a page of the guide, is not in the repository")
        continue
    fence = False
    for number, line in enumerate((source / page).read_text().splitlines(), 1):
        if line.startswith("```"):
            fence = not fence
        if fence:
            continue
        line = re.sub(r"`[^`]*`", "", line)
        for target in re.findall(r"\]\(([^)\s]+)\)", line) + re.findall(r"<(?:img|a)\s[^>]*(?:src|href)=\"([^\"]+)\"", line):
            if re.match(r"[a-z]+:", target):
                continue
            links += 1
            path, _, anchor = target.partition("#")
            resolved = posixpath.normpath(posixpath.join(posixpath.dirname(page), path)) if path else page
            where = f"{page}:{number}: {target}"
            if resolved.startswith("../") or not (resolved in files or resolved in directories):
                problems.append(f"{where}: {resolved} is not a file of the repository")
            elif anchor and resolved.endswith(".md") and anchor not in anchors(resolved):
                problems.append(f"{where}: {resolved} has no heading #{anchor}")
for problem in problems:
    print("FAIL:", problem)
if links == 0:
    print("FAIL: no relative link found in the guide's pages")
    problems.append("no links")
if not problems:
    print(f"ok: {links} relative links of {len(pages)} pages lead to files and headings")
sys.exit(1 if problems else 0)
PY
