// The graph's shared steps: the rate the curve is drawn for (the filtering
// rate, as a float), the warped frequencies and the drawn decibels.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>

#include "design/filtering_rate.h"
#include "lintaq.h"
#include "maths/brackets.h"
#include "maths/elementary.h"

namespace lintaq {

inline float graphRate(const PeqParams &params)
{
    return filteringRate(params.sampleRate, params.oversample);
}

inline constexpr float kPiSingle = 3.1415927f;
inline constexpr float kInvPiSingle = 0.31830987f;
inline constexpr float kMaxWarpAngle = 1.57075f; // just below pi/2: keeps tan finite

inline bool sameFloatBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The correctly rounded tangent rounded to float, without the full
// evaluation whenever a short bracket decides it.
inline float tanToFloat(float angle)
{
    double down, up;
    if (maths::tanBracket(static_cast<double>(angle), down, up)) {
        const float low = static_cast<float>(down);
        if (sameFloatBits(low, static_cast<float>(up)))
            return low;
    }
    return static_cast<float>(maths::tan(static_cast<double>(angle)));
}

// Squared bilinear-warped frequency, (r/pi * tan(pi f / r))^2, in single
// precision but for the tangent.
inline float warpAngle(float freq, float inverseRate)
{
    const float angle = inverseRate * freq * kPiSingle;
    return angle > kMaxWarpAngle ? kMaxWarpAngle : angle;
}

inline float squaredWarp(float tangent, float warpScale)
{
    const float warped = tangent * warpScale;
    return warped * warped;
}

inline float warpedSquare(float freq, float inverseRate, float warpScale)
{
    return squaredWarp(tanToFloat(warpAngle(freq, inverseRate)), warpScale);
}

// Any power ratio a float holds, from the smallest subnormal to the
// largest finite value, lies within -449..+386 dB and passes unchanged.
// Settings far outside the documented ranges can overflow the single-
// precision terms: a ratio of infinity or zero is drawn at the nearer
// bound, an undefined one (0/0, inf/inf, or negative from cancellation)
// at 0 dB, so a host drawing the curve never meets a NaN or infinity.
inline constexpr double kDrawnDecibelLimit = 500.0;

inline float finiteDecibels(double db)
{
    if (std::isnan(db))
        return 0.0f;
    return static_cast<float>(std::clamp(db, -kDrawnDecibelLimit, kDrawnDecibelLimit));
}

// finiteDecibels(10 log10(ratio)), without the full evaluation of log10
// whenever a short bracket decides it (every step is monotone).
inline float ratioToDecibels(float ratio)
{
    const double x = static_cast<double>(ratio);
    double down, up;
    if (maths::log10Bracket(x, down, up)) {
        const float low = finiteDecibels(10.0 * down);
        if (sameFloatBits(low, finiteDecibels(10.0 * up)))
            return low;
    }
    return finiteDecibels(10.0 * maths::log10(x));
}

} // namespace lintaq
