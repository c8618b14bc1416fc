// One band's magnitude response in dB on a grid, in closed form from the
// analog prototype of its type at the bilinear-warped frequencies.
#include <algorithm>
#include <cmath>

#include "graph/graph_points.h"
#include "lintaq.h"
#include "maths/elementary.h"

namespace lintaq {

namespace {

// The terms every type shares, all single precision: x is a point's
// squared warped frequency, y the band's, k = Q^2.
struct BandTerms {
    float y;
    float k;
    float oneMinus2k;
};

inline float denominator(const BandTerms &b, float x)
{
    return b.k * (x * x) + b.oneMinus2k * x * b.y + b.k * (b.y * b.y);
}

// Writes the power ratio of the band at each point into out.
void evaluatePowerRatios(unsigned type, float gain, const BandTerms &b, const float *warpedSq,
                         int count, float *out)
{
    const float y = b.y, k = b.k, y2 = y * y;
    switch (type) {
    case LINTAQ_PEAK: {
        const float p = static_cast<float>(maths::exp10(static_cast<double>(std::fabs(gain)) * 0.1));
        const float middle = p - 2.0f * k;
        for (int i = 0; i < count; ++i) {
            const float x = warpedSq[i];
            const float d = denominator(b, x);
            const float n = k * (x * x) + middle * x * y + k * y2;
            out[i] = gain > 0.0f ? n / d : d / n;
        }
        break;
    }
    case LINTAQ_LOW_SHELF:
    case LINTAQ_HIGH_SHELF: {
        const float a = static_cast<float>(maths::exp10(static_cast<double>(gain) * 0.025));
        const float kA2 = k * (a * a);
        const float middle = b.oneMinus2k * a;
        const bool low = type == LINTAQ_LOW_SHELF;
        for (int i = 0; i < count; ++i) {
            const float x = warpedSq[i];
            const float mid = middle * x * y;
            const float lowEnd = k * (x * x) + mid + kA2 * y2;
            const float highEnd = kA2 * (x * x) + mid + k * y2;
            const float n = low ? lowEnd : highEnd;
            const float m = low ? highEnd : lowEnd;
            out[i] = (a * a) * n / m;
        }
        break;
    }
    case LINTAQ_HIGH_PASS:
    case LINTAQ_LOW_PASS: {
        // Squared once more: the band runs forwards and then backwards.
        const bool high = type == LINTAQ_HIGH_PASS;
        for (int i = 0; i < count; ++i) {
            const float x = warpedSq[i];
            const float single = k * (high ? x * x : y2) / denominator(b, x);
            out[i] = single * single;
        }
        break;
    }
    default: std::fill_n(out, count, 1.0f); break;
    }
}

} // namespace

} // namespace lintaq

extern "C" void LintaqGraph(const PeqParams *params, const PeqGraph *graph, float *out, int band)
{
    if (params == nullptr || graph == nullptr || out == nullptr || band < 0 || band >= LINTAQ_BANDS)
        return;
    const int count = graph->pointCount;
    if (count <= 0)
        return;
    const float rate = lintaq::graphRate(*params);
    const float freq = params->freq[band];
    const float q = params->q[band];
    const unsigned type = params->type[band];
    // Bands that do nothing in processing draw a flat line.
    const bool gainUsed = type <= LINTAQ_HIGH_SHELF;
    const bool drawable = type <= LINTAQ_LOW_PASS && freq > 0.0f && std::isfinite(freq) && q > 0.0f &&
                          std::isfinite(q) && (!gainUsed || std::isfinite(params->gain[band])) &&
                          !(freq >= rate * 0.453515f);
    if (!drawable) {
        std::fill_n(out, count, 0.0f);
        return;
    }
    const float y = lintaq::warpedSquare(freq, 1.0f / rate, rate * lintaq::kInvPiSingle);
    const float k = q * q;
    lintaq::evaluatePowerRatios(type, params->gain[band], {y, k, 1.0f - 2.0f * k}, graph->warpedSq,
                                count, out);
    lintaq::ratiosToDecibels(out, count);
}
