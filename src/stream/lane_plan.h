// What the wavefront's step loops read and keep: plain records, shared by
// the driver and the loops built for each instruction set. The loops'
// translation units include nothing else of the engine.
#pragma once

namespace lintaq {

inline constexpr int kWavefrontSkew = 3;

namespace simd {

inline constexpr int kMaxChains = 2;
// A chain's bands and the lanes that pass results on between them.
inline constexpr int kMaxPositions = 16;
inline constexpr int kMaxLanes = kMaxChains * kMaxPositions;
inline constexpr int kMaxVectors = kMaxLanes / 2;

// Lanes pass results on in the shifting sets of four lanes or more. On two
// lanes a vector holds at most two positions of a chain, so there is
// little to line up, and the loops for it would double the time those
// sets take to compile.
constexpr bool lanesCanPass(int width, bool permutes)
{
    return !permutes && width >= 4;
}

// The vectors the shifting step loops are built for: twelve bands a chain,
// and where lanes pass results on, one vector more (a cut, ten bells and a
// cut, the usual curve, take seven vectors of two positions in stereo).
constexpr int maxShiftingVectors(int chains, int width)
{
    const int bands = (chains * 12 + width - 1) / width;
    return lanesCanPass(width, false) ? bands + 1 : bands;
}

// A vector's sections; "passing": some of its lanes pass their input on.
enum LaneKind : unsigned char { peakKind, biquadKind, mixedKind, unusedKind, peakPassingKind, biquadPassingKind };

// What the step loops need, laid out for vector loads. Where results move
// between lanes by shifting, the chains are interleaved: lane p * chains + c
// is position p of chain c, so a lane's input sits `chains` lanes down, and
// in stereo the two channels' bands of one kind share vectors. A position
// holds a band, or passes its input on unchanged (one more kSkew steps of
// delay) so that the bands after it line up with vectors of one kind.
// Where results move by permutation, positions are band indices, peak
// lanes come first and biquad lanes after them, and `source` says where
// each lane's input comes from: another lane, or (kFreshLane + c) chain
// c's new sample.
inline constexpr int kFreshLane = 24;

struct LanePlan {
    int chains;
    int vectors; // vectors in use
    int lastLane[kMaxChains]; // the lane of each chain's last band
    int lag[kMaxChains];      // kSkew * that band's position: how far the chain's output trails
    int laneOf[kMaxChains][12];
    int positions;                          // the furthest last band's position + 1
    int bandAt[kMaxChains][kMaxPositions]; // -1 where the position passes its input on, or is past the chain
    float *samples[kMaxChains]; // sample t of a chain is samples[c][stride * t]
    int stride;
    int frameLength;
    LaneKind kind[kMaxVectors];
    bool passing; // whether any lane passes its input on
    alignas(64) double peakLane[kMaxLanes];    // 1 for a peak lane, 0 for a biquad
    alignas(64) double passLane[kMaxLanes];    // 1 for a lane that passes its input on
    alignas(64) double skewedIndex[kMaxLanes]; // kSkew * position: the step a lane starts at
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
