// The engine's elementary functions against GNU MPFR's correctly rounded
// results: millions of random arguments over the ranges the design and the
// graph can reach (and beyond), plus arguments whose results lie extremely
// close to a rounding boundary. Every result must match bit for bit.
//
// The fast paths are also checked alone on a sample: their error bound must
// hold (measured against MPFR at 320 bits), and whenever their rounding test
// accepts, the result must be MPFR's. A bound that is too small fails here
// even when the slow paths would have caught the argument.
//
// LINTAQ_MATHS_SAMPLES sets the random arguments per function (default
// 10^7); LINTAQ_MATHS_SEED varies them.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "maths/brackets.h"
#include "maths/elementary.h"
#include "maths/fast_paths.h"

namespace {

using MpfrFn = int (*)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t);

// Exponent range of doubles, so that mpfr_subnormalize rounds as IEEE does.
void setDoubleRange()
{
    mpfr_set_emin(-1073);
    mpfr_set_emax(1024);
}

// MPFR's correctly rounded double, gradual underflow included.
double reference(MpfrFn fn, double x)
{
    mpfr_t mx, my;
    mpfr_init2(mx, 53);
    mpfr_init2(my, 53);
    mpfr_set_d(mx, x, MPFR_RNDN);
    const int inexact = fn(my, mx, MPFR_RNDN);
    mpfr_subnormalize(my, inexact, MPFR_RNDN);
    const double y = mpfr_get_d(my, MPFR_RNDN);
    mpfr_clear(mx);
    mpfr_clear(my);
    return y;
}

bool sameBits(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    uint64_t ua, ub;
    std::memcpy(&ua, &a, sizeof ua);
    std::memcpy(&ub, &b, sizeof ub);
    return ua == ub;
}

uint64_t samples()
{
    const char *s = std::getenv("LINTAQ_MATHS_SAMPLES");
    return s ? std::strtoull(s, nullptr, 10) : 10000000ull;
}

uint64_t seed()
{
    const char *s = std::getenv("LINTAQ_MATHS_SEED");
    return s ? std::strtoull(s, nullptr, 10) : 20261205ull;
}

// Draws one argument from a mix of ranges; the mix is the function's.
using Draw = std::function<double(std::mt19937_64 &)>;

double uniform(std::mt19937_64 &g, double lo, double hi)
{
    return lo + (hi - lo) * std::uniform_real_distribution<double>(0.0, 1.0)(g);
}

// A double with random mantissa and sign, magnitude 2^lo .. 2^hi.
double logUniform(std::mt19937_64 &g, int lo, int hi)
{
    const int e = std::uniform_int_distribution<int>(lo, hi)(g);
    const double m = 1.0 + std::ldexp(static_cast<double>(g() >> 12), -52);
    return ((g() & 1) ? -1.0 : 1.0) * std::ldexp(m, e);
}

// Any finite double with the given sign rule (bit patterns uniform).
double anyDouble(std::mt19937_64 &g, bool positive)
{
    for (;;) {
        uint64_t bits = g();
        if (positive)
            bits &= ~(uint64_t{1} << 63);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (std::isfinite(d))
            return d;
    }
}

// A float setting (any finite float bit pattern) widened.
double anyFloat(std::mt19937_64 &g, bool positive)
{
    for (;;) {
        uint32_t bits = static_cast<uint32_t>(g());
        if (positive)
            bits &= 0x7fffffffu;
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (std::isfinite(f))
            return f;
    }
}

struct Case {
    const char *name;
    double (*ours)(double);
    MpfrFn mpfr;
    Draw draw;
    lintaq::maths::Function fn;
};

// Runs `body(t, g)` on up to four threads, each with its own generator.
template <typename Body>
void onThreads(const Case &c, unsigned salt, Body body)
{
    const unsigned threads = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            std::mt19937_64 g(seed() * 1000003u + t * 7919u + salt + std::hash<std::string>{}(c.name));
            body(t, threads, g);
            mpfr_free_cache(); // MPFR keeps constants per thread
        });
    for (auto &th : pool)
        th.join();
}

// Runs `count` random arguments on both cores and the fixed ones; returns
// the misrounded arguments (at most a few are kept for the message).
void checkRounding(const Case &c, const std::vector<double> &fixed)
{
    const uint64_t count = samples();
    std::vector<uint64_t> wrong(4, 0);
    std::vector<std::vector<double>> examples(4);
    lintaq::maths::resetFallbackCounts();
    onThreads(c, 0, [&](unsigned t, unsigned threads, std::mt19937_64 &g) {
        setDoubleRange(); // MPFR's exponent range is per thread
        const auto test = [&](double x) {
            const double want = reference(c.mpfr, x), got = c.ours(x);
            if (!sameBits(want, got)) {
                ++wrong[t];
                if (examples[t].size() < 5)
                    examples[t].push_back(x);
            }
        };
        for (uint64_t i = t; i < count; i += threads)
            test(c.draw(g));
        if (t == 0)
            for (double x : fixed)
                test(x);
    });
    const uint64_t fallbacks = lintaq::maths::fallbackCount(c.fn);
    uint64_t total = 0;
    for (unsigned t = 0; t < 4; ++t) {
        total += wrong[t];
        for (double x : examples[t]) {
            ADD_FAILURE() << c.name << "(" << std::hexfloat << x << ") = " << c.ours(x) << ", MPFR "
                          << reference(c.mpfr, x);
        }
    }
    EXPECT_EQ(total, 0u) << c.name << ": " << count + fixed.size() << " arguments";
    std::printf("%s: %llu random + %zu chosen arguments, %llu misrounded; fallback on %llu (%.4f%%)\n", c.name,
                static_cast<unsigned long long>(count), fixed.size(), static_cast<unsigned long long>(total),
                static_cast<unsigned long long>(fallbacks), 100.0 * double(fallbacks) / double(count + fixed.size()));
}

// What the fast path alone gives for one argument, against MPFR: whether
// its error stays within its bound (and by how much), and whether an
// accepted rounding is the correct one.
struct FastVerdict {
    bool inRange = false, accepted = false, withinBound = true, correctWhenAccepted = true;
    double errorToBound = 0.0; // measured error / claimed bound
};

FastVerdict judgeFastPath(const Case &c, double x)
{
    FastVerdict v;
    lintaq::maths::Approximation a;
    if (!lintaq::maths::fastApproximation(c.fn, x, a))
        return v;
    v.inRange = true;
    mpfr_t mx, exact, approx, bound, rounded;
    mpfr_inits2(320, exact, approx, bound, nullptr);
    mpfr_init2(mx, 53);
    mpfr_init2(rounded, 53);
    mpfr_set_d(mx, x, MPFR_RNDN);
    c.mpfr(exact, mx, MPFR_RNDN);
    mpfr_set_d(approx, a.hi, MPFR_RNDN); // exact at 320 bits, and so are the sum and scaling
    mpfr_add_d(approx, approx, a.lo, MPFR_RNDN);
    mpfr_mul_2si(approx, approx, a.scale, MPFR_RNDN);
    mpfr_sub(approx, approx, exact, MPFR_RNDN);
    mpfr_abs(approx, approx, MPFR_RNDN);
    mpfr_set_d(bound, a.bound, MPFR_RNDN);
    mpfr_mul_2si(bound, bound, a.scale, MPFR_RNDN);
    v.withinBound = mpfr_lessequal_p(approx, bound) != 0;
    if (a.bound > 0.0) {
        mpfr_div(approx, approx, bound, MPFR_RNDN);
        v.errorToBound = mpfr_get_d(approx, MPFR_RNDN);
    } else if (!mpfr_zero_p(approx)) {
        v.errorToBound = INFINITY;
    }
    double r;
    if (lintaq::maths::roundsOneWay(a, r)) {
        v.accepted = true;
        c.mpfr(rounded, mx, MPFR_RNDN); // results of the fast paths are normal: no subnormal rounding
        v.correctWhenAccepted = sameBits(std::ldexp(r, a.scale), mpfr_get_d(rounded, MPFR_RNDN));
    }
    mpfr_clears(mx, exact, approx, bound, rounded, nullptr);
    return v;
}

// The fast path alone on a tenth of the random arguments and on the chosen
// ones.
void checkFastPath(const Case &c, const std::vector<double> &fixed)
{
    const uint64_t count = std::max<uint64_t>(1000, samples() / 10);
    struct Tally {
        uint64_t inRange = 0, accepted = 0, outOfBound = 0, misrounded = 0;
        double worst = 0.0, worstAt = 0.0;
        std::vector<double> examples;
    };
    std::vector<Tally> tallies(4);
    onThreads(c, 17, [&](unsigned t, unsigned threads, std::mt19937_64 &g) {
        mpfr_set_emin(mpfr_get_emin_min()); // the errors lie far below the double range
        mpfr_set_emax(mpfr_get_emax_max());
        Tally &tally = tallies[t];
        const auto test = [&](double x) {
            const FastVerdict v = judgeFastPath(c, x);
            if (!v.inRange)
                return;
            ++tally.inRange;
            tally.accepted += v.accepted;
            if (!v.withinBound || !v.correctWhenAccepted) {
                tally.outOfBound += !v.withinBound;
                tally.misrounded += !v.correctWhenAccepted;
                if (tally.examples.size() < 5)
                    tally.examples.push_back(x);
            }
            if (v.errorToBound > tally.worst)
                tally.worst = v.errorToBound, tally.worstAt = x;
        };
        for (uint64_t i = t; i < count; i += threads)
            test(c.draw(g));
        if (t == 0)
            for (double x : fixed)
                test(x);
    });
    Tally sum;
    for (const Tally &t : tallies) {
        sum.inRange += t.inRange, sum.accepted += t.accepted;
        sum.outOfBound += t.outOfBound, sum.misrounded += t.misrounded;
        if (t.worst > sum.worst)
            sum.worst = t.worst, sum.worstAt = t.worstAt;
        for (double x : t.examples)
            ADD_FAILURE() << c.name << " fast path at " << std::hexfloat << x << ": error beyond its bound or "
                          << "accepted a misrounded result";
    }
    EXPECT_EQ(sum.outOfBound, 0u) << c.name;
    EXPECT_EQ(sum.misrounded, 0u) << c.name;
    EXPECT_GT(sum.inRange, 0u) << c.name;
    std::printf("%s fast path alone: %llu arguments in its range, rounding test accepted %.4f%%, largest error "
                "%.3g of the bound (at %a)\n",
                c.name, static_cast<unsigned long long>(sum.inRange),
                100.0 * double(sum.accepted) / double(std::max<uint64_t>(1, sum.inRange)), sum.worst, sum.worstAt);
}

void check(const Case &c, const std::vector<double> &fixed)
{
    checkRounding(c, fixed);
    checkFastPath(c, fixed);
}

// Arguments shared by every function: zeros, infinities, NaN, extremes.
std::vector<double> specials()
{
    return {0.0, -0.0, INFINITY, -INFINITY, NAN, 0x1p-1074, -0x1p-1074, 0x1p-1022, 0x1.fffffffffffffp+1023,
            -0x1.fffffffffffffp+1023, 1.0, -1.0, 0.5, 2.0};
}

// x = k 2^e for small k: results that sit a hair from a rounding boundary
// (e^x = 1 + x + x^2/2 ..., sin x = x - x^3/6 ...).
void addScaledIntegers(std::vector<double> &v, int eLo, int eHi, int kMax)
{
    for (int e = eLo; e <= eHi; ++e)
        for (int k = 1; k <= kMax; ++k) {
            v.push_back(std::ldexp(k, e));
            v.push_back(-std::ldexp(k, e));
        }
}

std::vector<double> trigFixed()
{
    std::vector<double> v = specials();
    addScaledIntegers(v, -80, -40, 64);
    for (int k = -40; k <= 40; ++k) { // doubles next to multiples of pi/4
        const double m = k * 0x1.921fb54442d18p-1;
        v.push_back(m);
        v.push_back(std::nextafter(m, INFINITY));
        v.push_back(std::nextafter(m, -INFINITY));
    }
    for (double x : {1e22, 0x1p22, 0x1p22 - 0.5, 0x1p-26, 0x1p-27, 3.1101767270538954 * 0.5, 1.57075,
                     0x1.6ac5b262ca1ffp+849 /* 6381956970095103 * 2^797: nearest multiple of pi/2 */})
        v.push_back(x);
    return v;
}

std::vector<double> expFixed(double lo, double hi)
{
    std::vector<double> v = specials();
    addScaledIntegers(v, -60, -20, 64);
    for (double x = std::floor(lo); x <= hi; x += 1.0)
        v.push_back(x);
    for (double edge : {lo, hi, -708.0, 709.0, -307.0, 307.0}) // limits of the fast path
        for (int i = -3; i <= 3; ++i)
            v.push_back(edge + i * 0x1p-40);
    return v;
}

std::vector<double> logFixed()
{
    std::vector<double> v = specials();
    for (int k = 1; k <= 4000; ++k) { // next to 1, where the result is tiny
        v.push_back(1.0 + k * 0x1p-52);
        v.push_back(1.0 - k * 0x1p-53);
    }
    for (int n = -320; n <= 308; ++n) // powers of ten, exact for log10 up to 1e22
        v.push_back(std::strtod(("1e" + std::to_string(n)).c_str(), nullptr));
    for (int e = -1074; e <= 1023; ++e)
        v.push_back(std::ldexp(1.0, e));
    return v;
}

// The design's angles: 2 pi f / Fd and the like, for float settings of f at
// every integer rate; huge when a tiny rate meets a huge frequency.
double designAngle(std::mt19937_64 &g)
{
    const double f = anyFloat(g, false);
    const double fd = static_cast<float>(std::uniform_int_distribution<int>(1, 768000)(g));
    return (2.0 * lintaq::maths::kPi / fd) * f;
}

double trigDraw(std::mt19937_64 &g)
{
    switch (g() % 6) {
    case 0: return uniform(g, 0.0, lintaq::maths::kPi); // fade window, usual design angles
    case 1: return uniform(g, -8.0, 8.0);
    case 2: return logUniform(g, -30, 24);
    case 3: return designAngle(g);
    case 4: return static_cast<float>(uniform(g, -1.6, 1.6)); // graph angles are floats
    default: return anyDouble(g, false);
    }
}

} // namespace

TEST(CorrectlyRounded, Sine)
{
    check({"sin", lintaq::maths::sin, mpfr_sin, trigDraw, lintaq::maths::Function::sin}, trigFixed());
}

TEST(CorrectlyRounded, Cosine)
{
    check({"cos", lintaq::maths::cos, mpfr_cos, trigDraw, lintaq::maths::Function::cos}, trigFixed());
}

TEST(CorrectlyRounded, Tangent)
{
    check({"tan", lintaq::maths::tan, mpfr_tan, trigDraw, lintaq::maths::Function::tan}, trigFixed());
}

TEST(CorrectlyRounded, Exponential)
{
    check({"exp", lintaq::maths::exp, mpfr_exp,
           [](std::mt19937_64 &g) {
               switch (g() % 4) {
               case 0: return static_cast<double>(static_cast<float>(uniform(g, -192.0, 192.0))); // grid ratios
               case 1: return uniform(g, -746.0, 710.0);
               case 2: return logUniform(g, -60, 9);
               default: return uniform(g, -1.0, 1.0);
               }
           },
           lintaq::maths::Function::exp},
          expFixed(-746.0, 710.0));
}

TEST(CorrectlyRounded, PowerOfTen)
{
    check({"exp10", lintaq::maths::exp10, mpfr_exp10,
           [](std::mt19937_64 &g) {
               switch (g() % 4) {
               case 0: return static_cast<float>(uniform(g, -100.0, 100.0)) * 0.025 * 0.5; // design gains
               case 1: return static_cast<float>(uniform(g, -3000.0, 3000.0)) * 0.1;       // graph gains
               case 2: return uniform(g, -330.0, 310.0);
               default: return anyFloat(g, false) * 0.025;
               }
           },
           lintaq::maths::Function::exp10},
          expFixed(-330.0, 310.0));
}

TEST(CorrectlyRounded, NaturalLogarithm)
{
    check({"log", lintaq::maths::log, mpfr_log,
           [](std::mt19937_64 &g) { return (g() & 1) ? anyFloat(g, true) : anyDouble(g, true); },
           lintaq::maths::Function::log},
          logFixed());
}

TEST(CorrectlyRounded, DecimalLogarithm)
{
    check({"log10", lintaq::maths::log10, mpfr_log10,
           [](std::mt19937_64 &g) {
               switch (g() % 3) {
               case 0: return anyFloat(g, true); // the graph's power ratios are floats
               case 1: return uniform(g, 0.0, 4.0);
               default: return anyDouble(g, true);
               }
           },
           lintaq::maths::Function::log10},
          logFixed());
}

// The shared reduction gives the bits of the two separate functions.
TEST(CorrectlyRounded, SineAndCosineTogether)
{
    std::mt19937_64 g(seed());
    uint64_t differ = 0;
    std::vector<double> args = trigFixed();
    for (int i = 0; i < 1000000; ++i)
        args.push_back(trigDraw(g));
    for (double x : args) {
        double s, c;
        lintaq::maths::sinCos(x, s, c);
        if (!sameBits(s, lintaq::maths::sin(x)) || !sameBits(c, lintaq::maths::cos(x))) {
            if (++differ <= 5)
                ADD_FAILURE() << "sinCos(" << std::hexfloat << x << ")";
        }
    }
    EXPECT_EQ(differ, 0u);
}

// The graph's brackets hold the exact value (at 320 bits), on the graph's
// float angles and power ratios; prints how much of each bound was used.
TEST(CorrectlyRounded, GraphBracketsHoldTheExactValue)
{
    mpfr_set_emin(mpfr_get_emin_min());
    mpfr_set_emax(mpfr_get_emax_max());
    std::mt19937_64 g(seed() + 19);
    mpfr_t mx, exact, error;
    mpfr_inits2(320, mx, exact, error, nullptr);
    // (down + up)/2 and (up - down)/2 rounded: the largest error against
    // the half width, and the exact value must lie between the ends.
    const auto judge = [&](const char *name, MpfrFn fn, double x, double down, double up, double &worst,
                           uint64_t &outside) {
        mpfr_set_d(mx, x, MPFR_RNDN);
        fn(exact, mx, MPFR_RNDN);
        if (mpfr_cmp_d(exact, down) < 0 || mpfr_cmp_d(exact, up) > 0) {
            if (++outside <= 5)
                ADD_FAILURE() << name << " bracket misses the exact value at " << std::hexfloat << x;
        }
        mpfr_set_d(error, 0.5 * down + 0.5 * up, MPFR_RNDN);
        mpfr_sub(error, error, exact, MPFR_RNDN);
        worst = std::max(worst, std::fabs(mpfr_get_d(error, MPFR_RNDN)) / (0.5 * up - 0.5 * down));
    };
    const int count = 200000;
    double tanWorst = 0.0, logWorst = 0.0;
    uint64_t outside = 0, tanUsed = 0, logUsed = 0;
    for (int i = 0; i < count; ++i) {
        double down, up;
        const double angle = static_cast<float>(uniform(g, 0x1p-20, 1.57075));
        if (lintaq::maths::tanBracket(angle, down, up)) {
            ++tanUsed;
            judge("tan", mpfr_tan, angle, down, up, tanWorst, outside);
        }
        const double ratio = anyFloat(g, true);
        if (lintaq::maths::log10Bracket(ratio, down, up)) {
            ++logUsed;
            judge("log10", mpfr_log10, ratio, down, up, logWorst, outside);
        }
    }
    mpfr_clears(mx, exact, error, nullptr);
    mpfr_free_cache();
    setDoubleRange();
    EXPECT_EQ(outside, 0u);
    EXPECT_GT(tanUsed, uint64_t(count) / 2);
    EXPECT_GT(logUsed, uint64_t(count) / 2);
    std::printf("graph brackets: largest error %.3g (tan) and %.3g (log10) of the half width\n", tanWorst, logWorst);
}

int main(int argc, char **argv)
{
    setDoubleRange();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
