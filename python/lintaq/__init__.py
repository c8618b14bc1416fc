"""Lintaq for Python: the twelve-band linear-phase equaliser on numpy arrays.

Offline::

    import lintaq, soundfile
    audio, rate = soundfile.read("in.wav", dtype="float32")
    out = lintaq.equalize(audio, rate, [lintaq.HighPass(30), lintaq.Peak(3000, -4, q=2)])

Streaming: :class:`Equalizer` (``process`` block by block, fixed
:attr:`~Equalizer.latency`). The curve: :func:`response` (drawn) and
:func:`measured_response` (through the engine).

The engine changes magnitude only (zero phase) and delays a stream by a
fixed latency per mode (:data:`LATENCY`); :func:`equalize` trims it.
Everything runs in the shared library ``liblintaq`` through ctypes; see
:mod:`lintaq._library` for where it is looked for.
"""

from ._library import LibraryNotFoundError, library_path
from .bands import (
    BAND_LIMIT,
    CHANNELS,
    MAX_GAIN_DB,
    MAX_Q,
    Band,
    HighPass,
    HighShelf,
    LintaqWarning,
    LowPass,
    LowShelf,
    Peak,
    band_limit,
)
from .engine import LATENCY, Equalizer, equalize, latency, live_instances
from .graph import VIEWS, Curve, Response, measured_response, response

__version__ = "1.0.11"


def engine_version() -> int:
    """The library's interface version (0x1000b)."""
    from ._library import library

    return int(library().LintaqGetVersion())


__all__ = [
    "Band", "Peak", "LowShelf", "HighShelf", "HighPass", "LowPass", "CHANNELS", "LintaqWarning",
    "MAX_GAIN_DB", "MAX_Q", "BAND_LIMIT", "band_limit",
    "Equalizer", "equalize", "latency", "LATENCY", "live_instances",
    "response", "measured_response", "Response", "Curve", "VIEWS",
    "LibraryNotFoundError", "library_path", "engine_version",
]
