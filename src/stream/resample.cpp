#include "stream/resample.h"

#include <cassert>
#include <cstring>

#include "stream/vector_kernels.h"

namespace lintaq {

namespace {

// sum over j = first..last of x[t - j] * coefficient[j], newest sample first.
// The caller splits a sum where x moves from the current buffer to the
// history, so neither loop tests an index.
inline double accumulate(double sum, const float *newest, const double *coefficientsByAge, int count)
{
    for (int j = 0; j < count; ++j)
        sum += static_cast<double>(newest[-j]) * coefficientsByAge[j];
    return sum;
}

} // namespace

namespace {

constexpr int kMaxPhaseTaps = 139;

// The sums read the tables from their end towards their start, newest
// sample first; reversed copies let both run forwards with the samples.
struct PhaseTables {
    double oddByAge[kMaxPhaseTaps];
    double evenByAge[kMaxPhaseTaps];
};

PhaseTables phaseTablesByAge(const double *table, int phaseTaps)
{
    PhaseTables byAge;
    for (int j = 0; j < phaseTaps; ++j) {
        byAge.oddByAge[j] = table[phaseTaps - 1 - j];
        byAge.evenByAge[j] = table[2 * phaseTaps - 1 - j];
    }
    return byAge;
}

// Output pair t, reading the history where the taps reach back past the hop.
inline void interpolatePair(float *dest, const float *src, const float *historyEnd, int t,
                            const PhaseTables &byAge, int phaseTaps)
{
    const int fromSource = t + 1 < phaseTaps ? t + 1 : phaseTaps;
    const int fromHistory = phaseTaps - fromSource;
    double odd = accumulate(0.0, src + t, byAge.oddByAge, fromSource);
    double even = accumulate(0.0, src + t, byAge.evenByAge, fromSource);
    odd = accumulate(odd, historyEnd, byAge.oddByAge + fromSource, fromHistory);
    even = accumulate(even, historyEnd, byAge.evenByAge + fromSource, fromHistory);
    dest[2 * t + 1] = static_cast<float>(odd);
    dest[2 * t] = static_cast<float>(even);
}

// Four outputs at a time from t on, for as long as all their taps lie in
// the current hop: each keeps its own sum in the same order as
// interpolatePair, so the lanes only add independent work. Returns the
// first output not written.
int interpolateFourAtATime(float *dest, const float *src, int n, int t, const PhaseTables &byAge,
                           int phaseTaps)
{
    constexpr int lanes = 4;
    for (; t + lanes <= n; t += lanes) {
        double odd[lanes] = {}, even[lanes] = {};
        for (int j = 0; j < phaseTaps; ++j) {
            const double oddTap = byAge.oddByAge[j], evenTap = byAge.evenByAge[j];
            for (int l = 0; l < lanes; ++l) {
                const double x = src[t + l - j];
                odd[l] += x * oddTap;
                even[l] += x * evenTap;
            }
        }
        for (int l = 0; l < lanes; ++l) {
            dest[2 * (t + l) + 1] = static_cast<float>(odd[l]);
            dest[2 * (t + l)] = static_cast<float>(even[l]);
        }
    }
    return t;
}

// The vector sets' lanes, or the four-at-a-time loop for the scalar set.
int interpolateMany(float *dest, const float *src, int n, int t, const PhaseTables &byAge, int phaseTaps,
                    KernelSet set)
{
    if (const VectorKernels *vectors = vectorKernels(set))
        t = vectors->interpolate(dest, src, n, t, byAge.oddByAge, byAge.evenByAge, phaseTaps);
    return interpolateFourAtATime(dest, src, n, t, byAge, phaseTaps);
}

void interpolatePairs(float *dest, const float *src, int from, int to, const double *table,
                      const float *history, int tableLength, KernelSet set)
{
    const int phaseTaps = tableLength / 2;
    assert(phaseTaps <= kMaxPhaseTaps);
    const PhaseTables byAge = phaseTablesByAge(table, phaseTaps);
    // Without a history array the samples before src are the history, and
    // every output can take the vector lanes.
    const float *historyEnd = history != nullptr ? history + phaseTaps - 2 : src - 1; // x[-1]
    int t = from;
    if (set != KernelSet::plain) {
        for (; history != nullptr && t < phaseTaps - 1 && t < to; ++t)
            interpolatePair(dest, src, historyEnd, t, byAge, phaseTaps);
        t = interpolateMany(dest, src, to, t, byAge, phaseTaps, set);
    }
    for (; t < to; ++t)
        interpolatePair(dest, src, historyEnd, t, byAge, phaseTaps);
}

void interpolate(float *dest, int outCount, const float *src, int n, const double *table,
                 float *history, int tableLength, KernelSet set)
{
    assert(outCount == 2 * n && n >= tableLength / 2 - 1);
    (void)outCount;
    interpolatePairs(dest, src, 0, n, table, history, tableLength, set);
    keepInterpolatorHistory(history, src, n, tableLength);
}

} // namespace

void interpolate2xPairs(float *dest, const float *src, int from, int to, const double *table,
                        const float *history, int tableLength, KernelSet set)
{
    interpolatePairs(dest, src, from, to, table, history, tableLength, set);
}

void keepInterpolatorHistory(float *history, const float *src, int n, int tableLength)
{
    const int phaseTaps = tableLength / 2;
    std::memcpy(history, src + n - (phaseTaps - 1), sizeof(float) * (phaseTaps - 1));
}

void interpolate2xReference(float *dest, int outCount, const float *src, int n, const double *table,
                            float *history, int tableLength)
{
    interpolate(dest, outCount, src, n, table, history, tableLength, KernelSet::plain);
}

void interpolate2x(float *dest, int outCount, const float *src, int n, const double *table,
                   float *history, int tableLength, KernelSet set)
{
    interpolate(dest, outCount, src, n, table, history, tableLength, set);
}

void decimate2x(float *dest, const float *src, int outCount, float *history, const double *table,
                int taps, KernelSet set)
{
    double byAge[22];
    for (int k = 0; k < taps; ++k)
        byAge[k] = table[taps - 1 - k];
    const float *historyEnd = history + taps - 1; // y[-1]
    // From output firstInside on every tap lies in the current buffer.
    const int firstInside = taps / 2;
    int vectorFrom = outCount, vectorTo = outCount;
    const VectorKernels *vectors = vectorKernels(set);
    if (vectors != nullptr && firstInside < outCount) {
        vectorFrom = firstInside;
        vectorTo = vectors->decimate(dest, src, outCount, vectorFrom, byAge, taps);
    }
    for (int i = 0; i < outCount; ++i) {
        if (i == vectorFrom)
            i = vectorTo;
        if (i >= outCount)
            break;
        const int newest = 2 * i + 1;
        const int fromSource = newest + 1 < taps ? newest + 1 : taps;
        double sum = accumulate(0.0, src + newest, byAge, fromSource);
        sum = accumulate(sum, historyEnd, byAge + fromSource, taps - fromSource);
        dest[i] = static_cast<float>(sum);
    }
    std::memcpy(history, src + 2 * outCount - taps, sizeof(float) * taps);
}

} // namespace lintaq
