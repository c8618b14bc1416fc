// The curve editor's rules, checked without a display: the mapping between
// pixels and Hz/dB, which handle a click lands on, and what a drag, a wheel
// step, a double-click, a click on empty space or typed text does to the
// parameter values.
#include <cmath>

#include <gtest/gtest.h>

#include "editor_model.h"
#include "ring_rule.h"

namespace {

using namespace lintaq_editor;
using namespace lintaq_plugin;

const Rect kArea{40, 30, 800, 400};
constexpr double kRate = 48000;

Values defaults(Variant v)
{
    Values x{};
    for (uint32_t p = 0; p < kParamCount; ++p) x[p] = paramRange(v, p).def;
    return x;
}

void setBand(Values &v, int k, uint32_t routing, uint32_t type, float freq, float gain, float q)
{
    v[bandParam(k, kEnable)] = static_cast<float>(routing);
    v[bandParam(k, kType)] = static_cast<float>(type);
    v[bandParam(k, kFreq)] = freq;
    v[bandParam(k, kGain)] = gain;
    v[bandParam(k, kQ)] = q;
}

// ---- pixels <-> Hz and dB

TEST(PlotMapping, AxesSpanTenHertzToTwentyKilohertzAndTheGainRange)
{
    const PlotMapping m(kArea, 24);
    EXPECT_NEAR(m.xOfFreq(10), kArea.x, 1e-3);
    EXPECT_NEAR(m.xOfFreq(20000), kArea.x + kArea.w, 1e-3);
    // Logarithmic: equal ratios are equal distances.
    EXPECT_NEAR(m.xOfFreq(200) - m.xOfFreq(100), m.xOfFreq(2000) - m.xOfFreq(1000), 1e-3);
    EXPECT_NEAR(m.yOfDb(24), kArea.y, 1e-4);
    EXPECT_NEAR(m.yOfDb(-24), kArea.y + kArea.h, 1e-4);
    EXPECT_NEAR(m.yOfDb(0), kArea.y + kArea.h / 2, 1e-4);
    // Zoomed to ±6 dB, 6 dB reaches the top.
    EXPECT_NEAR(PlotMapping(kArea, 6).yOfDb(6), kArea.y, 1e-4);
}

TEST(PlotMapping, PixelToValueIsTheInverseOfValueToPixel)
{
    const PlotMapping m(kArea, 30);
    for (float f : {10.0f, 31.5f, 100.0f, 1000.0f, 12345.0f, 20000.0f})
        EXPECT_NEAR(m.freqOfX(m.xOfFreq(f)) / f, 1.0f, 1e-5) << f;
    for (float db : {-30.0f, -7.5f, 0.0f, 3.25f, 30.0f})
        EXPECT_NEAR(m.dbOfY(m.yOfDb(db)), db, 1e-4) << db;
}

// ---- handles

TEST(HitHandle, FindsTheEnabledBandUnderThePointerOnly)
{
    Values v = defaults(Variant::stereo);
    const PlotMapping m(kArea, 24);
    setBand(v, 3, LINTAQ_BOTH, LINTAQ_PEAK, 1000, 6, 1);
    const float x = m.xOfFreq(1000), y = m.yOfDb(6);
    EXPECT_EQ(hitHandle(v, m, x + 3, y - 3, 9), 3);
    EXPECT_EQ(hitHandle(v, m, x + 10, y, 9), -1);
    // A disabled band has no handle on the curve.
    setBand(v, 3, LINTAQ_OFF, LINTAQ_PEAK, 1000, 6, 1);
    EXPECT_EQ(hitHandle(v, m, x, y, 9), -1);
}

TEST(HitHandle, PassBandsSitAtTheirLevelAtTheFrequencyAndFarHandlesOnTheEdge)
{
    Values v = defaults(Variant::mono);
    const PlotMapping m(kArea, 6);
    setBand(v, 0, 1, LINTAQ_HIGH_PASS, 80, 20 /* ignored */, 2);
    EXPECT_NEAR(handleDb(v, 0), 40 * std::log10(2.0f), 1e-4); // +12 dB
    // +12 dB lies beyond the ±6 dB view: the handle is drawn and hit at the top edge.
    EXPECT_EQ(hitHandle(v, m, m.xOfFreq(80), kArea.y, 9), 0);
    // Of two handles in reach, the nearer wins.
    setBand(v, 5, 1, LINTAQ_PEAK, 85, 6, 1);
    EXPECT_EQ(hitHandle(v, m, m.xOfFreq(85), kArea.y + 1, 20), 5);
}

// ---- drag, wheel, double-click, add

TEST(Drag, HorizontalMovesFrequencyLogarithmicallyVerticalMovesGain)
{
    Values v = defaults(Variant::stereo);
    const PlotMapping m(kArea, 24);
    setBand(v, 2, LINTAQ_BOTH, LINTAQ_PEAK, 1000, 0, 1.5f);
    const DragStart d = beginDrag(v, 2, m.xOfFreq(1000), m.yOfDb(0));
    // A tenth of the width is a tenth of the 2000:1 span; 50 px up of 400 is 6 dB.
    applyDrag(v, d, m, d.x + 80, d.y - 50, false, kRate);
    EXPECT_NEAR(v[bandParam(2, kFreq)], 1000 * std::pow(2000.0f, 0.1f), 0.5f);
    EXPECT_NEAR(v[bandParam(2, kGain)], 6.0f, 1e-3);
    EXPECT_EQ(v[bandParam(2, kQ)], 1.5f);
    // Far beyond the edges: held to ±30 dB and below the band limit at the rate.
    applyDrag(v, d, m, d.x + 5000, d.y - 5000, false, 44100);
    EXPECT_EQ(v[bandParam(2, kGain)], 30.0f);
    EXPECT_LT(v[bandParam(2, kFreq)], 0.453515f * 44100);
    applyDrag(v, d, m, d.x - 5000, d.y + 5000, false, kRate);
    EXPECT_EQ(v[bandParam(2, kGain)], -30.0f);
    EXPECT_EQ(v[bandParam(2, kFreq)], kMinFreq);
}

TEST(Drag, PassBandsMoveQAndAModifierDragMovesQOnly)
{
    Values v = defaults(Variant::mono);
    const PlotMapping m(kArea, 24);
    setBand(v, 0, 1, LINTAQ_LOW_PASS, 5000, 0, 1);
    DragStart d = beginDrag(v, 0, m.xOfFreq(5000), m.yOfDb(0));
    applyDrag(v, d, m, d.x, d.y - 100, false, kRate); // +12 dB: Q = 10^(12/40)
    EXPECT_NEAR(v[bandParam(0, kQ)], std::pow(10.0f, 12.0f / 40), 1e-3);
    EXPECT_EQ(v[bandParam(0, kGain)], 0.0f);

    setBand(v, 4, 1, LINTAQ_PEAK, 300, -4, 2);
    d = beginDrag(v, 4, m.xOfFreq(300), m.yOfDb(-4));
    applyDrag(v, d, m, d.x, d.y - kQPixelsPerOctave, true, kRate); // an octave up: Q doubles
    EXPECT_NEAR(v[bandParam(4, kQ)], 4.0f, 1e-4);
    EXPECT_EQ(v[bandParam(4, kGain)], -4.0f);
    // A shelf's Q stops at its own limit.
    setBand(v, 6, 1, LINTAQ_HIGH_SHELF, 8000, 3, 1.5f);
    d = beginDrag(v, 6, m.xOfFreq(8000), m.yOfDb(3));
    applyDrag(v, d, m, d.x, d.y - 3 * kQPixelsPerOctave, true, kRate);
    EXPECT_EQ(v[bandParam(6, kQ)], maxQFor(LINTAQ_HIGH_SHELF));
}

TEST(Wheel, EachStepIsASixthOfAnOctaveOfQWithinTheTypesRange)
{
    Values v = defaults(Variant::stereo);
    setBand(v, 1, LINTAQ_BOTH, LINTAQ_PEAK, 500, 3, 1);
    applyWheel(v, 1, 6);
    EXPECT_NEAR(v[bandParam(1, kQ)], 2.0f, 1e-5);
    applyWheel(v, 1, -12);
    EXPECT_NEAR(v[bandParam(1, kQ)], 0.5f, 1e-5);
    applyWheel(v, 1, -100);
    EXPECT_EQ(v[bandParam(1, kQ)], kMinQ);
    setBand(v, 1, LINTAQ_BOTH, LINTAQ_LOW_SHELF, 100, 3, 1.9f);
    applyWheel(v, 1, 1);
    EXPECT_EQ(v[bandParam(1, kQ)], 2.0f);
}

TEST(Toggle, DoubleClickSwitchesABandOffAndBackOnBothChannels)
{
    Values s = defaults(Variant::stereo);
    setBand(s, 7, LINTAQ_SIDE, LINTAQ_PEAK, 2000, 2, 1);
    toggleBand(s, Variant::stereo, 7);
    EXPECT_EQ(s[bandParam(7, kEnable)], static_cast<float>(LINTAQ_OFF));
    toggleBand(s, Variant::stereo, 7);
    EXPECT_EQ(s[bandParam(7, kEnable)], static_cast<float>(LINTAQ_BOTH));
    Values m = defaults(Variant::mono);
    toggleBand(m, Variant::mono, 0);
    EXPECT_EQ(m[bandParam(0, kEnable)], 1.0f);
    toggleBand(m, Variant::mono, 0);
    EXPECT_EQ(m[bandParam(0, kEnable)], 0.0f);
}

TEST(AddBand, TheLowestFreeBandBecomesAPeakAtTheClickUntilAllTwelveAreUsed)
{
    Values v = defaults(Variant::stereo);
    const PlotMapping m(kArea, 24);
    setBand(v, 0, LINTAQ_LEFT, LINTAQ_HIGH_PASS, 40, 0, 0.7f);
    const int k = addBandAt(v, Variant::stereo, m, m.xOfFreq(700), m.yOfDb(-9), kRate);
    EXPECT_EQ(k, 1);
    EXPECT_EQ(v[bandParam(1, kType)], static_cast<float>(LINTAQ_PEAK));
    EXPECT_EQ(v[bandParam(1, kEnable)], static_cast<float>(LINTAQ_BOTH));
    EXPECT_NEAR(v[bandParam(1, kFreq)], 700, 0.01f);
    EXPECT_NEAR(v[bandParam(1, kGain)], -9, 1e-3);
    EXPECT_EQ(v[bandParam(1, kQ)], kPeakQ);
    for (int b = 2; b < LINTAQ_BANDS; ++b) setBand(v, b, LINTAQ_BOTH, LINTAQ_PEAK, 1000, 0, 1);
    const Values full = v;
    EXPECT_EQ(addBandAt(v, Variant::stereo, m, m.xOfFreq(100), m.yOfDb(3), kRate), -1);
    EXPECT_TRUE(changedParams(full, v).empty());
}

// ---- ring warning and latency

TEST(RingWarning, FollowsTheLookaheadOfTheChosenMode)
{
    Values v = defaults(Variant::mono);
    // 40 Hz at Q 10 rings for about 4.6·10/(π·40) = 366 ms: past mode 2's
    // 8192 samples (171 ms at 48 kHz), within mode 0's 32768 (683 ms).
    setBand(v, 2, 1, LINTAQ_PEAK, 40, -12, 10);
    v[kQuality] = 2;
    EXPECT_TRUE(bandRingsPastLookahead(v, 2, kRate));
    v[kQuality] = 0;
    EXPECT_FALSE(bandRingsPastLookahead(v, 2, kRate));
    EXPECT_EQ(lintaq_ring::shortestModeHolding(lintaq_ring::ringSeconds(40, 10), kRate), 0);
    // A wide band at the same place does not ring; a switched-off band never warns.
    v[kQuality] = 3;
    setBand(v, 3, 1, LINTAQ_PEAK, 1000, 6, 1);
    EXPECT_FALSE(bandRingsPastLookahead(v, 3, kRate));
    setBand(v, 2, 0, LINTAQ_PEAK, 40, -12, 10);
    EXPECT_FALSE(bandRingsPastLookahead(v, 2, kRate));
    // A shelf is judged at the Q the engine is given (held to 2).
    setBand(v, 4, 1, LINTAQ_LOW_SHELF, 12, 6, 20);
    v[kQuality] = 3;
    EXPECT_EQ(bandRingsPastLookahead(v, 4, kRate), lintaq_ring::ringsPastLookahead(12, 2, 3, kRate));
}

TEST(Latency, ShownLatencyIsTheEnginesForEveryModeAndKind)
{
    Values v = defaults(Variant::stereo);
    for (int mode = 0; mode < kModeCount; ++mode)
        for (bool even : {false, true}) {
            v[kQuality] = static_cast<float>(mode);
            v[kEvenLoad] = even ? 1.0f : 0.0f;
            PeqInstance *e = newEngine(mode, even, false);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(latencySamples(v), LintaqGetLatency(e)) << mode << " " << even;
            LintaqExit(e);
        }
}

// ---- typed text and the engine's block

TEST(TypedText, NumbersWithUnitsAndKiloAreTakenAndHeldToTheRange)
{
    float x = 0;
    EXPECT_TRUE(parseNumberText("1k", true, x));
    EXPECT_EQ(x, 1000.0f);
    EXPECT_TRUE(parseNumberText(" 1.5 kHz", true, x));
    EXPECT_EQ(x, 1500.0f);
    EXPECT_TRUE(parseNumberText("-3 dB", false, x));
    EXPECT_EQ(x, -3.0f);
    for (const char *bad : {"", "abc", "12x", "1k", "nan", "inf"})
        EXPECT_FALSE(parseNumberText(bad, false, x)) << bad;

    Values v = defaults(Variant::stereo);
    EXPECT_TRUE(setFromText(v, Variant::stereo, bandParam(4, kFreq), "99k"));
    EXPECT_EQ(v[bandParam(4, kFreq)], kMaxFreq);
    EXPECT_TRUE(setFromText(v, Variant::stereo, bandParam(4, kGain), "+45"));
    EXPECT_EQ(v[bandParam(4, kGain)], kMaxGain);
    v[bandParam(4, kType)] = LINTAQ_HIGH_SHELF;
    EXPECT_TRUE(setFromText(v, Variant::stereo, bandParam(4, kQ), "5"));
    EXPECT_EQ(v[bandParam(4, kQ)], 2.0f);
    const Values before = v;
    EXPECT_FALSE(setFromText(v, Variant::stereo, bandParam(4, kQ), "wide"));
    EXPECT_TRUE(changedParams(before, v).empty());
}

TEST(EngineBlock, HoldsQToTheTypeAndCarriesOversamplingAndRate)
{
    Values v = defaults(Variant::stereo);
    setBand(v, 0, LINTAQ_MID, LINTAQ_HIGH_PASS, 50, 0, 18);
    v[kOversample] = 1;
    const PeqParams p = engineParams(v, 44100);
    EXPECT_EQ(p.q[0], maxQFor(LINTAQ_HIGH_PASS));
    EXPECT_EQ(p.enable[0], static_cast<uint32_t>(LINTAQ_MID));
    EXPECT_EQ(p.sampleRate, 44100);
    EXPECT_EQ(p.oversample, 1u);
    EXPECT_EQ(p.noise, 0u);
    // Views: a band on both channels is in every view, a mid band only in mid's.
    setBand(v, 1, LINTAQ_BOTH, LINTAQ_PEAK, 100, 3, 1);
    EXPECT_TRUE(bandInView(v, Variant::stereo, 1, LINTAQ_SIDE));
    EXPECT_TRUE(bandInView(v, Variant::stereo, 0, LINTAQ_MID));
    EXPECT_FALSE(bandInView(v, Variant::stereo, 0, LINTAQ_LEFT));
    EXPECT_TRUE(bandInView(v, Variant::mono, 0, LINTAQ_LEFT));
}

} // namespace
