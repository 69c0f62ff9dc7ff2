"""A second, plain projection of Stockholm alignments, written apart from
rnaqubo-seq's, for the differential test: prints the dot-bracket records that
rnaqubo-seq --split --ambiguous drop --write-dbn should write, or, for an
alignment it must refuse, "refused: <line>" with the line of the first fault.

    stockholm_reference.py FILE cons|own
    stockholm_reference.py FILE clean    the file without the rows it would refuse
"""
import sys

GAPS = set(".-_~")
AMBIGUOUS = set("NRYKMSWBDHV")
BASES = set("ACGU")
KINDS = ["()", "[]", "{}", "<>"]


def read_alignments(path):
    """(rows in order as (name, first line), {name: text}, {name: own SS}, SS_cons) per alignment."""
    alignments, current = [], None
    with open(path) as lines:
        for number, line in enumerate(lines, 1):
            words = line.split()
            if current is None:
                if words == ["#", "STOCKHOLM", "1.0"]:
                    current = ([], {}, {}, [""])
                continue
            if words == ["//"]:
                alignments.append(current)
                current = None
            elif words and words[0] == "#=GC" and words[1] == "SS_cons":
                current[3][0] += words[2]
            elif words and words[0] == "#=GR" and words[2] == "SS":
                current[2][words[1]] = current[2].get(words[1], "") + words[3]
            elif words and not words[0].startswith("#"):
                if words[0] not in current[1]:
                    current[0].append((words[0], number))
                    current[1][words[0]] = ""
                current[1][words[0]] += words[1]
    return alignments


def wuss_pairs(text):
    """The column pairs of a WUSS line; the angle brackets the other way round
    when only that balances."""
    kinds = [("<", ">"), ("(", ")"), ("[", "]"), ("{", "}")]
    kinds += [(chr(c), chr(c).lower()) for c in range(ord("A"), ord("Z") + 1)]
    pairs = []
    for opener, closer in kinds:
        found = match(text, opener, closer)
        if found is None and opener == "<":
            found = match(text, ">", "<")
        if found is None:
            raise ValueError(f"unbalanced {opener}{closer}")
        pairs += found
    return pairs


def match(text, opener, closer):
    stack, pairs = [], []
    for column, c in enumerate(text):
        if c == opener:
            stack.append(column)
        elif c == closer:
            if not stack:
                return None
            pairs.append((stack.pop(), column))
    return None if stack else pairs


def crosses(a, b):
    return a[0] < b[0] < a[1] < b[1] or b[0] < a[0] < b[1] < a[1]


def dot_bracket(pairs, length):
    line = ["."] * length
    written = {kind: [] for kind in KINDS}
    for pair in sorted(pairs):
        kind = next(k for k in KINDS if not any(crosses(pair, other) for other in written[k]))
        written[kind].append(pair)
        line[pair[0] - 1], line[pair[1] - 1] = kind
    return "".join(line)


def read_back(line):
    pairs = []
    for kind in KINDS:
        found = match(line, kind[0], kind[1])
        assert found is not None, line
        pairs += [(i + 1, j + 1) for i, j in found]
    return sorted(pairs)


def clean(path):
    """Prints the file without the rows (and their #=GR lines) of letters that are
    neither bases, gaps nor ambiguity codes."""
    refused = set()
    for order, texts, _, _ in read_alignments(path):
        refused |= {name for name, _ in order if set(texts[name].upper()) - GAPS - AMBIGUOUS - BASES - {"T"}}
    with open(path) as lines:
        for line in lines:
            words = line.split()
            if words and (words[0] in refused or (words[0] == "#=GR" and words[1] in refused)):
                continue
            sys.stdout.write(line)


def main():
    path, mode = sys.argv[1], sys.argv[2]
    if mode == "clean":
        clean(path)
        return
    out, seen = [], set()
    for order, texts, own, consensus in read_alignments(path):
        for name, line in order:
            columns = texts[name]
            if name in seen:
                print(f"refused: {line}")
                return
            seen.add(name)
            letters, position = "", []
            for c in columns.upper():
                if c in GAPS or c in AMBIGUOUS:
                    position.append(0)
                elif c in BASES or c == "T":
                    letters += "U" if c == "T" else c
                    position.append(len(letters))
                else:
                    print(f"refused: {line}")
                    return
            structure = own[name] if mode == "own" and name in own else consensus[0]
            if not structure:
                continue
            pairs = [(position[i], position[j]) for i, j in wuss_pairs(structure) if position[i] and position[j]]
            line_text = dot_bracket(pairs, len(letters))
            assert read_back(line_text) == sorted(pairs)
            out.append(f">{name}\n{letters}\n{line_text}\n")
    sys.stdout.write("".join(out))


main()
