#!/usr/bin/env python3
"""Python overhead and thread scaling of lintaq, as ratios within one run.

    LINTAQ_LIBRARY=build/liblintaq.so PYTHONPATH=python python3 python/bench/bench_throughput.py

Prints seconds of stereo audio equalised per second of wall time (48 kHz,
mode 2, the 'smile' bands, oversampling and noise on) through
lintaq.equalize and Equalizer.process, against the same work done by the
library called from C (throughput.c, compiled here with cc), at
1024-sample blocks and at whole-file blocks; then the speed-up of four
threads over one, each thread equalising its own file. C and Python runs
alternate and the best of --repeat counts, to damp the noise of a shared
machine.
"""

import argparse
import os
import subprocess
import tempfile
import threading
import time
from pathlib import Path

import numpy as np

import lintaq

HERE = Path(__file__).resolve().parent
BANDS = [lintaq.HighPass(30), lintaq.LowShelf(120, gain=4.0), lintaq.Peak(400, gain=-3.0, q=1.0),
         lintaq.Peak(3000, gain=2.0, q=1.4), lintaq.HighShelf(10000, gain=3.0)]
RATE = 48000


def best(fn, repeat):
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times)


def c_speed(exe, seconds, block):
    return float(subprocess.run([exe, str(seconds), str(block)], check=True, capture_output=True,
                                text=True).stdout)


def streamed(audio, block):
    with lintaq.Equalizer(RATE, 2, layout="channels_first", noise=True, bands=BANDS) as eq:
        tail = np.zeros((2, eq.latency), np.float32)
        for part in (audio, tail):
            for at in range(0, part.shape[1], block):
                eq.process(part[:, at:at + block])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seconds", type=float, default=20.0)
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()
    lib = Path(lintaq.library_path()).resolve()
    repo = HERE.parents[1]
    with tempfile.TemporaryDirectory() as tmp:
        exe = os.path.join(tmp, "throughput")
        subprocess.run(["cc", "-O2", "-I", repo / "include", HERE / "throughput.c", "-o", exe, str(lib),
                        f"-Wl,-rpath,{lib.parent}"], check=True)
        audio = (np.random.default_rng(0).standard_normal((2, int(args.seconds * RATE))) * 0.1).astype(np.float32)
        s = args.seconds
        rows = []
        cases = [("1024-sample blocks, equalize", 1024, lambda: lintaq.equalize(audio, RATE, BANDS, noise=True, block=1024)),
                 ("1024-sample blocks, Equalizer", 1024, lambda: streamed(audio, 1024)),
                 ("whole-file blocks, equalize", 0, lambda: lintaq.equalize(audio, RATE, BANDS, noise=True))]
        for label, block, python in cases:
            # C and Python take turns, so both see the same load on a shared machine.
            c = p = 0.0
            for _ in range(args.repeat):
                c = max(c, c_speed(exe, s, block))
                p = max(p, s / best(python, 1))
            rows.append((label, c, p))
        print(f"liblintaq: {lib}\n{s:g} s of 48 kHz stereo, mode 2, smile bands, oversampling and noise on")
        print(f"{'':34} {'C (s/s)':>9} {'Python (s/s)':>13} {'Python/C':>9}")
        for label, c, p in rows:
            print(f"{label:34} {c:9.1f} {p:13.1f} {p / c:9.3f}")

        clips = [audio[:, : int(RATE * s / 2)].copy() for _ in range(4)]

        def run(threads):
            if threads == 1:
                for clip in clips:
                    lintaq.equalize(clip, RATE, BANDS, noise=True)
                return
            workers = [threading.Thread(target=lintaq.equalize, args=(clip, RATE, BANDS), kwargs={"noise": True}) for clip in clips]
            for w in workers:
                w.start()
            for w in workers:
                w.join()

        one = four = float("inf")
        busy = 0.0
        for _ in range(args.repeat):  # alternating, as above
            one = min(one, best(lambda: run(1), 1))
            cpu, wall = time.process_time(), time.perf_counter()
            run(4)
            wall = time.perf_counter() - wall
            four = min(four, wall)
            # CPU time above wall time means the threads really ran at once.
            busy = max(busy, (time.process_time() - cpu) / wall)
        print(f"4 files of {s / 2:g} s: one thread {one:.2f} s, four threads {four:.2f} s: "
              f"speed-up {one / four:.2f}x on {os.cpu_count()} cores (CPU time / wall time {busy:.2f} "
              f"with four threads; load average {os.getloadavg()[0]:.1f})")


if __name__ == "__main__":
    main()
