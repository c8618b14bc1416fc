// The graph's per-point steps over a whole grid, two points at a time: the
// pair brackets decide almost every point, and a point they leave open
// takes the single-point step. Each decided point is the same float the
// single-point step gives (both round the correctly rounded value).
#pragma once

#include "graph/graph_rate.h"
#include "maths/bracket_pairs.h"

namespace lintaq {

// In place: grid frequencies to squared warped frequencies, warpedSquare
// on each.
inline void warpFrequencies(float *values, int count, float inverseRate, float warpScale)
{
    int i = 0;
    for (; i + 2 <= count; i += 2) {
        const float angles[2] = {warpAngle(values[i], inverseRate), warpAngle(values[i + 1], inverseRate)};
        const maths::BracketPair b = maths::tanBracketPair(maths::DoublePair{angles[0], angles[1]});
        for (int lane = 0; lane < 2; ++lane) {
            const float low = static_cast<float>(b.down[lane]);
            const bool decided = b.usable[lane] != 0 && sameFloatBits(low, static_cast<float>(b.up[lane]));
            values[i + lane] = squaredWarp(decided ? low : tanToFloat(angles[lane]), warpScale);
        }
    }
    for (; i < count; ++i)
        values[i] = warpedSquare(values[i], inverseRate, warpScale);
}

// In place: power ratios to drawn decibels, ratioToDecibels on each. A
// usable lane holds a positive finite float, whose decibels lie within
// -450..+386, inside the drawn limit: the clamp would leave both ends as
// they are.
inline void ratiosToDecibels(float *values, int count)
{
    int i = 0;
    for (; i + 2 <= count; i += 2) {
        const maths::BracketPair b = maths::log10BracketPairOfFloats(maths::DoublePair{values[i], values[i + 1]});
        const maths::DoublePair low = 10.0 * b.down, high = 10.0 * b.up;
        for (int lane = 0; lane < 2; ++lane) {
            const float db = static_cast<float>(low[lane]);
            const bool decided = b.usable[lane] != 0 && sameFloatBits(db, static_cast<float>(high[lane]));
            values[i + lane] = decided ? db : ratioToDecibels(values[i + lane]);
        }
    }
    for (; i < count; ++i)
        values[i] = ratioToDecibels(values[i]);
}

} // namespace lintaq
