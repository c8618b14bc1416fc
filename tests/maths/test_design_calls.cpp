// Where the design calls the elementary functions: bands that are bypassed
// (above the band limit, switched off, or with settings no filter can have)
// are not designed, so their settings, however far out, never reach the
// functions' slow paths. The fallback counters show whether they did.
#include <gtest/gtest.h>

#include <cstdint>
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
