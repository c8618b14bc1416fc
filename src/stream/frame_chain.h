// The frame filter chains: fill a work frame (with optional noise), run
// every band forwards with its carried state, then backwards from zero
// state, and crossfade the frame's first 2*headLen samples into the
// accumulator. Forwards-then-backwards gives every band zero phase.
#pragma once

#include <cstdint>

#include "design/band_state.h"
#include "stream/frame_job.h"

namespace lintaq {

void filterFrameMono(const float *input, float *accum, float *work, const float *window,
                     PeqBandState *bands, int headLen, int tailLen, uint32_t noise, const FrameKernels &kernels);

void filterFrameStereo(const float *srcL, const float *srcR, float *accL, float *accR, float *workL,
                       float *workR, const float *window, PeqBandState *bands, int headLen,
                       int tailLen, uint32_t noise, const FrameKernels &kernels);

} // namespace lintaq
