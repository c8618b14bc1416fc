// The rate the bands are designed for and the frames filtered at.
#pragma once

namespace lintaq {

// With the oversampling switch on, hosts below this rate are filtered at
// twice their rate, so a band near their Nyquist frequency keeps its shape.
inline constexpr int kDoubleRateBelow = 64000;

inline bool filtersAtDoubleRate(int sampleRate, unsigned oversample)
{
    return oversample != 0 && sampleRate < kDoubleRateBelow;
}

// The filtering rate, doubled in single precision when it is doubled.
inline float filteringRate(int sampleRate, unsigned oversample)
{
    const float rate = static_cast<float>(sampleRate);
    return filtersAtDoubleRate(sampleRate, oversample) ? rate * 2.0f : rate;
}

} // namespace lintaq
