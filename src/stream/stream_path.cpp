// The stream paths: turn a host block of any length into hops, run one
// frame per completed hop and give out the finished output through the
// compensation delay. Mono and stereo share all of it; only the frame
// chain differs.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "interface/instance.h"
#include "stream/delay_ring.h"
#include "stream/frame_chain.h"
#include "stream/path_steps.h"
#include "stream/stream_path.h"
#include "stream/resample.h"
#include "stream/resample_tables.h"

namespace lintaq {

StreamPath choosePath(const PeqInstance &inst)
{
    if (inst.oversample == 0 || inst.sampleRate >= 64000)
        return StreamPath::hostRate;
    return inst.sampleRate >= 45000 ? StreamPath::doubleRateRing : StreamPath::doubleRate;
}

namespace {

// Input enters the engine here. A NaN or infinity would stay in the
// filters' carried state for ever, so it is taken as silence instead.
void takeFinite(float *dest, const float *samples, int count)
{
    for (int i = 0; i < count; ++i)
        dest[i] = std::isfinite(samples[i]) ? samples[i] : 0.0f;
}

void moveDown(float *buffer, int from, int count)
{
    std::memmove(buffer, buffer + from, sizeof(float) * count);
}

void runFrame(PeqInstance &inst, const Block &block, bool doubleRate, KernelSet set)
{
    const int headLen = doubleRate ? 2 * kHop : kHop;
    const int tailLen = doubleRate ? 2 * frameExtent(inst) : frameExtent(inst);
    float *const *source = doubleRate ? inst.inFrame2x : inst.inFrame;
    float *const *accum = doubleRate ? inst.outAccum2x : inst.outAccum;
    const float *window = doubleRate ? inst.windowFull : inst.windowHalf;
    const FrameKernels kernels{set, &inst.forward, inst.designGeneration};
    if (block.channels == 1)
        filterFrameMono(source[0], accum[0], inst.workFrame[0], window, inst.bands, headLen,
                        tailLen, inst.noise, kernels);
    else
        filterFrameStereo(source[0], source[1], accum[0], accum[1], inst.workFrame[0],
                          inst.workFrame[1], window, inst.bands, headLen, tailLen, inst.noise, kernels);
}

void processHostRate(PeqInstance &inst, const Block &block, int count, KernelSet set)
{
    int pos = 0;
    int remaining = count;
    while (remaining >= inst.pending) {
        const int take = inst.pending;
        takeInput(inst, block, pos, take, take, StreamPath::hostRate);
        giveOutput(inst, block, pos, take, take, StreamPath::hostRate);
        moveAccumulatorDown(inst, block.channels);
        pos += take;
        runFrame(inst, block, false, set);
        endInputHopHostRate(inst, block.channels);
        remaining -= take;
        inst.pending = kHop;
    }
    takeInput(inst, block, pos, remaining, inst.pending, StreamPath::hostRate);
    giveOutput(inst, block, pos, remaining, inst.pending, StreamPath::hostRate);
    inst.pending -= remaining;
}

// Double-rate counterpart: the input is staged at the start of inFrame and
// the output hop waits, decimated, at the start of outAccum.
void processDoubleRate(PeqInstance &inst, const Block &block, int count, StreamPath path, KernelSet set)
{
    int pos = 0;
    int remaining = count;
    while (remaining >= inst.pending2x) {
        const int take = inst.pending2x;
        takeInput(inst, block, pos, take, take, path);
        giveOutput(inst, block, pos, take, take, path);
        endInputHopDoubleRate(inst, block.channels, path, set);
        runFrame(inst, block, true, set);
        endOutputHopDoubleRate(inst, block.channels, path, set);
        pos += take;
        remaining -= take;
        inst.pending2x = kHop;
    }
    takeInput(inst, block, pos, remaining, inst.pending2x, path);
    giveOutput(inst, block, pos, remaining, inst.pending2x, path);
    inst.pending2x -= remaining;
}

} // namespace

void processBlock(PeqInstance &inst, const Block &block, int count)
{
    if (inst.smooth != nullptr) {
        processBlockSmooth(inst, block, count);
        return;
    }
    const StreamPath path = choosePath(inst);
    const KernelSet set = activeKernelSet();
    count = std::max(count, 0);
    // The frames a path builds are only continuous while it stays in use.
    if (static_cast<int>(path) != inst.forward.path)
        inst.forward.valid = false;
    inst.forward.path = static_cast<int>(path);
    if (path == StreamPath::hostRate)
        processHostRate(inst, block, count, set);
    else
        processDoubleRate(inst, block, count, path, set);
}

void takeInput(PeqInstance &inst, const Block &block, int pos, int count, int missing, StreamPath path)
{
    if (count == 0)
        return;
    // The host-rate path gathers at the end of its frame, the double-rate
    // path stages one hop at the start of inFrame.
    const int end = path == StreamPath::hostRate ? frameLength(inst) : kHop;
    for (int ch = 0; ch < block.channels; ++ch)
        takeFinite(inst.inFrame[ch] + end - missing, block.samples[ch] + pos, count);
}

void endInputHopHostRate(PeqInstance &inst, int channels)
{
    for (int ch = 0; ch < channels; ++ch)
        moveDown(inst.inFrame[ch], kHop, frameExtent(inst));
}

const double *upTable(StreamPath path)
{
    return path == StreamPath::doubleRateRing ? upTaps156 : upTaps278;
}

int upTableLength(StreamPath path)
{
    return path == StreamPath::doubleRateRing ? 156 : 278;
}

void moveDoubleRateFrameDown(PeqInstance &inst, int channels)
{
    for (int ch = 0; ch < channels; ++ch)
        moveDown(inst.inFrame2x[ch], 2 * kHop, 2 * frameExtent(inst));
}

void endInputHopDoubleRate(PeqInstance &inst, int channels, StreamPath path, KernelSet set)
{
    const int extent2x = 2 * frameExtent(inst);
    for (int ch = 0; ch < channels; ++ch) {
        moveDown(inst.inFrame2x[ch], 2 * kHop, extent2x);
        interpolate2x(inst.inFrame2x[ch] + extent2x, 2 * kHop, inst.inFrame[ch], kHop, upTable(path),
                      inst.upHistory[ch], upTableLength(path), set);
    }
}

void giveOutput(PeqInstance &inst, const Block &block, int pos, int count, int missing, StreamPath path)
{
    if (count == 0)
        return;
    const int slots = path == StreamPath::hostRate ? kRingHostRate : kRingDoubleRate;
    for (int ch = 0; ch < block.channels; ++ch) {
        float *ready = inst.outAccum[ch] + kHop - missing;
        if (path != StreamPath::doubleRate)
            runDelayRing(ready, count, inst.delayRing[ch], inst.ringPos[ch], slots);
        if (block.samples[ch] != nullptr)
            std::memcpy(block.samples[ch] + pos, ready, sizeof(float) * count);
    }
}

void moveAccumulatorDown(PeqInstance &inst, int channels)
{
    for (int ch = 0; ch < channels; ++ch) {
        moveDown(inst.outAccum[ch], kHop, kHop);
        std::fill_n(inst.outAccum[ch] + kHop, kHop, 0.0f);
    }
}

void endOutputHopDoubleRate(PeqInstance &inst, int channels, StreamPath path, KernelSet set)
{
    const bool ring = path == StreamPath::doubleRateRing;
    for (int ch = 0; ch < channels; ++ch) {
        decimate2x(inst.outAccum[ch], inst.outAccum2x[ch], kHop, inst.downHistory[ch], ring ? downTaps20 : downTaps22,
                   ring ? 20 : 22, set);
        moveDown(inst.outAccum2x[ch], 2 * kHop, 2 * kHop);
        std::fill_n(inst.outAccum2x[ch] + 2 * kHop, 2 * kHop, 0.0f);
    }
}

} // namespace lintaq
