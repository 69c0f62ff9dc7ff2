"""The sets of pairs the drawing tests expect, worked out independently of
rnaqubo-fold: from rnaqubo's listing of the quads, and from all couples of
pairs."""


def quad_pairs(listing, quads):
    """The pairs of the chosen quads, read from rnaqubo's listing (dot_paren.txt) at path listing."""
    rows = open(listing).read().split("\n")[1:]
    pairs = set()
    for q in quads:
        _, i, j, i2, j2 = map(int, rows[q - 1].split())
        pairs |= {(i, j), (i2, j2)}
    return pairs


def classes(pairs, reference):
    """Each pair class of a picture: both, extra and conflict of the structure's
    side, missed and below_both of the reference's."""
    def conflicts(a, b):
        return a != b and (set(a) & set(b) or a[0] < b[0] < a[1] < b[1] or b[0] < a[0] < b[1] < a[1])
    bad = {a for a in pairs if any(conflicts(a, b) for b in pairs)}
    good = pairs - bad
    return {"both": good & reference, "extra": good - reference, "conflict": bad,
            "missed": reference - pairs, "below_both": reference & pairs}
