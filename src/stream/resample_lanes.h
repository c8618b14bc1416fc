// The interpolator's and the decimator's sums for W outputs at once, one
// output to a lane, written once over the set's vector operations. Every lane adds
// its products in the plain loops' order (newest sample first), so the
// results are theirs bit for bit. Included by the per-instruction-set
// translation units only.
#pragma once

#include "stream/lane_types.h"

namespace lintaq::simd {
namespace {

// Groups of W outputs in flight together, so the additions of one group
// wait for the previous tap's while the others proceed.
constexpr int kResampleGroups = 4;

// Interpolator output pairs from t on, while all their taps lie in src;
// returns the first pair not written.
int interpolateLanes(float *dest, const float *src, int n, int t, const double *oddByAge,
                     const double *evenByAge, int phaseTaps)
{
    constexpr int G = kResampleGroups;
    for (; t + G * W <= n; t += G * W) {
        Vd odd[G], even[G];
LINTAQ_UNROLL
        for (int g = 0; g < G; ++g)
            odd[g] = even[g] = Ops::set1(0.0);
        for (int j = 0; j < phaseTaps; ++j) {
            const Vd oddTap = Ops::set1(oddByAge[j]), evenTap = Ops::set1(evenByAge[j]);
LINTAQ_UNROLL
            for (int g = 0; g < G; ++g) {
                const Vd x = Ops::loadWiden(src + t + g * W - j);
                odd[g] = Ops::add(odd[g], Ops::mul(x, oddTap));
                even[g] = Ops::add(even[g], Ops::mul(x, evenTap));
            }
        }
LINTAQ_UNROLL
        for (int g = 0; g < G; ++g)
            Ops::storeInterleaved(dest + 2 * (t + g * W), even[g], odd[g]);
    }
    return t;
}

// Decimator outputs from i on, while all their taps lie in src (2i+1 >=
// taps-1); returns the first output not written.
int decimateLanes(float *dest, const float *src, int outCount, int i, const double *byAge, int taps)
{
    constexpr int G = kResampleGroups;
    for (; i + G * W <= outCount; i += G * W) {
        Vd sum[G];
LINTAQ_UNROLL
        for (int g = 0; g < G; ++g)
            sum[g] = Ops::set1(0.0);
        for (int k = 0; k < taps; ++k) {
            const Vd tap = Ops::set1(byAge[k]);
LINTAQ_UNROLL
            for (int g = 0; g < G; ++g)
                sum[g] = Ops::add(sum[g], Ops::mul(Ops::loadWidenEveryOther(src + 2 * (i + g * W) + 1 - k), tap));
        }
LINTAQ_UNROLL
        for (int g = 0; g < G; ++g)
            Ops::storeNarrow(dest + i + g * W, sum[g]);
    }
    return i;
}

} // namespace
} // namespace lintaq::simd
