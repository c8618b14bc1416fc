"""Bad bands, dtypes, shapes, rates and a missing library: clear errors."""

import os
import subprocess
import sys

import warnings

import numpy as np
import pytest

import lintaq
from conftest import SMILE, noise

x2 = np.zeros((2, 100), np.float32)
BAD = [
    (lambda: lintaq.Peak(0), ValueError, "freq 0 Hz must be above 0"),
    (lambda: lintaq.Peak(1000, gain=31), ValueError, "gain 31 dB must lie within ±30"),
    (lambda: lintaq.LowShelf(1000, gain=float("inf")), ValueError, "not a finite number of dB"),
    (lambda: lintaq.Peak(1000, gain=0, q=0), ValueError, "q 0 must be above 0 and at most 100"),
    (lambda: lintaq.HighPass(1000, q=101), ValueError, r"HighPass\(freq=1000.0, q=101.0.*q 101"),
    (lambda: lintaq.Peak("1k"), TypeError, "freq must be a number"),
    (lambda: lintaq.Peak(1000, channel="centre"), ValueError, "unknown channel 'centre'"),
    (lambda: lintaq.Peak(1000, off="yes"), TypeError, "off must be True or False"),
    (lambda: lintaq.HighPass(1000, gain=3), TypeError, "gain"),
    (lambda: lintaq.equalize(x2, 48000, [lintaq.Peak(100 * (i + 1)) for i in range(13)]), ValueError,
     "13 bands given; the equaliser has 12"),
    (lambda: lintaq.equalize(x2, 44100, [lintaq.HighPass(30), lintaq.Peak(20001)]), ValueError,
     r"band 2, Peak\(freq=20001.0.*band limit of 20000.0 Hz for 44100 Hz"),
    (lambda: lintaq.equalize(x2, 48000, ["peak,freq=1000"]), TypeError, "band 1: expected Peak"),
    (lambda: lintaq.equalize(x2.astype(np.int16), 48000, []), TypeError, "dtype int16"),
    (lambda: lintaq.equalize(np.zeros((3, 100)), 48000, []), ValueError, r"shape \(3, 100\)"),
    (lambda: lintaq.equalize(x2, 0, []), ValueError, "rate 0 must be a whole number of Hz"),
    (lambda: lintaq.equalize(x2, 44100.5, []), ValueError, "rate 44100.5"),
    (lambda: lintaq.equalize(x2, 48000, [], mode=4), ValueError, "mode 4 is not 0, 1, 2 or 3"),
    (lambda: lintaq.equalize(x2, 48000, [], block=0), ValueError, "block 0"),
    (lambda: lintaq.Equalizer(48000, 3), ValueError, "channels 3 must be 1"),
    (lambda: lintaq.Equalizer(48000, 2, oversample=1), TypeError, "oversample must be True or False"),
    (lambda: lintaq.Equalizer(48000, 2).process(np.zeros(10, np.float32)), ValueError, "1-D block is mono"),
    (lambda: lintaq.Equalizer(48000, 2).process(np.zeros((3, 10), np.float32)), ValueError, r"takes \(n, 2\)"),
    (lambda: lintaq.Equalizer(48000, 2).process(x2.astype(np.float64), inplace=True), TypeError, "float32"),
    (lambda: lintaq.Equalizer(48000, 2, layout="rows"), ValueError, "layout 'rows' is not"),
    (lambda: lintaq.HighPass(100, 6), TypeError, "positional"),       # would be Q 6, a +31 dB resonance
    (lambda: lintaq.Peak(1000, -3, 2), TypeError, "positional"),
    (lambda: lintaq.equalize(x2, 48000, [], 2), TypeError, "positional"),
    (lambda: lintaq.Equalizer(48000, 2, 3), TypeError, "positional"),
    (lambda: lintaq.equalize(x2, 48000, [], mode=2.5), ValueError, "mode 2.5 is not 0, 1, 2 or 3"),
    (lambda: lintaq.equalize(x2, 48000, [], mode="2"), TypeError, "mode must be a whole number"),
    (lambda: lintaq.response([], 48000, points=np.float64(16.5)), ValueError, "points 16.5"),
    (lambda: lintaq.response([], 48000, kind="drawn"), ValueError, "kind 'drawn' is not"),
    (lambda: lintaq.Equalizer(48000, 1).process([1, 2, 3]), TypeError, "dtype int64"),
    (lambda: lintaq.response([], 48000, channel="centre"), ValueError, "channel 'centre' is not one of"),
    (lambda: lintaq.response([], 48000, freqs=[100, -1]), ValueError, "above 0 Hz"),
]


@pytest.mark.parametrize("call, error, message", BAD, ids=[m for _, _, m in BAD])
def test_bad_input_raises_a_clear_error(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_a_band_ringing_past_the_lookahead_gets_a_warning_naming_a_mode_that_holds_it():
    with pytest.warns(lintaq.LintaqWarning, match=r"band 1, Peak\(freq=25.0.*\(mode 0 holds it\)"):
        lintaq.Equalizer(48000, 2, mode=3, bands=[lintaq.Peak(25, gain=6, q=8)]).close()


def test_whole_numbers_of_any_type_are_accepted_alike():
    # numpy integers and whole floats mean the same as ints, for every count.
    ref = lintaq.response(SMILE, 48000, points=100)
    for points in (np.int64(100), np.int32(100), 100.0):
        assert np.array_equal(lintaq.response(SMILE, 48000, points=points).total, ref.total)
    x = noise((2, 3000))
    ref = lintaq.equalize(x, 48000, SMILE, mode=2)
    for mode, rate in ((np.int64(2), np.int64(48000)), (2.0, 48000.0)):
        assert np.array_equal(lintaq.equalize(x, rate, SMILE, mode=mode, block=np.int16(700)), ref)


@pytest.mark.parametrize("make", [
    lambda: lintaq.measured_response([lintaq.Peak(25, gain=6, q=8)], 48000, mode=3),
    lambda: lintaq.response([lintaq.Peak(25, gain=6, q=8)], 48000, kind="engine", mode=3),
    lambda: lintaq.Equalizer(48000, 1, bands=[lintaq.Peak(900, channel="left")]).close(),
])
def test_warnings_point_at_the_callers_line(make):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        make()
    assert caught and all(w.filename == __file__ for w in caught), [(w.filename, w.lineno) for w in caught]


def test_missing_library_error_names_the_place_tried_and_two_ways_to_fix_it(tmp_path):
    env = dict(os.environ, LINTAQ_LIBRARY=str(tmp_path / "nowhere.so"), PYTHONPATH=os.pathsep.join(sys.path))
    env.pop("LD_LIBRARY_PATH", None)
    run = subprocess.run([sys.executable, "-c", "import lintaq; lintaq.latency(); lintaq.Equalizer(48000)"],
                         env=env, capture_output=True, text=True)
    assert run.returncode != 0 and "LibraryNotFoundError: cannot load liblintaq; tried, in order" in run.stderr
    assert "$LINTAQ_LIBRARY: " + str(tmp_path / "nowhere.so") in run.stderr
    for fix in ("Two ways to fix it", "pip install --no-build-isolation ./python", "export LINTAQ_LIBRARY="):
        assert fix in run.stderr
