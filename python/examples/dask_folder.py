#!/usr/bin/env python3
"""Equalise a folder of audio files across the workers of a Dask cluster:
python3 dask_folder.py IN_FOLDER OUT_FOLDER [--preset FILE] [--workers N | --scheduler ADDRESS]

Each file is one task: a worker streams it through lintaq.equalize_file
(constant memory, 32-bit float output, the bits of `lintaq process
--float`) into OUT_FOLDER under the same name. Without --scheduler a local
cluster of N single-threaded worker processes is started on the loopback
interface; with it, the workers of a running cluster are used (every
worker needs the lintaq package installed and OUT_FOLDER reachable at the
same path, e.g. on a shared file system). A failed file is reported with
its error; the others are still written. Exit status 1 if any failed.
"""

import argparse
import sys
import time
from pathlib import Path

from distributed import Client, LocalCluster, as_completed

AUDIO = {".wav", ".flac", ".aif", ".aiff", ".w64", ".rf64", ".caf", ".au", ".ogg", ".mp3", ".opus"}


def equalize_one(src: str, dst: str, preset: "str | None", overwrite: bool) -> tuple[str, float]:
    """Runs on a worker: one file, with the preset's settings (or the tool's default bands)."""
    import lintaq  # imported on the worker

    if preset:
        p = lintaq.load_preset(preset)
    else:
        from smile import BANDS

        p = lintaq.Preset("smile", tuple(BANDS))
    done = lintaq.equalize_file(src, dst, p.bands, mode=p.mode, oversample=p.oversample, noise=p.noise,
                                overwrite=overwrite)
    return src, done.frames / done.rate


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("input_folder", type=Path)
    ap.add_argument("output_folder", type=Path)
    ap.add_argument("--preset", help="a JSON preset in the lintaq tool's format (default: the smile bands)")
    ap.add_argument("--workers", type=int, default=2, help="local worker processes (default 2)")
    ap.add_argument("--scheduler", help="address of a running cluster's scheduler, e.g. tcp://10.0.0.5:8786")
    ap.add_argument("--overwrite", action="store_true", help="replace files already in OUT_FOLDER")
    args = ap.parse_args()

    files = sorted(p for p in args.input_folder.iterdir() if p.suffix.lower() in AUDIO)
    args.output_folder.mkdir(parents=True, exist_ok=True)
    preset = str(args.preset and Path(args.preset).resolve() or "")
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        # Loopback only, no dashboard: nothing is reachable from outside.
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                               host="127.0.0.1", dashboard_address=None)
        client = Client(cluster)
    started = time.perf_counter()
    # This folder travels with the tasks, so workers find smile.py.
    client.upload_file(str(Path(__file__).with_name("smile.py")))
    futures = [client.submit(equalize_one, str(f.resolve()), str((args.output_folder / f.name).resolve()),
                             preset or None, args.overwrite, pure=False) for f in files]
    failed, audio = 0, 0.0
    for future in as_completed(futures):
        try:
            src, seconds = future.result()
            audio += seconds
            print(f"done {Path(src).name} ({seconds:.1f} s)")
        except Exception as e:  # one file's failure must not lose the others
            failed += 1
            print(f"failed: {e}", file=sys.stderr)
    took = time.perf_counter() - started
    workers = len(client.scheduler_info()["workers"])
    print(f"{len(files) - failed} of {len(files)} files, {audio:.1f} s of audio on {workers} workers "
          f"in {took:.2f} s ({audio / max(took, 1e-9):.0f}x real time)")
    client.close()
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
