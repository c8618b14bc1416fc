// One instruction set's kernels and their record. Included once, last, by
// the translation unit built for that set, after it has defined its vector
// operations (struct Ops, see stream/lane_types.h) and LINTAQ_VECTOR_SET,
// the set's name in KernelSet.
#include "stream/band_wavefront_steps.h"
#include "stream/resample_lanes.h"
#include "stream/vector_kernels.h"

#define LINTAQ_RECORD_NAME2(name) name##Kernels
#define LINTAQ_RECORD_NAME(name) LINTAQ_RECORD_NAME2(name)

namespace lintaq {

extern const VectorKernels LINTAQ_RECORD_NAME(LINTAQ_VECTOR_SET);
const VectorKernels LINTAQ_RECORD_NAME(LINTAQ_VECTOR_SET) = {
    KernelSet::LINTAQ_VECTOR_SET, simd::Ops::width, simd::Ops::permutes, &simd::Ops::available,
    &simd::runLaneSteps,          &simd::interpolateLanes, &simd::decimateLanes,
};

} // namespace lintaq
