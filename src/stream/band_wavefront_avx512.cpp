// The wavefront's steps built for one instruction set.
#define LINTAQ_VECTOR_ISA 5

#include "stream/band_wavefront_steps.h"

void lintaq::simd::runLaneStepsAvx512(const LanePlan &plan, LaneState &state, int from, int to, bool starting)
{
    runLaneSteps(plan, state, from, to, starting);
}
