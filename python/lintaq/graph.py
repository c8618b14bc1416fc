"""The equaliser's curve, of two kinds.

"ideal": each band's closed-form analog-prototype curve, from the
library's response graph: what the settings ask for, cheap to compute.

"engine": what the engine does to audio, from an impulse sent through a
private instance. Where they differ (measured at 48 kHz unless said):

- with oversampling (the default below 64 kHz), the 2x resampler's
  low-pass rolls the top off even with every band off: flat within 0.01 dB
  to 20 kHz, then at 44.1 kHz -1.3 dB at 20.5 kHz and -10.5 dB at 21 kHz;
  at 48 kHz -0.2 dB at 20.5 kHz, -1.4 dB at 21 kHz, -11 dB at 22 kHz. The
  ideal curve draws 0 dB there;
- bands near the top without oversampling: the filters are warped towards
  half the rate (a bell at 18 kHz, +6 dB, Q 2: 3.1 dB apart near 14 kHz;
  0.3 dB with oversampling);
- strong narrow bells: the engine runs two passes of half the gain where
  the ideal curve draws one section of the full gain; they meet at the
  centre, but the flanks are narrower in processing (+12 dB, Q 10 at 1 kHz:
  1.9 dB apart on the flank); low narrow bells whose ring outlasts the
  mode's lookahead also lose their tail (+12 dB, Q 8 at 40 Hz: 2.0 dB in
  mode 2, 1.9 dB in mode 0; a LintaqWarning says when);
- gentle settings (the tool's "smile" preset) agree within 0.12 dB.

Each bell and shelf also runs as two passes of half the gain where the
ideal curve draws one section of the full gain: the two meet at centres,
corners and plateaus, and strong narrow bands are slightly narrower in
processing. See the package README for measured figures.
"""

from __future__ import annotations

import ctypes
import dataclasses
from typing import Iterable, Literal, NamedTuple, Optional

import numpy as np

from ._library import PeqGraph, library
from .bands import Band, check_bands, check_flag, check_mode, check_rate, make_params, whole_number
from .engine import Equalizer

__all__ = ["Response", "Curve", "response", "measured_response", "VIEWS", "KINDS"]

#: What :func:`response` computes: the ideal curve or the engine's own.
KINDS = ("ideal", "engine")

#: What a total may count: "mono" every band that is on; "both" the bands on
#: both channels; "left"/"right"/"mid"/"side" those plus the bands on it.
VIEWS = ("mono", "both", "left", "right", "mid", "side")
LOWEST_HZ = 20.0
HIGHEST_HZ = 20000.0


class Response(NamedTuple):
    """A response: ``freqs`` (Hz, float32, shape (m,)), ``bands`` (dB,
    shape (len(bands), m), every band's own curve whether on or off),
    ``total`` (dB, shape (m,), the bands the view counts together) and
    ``kind`` ("ideal" or "engine", see :func:`response`)."""

    freqs: np.ndarray
    bands: np.ndarray
    total: np.ndarray
    kind: str = "ideal"


class Curve(NamedTuple):
    """Measured response: ``freqs`` (Hz) and ``db`` at them."""

    freqs: np.ndarray
    db: np.ndarray


def _included(bands: tuple[Band, ...], channel: str) -> list[bool]:
    if channel not in VIEWS:
        raise ValueError(f"channel {channel!r} is not one of {', '.join(VIEWS)}")
    return [
        not b.off and (channel == "mono" or b.channel == "both" or b.channel == channel) for b in bands
    ]


def _grid_freqs(points: int, fmin: float, fmax: float) -> np.ndarray:
    # The grid's own point frequencies: repeated single-precision steps, as
    # the library forms them (not exactly fmax at the end).
    d = np.log(np.float64(np.float32(fmax))) - np.log(np.float64(np.float32(fmin)))
    ratio = np.float32(np.exp(np.float64(np.float32(d) / np.float32(points - 1))))
    f = np.empty(points, dtype=np.float32)
    x = np.float32(fmin)
    for i in range(points):
        f[i] = x
        x = np.float32(x * ratio)
    return f


def _default_grid(rate: int, points: object) -> tuple[float, float, int]:
    return LOWEST_HZ, min(HIGHEST_HZ, rate / 2.0), whole_number("points", points, 16, 100000)


def _freq_array(freqs: object) -> np.ndarray:
    f = np.asarray(freqs, dtype=np.float64)
    if f.ndim != 1 or f.size == 0:
        raise ValueError(f"freqs must be a non-empty 1-D sequence of Hz, got shape {f.shape}")
    if not (np.isfinite(f).all() and (f > 0).all()):
        raise ValueError("freqs must all be finite and above 0 Hz")
    return f.astype(np.float32)


def response(
    bands: Iterable[Band],
    rate: int,
    freqs: Optional[Iterable[float]] = None,
    *,
    oversample: bool = True,
    channel: str = "mono",
    points: int = 512,
    kind: Literal["ideal", "engine"] = "ideal",
    mode: int = 2,
) -> Response:
    """The equaliser's curve in dB: ``kind="ideal"`` (the default) the
    closed-form curve the settings ask for, from the library's response
    graph; ``kind="engine"`` what processing really does, each band and the
    total measured from an impulse through a private engine instance (see
    :func:`measured_response`), resampler roll-off and cut tails included.

    ``freqs`` (Hz) defaults to ``points`` logarithmic steps from 20 Hz to
    20 kHz (or half the rate, if lower), cut where the ideal graph stops
    near the top of the band. Ideal: frequencies the graph does not cover
    (above about 0.4535 x the filtering rate, which is twice ``rate`` when
    oversampling applies) come out as NaN; engine: those above half the
    rate. ``oversample`` (and for the engine ``mode``) must match the
    processing settings: they move where bands near the top land.

    The module's documentation says where and by how much the two kinds
    differ. The ideal kind needs no engine instance; both are safe on any
    thread.
    """
    if kind not in KINDS:
        raise ValueError(f"kind {kind!r} is not 'ideal' or 'engine'")
    if kind == "engine":
        return _engine_response(bands, rate, freqs, oversample, channel, points, mode)
    rate = check_rate(rate)
    oversample = check_flag("oversample", oversample)
    bands = check_bands(bands, rate)
    include = _included(bands, channel)
    params = make_params(bands, rate, False, oversample)
    lib = library()
    pparams = ctypes.byref(params)
    if freqs is None:
        fmin, fmax, n = _default_grid(rate, points)
        grid = lib.InitPeqGraph(pparams, n, fmin, fmax)
        if not grid:
            raise MemoryError("out of memory building the response grid")
        try:
            count = grid.contents.pointCount
            f = _grid_freqs(n, fmin, fmax)[:count]
            covered = np.ones(count, dtype=bool)
            curves = np.zeros((len(bands), count), dtype=np.float32)
            for k in range(len(bands)):
                lib.LintaqGraph(pparams, grid, curves[k].ctypes.data_as(ctypes.POINTER(ctypes.c_float)), k)
        finally:
            lib.ExitPeqGraph(grid)
    else:
        f = _freq_array(freqs)
        # One library grid per point, starting exactly there, gives the
        # point's warped value; a grid from f to f counts no points when f
        # lies beyond what the graph covers.
        warped = np.zeros(f.size, dtype=np.float32)
        covered = np.zeros(f.size, dtype=bool)
        for i, fi in enumerate(f):
            g = lib.InitPeqGraph(pparams, 2, float(fi), float(fi))
            if not g:
                raise MemoryError("out of memory building the response grid")
            warped[i] = g.contents.warpedSq[0]
            covered[i] = g.contents.pointCount > 0
            lib.ExitPeqGraph(g)
        grid = PeqGraph(f.size, warped.ctypes.data_as(ctypes.POINTER(ctypes.c_float)))
        curves = np.zeros((len(bands), f.size), dtype=np.float32)
        for k in range(len(bands)):
            lib.LintaqGraph(pparams, ctypes.byref(grid), curves[k].ctypes.data_as(ctypes.POINTER(ctypes.c_float)), k)
        curves[:, ~covered] = np.nan
    total = np.zeros(f.size, dtype=np.float32)
    for k, on in enumerate(include):
        if on:
            total += curves[k]
    total[~covered] = np.nan
    return Response(f, curves, total, "ideal")


def _measuring_points(
    bands: Iterable[Band], rate: object, freqs: Optional[Iterable[float]], oversample: bool, channel: str,
    points: int,
) -> tuple[int, tuple[Band, ...], list[bool], np.ndarray]:
    """Checked rate and bands, what the view counts, and the frequencies:
    ``freqs``, or the ideal curve's grid so the two kinds overlay."""
    checked_rate = check_rate(rate)
    checked = check_bands(bands, checked_rate)
    include = _included(checked, channel)
    if freqs is None:
        f = response(checked, checked_rate, oversample=oversample, channel=channel, points=points).freqs
    else:
        f = _freq_array(freqs)
    return checked_rate, checked, include, f


def _engine_response(
    bands: Iterable[Band], rate: int, freqs: Optional[Iterable[float]], oversample: bool, channel: str,
    points: int, mode: int,
) -> Response:
    rate, bands, include, f = _measuring_points(bands, rate, freqs, oversample, channel, points)
    mode = check_mode(mode)

    def through_engine(chosen: list[Band]) -> np.ndarray:
        return measured_response(chosen, rate, f, mode=mode, oversample=oversample).db

    # Each band alone, switched on whatever the view, as the ideal curves are.
    curves = np.zeros((len(bands), f.size), dtype=np.float32)
    for k, b in enumerate(bands):
        curves[k] = through_engine([dataclasses.replace(b, off=False, channel="both")])
    total = through_engine([b for b, on in zip(bands, include) if on])
    return Response(f, curves, total, "engine")


def measured_response(
    bands: Iterable[Band],
    rate: int,
    freqs: Optional[Iterable[float]] = None,
    *,
    mode: int = 2,
    oversample: bool = True,
    noise: bool = False,
    channel: str = "mono",
    points: int = 512,
) -> Curve:
    """The engine's own response in dB: an impulse sent through a mono
    instance with the bands ``channel`` counts, aligned by the latency and
    taken to the frequency domain (65536 points or more, bins 1 Hz or finer,
    linear interpolation between bins).

    ``freqs`` defaults to the grid of :func:`response` (same arguments give
    the same points), so the two overlay directly; frequencies above half
    the rate come out as NaN. Takes about as long as equalising 1.5 s of
    mono audio.
    """
    rate, bands, include, f = _measuring_points(bands, rate, freqs, oversample, channel, points)
    n = 65536
    while n < rate:
        n <<= 1
    # A mono stream applies every band that is on, whatever its channel.
    chosen = [dataclasses.replace(b, channel="both") if on else dataclasses.replace(b, off=True)
              for b, on in zip(bands, include)]
    with Equalizer(rate, 1, mode=mode, oversample=oversample, noise=noise, bands=chosen) as eq:
        lat = eq.latency
        x = np.zeros(n + lat, dtype=np.float32)
        x[n // 2] = 1.0
        eq.process(x, inplace=True)
    mag = np.abs(np.fft.rfft(x[lat : lat + n].astype(np.float64)))
    pos = f.astype(np.float64) * n / rate
    inside = pos < n // 2
    k = np.where(inside, pos, 0).astype(np.int64)
    frac = np.where(inside, pos, 0) - k
    m = (1.0 - frac) * mag[k] + frac * mag[np.minimum(k + 1, n // 2)]
    db = (20.0 * np.log10(np.maximum(m, 1e-12))).astype(np.float32)
    db[~inside] = np.nan
    return Curve(f, db)
