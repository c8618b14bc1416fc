// The compensation delay: a ring of `slots` samples applied in place.
#pragma once

namespace lintaq {

// Each sample is swapped with the ring slot at `position`, which then
// advances, wrapping after slot slots-1. A position left beyond the ring by
// a larger ring size is used once more and then wraps to 0.
inline void runDelayRing(float *samples, int count, float *ring, int &position, int slots)
{
    int pos = position;
    for (int i = 0; i < count; ++i) {
        const float delayed = ring[pos];
        ring[pos] = samples[i];
        samples[i] = delayed;
        pos = pos <= slots - 2 ? pos + 1 : 0;
    }
    position = pos;
}

} // namespace lintaq
