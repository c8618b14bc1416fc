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

// The vector count (and, where results shift along the lanes, the number
// of interleaved chains) are compile-time constants so that states,
// coefficients and recent outputs live in registers. O is Ops, made a
// template parameter so that the routing branch not taken is never
// instantiated.
template <int D, int Chains, bool Starting, class O = Ops>
void runSteps(const LanePlan &plan, LaneState &state, int from, int to)
{
    using Vf = typename O::Vf;
    Vd a[D], b[D];
    Vf recent[kWavefrontSkew][D];
    Vd c[D], d[D], h[D], fb1[D], fb2[D], ff0[D], ff1[D], ff2[D], skewedIndex[D];
    typename O::Mask peakMask[D];
    LaneKind kind[D];
LINTAQ_UNROLL
    for (int j = 0; j < D; ++j) {
        const int lane = j * W;
        a[j] = O::load(state.a + lane);
        b[j] = O::load(state.b + lane);
LINTAQ_UNROLL
        for (int s = 0; s < kWavefrontSkew; ++s)
            recent[s][j] = O::toFloat(O::load(state.recent[s] + lane));
        c[j] = O::load(plan.c + lane), d[j] = O::load(plan.d + lane), h[j] = O::load(plan.h + lane);
        fb1[j] = O::load(plan.fb1 + lane), fb2[j] = O::load(plan.fb2 + lane);
        ff0[j] = O::load(plan.ff0 + lane), ff1[j] = O::load(plan.ff1 + lane), ff2[j] = O::load(plan.ff2 + lane);
        skewedIndex[j] = O::load(plan.skewedIndex + lane);
        peakMask[j] = O::lessEqual(O::set1(0.5), O::load(plan.peakLane + lane));
        kind[j] = plan.kind[j];
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
        lag[ch] = kWavefrontSkew * (plan.count[ch] - 1);
        lastVector[ch] = plan.lastLane[ch] / W;
        lastLane[ch] = plan.lastLane[ch] % W;
    }
    const int frameLength = plan.frameLength;
    const int stride = plan.stride;

    for (int t = from; t < to; ++t) {
        float in[kMaxChains] = {0.0f, 0.0f};
        if (t < frameLength)
            for (int ch = 0; ch < chains; ++ch)
                in[ch] = plan.samples[ch][stride * t];
        // Each lane takes the result its band's predecessor produced
        // kSkew steps ago; a chain's first band takes the new sample.
        const Vf *older = recent[kWavefrontSkew - 1];
        Vf xf[D];
        if constexpr (O::permutes) {
            // Results 0..23 and the new samples (lanes 24, 25) as 32
            // float lanes; one permutation serves two vectors.
            const auto low = O::join(older[0], D > 1 ? older[1] : older[0]);
            const auto high = O::join(D > 2 ? older[2] : older[0], O::pair(in[0], in[1]));
LINTAQ_UNROLL
            for (int j = 0; j < D; j += 2) {
                const auto routed = O::route(low, high, source[j / 2]);
                xf[j] = O::lowHalf(routed);
                if (j + 1 < D)
                    xf[j + 1] = O::highHalf(routed);
            }
        } else {
            // The new samples enter at the top of a vector shifted in front
            // of the first.
            const Vf fresh = Chains == 1 ? O::set1Float(in[0]) : O::pairAtTop(in[0], in[1]);
LINTAQ_UNROLL
            for (int j = 0; j < D; ++j) {
                const Vf below = j == 0 ? fresh : older[j - 1];
                if constexpr (Chains == 1)
                    xf[j] = O::shiftIn(below, older[j]);
                else
                    xf[j] = O::shiftInTwo(below, older[j]);
            }
        }
        Vf y[D];
LINTAQ_UNROLL
        for (int j = 0; j < D; ++j) {
            const Vd x = O::toDouble(xf[j]);
            Vd na = a[j], nb = b[j];
            switch (kind[j]) {
            case peakKind:
                y[j] = peakLanes<O>(xf[j], x, na, nb, c[j], d[j], h[j]);
                break;
            case biquadKind:
                y[j] = biquadLanes<O>(x, na, nb, fb1[j], fb2[j], ff0[j], ff1[j], ff2[j]);
                break;
            case mixedKind: {
                Vd pa = a[j], pb = b[j];
                const Vf py = peakLanes<O>(xf[j], x, pa, pb, c[j], d[j], h[j]);
                y[j] = biquadLanes<O>(x, na, nb, fb1[j], fb2[j], ff0[j], ff1[j], ff2[j]);
                y[j] = O::selectFloat(peakMask[j], py, y[j]);
                na = O::select(peakMask[j], pa, na);
                nb = O::select(peakMask[j], pb, nb);
                break;
            }
            default:
                y[j] = xf[j];
                break;
            }
            if constexpr (Starting) {
                const auto active = O::lessEqual(skewedIndex[j], O::set1(static_cast<double>(t)));
                na = O::select(active, na, a[j]);
                nb = O::select(active, nb, b[j]);
            }
            a[j] = na;
            b[j] = nb;
        }
LINTAQ_UNROLL
        for (int s = kWavefrontSkew - 1; s > 0; --s)
LINTAQ_UNROLL
            for (int j = 0; j < D; ++j)
                recent[s][j] = recent[s - 1][j];
LINTAQ_UNROLL
        for (int j = 0; j < D; ++j)
            recent[0][j] = y[j];
        // Each chain's last band finishes its sample lag steps behind.
        for (int ch = 0; ch < chains; ++ch) {
            const int done = t - lag[ch];
            if (done >= 0 && done < frameLength) {
                float out = 0.0f;
LINTAQ_UNROLL
                for (int j = 0; j < D; ++j)
                    if (j == lastVector[ch])
                        out = O::extract(y[j], lastLane[ch]);
                plan.samples[ch][stride * done] = out;
            }
        }
    }
LINTAQ_UNROLL
    for (int j = 0; j < D; ++j) {
        const int lane = j * W;
        O::store(state.a + lane, a[j]);
        O::store(state.b + lane, b[j]);
LINTAQ_UNROLL
        for (int s = 0; s < kWavefrontSkew; ++s)
            O::store(state.recent[s] + lane, O::toDouble(recent[s][j]));
    }
}

template <int D, int Chains>
void runStepsFor(const LanePlan &plan, LaneState &state, int from, int to, bool starting)
{
    if (starting)
        runSteps<D, Chains, true>(plan, state, from, to);
    else
        runSteps<D, Chains, false>(plan, state, from, to);
}

// One chain of twelve bands never needs more than (12 + W - 1) / W vectors.
template <int D>
void runShifting(const LanePlan &plan, LaneState &state, int from, int to, bool starting)
{
    if constexpr (D <= (12 + W - 1) / W) {
        if (plan.chains == 1) {
            runStepsFor<D, 1>(plan, state, from, to, starting);
            return;
        }
    }
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

// Two chains of twelve bands: every lane in use.
void runLaneSteps(const LanePlan &plan, LaneState &state, int from, int to, bool starting)
{
    dispatch(plan, state, from, to, starting, std::make_integer_sequence<int, (2 * 12 + W - 1) / W>{});
}

} // namespace
} // namespace lintaq::simd
