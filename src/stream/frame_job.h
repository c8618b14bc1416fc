// A frame's filtering as a job that can be done in pieces: fill the work
// frames (with the optional noise), run every band forwards and backwards
// per stage, and, in stereo, go through mid/side and back. The job only
// reads its inputs through what it was given at the start, so it can be
// finished at once (the frame chains) or a little at every processing call
// (the even-load instance); either way the work frames end up with the same
// bits.
#pragma once

#include <cstdint>

#include "design/band_state.h"
#include "stream/band_wavefront.h"
#include "stream/forward_memory.h"

namespace lintaq {

// What a frame chain may use besides its buffers: the kernels, and for its
// first stage the memory of the previous frame (null: nothing reused).
struct FrameKernels {
    KernelSet set;
    ForwardMemory *memory;
    uint32_t generation; // the instance's design generation
};

// The unit of the jobs' cost estimates: one sample copied.
inline constexpr int kCopyCost = 1;

struct FrameSetup {
    // Work sample i is taken from source[c][i] for i < sourceSplit and from
    // source[c][i - sourceShift] after it: the even-load instance fills the
    // first hop of a host-rate frame before the input frame moves down.
    const float *source[2];
    int sourceSplit, sourceShift;
    float *work[2];
    int channels; // 1: the mono chain; 2: the stereo chain
    const PeqBandState *coefficients; // what the bands are designed as
    PeqBandState *carried;            // whose fwdState and fwdState2 the forward runs carry
    int headLen, tailLen;
    uint32_t noise;
    uint32_t noiseStart; // the generator state before the frame's first step
    FrameKernels kernels;
};

enum class FrameTask : uint8_t {
    fill,           // a: first work sample, b: end
    cascade,        // whole cascades, plain and scalar sets: a stage, b direction
    wave,           // a stage, b direction (the frame, handing over at headLen when forwards)
    headWave,       // stage 0 forwards over the first hop only, handing over the carried state
    seedSpans,      // the continuing run starts from the carried states
    span,           // stage 0 forwards over hop a - 1 (a = 2..hops), noting the boundary states
    copyIn,         // reuse: the previous frame's forward output, from hop 1 on
    settleReuse,    // reuse: move the boundary states down one hop
    copyOut,        // keep this frame's forward output for the next frame
    keepMemory,     // mark the memory as this frame's
    toMidSide,
    toLeftRight,
};

struct FrameStep {
    FrameTask task;
    int a, b;
    int units;    // samples or steps
    int unitCost; // relative cost of one unit
};

inline constexpr int kMaxFrameSteps = 8 + 2 * kMaxFrameHops;

struct FrameJob {
    FrameSetup setup;
    CascadeBand entries[2][2][kBandCount]; // per stage and signal
    CascadeChain chains[2][2];
    int chainCount[2];
    int signal[2]; // memory slot of each stage-0 chain
    double spanStates[2][kBandCount][2];
    CascadeBand spanEntries[2][kBandCount];
    CascadeChain spanChains[2];
    FrameStep steps[kMaxFrameSteps];
    int stepCount;
    int current;   // the step under way
    int unitsDone; // of the current step
    bool waveStarted;
    int64_t costTotal, costDone;
    WaveRun wave;
};

// Plans the frame's work. Decides at once whether the previous frame's
// forward output can be reused, so nothing may touch the memory or the
// carried states until the job is finished.
void startFrameJob(FrameJob &job, const FrameSetup &setup);

// Does about `budget` more cost units of work (at least one unit when any
// is left); returns whether the job is complete.
bool advanceFrameJob(FrameJob &job, int64_t budget);

// Runs the current step to its end; returns whether the job is complete.
bool finishFrameStep(FrameJob &job);

inline bool frameJobDone(const FrameJob &job)
{
    return job.current >= job.stepCount;
}

inline void finishFrameJob(FrameJob &job)
{
    while (!frameJobDone(job))
        advanceFrameJob(job, job.costTotal);
}

} // namespace lintaq
