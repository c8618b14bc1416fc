"""response() on its grids and views, and measured_response() against
response() where the two must agree (the curves' own figures are the
library's tests)."""

import ctypes

import numpy as np
import pytest

import lintaq
from conftest import SMILE


def test_default_grid_and_explicit_frequencies_give_the_same_values():
    bell = lintaq.response([lintaq.Peak(1000, gain=6, q=1)], 48000, [1000, 2000], oversample=False)
    np.testing.assert_allclose(bell.total, [6.0, 2.806], atol=0.0015)  # centre, and an octave above
    grid = lintaq.response(SMILE, 44100)
    assert grid.freqs[0] == 20 and grid.freqs[-1] == pytest.approx(20000, rel=1e-4)
    explicit = lintaq.response(SMILE, 44100, grid.freqs)
    assert np.array_equal(explicit.bands, grid.bands) and np.array_equal(explicit.total, grid.total)
    beyond = lintaq.response(SMILE, 48000, [1000, 23000], oversample=False)
    assert np.isfinite(beyond.total[0]) and np.isnan(beyond.total[1]) and np.isnan(beyond.bands[:, 1]).all()


def test_total_sums_the_bands_the_view_counts():
    bands = (lintaq.Peak(100, gain=6), lintaq.Peak(1000, gain=-4, channel="left"), lintaq.Peak(5000, gain=3, channel="side"),
             lintaq.HighShelf(8000, gain=5, off=True))
    for view, counted in {"mono": [0, 1, 2], "both": [0], "left": [0, 1], "right": [0], "side": [0, 2]}.items():
        r = lintaq.response(bands, 48000, channel=view)
        assert r.bands.shape == (4, r.freqs.size)
        np.testing.assert_allclose(r.total, r.bands[counted].sum(axis=0), atol=1e-5)


@pytest.mark.parametrize("bands, within", [
    (SMILE, 0.25),                                   # gentle bands: the two-pass shape is the drawn one
    ((lintaq.HighPass(200, q=1.2), lintaq.LowPass(9000, q=0.6)), 0.02),  # pass filters: exact
])
def test_measured_response_follows_the_drawn_curve(bands, within):
    drawn = lintaq.response(bands, 48000)
    measured = lintaq.measured_response(bands, 48000, mode=1, noise=False)
    assert np.array_equal(measured.freqs, drawn.freqs)
    audible = drawn.total > -30
    assert np.abs(measured.db - drawn.total)[audible].max() < within


def test_a_grid_that_stops_early_holds_zeros_past_its_stored_points():
    # A full grid is made and released first, so that a grid of the same
    # size reuses its memory: entries left unwritten would show old values.
    from lintaq._library import library
    from lintaq.bands import make_params

    lib, params = library(), make_params((), 48000, False, False)
    full = lib.InitPeqGraph(ctypes.byref(params), 400, 20.0, 20000.0)
    assert full.contents.pointCount == 400
    lib.ExitPeqGraph(full)
    early = lib.InitPeqGraph(ctypes.byref(params), 400, 1000.0, 1.0e6)  # runs into the limit early
    try:
        count = early.contents.pointCount
        stored = np.ctypeslib.as_array(early.contents.warpedSq, shape=(400,)).copy()
    finally:
        lib.ExitPeqGraph(early)
    assert 0 < count < 300 and (stored[: count + 1] > 0).all()
    assert not stored[count + 1 :].any()
