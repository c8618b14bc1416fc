// Two-phase FIR interpolator and odd-phase FIR decimator that move one hop
// to twice the host rate and back. Both carry a history across hops, so a
// stream cut into hops filters exactly as one continuous buffer.
#pragma once

#include "stream/frame_geometry.h"
#include "stream/kernel_set.h"

namespace lintaq {

// The long interpolator keeps P - 1 of its host-rate samples.
inline constexpr int kMaxInterpolatorHistory = kLongUpTaps / 2 - 1;

// Writes 2n double-rate samples for n host-rate samples (n >= P-1, where
// tableLength = 2P). history holds the previous hop's last P-1 samples,
// oldest first, and is updated.
void interpolate2x(float *dest, int outCount, const float *src, int n, const double *table,
                   float *history, int tableLength, KernelSet set);

// The same in pieces: output pairs [from, to) of a hop (2*from..2*to-1 of
// dest) read src up to sample to-1 and the history, which stays as it is;
// once the hop is complete, keepInterpolatorHistory moves it on. A null
// history: the tableLength/2 - 1 samples before src hold it.
void interpolate2xPairs(float *dest, const float *src, int from, int to, const double *table,
                        const float *history, int tableLength, KernelSet set);
void keepInterpolatorHistory(float *history, const float *src, int n, int tableLength);

// The same, one output pair at a time as the sums read: the reference the
// faster version above is tested against.
void interpolate2xReference(float *dest, int outCount, const float *src, int n, const double *table,
                            float *history, int tableLength);

// Writes outCount host-rate samples from 2*outCount double-rate samples,
// keeping the odd positions. history holds the previous input's last K
// samples, oldest first, and is updated.
void decimate2x(float *dest, const float *src, int outCount, float *history, const double *table,
                int taps, KernelSet set);

} // namespace lintaq
