#include "stream/frame_chain.h"

#include <cstring>
#include <initializer_list>

#include "design/fade_window.h"
#include "design/sections.h"
#include "stream/band_cascade.h"
#include "stream/band_wavefront.h"
#include "stream/forward_pass.h"
#include "stream/noise.h"

namespace lintaq {

namespace {

// Copies `count` samples, adding the frame noise when it is on. The stereo
// chain passes both channels so that each index gets the same noise value.
void fillWork(float *workL, const float *srcL, float *workR, const float *srcR, int count,
              uint32_t noise, KernelSet set)
{
    if (noise == 0) {
        std::memcpy(workL, srcL, sizeof(float) * count);
        if (workR != nullptr)
            std::memcpy(workR, srcR, sizeof(float) * count);
        return;
    }
    // Past the plain walk: the sequence is dealt out to eight lanes, each
    // stepping eight states at a time, so the loop runs in vector
    // registers; every index still gets the plain walk's value.
    constexpr int kLanes = 8;
    uint32_t x = reserveNoise(static_cast<uint32_t>(count));
    if (set == KernelSet::plain) {
        for (int i = 0; i < count; ++i) {
            x = nextNoiseState(x);
            const float e = noiseValue(x);
            workL[i] = srcL[i] + e;
            if (workR != nullptr)
                workR[i] = srcR[i] + e;
        }
        return;
    }
    uint32_t lane[kLanes];
    for (int l = 0; l < kLanes; ++l)
        lane[l] = x = nextNoiseState(x);
    const uint32_t increment = jumpNoiseState(0u, kLanes);
    const uint32_t multiplier = jumpNoiseState(1u, kLanes) - increment;
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        for (int l = 0; l < kLanes; ++l) {
            const float e = noiseValue(lane[l]);
            workL[i + l] = srcL[i + l] + e;
            if (workR != nullptr)
                workR[i + l] = srcR[i + l] + e;
            lane[l] = lane[l] * multiplier + increment;
        }
    }
    x = lane[0];
    for (; i < count; ++i) {
        const float e = noiseValue(x);
        workL[i] = srcL[i] + e;
        if (workR != nullptr)
            workR[i] = srcR[i] + e;
        x = nextNoiseState(x);
    }
}

// Which signals of a stereo stage a band acts on. In the left/right stage
// "first" is left and "second" right; in the mid/side stage, mid and side.
struct Route {
    bool first;
    bool second;
};

Route leftRightRoute(uint32_t enable)
{
    return {enable == 1 || enable == 2, enable == 1 || enable == 3};
}

Route midSideRoute(uint32_t enable)
{
    return {enable == 4, enable == 5};
}

// Every band of the stage forwards, then every band backwards. The two
// signals of a stage never mix: the plain and scalar sets run each as its
// own cascade, the vector sets run both in one wavefront.
void runCascades(CascadeChain *chains, int chainCount, int headLen, int tailLen, Direction direction,
                 KernelSet set)
{
    if (set >= KernelSet::sse2) {
        runWavefront(chains, chainCount, headLen, tailLen, direction, set);
        return;
    }
    const auto run = set == KernelSet::plain ? runCascadeReference : runCascade;
    for (int ch = 0; ch < chainCount; ++ch)
        run(chains[ch].samples, chains[ch].bands, chains[ch].count, headLen, tailLen, direction);
}

// The first stage of a frame (`memory` set) may reuse the previous frame's
// forward work; the mid/side stage's input depends on the whole frame.
template <typename RouteOf>
void runStage(float *first, float *second, PeqBandState *bands, int headLen, int tailLen,
              RouteOf routeOf, const FrameKernels &kernels, ForwardMemory *memory, uint32_t noise,
              int channels)
{
    CascadeBand firstBands[kBandCount], secondBands[kBandCount];
    CascadeChain chains[2] = {{first, firstBands, 0}, {second, secondBands, 0}};
    for (int k = 0; k < kBandCount; ++k) {
        PeqBandState &band = bands[k];
        if (!bandTakesPart(band))
            continue;
        const Route route = routeOf(band.enable);
        if (route.first)
            firstBands[chains[0].count++] = {&band, band.fwdState};
        if (route.second)
            secondBands[chains[1].count++] = {&band, band.fwdState2};
    }
    // A signal without bands is left alone.
    int signal[2], chainCount = 0;
    for (int c = 0; c < 2; ++c)
        if (chains[c].count > 0) {
            signal[chainCount] = c;
            chains[chainCount++] = chains[c];
        }
    const bool vectors = kernels.set >= KernelSet::sse2;
    if (memory != nullptr && (!vectors || chainCount == 0))
        memory->valid = false;
    if (chainCount == 0)
        return;
    if (memory != nullptr && vectors)
        runFirstForward(chains, signal, chainCount, headLen, tailLen, noise, channels,
                        {kernels.set, memory, kernels.generation});
    else
        runCascades(chains, chainCount, headLen, tailLen, Direction::forward, kernels.set);
    runCascades(chains, chainCount, headLen, tailLen, Direction::backward, kernels.set);
}

} // namespace

void filterFrameMono(const float *input, float *accum, float *work, const float *window,
                     PeqBandState *bands, int headLen, int tailLen, uint32_t noise, const FrameKernels &kernels)
{
    const int frame = headLen + tailLen;
    fillWork(work, input, nullptr, nullptr, frame, noise, kernels.set);
    // Mono applies every running band, whatever its channel assignment.
    runStage(work, nullptr, bands, headLen, tailLen, [](uint32_t) { return Route{true, false}; }, kernels,
             kernels.memory, noise, 1);
    addWindowed(accum, work, window, headLen);
}

void filterFrameStereo(const float *srcL, const float *srcR, float *accL, float *accR, float *workL,
                       float *workR, const float *window, PeqBandState *bands, int headLen,
                       int tailLen, uint32_t noise, const FrameKernels &kernels)
{
    const int frame = headLen + tailLen;
    fillWork(workL, srcL, workR, srcR, frame, noise, kernels.set);
    runStage(workL, workR, bands, headLen, tailLen, leftRightRoute, kernels, kernels.memory, noise, 2);
    // Mid is the plain sum, not halved; the way back halves both.
    for (int i = 0; i < frame; ++i) {
        const float l = workL[i], r = workR[i];
        workL[i] = l + r;
        workR[i] = l - r;
    }
    runStage(workL, workR, bands, headLen, tailLen, midSideRoute, kernels, nullptr, noise, 2);
    for (int i = 0; i < frame; ++i) {
        const float m = workL[i], s = workR[i];
        workL[i] = (m + s) * 0.5f;
        workR[i] = (m - s) * 0.5f;
    }
    addWindowed(accL, workL, window, headLen);
    addWindowed(accR, workR, window, headLen);
}

} // namespace lintaq
