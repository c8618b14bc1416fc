"""pip builds the library from the repository's sources and bundles one
copy in a wheel tagged for this platform; LINTAQ_LIBRARY overrides it."""

import os
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

import lintaq

PACKAGE = Path(__file__).resolve().parents[1]


@pytest.mark.skipif(sys.prefix != sys.base_prefix, reason="runs from the system interpreter")
def test_wheel_bundles_one_library_built_from_source_and_the_environment_overrides_it(tmp_path):
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", venv], check=True)
    py = venv / "bin" / "python"
    src = tmp_path / "python"
    shutil.copytree(PACKAGE, src, ignore=shutil.ignore_patterns("tests", "build", "*.egg-info", "__pycache__",
                                                                "*.so*"))
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "LINTAQ_LIBRARY")}
    subprocess.run([py, "-m", "pip", "wheel", "--quiet", "--no-index", "--no-deps", "--no-build-isolation",
                    "-w", tmp_path / "dist", src], check=True, env=dict(env, LINTAQ_SOURCE_DIR=str(PACKAGE.parent)),
                   capture_output=True)
    (wheel,) = (tmp_path / "dist").glob("*.whl")
    assert wheel.name.endswith("-py3-none-linux_x86_64.whl"), wheel.name
    with zipfile.ZipFile(wheel) as z:
        assert [n for n in z.namelist() if "liblintaq" in n] == ["lintaq/liblintaq.so"]
    subprocess.run([py, "-m", "pip", "install", "--quiet", "--no-index", "--no-deps", wheel], check=True, env=env)

    check = "import lintaq, numpy as np; print(lintaq.library_path()); print(lintaq.equalize(np.ones(9), 48000, []).shape)"
    site = subprocess.run([py, "-c", "import lintaq, os; print(os.path.dirname(lintaq.__file__))"],
                          check=True, capture_output=True, text=True, env=env, cwd=tmp_path).stdout.strip()
    assert site.startswith(str(venv))
    out = subprocess.run([py, "-c", check], check=True, capture_output=True, text=True, env=env, cwd=tmp_path)
    assert out.stdout.split() == [str(Path(site) / "liblintaq.so"), "(9,)"]
    # A library named by the environment, relative to the current folder, wins.
    (tmp_path / "here" / "lib").mkdir(parents=True)
    shutil.copy(lintaq.library_path(), tmp_path / "here" / "lib" / "liblintaq.so")
    out = subprocess.run([py, "-c", check], check=True, capture_output=True, text=True,
                         env=dict(env, LINTAQ_LIBRARY="lib"), cwd=tmp_path / "here")
    assert out.stdout.split() == [str(tmp_path / "here" / "lib" / "liblintaq.so"), "(9,)"]
