#include "maths/wide_fixed.h"

#include <cstring>

namespace lintaq::maths {

namespace {

__extension__ typedef unsigned __int128 U128;

constexpr int kWords = 5;

// Unsigned product of two magnitudes, rounded down to 256 fraction bits.
Wide mulMagnitudes(const Wide &a, const Wide &b)
{
    // Word i of a carries weight 2^(64*(1-i)); the product of words i and j
    // lands at word i + j of a ten-word result whose word 1 is the integer.
    uint64_t acc[2 * kWords] = {};
    for (int i = kWords - 1; i >= 0; --i) {
        uint64_t carry = 0;
        for (int j = kWords - 1; j >= 0; --j) {
            const U128 t = static_cast<U128>(a.w[i]) * b.w[j] + acc[i + j + 1] + carry;
            acc[i + j + 1] = static_cast<uint64_t>(t);
            carry = static_cast<uint64_t>(t >> 64);
        }
        acc[i] += carry;
    }
    Wide r;
    for (int i = 0; i < kWords; ++i)
        r.w[i] = acc[i + 1];
    return r;
}

} // namespace

Wide wideFromInt(int64_t n)
{
    return {{static_cast<uint64_t>(n), 0, 0, 0, 0}};
}

Wide wideFromDouble(double x)
{
    Wide r{{0, 0, 0, 0, 0}};
    if (x == 0)
        return r;
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    uint64_t mant = bits & ((uint64_t{1} << 52) - 1);
    int e = biased - 1075; // x = mant * 2^e
    if (biased == 0)
        e = -1074;
    else
        mant |= uint64_t{1} << 52;
    // Bit position of mant's lowest bit, counted from 2^-256 upwards.
    const int pos = e + 256;
    for (int b = 0; b < 53; ++b) {
        if (((mant >> b) & 1) == 0)
            continue;
        const int p = pos + b;
        if (p < 0 || p >= 320)
            continue;
        r.w[kWords - 1 - p / 64] |= uint64_t{1} << (p % 64);
    }
    return negative ? wideNeg(r) : r;
}

Wide wideAdd(const Wide &a, const Wide &b)
{
    Wide r;
    uint64_t carry = 0;
    for (int i = kWords - 1; i >= 0; --i) {
        const U128 t = static_cast<U128>(a.w[i]) + b.w[i] + carry;
        r.w[i] = static_cast<uint64_t>(t);
        carry = static_cast<uint64_t>(t >> 64);
    }
    return r;
}

Wide wideNeg(const Wide &a)
{
    Wide r;
    for (int i = 0; i < kWords; ++i)
        r.w[i] = ~a.w[i];
    return wideAdd(r, {{0, 0, 0, 0, 1}});
}

Wide wideSub(const Wide &a, const Wide &b)
{
    return wideAdd(a, wideNeg(b));
}

bool wideIsNegative(const Wide &a)
{
    return (a.w[0] >> 63) != 0;
}

bool wideIsZero(const Wide &a)
{
    for (uint64_t v : a.w)
        if (v != 0)
            return false;
    return true;
}

Wide wideMul(const Wide &a, const Wide &b)
{
    const bool na = wideIsNegative(a), nb = wideIsNegative(b);
    const Wide p = mulMagnitudes(na ? wideNeg(a) : a, nb ? wideNeg(b) : b);
    return na != nb ? wideNeg(p) : p;
}

Wide wideDivSmall(const Wide &a, uint64_t d)
{
    const bool negative = wideIsNegative(a);
    const Wide m = negative ? wideNeg(a) : a;
    Wide q;
    U128 rem = 0;
    for (int i = 0; i < kWords; ++i) {
        const U128 cur = (rem << 64) | m.w[i];
        q.w[i] = static_cast<uint64_t>(cur / d);
        rem = cur % d;
    }
    return negative ? wideNeg(q) : q;
}

Wide wideShiftRight(const Wide &a, int bits)
{
    if (bits == 0)
        return a;
    Wide r;
    const uint64_t fill = wideIsNegative(a) ? ~uint64_t{0} : 0;
    for (int i = kWords - 1; i >= 0; --i) {
        const uint64_t above = i > 0 ? a.w[i - 1] : fill;
        r.w[i] = (a.w[i] >> bits) | (above << (64 - bits));
    }
    return r;
}

int64_t wideRound(const Wide &a)
{
    const Wide h = wideAdd(a, {{0, uint64_t{1} << 63, 0, 0, 0}});
    return static_cast<int64_t>(h.w[0]); // floor(a + 1/2)
}

double wideToDouble(const Wide &a, int scale)
{
    if (wideIsZero(a))
        return 0.0;
    const bool negative = wideIsNegative(a);
    const Wide m = negative ? wideNeg(a) : a;
    int top = -1; // bit index of the leading one, counted from 2^-256
    for (int i = 0; i < kWords && top < 0; ++i)
        if (m.w[i] != 0)
            top = (kWords - 1 - i) * 64 + 63 - __builtin_clzll(m.w[i]);
    const int exponent = top - 256 + scale; // value in [2^exponent, 2^(exponent+1))
    if (exponent > 1023)
        return negative ? -__builtin_inf() : __builtin_inf();
    // Quantum of the result: 53 significant bits, or the subnormal spacing.
    const int quantum = exponent >= -1022 ? exponent - 52 : -1074;
    const int cut = quantum - scale + 256; // bit index of the quantum in m
    uint64_t n = 0;
    bool roundUp = false;
    if (cut <= top) {
        for (int b = top; b >= cut && b >= 0; --b) // at most 53 bits
            n = (n << 1) | ((m.w[kWords - 1 - b / 64] >> (b % 64)) & 1);
        if (cut < 0)
            n <<= -cut;
    }
    const int half = cut - 1;
    if (half >= 0 && half <= top)
        roundUp = ((m.w[kWords - 1 - half / 64] >> (half % 64)) & 1) != 0;
    n += roundUp ? 1 : 0;
    // n * 2^quantum, formed exactly in two steps (the result is representable).
    double r = static_cast<double>(n);
    if (quantum >= -1022 + 53) {
        if (quantum > 1023 - 53 && n >= (uint64_t{1} << 53) && quantum + 53 > 1023)
            return negative ? -__builtin_inf() : __builtin_inf();
        r = r * powerOfTwo(quantum / 2) * powerOfTwo(quantum - quantum / 2);
    } else {
        r = r * powerOfTwo(quantum + 200) * powerOfTwo(-200);
    }
    return negative ? -r : r;
}

Wide wideExp(const Wide &r)
{
    Wide sum = wideFromInt(1), term = wideFromInt(1);
    for (uint64_t n = 1; n < 80 && !wideIsZero(term); ++n) {
        term = wideDivSmall(wideMul(term, r), n);
        sum = wideAdd(sum, term);
    }
    return sum;
}

void wideSinCos(const Wide &r, Wide &s, Wide &c)
{
    const Wide r2 = wideMul(r, r);
    Wide termS = r, termC = wideFromInt(1);
    s = termS;
    c = termC;
    for (uint64_t n = 1; n < 60 && !(wideIsZero(termS) && wideIsZero(termC)); ++n) {
        termC = wideNeg(wideDivSmall(wideMul(termC, r2), (2 * n - 1) * (2 * n)));
        termS = wideNeg(wideDivSmall(wideMul(termS, r2), (2 * n) * (2 * n + 1)));
        c = wideAdd(c, termC);
        s = wideAdd(s, termS);
    }
}

Wide wideReciprocal(const Wide &a)
{
    Wide x = wideFromDouble(1.0 / wideToDouble(a, 0));
    const Wide two = wideFromInt(2);
    for (int i = 0; i < 4; ++i) // each step doubles the correct bits
        x = wideMul(x, wideSub(two, wideMul(a, x)));
    return x;
}

} // namespace lintaq::maths
