// The even-load stream path. At every call the input side gathers hops and
// takes frames exactly as the plain path does; the output side gives out
// what the plain path gave out kSmoothDelay samples earlier, replaying the
// path and channel count each sample was taken with. A frame taken at clock
// T is needed by the output side at T + kSmoothDelay; until then it is
// filtered piece by piece, each call doing the share of its samples.
#include <algorithm>
#include <cstring>

#include "design/fade_window.h"
#include "stream/noise.h"
#include "stream/path_steps.h"
#include "stream/resample.h"
#include "stream/smooth_path.h"
#include "stream/stream_record.h"

namespace lintaq {

namespace {

constexpr int kHostCounter = 0;
constexpr int kDoubleCounter = 1;

uint8_t logEntry(StreamPath path, int channels)
{
    return static_cast<uint8_t>(static_cast<int>(path) | (channels - 1) << 2);
}

StreamPath loggedPath(uint8_t entry)
{
    return static_cast<StreamPath>(entry & 3);
}

int loggedChannels(uint8_t entry)
{
    return (entry >> 2) + 1;
}

void finishJob(SmoothPipeline &sp)
{
    if (sp.jobActive)
        finishFrameJob(sp.job);
    sp.jobActive = false;
}

// The work due by `now`: the job's share of the time gone by since it was
// taken; all of it once the output side needs the frame, or once the
// samples left are those whose call will also end the hop.
void advanceWork(SmoothPipeline &sp, int64_t now)
{
    if (!sp.jobActive)
        return;
    const int64_t elapsed = now - sp.jobTakenAt;
    if (elapsed >= sp.jobSpan) {
        finishJob(sp);
        return;
    }
    const int64_t rest = sp.job.costTotal - sp.jobCostAtTake;
    const int64_t target = sp.jobCostAtTake + int64_t(rest * elapsed / sp.jobSpan);
    if (target > sp.job.costDone && advanceFrameJob(sp.job, target - sp.job.costDone))
        sp.jobActive = false;
}

// What the call that ends a hop does besides frame work, in the jobs' cost
// units: moving the frames and accumulators down, decimating, adding the
// finished frame, filling the next frame's first hop.
int64_t hopEndCost(const StreamRecord &stream, bool doubleRate, int channels, int64_t firstHopFill)
{
    constexpr int64_t kDecimateCost = 16; // per host-rate output
    constexpr int64_t kMoveCost = 2;      // per double-rate sample moved: the frames are far from the caches
    const int64_t extent = frameExtent(stream);
    if (!doubleRate)
        return firstHopFill + channels * kCopyCost * (extent + 4L * kHop);
    return firstHopFill + channels * (kMoveCost * (2 * extent + 10L * kHop) + kDecimateCost * kHop);
}

// Takes the frame the input side has just completed on `counter`.
void takeFrame(StreamRecord &stream, SmoothPipeline &sp, int counter, int channels, KernelSet set)
{
    // The other counter's result may still wait in the work frame.
    HeldFrame &other = sp.held[1 - counter];
    if (other.present && other.result[0] == stream.workFrame[0]) {
        const int length = counter == kHostCounter ? 4 * kHop : 2 * kHop; // the other's 2 * headLen
        for (int ch = 0; ch < other.channels; ++ch) {
            std::memcpy(sp.parked[ch], stream.workFrame[ch], sizeof(float) * length);
            other.result[ch] = sp.parked[ch];
        }
    }
    // The plain path drops the previous frame's forward work at a change
    // of path; that change belongs before this frame.
    if (sp.pathChanged)
        stream.forward.valid = false;
    sp.pathChanged = false;
    std::memcpy(sp.coefficients, stream.bands, sizeof sp.coefficients);
    const bool doubleRate = counter == kDoubleCounter;
    const int headLen = doubleRate ? 2 * kHop : kHop;
    const int tailLen = doubleRate ? 2 * frameExtent(stream) : frameExtent(stream);
    FrameSetup setup{};
    for (int ch = 0; ch < channels; ++ch) {
        setup.source[ch] = doubleRate ? stream.inFrame2x[ch] : stream.inFrame[ch];
        setup.work[ch] = stream.workFrame[ch];
    }
    // A host-rate frame's first hop is filled now; the rest is read after
    // the input frame has moved down by that hop.
    setup.sourceSplit = doubleRate ? headLen + tailLen : kHop;
    setup.sourceShift = doubleRate ? 0 : kHop;
    setup.channels = channels;
    setup.coefficients = sp.coefficients;
    setup.carried = stream.bands;
    setup.headLen = headLen;
    setup.tailLen = tailLen;
    setup.noise = stream.noise;
    setup.noiseStart = stream.noise != 0 ? reserveNoise(static_cast<uint32_t>(headLen + tailLen)) : 0u;
    setup.kernels = {set, &stream.forward, stream.designGeneration};
    startFrameJob(sp.job, setup);
    if (!doubleRate)
        finishFrameStep(sp.job);
    sp.jobActive = !frameJobDone(sp.job);
    sp.jobCounter = counter;
    sp.jobTakenAt = sp.clock;
    // The call that ends the next hop carries that hop's buffer work as
    // well: the frame's rest is spread over the samples before it, leaving
    // that call the share its fixed work is of the whole.
    sp.jobCostAtTake = sp.job.costDone;
    const int64_t fixed = hopEndCost(stream, doubleRate, channels, sp.job.costDone);
    const int64_t rest = sp.job.costTotal - sp.job.costDone;
    sp.jobSpan = kSmoothDelay - int(kSmoothDelay * fixed / std::max<int64_t>(rest + fixed, 1));
    HeldFrame &held = sp.held[counter];
    held.present = true;
    held.channels = channels;
    held.result[0] = stream.workFrame[0];
    held.result[1] = stream.workFrame[1];
}

// The output side reaches the end of a hop on `counter`: the frame taken
// at the same point of the input side is added, as the plain path adds it.
void addHeldFrame(StreamRecord &stream, SmoothPipeline &sp, int counter, int channels)
{
    if (sp.jobActive && sp.jobCounter == counter)
        finishJob(sp);
    HeldFrame &held = sp.held[counter];
    if (!held.present)
        return;
    const bool doubleRate = counter == kDoubleCounter;
    for (int ch = 0; ch < std::min(channels, held.channels); ++ch)
        addWindowed(doubleRate ? stream.outAccum2x[ch] : stream.outAccum[ch], held.result[ch],
                    doubleRate ? stream.windowFull : stream.windowHalf, doubleRate ? 2 * kHop : kHop);
    held.present = false;
}

// `count` samples of the output side, replaying one logged entry.
void giveLogged(StreamRecord &stream, SmoothPipeline &sp, const Block &block, int pos, int count, uint8_t entry,
                KernelSet set)
{
    const StreamPath path = loggedPath(entry);
    const int channels = loggedChannels(entry);
    Block out{{nullptr, nullptr}, channels};
    for (int ch = 0; ch < channels && ch < block.channels; ++ch)
        out.samples[ch] = block.samples[ch];
    int32_t &pending = isDoubleRate(path) ? sp.outPending2x : sp.outPending;
    giveOutput(stream, out, pos, count, pending, path);
    // A channel the replayed call did not have gives silence.
    for (int ch = channels; ch < block.channels; ++ch)
        std::fill_n(block.samples[ch] + pos, count, 0.0f);
    pending -= count;
    if (pending > 0)
        return;
    pending = kHop;
    if (isDoubleRate(path)) {
        addHeldFrame(stream, sp, kDoubleCounter, channels);
        endOutputHopDoubleRate(stream, channels, path, set);
    } else {
        moveAccumulatorDown(stream, channels);
        addHeldFrame(stream, sp, kHostCounter, channels);
    }
}

// Interpolates the staged input of the double-rate hop up to `available`
// samples. The host-rate path moves the staging area when it completes a
// hop, and the two double-rate paths use different tables, so after either
// the hop is interpolated again from its start.
void interpolateStaged(StreamRecord &stream, SmoothPipeline &sp, int channels, StreamPath path, int available,
                       KernelSet set)
{
    if (sp.interpolatedFor != static_cast<int>(path))
        sp.interpolated[0] = sp.interpolated[1] = 0;
    sp.interpolatedFor = static_cast<int>(path);
    for (int ch = 0; ch < channels; ++ch) {
        const int done = sp.interpolated[ch];
        if (available <= done)
            continue;
        // The history right before the hop lets every pair take the vector
        // lanes, so the first pairs of a hop cost no more than the others.
        float *input = sp.interpolatorInput[ch] + kMaxInterpolatorHistory;
        const int historyLength = upTableLength(path) / 2 - 1;
        if (done == 0)
            std::memcpy(input - historyLength, stream.upHistory[ch], sizeof(float) * historyLength);
        std::memcpy(input + done, stream.inFrame[ch] + done, sizeof(float) * (available - done));
        interpolate2xPairs(sp.interpolatedHop[ch], input, done, available, upTable(path),
                           set == KernelSet::plain ? stream.upHistory[ch] : nullptr, upTableLength(path), set);
        sp.interpolated[ch] = available;
    }
}

// The double-rate hop is complete: the frame moves down and the hop,
// interpolated, goes onto its end.
void endStagedHop(StreamRecord &stream, SmoothPipeline &sp, int channels, StreamPath path, KernelSet set)
{
    interpolateStaged(stream, sp, channels, path, kHop, set);
    moveDoubleRateFrameDown(stream, channels);
    const int extent2x = 2 * frameExtent(stream);
    for (int ch = 0; ch < channels; ++ch) {
        std::memcpy(stream.inFrame2x[ch] + extent2x, sp.interpolatedHop[ch], sizeof(float) * 2 * kHop);
        keepInterpolatorHistory(stream.upHistory[ch], stream.inFrame[ch], kHop, upTableLength(path));
    }
    sp.interpolated[0] = sp.interpolated[1] = 0;
}

// How many of the next `limit` logged entries from `slot` equal the first.
int sameEntries(const SmoothPipeline &sp, int slot, int limit)
{
    int n = 1;
    while (n < limit && sp.pathLog[slot + n] == sp.pathLog[slot])
        ++n;
    return n;
}

} // namespace

void resetSmoothPipeline(SmoothPipeline &sp)
{
    sp.jobActive = false;
    sp.jobCounter = kHostCounter;
    sp.jobTakenAt = 0;
    sp.held[0] = sp.held[1] = HeldFrame{};
    sp.clock = 0;
    sp.silentLead = kSmoothDelay;
    sp.outPending = sp.outPending2x = kHop;
    sp.pathChanged = false;
    sp.interpolated[0] = sp.interpolated[1] = 0;
    sp.interpolatedFor = -1;
    std::memset(sp.pathLog, 0, sizeof sp.pathLog);
}

void processBlockSmooth(StreamRecord &stream, const Block &block, int count)
{
    SmoothPipeline &sp = *stream.smooth;
    const StreamPath path = choosePath(stream);
    const KernelSet set = activeKernelSet();
    const bool doubleRate = isDoubleRate(path);
    count = std::max(count, 0);
    if (static_cast<int>(path) != stream.forward.path)
        sp.pathChanged = true;
    stream.forward.path = static_cast<int>(path);
    if (count > 0 && !doubleRate)
        sp.interpolated[0] = sp.interpolated[1] = 0;
    // The double-rate path stages its input where a host-rate frame still
    // being filled reads from: finish filling it first.
    if (count > 0 && doubleRate && sp.jobActive && sp.jobCounter == kHostCounter)
        while (!frameJobDone(sp.job) && sp.job.steps[sp.job.current].task == FrameTask::fill)
            finishFrameStep(sp.job);
    const uint8_t entry = logEntry(path, block.channels);
    int pos = 0;
    int remaining = count;
    while (remaining > 0) {
        // Pieces end where either side completes a hop, where the replayed
        // entries change and where the log wraps.
        const int slot = static_cast<int>(sp.clock % kSmoothDelay);
        int32_t &inPending = doubleRate ? stream.pending2x : stream.pending;
        int n = std::min({remaining, kSmoothDelay - slot, int(inPending)});
        uint8_t replayed = 0;
        if (sp.silentLead > 0) {
            n = std::min(n, sp.silentLead);
        } else {
            replayed = sp.pathLog[slot];
            n = sameEntries(sp, slot, n);
            n = std::min(n, int(isDoubleRate(loggedPath(replayed)) ? sp.outPending2x : sp.outPending));
        }
        advanceWork(sp, sp.clock + n);
        takeInput(stream, block, pos, n, inPending, path);
        std::memset(sp.pathLog + slot, entry, size_t(n));
        if (sp.silentLead > 0) {
            for (int ch = 0; ch < block.channels; ++ch)
                std::fill_n(block.samples[ch] + pos, n, 0.0f);
            sp.silentLead -= n;
        } else {
            giveLogged(stream, sp, block, pos, n, replayed, set);
        }
        sp.clock += n;
        inPending -= n;
        if (doubleRate && inPending > 0)
            interpolateStaged(stream, sp, block.channels, path, kHop - inPending, set);
        if (inPending == 0) {
            inPending = kHop;
            finishJob(sp);
            if (doubleRate) {
                endStagedHop(stream, sp, block.channels, path, set);
                takeFrame(stream, sp, kDoubleCounter, block.channels, set);
            } else {
                takeFrame(stream, sp, kHostCounter, block.channels, set);
                endInputHopHostRate(stream, block.channels);
            }
        }
        pos += n;
        remaining -= n;
    }
}

} // namespace lintaq
