// The raised-cosine crossfade that joins consecutive half-overlapping frames.
#pragma once

namespace lintaq {

// Fills the rising half of the window, n entries; w[i] + w[n-1-i] = 1.
void makeFadeWindow(float *window, int n);

// acc[i] += frame[i]*w[i] and acc[2n-1-i] += frame[2n-1-i]*w[i], i < n.
void addWindowed(float *acc, const float *frame, const float *window, int n);

} // namespace lintaq
