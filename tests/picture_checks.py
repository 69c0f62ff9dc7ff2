"""Python helpers shared by the tests that run a tool and read its pictures
back: the checks made and failed, runs in a scratch directory, and the pairs of
a dot-bracket line. Import it with tests/ on sys.path."""
import shutil
import subprocess
import sys
import tempfile


class PictureChecks:
    """A scratch directory, the program under test and the failures seen."""

    def __init__(self, program):
        self.program = program
        self.work = tempfile.mkdtemp()
        self.failures = []

    def check(self, condition, text):
        if not condition:
            self.failures.append(text)

    def run(self, args):
        return subprocess.run([self.program] + args, cwd=self.work, capture_output=True, text=True)

    def finish(self):
        """Prints the failures, removes the scratch directory and exits 1 on any."""
        for failure in self.failures:
            print("FAIL:", failure)
        shutil.rmtree(self.work)
        sys.exit(1 if self.failures else 0)


def bracket_pairs(line):
    """The (i, j) pairs, 1-based, of the round brackets of line."""
    stack, pairs = [], set()
    for p, c in enumerate(line, 1):
        if c == "(":
            stack.append(p)
        elif c == ")":
            pairs.add((stack.pop(), p))
    return pairs
