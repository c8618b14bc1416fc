// The brackets of maths/brackets.h for two arguments at once, in GCC's and
// Clang's vector extensions (SSE2 on x86-64, NEON on ARM64). Lane by lane
// the operations are the scalar brackets' own, in the same order, so a lane
// marked usable holds the scalar bracket's exact bits; a lane that is not
// (outside the range, or where the scalar bracket would give up) is left
// to the scalar path.
#pragma once

#include <cstdint>

#include "maths/fast_paths.h"
#include "maths/maths_tables.h"

namespace lintaq::maths {

typedef double DoublePair __attribute__((vector_size(16)));
typedef int64_t MaskPair __attribute__((vector_size(16))); // all ones where true
typedef uint64_t BitsPair __attribute__((vector_size(16)));

struct BracketPair {
    DoublePair down, up;
    MaskPair usable;
};

namespace bracket {

inline DoublePair magnitude(DoublePair v)
{
    return reinterpret_cast<DoublePair>(reinterpret_cast<BitsPair>(v) & (~uint64_t{0} >> 1));
}

inline BracketPair bracketOf(DoublePair value, DoublePair bound, MaskPair usable)
{
    const DoublePair down = value - bound;
    const DoublePair up = value + bound;
    return {down, up, usable & (down == down) & (up == up)};
}

} // namespace bracket

// tanBracket on each lane.
inline BracketPair tanBracketPair(DoublePair x)
{
    using bracket::magnitude;
    const DoublePair ax = magnitude(x);
    const MaskPair inRange = (ax >= 0x1p-27) & (ax < 0x1p20);
    const DoublePair shifted = ax * k256ByPi + kRoundShift;
    const DoublePair kd = shifted - kRoundShift;
    const DoublePair r = (ax - kd * kPiBy256Parts[0]) - kd * kPiBy256Low;
    const DoublePair z = r * r;
    const DoublePair t = r + r * (z * ((1.0 / 3.0) + z * ((2.0 / 15.0) + z * (17.0 / 315.0))));
    // The low bits of the shifted sum hold k (for 0 <= k < 2^51).
    const MaskPair k = reinterpret_cast<MaskPair>(shifted) & 511;
    const SinCosPair &first = kSinCosTable[k[0] & 127];
    const SinCosPair &second = kSinCosTable[k[1] & 127];
    const DoublePair s = {first.sin.hi, second.sin.hi};
    const DoublePair c = {first.cos.hi, second.cos.hi};
    const MaskPair odd = (k & 128) != 0;
    const DoublePair a = odd ? c : s;
    const DoublePair b = odd ? -s : c;
    const DoublePair n = a + b * t;
    const DoublePair d = b - a * t;
    const DoublePair reduction = kd * kBracketReductionError;
    const DoublePair nBound = (magnitude(a) + magnitude(b * t)) * kBracketTanError + reduction;
    const DoublePair dBound = (magnitude(b) + magnitude(a * t)) * kBracketTanError + reduction;
    const DoublePair inverse = 1.0 / d;
    const DoublePair absInverse = magnitude(inverse);
    const MaskPair firstOrder = dBound * absInverse < 0x1p-30;
    const DoublePair q = n * inverse;
    const DoublePair absQ = magnitude(q);
    const DoublePair bound = (nBound + absQ * dBound) * absInverse + absQ * kBracketQuotientError;
    return bracket::bracketOf(x < 0.0 ? -q : q, bound, inRange & firstOrder);
}

// log10Bracket on each lane, for lanes that hold float values (their
// mantissas times the table's 8-bit reciprocals are exact in doubles).
inline BracketPair log10BracketPairOfFloats(DoublePair x)
{
    using bracket::magnitude;
    const MaskPair usable = (x > 0.0) & (x < __builtin_inf());
    // x = 2^e m, as splitLogArgument splits it (no double is subnormal here).
    const BitsPair bits = reinterpret_cast<BitsPair>(x);
    const BitsPair fraction = bits & ((uint64_t{1} << 52) - 1);
    const BitsPair j8 = (((fraction >> 44) & 0xff) + 1) >> 1;
    const MaskPair top = reinterpret_cast<MaskPair>(j8 == 128); // m nearest 2: use m/2
    const BitsPair j = j8 & 127;
    const DoublePair exponentField =
        reinterpret_cast<DoublePair>((bits >> 52) | 0x4330000000000000ull) - 0x1p52; // exact
    const DoublePair e = (exponentField - 1023.0) + (top ? 1.0 : 0.0);
    const DoublePair m = reinterpret_cast<DoublePair>(fraction | 0x3ff0000000000000ull);
    const DoublePair reciprocal = {double(kLogInverseTimes256[j[0]]), double(kLogInverseTimes256[j[1]])};
    const DoublePair scaledReciprocal = (top ? 128.0 : reciprocal) * 0x1p-8;
    const DoublePair u = m * scaledReciprocal - 1.0; // both steps exact
    const DoublePair u2 = u * u;
    const DoublePair q =
        (-0.5 + u * kInvInteger[3].hi) + u2 * ((-0.25 + u * kInvInteger[5].hi) - u2 * kInvInteger[6].hi);
    const DoublePair w = u + u2 * q;
    const DoublePair ln2e = e * 0x1.62e42fefa39efp-1;
    const DoublePair table = {kLogTable[j[0]].hi, kLogTable[j[1]].hi};
    const DoublePair ln = (ln2e + table) + w;
    const DoublePair terms = magnitude(ln2e) + magnitude(table);
    const DoublePair u7 = (u2 * u2) * (u2 * magnitude(u));
    const DoublePair lnBound = ((terms + terms) + magnitude(w)) * kBracketLogError + u7 * 0.145;
    const DoublePair bound = lnBound * 0.44 + (terms + magnitude(w)) * (0.44 * kBracketQuotientError);
    return bracket::bracketOf(ln * kInvLn10.hi, bound, usable);
}

} // namespace lintaq::maths
