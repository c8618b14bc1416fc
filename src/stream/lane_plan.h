// What the wavefront's step loops read and keep: plain records, shared by
// the driver and the loops built for each instruction set. The loops'
// translation units include nothing else of the engine.
#pragma once

namespace lintaq {

inline constexpr int kWavefrontSkew = 3;

namespace simd {

inline constexpr int kMaxChains = 2;
inline constexpr int kMaxLanes = kMaxChains * 16; // up to 12 bands a chain, padded to whole vectors
inline constexpr int kMaxVectors = kMaxLanes / 2;

enum LaneKind : unsigned char { peakKind, biquadKind, mixedKind, unusedKind };

// What the step loops need, laid out for vector loads. Where results move
// between lanes by shifting, the chains are interleaved: lane k * chains + c
// is band k of chain c, so a band's input sits `chains` lanes down, and in
// stereo the two channels' bands of one kind share vectors. Where results
// move by permutation, peak lanes come first and biquad lanes after them,
// and `source` says where each lane's input comes from: another lane, or
// (kFreshLane + c) chain c's new sample.
inline constexpr int kFreshLane = 24;

struct LanePlan {
    int chains;
    int vectors; // vectors in use
    int lastLane[kMaxChains]; // the lane of each chain's last band
    int laneOf[kMaxChains][12];
    int count[kMaxChains];
    float *samples[kMaxChains]; // sample t of a chain is samples[c][stride * t]
    int stride;
    int frameLength;
    LaneKind kind[kMaxVectors];
    alignas(64) double peakLane[kMaxLanes];    // 1 for a peak lane, 0 for a biquad
    alignas(64) double skewedIndex[kMaxLanes]; // kSkew * band index: the step a lane starts at
    alignas(64) double c[kMaxLanes], d[kMaxLanes], h[kMaxLanes];
    alignas(64) double fb1[kMaxLanes], fb2[kMaxLanes], ff0[kMaxLanes], ff1[kMaxLanes], ff2[kMaxLanes];
    alignas(64) int source[kMaxLanes];
};

// The wavefront's registers between two runs of steps: the two state cells
// of every lane (s0, s1 or w1, w2) and the outputs of the last kSkew steps.
struct LaneState {
    alignas(64) double a[kMaxLanes];
    alignas(64) double b[kMaxLanes];
    alignas(64) double recent[kWavefrontSkew][kMaxLanes]; // [0]: the last step
};

} // namespace simd

} // namespace lintaq
