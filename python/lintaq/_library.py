"""Finding and loading liblintaq, and the C declarations of its interface.

The library is looked for, in this order:

1. the file named by the environment variable ``LINTAQ_LIBRARY`` (or the
   ``liblintaq.so`` in the folder it names, such as a build folder),
   absolute or relative to the current folder: set, it overrides the rest;
2. next to this package (the copy ``pip install ./python`` builds and
   bundles);
3. the system's library path (``liblintaq.so.1``, then what
   ``ctypes.util.find_library("lintaq")`` reports).

The first that loads and has a compatible interface wins; when none does,
:class:`LibraryNotFoundError` lists every place tried and why it failed.

ctypes releases the interpreter lock for the duration of every call into
the library, so instances running on different threads filter in parallel.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from pathlib import Path

__all__ = ["LibraryNotFoundError", "PeqParams", "PeqGraph", "library", "library_path"]

ENV_VAR = "LINTAQ_LIBRARY"
BANDS = 12
# Major version of the C interface this package speaks (LintaqGetVersion >> 16).
_ABI_MAJOR = 1


class LibraryNotFoundError(OSError):
    """No usable liblintaq was found; the message lists every place tried."""


class PeqParams(ctypes.Structure):
    """The engine's parameter block: 63 consecutive 32-bit words."""

    _fields_ = [
        ("freq", ctypes.c_float * BANDS),
        ("gain", ctypes.c_float * BANDS),
        ("q", ctypes.c_float * BANDS),
        ("enable", ctypes.c_uint32 * BANDS),
        ("type", ctypes.c_uint32 * BANDS),
        ("sampleRate", ctypes.c_int32),
        ("noise", ctypes.c_uint32),
        ("oversample", ctypes.c_uint32),
    ]


class PeqGraph(ctypes.Structure):
    """A response grid: a point count and the squared warped frequencies."""

    _fields_ = [("pointCount", ctypes.c_int32), ("warpedSq", ctypes.POINTER(ctypes.c_float))]


assert ctypes.sizeof(PeqParams) == 63 * 4


def _declare(lib: ctypes.CDLL) -> None:
    inst = ctypes.c_void_p
    fptr = ctypes.POINTER(ctypes.c_float)
    params = ctypes.POINTER(PeqParams)
    graph = ctypes.POINTER(PeqGraph)
    table = {
        "LintaqInit": (inst, [ctypes.c_int, ctypes.c_int]),
        "LintaqSetPar": (None, [inst, params]),
        "LintaqExit": (None, [inst]),
        "LintaqGetLatency": (ctypes.c_int, [inst]),
        "LintaqGetVersion": (ctypes.c_int, []),
        # Sample arrays go by address: cheaper per call than a typed pointer.
        "LintaqProc": (None, [inst, ctypes.c_void_p, ctypes.c_int]),
        "LintaqProcST": (None, [inst, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int]),
        "InitPeqGraph": (graph, [params, ctypes.c_int, ctypes.c_float, ctypes.c_float]),
        "ExitPeqGraph": (None, [graph]),
        "LintaqGraph": (None, [params, graph, fptr, ctypes.c_int]),
    }
    for name, (restype, argtypes) in table.items():
        fn = getattr(lib, name)  # AttributeError names the missing symbol
        fn.restype = restype
        fn.argtypes = argtypes


def _candidates() -> list[tuple[str, str]]:
    """(description, name or path to load) in the order they are tried."""
    out: list[tuple[str, str]] = []
    env = os.environ.get(ENV_VAR)
    if env:
        # A build folder will do as well as the file in it; a relative path
        # is taken from the current folder, once, when the library loads.
        path = os.path.abspath(env)
        out.append((f"${ENV_VAR}", os.path.join(path, "liblintaq.so") if os.path.isdir(path) else path))
        return out
    out.append((f"${ENV_VAR}", "(not set)"))
    here = Path(__file__).resolve().parent
    beside = sorted(here.glob("liblintaq.so*")) + sorted(here.glob("liblintaq*.dylib")) + sorted(
        here.glob("lintaq.dll")
    )
    if beside:
        out += [("next to the package", str(p)) for p in beside]
    else:
        out.append(("next to the package", f"{here}/liblintaq.so (no such file)"))
    out.append(("system library path", "liblintaq.so.1"))
    found = ctypes.util.find_library("lintaq")
    if found and found != "liblintaq.so.1":
        out.append(("system library path (find_library)", found))
    return out


_lock = threading.Lock()
_lib: ctypes.CDLL | None = None
_path: str | None = None


def _load() -> tuple[ctypes.CDLL, str]:
    failures = []
    for where, name in _candidates():
        if name.endswith("(no such file)") or name == "(not set)":
            failures.append(f"  {where}: {name}")
            continue
        try:
            lib = ctypes.CDLL(name)
            _declare(lib)
            version = lib.LintaqGetVersion()
        except (OSError, AttributeError) as e:
            failures.append(f"  {where}: {name}: {e}")
            continue
        if version >> 16 != _ABI_MAJOR:
            failures.append(
                f"  {where}: {name}: interface version {version:#x}, this package needs {_ABI_MAJOR}.x"
            )
            continue
        return lib, name
    raise LibraryNotFoundError(
        "cannot load liblintaq; tried, in order:\n"
        + "\n".join(failures)
        + "\nTwo ways to fix it:\n"
        "  1. install the package from the repository, which builds and bundles the library:\n"
        "     pip install --no-build-isolation ./python   (needs cmake and a C++ compiler)\n"
        f"  2. build it (cmake -S . -B build && cmake --build build) and point {ENV_VAR} at it:\n"
        f"     export {ENV_VAR}=$PWD/build/liblintaq.so"
    )


def library() -> ctypes.CDLL:
    """The loaded library, loading it on first use (thread-safe)."""
    global _lib, _path
    if _lib is None:
        with _lock:
            if _lib is None:
                _lib, _path = _load()
    return _lib


def library_path() -> str:
    """Path or name of the library in use (loads it if needed)."""
    library()
    assert _path is not None
    return _path
