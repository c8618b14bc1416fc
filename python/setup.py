"""Builds liblintaq from this repository's sources while the package is
built, and bundles exactly one copy of it in a wheel tagged for this
platform. Everything else about the package is in pyproject.toml.

The sources are those of the repository this folder sits in (or the
folder LINTAQ_SOURCE_DIR names); CMake and a C++ compiler do the build.
"""

import os
import shutil
import subprocess
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = Path(__file__).resolve().parent
LIBRARY = "liblintaq.so"


def _source_dir() -> Path:
    source = Path(os.environ.get("LINTAQ_SOURCE_DIR", HERE.parent)).resolve()
    if not (source / "CMakeLists.txt").is_file() or not (source / "include" / "lintaq.h").is_file():
        raise SystemExit(
            f"lintaq: no Lintaq sources in {source}: install from the repository's python/ folder "
            "(pip install ./python), or set LINTAQ_SOURCE_DIR to the repository"
        )
    return source


class BuildWithLibrary(build_py):
    """build_py, then the shared library, configured for it alone."""

    def run(self) -> None:
        super().run()
        if shutil.which("cmake") is None:
            raise SystemExit("lintaq: building the library needs CMake and a C++ compiler "
                             "(Debian: apt-get install cmake g++; or scripts/install-deps.sh)")
        work = Path(self.build_lib).resolve().parent / "lintaq-cmake"
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "-S", str(_source_dir()), "-B", str(work), "-DCMAKE_BUILD_TYPE=Release",
                        "-DLINTAQ_BUILD_TESTS=OFF", "-DLINTAQ_BUILD_EXAMPLES=OFF", "-DLINTAQ_BUILD_TOOLS=OFF",
                        "-DLINTAQ_BUILD_PLUGINS=OFF", "-DLINTAQ_BUILD_BENCH=OFF"], check=True)
        subprocess.run(["cmake", "--build", str(work), "--target", "lintaq", "-j", jobs], check=True)
        target = Path(self.build_lib) / "lintaq"
        for stale in target.glob("liblintaq*"):
            stale.unlink()
        # One regular file: the versioned library the build's symlinks lead to.
        shutil.copyfile(os.path.realpath(work / LIBRARY), target / LIBRARY)


class PlatformDistribution(Distribution):
    """Holds a compiled library: installed as platform-specific code."""

    def has_ext_modules(self) -> bool:
        return True


commands = {"build_py": BuildWithLibrary}
try:
    from wheel.bdist_wheel import bdist_wheel

    class PlatformWheel(bdist_wheel):
        """Tagged py3-none-PLATFORM: any Python 3 loads the library through
        ctypes, but only on the platform it was built for."""

        def finalize_options(self) -> None:
            super().finalize_options()
            self.root_is_pure = False

        def get_tag(self) -> tuple:
            return ("py3", "none", super().get_tag()[2])

    commands["bdist_wheel"] = PlatformWheel
except ImportError:  # no wheel package: pip reports what it needs
    pass

setup(cmdclass=commands, distclass=PlatformDistribution)
