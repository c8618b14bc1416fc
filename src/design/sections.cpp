#include "design/sections.h"

#include <cmath>

namespace lintaq {

namespace {

struct PeakCoefficients {
    double d, c, h;
};

// One sample of the peak section. The correction e is rounded to float and
// added to the float input in float arithmetic, so V = 1 passes x exactly.
inline float peakStep(float in, const PeakCoefficients &k, double &s0, double &s1)
{
    const double x = in;
    const double u = x + k.c * s1;
    const double v = u - k.d * s0;
    const double a = s1 - k.c * u;
    const float e = static_cast<float>(k.h * (x - a));
    s1 = k.d * v + s0;
    s0 = v;
    return in + e;
}

struct BiquadCoefficients {
    double fb1, fb2, ff0, ff1, ff2;
};

inline float biquadStep(float in, const BiquadCoefficients &k, double &w1, double &w2)
{
    const double w = (k.fb2 * w2 + k.fb1 * w1) + static_cast<double>(in);
    const double y = (k.ff0 * w + k.ff1 * w1) + k.ff2 * w2;
    w2 = w1;
    w1 = w;
    return static_cast<float>(y);
}

inline double flushTiny(double s)
{
    return std::fabs(s) < kPeakFlushLimit ? 0.0 : s;
}

void runBiquad(float *samples, int count, Direction direction, const BiquadCoefficients &k,
               double &w1, double &w2)
{
    double c1 = w1, c2 = w2;
    if (direction == Direction::forward) {
        for (int i = 0; i < count; ++i)
            samples[i] = biquadStep(samples[i], k, c1, c2);
    } else {
        for (int i = count - 1; i >= 0; --i)
            samples[i] = biquadStep(samples[i], k, c1, c2);
    }
    w1 = c1;
    w2 = c2;
}

} // namespace

void runPeakSection(float *samples, int count, Direction direction, double d, double c, double v,
                    double &s0, double &s1)
{
    const PeakCoefficients k{d, c, (v - 1.0) * 0.5};
    double a0 = s0, a1 = s1;
    if (direction == Direction::forward) {
        for (int i = 0; i < count; ++i)
            samples[i] = peakStep(samples[i], k, a0, a1);
    } else {
        for (int i = count - 1; i >= 0; --i)
            samples[i] = peakStep(samples[i], k, a0, a1);
    }
    s0 = a0;
    s1 = a1;
}

void runPeakFrame(float *frame, const PeqBandState &band, double *state, int headLen, int tailLen,
                  Direction direction)
{
    const double d = band.negCosW0, c = band.fb1, v = band.peakGain;
    if (direction == Direction::backward) {
        double s0 = 0.0, s1 = 0.0;
        runPeakSection(frame, headLen + tailLen, Direction::backward, d, c, v, s0, s1);
        return;
    }
    double s0 = state[0], s1 = state[1];
    runPeakSection(frame, headLen, Direction::forward, d, c, v, s0, s1);
    s0 = flushTiny(s0);
    s1 = flushTiny(s1);
    state[0] = s0;
    state[1] = s1;
    runPeakSection(frame + headLen, tailLen, Direction::forward, d, c, v, s0, s1);
}

void runBiquadFrame(float *frame, const PeqBandState &band, double *state, int headLen, int tailLen,
                    Direction direction)
{
    const BiquadCoefficients k{band.fb1, band.fb2, band.ff0, band.ff1, band.ff2};
    if (direction == Direction::backward) {
        double w1 = 0.0, w2 = 0.0;
        runBiquad(frame, headLen + tailLen, Direction::backward, k, w1, w2);
        return;
    }
    double w1 = state[0], w2 = state[1];
    runBiquad(frame, headLen, Direction::forward, k, w1, w2);
    state[0] = w1;
    state[1] = w2;
    runBiquad(frame + headLen, tailLen, Direction::forward, k, w1, w2);
}

} // namespace lintaq
