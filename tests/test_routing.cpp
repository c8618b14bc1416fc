// Stereo channel routing: which signal each band's enable code sends it to,
// and which carried state it uses there.
#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "design/design_bands.h"
#include "design/fade_window.h"
#include "lintaq.h"
#include "stream/frame_chain.h"
#include "stream/noise.h"

namespace {

using lintaq::PeqBandState;

constexpr int kLength = 24000; // past the 8266-sample latency of mode 3 by several hops

struct Band {
    int index;
    unsigned enable, type;
    float freq, gain, q;
};

PeqParams withBands(const std::vector<Band> &bands, unsigned noise = 0)
{
    PeqParams p{};
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.freq[k] = 1000.0f;
        p.q[k] = 0.7f;
    }
    p.sampleRate = 48000;
    p.noise = noise;
    for (const Band &b : bands) {
        p.enable[b.index] = b.enable;
        p.type[b.index] = b.type;
        p.freq[b.index] = b.freq;
        p.gain[b.index] = b.gain;
        p.q[b.index] = b.q;
    }
    return p;
}

std::vector<float> signal(unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    std::vector<float> x(kLength);
    for (float &v : x)
        v = dist(gen);
    return x;
}

struct Stereo {
    std::vector<float> l, r;
};

// Each run starts the shared noise generator from the same state, so runs
// with noise on are comparable; the state is put back afterwards.
Stereo runStereo(const PeqParams &p, Stereo s)
{
    const uint32_t saved = lintaq::peekNoiseState();
    PeqInstance *inst = LintaqInit(3, 1);
    LintaqSetPar(inst, &p);
    LintaqProcST(inst, s.l.data(), s.r.data(), kLength);
    LintaqExit(inst);
    lintaq::pokeNoiseState(saved);
    return s;
}

std::vector<float> runMono(const PeqParams &p, std::vector<float> x)
{
    PeqInstance *inst = LintaqInit(3, 0);
    LintaqSetPar(inst, &p);
    LintaqProc(inst, x.data(), kLength);
    LintaqExit(inst);
    return x;
}

// Index of the first sample where two outputs differ, -1 if none.
long firstDifference(const std::vector<float> &a, const std::vector<float> &b)
{
    const auto m = std::mismatch(a.begin(), a.end(), b.begin());
    return m.first == a.end() ? -1 : m.first - a.begin();
}

double worstDifference(const std::vector<float> &a, const std::vector<float> &b)
{
    double worst = 0.0;
    for (size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, std::fabs(static_cast<double>(a[i]) - b[i]));
    return worst;
}

TEST(StereoRouting, BothChannelsBandEqualsALeftAndARightBand)
{
    // Both channels share coefficients but keep separate states, exactly as a
    // left band plus a right band would; noise and a mid band do not change that.
    const Stereo in{signal(1), signal(2)};
    const Stereo both = runStereo(withBands({{2, 1, 0, 1000.0f, 6.0f, 1.0f},
                                             {6, 1, 3, 80.0f, 0.0f, 0.7071f},
                                             {10, 4, 1, 300.0f, -4.0f, 0.8f}}, 1), in);
    const Stereo split = runStereo(withBands({{2, 2, 0, 1000.0f, 6.0f, 1.0f},
                                              {3, 3, 0, 1000.0f, 6.0f, 1.0f},
                                              {6, 3, 3, 80.0f, 0.0f, 0.7071f},
                                              {7, 2, 3, 80.0f, 0.0f, 0.7071f},
                                              {10, 4, 1, 300.0f, -4.0f, 0.8f}}, 1), in);
    EXPECT_EQ(firstDifference(both.l, split.l), -1);
    EXPECT_EQ(firstDifference(both.r, split.r), -1);
}

TEST(StereoRouting, IdenticalChannelsHaveNoSideForASideBandToChange)
{
    // Equal inputs through both-channel and mid bands stay equal, so the side
    // is exactly zero (the shared noise cancels too) and a side band on zeros
    // from zero state puts out zeros.
    const std::vector<float> x = signal(3);
    const std::vector<Band> common = {{0, 1, 0, 500.0f, 8.0f, 2.0f}, {1, 4, 2, 4000.0f, -6.0f, 0.7f}};
    std::vector<Band> withSide = common;
    withSide.push_back({5, 5, 0, 3000.0f, 12.0f, 1.0f});
    withSide.push_back({8, 5, 3, 200.0f, 0.0f, 0.7f});
    const PeqParams plain = withBands(common, 1), sided = withBands(withSide, 1);
    const Stereo a = runStereo(plain, {x, x}), b = runStereo(sided, {x, x});
    EXPECT_EQ(firstDifference(a.l, a.r), -1);
    EXPECT_EQ(firstDifference(a.l, b.l), -1);
    EXPECT_EQ(firstDifference(a.r, b.r), -1);
}

TEST(StereoRouting, MidBandOnIdenticalChannelsActsAsTheBandAlone)
{
    // Mid is 2x; the sections are linear, doubling and the final halving are
    // exact for normal floats, so each channel equals the mono result except
    // where samples are subnormal (the far tails of the responses), which
    // float rounds to a fixed step of 2^-149 whatever the scale: one step per
    // rounding, over the two passes and the crossfade, allows 4 steps.
    const std::vector<float> x = signal(4);
    const double tol = 4.0 * std::numeric_limits<float>::denorm_min();
    for (const Band &band : {Band{3, 4, 0, 1000.0f, 6.0f, 1.0f}, Band{3, 4, 1, 200.0f, 9.0f, 0.7f},
                             Band{3, 4, 4, 3000.0f, 0.0f, 2.0f}}) {
        const Stereo s = runStereo(withBands({band}), {x, x});
        const std::vector<float> m = runMono(withBands({band}), x);
        EXPECT_LE(worstDifference(s.l, m), tol) << "type " << band.type;
        EXPECT_LE(worstDifference(s.r, m), tol) << "type " << band.type;
    }
}

TEST(StereoRouting, EnableSixAndAboveReachesNoStereoChannel)
{
    // Mono applies every nonzero code, so the same bands do act there.
    const Stereo in{signal(5), signal(6)};
    const std::vector<Band> unrouted = {{0, 6, 0, 1000.0f, 12.0f, 1.0f}, {4, 7, 1, 200.0f, -9.0f, 0.7f},
                                        {11, 1000, 4, 2000.0f, 0.0f, 0.7f}};
    const PeqParams none = withBands({}), p = withBands(unrouted);
    const Stereo a = runStereo(none, in), b = runStereo(p, in);
    EXPECT_EQ(firstDifference(a.l, b.l), -1);
    EXPECT_EQ(firstDifference(a.r, b.r), -1);
    EXPECT_NE(firstDifference(runMono(none, in.l), runMono(p, in.l)), -1);
}

TEST(StereoRouting, ChannelsNeverCross)
{
    // A signal in one channel only, through both-channel, left-only and
    // right-only bands: the silent channel stays exactly zero (no noise).
    const PeqParams p = withBands({{0, 1, 0, 1000.0f, 6.0f, 1.0f},
                                   {1, 2, 1, 150.0f, 10.0f, 0.7f},
                                   {2, 3, 2, 6000.0f, -8.0f, 0.7f}});
    const std::vector<float> tone = signal(7), silence(kLength, 0.0f);
    const Stereo leftOnly = runStereo(p, {tone, silence});
    const Stereo rightOnly = runStereo(p, {silence, tone});
    EXPECT_EQ(firstDifference(leftOnly.r, silence), -1);
    EXPECT_EQ(firstDifference(rightOnly.l, silence), -1);
    EXPECT_NE(firstDifference(leftOnly.l, silence), -1);
    EXPECT_NE(firstDifference(rightOnly.r, silence), -1);
}

TEST(StereoRouting, BandMovedToTheRightResumesFromItsSecondState)
{
    // A band that ran on the left (enable 2) and now serves the right (3)
    // continues from fwdState2, still zero since never used, and must not
    // take the left's state with it; the left's state is left as it was.
    const int head = 256, tail = 768, frame = head + tail;
    std::vector<float> window(head);
    lintaq::makeFadeWindow(window.data(), head);
    PeqBandState a[lintaq::kBandCount];
    for (PeqBandState &b : a)
        lintaq::resetBand(b);
    lintaq::designBand(a[0], 0, 2000.0f, 9.0f, 2.0f, 48000.0f);
    a[0].enable = 2;
    const std::vector<float> x = signal(8), y = signal(9);
    std::vector<float> workL(frame), workR(frame), accL(2 * head), accR(2 * head);
    lintaq::filterFrameStereo(x.data(), y.data(), accL.data(), accR.data(), workL.data(), workR.data(),
                              window.data(), a, head, tail, 0);
    const double left[2] = {a[0].fwdState[0], a[0].fwdState[1]};
    ASSERT_NE(left[0], 0.0);
    ASSERT_EQ(a[0].fwdState2[0], 0.0);

    a[0].enable = 3;
    PeqBandState b[lintaq::kBandCount];
    std::copy(a, a + lintaq::kBandCount, b);
    b[0].fwdState[0] = b[0].fwdState[1] = 0.0; // differs from a only in the left's state
    std::vector<float> accLa(2 * head), accRa(2 * head), accLb(2 * head), accRb(2 * head);
    lintaq::filterFrameStereo(x.data() + head, y.data() + head, accLa.data(), accRa.data(), workL.data(),
                              workR.data(), window.data(), a, head, tail, 0);
    lintaq::filterFrameStereo(x.data() + head, y.data() + head, accLb.data(), accRb.data(), workL.data(),
                              workR.data(), window.data(), b, head, tail, 0);
    EXPECT_EQ(firstDifference(accRa, accRb), -1);
    EXPECT_EQ(firstDifference(accLa, accLb), -1);
    EXPECT_EQ(a[0].fwdState[0], left[0]);
    EXPECT_EQ(a[0].fwdState[1], left[1]);
    EXPECT_NE(a[0].fwdState2[0], 0.0);
}

} // namespace
