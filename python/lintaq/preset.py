"""Presets in the command-line tool's JSON format (what ``lintaq preset``
prints and ``lintaq process --preset`` reads)::

    {"name": "smile", "mode": 2, "oversample": true, "noise": false,
     "bands": [{"type": "highpass", "freq": 30, "q": 0.7071},
               {"type": "peak", "freq": 3000, "gain": 2.0, "q": 1.4, "channel": "mid"}]}

Only ``bands`` is required; a band needs ``type`` and ``freq`` and may have
``gain``, ``q``, ``channel`` and ``enabled``. The same fields and the same
refusals as the tool: an unknown field is an error, not ignored.
"""

from __future__ import annotations

import json
import numbers
from pathlib import Path
from typing import Any, NamedTuple, Union

from .bands import Band, HighPass, HighShelf, LowPass, LowShelf, Peak

__all__ = ["Preset", "load_preset", "parse_preset"]

_TYPES: dict[str, type[Band]] = {
    "peak": Peak, "bell": Peak, "lowshelf": LowShelf, "highshelf": HighShelf,
    "highpass": HighPass, "lowpass": LowPass,
}


class Preset(NamedTuple):
    """A preset's settings, ready for :class:`Equalizer` or :func:`equalize`."""

    name: str
    bands: tuple[Band, ...]
    mode: int = 2
    oversample: bool = True
    noise: bool = False


def _number(value: Any, where: str, unit: str) -> float:
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise ValueError(f"{where} must be a number{unit}, not {json.dumps(value)}")
    return float(value)


def _band(j: Any, where: str) -> Band:
    if not isinstance(j, dict):
        raise ValueError(f"{where}: a band must be a JSON object")
    for key in ("type", "freq"):
        if key not in j:
            raise ValueError(f"{where}: {key} is missing")
    fields: dict[str, Any] = {}
    kind: type[Band] = Peak
    for key, value in j.items():
        if key == "type":
            if not isinstance(value, str):
                raise ValueError(f"{where}: type must be a string")
            name = "".join(c for c in value.lower() if c not in "-_ ")
            if name not in _TYPES:
                raise ValueError(f"{where}: unknown type \"{value}\" "
                                 "(expected peak, lowshelf, highshelf, highpass or lowpass)")
            kind = _TYPES[name]
        elif key in ("freq", "gain", "q"):
            fields[key] = _number(value, f"{where}: {key}", {"freq": " (Hz)", "gain": " (dB)", "q": ""}[key])
        elif key == "channel":
            if not isinstance(value, str):
                raise ValueError(f"{where}: channel must be a string")
            fields["channel"] = value.lower()
        elif key == "enabled":
            if not isinstance(value, bool):
                raise ValueError(f"{where}: enabled must be true or false")
            fields["off"] = not value
        else:
            raise ValueError(f"{where}: unknown field \"{key}\" (a band has type, freq, gain, q, channel, enabled)")
    if kind in (HighPass, LowPass):
        fields.pop("gain", None)  # a pass filter has no gain; the tool ignores it too
    freq = fields.pop("freq")
    return kind(freq, **fields)


def parse_preset(text: str, source: str = "<text>") -> Preset:
    """A preset from JSON text; ``source`` names it in messages (ValueError)."""
    try:
        j = json.loads(text)
    except json.JSONDecodeError as e:
        raise ValueError(f"preset {source}: invalid JSON: {e}") from None
    if not isinstance(j, dict):
        raise ValueError(f"preset {source}: the top level must be a JSON object")
    name, mode, oversample, noise, bands = "", 2, True, False, []
    for key, value in j.items():
        where = f"preset {source}: {key}"
        if key == "name":
            if not isinstance(value, str):
                raise ValueError(f"{where} must be a string")
            name = value
        elif key == "description":
            pass
        elif key == "mode":
            if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value <= 3:
                raise ValueError(f"{where} must be a whole number from 0 to 3")
            mode = value
        elif key in ("oversample", "noise"):
            if not isinstance(value, bool):
                raise ValueError(f"{where} must be true or false")
            oversample, noise = (value, noise) if key == "oversample" else (oversample, value)
        elif key == "bands":
            if not isinstance(value, list):
                raise ValueError(f"{where} must be an array of bands")
            bands = [_band(b, f"preset {source}, band {i}") for i, b in enumerate(value, 1)]
        else:
            raise ValueError(f"preset {source}: unknown field \"{key}\" "
                             "(a preset has name, description, mode, oversample, noise, bands)")
    if "bands" not in j:
        raise ValueError(f"preset {source}: bands is missing")
    return Preset(name, tuple(bands), mode, oversample, noise)


def load_preset(path: Union[str, Path]) -> Preset:
    """A preset from a JSON file (OSError if it cannot be read, ValueError if it is not a preset)."""
    p = Path(path)
    preset = parse_preset(p.read_text(encoding="utf-8"), f'"{p}"')
    return preset if preset.name else preset._replace(name=str(p))
