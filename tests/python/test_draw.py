"""Model.draw against rnaqubo-fold --draw: the same picture byte for byte but
for the settings line (the tool names the sequence file, the module its model's
name), and the same refusals."""
import os
import re
import shutil
import subprocess

import pytest

import rnaqubo

EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples")
TRNA = os.path.join(EXAMPLES, "trna_phe_yeast.txt")
DBN = os.path.join(EXAMPLES, "trna_phe_yeast.dbn")
CLOVERLEAF = [8, 16, 32, 41, 49, 70, 103, 112, 122, 246, 248, 251, 255, 343, 346, 351, 355]
HAS_VARNA = shutil.which("java") and os.path.exists(os.environ.get("RNAQUBO_VARNA_JAR") or
                                                    "/usr/share/java/varna.jar")


def without_settings(svg):
    """The picture without the settings line and the canvas size, whose width
    follows the longest legend line."""
    svg = re.sub(r"<text[^>]*>[^<]*min\. distance[^<]*</text>\n", "", svg)
    return re.sub(r'width="[\d.]+(mm)?" height="[\d.]+(mm)?" viewBox="[^"]*"', "", svg, count=1)


@pytest.mark.parametrize("layout", ["arc", pytest.param("2d", marks=pytest.mark.skipif(
    not HAS_VARNA, reason="java or VARNA is not installed"))])
@pytest.mark.parametrize("answer", [False, True])
def test_draw_matches_the_tool(fold_exe, tmp_path, layout, answer):
    model = rnaqubo.Model.from_file(TRNA)
    args = [fold_exe, TRNA, "76", "4", "1", "-200", "--reference", DBN, "--layout", layout,
            "--draw", str(tmp_path / "tool.svg")]
    if answer:
        (tmp_path / "answer.txt").write_text(" ".join(map(str, CLOVERLEAF)))
        args += ["--solution", str(tmp_path / "answer.txt")]
    subprocess.run(args, check=True, capture_output=True)
    model.draw(CLOVERLEAF if answer else None, tmp_path / "module.svg", reference=DBN, layout=layout)
    tool, module = (open(tmp_path / name).read() for name in ("tool.svg", "module.svg"))
    assert ("ratio: 0.9492" in module) == answer
    assert without_settings(module) == without_settings(tool)
    assert "76 bases | min. distance 4 | add quads 1 | penalty -200" in module


def test_dot_bracket_reference_and_refusals(tmp_path, monkeypatch):
    model = rnaqubo.Model("GGGGAAACCCC", min_distance=2)
    model.draw(None, tmp_path / "a.svg", reference="((((...))))")
    assert "in both: 4 (of 4 in this structure, 4 in the reference)" in open(tmp_path / "a.svg").read()
    with pytest.raises(ValueError, match="unknown layout: radial"):
        model.draw(None, tmp_path / "b.svg", layout="radial")
    with pytest.raises(ValueError, match="must end in .svg, .png or .pdf"):
        model.draw(None, tmp_path / "b.gif")
    monkeypatch.setenv("RNAQUBO_VARNA_JAR", str(tmp_path / "none.jar"))
    with pytest.raises(OSError, match="2D drawings need Java and VARNA"):
        model.draw(None, tmp_path / "b.svg", layout="2d")
    assert sorted(os.listdir(tmp_path)) == ["a.svg"]
