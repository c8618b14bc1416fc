// Brackets around a correctly rounded result, from short plain-double
// approximations: down <= f(x) rounded to double <= up. A caller that
// passes the result through further monotone steps (a product, a clamp,
// rounding to float) can apply them to both ends; when the two ends agree,
// so does the correctly rounded result, and the full evaluation is not
// needed. The graph draws in single precision and decides almost every
// point this way. Inline: the graph calls them once per point.
#pragma once

#include <cstdint>

#include "maths/fast_exponential.h"
#include "maths/fast_paths.h"
#include "maths/maths_tables.h"

namespace lintaq::maths {

namespace bracket {

inline double magnitude(double v)
{
    return v < 0 ? -v : v;
}

inline bool bracketOf(double value, double bound, double &down, double &up)
{
    down = value - bound;
    up = value + bound;
    return down == down && up == up; // false for NaN
}

} // namespace bracket

// False when x lies outside the bracket's range (then evaluate f itself).
// |x| in [2^-27, 2^20).
//
// x = k pi/256 + r, tan r by a short odd series, and
// tan x = (S + C tan r) / (C - S tan r) with S, C the sine and cosine of
// k pi/256 from the table.
inline bool tanBracket(double x, double &down, double &up)
{
    using bracket::magnitude;
    const double ax = magnitude(x);
    if (!(ax >= 0x1p-27 && ax < 0x1p20))
        return false;
    const double kd = (ax * k256ByPi + kRoundShift) - kRoundShift;
    const double r = (ax - kd * kPiBy256Parts[0]) - kd * kPiBy256Low; // the first difference is exact
    const double z = r * r;
    const double t = r + r * (z * ((1.0 / 3.0) + z * ((2.0 / 15.0) + z * (17.0 / 315.0))));
    const int k = static_cast<int>(static_cast<int64_t>(kd) & 511);
    const SinCosPair &pair = kSinCosTable[k & 127];
    // tan = (A + B t) / (B - A t) with (A, B) = (S, C), or (C, -S) in odd
    // quadrants.
    const bool odd = ((k >> 7) & 1) != 0;
    const double a = odd ? pair.cos.hi : pair.sin.hi;
    const double b = odd ? -pair.sin.hi : pair.cos.hi;
    const double n = a + b * t;
    const double d = b - a * t;
    const double reduction = kd * kBracketReductionError;
    const double nBound = (magnitude(a) + magnitude(b * t)) * kBracketTanError + reduction;
    const double dBound = (magnitude(b) + magnitude(a * t)) * kBracketTanError + reduction;
    const double inverse = 1.0 / d;
    const double absInverse = magnitude(inverse);
    if (!(dBound * absInverse < 0x1p-30)) // the quotient's first-order bound holds
        return false;
    const double q = n * inverse;
    const double absQ = magnitude(q);
    const double bound = (nBound + absQ * dBound) * absInverse + absQ * kBracketQuotientError;
    return bracket::bracketOf(x < 0 ? -q : q, bound, down, up);
}

// Finite x > 0.
inline bool log10Bracket(double x, double &down, double &up)
{
    using bracket::magnitude;
    if (!(x > 0.0 && x < __builtin_inf()))
        return false;
    const auto [e, j, m, u] = splitLogArgument(x);
    const double u2 = u * u;
    // log1p(u) = u + u^2 (-1/2 + u/3 - u^2/4 + u^3/5 - u^4/6) + O(u^7).
    // In powers of u^2, a shorter chain than Horner's.
    const double q = (-0.5 + u * kInvInteger[3].hi) + u2 * ((-0.25 + u * kInvInteger[5].hi) - u2 * kInvInteger[6].hi);
    const double w = u + u2 * q;
    const double ln2e = static_cast<double>(e) * 0x1.62e42fefa39efp-1;
    const double table = kLogTable[j].hi;
    const double ln = (ln2e + table) + w;
    // The bound from the terms alone (|ln| <= |e ln2| + |T| + |w|), so it
    // does not wait for the sum.
    const double terms = magnitude(ln2e) + magnitude(table);
    const double u7 = (u2 * u2) * (u2 * magnitude(u));
    const double lnBound = ((terms + terms) + magnitude(w)) * kBracketLogError + u7 * 0.145;
    const double bound = lnBound * 0.44 + (terms + magnitude(w)) * (0.44 * kBracketQuotientError);
    return bracket::bracketOf(ln * kInvLn10.hi, bound, down, up);
}

} // namespace lintaq::maths
