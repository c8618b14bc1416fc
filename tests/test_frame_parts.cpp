// The parts frames are built from: the carried-state flush, the crossfade
// window, the frame noise and the resampling filters' tables and responses.
// The faster loops are compared bit for bit with the plain ones in
// test_fast_paths.cpp; the filter pairs' delay shows in test_stream.cpp.
#include <numbers>

#include <gtest/gtest.h>

#include "design/fade_window.h"
#include "filter/sections.h"
#include "stream/frame_chain.h"
#include "stream/resample_tables.h"
#include "test_support.h"

namespace {

using lintaq::Direction;

TEST(FrameDriver, PeakFlushesTinyCarriedStateBiquadKeepsIt)
{
    // With every coefficient zero both sections just delay their input, so
    // the state reached after headLen samples is the last two input samples.
    const struct { float last; bool flushed; } cases[] = {
        {5e-11f, true}, {-5e-11f, true}, {2e-10f, false}, {-2e-10f, false},
    };
    for (const auto &c : cases) {
        lintaq::PeqBandState peak{}, biquad{};
        peak.peakGain = 1.0;
        biquad.bandType = 1;
        float a[8] = {0.5f, 0.5f, c.last, c.last, 1, 1, 1, 1}, b[8];
        std::copy(a, a + 8, b);
        double ps[2] = {1.0, 1.0}, bs[2] = {1.0, 1.0};
        lintaq::runPeakFrame(a, peak, ps, 4, 4, Direction::forward);
        lintaq::runBiquadFrame(b, biquad, bs, 4, 4, Direction::forward);
        const double peakWant = c.flushed ? 0.0 : double(c.last);
        EXPECT_TRUE(ps[0] == peakWant && ps[1] == peakWant) << c.last << ": " << ps[0] << ", " << ps[1];
        EXPECT_TRUE(bs[0] == double(c.last) && bs[1] == double(c.last)) << c.last << ": " << bs[0] << ", " << bs[1];
    }
}

TEST(FadeWindow, IsARaisedCosineWhoseMirroredEntriesSumToExactlyOne)
{
    // Tolerance: half a unit in the last digit of each expected value.
    const struct { int n, i; double value, tol; } cases[] = {
        {2048, 0, 1.4707e-7, 5e-12},   {2048, 1023, 0.4996165, 5e-8}, {2048, 1024, 0.5003835, 5e-8},
        {2048, 2047, 0.99999988, 5e-9}, {4096, 0, 3.6767e-8, 5e-13},   {4096, 4095, 0.99999994, 5e-9},
    };
    for (const auto &c : cases) {
        std::vector<float> w(size_t(c.n));
        lintaq::makeFadeWindow(w.data(), c.n);
        EXPECT_NEAR(w[size_t(c.i)], c.value, c.tol) << "n " << c.n << " i " << c.i;
        // Neighbouring frames crossfade with w[i] and w[n-1-i]; any
        // shortfall would show as a ripple at the hop rate.
        for (int i = 0; i < c.n; ++i)
            ASSERT_EQ(w[size_t(i)] + w[size_t(c.n - 1 - i)], 1.0f) << "n " << c.n << " i " << i;
    }
}

TEST(FrameNoise, StartsFromItsLoadTimeStateAndItsFirstValuesNeverChange)
{
    // Nothing in this program draws noise before this test. Identity bands
    // leave a frame of silence as pure noise.
    EXPECT_EQ(lintaq::peekNoiseState(), 688332804u);
    test::NoiseStateGuard guard;
    lintaq::pokeNoiseState(lintaq::kNoiseSeed);
    lintaq::PeqBandState bands[lintaq::kBandCount];
    for (lintaq::PeqBandState &b : bands)
        lintaq::resetBand(b);
    const float window[4] = {}, silence[8] = {};
    float acc[8] = {}, work[8];
    lintaq::filterFrameMono(silence, acc, work, window, bands, 4, 4, 1, {lintaq::KernelSet::plain, nullptr, 0});
    const int32_t known[3] = {-14095, -13979, 22358};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(work[i], float(known[i] * 1e-20)) << i;
}

struct Pair {
    const char *name;
    const double *up;
    int phaseTaps; // P: the table holds the prototype's even taps, then its odd taps
    const double *down;
    int downTaps; // K
    double phaseSum, downSum;
};

const Pair kPairs[] = {
    {"156/20", lintaq::upTaps156, 78, lintaq::downTaps20, 20, 1.000097105743627, 0.99999999977303122},
    {"278/22", lintaq::upTaps278, 139, lintaq::downTaps22, 22, 0.99990337401829044, 1.0000000002165967},
};

TEST(ResampleTables, HoldTheirValuesAreSymmetricAndHaveTheDcGains)
{
    // The long tables come from a filter design: their telling values (the
    // first taps and the prototype's central three) agree to 1e-12.
    const struct { const double *table; int i; double value; } telling[] = {
        {lintaq::upTaps156, 0, -4.9822731385338843e-06}, {lintaq::upTaps156, 1, -2.144980670085367e-05},
        {lintaq::upTaps156, 2, 6.1313962117079068e-05},  {lintaq::upTaps156, 115, -0.098530114531958174},
        {lintaq::upTaps156, 38, 0.36038280301752168},    {lintaq::upTaps156, 39, 0.82802319735852836},
        {lintaq::upTaps278, 0, -5.1664715558235573e-06}, {lintaq::upTaps278, 1, -4.2116070553528217e-05},
        {lintaq::upTaps278, 2, -8.5142088548055003e-06}, {lintaq::upTaps278, 68, -0.13719626114342684},
        {lintaq::upTaps278, 207, 0.33611694085646165},   {lintaq::upTaps278, 69, 0.86064109697221902},
    };
    for (const auto &c : telling)
        EXPECT_NEAR(c.table[c.i], c.value, 1e-12) << (c.table == lintaq::upTaps156 ? "156 " : "278 ") << c.i;
    // The decimators' first halves match bit for bit.
    const double half20[10] = {
        -2.7928860750732412e-06, 3.8466147375195605e-05, -0.00026962850354229049, 0.0012782912741845667,
        -0.004608753399747095,   0.013524933673633811,   -0.034017793210794053,   0.077576426610019678,
        -0.17779418774733227,    0.62427503792879313};
    const double half22[11] = {
        1.2685319744100962e-06, -1.7446486479905339e-05, 0.00012339559116868122, -0.00059534652656000476,
        0.0021982045325234195,  -0.0066249206466054179,  0.017042192989937453,   -0.038928685892906094,
        0.082957405634294865,   -0.18206772186404016,    0.62591165424499118};
    EXPECT_EQ(test::firstMismatch(lintaq::downTaps20, half20, 10), -1);
    EXPECT_EQ(test::firstMismatch(lintaq::downTaps22, half22, 11), -1);

    // Symmetry makes both filters linear-phase, which the latency relies on.
    // A constant comes back scaled by phase sum x decimator sum.
    for (const Pair &p : kPairs) {
        const int n = 2 * p.phaseTaps;
        double even = 0.0, odd = 0.0, down = 0.0;
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(p.up[i], p.up[n - 1 - i]) << p.name << " " << i;
        for (int i = 0; i < p.downTaps; ++i)
            ASSERT_EQ(p.down[i], p.down[p.downTaps - 1 - i]) << p.name << " " << i;
        for (int i = 0; i < p.phaseTaps; ++i)
            even += p.up[i], odd += p.up[p.phaseTaps + i];
        for (int i = 0; i < p.downTaps; ++i)
            down += p.down[i];
        EXPECT_NEAR(even, p.phaseSum, 1e-12) << p.name;
        EXPECT_NEAR(odd, p.phaseSum, 1e-12) << p.name;
        EXPECT_NEAR(down, p.downSum, 1e-12) << p.name;
    }
}

// Where a falling response crosses `level` dB between lo and hi.
template <typename Db>
double crossing(Db db, double level, double lo, double hi)
{
    for (int i = 0; i < 60; ++i)
        (db(0.5 * (lo + hi)) > level ? lo : hi) = 0.5 * (lo + hi);
    return 0.5 * (lo + hi);
}

TEST(ResampleResponse, InterpolatorsAndDecimatorsHaveTheirRippleStopbandAndCrossings)
{
    // Frequencies in units of the host rate; the taps run at twice it, so
    // f is pi * f radians per tap. Expected crossings carry two or three
    // decimals (+-0.005, +-0.0005), or on a 0.0005 grid where they carry a
    // fourth decimal (+-0.00025).
    const struct { double passEdge, passDev, stop, at[4], tol[4]; } up[2] = {
        {0.40, 0.001, -134.0, {0.425, 0.444, 0.451, 0.488}, {5e-4, 5e-4, 5e-4, 5e-4}},
        {0.4535, 0.001, -134.0, {0.458, 0.469, 0.4725, 0.4935}, {5e-4, 5e-4, 2.5e-4, 2.5e-4}},
    };
    const struct { double passDev, at[2], tol[2]; } down[2] = {
        {1e-4, {0.69, 0.866}, {5e-3, 5e-4}},
        {1e-5, {0.71, 0.875}, {5e-3, 5e-4}},
    };
    const double upLevels[4] = {-0.1, -3.0, -6.0, -60.0}, downLevels[2] = {-0.1, -3.0};
    for (int t = 0; t < 2; ++t) {
        const Pair &p = kPairs[t];
        std::vector<double> h(2 * size_t(p.phaseTaps)); // the interpolator's prototype
        for (int i = 0; i < p.phaseTaps; ++i)
            h[2 * i] = p.up[i], h[2 * i + 1] = p.up[p.phaseTaps + i];
        // The prototype's passband gain is 2: it makes up for the zeros
        // stuffed between samples.
        const auto upDb = [&](double f) {
            return test::dB(test::amplitudeAt(h.data(), h.size(), std::numbers::pi * f) / 2.0);
        };
        const auto downDb = [&](double f) {
            return test::dB(test::amplitudeAt(p.down, size_t(p.downTaps), std::numbers::pi * f));
        };
        double upPass = 0.0, upStop = -1000.0, downPass = 0.0;
        for (int i = 0; i <= 2000; ++i) {
            upPass = std::max(upPass, std::fabs(upDb(up[t].passEdge * i / 2000.0)));
            downPass = std::max(downPass, std::fabs(downDb(0.5 * i / 2000.0)));
        }
        for (int i = 0; i <= 4000; ++i)
            upStop = std::max(upStop, upDb(0.5 + 0.5 * i / 4000.0));
        EXPECT_LE(upPass, up[t].passDev) << p.name;
        EXPECT_LE(upStop, up[t].stop) << p.name;
        EXPECT_LE(downPass, down[t].passDev) << p.name;
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(crossing(upDb, upLevels[j], up[t].passEdge, 0.5), up[t].at[j], up[t].tol[j])
                << p.name << " interpolator, " << upLevels[j] << " dB";
        for (int j = 0; j < 2; ++j)
            EXPECT_NEAR(crossing(downDb, downLevels[j], 0.5, 1.0), down[t].at[j], down[t].tol[j])
                << p.name << " decimator, " << downLevels[j] << " dB";
        // At the double rate's Nyquist frequency the alternating sum of K
        // taps below 1 in size is zero up to K roundings of about 2.2e-16.
        double alternating = 0.0;
        for (int i = 0; i < p.downTaps; ++i)
            alternating += (i % 2 == 0 ? 1.0 : -1.0) * p.down[i];
        EXPECT_NEAR(alternating, 0.0, p.downTaps * 2.2e-16) << p.name;
    }
}

} // namespace
