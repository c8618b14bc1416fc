#include "stream/frame_job.h"

#include <algorithm>
#include <cstring>

#include "filter/section_kernels.h"
#include "stream/noise.h"
#include "stream/vector_kernels.h"

namespace lintaq {

namespace {

// Relative costs of one unit of each kind of work, measured on the vector
// kernels: a sample copied, a wavefront step per vector moved.
constexpr int kNoiseFillCost = 7;
constexpr int kConvertCost = 3;
constexpr int kStepCost = 36;
constexpr int kCascadeCost = 72; // per sample and band, plain and scalar sets

// Copies `count` samples, adding the frame noise when it is on; x is the
// generator state before the first of them. The stereo chain passes both
// channels so that each index gets the same noise value.
void fillWork(float *workL, const float *srcL, float *workR, const float *srcR, int count,
              uint32_t noise, uint32_t x, KernelSet set)
{
    if (noise == 0) {
        std::memcpy(workL, srcL, sizeof(float) * count);
        if (workR != nullptr)
            std::memcpy(workR, srcR, sizeof(float) * count);
        return;
    }
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
    // Past the plain walk: the sequence is dealt out to eight lanes, each
    // stepping eight states at a time, so the loop runs in vector
    // registers; every index still gets the plain walk's value.
    constexpr int kLanes = 8;
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
// Mono applies every running band, whatever its channel assignment.
struct Route {
    bool first;
    bool second;
};

Route routeOf(int channels, int stage, uint32_t enable)
{
    if (channels == 1)
        return {true, false};
    if (stage == 0)
        return {enable == LINTAQ_BOTH || enable == LINTAQ_LEFT, enable == LINTAQ_BOTH || enable == LINTAQ_RIGHT};
    return {enable == LINTAQ_MID, enable == LINTAQ_SIDE};
}

// The chains of one stage: a signal without bands is left alone.
void buildStage(FrameJob &job, int stage)
{
    const FrameSetup &s = job.setup;
    CascadeChain all[2] = {{s.work[0], job.entries[stage][0], 0}, {s.work[1], job.entries[stage][1], 0}};
    CascadeBand *entries[2] = {job.entries[stage][0], job.entries[stage][1]};
    for (int k = 0; k < kBandCount; ++k) {
        const PeqBandState &band = s.coefficients[k];
        if (!bandTakesPart(band))
            continue;
        const Route route = routeOf(s.channels, stage, band.enable);
        if (route.first)
            entries[0][all[0].count++] = {&band, s.carried[k].fwdState};
        if (route.second)
            entries[1][all[1].count++] = {&band, s.carried[k].fwdState2};
    }
    int count = 0;
    for (int c = 0; c < 2; ++c)
        if (all[c].count > 0) {
            if (stage == 0)
                job.signal[count] = c;
            job.chains[stage][count++] = all[c];
        }
    job.chainCount[stage] = count;
}

bool sameBits(const double *a, const double *b)
{
    return std::memcmp(a, b, 2 * sizeof(double)) == 0;
}

bool memoryFits(const ForwardMemory &memory, int headLen, int tailLen, int channels, uint32_t generation)
{
    return memory.valid && memory.generation == generation && memory.headLen == headLen &&
           memory.tailLen == tailLen && memory.channels == channels;
}

// The previous frame's forward output serves for all but the last hop if
// no band's stored state changes at this frame's hop; then only the last
// hop is filtered, from the state the previous frame ended with. On
// success the carried states are stored and the last hop's run is set up.
bool takeOverPreviousFrame(FrameJob &job, int hops)
{
    const ForwardMemory &memory = *job.setup.kernels.memory;
    const CascadeChain *chains = job.chains[0];
    double stored[2][kBandCount][2];
    for (int c = 0; c < job.chainCount[0]; ++c)
        for (int k = 0; k < chains[c].count; ++k) {
            const double *reached = memory.boundary[job.signal[c]][k][2];
            storeCarriedState(*chains[c].bands[k].band, reached, stored[c][k]);
            if (!sameBits(stored[c][k], reached))
                return false;
        }
    for (int c = 0; c < job.chainCount[0]; ++c)
        for (int k = 0; k < chains[c].count; ++k) {
            std::memcpy(chains[c].bands[k].state, stored[c][k], sizeof stored[c][k]);
            std::memcpy(job.spanStates[c][k], memory.boundary[job.signal[c]][k][hops], sizeof stored[c][k]);
        }
    return true;
}

void addStep(FrameJob &job, FrameTask task, int a, int b, int units, int unitCost)
{
    if (units <= 0)
        return;
    job.steps[job.stepCount++] = {task, a, b, units, unitCost};
    job.costTotal += int64_t(units) * unitCost;
}

// The forward runs of stage 0 with the vector kernels, reusing what the
// previous frame computed when the frame noise is off (see
// forward_memory.h).
void planFirstForward(FrameJob &job, int stepCost)
{
    const FrameSetup &s = job.setup;
    ForwardMemory &memory = *s.kernels.memory;
    const int frameLength = s.headLen + s.tailLen;
    const int hops = frameLength / s.headLen;
    const CascadeChain *chains = job.chains[0];
    const int count = job.chainCount[0];
    const int hopSteps = waveSteps(chains, count, s.headLen, s.kernels.set);
    // Noise makes every frame's input new; odd frame shapes are not framed
    // by the stream paths.
    if (s.noise != 0 || frameLength % s.headLen != 0 || hops > kMaxFrameHops) {
        memory.valid = false;
        addStep(job, FrameTask::wave, 0, 0, waveSteps(chains, count, frameLength, s.kernels.set), stepCost);
        return;
    }
    if (memoryFits(memory, s.headLen, s.tailLen, s.channels, s.kernels.generation) &&
        takeOverPreviousFrame(job, hops)) {
        addStep(job, FrameTask::copyIn, 0, 0, (hops - 1) * s.headLen, kCopyCost * count);
        addStep(job, FrameTask::span, hops, 0, hopSteps, stepCost);
        addStep(job, FrameTask::settleReuse, hops, 0, 1, 1);
    } else {
        addStep(job, FrameTask::headWave, 0, 0, hopSteps, stepCost);
        addStep(job, FrameTask::seedSpans, 0, 0, 1, 1);
        for (int m = 2; m <= hops; ++m)
            addStep(job, FrameTask::span, m, 1, hopSteps, stepCost);
    }
    addStep(job, FrameTask::copyOut, 0, 0, frameLength - s.headLen, kCopyCost * count);
    addStep(job, FrameTask::keepMemory, 0, 0, 1, 1);
}

void planStage(FrameJob &job, int stage)
{
    const FrameSetup &s = job.setup;
    const int frameLength = s.headLen + s.tailLen;
    const bool vectors = vectorKernels(s.kernels.set) != nullptr;
    ForwardMemory *memory = stage == 0 ? s.kernels.memory : nullptr;
    const int count = job.chainCount[stage];
    if (memory != nullptr && (!vectors || count == 0))
        memory->valid = false;
    if (count == 0)
        return;
    if (!vectors) {
        int bands = 0;
        for (int c = 0; c < count; ++c)
            bands += job.chains[stage][c].count;
        for (int direction = 0; direction < 2; ++direction)
            addStep(job, FrameTask::cascade, stage, direction, 1, kCascadeCost * bands * frameLength);
        return;
    }
    const int stepCost = kStepCost * waveVectors(job.chains[stage], count, s.kernels.set);
    const int steps = waveSteps(job.chains[stage], count, frameLength, s.kernels.set);
    if (memory != nullptr)
        planFirstForward(job, stepCost);
    else
        addStep(job, FrameTask::wave, stage, 0, steps, stepCost);
    addStep(job, FrameTask::wave, stage, 1, steps, stepCost);
}

void fillRange(FrameJob &job, int from, int to)
{
    const FrameSetup &s = job.setup;
    // The source may be read in two pieces; the noise walk goes on across.
    while (from < to) {
        const int shift = from < s.sourceSplit ? 0 : s.sourceShift;
        const int end = from < s.sourceSplit ? std::min(to, s.sourceSplit) : to;
        const uint32_t x = s.noise != 0 ? jumpNoiseState(s.noiseStart, uint32_t(from)) : 0u;
        const bool stereo = s.channels == 2;
        fillWork(s.work[0] + from, s.source[0] + from - shift, stereo ? s.work[1] + from : nullptr,
                 stereo ? s.source[1] + from - shift : nullptr, end - from, s.noise, x, s.kernels.set);
        from = end;
    }
}

// Mid is the plain sum, not halved; the way back halves both.
void convertRange(const FrameJob &job, bool toMidSide, int from, int to)
{
    float *workL = job.setup.work[0], *workR = job.setup.work[1];
    if (toMidSide) {
        for (int i = from; i < to; ++i) {
            const float l = workL[i], r = workR[i];
            workL[i] = l + r;
            workR[i] = l - r;
        }
    } else {
        for (int i = from; i < to; ++i) {
            const float m = workL[i], s = workR[i];
            workL[i] = (m + s) * 0.5f;
            workR[i] = (m - s) * 0.5f;
        }
    }
}

void runCascades(const FrameJob &job, int stage, Direction direction)
{
    const FrameSetup &s = job.setup;
    const auto run = s.kernels.set == KernelSet::plain ? runCascadeReference : runCascade;
    for (int c = 0; c < job.chainCount[stage]; ++c) {
        const CascadeChain &chain = job.chains[stage][c];
        run(chain.samples, chain.bands, chain.count, s.headLen, s.tailLen, direction);
    }
}

// The continuing forward run over hop m - 1 (0-based), from spanStates.
void startSpan(FrameJob &job, int m)
{
    const FrameSetup &s = job.setup;
    const int count = job.chainCount[0];
    for (int c = 0; c < count; ++c) {
        const CascadeChain &chain = job.chains[0][c];
        for (int k = 0; k < chain.count; ++k)
            job.spanEntries[c][k] = {chain.bands[k].band, job.spanStates[c][k]};
        job.spanChains[c] = {chain.samples + (m - 1) * s.headLen, job.spanEntries[c], chain.count};
    }
    startWave(job.wave, job.spanChains, count, s.headLen, Direction::forward, s.kernels.set, s.headLen,
              HandOver::reached);
}

// Starts the wavefront of a wave-kind step on its first piece.
void startWaveStep(FrameJob &job, const FrameStep &step)
{
    const FrameSetup &s = job.setup;
    const KernelSet set = s.kernels.set;
    switch (step.task) {
    case FrameTask::wave: {
        const Direction direction = step.b == 0 ? Direction::forward : Direction::backward;
        startWave(job.wave, job.chains[step.a], job.chainCount[step.a], s.headLen + s.tailLen, direction, set,
                  s.headLen, direction == Direction::forward ? HandOver::carried : HandOver::none);
        break;
    }
    case FrameTask::headWave:
        startWave(job.wave, job.chains[0], job.chainCount[0], s.headLen, Direction::forward, set, s.headLen,
                  HandOver::carried);
        break;
    default: startSpan(job, step.a); break;
    }
}

const CascadeChain *waveChains(const FrameJob &job, const FrameStep &step)
{
    if (step.task == FrameTask::span)
        return job.spanChains;
    return job.chains[step.task == FrameTask::wave ? step.a : 0];
}

// What a step does once all its units are done.
void completeStep(FrameJob &job, const FrameStep &step)
{
    const FrameSetup &s = job.setup;
    ForwardMemory *memory = s.kernels.memory;
    const int count = job.chainCount[0];
    switch (step.task) {
    case FrameTask::seedSpans:
        for (int c = 0; c < count; ++c)
            for (int k = 0; k < job.chains[0][c].count; ++k)
                std::memcpy(job.spanStates[c][k], job.chains[0][c].bands[k].state, sizeof job.spanStates[c][k]);
        break;
    case FrameTask::span:
        if (step.b == 1)
            for (int c = 0; c < count; ++c)
                for (int k = 0; k < job.chains[0][c].count; ++k)
                    std::memcpy(memory->boundary[job.signal[c]][k][step.a], job.spanStates[c][k],
                                sizeof job.spanStates[c][k]);
        break;
    case FrameTask::settleReuse:
        for (int c = 0; c < count; ++c)
            for (int k = 0; k < job.chains[0][c].count; ++k) {
                double(*boundary)[2] = memory->boundary[job.signal[c]][k];
                std::memmove(boundary[2], boundary[3], sizeof(double) * 2 * (step.a - 2));
                std::memcpy(boundary[step.a], job.spanStates[c][k], sizeof job.spanStates[c][k]);
            }
        break;
    case FrameTask::keepMemory:
        memory->valid = true;
        memory->generation = s.kernels.generation;
        memory->headLen = s.headLen;
        memory->tailLen = s.tailLen;
        memory->channels = s.channels;
        break;
    default: break;
    }
}

// Units [from, to) of the current step.
void runUnits(FrameJob &job, const FrameStep &step, int from, int to)
{
    const FrameSetup &s = job.setup;
    const int count = job.chainCount[0];
    switch (step.task) {
    case FrameTask::fill: fillRange(job, step.a + from, step.a + to); break;
    case FrameTask::cascade:
        runCascades(job, step.a, step.b == 0 ? Direction::forward : Direction::backward);
        break;
    case FrameTask::wave:
    case FrameTask::headWave:
    case FrameTask::span:
        if (!job.waveStarted) {
            startWaveStep(job, step);
            job.waveStarted = true;
        }
        continueWave(job.wave, waveChains(job, step), to - from);
        break;
    case FrameTask::copyIn:
        for (int c = 0; c < count; ++c)
            std::memcpy(job.chains[0][c].samples + from,
                        s.kernels.memory->output[job.signal[c]] + s.headLen + from, sizeof(float) * (to - from));
        break;
    case FrameTask::copyOut:
        for (int c = 0; c < count; ++c)
            std::memcpy(s.kernels.memory->output[job.signal[c]] + s.headLen + from,
                        job.chains[0][c].samples + s.headLen + from, sizeof(float) * (to - from));
        break;
    case FrameTask::toMidSide:
    case FrameTask::toLeftRight: convertRange(job, step.task == FrameTask::toMidSide, from, to); break;
    default: break;
    }
}

} // namespace

void startFrameJob(FrameJob &job, const FrameSetup &setup)
{
    job.setup = setup;
    job.stepCount = 0;
    job.current = 0;
    job.unitsDone = 0;
    job.waveStarted = false;
    job.costTotal = 0;
    job.costDone = 0;
    const int frameLength = setup.headLen + setup.tailLen;
    const int fillCost = setup.channels * (setup.noise != 0 ? kNoiseFillCost : kCopyCost);
    const int split = std::clamp(setup.sourceSplit, 0, frameLength);
    addStep(job, FrameTask::fill, 0, 0, split, fillCost);
    addStep(job, FrameTask::fill, split, 0, frameLength - split, fillCost);
    buildStage(job, 0);
    planStage(job, 0);
    if (setup.channels == 2) {
        addStep(job, FrameTask::toMidSide, 0, 0, frameLength, kConvertCost);
        buildStage(job, 1);
        planStage(job, 1);
        addStep(job, FrameTask::toLeftRight, 0, 0, frameLength, kConvertCost);
    }
}

bool advanceFrameJob(FrameJob &job, int64_t budget)
{
    while (!frameJobDone(job)) {
        const FrameStep &step = job.steps[job.current];
        const int left = step.units - job.unitsDone;
        const int64_t affordable = (budget + step.unitCost - 1) / step.unitCost;
        const int units = int(std::clamp<int64_t>(affordable, 1, left));
        runUnits(job, step, job.unitsDone, job.unitsDone + units);
        job.unitsDone += units;
        job.costDone += int64_t(units) * step.unitCost;
        budget -= int64_t(units) * step.unitCost;
        if (job.unitsDone == step.units) {
            completeStep(job, step);
            ++job.current;
            job.unitsDone = 0;
            job.waveStarted = false;
        }
        if (budget <= 0)
            break;
    }
    return frameJobDone(job);
}

bool finishFrameStep(FrameJob &job)
{
    if (frameJobDone(job))
        return true;
    const FrameStep &step = job.steps[job.current];
    advanceFrameJob(job, int64_t(step.units - job.unitsDone) * step.unitCost);
    return frameJobDone(job);
}

} // namespace lintaq
