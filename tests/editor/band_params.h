// Parameter blocks and frequency grids for the true response's tests and
// its benchmark.
#pragma once

#include <cmath>
#include <vector>

#include "lintaq.h"

namespace true_response_test {

struct Band {
    unsigned type;
    float freq, gain, q;
    unsigned enable = LINTAQ_BOTH;
};

// The bands in the first slots, the rest off at the engine's start values.
inline PeqParams paramsOf(const std::vector<Band> &bands, int rate, bool oversample)
{
    PeqParams p{};
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.freq[k] = 1000.0f;
        p.q[k] = 0.7f;
    }
    for (std::size_t k = 0; k < bands.size(); ++k) {
        p.type[k] = bands[k].type;
        p.freq[k] = bands[k].freq;
        p.gain[k] = bands[k].gain;
        p.q[k] = bands[k].q;
        p.enable[k] = bands[k].enable;
    }
    p.sampleRate = rate;
    p.oversample = oversample ? 1 : 0;
    return p;
}

// The points InitPeqGraph evaluates at (fmin times a single-precision
// ratio, multiplied up), so measured and ideal curves share abscissae.
inline std::vector<float> graphFrequencies(int n, float fmin, float fmax)
{
    const float step = static_cast<float>(std::log(double(fmax)) - std::log(double(fmin))) / float(n - 1);
    const float ratio = static_cast<float>(std::exp(double(step)));
    std::vector<float> f(static_cast<std::size_t>(n));
    float x = fmin;
    for (int i = 0; i < n; ++i, x *= ratio) f[static_cast<std::size_t>(i)] = x;
    return f;
}

}  // namespace true_response_test
