"""Equalizer: streaming in any blocks and layouts, latency, mono routing,
settings between calls, lifetime, threads."""

import gc
import threading
import weakref

import numpy as np
import pytest
from hypothesis import example, given, settings, strategies as st

import lintaq
from conftest import SMILE, bits, noise

ROUTED = (lintaq.Peak(900, gain=6, q=2, channel="left"), lintaq.LowShelf(200, gain=-5, channel="side"),
          lintaq.HighShelf(5000, gain=4, channel="mid"), lintaq.HighPass(50))


def stream(x, blocks=None, **kw):
    with lintaq.Equalizer(48000, x.shape[0], layout="channels_first", mode=3, noise=False, **kw) as eq:
        if blocks is None:
            return eq.process(x)
        return np.concatenate([eq.process(x[:, a:b]) for a, b in blocks], axis=1)


@settings(max_examples=25, deadline=None, database=None)
@example(sizes=[2, 2078, 2], layout="channels_last", inplace=[False] * 12)  # (2, 2) blocks: never guessed
@example(sizes=[2, 2078, 2], layout="channels_first", inplace=[True] * 12)
@given(sizes=st.lists(st.integers(0, 7000), min_size=1, max_size=12),
       layout=st.sampled_from(["channels_first", "channels_last"]),
       inplace=st.lists(st.booleans(), min_size=12, max_size=12))
def test_blocks_of_any_size_with_defaults_equal_one_offline_call_in_the_instances_layout(sizes, layout, inplace):
    # Default settings throughout: with frame noise off by default a stream
    # cut anywhere, then flushed, is the offline result bit for bit.
    x = noise((2, sum(sizes)), seed=len(sizes))
    x[:, : sum(sizes) // 2] *= np.float32(1e-30)  # near silence, where noise would show
    offline = lintaq.equalize(x, 48000, ROUTED)
    out = []
    with lintaq.Equalizer(48000, 2, layout=layout, bands=ROUTED) as eq:
        at = 0
        for n, inp in zip(sizes, inplace):
            part = x[:, at:at + n]
            block = part.copy() if layout == "channels_first" else part.T.copy()
            y = eq(block) if not inp else eq.process(block, inplace=True)
            assert (y is block) == inp and y.shape == block.shape and y.dtype == np.float32
            out.append(y if layout == "channels_first" else y.T)
            at += n
        tail = eq.flush()
        out.append(tail if layout == "channels_first" else tail.T)
        assert eq.latency == lintaq.latency(2)
    assert np.array_equal(bits(np.concatenate(out, axis=1)[:, lintaq.latency(2):]), bits(offline))


def test_a_stereo_stream_whose_first_block_is_two_frames_long_keeps_its_channels_apart():
    # (2, 2) fits both layouts; the instance's layout decides, so a silent
    # right channel stays silent.
    x = np.zeros((30000, 2), np.float32)
    x[:, 0] = noise(30000, seed=3)
    with lintaq.Equalizer(48000, 2, bands=SMILE) as eq:
        y = np.concatenate([eq(x[:2]), eq(x[2:])])
    assert not y[:, 1].any() and np.abs(y[:, 0]).max() > 0.1


def test_blocks_that_do_not_fit_the_layout_raise():
    with lintaq.Equalizer(48000, 2, layout="channels_last") as eq:
        with pytest.raises(ValueError, match=r"takes \(n, 2\) blocks"):
            eq.process(np.zeros((2, 100), np.float32))
    with lintaq.Equalizer(48000, 1, layout="channels_first") as eq:
        assert eq.process(np.zeros((1, 5), np.float32)).shape == (1, 5)
        with pytest.raises(ValueError, match=r"takes \(1, n\) blocks"):
            eq.process(np.zeros((5, 1), np.float32))
        with pytest.raises(ValueError, match="this Equalizer runs at 48000 Hz"):
            eq(np.zeros(5, np.float32), 44100)


def test_frame_noise_is_off_by_default_so_two_calls_give_the_same_bits():
    # A burst then near silence: with noise on, the second call would draw
    # the next stretch of the shared noise sequence and differ.
    x = np.zeros((2, 60000), np.float32)
    x[:, :5000] = noise((2, 5000), seed=9)
    first = lintaq.equalize(x, 48000, SMILE)
    assert np.array_equal(bits(lintaq.equalize(x, 48000, SMILE)), bits(first))
    assert np.array_equal(bits(lintaq.measured_response(SMILE, 48000).db),
                          bits(lintaq.measured_response(SMILE, 48000).db))
    assert not lintaq.Equalizer(48000).noise


def test_latency_is_the_librarys_for_every_mode():
    for mode in range(4):
        with lintaq.Equalizer(96000, 1, mode=mode) as eq:
            assert eq.latency == lintaq.latency(mode) == lintaq.LATENCY[mode]


def test_a_mono_stream_applies_every_band_whatever_its_routing_and_says_so():
    x = noise((1, 40000), seed=1)
    with pytest.warns(lintaq.LintaqWarning, match="mono stream"):
        routed = stream(x, bands=[lintaq.Peak(900, gain=6, q=2, channel="left")])
    assert np.array_equal(bits(routed), bits(stream(x, bands=[lintaq.Peak(900, gain=6, q=2)])))


def test_bands_change_between_calls_and_reset_starts_a_fresh_stream():
    x = noise((2, 20000), seed=2)
    with lintaq.Equalizer(48000, 2, layout="channels_first", mode=3) as eq:
        flat = eq.process(x)
        eq.bands = SMILE
        assert eq.bands == SMILE
        eq.reset()
        assert np.array_equal(bits(eq.process(x)), bits(stream(x, bands=SMILE)))
        assert not np.array_equal(bits(stream(x, bands=SMILE)), bits(flat))


def test_closed_instances_refuse_work_and_every_instance_is_released():
    eq = lintaq.Equalizer(48000, 2)
    with eq:
        assert not eq.closed
    assert eq.closed
    for use in (lambda: eq.process(np.zeros((2, 4), np.float32)), lambda: eq.latency, eq.reset,
                lambda: setattr(eq, "bands", SMILE)):
        with pytest.raises(ValueError, match="closed"):
            use()
    eq.close()  # twice is fine
    before = lintaq.live_instances()
    dropped = lintaq.Equalizer(48000, 1)
    assert lintaq.live_instances() == before + 1
    ref = weakref.ref(dropped)
    del dropped
    gc.collect()
    assert ref() is None and lintaq.live_instances() == before


def test_threads_give_the_same_bits_as_one_thread():
    inputs = [noise((2, 60000), seed=s) for s in range(4)]
    alone = [lintaq.equalize(x, 48000, SMILE, mode=3, noise=False) for x in inputs]
    together = [None] * 4

    def work(i):
        together[i] = lintaq.equalize(inputs[i], 48000, SMILE, mode=3, noise=False)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(np.array_equal(bits(a), bits(b)) for a, b in zip(alone, together))
