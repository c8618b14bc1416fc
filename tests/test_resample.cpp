// Double-rate resampling filters: the coefficient tables, their frequency
// responses, and the interpolator and decimator sample by sample.
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "lintaq.h"
#include "stream/resample.h"
#include "stream/resample_tables.h"

namespace {

using namespace lintaq;

struct Pair {
    const char *name;
    const double *up;
    int phaseTaps; // P
    const double *down;
    int downTaps; // K
    int delay;    // host-rate samples
    double phaseSum, downSum;
};

const Pair kPairs[] = {
    {"156/20", upTaps156, 78, downTaps20, 20, 43, 1.000097105743627, 0.99999999977303122},
    {"278/22", upTaps278, 139, downTaps22, 22, 74, 0.99990337401829044, 1.0000000002165967},
};

// The low-pass prototype at the double rate: the table holds its even taps,
// then its odd taps.
std::vector<double> prototype(const Pair &p)
{
    std::vector<double> h(2 * static_cast<size_t>(p.phaseTaps));
    for (int i = 0; i < p.phaseTaps; ++i) {
        h[2 * i] = p.up[i];
        h[2 * i + 1] = p.up[p.phaseTaps + i];
    }
    return h;
}

// |response| of taps running at twice the host rate, at f in units of the host rate.
double magnitude(const double *h, int n, double f)
{
    double re = 0.0, im = 0.0;
    for (int i = 0; i < n; ++i) {
        re += h[i] * std::cos(std::numbers::pi * f * i);
        im -= h[i] * std::sin(std::numbers::pi * f * i);
    }
    return std::hypot(re, im);
}

// Where a falling response crosses `level` dB between lo and hi.
template <typename Db>
double crossing(Db db, double level, double lo, double hi)
{
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (lo + hi);
        (db(mid) > level ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

TEST(ResampleTables, HoldTheTellingValues)
{
    // The long tables come from a filter design; their telling values agree
    // to 1e-12 with the reference design's.
    const struct { const double *table; int i; double value; } cases[] = {
        {upTaps156, 0, -4.9822731385338843e-06},  {upTaps156, 1, -2.144980670085367e-05},
        {upTaps156, 2, 6.1313962117079068e-05},   {upTaps156, 39, 0.82802319735852836},
        {upTaps156, 116, 0.82802319735852836},    {upTaps156, 38, 0.36038280301752168},
        {upTaps156, 117, 0.36038280301752168},    {upTaps278, 0, -5.1664715558235573e-06},
        {upTaps278, 1, -4.2116070553528217e-05},  {upTaps278, 2, -8.5142088548055003e-06},
        {upTaps278, 69, 0.86064109697221902},     {upTaps278, 208, 0.86064109697221902},
        {upTaps278, 70, 0.33611694085646165},     {upTaps278, 207, 0.33611694085646165},
    };
    for (const auto &c : cases)
        EXPECT_NEAR(c.table[c.i], c.value, 1e-12) << (c.table == upTaps156 ? "156 " : "278 ") << c.i;

    const double central[2][3] = {
        {-0.098530114531958174, 0.36038280301752168, 0.82802319735852836},
        {-0.13719626114342684, 0.33611694085646165, 0.86064109697221902},
    };
    for (int t = 0; t < 2; ++t) {
        const std::vector<double> h = prototype(kPairs[t]);
        const int mid = kPairs[t].phaseTaps; // h[mid-1] and h[mid] are the central pair
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(h[mid - 3 + j], central[t][j], 1e-12) << kPairs[t].name << " " << j;
            EXPECT_NEAR(h[mid + 2 - j], central[t][j], 1e-12) << kPairs[t].name << " " << j;
        }
    }
}

TEST(ResampleTables, DecimatorsHoldTheirReferenceValuesExactly)
{
    const double half20[10] = {
        -2.7928860750732412e-06, 3.8466147375195605e-05, -0.00026962850354229049,
        0.0012782912741845667,   -0.004608753399747095,  0.013524933673633811,
        -0.034017793210794053,   0.077576426610019678,   -0.17779418774733227,
        0.62427503792879313};
    const double half22[11] = {
        1.2685319744100962e-06, -1.7446486479905339e-05, 0.00012339559116868122,
        -0.00059534652656000476, 0.0021982045325234195, -0.0066249206466054179,
        0.017042192989937453,    -0.038928685892906094, 0.082957405634294865,
        -0.18206772186404016,    0.62591165424499118};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(downTaps20[i], half20[i]) << i;
        EXPECT_EQ(downTaps20[19 - i], half20[i]) << i;
    }
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(downTaps22[i], half22[i]) << i;
        EXPECT_EQ(downTaps22[21 - i], half22[i]) << i;
    }
}

TEST(ResampleTables, AreSymmetricWithTheReferenceDcGains)
{
    // Symmetry makes both filters linear-phase, which the latency relies on.
    // A constant comes back scaled by phase sum x decimator sum.
    for (const Pair &p : kPairs) {
        const int n = 2 * p.phaseTaps;
        double even = 0.0, odd = 0.0, down = 0.0;
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(p.up[i], p.up[n - 1 - i]) << p.name << " " << i;
        for (int i = 0; i < p.downTaps; ++i)
            ASSERT_EQ(p.down[i], p.down[p.downTaps - 1 - i]) << p.name << " " << i;
        for (int i = 0; i < p.phaseTaps; ++i) {
            even += p.up[i];
            odd += p.up[p.phaseTaps + i];
        }
        for (int i = 0; i < p.downTaps; ++i)
            down += p.down[i];
        EXPECT_NEAR(even, p.phaseSum, 1e-12) << p.name;
        EXPECT_NEAR(odd, p.phaseSum, 1e-12) << p.name;
        EXPECT_NEAR(down, p.downSum, 1e-12) << p.name;
    }
}

TEST(ResampleResponse, InterpolatorPrototypesMeetTheTable)
{
    // Levels are dB relative to the passband gain 2, frequencies in units of
    // the host rate. The crossing frequencies are given with three decimals
    // (+-0.0005), or on a 0.0005 grid where a fourth decimal is given
    // (+-0.00025).
    const struct { double passEdge; double at[4], tol[4]; } rows[2] = {
        {0.40, {0.425, 0.444, 0.451, 0.488}, {5e-4, 5e-4, 5e-4, 5e-4}},
        {0.4535, {0.458, 0.469, 0.4725, 0.4935}, {5e-4, 5e-4, 2.5e-4, 2.5e-4}},
    };
    const double levels[4] = {-0.1, -3.0, -6.0, -60.0};
    for (int t = 0; t < 2; ++t) {
        const std::vector<double> h = prototype(kPairs[t]);
        const auto db = [&](double f) {
            return 20.0 * std::log10(magnitude(h.data(), static_cast<int>(h.size()), f) / 2.0);
        };
        double passWorst = 0.0, stopWorst = -1000.0;
        for (int i = 0; i <= 2000; ++i)
            passWorst = std::max(passWorst, std::fabs(db(rows[t].passEdge * i / 2000.0)));
        for (int i = 0; i <= 4000; ++i)
            stopWorst = std::max(stopWorst, db(0.5 + 0.5 * i / 4000.0));
        EXPECT_LE(passWorst, 0.001) << kPairs[t].name;
        EXPECT_LE(stopWorst, -134.0) << kPairs[t].name;
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(crossing(db, levels[j], rows[t].passEdge, 0.5), rows[t].at[j], rows[t].tol[j])
                << kPairs[t].name << " " << levels[j] << " dB";
    }
}

TEST(ResampleResponse, DecimatorsMeetTheTable)
{
    // Crossings given with two or three decimals: +-0.005 or +-0.0005.
    // At fs (the double rate's Nyquist frequency) the alternating sum of
    // K taps below 1 in size is zero up to K roundings of about 2e-16.
    const struct { double passDev; double at[2], tol[2]; } rows[2] = {
        {1e-4, {0.69, 0.866}, {5e-3, 5e-4}},
        {1e-5, {0.71, 0.875}, {5e-3, 5e-4}},
    };
    for (int t = 0; t < 2; ++t) {
        const Pair &p = kPairs[t];
        const auto db = [&](double f) { return 20.0 * std::log10(magnitude(p.down, p.downTaps, f)); };
        double passWorst = 0.0;
        for (int i = 0; i <= 2000; ++i)
            passWorst = std::max(passWorst, std::fabs(db(0.5 * i / 2000.0)));
        EXPECT_LE(passWorst, rows[t].passDev) << p.name;
        EXPECT_NEAR(crossing(db, -0.1, 0.5, 1.0), rows[t].at[0], rows[t].tol[0]) << p.name;
        EXPECT_NEAR(crossing(db, -3.0, 0.5, 1.0), rows[t].at[1], rows[t].tol[1]) << p.name;
        double alternating = 0.0;
        for (int i = 0; i < p.downTaps; ++i)
            alternating += (i % 2 == 0 ? 1.0 : -1.0) * p.down[i];
        EXPECT_NEAR(alternating, 0.0, p.downTaps * 2.2e-16) << p.name;
    }
}

TEST(Interpolator, ImpulseReadsOutBothPhases)
{
    const int n = 2048, t0 = 300;
    for (const Pair &p : kPairs) {
        std::vector<float> src(n), dest(2 * n), history(278);
        src[t0] = 1.0f;
        interpolate2x(dest.data(), 2 * n, src.data(), n, p.up, history.data(), 2 * p.phaseTaps);
        for (int m = 0; m < 2 * n; ++m) {
            const int j = m / 2 - t0;
            const bool inside = j >= 0 && j < p.phaseTaps;
            const double want = !inside ? 0.0 : m % 2 == 0 ? p.up[2 * p.phaseTaps - 1 - j] : p.up[p.phaseTaps - 1 - j];
            ASSERT_EQ(dest[m], static_cast<float>(want)) << p.name << " " << m;
        }
    }
}

TEST(ResampleHistory, TwoHopsEqualOneContinuousBuffer)
{
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (const Pair &p : kPairs) {
        std::vector<float> x(4096), y(8192);
        for (float &v : x)
            v = dist(gen);
        for (float &v : y)
            v = dist(gen);
        std::vector<float> up1(8192), up2(8192), upHist1(278), upHist2(278);
        interpolate2x(up1.data(), 8192, x.data(), 4096, p.up, upHist1.data(), 2 * p.phaseTaps);
        interpolate2x(up2.data(), 4096, x.data(), 2048, p.up, upHist2.data(), 2 * p.phaseTaps);
        interpolate2x(up2.data() + 4096, 4096, x.data() + 2048, 2048, p.up, upHist2.data(), 2 * p.phaseTaps);
        EXPECT_EQ(up1, up2) << p.name;
        EXPECT_EQ(upHist1, upHist2) << p.name;

        std::vector<float> down1(4096), down2(4096), downHist1(22), downHist2(22);
        decimate2x(down1.data(), y.data(), 4096, downHist1.data(), p.down, p.downTaps);
        decimate2x(down2.data(), y.data(), 2048, downHist2.data(), p.down, p.downTaps);
        decimate2x(down2.data() + 2048, y.data() + 4096, 2048, downHist2.data(), p.down, p.downTaps);
        EXPECT_EQ(down1, down2) << p.name;
        EXPECT_EQ(downHist1, downHist2) << p.name;
    }
}

TEST(ResamplePair, DelaysByAWholeNumberOfHostSamples)
{
    // A Gaussian pulse (sigma 4 samples: its spectrum at 0.4 fs is e^-50 down)
    // meets only the flat passbands, so it comes back symmetric about t0 +
    // delay. A half-sample error would break the symmetry by about 0.06;
    // float rounding on a pulse of height 1 stays near 1e-7, hence 1e-6.
    const int n = 2048, t0 = 1000;
    for (const Pair &p : kPairs) {
        std::vector<float> src(n), up(2 * n), out(n), upHist(278), downHist(22);
        for (int i = 0; i < n; ++i)
            src[i] = static_cast<float>(std::exp(-0.5 * (i - t0) * (i - t0) / 16.0));
        interpolate2x(up.data(), 2 * n, src.data(), n, p.up, upHist.data(), 2 * p.phaseTaps);
        decimate2x(out.data(), up.data(), n, downHist.data(), p.down, p.downTaps);
        const int centre = t0 + p.delay;
        EXPECT_NEAR(out[centre], 1.0, 2e-4) << p.name; // DC gains are within 1e-4 of 1
        for (int k = 1; k <= 40; ++k)
            EXPECT_NEAR(out[centre + k], out[centre - k], 1e-6) << p.name << " k " << k;
    }
}

TEST(ResamplePair, ConstantSettlesToTheProductOfTheDcGains)
{
    // Through the engine at 48000 Hz with oversampling and no band: 156/20.
    // Errors: interpolator rounding (6e-8), the crossfade's two products and
    // sum in float (1.8e-7), both carried through the decimator (absolute tap
    // sum 1.87) plus its own rounding (6e-8): 5e-7 in all, far below the 9.7e-5
    // by which the product differs from 1.
    PeqInstance *inst = LintaqInit(3, 0);
    PeqParams params{};
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        params.freq[k] = 1000.0f;
        params.q[k] = 0.7f;
    }
    params.sampleRate = 48000;
    params.oversample = 1;
    LintaqSetPar(inst, &params);
    const int latency = LintaqGetLatency(inst), n = latency + 6000;
    std::vector<float> x(n, 1.0f);
    LintaqProc(inst, x.data(), n);
    LintaqExit(inst);
    const double expected = 1.000097105743627 * 0.99999999977303122;
    for (int i = latency + 256; i < n; ++i)
        ASSERT_NEAR(x[i], expected, 5e-7) << i;
}

} // namespace
