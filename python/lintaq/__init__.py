"""Lintaq for Python: the twelve-band linear-phase equaliser on numpy arrays.

Offline::

    import lintaq, soundfile
    audio, rate = soundfile.read("in.wav", dtype="float32")
    out = lintaq.equalize(audio, rate, [lintaq.HighPass(30), lintaq.Peak(3000, gain=-4, q=2)])

Files of any length, in constant memory: :func:`equalize_file`.
Streaming: :class:`Equalizer` (``process`` or call it block by block, fixed
:attr:`~Equalizer.latency`, :meth:`~Equalizer.flush` for the tail). The
curve: :func:`response` (``kind="ideal"`` or ``"engine"``). Output is
always float32.

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
from .engine import BLOCK, LATENCY, Equalizer, Layout, equalize, latency, live_instances
from .files import FileResult, equalize_file
from .graph import KINDS, VIEWS, Curve, Response, measured_response, response
from .preset import Preset, load_preset, parse_preset

__version__ = "1.0.11"


def engine_version() -> int:
    """The library's interface version (0x1000b)."""
    from ._library import library

    return int(library().LintaqGetVersion())


__all__ = [
    "Band", "Peak", "LowShelf", "HighShelf", "HighPass", "LowPass", "CHANNELS", "LintaqWarning",
    "MAX_GAIN_DB", "MAX_Q", "BAND_LIMIT", "band_limit",
    "Equalizer", "equalize", "latency", "LATENCY", "live_instances", "Layout", "BLOCK",
    "equalize_file", "FileResult", "Preset", "load_preset", "parse_preset",
    "response", "measured_response", "Response", "Curve", "VIEWS", "KINDS",
    "LibraryNotFoundError", "library_path", "engine_version",
]
