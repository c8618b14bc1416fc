"""equalize_file() and presets: the command-line tool's bits in constant
memory, output that never replaces a file unasked, the tool's preset
format; and the package's type hints."""

import json
import os
import shutil
import subprocess
import sys
import tracemalloc
from pathlib import Path

import numpy as np
import pytest
import soundfile as sf

import lintaq
from conftest import SMILE, bits, noise
from test_offline import cli_args

PRESET = {"name": "t", "mode": 3, "oversample": False, "noise": False, "bands": [
    {"type": "highpass", "freq": 40, "q": 0.9},
    {"type": "peak", "freq": 2500, "gain": -6, "q": 3, "channel": "left"},
    {"type": "High-Shelf", "freq": 6000, "gain": 2.5, "channel": "mid", "enabled": False}]}


def test_equalize_file_equals_the_tool_and_equalize_in_any_block_size(tmp_path, cli):
    audio = noise((48000 * 2 + 333, 2), seed=11)
    audio[100:103] = np.nan
    sf.write(tmp_path / "in.wav", audio, 48000, subtype="FLOAT")
    subprocess.run([cli, "process", tmp_path / "in.wav", tmp_path / "cli.wav", "--float", "--quiet",
                    *cli_args(SMILE, 2, True, False)], check=True, capture_output=True)
    expected, _ = sf.read(tmp_path / "cli.wav", dtype="float32")
    for block in (lintaq.BLOCK, 1000, 12362 * 3):
        with pytest.warns(lintaq.LintaqWarning, match="held 6 non-finite.*first at sample 100"):
            done = lintaq.equalize_file(tmp_path / "in.wav", tmp_path / f"py{block}.wav", SMILE, block=block)
        assert done.frames == len(audio) and done.subtype == "FLOAT"
        got, rate = sf.read(tmp_path / f"py{block}.wav", dtype="float32")
        assert rate == 48000 and np.array_equal(bits(got), bits(expected))
        assert (tmp_path / f"py{block}.wav").read_bytes() == (tmp_path / "cli.wav").read_bytes()
    assert len(list(tmp_path.iterdir())) == 5  # no temporary file left


def test_integer_output_clips_like_the_tool(tmp_path, cli):
    # A +12 dB bell on a loud sine goes past full scale: 24-bit samples must
    # clip as the tool's do, not wrap around.
    t = np.arange(48000) / 48000
    sf.write(tmp_path / "in.wav", (0.9 * np.sin(2 * np.pi * 1000 * t)).astype(np.float32), 48000, subtype="PCM_24")
    loud = [lintaq.Peak(1000, gain=12, q=1)]
    subprocess.run([cli, "process", tmp_path / "in.wav", tmp_path / "cli.wav", "--quiet", "--builtin", "flat",
                    "--band", "peak,freq=1000,gain=12,q=1"], check=True, capture_output=True)
    lintaq.equalize_file(tmp_path / "in.wav", tmp_path / "py.wav", loud, subtype="PCM_24")
    assert (tmp_path / "py.wav").read_bytes() == (tmp_path / "cli.wav").read_bytes()


def test_equalize_file_never_replaces_a_file_unasked_and_leaves_nothing_half_written(tmp_path):
    sf.write(tmp_path / "in.wav", noise((4800, 2)), 48000, subtype="FLOAT")
    (tmp_path / "out.wav").write_bytes(b"earlier")
    with pytest.raises(FileExistsError, match="overwrite=True"):
        lintaq.equalize_file(tmp_path / "in.wav", tmp_path / "out.wav", SMILE)
    with pytest.raises(ValueError, match="cannot hold FLOAT"):
        lintaq.equalize_file(tmp_path / "in.wav", tmp_path / "out.flac", SMILE)
    with pytest.raises(ValueError, match="band limit"):  # refused before any file is made
        lintaq.equalize_file(tmp_path / "in.wav", tmp_path / "x.wav", [lintaq.Peak(22000)])
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.wav", "out.wav"]
    assert (tmp_path / "out.wav").read_bytes() == b"earlier"
    lintaq.equalize_file(tmp_path / "in.wav", tmp_path / "out.wav", SMILE, overwrite=True)
    assert sf.info(tmp_path / "out.wav").frames == 4800
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.wav", "out.wav"]


def test_the_file_example_replaces_an_output_only_when_told(tmp_path):
    sf.write(tmp_path / "in.wav", noise((4800, 2)), 48000, subtype="FLOAT")
    (tmp_path / "out.wav").write_bytes(b"earlier")
    example = Path(__file__).resolve().parents[1] / "examples" / "equalize_file.py"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    run = subprocess.run([sys.executable, example, tmp_path / "in.wav", tmp_path / "out.wav"], capture_output=True,
                         text=True, env=env)
    assert run.returncode == 1 and "pass --overwrite" in run.stderr
    assert (tmp_path / "out.wav").read_bytes() == b"earlier"
    subprocess.run([sys.executable, example, tmp_path / "in.wav", tmp_path / "out.wav", "--overwrite"], check=True,
                   capture_output=True, env=env)
    assert sf.info(tmp_path / "out.wav").frames == 4800


def test_more_than_two_channels_run_channel_by_channel_as_mono(tmp_path):
    audio = noise((30000, 3), seed=5)
    sf.write(tmp_path / "in.wav", audio, 44100, subtype="FLOAT")
    lintaq.equalize_file(tmp_path / "in.wav", tmp_path / "out.wav", SMILE)
    got, _ = sf.read(tmp_path / "out.wav", dtype="float32")
    for c in range(3):
        assert np.array_equal(bits(got[:, c]), bits(lintaq.equalize(audio[:, c], 44100, SMILE)))


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_equalize_needs_no_more_than_input_output_and_a_few_blocks(dtype):
    x = noise((48000 * 20, 2)).astype(dtype)
    out_size = x.size * 4
    tracemalloc.start()
    try:
        y = lintaq.equalize(x, 48000, SMILE)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert y.dtype == np.float32
    assert peak < out_size + 4 * 2 * 4 * lintaq.BLOCK, f"{peak / 1e6:.1f} MB for a {out_size / 1e6:.1f} MB result"


def test_presets_load_in_the_tools_format_and_give_its_bits(tmp_path, cli):
    (tmp_path / "p.json").write_text(json.dumps(PRESET))
    p = lintaq.load_preset(tmp_path / "p.json")
    assert p.bands == (lintaq.HighPass(40, q=0.9), lintaq.Peak(2500, gain=-6, q=3, channel="left"),
                       lintaq.HighShelf(6000, gain=2.5, channel="mid", off=True))
    assert (p.mode, p.oversample, p.noise) == (3, False, False)
    x = noise((20000, 2), seed=2)
    sf.write(tmp_path / "in.wav", x, 48000, subtype="FLOAT")
    subprocess.run([cli, "process", tmp_path / "in.wav", tmp_path / "cli.wav", "--float", "--quiet",
                    "--preset", tmp_path / "p.json"], check=True, capture_output=True)
    with lintaq.Equalizer.from_preset(tmp_path / "p.json", 48000) as eq:
        y = np.concatenate([eq(x), eq.flush()])[eq.latency:]
    assert np.array_equal(bits(y), bits(sf.read(tmp_path / "cli.wav", dtype="float32")[0]))
    # What the tool writes, the package reads back.
    text = subprocess.run([cli, "preset", "--preset", tmp_path / "p.json"], check=True, capture_output=True,
                          text=True).stdout
    assert lintaq.parse_preset(text)._replace(name="t") == p
    for bad, message in (({"bands": [{"type": "peak", "freq": 100, "gian": 3}]}, 'unknown field "gian"'),
                         ({"bands": [{"type": "notch", "freq": 100}]}, 'unknown type "notch"'),
                         ({"mode": 2}, "bands is missing")):
        with pytest.raises(ValueError, match=message):
            lintaq.parse_preset(json.dumps(bad))


@pytest.mark.skipif(shutil.which("mypy") is None, reason="mypy is not installed (scripts/install-deps.sh installs it)")
def test_type_hints_are_consistent_under_mypy(tmp_path):
    package = Path(lintaq.__file__).resolve().parents[1]
    run = subprocess.run(["mypy", "--cache-dir", tmp_path, "lintaq"], cwd=package, capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr


def test_dask_example_on_two_local_workers_writes_the_tools_bytes(tmp_path, cli):
    pytest.importorskip("distributed", reason="python3-distributed is not installed (scripts/install-deps.sh)")
    (tmp_path / "in").mkdir()
    for k, (rate, shape) in enumerate([(48000, (30000, 2)), (44100, (25000,)), (48000, (20000, 3))]):
        sf.write(tmp_path / "in" / f"f{k}.wav", noise(shape, seed=k), rate, subtype="PCM_24")
    (tmp_path / "in" / "broken.wav").write_text("not audio")
    (tmp_path / "p.json").write_text(json.dumps(PRESET))
    example = Path(__file__).resolve().parents[1] / "examples" / "dask_folder.py"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    run = subprocess.run([sys.executable, example, tmp_path / "in", tmp_path / "out", "--workers", "2",
                          "--preset", tmp_path / "p.json"], capture_output=True, text=True, env=env, timeout=300)
    assert run.returncode == 1 and "3 of 4 files" in run.stdout and "on 2 workers" in run.stdout, run.stderr
    for k in range(3):
        subprocess.run([cli, "process", tmp_path / "in" / f"f{k}.wav", tmp_path / f"cli{k}.wav", "--float",
                        "--quiet", "--preset", tmp_path / "p.json"], check=True, capture_output=True)
        assert (tmp_path / "out" / f"f{k}.wav").read_bytes() == (tmp_path / f"cli{k}.wav").read_bytes()
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["f0.wav", "f1.wav", "f2.wav"]
