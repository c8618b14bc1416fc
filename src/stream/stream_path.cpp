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
#include "stream/stream_path.h"
#include "stream/resample.h"
#include "stream/resample_tables.h"

namespace lintaq {

namespace {

enum class StreamPath {
    hostRate,       // frames at the host rate, 74-sample ring
    doubleRateRing, // 45000..63999 Hz: 156/20 filters and a 31-sample ring
    doubleRate      // below 45000 Hz: 278/22 filters, no ring
};

StreamPath choosePath(const PeqInstance &inst)
{
    if (inst.oversample == 0 || inst.sampleRate >= 64000)
        return StreamPath::hostRate;
    return inst.sampleRate >= 45000 ? StreamPath::doubleRateRing : StreamPath::doubleRate;
}

// Input enters the engine here. A NaN or infinity would stay in the
// filters' carried state for ever, so it is taken as silence instead.
void takeInput(float *dest, const float *samples, int count)
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

// Takes `count` samples in at the end of the hop being gathered and gives
// out as many finished samples through the ring; `missing` is the hop's
// count of samples still to come before this exchange.
void exchangeHostRate(PeqInstance &inst, const Block &block, int pos, int count, int missing)
{
    if (count == 0)
        return;
    const int frame = frameLength(inst);
    for (int ch = 0; ch < block.channels; ++ch) {
        float *samples = block.samples[ch] + pos;
        takeInput(inst.inFrame[ch] + frame - missing, samples, count);
        float *ready = inst.outAccum[ch] + kHop - missing;
        runDelayRing(ready, count, inst.delayRing[ch], inst.ringPos[ch], kRingHostRate);
        std::memcpy(samples, ready, sizeof(float) * count);
    }
}

void processHostRate(PeqInstance &inst, const Block &block, int count, KernelSet set)
{
    int pos = 0;
    int remaining = count;
    while (remaining >= inst.pending) {
        const int take = inst.pending;
        exchangeHostRate(inst, block, pos, take, take);
        for (int ch = 0; ch < block.channels; ++ch) {
            moveDown(inst.outAccum[ch], kHop, kHop);
            std::fill_n(inst.outAccum[ch] + kHop, kHop, 0.0f);
        }
        pos += take;
        runFrame(inst, block, false, set);
        for (int ch = 0; ch < block.channels; ++ch)
            moveDown(inst.inFrame[ch], kHop, frameExtent(inst));
        remaining -= take;
        inst.pending = kHop;
    }
    exchangeHostRate(inst, block, pos, remaining, inst.pending);
    inst.pending -= remaining;
}

// Double-rate counterpart: the input is staged at the start of inFrame and
// the output hop waits, decimated, at the start of outAccum.
void exchangeDoubleRate(PeqInstance &inst, const Block &block, int pos, int count, int missing,
                        bool ring)
{
    if (count == 0)
        return;
    for (int ch = 0; ch < block.channels; ++ch) {
        takeInput(inst.inFrame[ch] + kHop - missing, block.samples[ch] + pos, count);
        if (ring)
            runDelayRing(inst.outAccum[ch] + kHop - missing, count, inst.delayRing[ch],
                         inst.ringPos[ch], kRingDoubleRate);
    }
    for (int ch = 0; ch < block.channels; ++ch)
        std::memcpy(block.samples[ch] + pos, inst.outAccum[ch] + kHop - missing, sizeof(float) * count);
}

void processDoubleRate(PeqInstance &inst, const Block &block, int count, StreamPath path, KernelSet set)
{
    const bool ring = path == StreamPath::doubleRateRing;
    const double *upTable = ring ? upTaps156 : upTaps278;
    const int upLength = ring ? 156 : 278;
    const double *downTable = ring ? downTaps20 : downTaps22;
    const int downLength = ring ? 20 : 22;
    const int extent2x = 2 * frameExtent(inst);
    int pos = 0;
    int remaining = count;
    while (remaining >= inst.pending2x) {
        const int take = inst.pending2x;
        exchangeDoubleRate(inst, block, pos, take, take, ring);
        for (int ch = 0; ch < block.channels; ++ch) {
            moveDown(inst.inFrame2x[ch], 2 * kHop, extent2x);
            interpolate2x(inst.inFrame2x[ch] + extent2x, 2 * kHop, inst.inFrame[ch], kHop, upTable,
                          inst.upHistory[ch], upLength, set);
        }
        runFrame(inst, block, true, set);
        for (int ch = 0; ch < block.channels; ++ch) {
            decimate2x(inst.outAccum[ch], inst.outAccum2x[ch], kHop, inst.downHistory[ch], downTable,
                       downLength, set);
            moveDown(inst.outAccum2x[ch], 2 * kHop, 2 * kHop);
            std::fill_n(inst.outAccum2x[ch] + 2 * kHop, 2 * kHop, 0.0f);
        }
        pos += take;
        remaining -= take;
        inst.pending2x = kHop;
    }
    exchangeDoubleRate(inst, block, pos, remaining, inst.pending2x, ring);
    inst.pending2x -= remaining;
}

} // namespace

void processBlock(PeqInstance &inst, const Block &block, int count)
{
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

} // namespace lintaq
