#include "design/design_bands.h"

#include <algorithm>
#include <cmath>

#include "design/band_state.h"
#include "maths/elementary.h"

namespace lintaq {

namespace {

constexpr double kPi = maths::kPi;
constexpr double kMaxBandwidthAngle = 3.1101767270538954; // 0.99 pi: keeps tan finite

// Each band runs twice (forwards, then backwards), so every pass carries
// half the decibel gain; the formulas below are written for one pass.

void designPeak(PeqBandState &band, double f, double g, double q, double fd)
{
    const double w0 = (2.0 * kPi / fd) * f;
    const double d = -maths::cos(w0);
    const double bandwidth = std::min(kMaxBandwidthAngle, w0 / q);
    const double t = maths::tan(bandwidth * 0.5);
    const double v = maths::exp10(g * 0.05 * 0.5);
    // Cuts use k = V so that a cut is the exact inverse of the matching boost.
    const double k = std::min(1.0, v);
    band.negCosW0 = d;
    band.peakGain = v;
    band.fb1 = (t - k) / (t + k);
}

struct ShelfTerms {
    double a, cw, s;
};

ShelfTerms shelfTerms(double f, double g, double q, double fd)
{
    const double w0 = (f * 2.0 * kPi) / fd;
    double sw, cw;
    maths::sinCos(w0, sw, cw); // one reduction for both
    const double a = maths::exp10(g * 0.025 * 0.5);
    return {a, cw, (std::sqrt(a) / q) * sw};
}

void designLowShelf(PeqBandState &band, double f, double g, double q, double fd)
{
    const auto [a, cw, s] = shelfTerms(f, g, q, fd);
    const double a0 = (a + 1) + (a - 1) * cw + s;
    band.ff0 = a * ((a + 1) - (a - 1) * cw + s) / a0;
    band.ff1 = 2 * a * ((a - 1) - (a + 1) * cw) / a0;
    band.ff2 = a * ((a + 1) - (a - 1) * cw - s) / a0;
    band.fb1 = 2 * ((a - 1) + (a + 1) * cw) / a0;
    band.fb2 = -((a + 1) + (a - 1) * cw - s) / a0;
}

void designHighShelf(PeqBandState &band, double f, double g, double q, double fd)
{
    const auto [a, cw, s] = shelfTerms(f, g, q, fd);
    const double a0 = (a + 1) - (a - 1) * cw + s;
    band.ff0 = a * ((a + 1) + (a - 1) * cw + s) / a0;
    band.ff1 = -2 * a * ((a - 1) + (a + 1) * cw) / a0;
    band.ff2 = a * ((a + 1) + (a - 1) * cw - s) / a0;
    band.fb1 = -2 * ((a - 1) - (a + 1) * cw) / a0;
    band.fb2 = -((a + 1) - (a - 1) * cw - s) / a0;
}

// Bilinear second-order high- or low-pass with the corner pre-warped.
void designPass(PeqBandState &band, bool lowPass, double f, double q, double fd)
{
    const double t = maths::tan((f * kPi) / fd);
    const double t2 = t * t;
    const double n = 1 / ((t / q + 1) + t2);
    band.fb1 = -2 * (t2 - 1) * n;
    band.fb2 = -(1 - t / q + t2) * n;
    if (lowPass) {
        band.ff0 = t2 * n;
        band.ff1 = 2 * t2 * n;
        band.ff2 = t2 * n;
    } else {
        band.ff0 = n;
        band.ff1 = -2 * n;
        band.ff2 = n;
    }
}

bool finiteCoefficients(const PeqBandState &band)
{
    if (band.bandType == 0)
        return std::isfinite(band.fb1) && std::isfinite(band.negCosW0) && std::isfinite(band.peakGain);
    return std::isfinite(band.fb1) && std::isfinite(band.fb2) && std::isfinite(band.ff0) &&
           std::isfinite(band.ff1) && std::isfinite(band.ff2);
}

} // namespace

float designRate(int sampleRate, unsigned oversample)
{
    float rate = static_cast<float>(sampleRate);
    if (sampleRate < 64000 && oversample != 0)
        rate = rate * 2.0f;
    return rate;
}

double bypassLimit(int sampleRate)
{
    return static_cast<double>(sampleRate) * 0.453515;
}

bool designBand(PeqBandState &band, unsigned type, float freq, float gain, float q, float rate)
{
    band.bandType = type;
    const double f = freq, g = gain, qd = q, fd = rate;
    switch (type) {
    case 0: designPeak(band, f, g, qd, fd); break;
    case 1: designLowShelf(band, f, g, qd, fd); break;
    case 2: designHighShelf(band, f, g, qd, fd); break;
    case 3: designPass(band, false, f, qd, fd); break;
    case 4: designPass(band, true, f, qd, fd); break;
    default: return true; // an unknown type does nothing; there is nothing to design
    }
    return settingsUsable(type, freq, q) && finiteCoefficients(band);
}

bool settingsUsable(unsigned type, float freq, float q)
{
    return type > 4 || (freq > 0.0f && std::isfinite(freq) && q > 0.0f && std::isfinite(q));
}

} // namespace lintaq
