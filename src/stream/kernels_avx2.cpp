// The vector kernels built for one instruction set.
#define LINTAQ_VECTOR_ISA 3

#include "stream/band_wavefront_steps.h"
#include "stream/resample.h"
#include "stream/resample_lanes.h"

namespace lintaq::simd {

void runLaneStepsAvx2(const LanePlan &plan, LaneState &state, int from, int to, bool starting)
{
    runLaneSteps(plan, state, from, to, starting);
}

int interpolateLanesAvx2(float *dest, const float *src, int n, int t, const double *oddByAge,
                          const double *evenByAge, int phaseTaps)
{
    return interpolateLanes(dest, src, n, t, oddByAge, evenByAge, phaseTaps);
}

int decimateLanesAvx2(float *dest, const float *src, int outCount, int i, const double *byAge, int taps)
{
    return decimateLanes(dest, src, outCount, i, byAge, taps);
}

} // namespace lintaq::simd
