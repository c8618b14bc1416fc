// Fast exp, 10^x, log and log10. Exponentials: x = (64 m + j) ln2/64 + r,
// e^x = 2^m 2^(j/64) e^r with |r| <= ln2/128 and a degree-7 series for e^r.
// Logarithms: x = 2^e m, m r_j = 1 + u exactly for an 8-bit reciprocal r_j,
// log x = e ln2 - ln r_j + log1p(u) with |u| < 2^-7 and a degree-9 series.
// Leading terms are summed exactly; the error lies in the corrections.
#pragma once

#include <cstdint>
#include <cstring>

#include "maths/fast_paths.h"
#include "maths/maths_tables.h"

namespace lintaq::maths {

namespace fast {

inline constexpr double k64ByLn2 = 0x1.71547652b82fep+6;

// e^(yhi + ylo) for |yhi| < 709, |ylo| <= 2^-40; the result before scaling
// by 2^scale lies in [0.99, 2.02).
[[gnu::always_inline]] inline Approximation expCore(double yhi, double ylo)
{
    const double kd = (yhi * k64ByLn2 + kRoundShift) - kRoundShift;
    // kd times each 36-bit part is exact (|k| < 2^17), and so is the first
    // difference (Sterbenz).
    const double a = yhi - kd * kLn2By64Parts[0];
    const DoubleDouble s = twoSum(a, -(kd * kLn2By64Parts[1]));
    const DoubleDouble r = twoSum(s.hi, s.lo + (ylo - kd * kLn2By64Parts[2]));
    // e^r.hi - 1 - r.hi = z (1/2 + r/6 + ... + r^5/5040).
    const double x = r.hi;
    const double z = x * x;
    double poly = kInvFactorial[7].hi;
    for (int n = 6; n >= 2; --n)
        poly = poly * x + kInvFactorial[n].hi;
    const double q = z * poly;
    const int64_t k = static_cast<int64_t>(kd);
    const int j = static_cast<int>(k & 63);
    const DoubleDouble &t = kExp2Table[j];
    // T e^r = T + T r.hi + (T r.lo + T q) to within the bound.
    const DoubleDouble p = twoProd(t.hi, kExp2HighSplit[j], x);
    const DoubleDouble h = fastTwoSum(t.hi, p.hi);
    const double small = ((h.lo + p.lo) + t.lo) + (t.lo * x + t.hi * r.lo);
    const DoubleDouble v = fastTwoSum(h.hi, small + t.hi * q);
    return {v.hi, v.lo, v.hi * kExpFastError, static_cast<int>((k - j) / 64)};
}

} // namespace fast

// false outside the fast range.

// For |x| >= 2^-54.
inline bool fastExp(double x, Approximation &out)
{
    if (!(x > -708.0 && x < 709.0)) // keeps the result normal
        return false;
    out = fast::expCore(x, 0.0);
    return true;
}

// For |x| >= 2^-56.
inline bool fastExp10(double x, Approximation &out)
{
    if (!(x > -307.0 && x < 307.0))
        return false;
    // x ln10 as a double-double, to 2^-104 of itself.
    const DoubleDouble y = twoProd(x, kLn10.hi);
    out = fast::expCore(y.hi, y.lo + x * kLn10.lo);
    return true;
}

// x = 2^e m with m in [1, 2), or in [1/2, 1) when m lies near 2 (so that
// results near 0 keep their bits); j picks the table's reciprocal r_j of m
// and u = m r_j - 1, exact (below 2^-7, a multiple of 2^-60).
struct LogArgument {
    int e;
    int j;
    double m;
    double u;
};

// For finite x > 0.
inline LogArgument splitLogArgument(double x)
{
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    int e = static_cast<int>(bits >> 52) - 1023;
    if ((bits >> 52) == 0) { // subnormal: scale into the normal range
        const double scaled = x * 0x1p54;
        std::memcpy(&bits, &scaled, sizeof bits);
        e = static_cast<int>(bits >> 52) - 1023 - 54;
    }
    const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52); // m 2^52
    int j = static_cast<int>(((mantissa >> 44) & 0xff) + 1) >> 1; // m nearest 1 + j/128
    int64_t reciprocal = kLogInverseTimes256[j & 127]; // r_j 2^8
    double m = static_cast<double>(mantissa) * 0x1p-52;
    if (j == 128) { // use m/2 near 1 (r = 1/2 against m, 1 against m/2)
        e += 1;
        j = 0;
        reciprocal = 128;
        m *= 0.5;
    }
    // m r_j - 1 = (M r_j 2^8 - 2^60) 2^-60, below 2^53 in magnitude: exact.
    const double u = static_cast<double>(static_cast<int64_t>(mantissa) * reciprocal - (int64_t{1} << 60)) * 0x1p-60;
    return {e, j, m, u};
}

// For finite x > 0.
inline bool fastLog(double x, bool decimal, Approximation &out)
{
    const auto [e, j, m, u] = splitLogArgument(x);
    const double ed = e;
    const DoubleDouble &t = kLogTable[j];
    // e L0 - ln r_j + u - u^2/2, summed exactly, each sum in the shorter
    // exact form (its first term the larger or zero): |e L0| >= ln2 >
    // -ln r_j unless e = 0; |e ln2 - ln r_j| >= 1.33 |u| unless (e, j) =
    // (0, 0) (checked by the table script); and b is u itself when (e, j) =
    // (0, 0), otherwise above 2^-9, both far above u^2/2 < 2^-17.
    const DoubleDouble a = fastTwoSum(ed * kLn2Parts[0], t.hi);
    const DoubleDouble b = fastTwoSum(a.hi, u);
    const DoubleDouble u2 = twoProd(u, u); // exact: u is 0 or a multiple of 2^-60
    const DoubleDouble c = fastTwoSum(b.hi, -0.5 * u2.hi);
    // log1p(u) - u + u^2/2 = u^3 (1/3 - u/4 + ... + u^6/9), in powers of
    // u^2 (a shorter chain than Horner's).
    const double uu = u2.hi;
    const double c34 = kInvInteger[3].hi - u * kInvInteger[4].hi;
    const double c56 = kInvInteger[5].hi - u * kInvInteger[6].hi;
    const double c78 = kInvInteger[7].hi - u * kInvInteger[8].hi;
    const double poly = c34 + uu * (c56 + uu * (c78 + uu * kInvInteger[9].hi));
    const double u3 = uu * u;
    const double small = ((a.lo + b.lo) + (c.lo - 0.5 * u2.lo)) + ((t.lo + ed * kLn2Parts[1]) + ed * kLn2Parts[2]);
    const DoubleDouble r = fastTwoSum(c.hi, small + u3 * poly);
    const double absU3 = u3 < 0 ? -u3 : u3;
    const double absE = ed < 0 ? -ed : ed;
    const double absR = r.hi < 0 ? -r.hi : r.hi;
    const double bound = (absU3 * kLogCubeError + absE * kLogExponentError) + absR * kLogRelativeError;
    if (!decimal) {
        out = {r.hi, r.lo, bound, 0};
        return true;
    }
    const DoubleDouble w = mul(r, kInvLn10);
    const double absW = w.hi < 0 ? -w.hi : w.hi;
    out = {w.hi, w.lo, bound * kInvLn10.hi + absW * kLogRelativeError, 0};
    return true;
}

} // namespace lintaq::maths
