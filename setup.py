"""Builds the Python module rnaqubo through CMake (the one build of the
project), for the interpreter that runs pip, and hands it to setuptools."""
import glob
import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

SOURCE = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        subprocess.run(["cmake", "-S", SOURCE, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                        "-DRNAQUBO_PYTHON=ON", "-DRNAQUBO_TESTS=OFF",
                        f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", build, "-j2", "--target", "rnaqubo_python"], check=True)
        (built,) = glob.glob(os.path.join(build, "python", "rnaqubo*.so"))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built, target)


setup(ext_modules=[Extension("rnaqubo", sources=[])], cmdclass={"build_ext": CMakeBuild},
      options={"build": {"build_base": "build-pip"}})
