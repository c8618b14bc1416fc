// One sample of each kind of section, with its coefficients and cells in
// locals. The plain frame drivers and the interleaved cascade both step
// samples through these, so they cannot drift apart.
#pragma once

#include <cmath>

#include "design/band_state.h"

namespace lintaq {

// Carried peak state below this magnitude is flushed once per frame, so
// decaying state never reaches subnormal numbers.
inline constexpr double kPeakFlushLimit = 1e-10;

inline double flushTiny(double s)
{
    return std::fabs(s) < kPeakFlushLimit ? 0.0 : s; // NaN is left alone
}

// A carried state that overflowed would poison every later frame; it
// restarts from silence instead. Finite states pass unchanged.
inline double resetNonFinite(double s)
{
    return std::isfinite(s) ? s : 0.0;
}

// Allpass-based peak: y = x + h*(x - A(z)x), h = (V-1)/2.
struct PeakKernel {
    double d, c, h;
    double s0, s1;

    PeakKernel(double negCosW0, double allpass, double gain, double state0, double state1)
        : d(negCosW0), c(allpass), h((gain - 1.0) * 0.5), s0(state0), s1(state1)
    {
    }
    explicit PeakKernel(const PeqBandState &band, double state0 = 0.0, double state1 = 0.0)
        : PeakKernel(band.negCosW0, band.fb1, band.peakGain, state0, state1)
    {
    }

    // The correction is rounded to float and added in float, so V = 1
    // passes the sample exactly.
    float step(float in)
    {
        const double x = in;
        const double u = x + c * s1;
        const double v = u - d * s0;
        const double a = s1 - c * u;
        const float e = static_cast<float>(h * (x - a));
        s1 = d * v + s0;
        s0 = v;
        return in + e;
    }

    void save(double *state)
    {
        s0 = resetNonFinite(flushTiny(s0));
        s1 = resetNonFinite(flushTiny(s1));
        state[0] = s0;
        state[1] = s1;
    }
};

// Direct-form-II biquad; feedback coefficients stored negated.
struct BiquadKernel {
    double fb1, fb2, ff0, ff1, ff2;
    double w1, w2;

    explicit BiquadKernel(const PeqBandState &band, double cell1 = 0.0, double cell2 = 0.0)
        : fb1(band.fb1), fb2(band.fb2), ff0(band.ff0), ff1(band.ff1), ff2(band.ff2), w1(cell1), w2(cell2)
    {
    }

    float step(float in)
    {
        const double w = (fb2 * w2 + fb1 * w1) + static_cast<double>(in);
        const double y = (ff0 * w + ff1 * w1) + ff2 * w2;
        w2 = w1;
        w1 = w;
        return static_cast<float>(y);
    }

    void save(double *state)
    {
        w1 = resetNonFinite(w1);
        w2 = resetNonFinite(w2);
        state[0] = w1;
        state[1] = w2;
    }
};

// What a forward frame driver stores at the end of the hop for a band whose
// state has reached `reached`: a peak's flushed, any non-finite value reset.
inline void storeCarriedState(const PeqBandState &band, const double *reached, double *stored)
{
    if (usesPeakSection(band))
        PeakKernel(band, reached[0], reached[1]).save(stored);
    else
        BiquadKernel(band, reached[0], reached[1]).save(stored);
}

} // namespace lintaq
