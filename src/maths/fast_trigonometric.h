// Fast sin, cos and tan for |x| < 2^20: x = k pi/256 + r with |r| <= pi/512,
// then f = A cos r + B sin r with A and B from a table of sin and cos at
// multiples of pi/256 and short series for cos r and sin r. The products
// that carry the result's leading bits are exact (Dekker), so the error
// lies in the small corrections alone; the bound is evaluated per argument
// from the terms' sizes.
#pragma once

#include <cstdint>

#include "maths/fast_paths.h"
#include "maths/maths_tables.h"

namespace lintaq::maths {

namespace fast {

// k pi/256 stays exact in two 26-bit parts for k < 2^27.
inline constexpr double kFastTrigLimit = 0x1p20;

struct Reduced {
    double hi, lo; // r = hi + lo, |lo| <= ulp(hi)/2
    double k;      // the multiple of pi/256 taken away
    int quadrant;  // k / 128 mod 4
    int index;     // k mod 128
};

[[gnu::always_inline]] inline Reduced reduce(double ax)
{
    const double kd = (ax * k256ByPi + kRoundShift) - kRoundShift;
    // kd * P0 and kd * P1 are exact; ax - kd * P0 is exact too: for k >= 1
    // both lie above 2^-8 and their difference, below 2^-7, is a multiple
    // of 2^-60.
    const double a = ax - kd * kPiBy256Parts[0];
    const DoubleDouble s = twoSum(a, -(kd * kPiBy256Parts[1]));
    const DoubleDouble r = twoSum(s.hi, s.lo - kd * kPiBy256Parts[2]);
    const int k = static_cast<int>(static_cast<int64_t>(kd) & 511);
    return {r.hi, r.lo, kd, k >> 7, k & 127};
}

struct Series {
    double oneMinusCos; // 1 - cos(r.hi)
    double sinMinusR;   // sin(r.hi) - r.hi
};

[[gnu::always_inline]] inline Series series(double r)
{
    const double z = r * r;
    const double c = z * (kInvFactorial[2].hi - z * (kInvFactorial[4].hi - z * kInvFactorial[6].hi));
    const double s = -(r * z) * (kInvFactorial[3].hi - z * (kInvFactorial[5].hi - z * kInvFactorial[7].hi));
    return {c, s};
}

// A cos r + B sin r for a table pair (A, B) with |B r| <= |A| or A = 0.
[[gnu::always_inline]] inline Approximation combine(const DoubleDouble &a, const DoubleDouble &b, const Reduced &r, const Series &s)
{
    const DoubleDouble p = twoProd(b.hi, r.hi);
    const DoubleDouble h = fastTwoSum(a.hi, p.hi);
    // cos r = 1 - oneMinusCos - r.hi r.lo, sin r = r.hi + r.lo + sinMinusR,
    // to within the bound's neglected terms.
    const double small = ((h.lo + p.lo) + (a.lo + b.lo * r.hi)) + b.hi * r.lo;
    const double corrections = b.hi * s.sinMinusR - a.hi * (s.oneMinusCos + r.hi * r.lo);
    const DoubleDouble v = fastTwoSum(h.hi, small + corrections);
    const double absA = a.hi < 0 ? -a.hi : a.hi;
    const double absBr = p.hi < 0 ? -p.hi : p.hi;
    const double bound = (absA * kTrigTableTermError + absBr * kTrigSlopeTermError) + r.k * kTrigReductionError;
    return {v.hi, v.lo, bound, 0};
}

inline Approximation negate(const Approximation &v)
{
    return {-v.hi, -v.lo, v.bound, v.scale};
}

// sin(i pi/256 + r) and cos(i pi/256 + r).
[[gnu::always_inline]] inline Approximation sinPhase(const Reduced &r, const Series &s)
{
    const SinCosPair &t = kSinCosTable[r.index];
    return combine(t.sin, t.cos, r, s);
}

[[gnu::always_inline]] inline Approximation cosPhase(const Reduced &r, const Series &s)
{
    const SinCosPair &t = kSinCosTable[r.index];
    return combine(t.cos, neg(t.sin), r, s);
}

// x = quadrant pi/2 + phase.
[[gnu::always_inline]] inline Approximation sinOf(const Reduced &r, const Series &s)
{
    const Approximation v = (r.quadrant & 1) ? cosPhase(r, s) : sinPhase(r, s);
    return r.quadrant >= 2 ? negate(v) : v;
}

[[gnu::always_inline]] inline Approximation cosOf(const Reduced &r, const Series &s)
{
    const Approximation v = (r.quadrant & 1) ? sinPhase(r, s) : cosPhase(r, s);
    return (r.quadrant == 1 || r.quadrant == 2) ? negate(v) : v;
}

// n / d by one correction step on the quotient; the operands' relative
// bounds add.
[[gnu::always_inline]] inline Approximation quotient(const Approximation &n, const Approximation &d)
{
    const double inverse = 1.0 / d.hi;
    const double q1 = n.hi * inverse;
    const DoubleDouble p = twoProd(q1, d.hi);
    const double remainder = (((n.hi - p.hi) - p.lo) + n.lo) - q1 * d.lo;
    const DoubleDouble t = fastTwoSum(q1, remainder * inverse);
    const double absT = t.hi < 0 ? -t.hi : t.hi;
    const double absInverse = inverse < 0 ? -inverse : inverse;
    const double bound = (n.bound + absT * d.bound) * absInverse + absT * kTanQuotientError;
    return {t.hi, t.lo, bound, 0};
}

} // namespace fast

// false outside the fast range.

// For 2^-28 <= ax.
inline bool fastTrig(TrigKind kind, double ax, Approximation &out)
{
    using namespace fast;
    if (!(ax < kFastTrigLimit))
        return false;
    const Reduced r = reduce(ax);
    const Series s = series(r.hi);
    if (kind == TrigKind::sin) {
        out = sinOf(r, s);
    } else if (kind == TrigKind::cos) {
        out = cosOf(r, s);
    } else {
        const Approximation sp = sinPhase(r, s), cp = cosPhase(r, s);
        out = (r.quadrant & 1) ? negate(quotient(cp, sp)) : quotient(sp, cp);
    }
    return true;
}

inline bool fastSinCos(double ax, Approximation &s, Approximation &c)
{
    using namespace fast;
    if (!(ax < kFastTrigLimit))
        return false;
    const Reduced r = reduce(ax);
    const Series terms = series(r.hi);
    s = sinOf(r, terms);
    c = cosOf(r, terms);
    return true;
}

} // namespace lintaq::maths
