// One instruction set's kernels as a record. Each set's translation unit
// (kernels_<set>.cpp, built only for processors that have the set) exports
// one; the build lists the records it compiled, and the driver code reaches
// every set through them, never by name.
#pragma once

#include "stream/kernel_set.h"
#include "stream/lane_plan.h"

namespace lintaq {

struct VectorKernels {
    KernelSet set;
    int width;     // doubles per vector
    bool permutes; // results move between any lanes, so lanes are grouped by section kind
    bool (*available)(); // whether this processor runs the set

    // Steps [from, to) of the wavefront. `starting`: some lanes have not
    // reached their first sample yet and must keep their state.
    void (*laneSteps)(const simd::LanePlan &plan, simd::LaneState &state, int from, int to, bool starting);

    // The resampler's outputs whose taps all lie in the current buffer, a
    // vector of them at a time, from output t (or i) on; each returns the
    // first output it left for the one-at-a-time loop. The tables are
    // ordered newest sample first.
    int (*interpolate)(float *dest, const float *src, int n, int t, const double *oddByAge,
                       const double *evenByAge, int phaseTaps);
    int (*decimate)(float *dest, const float *src, int outCount, int i, const double *byAge, int taps);
};

// The record of `set`: null for the plain and scalar sets and for sets not
// built for this processor.
const VectorKernels *vectorKernels(KernelSet set);

} // namespace lintaq
