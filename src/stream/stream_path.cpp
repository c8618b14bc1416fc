// The stream paths: turn a host block of any length into hops, run one
// frame per completed hop and give out the finished output through the
// compensation delay. Mono and stereo share all of it; only the frame
// chain differs.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "design/filtering_rate.h"
#include "stream/delay_ring.h"
#include "stream/frame_chain.h"
#include "stream/path_steps.h"
#include "stream/stream_path.h"
#include "stream/resample.h"
#include "stream/resample_tables.h"
#include "stream/stream_record.h"

namespace lintaq {

StreamPath choosePath(const StreamRecord &stream)
{
    if (!filtersAtDoubleRate(stream.sampleRate, stream.oversample))
        return StreamPath::hostRate;
    return stream.sampleRate >= kShortFiltersFrom ? StreamPath::doubleRateRing : StreamPath::doubleRate;
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

void runFrame(StreamRecord &stream, const Block &block, bool doubleRate, KernelSet set)
{
    const int headLen = doubleRate ? 2 * kHop : kHop;
    const int tailLen = doubleRate ? 2 * frameExtent(stream) : frameExtent(stream);
    float *const *source = doubleRate ? stream.inFrame2x : stream.inFrame;
    float *const *accum = doubleRate ? stream.outAccum2x : stream.outAccum;
    const float *window = doubleRate ? stream.windowFull : stream.windowHalf;
    const FrameKernels kernels{set, &stream.forward, stream.designGeneration};
    if (block.channels == 1)
        filterFrameMono(source[0], accum[0], stream.workFrame[0], window, stream.bands, headLen,
                        tailLen, stream.noise, kernels);
    else
        filterFrameStereo(source[0], source[1], accum[0], accum[1], stream.workFrame[0],
                          stream.workFrame[1], window, stream.bands, headLen, tailLen, stream.noise, kernels);
}

void processHostRate(StreamRecord &stream, const Block &block, int count, KernelSet set)
{
    int pos = 0;
    int remaining = count;
    while (remaining >= stream.pending) {
        const int take = stream.pending;
        takeInput(stream, block, pos, take, take, StreamPath::hostRate);
        giveOutput(stream, block, pos, take, take, StreamPath::hostRate);
        moveAccumulatorDown(stream, block.channels);
        pos += take;
        runFrame(stream, block, false, set);
        endInputHopHostRate(stream, block.channels);
        remaining -= take;
        stream.pending = kHop;
    }
    takeInput(stream, block, pos, remaining, stream.pending, StreamPath::hostRate);
    giveOutput(stream, block, pos, remaining, stream.pending, StreamPath::hostRate);
    stream.pending -= remaining;
}

// Double-rate counterpart: the input is staged at the start of inFrame and
// the output hop waits, decimated, at the start of outAccum.
void processDoubleRate(StreamRecord &stream, const Block &block, int count, StreamPath path, KernelSet set)
{
    int pos = 0;
    int remaining = count;
    while (remaining >= stream.pending2x) {
        const int take = stream.pending2x;
        takeInput(stream, block, pos, take, take, path);
        giveOutput(stream, block, pos, take, take, path);
        endInputHopDoubleRate(stream, block.channels, path, set);
        runFrame(stream, block, true, set);
        endOutputHopDoubleRate(stream, block.channels, path, set);
        pos += take;
        remaining -= take;
        stream.pending2x = kHop;
    }
    takeInput(stream, block, pos, remaining, stream.pending2x, path);
    giveOutput(stream, block, pos, remaining, stream.pending2x, path);
    stream.pending2x -= remaining;
}

} // namespace

void processBlock(StreamRecord &stream, const Block &block, int count)
{
    if (stream.smooth != nullptr) {
        processBlockSmooth(stream, block, count);
        return;
    }
    const StreamPath path = choosePath(stream);
    const KernelSet set = activeKernelSet();
    count = std::max(count, 0);
    // The frames a path builds are only continuous while it stays in use.
    if (static_cast<int>(path) != stream.forward.path)
        stream.forward.valid = false;
    stream.forward.path = static_cast<int>(path);
    if (path == StreamPath::hostRate)
        processHostRate(stream, block, count, set);
    else
        processDoubleRate(stream, block, count, path, set);
}

void takeInput(StreamRecord &stream, const Block &block, int pos, int count, int missing, StreamPath path)
{
    if (count == 0)
        return;
    // The host-rate path gathers at the end of its frame, the double-rate
    // path stages one hop at the start of inFrame.
    const int end = path == StreamPath::hostRate ? frameLength(stream) : kHop;
    for (int ch = 0; ch < block.channels; ++ch)
        takeFinite(stream.inFrame[ch] + end - missing, block.samples[ch] + pos, count);
}

void endInputHopHostRate(StreamRecord &stream, int channels)
{
    for (int ch = 0; ch < channels; ++ch)
        moveDown(stream.inFrame[ch], kHop, frameExtent(stream));
}

const double *upTable(StreamPath path)
{
    return path == StreamPath::doubleRateRing ? upTaps156 : upTaps278;
}

int upTableLength(StreamPath path)
{
    return path == StreamPath::doubleRateRing ? kShortUpTaps : kLongUpTaps;
}

void moveDoubleRateFrameDown(StreamRecord &stream, int channels)
{
    for (int ch = 0; ch < channels; ++ch)
        moveDown(stream.inFrame2x[ch], 2 * kHop, 2 * frameExtent(stream));
}

void endInputHopDoubleRate(StreamRecord &stream, int channels, StreamPath path, KernelSet set)
{
    const int extent2x = 2 * frameExtent(stream);
    for (int ch = 0; ch < channels; ++ch) {
        moveDown(stream.inFrame2x[ch], 2 * kHop, extent2x);
        interpolate2x(stream.inFrame2x[ch] + extent2x, 2 * kHop, stream.inFrame[ch], kHop, upTable(path),
                      stream.upHistory[ch], upTableLength(path), set);
    }
}

void giveOutput(StreamRecord &stream, const Block &block, int pos, int count, int missing, StreamPath path)
{
    if (count == 0)
        return;
    const int slots = path == StreamPath::hostRate ? kRingHostRate : kRingDoubleRate;
    for (int ch = 0; ch < block.channels; ++ch) {
        float *ready = stream.outAccum[ch] + kHop - missing;
        if (path != StreamPath::doubleRate)
            runDelayRing(ready, count, stream.delayRing[ch], stream.ringPos[ch], slots);
        if (block.samples[ch] != nullptr)
            std::memcpy(block.samples[ch] + pos, ready, sizeof(float) * count);
    }
}

void moveAccumulatorDown(StreamRecord &stream, int channels)
{
    for (int ch = 0; ch < channels; ++ch) {
        moveDown(stream.outAccum[ch], kHop, kHop);
        std::fill_n(stream.outAccum[ch] + kHop, kHop, 0.0f);
    }
}

void endOutputHopDoubleRate(StreamRecord &stream, int channels, StreamPath path, KernelSet set)
{
    const bool ring = path == StreamPath::doubleRateRing;
    for (int ch = 0; ch < channels; ++ch) {
        decimate2x(stream.outAccum[ch], stream.outAccum2x[ch], kHop, stream.downHistory[ch], ring ? downTaps20 : downTaps22,
                   ring ? kShortDownTaps : kLongDownTaps, set);
        moveDown(stream.outAccum2x[ch], 2 * kHop, 2 * kHop);
        std::fill_n(stream.outAccum2x[ch] + 2 * kHop, 2 * kHop, 0.0f);
    }
}

} // namespace lintaq
