"""Audio files of any length, equalised in blocks through soundfile."""

from __future__ import annotations

import os
import secrets
from pathlib import Path
from typing import Any, Iterable, NamedTuple, Optional, Union

import numpy as np

from .bands import Band, whole_number
from .engine import BLOCK, Equalizer, run_aligned

__all__ = ["equalize_file", "FileResult"]

PathLike = Union[str, "os.PathLike[str]"]
# File extensions whose container differs in name from the extension.
_EXTENSIONS = {"aif": "AIFF", "oga": "OGG"}
# libsndfile's command numbers
_SFC_SET_ADD_PEAK_CHUNK = 0x1050
_SFC_SET_CLIPPING = 0x10C0


class FileResult(NamedTuple):
    """What :func:`equalize_file` wrote."""

    path: Path
    frames: int
    rate: int
    channels: int
    format: str
    subtype: str


def _output_format(dst: Path, input_format: str, format: Optional[str]) -> str:
    import soundfile as sf

    known = sf.available_formats()
    if format is not None:
        if format.upper() not in known:
            raise ValueError(f"unknown format {format!r} (known: {', '.join(sorted(known))})")
        return format.upper()
    ext = dst.suffix[1:].lower()
    name = _EXTENSIONS.get(ext, ext.upper())
    return name if name in known else input_format


def equalize_file(
    src: PathLike,
    dst: PathLike,
    bands: Iterable[Band],
    *,
    mode: int = 2,
    oversample: bool = True,
    noise: bool = False,
    overwrite: bool = False,
    format: Optional[str] = None,
    subtype: str = "FLOAT",
    block: int = BLOCK,
) -> FileResult:
    """Equalises the audio file ``src`` into ``dst``, aligned sample for
    sample, reading and writing ``block`` frames at a time: memory stays a
    few blocks whatever the file's length.

    Reads anything libsndfile reads. Writes 32-bit float samples by default
    (``subtype``), in the container ``format`` names, else the one
    ``dst``'s extension names, else the input's. With the default subtype
    the samples equal, bit for bit, those of ``lintaq process SRC DST
    --float`` with the same settings. Mono and stereo files run through one
    :class:`Equalizer`; a file with more channels runs channel by channel,
    each channel as a mono file would.

    The output is written to a temporary file beside ``dst`` and appears
    only when complete. An existing ``dst`` is never replaced unless
    ``overwrite=True`` (FileExistsError). Other refusals: ValueError for
    settings and formats the file cannot take, OSError (from soundfile)
    for files that cannot be read.
    """
    import soundfile as sf

    src_path, dst_path = Path(src), Path(dst)
    bands = tuple(bands)
    size = whole_number("block", block, 1, 1 << 24, " of frames")
    if not overwrite and (dst_path.exists() or dst_path.is_symlink()):
        raise FileExistsError(f"{dst_path} exists; pass overwrite=True to replace it")
    if dst_path.is_dir():
        raise IsADirectoryError(f"{dst_path} is a folder")
    with sf.SoundFile(str(src_path)) as fin:
        rate, channels, frames = fin.samplerate, fin.channels, fin.frames
        fmt = _output_format(dst_path, fin.format, format)
        if not sf.check_format(fmt, subtype):
            raise ValueError(f"a {fmt} file cannot hold {subtype} samples")
        groups = [2] if channels == 2 else [1] * channels
        eqs = [Equalizer(rate, c, layout="channels_first", mode=mode, oversample=oversample, noise=noise,
                         bands=bands if c == 2 or channels == 1 else _mono_ok(bands)) for c in groups]
        meta = fin.copy_metadata()
        tmp = _create_temporary(dst_path)
        try:
            with sf.SoundFile(tmp, "w", rate, channels, subtype=subtype, format=fmt) as fout:
                _as_the_tool_writes(sf, fout, subtype)
                for key, value in meta.items():
                    setattr(fout, key, value)

                def read(start: int, stop: int, dest: np.ndarray) -> None:
                    data = fin.read(stop - start, dtype="float32", always_2d=True)
                    dest[:, : len(data)] = data.T
                    dest[:, len(data) :] = 0.0  # a file shorter than its header says

                def write(start: int, planar: np.ndarray) -> None:
                    m = min(planar.shape[1], frames - start)
                    if m > 0:
                        fout.write(planar[:, :m].T)

                run_aligned(eqs, frames, read, write, size)
            if overwrite:
                os.replace(tmp, dst_path)
            else:
                os.link(tmp, dst_path)  # fails if dst appeared meanwhile: never replaced
                os.unlink(tmp)
        except BaseException:
            if os.path.exists(tmp):
                os.unlink(tmp)
            raise
        finally:
            for eq in eqs:
                eq.close()
    return FileResult(dst_path, frames, rate, channels, fmt, subtype)


def _as_the_tool_writes(sf: Any, fout: Any, subtype: str) -> None:
    # As the command-line tool does. A float file's PEAK chunk records the
    # time of writing, so without dropping it the same input would give
    # different bytes from one second to the next; integer samples beyond
    # full scale clip instead of wrapping around. soundfile has no public
    # call for either.
    try:
        sf._snd.sf_command(fout._file, _SFC_SET_ADD_PEAK_CHUNK, sf._ffi.NULL, 0)
        if subtype.upper().startswith(("PCM", "DPCM", "ALAW", "ULAW")):
            sf._snd.sf_command(fout._file, _SFC_SET_CLIPPING, sf._ffi.NULL, 1)
    except AttributeError:  # another soundfile: the samples are the same, the header may differ
        pass


def _mono_ok(bands: Iterable[Band]) -> list[Band]:
    # Channel by channel, each channel is a mono stream: every band applies
    # to it, as to a mono file, whatever it is routed to.
    import dataclasses

    return [dataclasses.replace(b, channel="both") for b in bands]


def _create_temporary(dst: Path) -> str:
    # Created beside the target (so the final rename stays in one file
    # system) with the permissions a new file gets, under a hidden name.
    while True:
        path = str(dst.parent / f".{dst.name}.{secrets.token_hex(4)}.tmp")
        try:
            os.close(os.open(path, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o666))
            return path
        except FileExistsError:
            continue
