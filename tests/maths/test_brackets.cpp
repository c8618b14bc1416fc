// The short brackets the graph uses to round in single precision: each
// must hold the correctly rounded result (checked against the engine's own
// functions, which the MPFR test checks), and the graph's steps decided
// from them must give the bits of the full evaluation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

#include "graph/graph_rate.h"
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
