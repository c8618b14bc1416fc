// The even-load instance's extra state. Its input side runs exactly as the
// plain stream path's; its output side replays the same calls one hop
// later. In between, each frame is filtered a little at every call of the
// hop after it was taken, in proportion to the samples the call brings, so
// that no call carries a whole frame.
#pragma once

#include <cstdint>

#include "design/band_state.h"
#include "stream/frame_geometry.h"
#include "stream/frame_job.h"

namespace lintaq {

inline constexpr int kSmoothDelay = kHop; // the output side lags one host-rate hop

// A frame taken on one of the two hop counters, waiting for the output
// side to reach the hop it belongs to.
struct HeldFrame {
    bool present;
    float *result[2]; // its filtered first 2 * headLen samples
    int channels;
};

struct SmoothPipeline {
    FrameJob job;                           // the latest frame taken
    PeqBandState coefficients[kBandCount]; // the bands as designed when it was taken
    bool jobActive;                         // not yet filtered to the end
    int jobCounter;                         // 0: host rate, 1: double rate
    int64_t jobTakenAt;                     // the clock when it was taken
    int64_t jobCostAtTake;                  // its cost done in the call that took it
    int jobSpan;                            // samples over which the rest of it is spread
    HeldFrame held[2];                      // by counter
    float *parked[2];                       // one held result moved out of the work frame (4 * hop per channel)
    // The double-rate hop being gathered, interpolated as its input comes
    // (2 * hop per channel): pairs [0, interpolated[ch]) are done, with the
    // table of `interpolatedFor`.
    float *interpolatedHop[2];
    float *interpolatorInput[2]; // the history, then the staged hop (138 + hop per channel)
    int interpolated[2];
    int interpolatedFor;
    int64_t clock;                          // samples taken in since creation
    int silentLead;                         // output samples still to be given as silence
    int32_t outPending, outPending2x;       // the output side's hop counters
    bool pathChanged;                       // since the last frame was taken
    // The path and channel count of each of the last kSmoothDelay samples:
    // what the output side replays.
    uint8_t pathLog[kSmoothDelay];
};

// Sets a new pipeline's state; its buffers are the caller's to obtain.
void resetSmoothPipeline(SmoothPipeline &pipeline);

} // namespace lintaq
