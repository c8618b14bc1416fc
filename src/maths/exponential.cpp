// exp, 10^x, log and log10: the fast paths (fast_exponential.cpp) first;
// for the arguments they cannot decide, table-driven reductions (2^(j/64) for the
// exponentials, 128 reciprocals for the logarithms), short series in
// double-double arithmetic, and a 256-bit fixed-point evaluation for the
// few arguments whose double-double result is too close to a rounding
// boundary to decide, or whose result is subnormal.
#include <cstdint>
#include <cstring>
#include <limits>

#include "maths/double_double.h"
#include "maths/elementary.h"
#include "maths/fast_exponential.h"
#include "maths/fast_paths.h"
#include "maths/maths_tables.h"
#include "maths/wide_fixed.h"

namespace lintaq::maths {

namespace {

constexpr double kRelErr = 0x1p-80; // far above the double-double path's real error
constexpr double kInf = __builtin_inf();
constexpr double k64ByLn2 = 0x1.71547652b82fep+6;

// e^y for a double-double y in (-708, 709), whose result is normal; false
// when the rounding stays undecided.
bool expFast(DoubleDouble y, double &out)
{
    const double kd = static_cast<double>(static_cast<int64_t>(y.hi * k64ByLn2 + (y.hi < 0 ? -0.5 : 0.5)));
    const int k = static_cast<int>(kd);
    // r = y - k ln2/64; k times each 36-bit part is exact, and so is the
    // first difference.
    DoubleDouble r = twoSum(y.hi - kd * kLn2By64Parts[0], -(kd * kLn2By64Parts[1]));
    r = add(r, y.lo - kd * kLn2By64Parts[2]);
    // e^r - 1 - r for |r| <= ln2/128: terms from r^5 on are below 2^-37
    // and go in plain double arithmetic.
    double tail = 0.0;
    for (int n = 11; n >= 5; --n)
        tail = tail * r.hi + kInvFactorial[n].hi;
    DoubleDouble p{tail, 0.0};
    for (int n = 4; n >= 2; --n)
        p = add(mul(p, r), kInvFactorial[n]);
    p = mul(mul(p, r), r);
    const DoubleDouble er = add(add(p, r), 1.0); // e^r
    const int j = ((k % 64) + 64) % 64;
    const int m = (k - j) / 64;
    const DoubleDouble v = mul(er, kExp2Table[j]);
    double rounded;
    if (!roundsUnambiguously(v, kRelErr, rounded))
        return false;
    out = rounded * powerOfTwo(m); // exact: the result is normal
    return true;
}

// e^y for y given in fixed point (|y| < 760).
double expWide(const Wide &y)
{
    const int64_t k = wideRound(wideMul(y, wideFromDouble(0x1.71547652b82fep+0))); // y / ln2
    const Wide r = wideSub(y, wideMul(wideFromInt(k), kWideLn2));
    return wideToDouble(wideExp(r), static_cast<int>(k));
}

// log x for finite x > 0, with x = 2^e * m, m in [1, 2):
// e ln2 + ln(1/r) + log1p(m r - 1), r an 8-bit reciprocal of m from a table.
DoubleDouble logFast(double x, int &exponentOut, double &mantissaOut)
{
    const auto [e, j, m, unused] = splitLogArgument(x);
    exponentOut = e;
    mantissaOut = m;
    // m r - 1 is exact in a double (|m r - 1| < 2^-7, a multiple of 2^-60).
    const DoubleDouble prod = twoProd(m, kLogInverse[j]);
    const double u = (prod.hi - 1.0) + prod.lo;
    // log1p(u) - u = -u^2/2 + u^3/3 - ...; terms from u^7 on are below
    // 2^-49 and go in plain double arithmetic.
    double tail = 0.0;
    for (int n = 15; n >= 7; --n)
        tail = tail * u + ((n & 1) ? kInvInteger[n].hi : -kInvInteger[n].hi);
    DoubleDouble p{tail, 0.0};
    for (int n = 6; n >= 2; --n)
        p = add(mul(p, u), (n & 1) ? kInvInteger[n] : neg(kInvInteger[n]));
    p = mul(mul(p, u), u);
    const double ed = e; // e times each 40-bit part of ln2 is exact
    DoubleDouble sum = twoSum(ed * kLn2Parts[0], kLogTable[j].hi);
    sum = add(sum, ed * kLn2Parts[1]);
    sum = add(sum, kLogTable[j].lo + ed * kLn2Parts[2]);
    sum = add(sum, u);
    return add(sum, p);
}

// log x in fixed point: Newton's iteration y <- y + m e^-y - 1 for ln m,
// which doubles the correct bits each step, from the double-double
// estimate, then + e ln2.
Wide logWide(double x)
{
    int e;
    double m;
    logFast(x, e, m);
    int e2;
    double m2;
    const double estimate = logFast(m, e2, m2).hi; // ln m
    const Wide wm = wideFromDouble(m);
    Wide y = wideFromDouble(estimate);
    for (int i = 0; i < 3; ++i)
        y = wideAdd(y, wideSub(wideMul(wm, wideExp(wideNeg(y))), wideFromInt(1)));
    return wideAdd(y, wideMul(wideFromInt(e), kWideLn2));
}

// NaN for NaN and negative x, -inf for zeros, +inf for +inf; false when x
// is finite and positive.
bool logSpecial(double x, double &out)
{
    if (x > 0.0 && x < kInf)
        return false;
    if (x == 0.0)
        out = -kInf;
    else if (x > 0.0 || x != x)
        out = x + x;
    else
        out = std::numeric_limits<double>::quiet_NaN();
    return true;
}

// Natural or decimal logarithm.
double logarithm(double x, bool decimal)
{
    double out;
    if (logSpecial(x, out))
        return out;
    Approximation a;
    if (fastLog(x, decimal, a) && roundsOneWay(a, out))
        return out;
    countFallback(decimal ? Function::log10 : Function::log);
    int e;
    double m;
    DoubleDouble v = logFast(x, e, m);
    if (decimal)
        v = mul(v, kInvLn10);
    if (roundsUnambiguously(v, kRelErr, out))
        return out;
    const Wide w = logWide(x);
    return wideToDouble(decimal ? wideMul(w, kWideInvLn10) : w, 0);
}

} // namespace

double exp(double x)
{
    if (!(x <= 0x1.62e42fefa39efp+9)) // ln(DBL_MAX + half an ulp) lies just above
        return x != x ? x + x : kInf;
    if (x < -0x1.74910d52d3051p+9) // e^x below 2^-1075: rounds to zero
        return 0.0;
    if (x < 0x1p-54 && x > -0x1p-54)
        return 1.0;
    Approximation a;
    double out;
    if (fastExp(x, a) && roundsOneWay(a, out))
        return out * powerOfTwo(a.scale); // exact: the result is normal
    countFallback(Function::exp);
    if (x > -708.0 && x < 709.0 && expFast({x, 0.0}, out))
        return out;
    return expWide(wideFromDouble(x));
}

double exp10(double x)
{
    if (!(x <= 0x1.34413509f79fep+8)) // log10(DBL_MAX + half an ulp) lies just above
        return x != x ? x + x : kInf;
    if (x < -0x1.439b746e36b52p+8) // 10^x below 2^-1075: rounds to zero
        return 0.0;
    if (x < 0x1p-56 && x > -0x1p-56)
        return 1.0;
    if (x == 23.0)
        return 1e23; // the one argument whose power lies halfway between doubles
    Approximation a;
    double out;
    if (fastExp10(x, a) && roundsOneWay(a, out))
        return out * powerOfTwo(a.scale);
    countFallback(Function::exp10);
    if (x > -307.0 && x < 307.0) {
        const DoubleDouble y = add(twoProd(x, kLn10.hi), x * kLn10.lo);
        if (expFast(y, out))
            return out;
    }
    return expWide(wideMul(wideFromDouble(x), kWideLn10));
}

double log(double x)
{
    return logarithm(x, false);
}

double log10(double x)
{
    return logarithm(x, true);
}

} // namespace lintaq::maths
