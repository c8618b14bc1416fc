"""The package installs into a virtual environment and finds a library
placed next to it before any other."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import lintaq

PACKAGE = Path(__file__).resolve().parents[1]


@pytest.mark.skipif(sys.prefix != sys.base_prefix, reason="runs from the system interpreter")
def test_pip_install_into_a_venv_and_load_the_library_beside_the_package(tmp_path):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", venv], check=True)
    py = venv / "bin" / "python"
    src = tmp_path / "src"
    shutil.copytree(PACKAGE, src, ignore=shutil.ignore_patterns("tests", "__pycache__", "*.so*"))
    subprocess.run([py, "-m", "pip", "install", "--quiet", "--no-index", "--no-build-isolation", src],
                   check=True)
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LINTAQ_LIBRARY")}
    check = "import lintaq, numpy as np; print(lintaq.library_path()); print(lintaq.equalize(np.ones(9), 48000, []).shape)"
    # A library copied into the installed package is found without any setting.
    site = subprocess.run([py, "-c", "import lintaq, os; print(os.path.dirname(lintaq.__file__))"],
                          check=True, capture_output=True, text=True, env=env, cwd=tmp_path).stdout.strip()
    assert site.startswith(str(venv))
    shutil.copy(lintaq.library_path(), Path(site) / "liblintaq.so.1")
    out = subprocess.run([py, "-c", check], check=True, capture_output=True, text=True, env=env, cwd=tmp_path)
    assert out.stdout.split() == [str(Path(site) / "liblintaq.so.1"), "(9,)"]
