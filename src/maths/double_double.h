// Double-double arithmetic: a value carried as an unevaluated sum hi + lo
// of two doubles, about 106 bits. Products are formed exactly by Dekker's
// splitting, never by a fused multiply-add, so the result bits are the same
// on every IEEE machine.
#pragma once

namespace lintaq::maths {

struct DoubleDouble {
    double hi;
    double lo;
};

// a + b = s + err exactly, for any a, b.
inline DoubleDouble twoSum(double a, double b)
{
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// The same for |a| >= |b| (or a == 0).
inline DoubleDouble fastTwoSum(double a, double b)
{
    const double s = a + b;
    return {s, b - (s - a)};
}

// a = hi + lo, each half holding at most 26 significant bits (|a| < 2^995).
inline DoubleDouble split(double a)
{
    const double c = 134217729.0 * a; // 2^27 + 1
    const double hi = c - (c - a);
    return {hi, a - hi};
}

// a * b = p + err exactly (no overflow or underflow in the parts).
inline DoubleDouble twoProd(double a, double b)
{
    const double p = a * b;
    const DoubleDouble as = split(a), bs = split(b);
    const double err = ((as.hi * bs.hi - p) + as.hi * bs.lo + as.lo * bs.hi) + as.lo * bs.lo;
    return {p, err};
}

// The same with a's split given (from a table): the product's error is
// exact either way, so the bits do not depend on where the split came from.
inline DoubleDouble twoProd(double a, DoubleDouble aSplit, double b)
{
    const double p = a * b;
    const DoubleDouble bs = split(b);
    const double err = ((aSplit.hi * bs.hi - p) + aSplit.hi * bs.lo + aSplit.lo * bs.hi) + aSplit.lo * bs.lo;
    return {p, err};
}

inline DoubleDouble add(DoubleDouble a, DoubleDouble b)
{
    const DoubleDouble s = twoSum(a.hi, b.hi);
    const DoubleDouble t = twoSum(a.lo, b.lo);
    DoubleDouble r = fastTwoSum(s.hi, s.lo + t.hi);
    return fastTwoSum(r.hi, r.lo + t.lo);
}

inline DoubleDouble add(DoubleDouble a, double b)
{
    const DoubleDouble s = twoSum(a.hi, b);
    return fastTwoSum(s.hi, s.lo + a.lo);
}

inline DoubleDouble mul(DoubleDouble a, DoubleDouble b)
{
    const DoubleDouble p = twoProd(a.hi, b.hi);
    return fastTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

inline DoubleDouble mul(DoubleDouble a, double b)
{
    const DoubleDouble p = twoProd(a.hi, b);
    return fastTwoSum(p.hi, p.lo + a.lo * b);
}

inline DoubleDouble neg(DoubleDouble a)
{
    return {-a.hi, -a.lo};
}

// a / b by one long-division correction step on the double quotient.
inline DoubleDouble div(DoubleDouble a, DoubleDouble b)
{
    const double q1 = a.hi / b.hi;
    DoubleDouble r = add(a, neg(mul(b, q1)));
    const double q2 = r.hi / b.hi;
    r = add(r, neg(mul(b, q2)));
    const double q3 = r.hi / b.hi;
    return add(fastTwoSum(q1, q2), q3);
}

// Whether every value within relErr (relative) of hi + lo rounds to the same
// double; if so that double is the correctly rounded result.
inline bool roundsUnambiguously(DoubleDouble v, double relErr, double &out)
{
    const double bound = (v.hi < 0 ? -v.hi : v.hi) * relErr;
    const double up = v.hi + (v.lo + bound);
    const double down = v.hi + (v.lo - bound);
    if (up != down)
        return false;
    out = up;
    return true;
}

} // namespace lintaq::maths
