#!/usr/bin/env python3
"""Draw the equaliser's ideal curve and what the engine really does:
python3 plot_response.py CURVE.png [--rate HZ] [--mode 0..3]"""

import argparse

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt  # noqa: E402

import lintaq  # noqa: E402
from smile import BANDS  # noqa: E402

parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
parser.add_argument("output")
parser.add_argument("--rate", type=int, default=48000)
parser.add_argument("--mode", type=int, default=2)
args = parser.parse_args()

drawn = lintaq.response(BANDS, args.rate)                                  # kind="ideal"
measured = lintaq.response(BANDS, args.rate, kind="engine", mode=args.mode)

fig, ax = plt.subplots(figsize=(9, 4.5), dpi=100)
for k, (band, db) in enumerate(zip(BANDS, drawn.bands), 1):
    ax.semilogx(drawn.freqs, db, lw=1, alpha=0.5, label=f"{k} {type(band).__name__} {band.freq:g} Hz")
ax.semilogx(drawn.freqs, drawn.total, color="black", lw=3, label="total, ideal")
ax.semilogx(measured.freqs, measured.total, color="#e6a700", lw=1.6, ls="--", label="total, through the engine")
ax.set(xlim=(20, drawn.freqs[-1]), ylim=(-12, 12), xlabel="frequency (Hz)", ylabel="gain (dB)",
       title=f"Lintaq: smile preset, {args.rate} Hz, mode {args.mode}")
ax.grid(True, which="both", alpha=0.3)
ax.legend(fontsize=8, loc="lower right", ncol=2)
fig.tight_layout()
fig.savefig(args.output)
worst = abs(measured.total - drawn.total)[drawn.total > -30].max()
print(f"{args.output}: the engine within {worst:.2f} dB of the ideal curve (where it is above -30 dB)")
