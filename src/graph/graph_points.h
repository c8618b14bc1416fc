// The graph's per-point steps over a whole grid, two points at a time: the
// pair brackets decide almost every point, and a point they leave open
// takes the single-point step. Each decided point is the same float the
// single-point step gives (both round the correctly rounded value).
#pragma once

#include <cstdint>
#include <cstring>

#include "graph/graph_rate.h"
#include "maths/bracket_pairs.h"

namespace lintaq {

typedef float FloatPair __attribute__((vector_size(8)));
typedef int32_t FloatMaskPair __attribute__((vector_size(8)));

// Both ends of a bracket after the caller's monotone steps, rounded to
// float: a lane is decided when it is usable and the two floats agree.
struct DecidedPair {
    FloatPair value;
    FloatMaskPair decided;
};

inline DecidedPair roundedEnds(maths::DoublePair down, maths::DoublePair up, maths::MaskPair usable)
{
    const FloatPair low = __builtin_convertvector(down, FloatPair);
    const FloatPair high = __builtin_convertvector(up, FloatPair);
    const FloatMaskPair agree = reinterpret_cast<FloatMaskPair>(low) == reinterpret_cast<FloatMaskPair>(high);
    return {low, agree & __builtin_convertvector(usable, FloatMaskPair)};
}

// In place: grid frequencies to squared warped frequencies, warpedSquare
// on each.
inline void warpFrequencies(float *values, int count, float inverseRate, float warpScale)
{
    int i = 0;
    for (; i + 2 <= count; i += 2) {
        const float angles[2] = {warpAngle(values[i], inverseRate), warpAngle(values[i + 1], inverseRate)};
        const maths::BracketPair b = maths::tanBracketPair(maths::DoublePair{angles[0], angles[1]});
        const DecidedPair tangents = roundedEnds(b.down, b.up, b.usable);
        for (int lane = 0; lane < 2; ++lane) {
            const float tangent = tangents.decided[lane] != 0 ? tangents.value[lane] : tanToFloat(angles[lane]);
            values[i + lane] = squaredWarp(tangent, warpScale);
        }
    }
    for (; i < count; ++i)
        values[i] = warpedSquare(values[i], inverseRate, warpScale);
}

// In place: power ratios to drawn decibels, ratioToDecibels on each.
inline void ratiosToDecibels(float *values, int count)
{
    int i = 0;
    for (; i + 2 <= count; i += 2) {
        const maths::BracketPair b = maths::log10BracketPairOfFloats(maths::DoublePair{values[i], values[i + 1]});
        for (int lane = 0; lane < 2; ++lane) {
            float db = 0.0f;
            bool decided = false;
            if (b.usable[lane] != 0) {
                db = finiteDecibels(10.0 * b.down[lane]);
                decided = sameFloatBits(db, finiteDecibels(10.0 * b.up[lane]));
            }
            values[i + lane] = decided ? db : ratioToDecibels(values[i + lane]);
        }
    }
    for (; i < count; ++i)
        values[i] = ratioToDecibels(values[i]);
}

} // namespace lintaq
