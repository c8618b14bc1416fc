// The wavefront's step loop, written once over an instruction set's vector
// operations (Ops, see lane_types.h). Each set's translation unit defines
// Ops, includes this file and instantiates it; everything here has
// internal linkage so no wider code can be shared by mistake.
#pragma once

#include <utility>

#include "filter/section_lanes.h"
#include "stream/lane_plan.h"
#include "stream/lane_types.h"

namespace lintaq::simd {
namespace {

// The outputs of the last kWavefrontSkew steps are a ring of as many
// slots: the slot a step reads (its predecessors' results kSkew steps ago)
// is the slot it then writes, so nothing moves between steps. The steps are
// unrolled by kSkew with the slot a compile-time constant, so the slots
// keep fixed registers (or spill slots) instead of being copied along.
template <int D, class O>
struct StepRegisters {
    using Vf = typename O::Vf;
    Vd a[D], b[D];
    Vf ring[kWavefrontSkew][D];
    Vd c[D], d[D], h[D], fb1[D], fb2[D], ff0[D], ff1[D], ff2[D], skewedIndex[D];
    typename O::Mask peakMask[D], passMask[D];
    LaneKind kind[D];
};

// The vector count (and, where results shift along the lanes, the number
// of interleaved chains) are compile-time constants so that states,
// coefficients and recent outputs live in registers. O is Ops, made a
// template parameter so that the routing branch not taken is never
// instantiated.
template <int D, int Chains, bool Starting, bool Passing, class O = Ops>
void runSteps(const LanePlan &plan, LaneState &state, int from, int to)
{
    using Vf = typename O::Vf;
    StepRegisters<D, O> r;
LINTAQ_UNROLL
    for (int j = 0; j < D; ++j) {
        const int lane = j * W;
        r.a[j] = O::load(state.a + lane);
        r.b[j] = O::load(state.b + lane);
        // Step from + p reads slot p: the results of step from + p - kSkew.
LINTAQ_UNROLL
        for (int p = 0; p < kWavefrontSkew; ++p)
            r.ring[p][j] = O::toFloat(O::load(state.recent[kWavefrontSkew - 1 - p] + lane));
        r.c[j] = O::load(plan.c + lane), r.d[j] = O::load(plan.d + lane), r.h[j] = O::load(plan.h + lane);
        r.fb1[j] = O::load(plan.fb1 + lane), r.fb2[j] = O::load(plan.fb2 + lane);
        r.ff0[j] = O::load(plan.ff0 + lane), r.ff1[j] = O::load(plan.ff1 + lane), r.ff2[j] = O::load(plan.ff2 + lane);
        r.skewedIndex[j] = O::load(plan.skewedIndex + lane);
        r.peakMask[j] = O::lessEqual(O::set1(0.5), O::load(plan.peakLane + lane));
        if constexpr (Passing)
            r.passMask[j] = O::lessEqual(O::set1(0.5), O::load(plan.passLane + lane));
        r.kind[j] = plan.kind[j];
    }
    [[maybe_unused]] typename O::Index source[(D + 1) / 2];
    if constexpr (O::permutes) {
LINTAQ_UNROLL
        for (int j = 0; j < D; j += 2)
            source[j / 2] = O::loadIndex(plan.source + j * W);
    }
    const int chains = plan.chains;
    // Where each chain's last band sits, and how far its output trails.
    int lag[kMaxChains], lastVector[kMaxChains], lastLane[kMaxChains];
    for (int ch = 0; ch < chains; ++ch) {
        lag[ch] = plan.lag[ch];
        lastVector[ch] = plan.lastLane[ch] / W;
        lastLane[ch] = plan.lastLane[ch] % W;
    }
    const int frameLength = plan.frameLength;
    const int stride = plan.stride;

    // One vector's sections for one step: input xf, result returned, state kept.
    auto section = [&](int t, int j, Vf xf) __attribute__((always_inline)) {
        const Vd x = O::toDouble(xf);
        Vd na = r.a[j], nb = r.b[j];
        Vf y;
        switch (r.kind[j]) {
        case peakKind:
            y = peakLanes<O>(xf, x, na, nb, r.c[j], r.d[j], r.h[j]);
            break;
        case biquadKind:
            y = biquadLanes<O>(x, na, nb, r.fb1[j], r.fb2[j], r.ff0[j], r.ff1[j], r.ff2[j]);
            break;
        case mixedKind: {
            Vd pa = r.a[j], pb = r.b[j];
            const Vf py = peakLanes<O>(xf, x, pa, pb, r.c[j], r.d[j], r.h[j]);
            y = biquadLanes<O>(x, na, nb, r.fb1[j], r.fb2[j], r.ff0[j], r.ff1[j], r.ff2[j]);
            y = O::selectFloat(r.peakMask[j], py, y);
            na = O::select(r.peakMask[j], pa, na);
            nb = O::select(r.peakMask[j], pb, nb);
            break;
        }
        default:
            y = xf;
            // Kept out of the loops of plans without passing lanes: their
            // masks alone cost registers the other vectors need.
            if constexpr (Passing) {
                if (r.kind[j] == peakPassingKind)
                    y = O::selectFloat(r.passMask[j], xf, peakLanes<O>(xf, x, na, nb, r.c[j], r.d[j], r.h[j]));
                else if (r.kind[j] == biquadPassingKind)
                    y = O::selectFloat(r.passMask[j], xf,
                                       biquadLanes<O>(x, na, nb, r.fb1[j], r.fb2[j], r.ff0[j], r.ff1[j], r.ff2[j]));
            }
            break;
        }
        if constexpr (Starting) {
            const auto active = O::lessEqual(r.skewedIndex[j], O::set1(static_cast<double>(t)));
            na = O::select(active, na, r.a[j]);
            nb = O::select(active, nb, r.b[j]);
        }
        r.a[j] = na;
        r.b[j] = nb;
        return y;
    };

    // One step, reading and then writing ring slot `slot`.
    auto step = [&](int t, Vf(&slot)[D]) __attribute__((always_inline)) {
        // Each lane takes the result its band's predecessor produced
        // kSkew steps ago; a chain's first band takes the new sample.
        if constexpr (O::permutes) {
            float in[kMaxChains] = {0.0f, 0.0f};
            if (t < frameLength)
                for (int ch = 0; ch < chains; ++ch)
                    in[ch] = plan.samples[ch][stride * t];
            // Results 0..23 and the new samples (lanes 24, 25) as 32
            // float lanes; one permutation serves two vectors.
            Vf xf[D];
            const auto low = O::join(slot[0], D > 1 ? slot[1] : slot[0]);
            const auto high = O::join(D > 2 ? slot[2] : slot[0], O::pair(in[0], in[1]));
LINTAQ_UNROLL
            for (int j = 0; j < D; j += 2) {
                const auto routed = O::route(low, high, source[j / 2]);
                xf[j] = O::lowHalf(routed);
                if (j + 1 < D)
                    xf[j + 1] = O::highHalf(routed);
            }
LINTAQ_UNROLL
            for (int j = 0; j < D; ++j)
                slot[j] = section(t, j, xf[j]);
        } else {
            // The new samples enter at the top of a vector shifted in front
            // of the first. From the last vector down, so that each vector
            // still finds the older results of the one below it.
            const bool fresh = t < frameLength;
            const float first = fresh ? plan.samples[0][stride * t] : 0.0f;
            const float second = Chains == 2 && fresh ? plan.samples[1][stride * t] : 0.0f;
LINTAQ_UNROLL
            for (int j = D - 1; j >= 0; --j) {
                const Vf below = j > 0 ? slot[j - 1] : Chains == 1 ? O::set1Float(first) : O::pairAtTop(first, second);
                const Vf xf = Chains == 1 ? O::shiftIn(below, slot[j]) : O::shiftInTwo(below, slot[j]);
                slot[j] = section(t, j, xf);
            }
        }
        // Each chain's last band finishes its sample lag steps behind.
        for (int ch = 0; ch < chains; ++ch) {
            const int done = t - lag[ch];
            if (done >= 0 && done < frameLength) {
                float out = 0.0f;
LINTAQ_UNROLL
                for (int j = 0; j < D; ++j)
                    if (j == lastVector[ch])
                        out = O::extract(slot[j], lastLane[ch]);
                plan.samples[ch][stride * done] = out;
            }
        }
    };
    static_assert(kWavefrontSkew == 3, "the unrolled steps below name every ring slot");
    int t = from;
    for (; t + 3 <= to; t += 3) {
        step(t, r.ring[0]);
        step(t + 1, r.ring[1]);
        step(t + 2, r.ring[2]);
    }
    if (t < to)
        step(t++, r.ring[0]);
    if (t < to)
        step(t++, r.ring[1]);
    // The last step wrote slot (steps - 1) mod kSkew: the newest results.
    const int newest = (to - from + kWavefrontSkew - 1) % kWavefrontSkew;
LINTAQ_UNROLL
    for (int j = 0; j < D; ++j) {
        const int lane = j * W;
        O::store(state.a + lane, r.a[j]);
        O::store(state.b + lane, r.b[j]);
LINTAQ_UNROLL
        for (int s = 0; s < kWavefrontSkew; ++s)
            O::store(state.recent[s] + lane, O::toDouble(r.ring[(newest - s + kWavefrontSkew) % kWavefrontSkew][j]));
    }
}

template <int D, int Chains>
void runStepsFor(const LanePlan &plan, LaneState &state, int from, int to, bool starting)
{
    constexpr bool canPass = lanesCanPass(W, Ops::permutes);
    // Only plans with passing lanes need more vectors than their bands fill.
    constexpr bool onlyPassing = D > (Chains * 12 + W - 1) / W;
    // The few starting steps of any plan share one loop.
    if (starting)
        runSteps<D, Chains, true, canPass>(plan, state, from, to);
    else if constexpr (onlyPassing)
        runSteps<D, Chains, false, canPass>(plan, state, from, to);
    else if (canPass && plan.passing)
        runSteps<D, Chains, false, canPass>(plan, state, from, to);
    else
        runSteps<D, Chains, false, false>(plan, state, from, to);
}

static_assert(Ops::permutes || maxShiftingVectors(2, W) * W <= kMaxLanes, "the plan has a lane for every vector's");

template <int D>
void runShifting(const LanePlan &plan, LaneState &state, int from, int to, bool starting)
{
    if constexpr (D <= maxShiftingVectors(1, W)) {
        if (plan.chains == 1) {
            runStepsFor<D, 1>(plan, state, from, to, starting);
            return;
        }
    }
    if constexpr (D <= maxShiftingVectors(2, W))
        runStepsFor<D, 2>(plan, state, from, to, starting);
}

template <int... Counts>
void dispatch(const LanePlan &plan, LaneState &state, int from, int to, bool starting,
              std::integer_sequence<int, Counts...>)
{
    if constexpr (Ops::permutes) {
        ((plan.vectors == Counts + 1 ? runStepsFor<Counts + 1, 0>(plan, state, from, to, starting) : void()), ...);
    } else {
        ((plan.vectors == Counts + 1 ? runShifting<Counts + 1>(plan, state, from, to, starting) : void()), ...);
    }
}

void runLaneSteps(const LanePlan &plan, LaneState &state, int from, int to, bool starting)
{
    constexpr int most = Ops::permutes ? (2 * 12 + W - 1) / W : maxShiftingVectors(2, W);
    dispatch(plan, state, from, to, starting, std::make_integer_sequence<int, most>{});
}

} // namespace
} // namespace lintaq::simd
