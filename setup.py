"""Builds and installs the `mas` Python module: setuptools drives CMake, which builds only
the module's target, in Release, in a temporary folder, and the module lands in the
environment pip installs into, with its type stubs.

    python3 -m venv --system-site-packages VENV
    VENV/bin/pip install --no-build-isolation .

MAS_PYTHON_BUILD_DIR names a CMake build folder to keep between installs (faster
re-installs); without it the build folder is removed once the module is copied out.
MAS_PYTHON_BUILD_TYPE chooses another CMake build type than Release (the tests take their
own build's, so that ccache serves the objects they already compiled).
CMAKE_BUILD_PARALLEL_LEVEL limits the compilations run at once, as for any CMake build.
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = pathlib.Path(__file__).resolve().parent


def project_version():
    """The version of the CMake project, the one the programs print for --version."""
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"project\(\s*\w+\s+VERSION\s+([0-9][0-9.]*)", text)
    if not found:
        raise RuntimeError("CMakeLists.txt: project(... VERSION x.y.z) not found")
    return found.group(1)


class CMakeExtension(Extension):
    """An extension whose sources CMake knows; setuptools compiles nothing itself."""

    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        target = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve()
        kept = os.environ.get("MAS_PYTHON_BUILD_DIR")
        build = pathlib.Path(kept) if kept else pathlib.Path(tempfile.mkdtemp(prefix="mas-python-"))
        try:
            configure = [
                "cmake", "-S", str(ROOT), "-B", str(build),
                "-DCMAKE_BUILD_TYPE=" + os.environ.get("MAS_PYTHON_BUILD_TYPE", "Release"),
                "-DMAS_BUILD_TESTS=OFF",
                "-DMAS_BUILD_BENCH=OFF",
                # The module reads tables with the viewer's reader and fits with the
                # trajectory fit: those two folders, nothing of the programs.
                "-DMAS_FOLDERS=fit;viewer;python",
                # The interpreter that runs pip (a virtual environment's python is
                # Debian's, with Debian's numpy through the system's site packages).
                f"-DPython3_EXECUTABLE={sys.executable}",
            ]
            if shutil.which("ninja"):
                configure += ["-G", "Ninja"]
            if shutil.which("ccache"):
                configure += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"]
            subprocess.run(configure, check=True)
            subprocess.run(["cmake", "--build", str(build), "--target", "mas_python"], check=True)
            built = sorted((build / "python").glob("mas*" + target.suffix))
            if not built:
                raise RuntimeError(f"CMake built no module in {build / 'python'}")
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(built[0], target)
            shutil.copyfile(ROOT / "python" / "mas.pyi", target.parent / "mas.pyi")
        finally:
            if not kept:
                shutil.rmtree(build, ignore_errors=True)


setup(
    name="mas-workbench",
    version=project_version(),
    description="Simulation et commande vectorielle de la machine asynchrone (module Python)",
    license="MIT",
    python_requires=">=3.9",
    install_requires=["numpy"],
    ext_modules=[CMakeExtension("mas")],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
