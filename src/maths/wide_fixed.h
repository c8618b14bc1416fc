// Wide fixed-point numbers for the rare arguments whose double-double result
// lies too close to a rounding boundary: 64 integer bits and 256 fraction
// bits in two's complement, most significant word first. Each operation
// errs by at most a few units of 2^-256, far below what any double argument
// of these functions needs to be rounded correctly.
#pragma once

#include <cstdint>
#include <cstring>

namespace lintaq::maths {

// 2^e for -1022 <= e <= 1023, exactly (the exponent field written directly).
inline double powerOfTwo(int e)
{
    const uint64_t bits = static_cast<uint64_t>(e + 1023) << 52;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

struct Wide {
    uint64_t w[5]; // w[0]: integer part (signed); w[1..4]: fraction
};

Wide wideFromDouble(double x);     // exact for |x| < 2^63 with no bits below 2^-256
Wide wideFromInt(int64_t n);
Wide wideAdd(const Wide &a, const Wide &b);
Wide wideSub(const Wide &a, const Wide &b);
Wide wideNeg(const Wide &a);
Wide wideMul(const Wide &a, const Wide &b);
Wide wideDivSmall(const Wide &a, uint64_t d); // d > 0
Wide wideShiftRight(const Wide &a, int bits); // 0 <= bits < 64, arithmetic
bool wideIsNegative(const Wide &a);
bool wideIsZero(const Wide &a);
// Integer nearest to a (ties away from zero do not matter here).
int64_t wideRound(const Wide &a);

// The double nearest to a * 2^scale, with gradual underflow and overflow to
// infinity. Exact halfway values are not expected: no argument of these
// functions lands within 2^-200 of one.
double wideToDouble(const Wide &a, int scale);

// Taylor series on |r| < 1: e^r; sin r and cos r.
Wide wideExp(const Wide &r);
void wideSinCos(const Wide &r, Wide &s, Wide &c);
// 1/a for |a| in [2^-62, 2^62], refined from a double estimate.
Wide wideReciprocal(const Wide &a);

} // namespace lintaq::maths
