"""Builds the extensions vseg._core and vseg._prepare with the project's CMake build (their
targets only)."""

import os
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


class CMakeBuild(build_ext):
    """Configures the CMake project with VSEG_PYTHON on and builds each module's target."""

    def build_extension(self, ext):
        module = ext.name.split(".")[-1]
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
        jobs = os.environ.get("JOBS", str(len(os.sched_getaffinity(0))))
        subprocess.run(["cmake", "--build", build, "--target", module, "-j", jobs], check=True)
        built = [name for name in os.listdir(os.path.join(build, "python"))
                 if name.startswith(module + ".") and name.endswith(".so")]
        if len(built) != 1:
            raise RuntimeError("the CMake build made no single %s module: %s" % (module, built))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(build, "python", built[0]), target)


setup(
    ext_modules=[Extension("vseg._core", sources=[]), Extension("vseg._prepare", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={"build": {"build_base": "build-python"}},
)
