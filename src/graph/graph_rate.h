// The rate the curve is drawn for: the filtering rate, as a float.
#pragma once

#include "lintaq.h"
#include "maths/elementary.h"

namespace lintaq {

inline float graphRate(const PeqParams &params)
{
    float rate = static_cast<float>(params.sampleRate);
    if (rate < 64000.0f && params.oversample != 0)
        rate = rate * 2.0f;
    return rate;
}

inline constexpr float kPiSingle = 3.1415927f;
inline constexpr float kInvPiSingle = 0.31830987f;
inline constexpr float kMaxWarpAngle = 1.57075f; // just below pi/2: keeps tan finite

// Squared bilinear-warped frequency, (r/pi * tan(pi f / r))^2, in single
// precision but for the tangent.
inline float warpedSquare(float freq, float inverseRate, float warpScale)
{
    float angle = inverseRate * freq * kPiSingle;
    if (angle > kMaxWarpAngle)
        angle = kMaxWarpAngle;
    const float warped = static_cast<float>(maths::tan(static_cast<double>(angle))) * warpScale;
    return warped * warped;
}

} // namespace lintaq
