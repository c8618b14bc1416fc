#!/usr/bin/python3
"""Writes src/maths/maths_tables.cpp: the constants and tables of the
engine's correctly rounded elementary functions.

Everything is derived here from exact integer arithmetic (pi by Machin's
formula, logarithms and exponentials by Python's decimal module at 500
digits), so the tables do not depend on any C library.

Run:  python3 scripts/gen_maths_tables.py
"""
import decimal
import math
import os
from fractions import Fraction

decimal.getcontext().prec = 500
D = decimal.Decimal


def machin_pi(bits):
    """pi * 2^bits as an integer (floor), from Machin's formula."""
    one = 1 << (bits + 64)

    def arctan_inv(x):
        total, term, n, sign = 0, one // x, 1, 1
        while term:
            total += sign * (term // n)
            term //= x * x
            n += 2
            sign = -sign
        return total

    return (16 * arctan_inv(5) - 4 * arctan_inv(239)) >> 64


PI = Fraction(machin_pi(1600), 1 << 1600)


def to_fraction(d):
    return Fraction(d)


LN2 = to_fraction(D(2).ln())
LN10 = to_fraction(D(10).ln())


def normalise(x):
    """(sign, m, e) with |x| = m * 2^e and 1 <= m < 2, for x != 0."""
    x = Fraction(x)
    sign = -1 if x < 0 else 1
    x = abs(x)
    e = 0
    while x >= 2:
        x /= 2
        e += 1
    while x < 1:
        x *= 2
        e -= 1
    return sign, x, e


def rn(x):
    """Nearest double to the rational x (ties to even), as a Fraction."""
    if x == 0:
        return Fraction(0)
    sign, x, e = normalise(x)
    m = x * (1 << 52)
    n = m.numerator // m.denominator
    rem = m - n
    if rem > Fraction(1, 2) or (rem == Fraction(1, 2) and n % 2 == 1):
        n += 1
    return sign * Fraction(n) * Fraction(2) ** (e - 52)


def truncate_bits(x, bits):
    """x cut down to its leading `bits` significant bits (towards zero)."""
    sign, x, e = normalise(x)
    m = x * (1 << (bits - 1))
    n = m.numerator // m.denominator
    return sign * Fraction(n) * Fraction(2) ** (e - bits + 1)


def c_double(x):
    x = Fraction(x)
    assert rn(x) == x, "not a double"
    return float(x).hex()


def dd(x):
    hi = rn(x)
    lo = rn(x - hi)
    return hi, lo


def dd_text(x):
    hi, lo = dd(x)
    return "{%s, %s}" % (c_double(hi), c_double(lo))


def wide_limbs(x):
    """x as five 64-bit words: integer word, then 256 fraction bits (rounded)."""
    assert 0 <= x < (1 << 63)
    n = x * (1 << 256)
    v = (n.numerator + n.denominator // 2) // n.denominator
    words = []
    for i in range(5):
        words.append((v >> (64 * (4 - i))) & ((1 << 64) - 1))
    return "{{" + ", ".join("0x%016xull" % w for w in words) + "}}"


def split_chain(x, parts, bits):
    out = []
    rest = Fraction(x)
    for i in range(parts):
        if i == parts - 1:
            p = rn(rest)
        else:
            p = truncate_bits(rest, bits)
        out.append(p)
        rest -= p
    return out


def exp_frac(q):
    return to_fraction(D(q.numerator).__truediv__(D(q.denominator)).exp())


def ln_frac(q):
    return to_fraction((D(q.numerator) / D(q.denominator)).ln())


# Error bounds of the fast paths (src/maths/fast_*.cpp), each with its
# derivation. A fast result is returned only when every value within the
# bound of the approximation rounds to the same double; a bound that is too
# small would misround, one too large only sends more arguments to the slow
# paths. Units: u = 2^-53; r the reduced argument.
BOUNDS = [
    ("kExpFastError", Fraction(1, 1 << 65), [
        "e^x = 2^m T_j e^r, |r| <= ln2/128 (1 + 2^-40) < 2^-7.52, T_j = 2^(j/64) as a",
        "double-double (error 2^-106 T_j). r = rhi + rlo to 2^-100, |rlo| <= 2^-61.",
        "q = e^rhi - 1 - rhi by Horner to r^7 in doubles: truncation r^8/8! < 2^-75.4;",
        "evaluation 3.05u |q| with |q| < 2^-16.06, so 2^-67.45. Products and the",
        "low-part sum T q, rounded, 2 x 2^-69.05; neglected rlo (e^r - 1) and",
        "T_lo q, 2^-68.5 and 2^-69. Sum 2^-66.1 of T_j, and e^r >= 0.994: relative",
        "error below 2^-66.0; exp10 adds 2^-94 from x ln10 as a double-double.",
    ]),
    ("kLogCubeError", Fraction(1, 1 << 50), [
        "log x = e ln2 - ln r_j + log1p(u), u = m r_j - 1 exact, |u| < 2^-7. u and",
        "-u^2/2 enter exactly; the rest t = u^3 (1/3 - u/4 + ... + u^6/9): truncation",
        "|u|^10/10/(1-|u|) <= 2^-52.3 |u|^3; evaluation in powers of u^2 6.1u |t|",
        "<= 2^-51.96 |u|^3 (u^3 2u, the sum 2.03u, coefficients u, product u); the",
        "final low-part addition 2^-54.5 |u|^3. Sum 2^-50.99 |u|^3, applied",
        "per argument (this constant times |u|^3).",
    ]),
    ("kLogExponentError", Fraction(1, 1 << 90), [
        "Per |e|: e ln2 enters as e L0 (exact, in the exact high sum) + e L1 (exact,",
        "|e L1| < 2^-40.3 |e|) + e L2; the six roundings of the low-part sum are each",
        "within 2^-53 of a partial sum below 2^-40.3 |e| + 2^-52: 2^-91 |e|.",
    ]),
    ("kLogRelativeError", Fraction(1, 1 << 95), [
        "The rest of those roundings (2^-102.7) and the table's -ln r_j as a",
        "double-double (2^-106.5); both vanish when (e, j) = (0, 0) and the result",
        "is at least 2^-9 otherwise: below 2^-97 of the result. log10's product with",
        "1/ln10 as a double-double adds 2^-101.5 of its result.",
    ]),
    ("kTrigTableTermError", Fraction(1, 1 << 65), [
        "f = A cos r + B sin r with (A, B) a double-double pair from the table",
        "(|A|, |B| <= 1), |r| <= pi/512 (1 + 2^-26) < 2^-7.34, z = rhi^2. Per |A|:",
        "1 - cos r by Horner to z^3, truncation z^4/8! < 2^-74.1, evaluation 3.01u",
        "of 2^-15.7 = 2^-67.1; the products, the neglected A_lo (1 - cos r) and the",
        "two low-part sums 4 x 2^-68.7. Sum 2^-65.69 |A|.",
    ]),
    ("kTrigSlopeTermError", Fraction(1, 1 << 66), [
        "Per |B r|: sin r - r by Horner to r^7, truncation r^9/9! < 2^-77.3 |r|,",
        "evaluation 5.01u of z/6 = 2^-67.98; the neglected rlo (cos r - 1) 2^-68.7;",
        "products and sums 4 x 2^-70.3. Sum 2^-66.7 |B r|.",
    ]),
    ("kTrigReductionError", Fraction(1, 1 << 111), [
        "r = x - k pi/256 with pi/256 in three parts: representation 2^-114 |k|, the",
        "rounded k P2 2^-113.2 |k|: per |k|, 2^-112.5 (the slopes of sin and cos are",
        "at most 1); the last sum's 2^-106 |r| lies within the per-|B r| slack.",
    ]),
    ("kBracketTanError", Fraction(1, 1 << 50), [
        "Tangent brackets (plain doubles, for results wanted in single precision):",
        "r = x - k P0 - k Pl, t = r + r^3 (1/3 + z (2/15 + z 17/315)), z = r^2; then",
        "N = A + B t and D = B - A t with (A, B) the table's doubles (S, C), or (C,",
        "-S) in odd quadrants. t: truncation 62/2835 z^4 < 2^-64.3 |t|, the rounding",
        "of r u|t|, the cubic term 5u of 2^-16 |t|, the last sum u: 2.01u |t|. N: A",
        "u|A|; B t 4.01u |B t| (B's u, t's 2.01u, the product u); the sum u |N| <= u",
        "(|A| + |B t|): below 6.01u = 2^-50.41 per (|A| + |B t|); D likewise per (|B|",
        "+ |A t|).",
    ]),
    ("kBracketReductionError", Fraction(1, 1 << 84), [
        "Per |k|, the brackets' two-part reduction (k P0 and x - k P0 exact as in the",
        "fast path's): Pl = pi/256 - P0 rounded, within 2^-87.3 of it, and the",
        "rounded product k Pl, 2^-85.9; the slope of tan is 1 + t^2 <= 1.00004 near",
        "r = 0, and |S|, |C| <= 1: 2^-85.4 per |k|.",
    ]),
    ("kBracketQuotientError", Fraction(1, 1 << 51), [
        "tan = N (1/D) in doubles: the reciprocal and the product, 2u of the",
        "quotient, on top of the operands' relative bounds (taken only while D's",
        "bound is below 2^-30 |D|, so the second-order term lies in the slack).",
    ]),
    ("kBracketLogError", Fraction(1, 1 << 50), [
        "log x = e ln2 + T_j.hi + (u + u^2 Q(u)), Q to u^4, in doubles: e ln2 with",
        "the double ln2, 2^-51.5 |e ln2|; T_j.hi u |T|; the two sums u |partial| and",
        "u |result|; u^2 Q (in powers of u^2) 4.1u of u^2/2; truncation |u|^7/7",
        "(1.01), applied per",
        "argument. Per (|e ln2| + |T| + |result|): below 2^-50.5; log10's product with",
        "the double nearest 1/ln10 adds 2u of its result.",
    ]),
    ("kTanQuotientError", Fraction(1, 1 << 99), [
        "tan = N/D from the two double-doubles above by one correction step: the",
        "remainder and the correction err by 2^-101 of the quotient; relative error",
        "bounds eN/|N| + eD/|D| of the operands add, with their product below 2^-120.",
    ]),
]

lines = []
w = lines.append
w("// Generated by scripts/gen_maths_tables.py; do not edit.")
w("//")
w("// Error bounds of the fast paths (derivations beside each constant below):")
w("//   exp, exp10:    relative 2^-65 (derived 2^-66.0)")
w("//   log, log10:    2^-50 |u|^3 + 2^-90 |e| + 2^-95 |result| (derived 2^-50.99, 2^-91, 2^-97)")
w("//   sin, cos:      2^-65 |A| + 2^-66 |B r| + 2^-111 |k| (derived 2^-65.69, 2^-66.7, 2^-112.5)")
w("//   tan:           the sine's and cosine's bounds relative, + 2^-99 of the quotient")
w("//   brackets:      tan 2^-50 (|A| + |B t|) + 2^-84 |k|, quotient 2^-51, log 2^-50 of the terms")
w("// Bounds are evaluated in doubles at run time; their own rounding (2^-52")
w("// relative) lies within the slack between each constant and its derivation.")
w('#include "maths/maths_tables.h"')
w("")
w("namespace lintaq::maths {")
w("")

two_over_pi = 2 / PI
words = []
frac = two_over_pi
for i in range(24):
    frac *= 1 << 64
    n = frac.numerator // frac.denominator
    words.append(n)
    frac -= n
w("// Binary expansion of 2/pi after the point, 64 bits per word.")
w("const uint64_t kTwoOverPiBits[24] = {")
for i in range(0, 24, 3):
    w("    " + ", ".join("0x%016xull" % v for v in words[i:i + 3]) + ",")
w("};")
w("")

w("const Wide kWideLn2 = " + wide_limbs(LN2) + ";")
w("const Wide kWideLn10 = " + wide_limbs(LN10) + ";")
w("const Wide kWideInvLn10 = " + wide_limbs(1 / LN10) + ";")
w("const Wide kWideHalfPi = " + wide_limbs(PI / 2) + ";")
w("")

# pi/2 in parts of 30 bits (k * part exact for k < 2^22), the last one full.
parts = split_chain(PI / 2, 6, 30)
w("// pi/2 = sum of these; all but the last carry 30 significant bits.")
w("const double kHalfPiParts[6] = {" + ", ".join(c_double(p) for p in parts) + "};")
# ln2/64 in parts of 36 bits (k * part exact for |k| < 2^17).
parts = split_chain(LN2 / 64, 3, 36)
w("// ln2/64 = sum of these; the first two carry 36 significant bits.")
w("const double kLn2By64Parts[3] = {" + ", ".join(c_double(p) for p in parts) + "};")
# ln2 in parts of 40 bits (e * part exact for |e| < 2^13).
parts = split_chain(LN2, 3, 40)
w("// ln2 = sum of these; the first two carry 40 significant bits.")
w("const double kLn2Parts[3] = {" + ", ".join(c_double(p) for p in parts) + "};")
w("const DoubleDouble kLn10 = " + dd_text(LN10) + ";")
w("const DoubleDouble kInvLn10 = " + dd_text(1 / LN10) + ";")
w("")

w("// 2^(j/64), j = 0..63.")
w("const DoubleDouble kExp2Table[64] = {")
for j in range(64):
    w("    " + dd_text(exp_frac(LN2 * j / 64)) + ",")
w("};")


def dekker_split(a):
    """a = hi + lo with at most 26 significant bits each, as split() forms it."""
    c = 134217729.0 * a
    hi = c - (c - a)
    return hi, a - hi


w("// The high doubles of kExp2Table split into 26-bit halves, for exact products.")
w("const DoubleDouble kExp2HighSplit[64] = {")
for j in range(64):
    hi = float(dd(exp_frac(LN2 * j / 64))[0])
    w("    {%s, %s}," % tuple(c_double(to_fraction(v)) for v in dekker_split(hi)))
w("};")
w("")

w("// For mantissas near 1 + j/128: an 8-bit reciprocal r and -ln(r).")
w("const double kLogInverse[128] = {")
invs = []
for j in range(128):
    c = 1 + Fraction(j, 128)
    inv = Fraction(round(256 / c), 256)
    invs.append(inv)
    # |m * inv - 1| over the mantissas rounded to this j stays below 2^-7,
    # so m * inv - 1 is exact in a double.
    for m in (c - Fraction(1, 256), c + Fraction(1, 256)):
        assert abs(m * inv - 1) < Fraction(1, 128)
for i in range(0, 128, 4):
    w("    " + ", ".join(c_double(v) for v in invs[i:i + 4]) + ",")
w("};")
w("// The same reciprocals times 256, as integers.")
w("const uint16_t kLogInverseTimes256[128] = {")
for i in range(0, 128, 16):
    w("    " + ", ".join(str(int(v * 256)) for v in invs[i:i + 16]) + ",")
w("};")
# The fast logarithm sums e L0 - ln r_j and then u with the short exact
# sum, which needs the first at least as large as u whenever (e, j) is not
# (0, 0): check it over every j (m within half a step of 1 + j/128, or m/2
# in [1 - 2^-8, 1) for j = 0) and every exponent a double can have.
def log_sum_margin():
    ln2 = math.log(2)
    worst = float("inf")
    for j, inv in enumerate(invs):
        r = float(inv)
        lo = 1 + (2 * j - 1) / 256 if j > 0 else 1 - 1 / 256
        hi = 1 + (2 * j + 1) / 256
        u_max = max(abs(lo * r - 1), abs(hi * r - 1)) if j > 0 else max(1 / 256, abs(hi * r - 1))
        t = -math.log(r)
        for e in range(-1100, 1100):
            if e != 0 or j != 0:
                worst = min(worst, abs(e * ln2 + t) / u_max)
    return worst


margin = log_sum_margin()
assert margin > 1.1, margin
w("// |e ln2 - ln r_j| >= %.2f |u| whenever (e, j) != (0, 0)." % margin)
w("const DoubleDouble kLogTable[128] = {")
for inv in invs:
    w("    " + dd_text(-ln_frac(inv)) + ",")
w("};")
w("")

fact = 1
w("// 1/n!, n = 0..27.")
w("const DoubleDouble kInvFactorial[28] = {")
for n in range(28):
    if n > 0:
        fact *= n
    w("    " + dd_text(Fraction(1, fact)) + ",")
w("};")
w("")
w("// 1/n, n = 0..15 (entry 0 unused).")
w("const DoubleDouble kInvInteger[16] = {")
w("    {0.0, 0.0},")
for n in range(1, 16):
    w("    " + dd_text(Fraction(1, n)) + ",")
w("};")
w("")

# The fast paths' table: sin and cos at multiples of pi/256 over a quarter
# turn, and pi/256 in parts for the reduction.
PI_D = D(PI.numerator) / D(PI.denominator)


def sin_cos(a):
    """(sin a, cos a) as Fractions to about 480 digits, 0 <= a <= pi/2."""
    s, c = D(0), D(0)
    term, n = D(1), 0  # a^n / n!
    eps = D(10) ** -480
    while abs(term) > eps or n < 2:
        if n % 4 == 0:
            c += term
        elif n % 4 == 1:
            s += term
        elif n % 4 == 2:
            c -= term
        else:
            s -= term
        n += 1
        term = term * a / n
    return to_fraction(s), to_fraction(c)


w("// sin(i pi/256) and cos(i pi/256), i = 0..127.")
w("const SinCosPair kSinCosTable[128] = {")
for i in range(128):
    s, c = sin_cos(PI_D * i / 256)
    w("    {" + dd_text(s) + ", " + dd_text(c) + "},")
w("};")
# pi/256 in parts of 26 bits (k * part exact for |k| < 2^27), the last full.
parts = split_chain(PI / 256, 3, 26)
w("// pi/256 = sum of these to 2^-114; the first two carry 26 significant bits.")
w("const double kPiBy256Parts[3] = {" + ", ".join(c_double(p) for p in parts) + "};")
w("// pi/256 - kPiBy256Parts[0] rounded to a double: the brackets' short reduction.")
w("const double kPiBy256Low = " + c_double(rn(PI / 256 - parts[0])) + ";")
w("const double k256ByPi = " + c_double(rn(256 / PI)) + ";")
w("")
w("// Error bounds of the fast paths.")
for name, value, why in BOUNDS:
    for line in why:
        w("// " + line)
    w("const double %s = %s;" % (name, c_double(value)))
w("")
w("} // namespace lintaq::maths")

path = os.path.join(os.path.dirname(__file__), "..", "src", "maths", "maths_tables.cpp")
with open(path, "w") as f:
    f.write("\n".join(lines) + "\n")
print("wrote", os.path.normpath(path))
