"""Builds the extension vseg._core with the project's CMake build (the module target only)."""

import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    """Configures the CMake project with VSEG_PYTHON on and builds the module target."""

    def build_extension(self, ext):
        build = os.path.join(ROOT, "build-python", "cmake")
        configure = [
            "cmake", "-S", ROOT, "-B", build,
            "-DCMAKE_BUILD_TYPE=Release",
            "-DVSEG_PYTHON=ON",
            "-DVORADA_BUILD_TESTS=OFF",
            "-DVORADA_BUILD_BENCH=OFF",
            "-DPYBIND11_FINDPYTHON=ON",
            "-DPython_EXECUTABLE=" + sys.executable,
        ]
        if shutil.which("ccache"):
            configure.append("-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
        subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
        jobs = os.environ.get("JOBS", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", build, "--target", "_core", "-j", jobs], check=True)
        built = [name for name in os.listdir(os.path.join(build, "python"))
                 if name.startswith("_core") and name.endswith(".so")]
        if len(built) != 1:
            raise RuntimeError("the CMake build made no single _core module: %s" % built)
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(build, "python", built[0]), target)


setup(
    ext_modules=[Extension("vseg._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build-python"}},
)
