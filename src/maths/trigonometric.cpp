// sin, cos and tan: the fast path (fast_trigonometric.cpp) first; for the
// arguments it cannot decide, reduction modulo pi/2 (Cody-Waite with a six-part pi/2
// below 2^22, Payne-Hanek with 1536 bits of 2/pi above), Taylor series in
// double-double arithmetic, and a 256-bit fixed-point evaluation for the
// few arguments whose double-double result is too close to a rounding
// boundary to decide.
#include <cstdint>
#include <cstring>

#include "maths/double_double.h"
#include "maths/elementary.h"
#include "maths/fast_trigonometric.h"
#include "maths/fast_paths.h"
#include "maths/maths_tables.h"
#include "maths/wide_fixed.h"

namespace lintaq::maths {

namespace {

constexpr double kRelErr = 0x1p-80; // far above the double-double path's real error
constexpr double kQuarterPi = 0x1.921fb54442d18p-1; // just below pi/4
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;

enum class Fn { Sin, Cos, Tan };

// ax mod pi/2 for finite ax > pi/4 in 256-bit fixed point; returns the
// quadrant (the multiple of pi/2 taken away, modulo 4).
int reduceWide(double ax, Wide &r)
{
    uint64_t bits;
    std::memcpy(&bits, &ax, sizeof bits);
    const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    const int e = static_cast<int>((bits >> 52) & 0x7ff) - 1075; // ax = m * 2^e
    // Bits of 2/pi above position e - 2 only add multiples of 4 to
    // ax * 2/pi; take a 384-bit window T starting there.
    const int first = e - 1 > 1 ? e - 1 : 1;           // index of the window's first bit
    const int off = first - 1, word = off / 64, shift = off % 64;
    uint64_t t[6];
    for (int k = 0; k < 6; ++k) {
        const uint64_t hi = kTwoOverPiBits[word + k];
        const uint64_t lo = kTwoOverPiBits[word + k + 1];
        t[k] = shift == 0 ? hi : (hi << shift) | (lo >> (64 - shift));
    }
    // p = m * T, least significant word first; ax * 2/pi = p * 2^-point.
    __extension__ typedef unsigned __int128 U128;
    uint64_t p[7] = {};
    uint64_t carry = 0;
    for (int k = 5; k >= 0; --k) {
        const U128 v = static_cast<U128>(m) * t[k] + carry;
        p[5 - k] = static_cast<uint64_t>(v);
        carry = static_cast<uint64_t>(v >> 64);
    }
    p[6] = carry;
    const int point = first + 383 - e;
    const auto bitsFrom = [&](int low) { // 64 bits of p starting at bit `low`
        uint64_t v = 0;
        for (int b = 63; b >= 0; --b) {
            const int i = low + b;
            const uint64_t bit = (i >= 0 && i < 448) ? (p[i / 64] >> (i % 64)) & 1 : 0;
            v = (v << 1) | bit;
        }
        return v;
    };
    int quadrant = static_cast<int>(bitsFrom(point) & 3);
    Wide f{{0, bitsFrom(point - 64), bitsFrom(point - 128), bitsFrom(point - 192), bitsFrom(point - 256)}};
    if ((f.w[1] >> 63) != 0) { // fraction >= 1/2: take the next multiple
        f = wideSub(f, wideFromInt(1));
        quadrant = (quadrant + 1) & 3;
    }
    r = wideMul(f, kWideHalfPi);
    return quadrant;
}

DoubleDouble toDoubleDouble(const Wide &w)
{
    const double hi = wideToDouble(w, 0);
    return {hi, wideToDouble(wideSub(w, wideFromDouble(hi)), 0)};
}

// ax mod pi/2 as a double-double with |r| <= pi/4 (a hair more near the
// ends of a quadrant); returns the quadrant.
int reduce(double ax, DoubleDouble &r)
{
    if (ax <= kQuarterPi) {
        r = {ax, 0.0};
        return 0;
    }
    if (ax < 0x1p22) {
        const double k = static_cast<double>(static_cast<int64_t>(ax * kTwoOverPi + 0.5));
        // k times each 30-bit part is exact, and so is the first difference.
        r = {ax - k * kHalfPiParts[0], 0.0};
        for (int i = 1; i < 6; ++i)
            r = add(r, -(k * kHalfPiParts[i]));
        return static_cast<int>(static_cast<int64_t>(k) & 3);
    }
    Wide w;
    const int q = reduceWide(ax, w);
    r = toDoubleDouble(w);
    return q;
}

// sum over n of (-1)^n z^n / (2n + offset)!, n = 0..13: cosine (offset 0)
// and sine / r (offset 1) on |r| <= pi/4. Terms from n = 8 on are below
// 2^-49 and go in plain double arithmetic.
DoubleDouble alternatingSeries(DoubleDouble z, int offset)
{
    double tail = 0.0;
    for (int n = 13; n >= 8; --n) {
        const double c = kInvFactorial[2 * n + offset].hi;
        tail = tail * z.hi + ((n & 1) ? -c : c);
    }
    DoubleDouble acc{tail, 0.0};
    for (int n = 7; n >= 0; --n) {
        const DoubleDouble c = kInvFactorial[2 * n + offset];
        acc = add(mul(acc, z), (n & 1) ? neg(c) : c);
    }
    return acc;
}

// Picks the signed sine or cosine of the reduced argument for the quadrant.
template <typename T, typename Neg>
T select(Fn fn, int q, const T &s, const T &c, Neg negate)
{
    if (fn == Fn::Sin)
        return q == 0 ? s : q == 1 ? c : q == 2 ? negate(s) : negate(c);
    return q == 0 ? c : q == 1 ? negate(s) : q == 2 ? negate(c) : s;
}

double slowPath(double ax, Fn fn)
{
    Wide r;
    int q = 0;
    if (ax <= kQuarterPi)
        r = wideFromDouble(ax);
    else
        q = reduceWide(ax, r);
    Wide s, c;
    wideSinCos(r, s, c);
    if (fn == Fn::Tan) {
        const Wide v = (q & 1) ? wideNeg(wideMul(c, wideReciprocal(s))) : wideMul(s, wideReciprocal(c));
        return wideToDouble(v, 0);
    }
    return wideToDouble(select(fn, q, s, c, [](const Wide &v) { return wideNeg(v); }), 0);
}

// f(|x|) for finite |x| >= 2^-28.
double evaluate(double ax, Fn fn)
{
    DoubleDouble r;
    const int q = reduce(ax, r);
    const DoubleDouble z = mul(r, r);
    DoubleDouble v;
    if (fn == Fn::Tan) {
        const DoubleDouble s = mul(r, alternatingSeries(z, 1));
        const DoubleDouble c = alternatingSeries(z, 0);
        v = (q & 1) ? neg(div(c, s)) : div(s, c);
    } else {
        const bool wantSine = (fn == Fn::Sin) == ((q & 1) == 0);
        const DoubleDouble base = wantSine ? mul(r, alternatingSeries(z, 1)) : alternatingSeries(z, 0);
        const bool negative = fn == Fn::Sin ? q >= 2 : (q == 1 || q == 2);
        v = negative ? neg(base) : base;
    }
    double out;
    if (roundsUnambiguously(v, kRelErr, out))
        return out;
    return slowPath(ax, fn);
}

// f(|x|) for finite |x| above the tiny arguments: the fast path when its
// result rounds one way, else the slow paths.
double evaluateFirstFast(double ax, Fn fn, TrigKind kind, Function counted)
{
    Approximation a;
    double out;
    if (fastTrig(kind, ax, a) && roundsOneWay(a, out))
        return out;
    countFallback(counted);
    return evaluate(ax, fn);
}

} // namespace

double sin(double x)
{
    const double ax = x < 0 ? -x : x;
    if (!(ax <= 0x1.fffffffffffffp+1023))
        return x - x; // NaN for NaN and infinities
    if (ax < 0x1p-26)
        return x; // x - x^3/6 rounds to x
    const double v = evaluateFirstFast(ax, Fn::Sin, TrigKind::sin, Function::sin);
    return x < 0 ? -v : v;
}

double cos(double x)
{
    const double ax = x < 0 ? -x : x;
    if (!(ax <= 0x1.fffffffffffffp+1023))
        return x - x;
    if (ax < 0x1p-27)
        return 1.0; // 1 - x^2/2 rounds to 1
    return evaluateFirstFast(ax, Fn::Cos, TrigKind::cos, Function::cos);
}

double tan(double x)
{
    const double ax = x < 0 ? -x : x;
    if (!(ax <= 0x1.fffffffffffffp+1023))
        return x - x;
    if (ax < 0x1p-27)
        return x; // x + x^3/3 rounds to x
    const double v = evaluateFirstFast(ax, Fn::Tan, TrigKind::tan, Function::tan);
    return x < 0 ? -v : v;
}

void sinCos(double x, double &s, double &c)
{
    const double ax = x < 0 ? -x : x;
    Approximation as, ac;
    if (ax >= 0x1p-26 && fastSinCos(ax, as, ac)) {
        if (!roundsOneWay(as, s)) {
            countFallback(Function::sin);
            s = evaluate(ax, Fn::Sin);
        }
        if (!roundsOneWay(ac, c)) {
            countFallback(Function::cos);
            c = evaluate(ax, Fn::Cos);
        }
        if (x < 0)
            s = -s;
        return;
    }
    s = sin(x);
    c = cos(x);
}

} // namespace lintaq::maths
