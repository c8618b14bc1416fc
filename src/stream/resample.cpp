#include "stream/resample.h"

#include <cassert>
#include <cstring>

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

void interpolate2x(float *dest, int outCount, const float *src, int n, const double *table,
                   float *history, int tableLength)
{
    const int phaseTaps = tableLength / 2;
    assert(outCount == 2 * n && n >= phaseTaps - 1);
    (void)outCount;
    // The sums read the tables from their end towards their start, newest
    // sample first; reversed copies let both run forwards with the samples.
    double oddByAge[139], evenByAge[139];
    for (int j = 0; j < phaseTaps; ++j) {
        oddByAge[j] = table[phaseTaps - 1 - j];
        evenByAge[j] = table[tableLength - 1 - j];
    }
    const float *historyEnd = history + phaseTaps - 2; // x[-1]
    for (int t = 0; t < n; ++t) {
        const int fromSource = t + 1 < phaseTaps ? t + 1 : phaseTaps;
        const int fromHistory = phaseTaps - fromSource;
        double odd = accumulate(0.0, src + t, oddByAge, fromSource);
        double even = accumulate(0.0, src + t, evenByAge, fromSource);
        odd = accumulate(odd, historyEnd, oddByAge + fromSource, fromHistory);
        even = accumulate(even, historyEnd, evenByAge + fromSource, fromHistory);
        dest[2 * t + 1] = static_cast<float>(odd);
        dest[2 * t] = static_cast<float>(even);
    }
    std::memcpy(history, src + n - (phaseTaps - 1), sizeof(float) * (phaseTaps - 1));
}

void decimate2x(float *dest, const float *src, int outCount, float *history, const double *table,
                int taps)
{
    double byAge[22];
    for (int k = 0; k < taps; ++k)
        byAge[k] = table[taps - 1 - k];
    const float *historyEnd = history + taps - 1; // y[-1]
    for (int i = 0; i < outCount; ++i) {
        const int newest = 2 * i + 1;
        const int fromSource = newest + 1 < taps ? newest + 1 : taps;
        double sum = accumulate(0.0, src + newest, byAge, fromSource);
        sum = accumulate(sum, historyEnd, byAge + fromSource, taps - fromSource);
        dest[i] = static_cast<float>(sum);
    }
    std::memcpy(history, src + 2 * outCount - taps, sizeof(float) * taps);
}

} // namespace lintaq
