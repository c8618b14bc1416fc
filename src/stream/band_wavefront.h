// A cascade of bands run as a wavefront across vector lanes. Each lane is
// one position of one signal (a chain): at step t, position p of every
// chain works on sample t - kSkew*p, so all bands and both signals of a
// stereo stage advance together, one vector operation moving many
// recursions by one sample. A position's input is the output the position
// before it produced kSkew steps earlier, which leaves time for that
// result to arrive. Band k sits at position k, or further up where lanes
// that pass their input on let bands of one kind share a vector.
//
// Every lane performs the scalar section's operations in order, so the
// result equals running the bands one after another (runCascadeReference),
// bit for bit, the carried states included.
#pragma once

#include "filter/sections.h"
#include "stream/band_cascade.h"
#include "stream/kernel_set.h"
#include "stream/lane_plan.h"

namespace lintaq {

// One signal of a stage and the bands that run over it, in order.
struct CascadeChain {
    float *samples;
    const CascadeBand *bands;
    int count;
};

// Runs the bands of up to two chains, forwards (from their carried states,
// saved after headLen samples) or backwards from zero state, with the
// vector instructions of `set` (one with a record in vector_kernels.h).
void runWavefront(const CascadeChain *chains, int chainCount, int headLen, int tailLen,
                  Direction direction, KernelSet set);

// Forwards over `length` samples from the states the chains' entries point
// to, leaving there the states reached at the end, unflushed: one stretch
// of a forward run that goes on past a hop.
void runWavefrontSpan(const CascadeChain *chains, int chainCount, int length, KernelSet set);

// The same runs cut into pieces: a wavefront started once and continued a
// number of steps at a time gives the bits of one uninterrupted run. The
// chains must stay as they were at the start.
enum class HandOver {
    none,    // backward runs: nothing is kept
    carried, // store each band's carried state (a peak's flushed) at the hand-over point
    reached  // note each band's state at the hand-over point as it is
};

struct WaveRun {
    alignas(64) simd::LanePlan plan;
    alignas(64) simd::LaneState state;
    void (*laneSteps)(const simd::LanePlan &, simd::LaneState &, int, int, bool); // the set's
    HandOver handOver;
    int t, settled, end, handOverAt;
    int handedOver, positions; // lane positions whose states are handed over, of all of them
};

void startWave(WaveRun &run, const CascadeChain *chains, int chainCount, int length, Direction direction,
               KernelSet set, int handOverAt, HandOver handOver);

// Runs up to maxSteps more steps; true once the run is complete. A run
// takes `run.end` steps in all.
bool continueWave(WaveRun &run, const CascadeChain *chains, int maxSteps);

// Vectors moved per step of a wavefront over these chains: the cost of a step.
int waveVectors(const CascadeChain *chains, int chainCount, KernelSet set);

// Steps a wavefront over these chains takes for `length` samples.
int waveSteps(const CascadeChain *chains, int chainCount, int length, KernelSet set);

} // namespace lintaq
