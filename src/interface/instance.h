// The engine instance record. Every buffer processing touches is obtained
// at creation; the stream paths only index into it.
#pragma once

#include <cstdint>

#include "design/band_state.h"
#include "stream/forward_memory.h"

namespace lintaq {
struct SmoothPipeline;
}

inline constexpr int kSegmentLength = 4096;            // N
inline constexpr int kHop = kSegmentLength / 2;        // H
inline constexpr int kUpHistoryLength = 278;
inline constexpr int kDownHistoryLength = 22;
inline constexpr int kDelayRingLength = 2010;
inline constexpr int kRingHostRate = 74;               // slots on the host-rate path
inline constexpr int kRingDoubleRate = 31;             // slots on the 156/20 double-rate path

struct PeqInstance {
    uint32_t stereo;
    int32_t segmentLength;
    int32_t lookahead;
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
    uint32_t redesignAll;
    uint32_t bandsChanged;
    uint32_t bandDirty[lintaq::kBandCount];
    lintaq::PeqBandState bands[lintaq::kBandCount];
    float freq[lintaq::kBandCount];
    float gain[lintaq::kBandCount];
    float q[lintaq::kBandCount];
    uint32_t enable[lintaq::kBandCount];
    uint32_t type[lintaq::kBandCount];
    int32_t sampleRate;
    uint32_t noise;
    uint32_t oversample;
    // Not part of the settings: what the fast paths keep between calls.
    uint32_t designGeneration; // counts the design steps that changed anything
    lintaq::ForwardMemory forward;
    // Only in an even-load instance (LintaqInitSmooth): the output side one
    // hop behind and the frame being filtered over that hop.
    lintaq::SmoothPipeline *smooth;
};

namespace lintaq {

inline int frameLength(const PeqInstance &inst) { return inst.lookahead + inst.segmentLength; }
inline int frameExtent(const PeqInstance &inst) { return inst.lookahead + kHop; }

} // namespace lintaq
