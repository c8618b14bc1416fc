#include "design/design_bands.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "design/band_state.h"
#include "maths/elementary.h"

namespace lintaq {

namespace {

constexpr double kPi = maths::kPi;
constexpr double kMaxBandwidthAngle = 3.1101767270538954; // 0.99 pi: keeps tan finite

// Each band runs twice (forwards, then backwards), so every pass carries
// half the decibel gain; the formulas below are written for one pass.

// The terms that depend on the frequency, Q and rate alone: peak -cos(w0)
// and tan(bandwidth/2); shelves cos(w0) and sin(w0); passes tan(pi f/Fd).
struct Angles {
    double first, second;
};

Angles peakAngles(double f, double q, double fd)
{
    const double w0 = (2.0 * kPi / fd) * f;
    const double bandwidth = std::min(kMaxBandwidthAngle, w0 / q);
    return {-maths::cos(w0), maths::tan(bandwidth * 0.5)};
}

Angles shelfAngles(double f, double fd)
{
    const double w0 = (f * 2.0 * kPi) / fd;
    double sw, cw;
    maths::sinCos(w0, sw, cw); // one reduction for both
    return {cw, sw};
}

Angles passAngles(double f, double fd)
{
    return {maths::tan((f * kPi) / fd), 0.0};
}

Angles anglesFor(unsigned type, double f, double q, double fd)
{
    if (type == LINTAQ_PEAK)
        return peakAngles(f, q, fd);
    if (type == LINTAQ_LOW_SHELF || type == LINTAQ_HIGH_SHELF)
        return shelfAngles(f, fd);
    return passAngles(f, fd);
}

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// From the band's memo when the type, frequency, Q and rate are the ones
// it was designed with last (bit for bit); evaluated and kept otherwise.
Angles memoisedAngles(AngleMemo &memo, unsigned type, float freq, float q, float rate)
{
    if (memo.valid != 0 && memo.type == type && sameBits(memo.freq, freq) && sameBits(memo.q, q) &&
        sameBits(memo.rate, rate))
        return {memo.first, memo.second};
    const Angles a = anglesFor(type, freq, q, rate);
    memo = {1u, type, freq, q, rate, a.first, a.second};
    return a;
}

void designPeak(PeqBandState &band, Angles angles, double g)
{
    const double t = angles.second;
    const double v = maths::exp10(g * 0.05 * 0.5);
    // Cuts use k = V so that a cut is the exact inverse of the matching boost.
    const double k = std::min(1.0, v);
    band.negCosW0 = angles.first;
    band.peakGain = v;
    band.fb1 = (t - k) / (t + k);
}

struct ShelfTerms {
    double a, cw, s;
};

ShelfTerms shelfTerms(Angles angles, double g, double q)
{
    const double a = maths::exp10(g * 0.025 * 0.5);
    return {a, angles.first, (std::sqrt(a) / q) * angles.second};
}

void designLowShelf(PeqBandState &band, Angles angles, double g, double q)
{
    const auto [a, cw, s] = shelfTerms(angles, g, q);
    const double a0 = (a + 1) + (a - 1) * cw + s;
    band.ff0 = a * ((a + 1) - (a - 1) * cw + s) / a0;
    band.ff1 = 2 * a * ((a - 1) - (a + 1) * cw) / a0;
    band.ff2 = a * ((a + 1) - (a - 1) * cw - s) / a0;
    band.fb1 = 2 * ((a - 1) + (a + 1) * cw) / a0;
    band.fb2 = -((a + 1) + (a - 1) * cw - s) / a0;
}

void designHighShelf(PeqBandState &band, Angles angles, double g, double q)
{
    const auto [a, cw, s] = shelfTerms(angles, g, q);
    const double a0 = (a + 1) - (a - 1) * cw + s;
    band.ff0 = a * ((a + 1) + (a - 1) * cw + s) / a0;
    band.ff1 = -2 * a * ((a - 1) + (a + 1) * cw) / a0;
    band.ff2 = a * ((a + 1) + (a - 1) * cw - s) / a0;
    band.fb1 = -2 * ((a - 1) - (a + 1) * cw) / a0;
    band.fb2 = -((a + 1) - (a - 1) * cw - s) / a0;
}

// Bilinear second-order high- or low-pass with the corner pre-warped.
void designPass(PeqBandState &band, bool lowPass, Angles angles, double q)
{
    const double t = angles.first;
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
    if (usesPeakSection(band))
        return std::isfinite(band.fb1) && std::isfinite(band.negCosW0) && std::isfinite(band.peakGain);
    return std::isfinite(band.fb1) && std::isfinite(band.fb2) && std::isfinite(band.ff0) &&
           std::isfinite(band.ff1) && std::isfinite(band.ff2);
}

} // namespace

double bypassLimit(int sampleRate)
{
    return static_cast<double>(sampleRate) * 0.453515;
}

bool designBand(PeqBandState &band, unsigned type, float freq, float gain, float q, float rate)
{
    band.bandType = type;
    if (type > LINTAQ_LOW_PASS)
        return true; // an unknown type does nothing; there is nothing to design
    const Angles angles = memoisedAngles(band.angles, type, freq, q, rate);
    const double g = gain, qd = q;
    switch (type) {
    case LINTAQ_PEAK: designPeak(band, angles, g); break;
    case LINTAQ_LOW_SHELF: designLowShelf(band, angles, g, qd); break;
    case LINTAQ_HIGH_SHELF: designHighShelf(band, angles, g, qd); break;
    default: designPass(band, type == LINTAQ_LOW_PASS, angles, qd); break;
    }
    return settingsUsable(type, freq, q) && finiteCoefficients(band);
}

bool settingsUsable(unsigned type, float freq, float q)
{
    return type > LINTAQ_LOW_PASS || (freq > 0.0f && std::isfinite(freq) && q > 0.0f && std::isfinite(q));
}

} // namespace lintaq
