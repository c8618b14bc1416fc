#include "stream/band_wavefront.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "filter/section_kernels.h"
#include "stream/vector_kernels.h"

namespace lintaq {

namespace {

using simd::LanePlan;
using simd::LaneState;

void fillLane(LanePlan &plan, int lane, const PeqBandState &band, int bandIndex)
{
    plan.skewedIndex[lane] = double(kWavefrontSkew * bandIndex);
    if (usesPeakSection(band)) {
        const PeakKernel kernel(band);
        plan.peakLane[lane] = 1.0;
        plan.c[lane] = kernel.c, plan.d[lane] = kernel.d, plan.h[lane] = kernel.h;
    } else {
        plan.fb1[lane] = band.fb1, plan.fb2[lane] = band.fb2;
        plan.ff0[lane] = band.ff0, plan.ff1[lane] = band.ff1, plan.ff2[lane] = band.ff2;
    }
}

int vectorsNeeded(const CascadeChain *chains, int chainCount, int width, bool permutes)
{
    int longest = 0, total = 0;
    for (int ch = 0; ch < chainCount; ++ch) {
        longest = std::max(longest, chains[ch].count);
        total += chains[ch].count;
    }
    return ((permutes ? total : longest * chainCount) + width - 1) / width;
}

int lanePosition(const LanePlan &plan, int chain, int band)
{
    return plan.laneOf[chain][band];
}

// Shifting layout: the chains interleaved, bands in order.
// Permuting layout: every peak lane first, then every biquad lane, so at
// most one vector mixes the two kinds.
void placeLanes(LanePlan &plan, const CascadeChain *chains, int chainCount, int width, bool permutes)
{
    int peaks = 0;
    for (int ch = 0; ch < chainCount; ++ch)
        for (int k = 0; k < chains[ch].count; ++k)
            peaks += usesPeakSection(*chains[ch].bands[k].band);
    plan.vectors = vectorsNeeded(chains, chainCount, width, permutes);
    int nextPeak = 0, nextBiquad = peaks;
    for (int ch = 0; ch < chainCount; ++ch)
        for (int k = 0; k < chains[ch].count; ++k) {
            if (!permutes)
                plan.laneOf[ch][k] = k * chainCount + ch;
            else
                plan.laneOf[ch][k] = usesPeakSection(*chains[ch].bands[k].band) ? nextPeak++ : nextBiquad++;
            plan.source[plan.laneOf[ch][k]] = k == 0 ? simd::kFreshLane + ch : plan.laneOf[ch][k - 1];
        }
}

simd::LaneKind kindOf(const LanePlan &plan, const bool *used, int first, int width)
{
    bool peak = false, biquad = false;
    for (int lane = first; lane < first + width; ++lane)
        if (used[lane])
            (plan.peakLane[lane] != 0.0 ? peak : biquad) = true;
    if (peak && biquad)
        return simd::mixedKind;
    return peak ? simd::peakKind : biquad ? simd::biquadKind : simd::unusedKind;
}

// Lanes without a band stay at zero coefficients: they compute harmless
// values that nothing reads.
void makePlan(LanePlan &plan, LaneState &state, const CascadeChain *chains, int chainCount, int width,
              bool permutes, int frameLength, Direction direction)
{
    std::memset(&plan, 0, sizeof plan);
    std::memset(&state, 0, sizeof state);
    plan.chains = chainCount;
    plan.frameLength = frameLength;
    plan.stride = direction == Direction::forward ? 1 : -1;
    const bool forward = direction == Direction::forward;
    placeLanes(plan, chains, chainCount, width, permutes);
    bool used[simd::kMaxLanes] = {};
    for (int ch = 0; ch < chainCount; ++ch) {
        const CascadeChain &chain = chains[ch];
        plan.count[ch] = chain.count;
        plan.samples[ch] = forward ? chain.samples : chain.samples + frameLength - 1;
        plan.lastLane[ch] = lanePosition(plan, ch, chain.count - 1);
        for (int k = 0; k < chain.count; ++k) {
            const int lane = lanePosition(plan, ch, k);
            used[lane] = true;
            fillLane(plan, lane, *chain.bands[k].band, k);
            if (forward) {
                state.a[lane] = chain.bands[k].state[0];
                state.b[lane] = chain.bands[k].state[1];
            }
        }
    }
    for (int v = 0; v < plan.vectors; ++v)
        plan.kind[v] = kindOf(plan, used, v * width, width);
}

// Band k of every chain has just finished its hop: store its carried state
// as the scalar frame driver does (a peak's flushed) and go on from there.
void saveBand(const LanePlan &plan, LaneState &state, const CascadeChain *chains, int k)
{
    for (int ch = 0; ch < plan.chains; ++ch) {
        if (k >= chains[ch].count)
            continue;
        const int lane = lanePosition(plan, ch, k);
        const CascadeBand &entry = chains[ch].bands[k];
        const double reached[2] = {state.a[lane], state.b[lane]};
        storeCarriedState(*entry.band, reached, entry.state);
        state.a[lane] = entry.state[0];
        state.b[lane] = entry.state[1];
    }
}

// Band k of every chain has just taken its last sample before the hand-over
// point: note the state it reached, unflushed.
void noteBand(const LanePlan &plan, const LaneState &state, const CascadeChain *chains, int k)
{
    for (int ch = 0; ch < plan.chains; ++ch)
        if (k < chains[ch].count) {
            const int lane = lanePosition(plan, ch, k);
            chains[ch].bands[k].state[0] = state.a[lane];
            chains[ch].bands[k].state[1] = state.b[lane];
        }
}

} // namespace

void startWave(WaveRun &run, const CascadeChain *chains, int chainCount, int length, Direction direction,
               KernelSet set, int handOverAt, HandOver handOver)
{
    assert(chainCount >= 1 && chainCount <= simd::kMaxChains);
    const VectorKernels &kernels = *vectorKernels(set);
    makePlan(run.plan, run.state, chains, chainCount, kernels.width, kernels.permutes, length, direction);
    int longest = 0;
    for (int ch = 0; ch < chainCount; ++ch)
        longest = std::max(longest, chains[ch].count);
    run.laneSteps = kernels.laneSteps;
    run.handOver = handOver;
    // Until step `settled` some lanes wait for their first sample; the last
    // band's last sample is done at step `end` - 1.
    run.settled = kWavefrontSkew * (longest - 1);
    run.end = longest == 0 || length <= 0 ? 0 : length + run.settled;
    run.t = 0;
    run.handOverAt = handOver == HandOver::none ? 0 : handOverAt;
    run.handedOver = run.handOverAt > 0 ? 0 : longest;
    run.longest = longest;
}

// Band k's state is handed over right after the band takes sample
// handOverAt - 1, at step handOverAt - 1 + kSkew*k: before later samples
// change it. Runs of steps stop there and where the last lane has started.
bool continueWave(WaveRun &run, const CascadeChain *chains, int maxSteps)
{
    if (run.end == 0)
        return true;
    const int limit = std::min(run.end, run.t + std::max(maxSteps, 0));
    for (;;) {
        while (run.handedOver < run.longest && run.t == run.handOverAt + kWavefrontSkew * run.handedOver) {
            if (run.handOver == HandOver::carried)
                saveBand(run.plan, run.state, chains, run.handedOver);
            else
                noteBand(run.plan, run.state, chains, run.handedOver);
            ++run.handedOver;
        }
        if (run.t >= limit)
            break;
        int stop = limit;
        if (run.t < run.settled)
            stop = std::min(stop, run.settled);
        if (run.handedOver < run.longest)
            stop = std::min(stop, run.handOverAt + kWavefrontSkew * run.handedOver);
        if (run.t < stop)
            run.laneSteps(run.plan, run.state, run.t, stop, run.t < run.settled);
        run.t = stop;
    }
    return run.t >= run.end;
}

int waveVectors(const CascadeChain *chains, int chainCount, KernelSet set)
{
    const VectorKernels &kernels = *vectorKernels(set);
    return vectorsNeeded(chains, chainCount, kernels.width, kernels.permutes);
}

void runWavefront(const CascadeChain *chains, int chainCount, int headLen, int tailLen,
                  Direction direction, KernelSet set)
{
    const bool forward = direction == Direction::forward;
    WaveRun run;
    startWave(run, chains, chainCount, headLen + tailLen, direction, set, headLen,
              forward ? HandOver::carried : HandOver::none);
    continueWave(run, chains, run.end);
}

void runWavefrontSpan(const CascadeChain *chains, int chainCount, int length, KernelSet set)
{
    WaveRun run;
    startWave(run, chains, chainCount, length, Direction::forward, set, length, HandOver::reached);
    continueWave(run, chains, run.end);
}

} // namespace lintaq
