"""Builds the Python package velcorin2 (see pyproject.toml for the metadata).

The extension is the CMake target velcorin2_python, built by the project's own
CMakeLists.txt, so the library inside it is compiled with exactly the flags of
the command line (-O2 -ffp-contract=off, nothing host-specific) and gives the
same numbers to the last bit.  The shipped model is copied from data/ into
the package; the version is read from CMakeLists.txt.
"""
import glob
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext
from setuptools.command.build_py import build_py

ROOT = os.path.dirname(os.path.abspath(__file__))
MODEL_FILES = ["genfreq.dat", "posfreq.dat", "calibration.dat", "velcorin2.conf"]


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(velcorin2 VERSION ([0-9.]+)", f.read()).group(1)


class CMakeBuild(build_ext):
    """The extension, from the CMake build of the whole project."""

    def build_extension(self, ext):
        import pybind11

        tree = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        subprocess.check_call(["cmake", "-S", ROOT, "-B", tree, "-DVELCORIN_TESTS=OFF", "-DVELCORIN_PYTHON=ON",
                               f"-DPython_EXECUTABLE={sys.executable}", f"-Dpybind11_DIR={pybind11.get_cmake_dir()}"])
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.check_call(["cmake", "--build", tree, "--target", "velcorin2_python", "-j", jobs])
        built = glob.glob(os.path.join(tree, "python", "velcorin2", "_velcorin2*.so"))
        if len(built) != 1:
            raise RuntimeError(f"CMake built {built!r}, not one extension module")
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built[0], target)


class BuildPy(build_py):
    """The package's Python files, and the shipped model in velcorin2/data."""

    def run(self):
        super().run()
        data = os.path.join(self.build_lib, "velcorin2", "data")
        os.makedirs(data, exist_ok=True)
        for name in MODEL_FILES:
            shutil.copyfile(os.path.join(ROOT, "data", name), os.path.join(data, name))


setup(
    version=project_version(),
    ext_modules=[Extension("velcorin2._velcorin2", sources=[])],
    cmdclass={"build_ext": CMakeBuild, "build_py": BuildPy},
    options={"build": {"build_base": "build-python"}},
    zip_safe=False,
)
