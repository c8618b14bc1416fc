#!/usr/bin/env python3
"""Equalise a mono or stereo audio file: python3 equalize_file.py IN OUT [--mode 0..3]

Reads anything libsndfile reads, writes 32-bit float samples (which cannot
clip), aligned sample for sample with the input.
"""

import argparse
import time

import numpy as np
import soundfile as sf

import lintaq
from smile import BANDS

parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("input")
parser.add_argument("output")
parser.add_argument("--mode", type=int, default=2, help="0 (longest lookahead) .. 3 (shortest latency)")
args = parser.parse_args()

audio, rate = sf.read(args.input, dtype="float32")  # (n,) mono or (n, 2) stereo
started = time.perf_counter()
out = lintaq.equalize(audio, rate, BANDS, mode=args.mode)
took = time.perf_counter() - started
sf.write(args.output, out, rate, subtype="FLOAT")
seconds = len(audio) / rate
peak = 20 * np.log10(max(float(np.abs(out).max()), 1e-12))
print(f"{args.output}: {seconds:.2f} s at {rate} Hz, {took:.2f} s ({seconds / took:.0f}x real time), "
      f"peak {peak:+.1f} dBFS")
