#include "filter/sections.h"

#include "filter/section_kernels.h"

namespace lintaq {

namespace {

template <typename Kernel>
void runKernel(float *samples, int count, Direction direction, Kernel &kernel)
{
    if (direction == Direction::forward) {
        for (int i = 0; i < count; ++i)
            samples[i] = kernel.step(samples[i]);
    } else {
        for (int i = count - 1; i >= 0; --i)
            samples[i] = kernel.step(samples[i]);
    }
}

// Forward: from the carried state over the hop, save it for the next
// frame, then on to the end of the frame. Backward: from zero over it all.
template <typename Kernel>
void runFrame(float *frame, Kernel kernel, double *state, int headLen, int tailLen, Direction direction)
{
    if (direction == Direction::backward) {
        runKernel(frame, headLen + tailLen, Direction::backward, kernel);
        return;
    }
    runKernel(frame, headLen, Direction::forward, kernel);
    kernel.save(state);
    runKernel(frame + headLen, tailLen, Direction::forward, kernel);
}

} // namespace

void runPeakFrame(float *frame, const PeqBandState &band, double *state, int headLen, int tailLen,
                  Direction direction)
{
    const bool forward = direction == Direction::forward;
    runFrame(frame, PeakKernel(band, forward ? state[0] : 0.0, forward ? state[1] : 0.0), state,
             headLen, tailLen, direction);
}

void runBiquadFrame(float *frame, const PeqBandState &band, double *state, int headLen, int tailLen,
                    Direction direction)
{
    const bool forward = direction == Direction::forward;
    runFrame(frame, BiquadKernel(band, forward ? state[0] : 0.0, forward ? state[1] : 0.0), state,
             headLen, tailLen, direction);
}

} // namespace lintaq
