#include "stream/frame_chain.h"

#include "design/fade_window.h"
#include "stream/noise.h"

namespace lintaq {

namespace {

// The whole job at once, then the crossfade into the accumulators.
void filterFrame(const float *const *source, float *const *accum, float *const *work, const float *window,
                 PeqBandState *bands, int headLen, int tailLen, uint32_t noise, const FrameKernels &kernels,
                 int channels)
{
    const int frame = headLen + tailLen;
    FrameJob job;
    FrameSetup setup{};
    for (int c = 0; c < channels; ++c) {
        setup.source[c] = source[c];
        setup.work[c] = work[c];
    }
    setup.sourceSplit = frame;
    setup.channels = channels;
    setup.coefficients = bands;
    setup.carried = bands;
    setup.headLen = headLen;
    setup.tailLen = tailLen;
    setup.noise = noise;
    setup.noiseStart = noise != 0 ? reserveNoise(static_cast<uint32_t>(frame)) : 0u;
    setup.kernels = kernels;
    startFrameJob(job, setup);
    finishFrameJob(job);
    for (int c = 0; c < channels; ++c)
        addWindowed(accum[c], work[c], window, headLen);
}

} // namespace

void filterFrameMono(const float *input, float *accum, float *work, const float *window,
                     PeqBandState *bands, int headLen, int tailLen, uint32_t noise, const FrameKernels &kernels)
{
    filterFrame(&input, &accum, &work, window, bands, headLen, tailLen, noise, kernels, 1);
}

void filterFrameStereo(const float *srcL, const float *srcR, float *accL, float *accR, float *workL,
                       float *workR, const float *window, PeqBandState *bands, int headLen,
                       int tailLen, uint32_t noise, const FrameKernels &kernels)
{
    const float *source[2] = {srcL, srcR};
    float *accum[2] = {accL, accR};
    float *work[2] = {workL, workR};
    filterFrame(source, accum, work, window, bands, headLen, tailLen, noise, kernels, 2);
}

} // namespace lintaq
