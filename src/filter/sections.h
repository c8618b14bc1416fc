// The two recursive sections and their frame drivers. Samples are floats
// filtered in place; coefficients, state and arithmetic are double, each
// output rounded to float.
#pragma once

#include "design/band_state.h"
#include "filter/section_kernels.h"

namespace lintaq {

enum class Direction { forward, backward };

// Forward: from the carried pair, store the (flushed) pair after headLen
// samples, continue to the frame end. Backward: all headLen + tailLen
// samples from the last, from zero state, storing nothing.
void runPeakFrame(float *frame, const PeqBandState &band, double *state, int headLen, int tailLen,
                  Direction direction);

// Direct-form-II biquad with the same frame shape; its state is stored unflushed.
void runBiquadFrame(float *frame, const PeqBandState &band, double *state, int headLen, int tailLen,
                    Direction direction);

// The band's own section, chosen by its type.
inline void runBandFrame(float *frame, const PeqBandState &band, double *state, int headLen,
                         int tailLen, Direction direction)
{
    if (usesPeakSection(band))
        runPeakFrame(frame, band, state, headLen, tailLen, direction);
    else
        runBiquadFrame(frame, band, state, headLen, tailLen, direction);
}

} // namespace lintaq
