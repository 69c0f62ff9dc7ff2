"""cmake --install puts the module where Debian's python3 imports it from."""
import glob
import os
import subprocess

import pytest


def test_install_places_an_importable_module(tmp_path):
    build, cmake = os.environ.get("RNAQUBO_BUILD_DIR"), os.environ.get("RNAQUBO_CMAKE")
    prefix, site = os.environ.get("RNAQUBO_INSTALL_PREFIX"), os.environ.get("RNAQUBO_PYTHON_INSTALL_DIR")
    if not (build and cmake and prefix and site):
        pytest.skip("run from ctest, which names the build and its install settings")
    subprocess.run([cmake, "--install", build, "--prefix", str(tmp_path), "--component", "python"],
                   check=True, capture_output=True)
    (module,) = glob.glob(str(tmp_path / site / "rnaqubo*.so"))
    done = subprocess.run(["/usr/bin/python3", "-c", "import rnaqubo; print(rnaqubo.__file__)"],
                          env={"PYTHONPATH": os.path.dirname(module), "PATH": os.environ["PATH"]},
                          cwd=tmp_path, capture_output=True, text=True, check=True)
    assert done.stdout.strip() == module
    # Under the configured prefix the directory is one that python3 searches itself.
    search = subprocess.run(["/usr/bin/python3", "-c", "import sys; print('\\n'.join(sys.path))"],
                            env={}, capture_output=True, text=True, check=True).stdout.split()
    if prefix in ("/usr/local", "/usr"):
        assert os.path.join(prefix, site) in search
