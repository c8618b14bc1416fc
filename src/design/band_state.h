// One band's design and carried filter state: where the design step and the
// frame chains meet.
#pragma once

#include <cstdint>

#include "lintaq.h"

namespace lintaq {

// A band's sines, cosines and tangents from its last design, with the
// settings they came from: when only the gain changes (host automation),
// the design takes them from here instead of evaluating them again.
struct AngleMemo {
    uint32_t valid; // 0 until the first design
    uint32_t type;
    float freq, q, rate;
    double first, second; // per type, see design_bands.cpp
};

struct PeqBandState {
    uint32_t bandType;   // LINTAQ_PEAK .. LINTAQ_LOW_PASS; other codes do nothing
    uint32_t bypass;     // 1: skipped in both passes
    uint32_t enable;     // channel assignment (stereo only)
    double fb1;          // biquads: -a1/a0; peak: the allpass coefficient c
    double fb2;          // biquads: -a2/a0
    double ff0;          // biquads: b0/a0
    double ff1;          // biquads: b1/a0
    double ff2;          // biquads: b2/a0
    double negCosW0;     // peak: d = -cos(w0)
    double peakGain;     // peak: V, linear gain of one pass at the centre
    double fwdState[2];  // forward state carried between frames, first channel
    double fwdState2[2]; // the same, second channel
    AngleMemo angles;
};

inline constexpr int kBandCount = 12;

// A band that runs: not bypassed and of a known type.
inline bool bandTakesPart(const PeqBandState &band)
{
    return band.bypass == 0 && band.bandType <= LINTAQ_LOW_PASS;
}

// Peaks run the allpass-based section; every other type a biquad.
inline bool usesPeakSection(const PeqBandState &band)
{
    return band.bandType == LINTAQ_PEAK;
}

// Identity record: a peak section with gain 1 passes its input unchanged.
inline void resetBand(PeqBandState &band)
{
    band = PeqBandState{};
    band.peakGain = 1.0;
}

} // namespace lintaq
