"""Band descriptions: small immutable records, checked when made.

Each record is one of the equaliser's twelve bands: ``Peak(1000, gain=-3,
q=2)``. Only the frequency goes by position; every other field is named,
because the second number would mean gain to a bell but Q to a pass
filter (``HighPass(100, 6)`` raises rather than meaning Q 6). Frequencies are in Hz,
gains in dB, Q is the quality factor; ``channel`` picks what the band acts on
in a stereo stream (a mono stream applies every band), and ``off=True``
keeps a band in the list without applying it.

The limits are those of the ``lintaq`` command-line tool: frequency above
0 Hz (and, once the sample rate is known, below 0.453515 x the rate, where
the engine would ignore the band), gain within +-30 dB, Q above 0 and at
most 100.
"""

from __future__ import annotations

import math
import numbers
import os
import sys
import warnings
from dataclasses import KW_ONLY, dataclass, field
from typing import ClassVar, Iterable, Sequence

import numpy as np

from ._library import BANDS, PeqParams

__all__ = [
    "Band",
    "Peak",
    "LowShelf",
    "HighShelf",
    "HighPass",
    "LowPass",
    "CHANNELS",
    "LintaqWarning",
    "MAX_GAIN_DB",
    "MAX_Q",
    "BAND_LIMIT",
    "band_limit",
]

#: Channel names a band may act on, with the engine's codes.
CHANNELS = {"both": 1, "left": 2, "right": 3, "mid": 4, "side": 5}
MAX_GAIN_DB = 30.0
MAX_Q = 100.0
#: Fraction of the sample rate at and above which the engine ignores a band.
BAND_LIMIT = 0.453515
DEFAULT_Q = 0.7071
_OVERSAMPLE_BELOW = 64000
_LOOKAHEAD = (32768, 16384, 8192, 4096)
MIN_RATE, MAX_RATE = 8000, 768000


class LintaqWarning(UserWarning):
    """Advice about settings that work but may not do what was meant."""


_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__)) + os.sep


def warn(message: str) -> None:
    """A :class:`LintaqWarning` attributed to the caller's own line, however
    deep inside the package it was raised."""
    level, frame = 2, sys._getframe(1)  # 1 would be this function
    while frame is not None and os.path.abspath(frame.f_code.co_filename).startswith(_PACKAGE_DIR):
        level += 1
        frame = frame.f_back  # type: ignore[assignment]
    warnings.warn(message, LintaqWarning, stacklevel=level)


def whole_number(name: str, value: object, low: int, high: int, what: str = "") -> int:
    """``value`` as an int: any integer type, or a float with no fraction.

    TypeError for what is not a number; ValueError for a fraction or a value
    outside ``low``..``high``.
    """
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a whole number{what}, not {value!r}")
    v = float(value)
    if not math.isfinite(v) or not v.is_integer() or not low <= v <= high:
        raise ValueError(f"{name} {value!r} must be a whole number{what} from {low} to {high}")
    return int(value)


def _number(owner: str, name: str, value: object, unit: str) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{owner}: {name} must be a number{unit}, not {value!r}")
    return float(value)


@dataclass(frozen=True)
class Band:
    """Common fields of every band; use one of the concrete types."""

    type_code: ClassVar[int] = -1
    freq: float
    # Everything after the frequency by name: the second number means gain
    # to a bell and Q to a pass filter, so a position would be a trap.
    _: KW_ONLY
    gain: float = 0.0
    q: float = DEFAULT_Q
    channel: str = "both"
    off: bool = False

    def __post_init__(self) -> None:
        if type(self) is Band:
            raise TypeError("Band is abstract: use Peak, LowShelf, HighShelf, HighPass or LowPass")
        name = type(self).__name__
        freq = _number(name, "freq", self.freq, " (Hz)")
        gain = _number(name, "gain", self.gain, " (dB)")
        q = _number(name, "q", self.q, "")
        # Normalised to plain floats so records compare and print cleanly.
        object.__setattr__(self, "freq", freq)
        object.__setattr__(self, "gain", gain)
        object.__setattr__(self, "q", q)
        if not math.isfinite(freq) or freq <= 0.0:
            raise ValueError(f"{self!r}: freq {freq:g} Hz must be above 0")
        if not math.isfinite(q) or q <= 0.0 or q > MAX_Q:
            raise ValueError(f"{self!r}: q {q:g} must be above 0 and at most {MAX_Q:g}")
        if not math.isfinite(gain):
            raise ValueError(f"{self!r}: gain {gain:g} is not a finite number of dB")
        if abs(gain) > MAX_GAIN_DB:
            raise ValueError(f"{self!r}: gain {gain:g} dB must lie within ±{MAX_GAIN_DB:g} dB")
        if not isinstance(self.channel, str) or self.channel not in CHANNELS:
            raise ValueError(
                f"{self!r}: unknown channel {self.channel!r} (expected both, left, right, mid or side)"
            )
        if not isinstance(self.off, (bool, np.bool_)):
            raise TypeError(f"{self!r}: off must be True or False, not {self.off!r}")
        object.__setattr__(self, "off", bool(self.off))


@dataclass(frozen=True)
class Peak(Band):
    """Bell around ``freq`` (Hz): ``gain`` dB at the centre, width set by ``q``."""

    type_code: ClassVar[int] = 0


@dataclass(frozen=True)
class LowShelf(Band):
    """Shelf below the corner ``freq`` (Hz): ``gain`` dB on the plateau, half of it at the corner."""

    type_code: ClassVar[int] = 1


@dataclass(frozen=True)
class HighShelf(Band):
    """Shelf above the corner ``freq`` (Hz): ``gain`` dB on the plateau, half of it at the corner."""

    type_code: ClassVar[int] = 2


@dataclass(frozen=True)
class _Pass(Band):
    # A pass filter has no gain: its level at freq is 40*log10(q) dB.
    gain: float = field(default=0.0, init=False, repr=False)


@dataclass(frozen=True)
class HighPass(_Pass):
    """24 dB/octave high-pass at ``freq`` (Hz); level 40*log10(q) dB there (-6 dB at q 0.7071)."""

    type_code: ClassVar[int] = 3


@dataclass(frozen=True)
class LowPass(_Pass):
    """24 dB/octave low-pass at ``freq`` (Hz); level 40*log10(q) dB there (-6 dB at q 0.7071)."""

    type_code: ClassVar[int] = 4


def band_limit(rate: int) -> float:
    """Lowest frequency (Hz) the engine ignores at ``rate``: 0.453515 x rate, in single precision."""
    return float(np.float32(rate) * np.float32(BAND_LIMIT))


def check_rate(rate: object) -> int:
    return whole_number("rate", rate, MIN_RATE, MAX_RATE, " of Hz")


def check_mode(mode: object) -> int:
    # The same rule as every other count: 2, np.int64(2) and 2.0 all mean mode 2.
    try:
        return whole_number("mode", mode, 0, 3)
    except ValueError:
        raise ValueError(f"mode {mode!r} is not 0, 1, 2 or 3") from None


def check_flag(name: str, value: object) -> bool:
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be True or False, not {value!r}")
    return bool(value)


def check_bands(bands: Iterable[Band], rate: int, mode: int | None = None) -> tuple[Band, ...]:
    """The bands as a tuple, each checked against the band limit at ``rate``.

    With ``mode``, a :class:`LintaqWarning` names each band that rings for
    longer than the mode's lookahead holds (its shape is then approximate).
    """
    if isinstance(bands, Band):
        bands = (bands,)
    try:
        if isinstance(bands, (str, bytes)):
            raise TypeError
        out = tuple(bands)
    except TypeError:
        raise TypeError(f"bands must be a sequence of band records, not {bands!r}") from None
    if len(out) > BANDS:
        raise ValueError(f"{len(out)} bands given; the equaliser has {BANDS} (the 13th is {out[BANDS]!r})")
    limit = np.float32(rate) * np.float32(BAND_LIMIT)
    for i, b in enumerate(out, 1):
        if not isinstance(b, Band):
            raise TypeError(f"band {i}: expected Peak, LowShelf, HighShelf, HighPass or LowPass, not {b!r}")
        if np.float32(b.freq) >= limit:
            raise ValueError(
                f"band {i}, {b!r}: freq {b.freq:g} Hz is at or above the band limit of {limit:.1f} Hz "
                f"for {rate} Hz audio (0.453515 × rate)"
            )
        if mode is None or b.off:
            continue
        # A resonance falls by 40 dB in about 4.6*Q/(pi*f) seconds; beyond
        # the lookahead the band's tail is cut.
        ring = 4.6 * max(b.q, 0.5) / (math.pi * b.freq)
        if ring > _LOOKAHEAD[mode] / rate:
            fits = [m for m in (3, 2, 1, 0) if _LOOKAHEAD[m] / rate >= ring]
            advice = f"mode {fits[0]} holds it" if fits else "even mode 0 is too short"
            warn(
                f"band {i}, {b!r}: rings for about {ring * 1000:.0f} ms, longer than mode {mode}'s "
                f"lookahead of {_LOOKAHEAD[mode] / rate * 1000:.0f} ms, so its shape is approximate ({advice})"
            )
    return out


def oversample_active(oversample: bool, rate: int) -> bool:
    return oversample and rate < _OVERSAMPLE_BELOW


def make_params(
    bands: Sequence[Band], rate: int, noise: bool, oversample: bool, include: Sequence[bool] | None = None
) -> PeqParams:
    """The engine's parameter block; unused slots hold the engine's start values."""
    p = PeqParams()
    for k in range(BANDS):
        p.freq[k], p.gain[k], p.q[k], p.enable[k], p.type[k] = 1000.0, 0.0, 0.7, 0, 0
    for k, b in enumerate(bands):
        p.freq[k], p.gain[k], p.q[k], p.type[k] = b.freq, b.gain, b.q, b.type_code
        on = not b.off and (include is None or include[k])
        p.enable[k] = CHANNELS[b.channel] if on else 0
    p.sampleRate = rate
    p.noise = 1 if noise else 0
    p.oversample = 1 if oversample_active(oversample, rate) else 0
    return p
