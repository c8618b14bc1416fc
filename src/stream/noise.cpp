#include "stream/noise.h"

#include <atomic>

namespace lintaq {

namespace {

std::atomic<uint32_t> noiseState{kNoiseSeed};

// x -> multiplier*x + increment, composed with itself by squaring.
struct AffineStep {
    uint32_t multiplier;
    uint32_t increment;
};

AffineStep compose(AffineStep first, AffineStep then)
{
    return {then.multiplier * first.multiplier, then.multiplier * first.increment + then.increment};
}

} // namespace

uint32_t jumpNoiseState(uint32_t x, uint32_t steps)
{
    AffineStep total{1u, 0u};
    AffineStep power{1664525u, 1013904223u};
    for (; steps != 0; steps >>= 1) {
        if (steps & 1u)
            total = compose(total, power);
        power = compose(power, power);
    }
    return total.multiplier * x + total.increment;
}

uint32_t reserveNoise(uint32_t steps)
{
    uint32_t start = noiseState.load(std::memory_order_relaxed);
    while (!noiseState.compare_exchange_weak(start, jumpNoiseState(start, steps),
                                             std::memory_order_relaxed)) {
    }
    return start;
}

uint32_t peekNoiseState()
{
    return noiseState.load(std::memory_order_relaxed);
}

void pokeNoiseState(uint32_t x)
{
    noiseState.store(x, std::memory_order_relaxed);
}

} // namespace lintaq
