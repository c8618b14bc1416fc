// What a frame's forward pass leaves for the next frame when the frame
// noise is off. Frames overlap: the next frame's forward pass repeats this
// one's over all but the last hop, exactly, unless the flush of a carried
// peak state at the next frame's hop changes a value. So the forward
// output is kept, with the continuing run's state at every hop boundary,
// and the next frame only filters its new hop.
#pragma once

#include <cstdint>

#include "design/band_state.h"

namespace lintaq {

// A frame spans at most this many hops (lookahead 32768 + 4096 samples).
inline constexpr int kMaxFrameHops = 18;

struct ForwardMemory {
    float *output[2]; // per signal: the last frame's forward output (room for a double-rate frame)
    bool valid;
    uint32_t generation; // the design generation the output was made with
    int headLen, tailLen;
    int channels;        // 1: the mono chain made it; 2: the stereo chain's left/right stage
    int path;            // the stream path of the last processing call
    // Per signal and band (in chain order): the state of the continuing
    // forward run, before any flush, after m hops, m = 2..frame hops.
    double boundary[2][kBandCount][kMaxFrameHops + 1][2];
};

} // namespace lintaq
