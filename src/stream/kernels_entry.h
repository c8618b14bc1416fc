// The entry points of one instruction set's kernels, named after it
// (LINTAQ_VECTOR_NAME: Sse2, Avx2 or Avx512). Included once, by the
// translation unit built for that set.
#include "stream/band_wavefront_steps.h"
#include "stream/resample.h"
#include "stream/resample_lanes.h"

#define LINTAQ_NAMED2(base, isa) base##isa
#define LINTAQ_NAMED(base, isa) LINTAQ_NAMED2(base, isa)

namespace lintaq::simd {

void LINTAQ_NAMED(runLaneSteps, LINTAQ_VECTOR_NAME)(const LanePlan &plan, LaneState &state, int from, int to,
                                                    bool starting)
{
    runLaneSteps(plan, state, from, to, starting);
}

int LINTAQ_NAMED(interpolateLanes, LINTAQ_VECTOR_NAME)(float *dest, const float *src, int n, int t,
                                                       const double *oddByAge, const double *evenByAge,
                                                       int phaseTaps)
{
    return interpolateLanes(dest, src, n, t, oddByAge, evenByAge, phaseTaps);
}

int LINTAQ_NAMED(decimateLanes, LINTAQ_VECTOR_NAME)(float *dest, const float *src, int outCount, int i,
                                                    const double *byAge, int taps)
{
    return decimateLanes(dest, src, outCount, i, byAge, taps);
}

} // namespace lintaq::simd
