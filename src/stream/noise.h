// The process-wide frame noise generator: one linear congruential sequence
// shared by every instance, drawn in call order.
#pragma once

#include <cstdint>

namespace lintaq {

inline constexpr uint32_t kNoiseSeed = 688332804u;

inline uint32_t nextNoiseState(uint32_t x)
{
    return x * 1664525u + 1013904223u;
}

// A noise sample in [-3.2768e-16, 3.2767e-16]: small enough to vanish in
// any audible signal, large enough to keep silence off exact zero.
inline float noiseValue(uint32_t x)
{
    const int32_t v = static_cast<int32_t>(x >> 16) - 32768;
    return static_cast<float>(static_cast<double>(v) * 1e-20);
}

// Reserves the next `steps` states of the sequence and returns the state
// before them; the caller generates its stretch from that local copy.
// Lock-free and safe across threads: no two reservations overlap.
uint32_t reserveNoise(uint32_t steps);

// The state `steps` advances after x, in O(log steps).
uint32_t jumpNoiseState(uint32_t x, uint32_t steps);

// For tests: read or set the shared state.
uint32_t peekNoiseState();
void pokeNoiseState(uint32_t x);

} // namespace lintaq
