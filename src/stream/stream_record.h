// What the stream paths and the frame chains work on: the channel buffers,
// the hop counters, the designed bands with their carried state and the
// settings that choose the path. The instance record is this and the
// parameters as last set, with the flags that tell the design step what
// changed; the stream side knows nothing of those.
#pragma once

#include <cstdint>

#include "design/band_state.h"
#include "stream/forward_memory.h"
#include "stream/frame_geometry.h"

namespace lintaq {

struct SmoothPipeline;

struct StreamRecord {
    int32_t segmentLength; // N
    int32_t lookahead;     // L: the frame is L + N long
    float *upHistory[2];
    float *downHistory[2];
    float *inFrame[2];
    float *outAccum[2];
    float *inFrame2x[2];
    float *outAccum2x[2];
    float *delayRing[2];
    float *workFrame[2];
    float *windowHalf;
    float *windowFull;
    int32_t ringPos[2];
    int32_t pending;
    int32_t pending2x;
    PeqBandState bands[kBandCount];
    int32_t sampleRate;
    uint32_t noise;
    uint32_t oversample;
    // Not part of the settings: what the fast paths keep between calls.
    uint32_t designGeneration; // counts the design steps that changed anything
    ForwardMemory forward;
    // Only in an even-load instance (LintaqInitSmooth): the output side one
    // hop behind and the frame being filtered over that hop.
    SmoothPipeline *smooth;
};

inline int frameLength(const StreamRecord &stream) { return stream.lookahead + stream.segmentLength; }
inline int frameExtent(const StreamRecord &stream) { return stream.lookahead + kHop; }

} // namespace lintaq
