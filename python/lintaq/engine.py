"""Streaming and offline equalisation over the engine's C interface."""

from __future__ import annotations

import ctypes
import threading
import warnings
import weakref
from typing import Iterable, Literal, Optional

import numpy as np

from ._library import library
from .bands import Band, LintaqWarning, check_bands, check_flag, check_mode, check_rate, make_params

__all__ = ["Equalizer", "equalize", "latency", "live_instances", "LATENCY"]

#: Latency in samples by mode, at every rate and oversampling setting.
LATENCY = (36938, 20554, 12362, 8266)
# The engine takes a C int count; longer arrays go in pieces.
_MAX_CALL = 1 << 30

Layout = Literal["channels_first", "channels_last"]

_live = 0
_live_lock = threading.Lock()


def live_instances() -> int:
    """Number of engine instances created by this package and not yet released."""
    return _live


def latency(mode: int = 2) -> int:
    """Latency of ``mode`` (0..3) in samples: 36938, 20554, 12362 or 8266, at any rate."""
    return LATENCY[check_mode(mode)]


def _release(lib: ctypes.CDLL, handle: int) -> None:
    global _live
    lib.LintaqExit(handle)
    with _live_lock:
        _live -= 1


class Equalizer:
    """One engine instance: a mono or stereo stream equalised block by block.

    Parameters
    ----------
    rate : int
        Sample rate in Hz, 8000 to 768000.
    channels : int
        1 (mono) or 2 (stereo).
    mode : int
        0..3, the lookahead: latency 36938, 20554, 12362 or 8266 samples at
        any rate (0.77 s to 0.17 s at 48 kHz). Low, narrow bands ring long
        and want a low mode; a :class:`LintaqWarning` says when a band rings
        longer than the mode holds.
    oversample : bool
        Run the filters at twice the rate below 64 kHz, which keeps bands
        near the top of the range in shape. Does not change the latency.
    noise : bool
        Add a tiny frame noise (|e| <= 3.3e-16) that keeps silent input off
        exact zero and so away from slow subnormal arithmetic. All instances
        in the process draw it from one shared sequence, so with noise on
        the lowest bits of near-silent output depend on what other instances
        processed before; turn it off for output that is reproducible bit
        for bit whatever else runs.
    bands : sequence of Band
        Up to twelve band records, checked against the band limit
        (0.453515 x ``rate``).

    Output lags input by :attr:`latency` samples; blocks of any sizes give
    the same stream as one long block. Band changes take effect at the start
    of the next :meth:`process` call.

    Threading: :meth:`process` releases the interpreter lock while the
    engine filters, so separate instances run in parallel on separate
    threads. Calls on one instance are serialised by a lock.

    The instance holds about 0.3 MB (mode 3) to 1.2 MB (mode 0) per channel. Release it
    with :meth:`close` or a ``with`` block; otherwise it is released when
    the object is collected.
    """

    def __init__(
        self,
        rate: int,
        channels: int = 2,
        mode: int = 2,
        oversample: bool = True,
        noise: bool = True,
        bands: Iterable[Band] = (),
    ) -> None:
        self._rate = check_rate(rate)
        if isinstance(channels, bool) or channels not in (1, 2):
            raise ValueError(f"channels {channels!r} must be 1 (mono) or 2 (stereo)")
        self._channels = int(channels)
        self._mode = check_mode(mode)
        self._oversample = check_flag("oversample", oversample)
        self._noise = check_flag("noise", noise)
        self._bands = self._checked(bands)
        self._lock = threading.Lock()
        self._layout: Layout = "channels_first"
        self._finalizer: Optional[weakref.finalize] = None
        self._open()

    # -- lifetime -------------------------------------------------------------

    def _open(self) -> None:
        global _live
        lib = library()
        handle = lib.LintaqInit(self._mode, 1 if self._channels == 2 else 0)
        if not handle:
            raise MemoryError("out of memory creating the equaliser")
        with _live_lock:
            _live += 1
        self._lib = lib
        self._handle: Optional[int] = handle
        self._finalizer = weakref.finalize(self, _release, lib, handle)
        self._apply()

    def close(self) -> None:
        """Releases the engine instance now. Further use raises ValueError; closing twice is harmless."""
        with self._lock:
            self._handle = None
            if self._finalizer is not None:
                self._finalizer()

    @property
    def closed(self) -> bool:
        return self._handle is None

    def __enter__(self) -> "Equalizer":
        self._live_handle()
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self.closed else f"{len(self._bands)} bands"
        return (
            f"Equalizer(rate={self._rate}, channels={self._channels}, mode={self._mode}, "
            f"oversample={self._oversample}, noise={self._noise}; {state})"
        )

    def _live_handle(self) -> int:
        if self._handle is None:
            raise ValueError("this Equalizer is closed")
        return self._handle

    def reset(self) -> None:
        """Forgets the stream: a fresh instance with the same settings (output silent for the latency)."""
        with self._lock:
            self._live_handle()
            assert self._finalizer is not None
            self._handle = None  # closed, should the new instance fail
            self._finalizer()
            self._open()

    # -- settings -------------------------------------------------------------

    def _checked(self, bands: Iterable[Band]) -> tuple[Band, ...]:
        out = check_bands(bands, self._rate, self._mode)
        if self._channels == 1:
            for i, b in enumerate(out, 1):
                if not b.off and b.channel != "both":
                    warnings.warn(
                        f"band {i}, {b!r}: routed to {b.channel}, but a mono stream has one channel: "
                        "the band applies to it",
                        LintaqWarning,
                        stacklevel=4,
                    )
        return out

    def _apply(self) -> None:
        self._params = make_params(self._bands, self._rate, self._noise, self._oversample)
        self._lib.LintaqSetPar(self._handle, ctypes.byref(self._params))

    @property
    def bands(self) -> tuple[Band, ...]:
        """The band records in use; assign a new sequence to change them (from the next block on)."""
        return self._bands

    @bands.setter
    def bands(self, bands: Iterable[Band]) -> None:
        checked = self._checked(bands)
        with self._lock:
            self._live_handle()
            self._bands = checked
            self._apply()

    @property
    def latency(self) -> int:
        """Delay in samples between an input sample and the output sample that carries it."""
        with self._lock:
            return int(self._lib.LintaqGetLatency(self._live_handle()))

    rate = property(lambda self: self._rate, doc="Sample rate in Hz.")
    channels = property(lambda self: self._channels, doc="1 or 2.")
    mode = property(lambda self: self._mode, doc="Lookahead mode 0..3.")
    oversample = property(lambda self: self._oversample, doc="Oversampling switch as given.")
    noise = property(lambda self: self._noise, doc="Frame noise switch.")

    # -- audio ----------------------------------------------------------------

    def _layout_of(self, block: np.ndarray, layout: Optional[Layout]) -> tuple[Layout, np.ndarray]:
        """The block's layout and a (channels, n) view of it."""
        c = self._channels
        if block.ndim == 1:
            if c != 1:
                raise ValueError(f"a 1-D block is mono, but this Equalizer has {c} channels: pass (2, n) or (n, 2)")
            return "channels_first", block[np.newaxis, :]
        if block.ndim != 2:
            raise ValueError(f"block of shape {block.shape}: expected (n,), ({c}, n) or (n, {c})")
        if layout is None:
            first, last = block.shape[0] == c, block.shape[1] == c
            if first and last:
                layout = self._layout  # e.g. (2, 2): as the last unambiguous block
            elif first:
                layout = "channels_first"
            elif last:
                layout = "channels_last"
            else:
                raise ValueError(f"block of shape {block.shape}: expected ({c}, n) or (n, {c})")
        elif layout not in ("channels_first", "channels_last"):
            raise ValueError(f"layout {layout!r} is not 'channels_first' or 'channels_last'")
        view = block if layout == "channels_first" else block.T
        if view.shape[0] != c:
            raise ValueError(f"block of shape {block.shape} has no {c}-channel axis in layout {layout}")
        return layout, view

    def _run(self, planar: np.ndarray) -> None:
        """Equalises a float32 (channels, n) array with contiguous rows in place; the lock is held."""
        handle = self._live_handle()
        n = planar.shape[1]
        left = planar.ctypes.data
        right = left + planar.strides[0]
        for start in range(0, max(n, 1), _MAX_CALL):
            m, at = min(n - start, _MAX_CALL), 4 * start
            if self._channels == 2:
                self._lib.LintaqProcST(handle, left + at, right + at, m)
            else:
                self._lib.LintaqProc(handle, left + at, m)

    def process(self, block: np.ndarray, *, inplace: bool = False, layout: Optional[Layout] = None) -> np.ndarray:
        """Equalises the next block of the stream.

        ``block`` holds samples as floats (nominal full scale +-1): shape
        (n,) for mono, or (channels, n) or (n, channels); n may be 0. The
        layout is read from the shape; a block that fits both (such as
        (2, 2)) is taken in the layout of the last block that did not, or
        as ``layout`` ("channels_first" or "channels_last") says.

        Returns a new float32 array of the same shape, the equalised stream
        delayed by :attr:`latency` samples. With ``inplace=True`` the result
        is written into ``block`` (which must then be a writable float32
        array) and ``block`` is returned.

        NaN and infinite samples (also values beyond the float32 range) are
        taken as silence, with a :class:`LintaqWarning` saying how many and
        where the first was, as the command-line tool does.

        Raises ValueError for a shape that does not match the channel count
        and on a closed instance; TypeError for a non-float block.
        """
        arr = np.asarray(block) if not isinstance(block, np.ndarray) else block
        if arr.dtype.kind != "f":
            raise TypeError(
                f"block has dtype {arr.dtype}; expected floats (scale integer PCM to +-1 first, "
                "e.g. x / 32768 for int16)"
            )
        if inplace and (arr is not block or arr.dtype != np.float32 or not arr.flags.writeable):
            raise TypeError("inplace=True needs a writable numpy float32 array")
        found, view = self._layout_of(arr, layout)
        direct = inplace and view.strides[1] == 4  # rows already contiguous: filter them where they are
        with np.errstate(over="ignore"):  # values beyond float32 become inf, silenced just below
            work = view if direct else np.array(view, dtype=np.float32, order="C")
        _silence_nonfinite(work)
        with self._lock:
            self._run(work)
        if arr.ndim == 2 and arr.shape[0] != arr.shape[1]:
            self._layout = found
        if inplace:
            if not direct:
                view[...] = work
            return arr
        out = work if found == "channels_first" else np.ascontiguousarray(work.T)
        return out.reshape(arr.shape)


def _silence_nonfinite(planar: np.ndarray) -> None:
    # In the engine a NaN would enter the filters' carried state; silence
    # keeps the rest of the stream intact.
    bad = ~np.isfinite(planar)
    if planar.size and bad.any():
        c, i = (int(v[0]) for v in np.nonzero(bad))
        where = f"sample {i}" + (f", channel {c}" if planar.shape[0] > 1 else "")
        warnings.warn(
            f"the audio held {int(bad.sum())} non-finite sample(s) (NaN or infinity, the first at "
            f"{where}); they were taken as silence",
            LintaqWarning,
            stacklevel=3,
        )
        planar[bad] = 0.0


def equalize(
    audio: np.ndarray,
    rate: int,
    bands: Iterable[Band],
    mode: int = 2,
    oversample: bool = True,
    noise: bool = True,
    *,
    layout: Optional[Layout] = None,
    block: Optional[int] = None,
) -> np.ndarray:
    """Equalises a whole recording, aligned sample for sample with the input.

    ``audio`` is mono (n,) or stereo (2, n) or (n, 2), any float dtype
    (nominal full scale +-1); a (2, 2) array is read as (2, n) unless
    ``layout`` says otherwise. The result is float32, of the same shape:
    the engine's latency is trimmed from the start and the last input
    samples are flushed out with silence, so an impulse at input sample t
    comes out centred at output sample t. For the same float32 samples and
    settings the bits equal those of ``lintaq process IN OUT --float``
    (run as a fresh process when ``noise`` is on, see :class:`Equalizer`).

    ``rate`` in Hz; ``bands``, ``mode``, ``oversample`` and ``noise`` as
    for :class:`Equalizer` (the defaults are the command-line tool's).
    ``block`` feeds the engine that many samples per call instead of all
    at once (same result; for measuring).

    NaN and infinite samples are taken as silence, with a
    :class:`LintaqWarning`, as the command-line tool does. Raises
    ValueError for bad shapes and settings, TypeError for non-float audio. Releases the interpreter lock while the
    engine filters, so several calls run in parallel on separate threads.
    """
    arr = np.asarray(audio)
    if arr.dtype.kind != "f":
        raise TypeError(
            f"audio has dtype {arr.dtype}; expected floats (scale integer PCM to +-1 first, "
            "e.g. x / 32768 for int16)"
        )
    if arr.ndim == 1:
        channels = 1
    elif arr.ndim == 2 and 2 in arr.shape:
        channels = 2
    elif arr.ndim == 2 and 1 in arr.shape:
        channels = 1
    else:
        raise ValueError(
            f"audio of shape {arr.shape}: expected mono (n,) or stereo (2, n) or (n, 2); "
            "equalise other channel counts one or two channels at a time"
        )
    if block is not None and (isinstance(block, bool) or not isinstance(block, int) or block < 1):
        raise ValueError(f"block {block!r} must be a positive whole number of samples")
    with Equalizer(rate, channels, mode, oversample, noise, bands) as eq:
        found, view = eq._layout_of(arr, layout)
        lat = LATENCY[eq.mode]
        n = view.shape[1]
        buf = np.zeros((channels, n + lat), dtype=np.float32)
        with np.errstate(over="ignore"):
            buf[:, :n] = view
        _silence_nonfinite(buf[:, :n])
        with eq._lock:
            if block is None:
                eq._run(buf)
            else:
                for start in range(0, n + lat, block):
                    eq._run(buf[:, start : start + block])
    out = buf[:, lat:]
    if arr.ndim == 1:
        return out[0].copy()
    if channels == 1:
        return out.reshape(arr.shape).copy()
    return np.ascontiguousarray(out if found == "channels_first" else out.T)
