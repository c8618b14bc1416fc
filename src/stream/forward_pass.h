// The forward runs of a frame's first stage, reusing what the previous
// frame computed when the frame noise is off (see forward_memory.h).
#pragma once

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

// Runs every band of `chains` forwards over the frame, as runWavefront
// does, taking over the previous frame's work where it is provably the
// same. signal[c] is the memory slot of chain c; `channels` tells the mono
// chain's memory from the stereo one's. Works only with the vector sets.
void runFirstForward(const CascadeChain *chains, const int *signal, int chainCount, int headLen,
                     int tailLen, uint32_t noise, int channels, const FrameKernels &kernels);

} // namespace lintaq
