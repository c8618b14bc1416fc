"""Streaming and offline equalisation over the engine's C interface."""

from __future__ import annotations

import ctypes
import threading
import weakref
from pathlib import Path
from typing import Callable, Iterable, Literal, Optional, Sequence, Union

import numpy as np

from ._library import library
from .bands import Band, check_bands, check_flag, check_mode, check_rate, make_params, warn, whole_number

__all__ = ["Equalizer", "equalize", "latency", "live_instances", "LATENCY", "Layout", "BLOCK"]

#: Latency in samples by mode, at every rate and oversampling setting.
LATENCY = (36938, 20554, 12362, 8266)
# The engine takes a C int count; longer arrays go in pieces.
_MAX_CALL = 1 << 30

Layout = Literal["channels_first", "channels_last"]
LAYOUTS = ("channels_first", "channels_last")
#: Samples per channel that :func:`equalize` and :func:`equalize_file` hand
#: the engine per call: their working memory beyond input and output.
BLOCK = 65536

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
    layout : "channels_last" or "channels_first"
        How a stereo block is laid out: (n, 2), as soundfile reads, or
        (2, n). Fixed here, never guessed from a block's shape: a block
        that does not fit raises ValueError. A mono stream takes (n,) and
        (n, 1) or (1, n) as the layout says.
    mode : int
        0..3, the lookahead: latency 36938, 20554, 12362 or 8266 samples at
        any rate (0.77 s to 0.17 s at 48 kHz). Low, narrow bands ring long
        and want a low mode; a :class:`LintaqWarning` says when a band rings
        longer than the mode holds.
    oversample : bool
        Run the filters at twice the rate below 64 kHz, which keeps bands
        near the top of the range in shape. Does not change the latency.
        Its resampler rolls off the last octave's top: see
        :func:`response` with ``kind="engine"``.
    noise : bool
        Off by default. On, the engine adds a tiny frame noise (|e| <=
        3.3e-16) to keep silent input off exact zero; it is drawn from one
        sequence shared by every instance in the process, so the lowest bits
        of near-silent output would depend on what else ran before. The
        engine flushes its filters' tiny states to zero anyway, so silence
        stays fast without it.
    bands : sequence of Band
        Up to twelve band records, checked against the band limit
        (0.453515 x ``rate``).

    Everything after ``channels`` is keyword-only. Output is float32 and
    lags input by :attr:`latency` samples; blocks of any sizes give the same
    stream as one long block. :meth:`flush` returns the tail. Band changes
    take effect at the start of the next :meth:`process` call. An instance
    is callable: ``eq(block)`` is ``eq.process(block)``.

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
        *,
        layout: Layout = "channels_last",
        mode: int = 2,
        oversample: bool = True,
        noise: bool = False,
        bands: Iterable[Band] = (),
    ) -> None:
        self._rate = check_rate(rate)
        if isinstance(channels, (bool, np.bool_)) or channels not in (1, 2):
            raise ValueError(f"channels {channels!r} must be 1 (mono) or 2 (stereo)")
        self._channels = int(channels)
        if layout not in LAYOUTS:
            raise ValueError(f"layout {layout!r} is not 'channels_first' or 'channels_last'")
        self._layout: Layout = layout
        self._mode = check_mode(mode)
        self._oversample = check_flag("oversample", oversample)
        self._noise = check_flag("noise", noise)
        self._bands = self._checked(bands)
        self._lock = threading.Lock()
        self._finalizer: Optional[weakref.finalize] = None
        self._open()

    @classmethod
    def from_preset(
        cls, preset: Union[str, Path], rate: int, channels: int = 2, *, layout: Layout = "channels_last"
    ) -> "Equalizer":
        """An instance with the bands, mode, oversampling and noise of a
        JSON preset file in the command-line tool's format (``lintaq preset``
        writes one)."""
        from .preset import load_preset

        p = load_preset(preset)
        return cls(rate, channels, layout=layout, mode=p.mode, oversample=p.oversample, noise=p.noise,
                   bands=p.bands)

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
            f"Equalizer(rate={self._rate}, channels={self._channels}, layout={self._layout!r}, "
            f"mode={self._mode}, oversample={self._oversample}, noise={self._noise}; {state})"
        )

    def _live_handle(self) -> int:
        if self._handle is None:
            raise ValueError("this Equalizer is closed")
        return self._handle

    def _reopen(self) -> None:
        # The lock is held.
        self._live_handle()
        assert self._finalizer is not None
        self._handle = None  # closed, should the new instance fail
        self._finalizer()
        self._open()

    def reset(self) -> None:
        """Forgets the stream: a fresh instance with the same settings (output silent for the latency)."""
        with self._lock:
            self._reopen()

    # -- settings -------------------------------------------------------------

    def _checked(self, bands: Iterable[Band]) -> tuple[Band, ...]:
        out = check_bands(bands, self._rate, self._mode)
        if self._channels == 1:
            for i, b in enumerate(out, 1):
                if not b.off and b.channel != "both":
                    warn(
                        f"band {i}, {b!r}: routed to {b.channel}, but a mono stream has one channel: "
                        "the band applies to it"
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

    @property
    def rate(self) -> int:
        """Sample rate in Hz."""
        return self._rate

    @property
    def channels(self) -> int:
        """1 or 2."""
        return self._channels

    @property
    def layout(self) -> Layout:
        """"channels_last" ((n, channels) blocks) or "channels_first" ((channels, n))."""
        return self._layout

    @property
    def mode(self) -> int:
        """Lookahead mode 0..3."""
        return self._mode

    @property
    def oversample(self) -> bool:
        """Oversampling switch as given."""
        return self._oversample

    @property
    def noise(self) -> bool:
        """Frame noise switch."""
        return self._noise

    # -- audio ----------------------------------------------------------------

    def _planar(self, block: np.ndarray) -> np.ndarray:
        """A (channels, n) view of a block in this instance's layout."""
        c = self._channels
        if block.ndim == 1:
            if c != 1:
                raise ValueError(
                    f"a 1-D block is mono, but this Equalizer has {c} channels: pass "
                    + ("(n, 2)" if self._layout == "channels_last" else "(2, n)")
                )
            return block[np.newaxis, :]
        want = f"(n, {c})" if self._layout == "channels_last" else f"({c}, n)"
        if block.ndim != 2:
            raise ValueError(f"block of shape {block.shape}: this Equalizer takes {want} blocks ({self._layout})")
        view = block.T if self._layout == "channels_last" else block
        if view.shape[0] != c:
            raise ValueError(f"block of shape {block.shape}: this Equalizer takes {want} blocks ({self._layout})")
        return view

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

    def process(self, block: np.ndarray, *, inplace: bool = False) -> np.ndarray:
        """Equalises the next block of the stream.

        ``block`` holds samples as floats (nominal full scale +-1) in this
        instance's :attr:`layout`: (n,) or (n, channels) for "channels_last",
        (n,) or (channels, n) for "channels_first"; n may be 0.

        Returns a new float32 array of the same shape, the equalised stream
        delayed by :attr:`latency` samples. With ``inplace=True`` the result
        is written into ``block`` (which must then be a writable float32
        array) and ``block`` is returned.

        NaN and infinite samples (also values beyond the float32 range) are
        taken as silence, with a :class:`LintaqWarning` saying how many and
        where the first was, as the command-line tool does.

        Raises ValueError for a shape that does not fit the channels and
        layout, and on a closed instance; TypeError for a non-float block.
        """
        self._live_handle()
        arr = np.asarray(block) if not isinstance(block, np.ndarray) else block
        _check_float(arr, "block")
        if inplace and (arr is not block or arr.dtype != np.float32 or not arr.flags.writeable):
            raise TypeError("inplace=True needs a writable numpy float32 array")
        view = self._planar(arr)
        direct = inplace and view.strides[1] == 4  # rows already contiguous: filter them where they are
        with np.errstate(over="ignore"):  # values beyond float32 become inf, silenced just below
            work = view if direct else np.array(view, dtype=np.float32, order="C")
        _report_nonfinite(*_silence_nonfinite(work, 0))
        with self._lock:
            self._run(work)
        if inplace:
            if not direct:
                view[...] = work
            return arr
        out = work if self._layout == "channels_first" or arr.ndim == 1 else np.ascontiguousarray(work.T)
        return out.reshape(arr.shape)

    def __call__(self, block: np.ndarray, sample_rate: Optional[float] = None) -> np.ndarray:
        """``process(block)``, in the manner of an audio plugin; a
        ``sample_rate`` given must be this instance's."""
        if sample_rate is not None and sample_rate != self._rate:
            raise ValueError(f"sample_rate {sample_rate!r}: this Equalizer runs at {self._rate} Hz")
        return self.process(block)

    def flush(self) -> np.ndarray:
        """The tail: the last :attr:`latency` samples of the stream, pushed
        out with silence, in this instance's layout (float32). The instance
        then starts a fresh stream, as after :meth:`reset`."""
        with self._lock:
            lat = int(self._lib.LintaqGetLatency(self._live_handle()))
            work = np.zeros((self._channels, lat), dtype=np.float32)
            self._run(work)
            self._reopen()
        return work if self._layout == "channels_first" else np.ascontiguousarray(work.T)


def _check_float(arr: np.ndarray, what: str) -> None:
    if arr.dtype.kind != "f":
        raise TypeError(
            f"{what} has dtype {arr.dtype}; expected floats (scale integer PCM to +-1 first, "
            "e.g. x / 32768 for int16)"
        )


def _silence_nonfinite(planar: np.ndarray, offset: int) -> tuple[int, Optional[tuple[int, int]]]:
    """Zeroes NaN and infinite samples of a (channels, n) block in place.

    In the engine a NaN would enter the filters' carried state; silence
    keeps the rest of the stream intact. Returns how many there were and
    (sample + offset, channel) of the first.
    """
    bad = ~np.isfinite(planar)
    if not planar.size or not bad.any():
        return 0, None
    count = int(bad.sum())
    first = np.nonzero(bad.any(axis=0))[0][0]
    channel = int(np.nonzero(bad[:, first])[0][0])
    planar[bad] = 0.0
    return count, (int(first) + offset, channel)


def _report_nonfinite(count: int, first: Optional[tuple[int, int]], channels: int = 2) -> None:
    if not count or first is None:
        return
    where = f"sample {first[0]}" + (f", channel {first[1]}" if channels > 1 else "")
    warn(
        f"the audio held {count} non-finite sample(s) (NaN or infinity, the first at "
        f"{where}); they were taken as silence"
    )


def run_aligned(
    eqs: Sequence[Equalizer],
    frames: int,
    read: Callable[[int, int, np.ndarray], None],
    write: Callable[[int, np.ndarray], None],
    block: int = BLOCK,
) -> None:
    """Streams ``frames`` input samples through the equalisers in blocks,
    trimming the latency at the start and flushing it with silence at the end.

    The equalisers (all of one mode) take consecutive rows of the stream:
    one stereo instance, or one mono instance per channel of a wider file.
    ``read(start, stop, dest)`` fills the float32 (rows, stop - start) array
    ``dest`` with input samples start..stop; ``write(start, planar)``
    receives output samples from ``start`` on, aligned with the input.
    Memory: one block. Non-finite input is silenced and reported once.
    """
    lat = LATENCY[eqs[0].mode]
    rows = sum(eq.channels for eq in eqs)
    buf = np.empty((rows, block), dtype=np.float32)
    count, first = 0, None
    for start in range(0, frames + lat, block):
        stop = min(start + block, frames + lat)
        work = buf[:, : stop - start]
        got = max(0, min(stop, frames) - start)
        if got:
            read(start, start + got, work[:, :got])
            c, f = _silence_nonfinite(work[:, :got], start)
            count, first = count + c, first or f
        work[:, got:] = 0.0
        row = 0
        for eq in eqs:
            with eq._lock:
                eq._run(work[row : row + eq.channels])
            row += eq.channels
        skip = max(0, lat - start)  # output samples before input sample 0
        if skip < work.shape[1]:
            write(start + skip - lat, work[:, skip:])
    _report_nonfinite(count, first, rows)


def equalize(
    audio: np.ndarray,
    rate: int,
    bands: Iterable[Band],
    *,
    mode: int = 2,
    oversample: bool = True,
    noise: bool = False,
    layout: Optional[Layout] = None,
    block: Optional[int] = None,
) -> np.ndarray:
    """Equalises a whole recording, aligned sample for sample with the input.

    ``audio`` is mono (n,) or stereo (n, 2) or (2, n), any float dtype
    (nominal full scale +-1); a (2, 2) array is read as (2, n) unless
    ``layout`` says otherwise. The result is float32, of the same shape:
    the engine's latency is trimmed from the start and the last input
    samples are flushed out with silence, so an impulse at input sample t
    comes out centred at output sample t. For the same float32 samples and
    settings the bits equal those of ``lintaq process IN OUT --float``.

    ``rate`` in Hz; ``bands``, ``mode``, ``oversample`` and ``noise`` as
    for :class:`Equalizer` (the defaults are the command-line tool's; all
    but the first three arguments are keyword-only). The engine is fed
    ``block`` samples per call (default :data:`BLOCK`): memory beyond the
    input and the output stays at a few blocks whatever the length.

    NaN and infinite samples are taken as silence, with a
    :class:`LintaqWarning`, as the command-line tool does. Raises
    ValueError for bad shapes and settings, TypeError for non-float audio.
    Releases the interpreter lock while the engine filters, so several
    calls run in parallel on separate threads.
    """
    arr = np.asarray(audio)
    _check_float(arr, "audio")
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
    size = BLOCK if block is None else whole_number("block", block, 1, _MAX_CALL, " of samples")
    if layout is None:
        first = arr.ndim == 1 or arr.shape[0] == channels
    elif layout in LAYOUTS:
        first = layout == "channels_first"
    else:
        raise ValueError(f"layout {layout!r} is not 'channels_first' or 'channels_last'")
    view = arr[np.newaxis, :] if arr.ndim == 1 else (arr if first else arr.T)
    if view.shape[0] != channels:
        raise ValueError(f"audio of shape {arr.shape} has no {channels}-channel axis in layout {layout}")
    out = np.empty(arr.shape, dtype=np.float32)
    out_view = out[np.newaxis, :] if arr.ndim == 1 else (out if first else out.T)
    n = view.shape[1]

    def read(start: int, stop: int, dest: np.ndarray) -> None:
        with np.errstate(over="ignore"):  # beyond float32: inf, then silenced
            dest[...] = view[:, start:stop]

    def write(start: int, planar: np.ndarray) -> None:
        m = min(planar.shape[1], n - start)
        if m > 0:
            out_view[:, start : start + m] = planar[:, :m]

    with Equalizer(rate, channels, layout="channels_first", mode=mode, oversample=oversample, noise=noise,
                   bands=bands) as eq:
        run_aligned([eq], n, read, write, size)
    return out
