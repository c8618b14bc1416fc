"""Shared fixtures: the library and the command-line tool under test.

scripts/test.sh points LINTAQ_LIBRARY and LINTAQ_CLI at the fresh build;
run by hand, both default to the build/ folder of this repository.
"""

import gc
import os
import sys
from pathlib import Path

import numpy as np
import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "python"))  # the package in this tree, not an installed one
os.environ.setdefault("LINTAQ_LIBRARY", str(REPO / "build" / "liblintaq.so"))
CLI = Path(os.environ.get("LINTAQ_CLI", REPO / "build" / "tools" / "lintaq" / "lintaq"))

import lintaq  # noqa: E402  (after the library is named)

SMILE = (
    lintaq.HighPass(30),
    lintaq.LowShelf(120, gain=4.0),
    lintaq.Peak(400, gain=-3.0, q=1.0),
    lintaq.Peak(3000, gain=2.0, q=1.4),
    lintaq.HighShelf(10000, gain=3.0),
)


@pytest.fixture
def cli() -> Path:
    if not CLI.exists():
        pytest.skip(f"the command-line tool is not built ({CLI})")
    return CLI


def noise(shape, seed=0, level=0.25):
    """Test music stand-in: white noise at `level` RMS, float32."""
    return (np.random.default_rng(seed).standard_normal(shape) * level).astype(np.float32)


def bits(a):
    return np.ascontiguousarray(a, dtype=np.float32).view(np.uint32)


@pytest.fixture(autouse=True)
def no_instance_left_behind():
    """Every test releases every engine instance it made."""
    before = lintaq.live_instances()
    yield
    gc.collect()
    assert lintaq.live_instances() == before
