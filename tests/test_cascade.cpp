// The interleaved band cascade must give the plain band-by-band result bit
// for bit: samples and the carried states it saves.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "design/design_bands.h"
#include "stream/band_cascade.h"

namespace lintaq {
namespace {

struct Trial {
    PeqBandState bands[kBandCount];
    double states[kBandCount][2];
    std::vector<float> frame;
    int count, headLen, tailLen;
};

float hostileSample(std::mt19937 &rng)
{
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::denorm_min(),
                              -1e-40f,
                              3e38f,
                              -0.0f};
    return specials[rng() % 6];
}

Trial makeTrial(std::mt19937 &rng, bool hostile)
{
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    Trial t;
    t.count = static_cast<int>(rng() % (kBandCount + 1));
    for (int k = 0; k < t.count; ++k) {
        resetBand(t.bands[k]);
        const float freq = 20.0f * std::pow(1000.0f, (unit(rng) + 1.0f) / 2.0f);
        designBand(t.bands[k], static_cast<unsigned>(rng() % 5), freq, 15.0f * unit(rng), 0.2f + 4.0f * (unit(rng) + 1.0f),
                   (rng() % 2) ? 48000.0f : 96000.0f);
        t.states[k][0] = unit(rng);
        t.states[k][1] = (rng() % 4 == 0) ? 5e-11 * unit(rng) : unit(rng); // near the flush limit
    }
    // Short runs reach the prologue and epilogue of the interleaving alone.
    t.headLen = static_cast<int>(rng() % 3 == 0 ? 1 + rng() % 4 : 1 + rng() % 300);
    t.tailLen = static_cast<int>(rng() % 3 == 0 ? rng() % 4 : rng() % 600);
    t.frame.resize(static_cast<size_t>(t.headLen + t.tailLen));
    for (float &x : t.frame)
        x = hostile && rng() % 50 == 0 ? hostileSample(rng) : unit(rng);
    return t;
}

// Bit patterns must match, except that NaN payloads may differ: which
// operand's payload an operation passes on is the compiler's choice.
template <typename T>
bool sameBits(const T *a, const T *b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (std::isnan(a[i]) && std::isnan(b[i]))
            continue;
        if (std::memcmp(&a[i], &b[i], sizeof(T)) != 0)
            return false;
    }
    return true;
}

void run(Trial &t, Direction direction, bool interleaved)
{
    CascadeBand entries[kBandCount];
    for (int k = 0; k < t.count; ++k)
        entries[k] = {&t.bands[k], t.states[k]};
    (interleaved ? runCascade : runCascadeReference)(t.frame.data(), entries, t.count, t.headLen,
                                                     t.tailLen, direction);
}

TEST(BandCascade, InterleavedEqualsBandByBandBitForBit)
{
    std::mt19937 rng(20261205);
    for (int trial = 0; trial < 3000; ++trial) {
        const bool hostile = trial % 4 == 3;
        for (Direction direction : {Direction::forward, Direction::backward}) {
            Trial plain = makeTrial(rng, hostile);
            Trial fast = plain;
            run(plain, direction, false);
            run(fast, direction, true);
            ASSERT_TRUE(sameBits(plain.frame.data(), fast.frame.data(), plain.frame.size()))
                << "trial " << trial << " bands " << plain.count << " head " << plain.headLen;
            ASSERT_TRUE(sameBits(&plain.states[0][0], &fast.states[0][0], 2 * static_cast<size_t>(plain.count)))
                << "trial " << trial;
        }
    }
}

} // namespace
} // namespace lintaq
