// Parameter blocks, frequency grids and the hop-averaged response for the
// true response's tests and its benchmark.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "lintaq.h"
#include "true_response.h"

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

// The mean of the impulse responses with the impulse at `positions`
// evenly spaced places in the engine's hop, aligned on the impulse: what a
// steady tone meets. `each` receives every response measured.
inline lintaq_response::ImpulseResponse meanOverHop(const lintaq_response::TrueResponseRequest &req, int positions,
                                                  std::vector<lintaq_response::ImpulseResponse> &each)
{
    const std::atomic<bool> never{false};
    each.assign(static_cast<std::size_t>(positions), {});
    std::size_t before = 0, after = 0;
    for (int p = 0; p < positions; ++p) {
        lintaq_response::ImpulseResponse &ir = each[static_cast<std::size_t>(p)];
        lintaq_response::measureImpulseResponse(req, never, ir, p * lintaq_response::kEngineHop / positions);
        before = std::max(before, ir.centre);
        after = std::max(after, ir.samples.size() - ir.centre);
    }
    lintaq_response::ImpulseResponse mean;
    mean.samples.assign(before + after, 0.0);
    mean.centre = before;
    mean.sampleRate = req.params.sampleRate;
    for (const auto &ir : each)
        for (std::size_t i = 0; i < ir.samples.size(); ++i)
            mean.samples[before - ir.centre + i] += ir.samples[i] / positions;
    return mean;
}

}  // namespace true_response_test
