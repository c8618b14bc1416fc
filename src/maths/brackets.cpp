#include "maths/brackets.h"

#include <cstdint>
#include <cstring>

#include "maths/fast_exponential.h"
#include "maths/fast_trigonometric.h"
#include "maths/maths_tables.h"

namespace lintaq::maths {

namespace {

constexpr double kLn2 = 0x1.62e42fefa39efp-1;


double magnitude(double v)
{
    return v < 0 ? -v : v;
}

struct Value {
    double v, bound;
};

// A cos r + B sin r in doubles.
Value combineShort(const DoubleDouble &a, const DoubleDouble &b, const fast::Reduced &r, const fast::Series &s)
{
    const double br = b.hi * r.hi;
    const double v = a.hi + (br + (b.hi * (r.lo + s.sinMinusR) - a.hi * s.oneMinusCos));
    return {v, (magnitude(a.hi) + magnitude(br)) * kBracketTrigError + r.k * kTrigReductionError};
}

bool bracketOf(const Value &value, double &down, double &up)
{
    down = value.v - value.bound;
    up = value.v + value.bound;
    return down == down && up == up; // false for NaN
}

} // namespace

bool tanBracket(double x, double &down, double &up)
{
    const double ax = magnitude(x);
    if (!(ax >= 0x1p-27 && ax < 0x1p20))
        return false;
    const fast::Reduced r = fast::reduce(ax);
    const fast::Series s = fast::series(r.hi);
    const SinCosPair &t = kSinCosTable[r.index];
    const Value sinPhase = combineShort(t.sin, t.cos, r, s);
    const Value cosPhase = combineShort(t.cos, neg(t.sin), r, s);
    const bool odd = (r.quadrant & 1) != 0;
    const Value &n = odd ? cosPhase : sinPhase;
    const Value &d = odd ? sinPhase : cosPhase;
    const double inverse = 1.0 / d.v;
    const double q = n.v * inverse;
    const double absQ = magnitude(q);
    const double bound = (n.bound + absQ * d.bound) * magnitude(inverse) + absQ * kBracketQuotientError;
    const double signedQ = (odd != (x < 0)) ? -q : q;
    return bracketOf({signedQ, bound}, down, up);
}

bool log10Bracket(double x, double &down, double &up)
{
    if (!(x > 0.0 && x < __builtin_inf()))
        return false;
    const auto [e, j, m, u] = splitLogArgument(x);
    const double u2 = u * u;
    // log1p(u) = u + u^2 (-1/2 + u/3 - u^2/4 + u^3/5 - u^4/6) + O(u^7).
    // In powers of u^2, a shorter chain than Horner's.
    const double q = (-0.5 + u * kInvInteger[3].hi) + u2 * ((-0.25 + u * kInvInteger[5].hi) - u2 * kInvInteger[6].hi);
    const double w = u + u2 * q;
    const double ln2e = static_cast<double>(e) * kLn2;
    const double table = kLogTable[j].hi;
    const double ln = (ln2e + table) + w;
    // The bound from the terms alone (|ln| <= |e ln2| + |T| + |w|), so it
    // does not wait for the sum.
    const double terms = magnitude(ln2e) + magnitude(table);
    const double u7 = (u2 * u2) * (u2 * magnitude(u));
    const double lnBound = ((terms + terms) + magnitude(w)) * kBracketLogError + u7 * 0.145;
    const double bound = lnBound * 0.44 + (terms + magnitude(w)) * (0.44 * kBracketQuotientError);
    return bracketOf({ln * kInvLn10.hi, bound}, down, up);
}

} // namespace lintaq::maths
