// The fast loops must give the plain loops' results bit for bit: the
// interleaved band cascade (samples and the carried states it saves), and
// the interpolator and decimator of every kernel set (samples and history).
#include <limits>

#include <gtest/gtest.h>

#include "design/design_bands.h"
#include "stream/band_cascade.h"
#include "stream/resample.h"
#include "stream/resample_tables.h"
#include "test_support.h"

namespace lintaq {
namespace {

struct Trial {
    PeqBandState bands[kBandCount];
    double states[kBandCount][2];
    std::vector<float> frame;
    int count, headLen, tailLen;

    void run(Direction direction, bool interleaved)
    {
        CascadeBand entries[kBandCount];
        for (int k = 0; k < count; ++k)
            entries[k] = {&bands[k], states[k]};
        (interleaved ? runCascade : runCascadeReference)(frame.data(), entries, count, headLen, tailLen, direction);
    }
};

Trial makeTrial(std::mt19937 &rng, bool hostile)
{
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::denorm_min(), -1e-40f, 3e38f, -0.0f};
    Trial t;
    t.count = int(rng() % (kBandCount + 1));
    for (int k = 0; k < t.count; ++k) {
        resetBand(t.bands[k]);
        const float freq = 20.0f * std::pow(1000.0f, (unit(rng) + 1.0f) / 2.0f);
        designBand(t.bands[k], unsigned(rng() % 5), freq, 15.0f * unit(rng), 0.2f + 4.0f * (unit(rng) + 1.0f),
                   (rng() % 2) ? 48000.0f : 96000.0f);
        t.states[k][0] = unit(rng);
        t.states[k][1] = (rng() % 4 == 0) ? 5e-11 * unit(rng) : unit(rng); // near the flush limit
    }
    // Short runs reach the prologue and epilogue of the interleaving alone.
    t.headLen = int(rng() % 3 == 0 ? 1 + rng() % 4 : 1 + rng() % 300);
    t.tailLen = int(rng() % 3 == 0 ? rng() % 4 : rng() % 600);
    t.frame.resize(size_t(t.headLen + t.tailLen));
    for (float &x : t.frame)
        x = hostile && rng() % 50 == 0 ? specials[rng() % 6] : unit(rng);
    return t;
}

TEST(BandCascade, InterleavedEqualsBandByBandBitForBit)
{
    std::mt19937 rng(20261205);
    for (int trial = 0; trial < 3000; ++trial)
        for (const Direction direction : {Direction::forward, Direction::backward}) {
            Trial plain = makeTrial(rng, trial % 4 == 3), fast = plain;
            plain.run(direction, false);
            fast.run(direction, true);
            ASSERT_EQ(test::firstMismatch(plain.frame, fast.frame), -1)
                << "trial " << trial << ", " << plain.count << " bands, head " << plain.headLen;
            ASSERT_EQ(test::firstMismatch(&plain.states[0][0], &fast.states[0][0], 2 * size_t(plain.count)), -1)
                << "trial " << trial;
        }
}

constexpr KernelSet kFastSets[] = {KernelSet::scalar, KernelSet::sse2, KernelSet::avx2, KernelSet::avx512,
                                   KernelSet::neon};

float sample(std::mt19937 &rng, bool hostile)
{
    static const float specials[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                                     std::numeric_limits<float>::denorm_min(), 3e38f, -0.0f};
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    return hostile && rng() % 40 == 0 ? specials[rng() % 5] : unit(rng);
}

TEST(Interpolator, EveryKernelSetEqualsOneOutputAtATimeBitForBit)
{
    for (const KernelSet set : kFastSets) {
        if (!kernelSetAvailable(set))
            continue;
        SCOPED_TRACE(kernelSetName(set));
        std::mt19937 rng(7);
        for (const int tableLength : {156, 278}) {
            const double *table = tableLength == 156 ? upTaps156 : upTaps278;
            std::vector<float> plainHistory(278), fastHistory(278);
            // Consecutive hops carry the history; lengths that are no multiple
            // of a vector reach the one-output tail of the fast loops.
            for (int hop = 0; hop < 40; ++hop) {
                const int n = hop % 2 ? 2048 : tableLength / 2 - 1 + int(rng() % 100);
                const size_t count = static_cast<size_t>(n);
                std::vector<float> src(count), plain(2 * count), fast(2 * count);
                for (float &x : src)
                    x = sample(rng, hop % 4 == 3);
                interpolate2xReference(plain.data(), 2 * n, src.data(), n, table, plainHistory.data(), tableLength);
                interpolate2x(fast.data(), 2 * n, src.data(), n, table, fastHistory.data(), tableLength, set);
                ASSERT_EQ(test::firstMismatch(plain, fast), -1) << tableLength << " taps, hop " << hop;
                ASSERT_EQ(test::firstMismatch(plainHistory, fastHistory), -1) << tableLength << " taps, hop " << hop;
            }
        }
    }
}

TEST(Decimator, EveryKernelSetEqualsOneOutputAtATimeBitForBit)
{
    for (const KernelSet set : kFastSets) {
        if (!kernelSetAvailable(set))
            continue;
        SCOPED_TRACE(kernelSetName(set));
        std::mt19937 rng(11);
        for (const int taps : {20, 22}) {
            const double *table = taps == 20 ? downTaps20 : downTaps22;
            std::vector<float> plainHistory(22), fastHistory(22);
            for (int hop = 0; hop < 40; ++hop) {
                // Exact-size buffers: the vector loads must not read past them.
                const int outCount = hop % 2 ? 2048 : taps / 2 + int(rng() % 80);
                const size_t count = static_cast<size_t>(outCount);
                std::vector<float> src(2 * count), plain(count), fast(count);
                for (float &x : src)
                    x = sample(rng, hop % 4 == 3);
                decimate2x(plain.data(), src.data(), outCount, plainHistory.data(), table, taps, KernelSet::plain);
                decimate2x(fast.data(), src.data(), outCount, fastHistory.data(), table, taps, set);
                ASSERT_EQ(test::firstMismatch(plain, fast), -1) << taps << " taps, hop " << hop;
                ASSERT_EQ(test::firstMismatch(plainHistory, fastHistory), -1) << taps << " taps, hop " << hop;
            }
        }
    }
}

} // namespace
} // namespace lintaq
