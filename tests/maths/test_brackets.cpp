// The short brackets the graph uses to round in single precision: each
// must hold the correctly rounded result (checked against the engine's own
// functions, which the MPFR test checks), and the graph's steps decided
// from them must give the bits of the full evaluation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "graph/graph_points.h"
#include "graph/graph_rate.h"
#include "maths/bracket_pairs.h"
#include "maths/brackets.h"
#include "maths/elementary.h"

namespace {

float anyFloat(std::mt19937_64 &g)
{
    const uint32_t bits = static_cast<uint32_t>(g());
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

double anyDouble(std::mt19937_64 &g)
{
    const uint64_t bits = g();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// Tangent arguments: the graph's float angles, moderate and large doubles.
double tanArgument(std::mt19937_64 &g)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    switch (g() % 4) {
    case 0: return static_cast<float>(1.5708 * unit(g));
    case 1: return 16.0 * unit(g) - 8.0;
    case 2: return std::ldexp(unit(g), -int(g() % 30));
    default: return std::ldexp(unit(g), int(g() % 21)) * ((g() & 1) ? 1.0 : -1.0);
    }
}

// Power ratios: any float, and doubles across the whole range.
double ratioArgument(std::mt19937_64 &g)
{
    return (g() & 1) ? static_cast<double>(anyFloat(g)) : anyDouble(g);
}

constexpr int kArguments = 2000000;

} // namespace

TEST(Brackets, HoldTheCorrectlyRoundedResult)
{
    std::mt19937_64 g(19);
    int tanInRange = 0, logInRange = 0;
    for (int i = 0; i < kArguments; ++i) {
        double down, up;
        const double t = tanArgument(g);
        if (lintaq::maths::tanBracket(t, down, up)) {
            ++tanInRange;
            const double exact = lintaq::maths::tan(t);
            ASSERT_TRUE(down <= exact && exact <= up) << std::hexfloat << "tan(" << t << ")";
        }
        const double x = ratioArgument(g);
        if (lintaq::maths::log10Bracket(x, down, up)) {
            ++logInRange;
            const double exact = lintaq::maths::log10(x);
            ASSERT_TRUE(down <= exact && exact <= up) << std::hexfloat << "log10(" << x << ")";
        }
    }
    EXPECT_GT(tanInRange, kArguments / 2);
    EXPECT_GT(logInRange, kArguments / 4);
}

// Every float power ratio and angle the graph can meet, as bit patterns,
// including zeros, infinities, NaNs and negatives.
TEST(Brackets, GraphStepsGiveTheFullEvaluationsBits)
{
    std::mt19937_64 g(20);
    for (int i = 0; i < kArguments; ++i) {
        const float ratio = anyFloat(g);
        const float viaBracket = lintaq::ratioToDecibels(ratio);
        const float full = lintaq::finiteDecibels(10.0 * lintaq::maths::log10(static_cast<double>(ratio)));
        ASSERT_TRUE(lintaq::sameFloatBits(viaBracket, full)) << std::hexfloat << ratio;
        const float angle = static_cast<float>(std::uniform_real_distribution<double>(0.0, 1.5708)(g));
        const float tanFull = static_cast<float>(lintaq::maths::tan(static_cast<double>(angle)));
        ASSERT_TRUE(lintaq::sameFloatBits(lintaq::tanToFloat(angle), tanFull)) << std::hexfloat << angle;
    }
}

namespace {

bool sameBits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A pair's lane against the scalar bracket of the same argument: usable
// exactly where the scalar one is, with the same bits.
void expectLaneMatches(bool scalarUsable, double down, double up, const lintaq::maths::BracketPair &pair,
                       int lane, double x)
{
    ASSERT_EQ(pair.usable[lane] != 0, scalarUsable) << std::hexfloat << x;
    if (scalarUsable) {
        ASSERT_TRUE(sameBits(pair.down[lane], down) && sameBits(pair.up[lane], up)) << std::hexfloat << x;
    }
}

// The graph's float angles near the multiples of pi/256 (where the reduced
// argument is tiny) and near pi/2, where the quotient is largest.
float hardAngle(std::mt19937_64 &g)
{
    const int k = int(g() % 129);
    const float near = static_cast<float>(k * (3.14159265358979323846 / 256.0));
    const int steps = int(g() % 64) - 32;
    const float f = near + static_cast<float>(steps) * 0x1p-24f * (near > 0.0f ? near : 1.0f);
    return f > lintaq::kMaxWarpAngle ? lintaq::kMaxWarpAngle : f;
}

} // namespace

TEST(BracketPairs, EachLaneGivesTheScalarBracket)
{
    std::mt19937_64 g(21);
    for (int i = 0; i < kArguments / 2; ++i) {
        double t[2], r[2];
        for (int lane = 0; lane < 2; ++lane) {
            t[lane] = (g() % 8 == 0) ? anyDouble(g) : (g() & 1) ? hardAngle(g) : tanArgument(g);
            r[lane] = static_cast<double>(anyFloat(g)); // the graph's ratios are floats
        }
        const auto tanPair = lintaq::maths::tanBracketPair(lintaq::maths::DoublePair{t[0], t[1]});
        const auto logPair = lintaq::maths::log10BracketPairOfFloats(lintaq::maths::DoublePair{r[0], r[1]});
        for (int lane = 0; lane < 2; ++lane) {
            double down = 0.0, up = 0.0;
            const bool tanUsable = lintaq::maths::tanBracket(t[lane], down, up);
            expectLaneMatches(tanUsable, down, up, tanPair, lane, t[lane]);
            const bool logUsable = lintaq::maths::log10Bracket(r[lane], down, up);
            expectLaneMatches(logUsable, down, up, logPair, lane, r[lane]);
        }
    }
}

TEST(Brackets, TangentBracketHoldsNearTheTableAnglesAndPiOverTwo)
{
    std::mt19937_64 g(22);
    for (int i = 0; i < kArguments / 4; ++i) {
        const double x = hardAngle(g);
        double down, up;
        if (lintaq::maths::tanBracket(x, down, up)) {
            const double exact = lintaq::maths::tan(x);
            ASSERT_TRUE(down <= exact && exact <= up) << std::hexfloat << "tan(" << x << ")";
        }
    }
}

// The whole-grid steps, two points at a time, against the single-point
// steps: every length (for the odd tail), hostile values included.
TEST(GraphPoints, WholeGridStepsGiveTheSinglePointSteps)
{
    std::mt19937_64 g(23);
    const float inverseRate = 1.0f / 96000.0f, warpScale = 96000.0f * lintaq::kInvPiSingle;
    for (int count = 0; count < 300; ++count) {
        std::vector<float> freqs(static_cast<size_t>(count)), ratios(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            freqs[size_t(i)] = (g() % 16 == 0) ? anyFloat(g) : static_cast<float>(std::ldexp(double(g() % 48000), -int(g() % 30)));
            ratios[size_t(i)] = anyFloat(g);
        }
        std::vector<float> warped = freqs, db = ratios;
        lintaq::warpFrequencies(warped.data(), count, inverseRate, warpScale);
        lintaq::ratiosToDecibels(db.data(), count);
        for (int i = 0; i < count; ++i) {
            const float wantWarp = lintaq::warpedSquare(freqs[size_t(i)], inverseRate, warpScale);
            ASSERT_TRUE(lintaq::sameFloatBits(warped[size_t(i)], wantWarp)) << std::hexfloat << freqs[size_t(i)];
            const float wantDb = lintaq::ratioToDecibels(ratios[size_t(i)]);
            ASSERT_TRUE(lintaq::sameFloatBits(db[size_t(i)], wantDb)) << std::hexfloat << ratios[size_t(i)];
        }
    }
}
