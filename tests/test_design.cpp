// Band coefficient design: figures, bypass and rate rules, lazy redesign,
// and the two-pass response the coefficients give.
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "design/design_bands.h"
#include "design/sections.h"
#include "interface/instance.h"
#include "lintaq.h"

namespace {

using lintaq::Direction;
using lintaq::PeqBandState;

struct InstanceDeleter {
    void operator()(PeqInstance *p) const { LintaqExit(p); }
};
using Instance = std::unique_ptr<PeqInstance, InstanceDeleter>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

PeqParams baseParams(int rate = 48000, unsigned oversample = 0)
{
    PeqParams p{};
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.freq[k] = 1000.0f;
        p.q[k] = 0.7f;
    }
    p.sampleRate = rate;
    p.oversample = oversample;
    return p;
}

// Stores the settings and runs the design step (a processing call of no samples).
void design(PeqInstance *inst, const PeqParams &p)
{
    LintaqSetPar(inst, &p);
    LintaqProc(inst, nullptr, 0);
}

const PeqBandState &designOne(Instance &inst, int rate, unsigned oversample, unsigned type, float freq,
                              float gain, float q)
{
    PeqParams p = baseParams(rate, oversample);
    p.enable[0] = 1;
    p.type[0] = type;
    p.freq[0] = freq;
    p.gain[0] = gain;
    p.q[0] = q;
    design(inst.get(), p);
    return inst->bands[0];
}

bool identical(const PeqBandState &a, const PeqBandState &b)
{
    const auto bits = [](double v) { return std::bit_cast<uint64_t>(v); };
    return a.bandType == b.bandType && a.bypass == b.bypass && a.enable == b.enable &&
           bits(a.fb1) == bits(b.fb1) && bits(a.fb2) == bits(b.fb2) && bits(a.ff0) == bits(b.ff0) &&
           bits(a.ff1) == bits(b.ff1) && bits(a.ff2) == bits(b.ff2) &&
           bits(a.negCosW0) == bits(b.negCosW0) && bits(a.peakGain) == bits(b.peakGain) &&
           bits(a.fwdState[0]) == bits(b.fwdState[0]) && bits(a.fwdState[1]) == bits(b.fwdState[1]) &&
           bits(a.fwdState2[0]) == bits(b.fwdState2[0]) && bits(a.fwdState2[1]) == bits(b.fwdState2[1]);
}

TEST(PeakCoefficients, MatchTheWorkedFigures)
{
    // Figures carry 14 decimals (rounding 5e-15); the design is a handful of
    // correctly rounded double operations (errors near 1e-16), so 1e-14.
    const struct { float gain; double d, c, v; } cases[] = {
        {+6.0f, -0.99144486137381, -0.87697646299276, 1.41253754462275},
        {-6.0f, -0.99144486137381, -0.83052521272259, 0.70794578438414},
    };
    for (const auto &c : cases) {
        Instance inst(LintaqInit(3, 0));
        const PeqBandState &b = designOne(inst, 48000, 0, 0, 1000.0f, c.gain, 1.0f);
        EXPECT_NEAR(b.negCosW0, c.d, 1e-14) << c.gain;
        EXPECT_NEAR(b.fb1, c.c, 1e-14) << c.gain;
        EXPECT_NEAR(b.peakGain, c.v, 1e-14) << c.gain;
    }
}

TEST(PeakCoefficients, BandwidthAngleClampsAtNinetyNinePercentOfPi)
{
    // w0/Q = 2*pi*10000/48000/0.1 is far above 0.99*pi: t = tan(0.495*pi) ~ 63.657,
    // and a boost (k = 1) gives c = (t - 1)/(t + 1).
    Instance inst(LintaqInit(3, 0));
    const PeqBandState &b = designOne(inst, 48000, 0, 0, 10000.0f, 6.0f, 0.1f);
    const double t = std::tan(0.495 * std::numbers::pi);
    EXPECT_NEAR(t, 63.657, 5e-4);
    EXPECT_NEAR(b.fb1, (t - 1.0) / (t + 1.0), 1e-13); // t itself may differ by an ulp
}

TEST(BypassRule, FollowsTheHostRateEvenWhenOversampling)
{
    // Limit = 0.453515 x host rate: 20000.0115 at 44100, 21768.72 at 48000
    // (with or without oversampling), 43537.44 at 96000. Frequencies are floats:
    // 20000.02f = 20000.0195, 21768.71f = 21768.711, 43537.45f = 43537.449.
    const struct { int rate; unsigned over; float freq; unsigned bypass; } cases[] = {
        {44100, 0, 20000.0f, 0},  {44100, 0, 20000.02f, 1}, {48000, 1, 21768.71f, 0},
        {48000, 1, 21768.72f, 1}, {48000, 0, 21768.72f, 1}, {96000, 1, 43537.43f, 0},
        {96000, 1, 43537.45f, 1}, {48000, 0, kNaN, 1},
    };
    for (const auto &c : cases) {
        Instance inst(LintaqInit(3, 0));
        EXPECT_EQ(designOne(inst, c.rate, c.over, 0, c.freq, 6.0f, 1.0f).bypass, c.bypass)
            << c.rate << " " << c.over << " " << c.freq;
    }
}

TEST(DesignRate, DoublesOnlyBelow64000WithOversampling)
{
    const struct { int rate; unsigned over; float designRate; } cases[] = {
        {48000, 0, 48000.0f},  {48000, 1, 96000.0f}, {44100, 1, 88200.0f},
        {63999, 1, 127998.0f}, {64000, 1, 64000.0f}, {96000, 1, 96000.0f},
    };
    for (const auto &c : cases) {
        Instance inst(LintaqInit(3, 0));
        const PeqBandState &got = designOne(inst, c.rate, c.over, 4, 5000.0f, 0.0f, 0.7071f);
        PeqBandState want{};
        lintaq::designBand(want, 4, 5000.0f, 0.0f, 0.7071f, c.designRate);
        EXPECT_EQ(got.fb1, want.fb1) << c.rate << " " << c.over;
        EXPECT_EQ(got.ff0, want.ff0) << c.rate << " " << c.over;
    }
}

TEST(LazyDesign, OnlyFlaggedBandsChangeAndCarriedStatesSurvive)
{
    Instance inst(LintaqInit(3, 1));
    PeqParams p = baseParams();
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.enable[k] = 1;
        p.type[k] = static_cast<uint32_t>(k % 5);
        p.freq[k] = 150.0f * static_cast<float>(k + 1);
        p.gain[k] = static_cast<float>(k) - 5.5f;
        p.q[k] = 0.5f + 0.25f * static_cast<float>(k);
    }
    design(inst.get(), p);
    // Distinctive carried states, and a marker in fb1 (which every type
    // writes): a band redesigned with unchanged settings would lose it.
    constexpr double kMarker = 12345.0;
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        inst->bands[k].fwdState[0] = k + 0.25;
        inst->bands[k].fwdState[1] = -k - 0.5;
        inst->bands[k].fwdState2[0] = k + 0.75;
        inst->bands[k].fwdState2[1] = -k - 0.125;
        inst->bands[k].fb1 = kMarker;
    }
    // Band 3 (a high-pass) changes frequency, then type (to peak and back to
    // a biquad), then gain.
    const struct { uint32_t type; float gain; float freq; } changes[] = {
        {3, -2.5f, 700.0f}, {0, -2.5f, 700.0f}, {2, -2.5f, 700.0f}, {2, 9.0f, 700.0f},
    };
    for (const auto &c : changes) {
        const std::vector<PeqBandState> before(inst->bands, inst->bands + LINTAQ_BANDS);
        p.type[3] = c.type;
        p.gain[3] = c.gain;
        p.freq[3] = c.freq;
        design(inst.get(), p);
        for (int k = 0; k < LINTAQ_BANDS; ++k) {
            if (k != 3) {
                EXPECT_TRUE(identical(inst->bands[k], before[k])) << "band " << k;
            }
        }
        const PeqBandState &b = inst->bands[3];
        EXPECT_EQ(b.bandType, c.type);
        EXPECT_FALSE(identical(b, before[3])) << "band 3 not redesigned";
        EXPECT_EQ(b.fwdState[0], 3.25);
        EXPECT_EQ(b.fwdState[1], -3.5);
        EXPECT_EQ(b.fwdState2[0], 3.75);
        EXPECT_EQ(b.fwdState2[1], -3.125);
    }
    // A rate change redesigns every band and still keeps every carried state.
    p.sampleRate = 44100;
    design(inst.get(), p);
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        EXPECT_NE(inst->bands[k].fb1, kMarker) << "band " << k << " not redesigned";
        EXPECT_EQ(inst->bands[k].fwdState[0], k + 0.25);
        EXPECT_EQ(inst->bands[k].fwdState2[1], -k - 0.125);
        EXPECT_EQ(inst->bandDirty[k], 0u);
    }
}

TEST(UnknownType, IsDesignedButDoesNotFilter)
{
    // Band 0 is first a strong peak, then type 7: its old coefficients stay
    // in the record but must not be used.
    const int n = 30000;
    std::vector<float> in(n);
    for (int i = 0; i < n; ++i)
        in[i] = static_cast<float>(std::sin(0.05 * i) + 0.3 * std::sin(0.71 * i));
    Instance plain(LintaqInit(3, 0)), typed(LintaqInit(3, 0));
    PeqParams p = baseParams();
    p.enable[0] = 1;
    p.gain[0] = 12.0f;
    design(typed.get(), p);
    p.type[0] = 7;
    design(typed.get(), p);
    EXPECT_EQ(typed->bands[0].bandType, 7u);
    EXPECT_EQ(typed->bands[0].bypass, 0u);
    std::vector<float> a = in, b = in;
    LintaqProc(plain.get(), a.data(), n);
    LintaqProc(typed.get(), b.data(), n);
    EXPECT_EQ(a, b);
}

TEST(BypassRule, UnworkableSettingsBypassTheBand)
{
    // Our choice: frequency or Q that is not a finite number above zero, or a
    // gain whose coefficients overflow, bypasses the band. Gain is not used
    // by the high- and low-pass, so a NaN gain leaves those running.
    const struct { unsigned type; float freq, gain, q; unsigned bypass; } cases[] = {
        {0, 0.0f, 6.0f, 1.0f, 1},    {0, -100.0f, 6.0f, 1.0f, 1},  {3, kNaN, 0.0f, 0.7f, 1},
        {0, 1000.0f, 6.0f, 0.0f, 1}, {1, 1000.0f, 6.0f, -1.0f, 1}, {4, 1000.0f, 0.0f, kNaN, 1},
        {0, 1000.0f, 6.0f, kInf, 1}, {0, 1000.0f, 2e4f, 1.0f, 1},  {2, 1000.0f, 3e4f, 1.0f, 1},
        {0, 1000.0f, kNaN, 1.0f, 1}, {3, 1000.0f, kNaN, 0.7f, 0},  {4, 1000.0f, kInf, 0.7f, 0},
        {1, 1000.0f, 6.0f, 1e-30f, 0},
    };
    for (const auto &c : cases) {
        Instance inst(LintaqInit(3, 0));
        EXPECT_EQ(designOne(inst, 48000, 0, c.type, c.freq, c.gain, c.q).bypass, c.bypass)
            << "type " << c.type << " f " << c.freq << " g " << c.gain << " q " << c.q;
    }
}

// One band run forwards and then backwards over an impulse in the middle of
// a frame, through the frame drivers: the result is the band's zero-phase
// response, whose DFT about the impulse is |H|^2.
std::vector<float> twoPassImpulse(const PeqBandState &band, int half = 8192)
{
    std::vector<float> x(2 * static_cast<size_t>(half));
    x[half] = 1.0f;
    double state[2] = {0.0, 0.0};
    lintaq::runBandFrame(x.data(), band, state, half, half, Direction::forward);
    lintaq::runBandFrame(x.data(), band, state, half, half, Direction::backward);
    return x;
}

double gainDbAt(const std::vector<float> &response, double freq, double rate)
{
    const int centre = static_cast<int>(response.size() / 2);
    double re = 0.0, im = 0.0;
    for (size_t i = 0; i < response.size(); ++i) {
        const double phase = 2.0 * std::numbers::pi * freq / rate * (static_cast<double>(i) - centre);
        re += response[i] * std::cos(phase);
        im -= response[i] * std::sin(phase);
    }
    return 20.0 * std::log10(std::hypot(re, im));
}

TEST(TwoPassResponse, ReachesTheFullGainAtCentreCornerAndPlateau)
{
    // Expected levels follow from the design: V^2 at a peak's centre,
    // Q^2 at a pass filter's corner (40 log10 Q dB), A^4 on a shelf's plateau
    // and A^2 at its corner. The impulse responses die out long before the
    // frame ends; each sample is rounded to float (2^-24 relative) on a
    // response whose absolute sum is a few units, so the DFT is good to
    // about 1e-6 relative, i.e. 1e-5 dB.
    const double passCorner = 40.0 * std::log10(static_cast<double>(0.7071f));
    const struct { unsigned type; float gain, q; double at, expectDb; } cases[] = {
        {0, 6.0f, 1.0f, 1000.0, 6.0},           {0, -6.0f, 1.0f, 1000.0, -6.0},
        {4, 0.0f, 0.7071f, 1000.0, passCorner}, {3, 0.0f, 0.7071f, 1000.0, passCorner},
        {1, 12.0f, 0.7071f, 0.0, 12.0},         {1, 12.0f, 0.7071f, 1000.0, 6.0},
        {2, 12.0f, 0.7071f, 24000.0, 12.0},     {2, 12.0f, 0.7071f, 1000.0, 6.0},
        {0, 6.0f, 1.0f, 0.0, 0.0},              {0, 6.0f, 1.0f, 24000.0, 0.0},
    };
    for (const auto &c : cases) {
        PeqBandState band{};
        ASSERT_TRUE(lintaq::designBand(band, c.type, 1000.0f, c.gain, c.q, 48000.0f));
        EXPECT_NEAR(gainDbAt(twoPassImpulse(band), c.at, 48000.0), c.expectDb, 1e-5)
            << "type " << c.type << " gain " << c.gain << " at " << c.at;
    }
}

TEST(TwoPassResponse, OppositePeaksCancel)
{
    // +12 and -12 dB at the same frequency and Q are exact inverses, so four
    // passes return the impulse. Each pass rounds its output to float: about
    // 6e-8 on the impulse and on samples up to ~1, through gains up to 2, so
    // a few 1e-7 in all; 1e-6 allows for that.
    for (const float q : {0.3f, 1.0f, 8.0f}) {
        PeqBandState boost{}, cut{};
        lintaq::designBand(boost, 0, 1000.0f, 12.0f, q, 48000.0f);
        lintaq::designBand(cut, 0, 1000.0f, -12.0f, q, 48000.0f);
        std::vector<float> x = twoPassImpulse(boost, 16384);
        double state[2] = {0.0, 0.0};
        lintaq::runBandFrame(x.data(), cut, state, 16384, 16384, Direction::forward);
        lintaq::runBandFrame(x.data(), cut, state, 16384, 16384, Direction::backward);
        double worst = 0.0;
        for (size_t i = 0; i < x.size(); ++i)
            worst = std::max(worst, std::fabs(x[i] - (i == 16384 ? 1.0 : 0.0)));
        EXPECT_LT(worst, 1e-6) << "Q " << q;
    }
}

} // namespace
