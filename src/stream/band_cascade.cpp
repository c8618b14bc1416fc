#include "stream/band_cascade.h"

#include <tuple>
#include <utility>
#include <variant>

#include "filter/section_kernels.h"

namespace lintaq {

void runCascadeReference(float *frame, const CascadeBand *bands, int count, int headLen, int tailLen,
                         Direction direction)
{
    for (int k = 0; k < count; ++k)
        runBandFrame(frame, *bands[k].band, bands[k].state, headLen, tailLen, direction);
}

namespace {

using Kernel = std::variant<PeakKernel, BiquadKernel>;

Kernel makeKernel(const CascadeBand &entry, Direction direction)
{
    const bool forward = direction == Direction::forward;
    const double s0 = forward ? entry.state[0] : 0.0;
    const double s1 = forward ? entry.state[1] : 0.0;
    if (usesPeakSection(*entry.band))
        return PeakKernel(*entry.band, s0, s1);
    return BiquadKernel(*entry.band, s0, s1);
}

// Sample index `i` of a run of `length` samples starting at `first`,
// walked forwards or backwards.
template <bool Forward>
inline float &sampleAt(float *first, int length, int i)
{
    return Forward ? first[i] : first[length - 1 - i];
}

// Stage k handles sample t - k at step t. Within the run every stage sees
// its samples in order, each after the stage before it has finished it,
// so the result equals running the stages one after another. In the
// steady part the samples between stages stay in registers: one load and
// one store per step.
template <bool Forward, typename... Kernels, size_t... Stage>
[[gnu::always_inline]] inline void runWavefront(float *first, int length, std::index_sequence<Stage...>,
                                                Kernels &...kernels)
{
    constexpr int depth = sizeof...(Kernels);
    const auto at = [&](int i) -> float & { return sampleAt<Forward>(first, length, i); };
    const auto stepIfInside = [&](auto &kernel, int i) {
        if (i >= 0 && i < length)
            at(i) = kernel.step(at(i));
    };
    int t = 0;
    for (; t < depth - 1 && t < length; ++t)
        (stepIfInside(kernels, t - static_cast<int>(Stage)), ...);
    if (t < length) {
        // waiting[s]: the sample stage s takes next, as the stage before left it.
        float waiting[depth];
        ((waiting[Stage] = Stage == 0 ? 0.0f : at(t - static_cast<int>(Stage))), ...);
        for (; t < length; ++t) {
            waiting[0] = at(t);
            const float done[depth] = {kernels.step(waiting[Stage])...};
            at(t - (depth - 1)) = done[depth - 1];
            for (int s = depth - 1; s > 0; --s)
                waiting[s] = done[s - 1];
        }
        for (int s = 1; s < depth; ++s)
            at(t - s) = waiting[s];
    }
    // Here t == length, whichever way the run began, and the later stages
    // need depth - 1 more steps to finish the last sample. Counting those steps,
    // rather than comparing t with length + depth - 1, leaves no sum that
    // could overflow for the compiler to doubt (lengths are a frame's, a
    // few thousand samples, so it never could).
    for (int drain = 0; drain < depth - 1; ++drain, ++t)
        (stepIfInside(kernels, t - static_cast<int>(Stage)), ...);
}

// Kernels are taken by value so their coefficients and cells can live in
// registers for the whole run.
template <typename... Kernels>
void runGroup(float *frame, const CascadeBand *entries, int headLen, int tailLen, Direction direction,
              Kernels... kernels)
{
    constexpr auto stages = std::index_sequence_for<Kernels...>{};
    if (direction == Direction::backward) {
        runWavefront<false>(frame, headLen + tailLen, stages, kernels...);
        return;
    }
    runWavefront<true>(frame, headLen, stages, kernels...);
    int k = 0;
    (kernels.save(entries[k++].state), ...);
    runWavefront<true>(frame + headLen, tailLen, stages, kernels...);
}

} // namespace

void runCascade(float *frame, const CascadeBand *bands, int count, int headLen, int tailLen,
                Direction direction)
{
    int k = 0;
    for (; k + 4 <= count; k += 4) {
        Kernel a = makeKernel(bands[k], direction), b = makeKernel(bands[k + 1], direction),
               c = makeKernel(bands[k + 2], direction), d = makeKernel(bands[k + 3], direction);
        std::visit([&](auto &...kernels) { runGroup(frame, bands + k, headLen, tailLen, direction, kernels...); },
                   a, b, c, d);
    }
    if (count - k >= 2) {
        Kernel a = makeKernel(bands[k], direction), b = makeKernel(bands[k + 1], direction);
        std::visit([&](auto &...kernels) { runGroup(frame, bands + k, headLen, tailLen, direction, kernels...); },
                   a, b);
        k += 2;
    }
    if (k < count) {
        Kernel a = makeKernel(bands[k], direction);
        std::visit([&](auto &kernel) { runGroup(frame, bands + k, headLen, tailLen, direction, kernel); }, a);
    }
}

} // namespace lintaq
