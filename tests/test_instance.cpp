// Creation, parameter intake, the lazy design step it feeds, peak
// coefficients at sample settings and which settings bypass a band. The shapes
// the coefficients give are checked against the response graph
// (test_graph.cpp).
#include <limits>

#include <gtest/gtest.h>

#include "interface/instance.h"
#include "test_support.h"

namespace {

using test::Instance;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

TEST(Creation, ClampsTheModeAndReportsTheVersion)
{
    // The latency of each mode on every path is checked in test_stream.cpp.
    EXPECT_EQ(LintaqGetLatency(Instance(LintaqInit(-5, 0)).get()), 36938);
    EXPECT_EQ(LintaqGetLatency(Instance(LintaqInit(9, 1)).get()), 8266);
    EXPECT_EQ(LintaqGetVersion(), 65547);
}

uint32_t dirtyMask(const PeqInstance &inst)
{
    uint32_t mask = 0;
    for (int k = 0; k < LINTAQ_BANDS; ++k)
        mask |= inst.bandDirty[k] << k;
    return mask;
}

TEST(ParameterIntake, RaisesFlagsOnlyForWhatChanged)
{
    // Flags accumulate over the calls: nothing is designed in between.
    const struct {
        const char *what;
        void (*change)(PeqParams &);
        uint32_t redesignAll, bandsChanged, dirty;
    } steps[] = {
        {"creation values", [](PeqParams &) {}, 0, 0, 0},
        {"noise, read per frame", [](PeqParams &p) { p.noise = 1; }, 0, 0, 0},
        {"gain +0 to -0", [](PeqParams &p) { p.gain[4] = -0.0f; }, 0, 0, 0},
        {"oversample at a rate it does not double", [](PeqParams &p) { p.oversample = 1, p.sampleRate = 96000; },
         1, 0, 0},
        {"type of band 2", [](PeqParams &p) { p.type[2] = 1; }, 1, 1, 1u << 2},
        {"enable of band 7", [](PeqParams &p) { p.enable[7] = 3; }, 1, 1, 1u << 2 | 1u << 7},
    };
    Instance inst(LintaqInit(3, 0));
    PeqParams p = test::creationValues();
    for (const auto &s : steps) {
        s.change(p);
        LintaqSetPar(inst.get(), &p);
        EXPECT_EQ(inst->redesignAll, s.redesignAll) << s.what;
        EXPECT_EQ(inst->bandsChanged, s.bandsChanged) << s.what;
        EXPECT_EQ(dirtyMask(*inst), s.dirty) << s.what;
    }
    EXPECT_EQ(inst->noise, 1u);

    // A NaN never equals its stored copy, so its band is flagged on every call.
    p.freq[5] = kNaN;
    LintaqSetPar(inst.get(), &p);
    LintaqProc(inst.get(), nullptr, 0); // designs and clears every flag
    EXPECT_EQ(inst->redesignAll | inst->bandsChanged | dirtyMask(*inst), 0u);
    LintaqSetPar(inst.get(), &p);
    EXPECT_EQ(dirtyMask(*inst), 1u << 5);
}

TEST(LazyDesign, OnlyFlaggedBandsChangeAndCarriedStatesSurvive)
{
    Instance inst(LintaqInit(3, 1));
    PeqParams p = test::creationValues();
    for (int k = 0; k < LINTAQ_BANDS; ++k)
        p = test::withBands({{k, 1, uint32_t(k % 5), 150.0f * float(k + 1), float(k) - 5.5f, 0.5f + 0.25f * float(k)}},
                            p);
    // Every type writes fb1, so a marker left there shows which bands a
    // design step skipped; distinctive carried states must survive it.
    constexpr double kMarker = 12345.0;
    const auto cell = [&](int k, int i) -> double & {
        return i < 2 ? inst->bands[k].fwdState[i] : inst->bands[k].fwdState2[i - 2];
    };
    const auto mark = [](int k, int i) { return 10.0 * k + i + 0.5; };
    const auto design = [&](const char *what, uint32_t redesigned) {
        for (int k = 0; k < LINTAQ_BANDS; ++k) {
            inst->bands[k].fb1 = kMarker;
            for (int i = 0; i < 4; ++i)
                cell(k, i) = mark(k, i);
        }
        LintaqSetPar(inst.get(), &p);
        LintaqProc(inst.get(), nullptr, 0);
        for (int k = 0; k < LINTAQ_BANDS; ++k) {
            EXPECT_EQ(inst->bands[k].fb1 != kMarker, ((redesigned >> k) & 1) != 0) << what << ", band " << k;
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(cell(k, i), mark(k, i)) << what << ", band " << k;
        }
    };
    design("first design", 0xfff);
    // Band 3, a high-pass, changes frequency, then type (to peak and back
    // to a biquad), then gain.
    const struct { uint32_t type; float gain, freq; } changes[] = {
        {3, -2.5f, 700.0f}, {0, -2.5f, 700.0f}, {2, -2.5f, 700.0f}, {2, 9.0f, 700.0f},
    };
    for (const auto &c : changes) {
        p.type[3] = c.type, p.gain[3] = c.gain, p.freq[3] = c.freq;
        design("band 3 changed", 1u << 3);
        EXPECT_EQ(inst->bands[3].bandType, c.type);
    }
    p.sampleRate = 44100;
    design("rate changed", 0xfff);
}

TEST(NullArguments, AreIgnored)
{
    const PeqParams p = test::creationValues();
    float x[4] = {1, 2, 3, 4}, y[4] = {5, 6, 7, 8};
    LintaqSetPar(nullptr, &p);
    LintaqExit(nullptr);
    LintaqProc(nullptr, x, 4);
    LintaqProcST(nullptr, x, y, 4);
    EXPECT_TRUE(x[3] == 4.0f && y[3] == 8.0f);
    Instance inst(LintaqInit(0, 0));
    LintaqSetPar(inst.get(), nullptr);
    EXPECT_EQ(inst->redesignAll | inst->bandsChanged, 0u);
}

// Stores one band's settings and runs the design step (a call of no samples).
lintaq::PeqBandState designOne(int rate, uint32_t over, uint32_t type, float freq, float gain, float q)
{
    test::Instance inst(LintaqInit(3, 0));
    const PeqParams p = test::withBands({{0, 1, type, freq, gain, q}}, test::creationValues(rate, over));
    LintaqSetPar(inst.get(), &p);
    LintaqProc(inst.get(), nullptr, 0);
    return inst->bands[0];
}

TEST(PeakCoefficients, FollowCentreBandwidthGainAndDesignRate)
{
    // Expected values carry 14 decimals (rounding 5e-15); the design is a handful of
    // correctly rounded double operations (errors near 1e-16), so 1e-14.
    // Row 3: w0/Q is far above 0.99 pi, so the bandwidth angle clamps:
    // t = tan(0.495 pi) = 63.657 and a boost gives c = (t - 1)/(t + 1).
    // Rows 4 and 5: the design rate Fd, which d = -cos(2 pi 1000/Fd) shows,
    // doubles below 64000 Hz with oversampling (96000) and not from 64000 up.
    const struct { int rate; uint32_t over; float freq, gain, q; double d, c, v; } cases[] = {
        {48000, 0, 1000.0f, +6.0f, 1.0f, -0.99144486137381, -0.87697646299276, 1.41253754462275},
        {48000, 0, 1000.0f, -6.0f, 1.0f, -0.99144486137381, -0.83052521272259, 0.70794578438414},
        {48000, 0, 10000.0f, +6.0f, 0.1f, -0.25881904510252, 0.96906741719379, 1.41253754462275},
        {48000, 1, 1000.0f, +6.0f, 1.0f, -0.99785892323860, -0.93660220799206, 1.41253754462275},
        {64000, 1, 1000.0f, +6.0f, 1.0f, -0.99518472667220, -0.90634716901915, 1.41253754462275},
    };
    for (const auto &c : cases) {
        const lintaq::PeqBandState b = designOne(c.rate, c.over, 0, c.freq, c.gain, c.q);
        EXPECT_NEAR(b.negCosW0, c.d, 1e-14) << c.rate << " Hz, " << c.freq << " Hz, " << c.gain << " dB";
        EXPECT_NEAR(b.fb1, c.c, 1e-14) << c.rate << " Hz, " << c.freq << " Hz, " << c.gain << " dB";
        EXPECT_NEAR(b.peakGain, c.v, 1e-14) << c.rate << " Hz, " << c.freq << " Hz, " << c.gain << " dB";
    }
}

TEST(BypassRule, FollowsTheHostRateEvenWhenOversampling)
{
    // Limit = 0.453515 x host rate: 20000.0115 at 44100, 21768.72 at 48000
    // (with or without oversampling), 43537.44 at 96000. As floats,
    // 20000.02f = 20000.0195, 21768.71f = 21768.711, 43537.45f = 43537.449.
    // A NaN frequency counts as reaching the limit.
    const struct { int rate; uint32_t over; float freq; uint32_t bypass; } cases[] = {
        {44100, 0, 20000.0f, 0},  {44100, 0, 20000.02f, 1}, {48000, 1, 21768.71f, 0}, {48000, 1, 21768.72f, 1},
        {48000, 0, 21768.72f, 1}, {96000, 1, 43537.43f, 0}, {96000, 1, 43537.45f, 1}, {48000, 0, kNaN, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(designOne(c.rate, c.over, 0, c.freq, 6.0f, 1.0f).bypass, c.bypass)
            << c.rate << " Hz, oversample " << c.over << ", " << c.freq << " Hz";
}

} // namespace
