"""equalize(): the command-line tool's bits, and layouts, dtypes and block
sizes that must not change them."""

import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
import soundfile as sf

import lintaq
from conftest import SMILE, bits, noise

TYPE_NAMES = {lintaq.Peak: "peak", lintaq.LowShelf: "lowshelf", lintaq.HighShelf: "highshelf",
              lintaq.HighPass: "highpass", lintaq.LowPass: "lowpass"}


def cli_args(bands, mode, oversample, noise_on):
    args = ["--builtin", "flat", "--mode", str(mode)]
    for b in bands:
        text = f"{TYPE_NAMES[type(b)]},freq={b.freq!r},gain={b.gain!r},q={b.q!r},channel={b.channel}"
        args += ["--band", text + (",off" if b.off else "")]
    return args + ["--oversample" if oversample else "--no-oversample", "--noise" if noise_on else "--no-noise"]


ROUTED = (lintaq.Peak(2500, gain=-6, q=3), lintaq.LowShelf(150, gain=4, channel="side"), lintaq.HighPass(40, q=0.9),
          lintaq.Peak(800, gain=5, q=0.7, channel="left"), lintaq.HighShelf(6000, gain=-3, channel="mid"),
          lintaq.LowPass(15000, channel="right"), lintaq.Peak(300, gain=9, off=True))


@pytest.mark.parametrize("channels, rate, mode, oversample, bands", [
    (2, 44100, 3, True, ROUTED),     # double rate, long interpolator
    (2, 48000, 2, True, ROUTED),     # double rate, short interpolator and ring
    (1, 48000, 1, False, SMILE),     # host rate, mono
    (2, 96000, 0, True, SMILE),      # oversampling does not apply at 96 kHz
])
def test_equalize_equals_cli_float_output_bit_for_bit(tmp_path, cli, channels, rate, mode, oversample, bands):
    shape = (rate * 2 + 1234, channels) if channels == 2 else (rate * 2 + 1234,)
    audio = noise(shape, seed=rate)
    audio[5000:9000] = 0.0  # silence inside the file
    audio[7000:7003] = np.array([np.nan, np.inf, -np.inf]).reshape(3, *[1] * (channels - 1))  # silence to both
    sf.write(tmp_path / "in.wav", audio, rate, subtype="FLOAT")
    subprocess.run([cli, "process", tmp_path / "in.wav", tmp_path / "out.wav", "--float", "--quiet",
                    *cli_args(bands, mode, oversample, False)], check=True, capture_output=True)
    expected, _ = sf.read(tmp_path / "out.wav", dtype="float32")
    with pytest.warns(lintaq.LintaqWarning, match=f"held {channels * 3} non-finite sample.*first at sample 7000"):
        got = lintaq.equalize(audio, rate, bands, mode=mode, oversample=oversample, noise=False)
    assert got.shape == audio.shape and got.dtype == np.float32
    assert np.array_equal(bits(got), bits(expected))


def test_equalize_with_frame_noise_equals_cli_in_a_fresh_process(tmp_path, cli):
    # Frame noise (off by default) comes from one sequence per process: the
    # first equaliser a process runs sees the same noise as the tool does.
    audio = noise((48000 * 2, 2), seed=7)
    audio[:30000] = 0.0
    sf.write(tmp_path / "in.wav", audio, 48000, subtype="FLOAT")
    subprocess.run([cli, "process", tmp_path / "in.wav", tmp_path / "out.wav", "--float", "--quiet",
                    *cli_args(SMILE, 2, True, True)], check=True)
    script = ("import sys, numpy as np, soundfile as sf, lintaq\n"
              "from conftest import SMILE\n"
              "a, r = sf.read(sys.argv[1], dtype='float32')\n"
              "np.save(sys.argv[2], lintaq.equalize(a, r, SMILE, noise=True))\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    subprocess.run([sys.executable, "-c", script, tmp_path / "in.wav", tmp_path / "py.npy"],
                   check=True, env=env, cwd=Path(__file__).parent)
    expected, _ = sf.read(tmp_path / "out.wav", dtype="float32")
    assert np.array_equal(bits(np.load(tmp_path / "py.npy")), bits(expected))


def test_layouts_dtypes_and_blocks_do_not_change_the_result():
    x = noise((2, 30000), seed=4)
    first = lintaq.equalize(x, 44100, ROUTED, mode=3, noise=False)
    for same in (lintaq.equalize(np.asfortranarray(x.T), 44100, ROUTED, mode=3, noise=False).T,
                 lintaq.equalize(x.astype(np.float64), 44100, ROUTED, mode=3, noise=False),
                 lintaq.equalize(x.astype(np.longdouble), 44100, ROUTED, mode=3, noise=False),
                 lintaq.equalize(x, 44100, ROUTED, mode=3, noise=False, block=1000)):
        assert same.dtype == np.float32 and np.array_equal(bits(same), bits(first))
    mono = lintaq.equalize(x[0], 44100, SMILE, mode=3, noise=False)
    for shaped in (x[:1], x[:1].T, x[0].astype(np.float16)):
        y = lintaq.equalize(shaped, 44100, SMILE, mode=3, noise=False)
        assert y.shape == shaped.shape and y.dtype == np.float32
        if shaped.dtype == np.float32:
            assert np.array_equal(bits(y.ravel()), bits(mono))
