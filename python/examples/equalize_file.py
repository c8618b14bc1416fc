#!/usr/bin/env python3
"""Equalise an audio file: python3 equalize_file.py IN OUT [--mode 0..3] [--preset FILE] [--overwrite]

Reads anything libsndfile reads, in blocks (any length, little memory),
writes 32-bit float samples (which cannot clip), aligned sample for sample
with the input. OUT is never replaced unless --overwrite is given.
"""

import argparse
import sys
import time

import soundfile as sf

import lintaq
from smile import BANDS

parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("input")
parser.add_argument("output")
parser.add_argument("--mode", type=int, default=None, help="0 (longest lookahead) .. 3 (shortest latency)")
parser.add_argument("--preset", help="a JSON preset in the lintaq tool's format (default: the smile bands)")
parser.add_argument("--overwrite", action="store_true", help="replace OUT if it exists")
args = parser.parse_args()

preset = lintaq.load_preset(args.preset) if args.preset else lintaq.Preset("smile", BANDS)
started = time.perf_counter()
try:
    done = lintaq.equalize_file(args.input, args.output, preset.bands, mode=args.mode if args.mode is not None else preset.mode,
                                oversample=preset.oversample, noise=preset.noise, overwrite=args.overwrite)
except FileExistsError:
    sys.exit(f"equalize_file.py: {args.output} exists; pass --overwrite to replace it")
except (ValueError, sf.LibsndfileError) as e:
    sys.exit(f"equalize_file.py: {e}")
took = time.perf_counter() - started
seconds = done.frames / done.rate
print(f"{done.path}: {seconds:.2f} s at {done.rate} Hz, {done.channels} channel(s), "
      f"{took:.2f} s ({seconds / max(took, 1e-9):.0f}x real time)")
