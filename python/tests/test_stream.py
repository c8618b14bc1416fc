"""Equalizer: streaming in any blocks and layouts, latency, channel
routing, settings between calls, lifetime, threads."""

import gc
import threading
import weakref

import numpy as np
import pytest
from hypothesis import example, given, settings, strategies as st

import lintaq
from conftest import SMILE, bits, noise

ROUTED = (lintaq.Peak(900, 6, 2, channel="left"), lintaq.LowShelf(200, -5, channel="side"),
          lintaq.HighShelf(5000, 4, channel="mid"), lintaq.HighPass(50))


def stream(x, blocks=None, **kw):
    with lintaq.Equalizer(48000, x.shape[0], mode=3, noise=False, **kw) as eq:
        if blocks is None:
            return eq.process(x)
        return np.concatenate([eq.process(x[:, a:b]) for a, b in blocks], axis=1)


@settings(max_examples=25, deadline=None, database=None)
@example(sizes=[0, 0, 2078, 2], how=["first"] * 3 + ["last"] * 9)  # a (2, 2) block fits both layouts
@given(sizes=st.lists(st.integers(0, 7000), min_size=1, max_size=12),
       how=st.lists(st.sampled_from(["first", "last", "inplace-first", "inplace-last"]), min_size=12, max_size=12))
def test_blocks_of_any_size_and_layout_equal_one_call(sizes, how):
    x = noise((2, sum(sizes)), seed=len(sizes))
    whole = stream(x, bands=ROUTED)
    out, at = [], 0
    with lintaq.Equalizer(48000, 2, mode=3, noise=False, bands=ROUTED) as eq:
        for n, h in zip(sizes, how):
            block = x[:, at:at + n].copy() if h.endswith("first") else x[:, at:at + n].T.copy()
            layout = "channels_" + h.split("-")[-1] if n == 2 else None  # (2, 2) fits both
            y = eq.process(block, inplace=h.startswith("inplace"), layout=layout)
            assert (y is block) == h.startswith("inplace") and y.shape == block.shape
            out.append(y if h.endswith("first") else y.T)
            at += n
    assert np.array_equal(bits(np.concatenate(out, axis=1)), bits(whole))


@pytest.mark.parametrize("mode", [0, 1, 2, 3])
def test_latency_per_mode_is_where_an_impulse_comes_out(mode):
    with lintaq.Equalizer(96000, 1, mode=mode, noise=False) as eq:
        assert eq.latency == lintaq.latency(mode) == lintaq.LATENCY[mode]
        x = np.zeros(eq.latency + 2000, dtype=np.float32)
        x[1000] = 1.0
        y = eq.process(x)
    assert np.argmax(y) == 1000 + lintaq.LATENCY[mode] and y.max() == pytest.approx(1.0, abs=1e-6)


def test_each_band_acts_on_the_channels_it_is_routed_to():
    lr = noise((2, 40000), seed=1)
    flat = stream(lr)
    left = stream(lr, bands=[lintaq.Peak(900, 6, 2, channel="left")])
    right = stream(lr, bands=[lintaq.Peak(900, 6, 2, channel="right")])
    # The other channel only sees the rounding of the mid/side round trip.
    for changed, c in ((left, 0), (right, 1)):
        assert np.abs(changed[c] - flat[c]).max() > 0.05
        np.testing.assert_allclose(changed[1 - c], flat[1 - c], rtol=0, atol=5e-7)
    # Identical channels have no side signal; opposite ones no mid signal.
    same = np.stack([lr[0], lr[0]])
    opposite = np.stack([lr[0], -lr[0]])
    assert np.array_equal(bits(stream(same, bands=[lintaq.Peak(900, 6, 2, channel="side")])), bits(stream(same)))
    assert np.array_equal(bits(stream(opposite, bands=[lintaq.Peak(900, 6, 2, channel="mid")])),
                          bits(stream(opposite)))
    # A mono stream applies every band, whatever it is routed to.
    with pytest.warns(lintaq.LintaqWarning, match="mono stream"):
        routed = stream(lr[:1], bands=[lintaq.Peak(900, 6, 2, channel="left")])
    assert np.array_equal(bits(routed), bits(stream(lr[:1], bands=[lintaq.Peak(900, 6, 2)])))


def test_bands_change_between_calls_and_reset_starts_a_fresh_stream():
    x = noise((2, 20000), seed=2)
    with lintaq.Equalizer(48000, 2, mode=3, noise=False) as eq:
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
