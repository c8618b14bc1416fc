// Where the design calls the elementary functions: bands that are bypassed
// (above the band limit, switched off, or with settings no filter can have)
// are not designed, so their settings, however far out, never reach the
// functions' slow paths. The fallback counters show whether they did.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "design/band_state.h"
#include "design/design_bands.h"
#include "lintaq.h"
#include "maths/fast_paths.h"

namespace {

using lintaq::maths::Function;

uint64_t designFallbacks()
{
    return lintaq::maths::fallbackCount(Function::sin) + lintaq::maths::fallbackCount(Function::cos) +
           lintaq::maths::fallbackCount(Function::tan) + lintaq::maths::fallbackCount(Function::exp10);
}

// Settings whose design would take the slow paths: angles far beyond the
// fast range.
struct FarBand {
    unsigned type;
    float freq, q;
    unsigned enable;
};

// The design's fallbacks while processing with these bands (the window's
// cosines at LintaqInit are not counted).
uint64_t fallbacksProcessing(const std::vector<FarBand> &bands)
{
    PeqParams p{};
    p.sampleRate = 48000;
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        const FarBand &b = bands[size_t(k) % bands.size()];
        p.type[k] = b.type;
        p.freq[k] = b.freq;
        p.gain[k] = 6.0f;
        p.q[k] = b.q;
        p.enable[k] = b.enable;
    }
    PeqInstance *inst = LintaqInit(0, 1);
    if (inst == nullptr)
        return ~uint64_t{0};
    lintaq::maths::resetFallbackCounts();
    LintaqSetPar(inst, &p);
    std::vector<float> left(64, 0.25f), right(64, -0.25f);
    LintaqProcST(inst, left.data(), right.data(), 64);
    const uint64_t count = designFallbacks();
    LintaqExit(inst);
    return count;
}

} // namespace

// The probe itself: designing such a band does reach the slow paths.
TEST(DesignCalls, FarSettingsReachTheSlowPathsWhenDesigned)
{
    lintaq::maths::resetFallbackCounts();
    lintaq::PeqBandState band{};
    lintaq::designBand(band, 0, 1e30f, 6.0f, 1.0f, 48000.0f);
    lintaq::designBand(band, 1, -3e38f, 6.0f, 1.0f, 48000.0f);
    EXPECT_GT(designFallbacks(), 0u);
}

TEST(DesignCalls, BypassedBandsAreNotDesigned)
{
    const std::vector<std::vector<FarBand>> cases = {
        {{0, 1e30f, 1.0f, 1}, {1, 3e38f, 0.7f, 1}, {3, 1e25f, 0.7f, 1}}, // above the band limit
        {{2, -1e30f, 1.0f, 1}, {4, -3e38f, 0.7f, 1}},                   // frequency not above zero
        {{0, 1000.0f, -1.0f, 0}, {0, 1e20f, 1.0f, 0}},                  // switched off
        {{0, 20000.0f, 0.0f, 1}, {1, 10000.0f, -2.0f, 1}},              // Q not above zero
    };
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(fallbacksProcessing(cases[i]), 0u) << "case " << i;
}

// A band redesigned after any change of its settings (one at a time, as
// automation does) has the coefficients of a band designed afresh, bit for
// bit: the kept sines, cosines and tangents are reused only when they still
// apply.
TEST(DesignCalls, RedesignEqualsFreshDesign)
{
    std::mt19937 rng(19);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    lintaq::PeqBandState kept;
    lintaq::resetBand(kept);
    unsigned type = 0;
    float freq = 1000.0f, gain = 3.0f, q = 1.0f, rate = 48000.0f;
    for (int step = 0; step < 20000; ++step) {
        switch (rng() % 5) {
        case 0: type = unsigned(rng() % 6); break;
        case 1: freq = 20.0f * std::pow(1000.0f, unit(rng)); break;
        case 2: gain = 40.0f * unit(rng) - 20.0f; break;
        case 3: q = 0.1f + 10.0f * unit(rng); break;
        default: rate = (rng() % 2) ? 96000.0f : 44100.0f; break;
        }
        lintaq::PeqBandState fresh;
        lintaq::resetBand(fresh);
        const bool keptWorks = lintaq::designBand(kept, type, freq, gain, q, rate);
        const bool freshWorks = lintaq::designBand(fresh, type, freq, gain, q, rate);
        ASSERT_EQ(keptWorks, freshWorks) << step;
        const double keptTerms[7] = {kept.fb1, kept.fb2, kept.ff0, kept.ff1, kept.ff2, kept.negCosW0, kept.peakGain};
        const double freshTerms[7] = {fresh.fb1, fresh.fb2, fresh.ff0, fresh.ff1, fresh.ff2, fresh.negCosW0,
                                      fresh.peakGain};
        // Each type writes its own terms: a peak fb1, -cos w0 and V; the
        // biquads their five coefficients.
        const bool peak = type == 0;
        if (type <= 4) {
            ASSERT_EQ(std::memcmp(keptTerms, freshTerms, sizeof(double) * (peak ? 1 : 5)), 0) << step;
            if (peak) {
                ASSERT_EQ(std::memcmp(keptTerms + 5, freshTerms + 5, sizeof(double) * 2), 0) << step;
            }
        }
    }
}
