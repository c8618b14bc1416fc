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

void fillLane(LanePlan &plan, int lane, const PeqBandState &band, int position)
{
    plan.skewedIndex[lane] = double(kWavefrontSkew * position);
    if (usesPeakSection(band)) {
        const PeakKernel kernel(band);
        plan.peakLane[lane] = 1.0;
        plan.c[lane] = kernel.c, plan.d[lane] = kernel.d, plan.h[lane] = kernel.h;
    } else {
        plan.fb1[lane] = band.fb1, plan.fb2[lane] = band.fb2;
        plan.ff0[lane] = band.ff0, plan.ff1[lane] = band.ff1, plan.ff2[lane] = band.ff2;
    }
}

bool isPeak(const CascadeChain &chain, int k)
{
    return usesPeakSection(*chain.bands[k].band);
}

// Where each band of each chain sits: its position (the step lag, in units
// of kSkew, behind the chain's new sample) and, from it, its lane.
struct LaneLayout {
    int vectors;
    int positions;
    int positionOf[simd::kMaxChains][12];
};

// Positions in band order: what the permuting sets use, and the shifting
// sets where nothing is gained by passing lanes.
LaneLayout bandOrderLayout(const CascadeChain *chains, int chainCount, int width, bool permutes)
{
    LaneLayout layout{};
    int total = 0;
    for (int ch = 0; ch < chainCount; ++ch) {
        layout.positions = std::max(layout.positions, chains[ch].count);
        total += chains[ch].count;
        for (int k = 0; k < chains[ch].count; ++k)
            layout.positionOf[ch][k] = k;
    }
    layout.vectors = ((permutes ? total : layout.positions * chainCount) + width - 1) / width;
    return layout;
}

// Shifting sets: each vector holds the same positions of every chain. A
// vector is given the kind of the first band still to be placed, and a
// chain whose next band is of the other kind passes its input on through
// the vector's remaining positions.
LaneLayout kindAlignedLayout(const CascadeChain *chains, int chainCount, int width)
{
    LaneLayout layout{};
    const int perVector = width / chainCount;
    int next[simd::kMaxChains] = {};
    auto left = [&] {
        for (int ch = 0; ch < chainCount; ++ch)
            if (next[ch] < chains[ch].count)
                return true;
        return false;
    };
    int position = 0;
    while (left() && position + perVector <= simd::kMaxPositions) {
        int first = 0;
        while (next[first] >= chains[first].count)
            ++first;
        const bool peak = isPeak(chains[first], next[first]);
        for (int slot = 0; slot < perVector; ++slot, ++position)
            for (int ch = 0; ch < chainCount; ++ch)
                if (next[ch] < chains[ch].count && isPeak(chains[ch], next[ch]) == peak) {
                    layout.positionOf[ch][next[ch]] = position;
                    layout.positions = position + 1;
                    ++next[ch];
                }
    }
    layout.vectors = left() ? simd::kMaxVectors + 1 : (layout.positions * chainCount + width - 1) / width;
    return layout;
}

// Vector operations a step costs (section_lanes.h): a section and the
// input's widening and move; both sections and three selects where the
// kinds mix; a blend where lanes pass their input on.
int stepCost(const LaneLayout &layout, const CascadeChain *chains, int chainCount, int width)
{
    constexpr int kPeak = 14, kBiquad = 12, kMixed = 29, kPass = 2;
    bool peak[simd::kMaxVectors] = {}, biquad[simd::kMaxVectors] = {}, passes[simd::kMaxVectors] = {};
    for (int ch = 0; ch < chainCount; ++ch) {
        bool band[simd::kMaxPositions] = {};
        for (int k = 0; k < chains[ch].count; ++k) {
            const int position = layout.positionOf[ch][k];
            const int vector = (position * chainCount + ch) / width;
            band[position] = true;
            if (isPeak(chains[ch], k))
                peak[vector] = true;
            else
                biquad[vector] = true;
        }
        const int last = chains[ch].count > 0 ? layout.positionOf[ch][chains[ch].count - 1] : 0;
        for (int position = 0; position < last; ++position)
            passes[(position * chainCount + ch) / width] |= !band[position];
    }
    int cost = 0;
    for (int v = 0; v < layout.vectors; ++v)
        cost += (peak[v] && biquad[v] ? kMixed : peak[v] ? kPeak : biquad[v] ? kBiquad : 0) + (passes[v] ? kPass : 0);
    return cost;
}

LaneLayout chooseLayout(const CascadeChain *chains, int chainCount, int width, bool permutes)
{
    const LaneLayout inOrder = bandOrderLayout(chains, chainCount, width, permutes);
    // With one position a vector, passing lanes could only separate chains.
    if (!simd::lanesCanPass(width, permutes) || width / chainCount < 2)
        return inOrder;
    const LaneLayout aligned = kindAlignedLayout(chains, chainCount, width);
    if (aligned.vectors > simd::maxShiftingVectors(chainCount, width))
        return inOrder;
    return stepCost(aligned, chains, chainCount, width) < stepCost(inOrder, chains, chainCount, width) ? aligned
                                                                                                      : inOrder;
}

// Shifting layout: lane position * chains + chain, the chains interleaved.
// Permuting layout: every peak lane first, then every biquad lane, so at
// most one vector mixes the two kinds.
void placeLanes(LanePlan &plan, const LaneLayout &layout, const CascadeChain *chains, int chainCount, bool permutes)
{
    int peaks = 0;
    for (int ch = 0; ch < chainCount; ++ch)
        for (int k = 0; k < chains[ch].count; ++k)
            peaks += isPeak(chains[ch], k);
    plan.vectors = layout.vectors;
    plan.positions = layout.positions;
    int nextPeak = 0, nextBiquad = peaks;
    for (int ch = 0; ch < chainCount; ++ch) {
        for (int p = 0; p < simd::kMaxPositions; ++p)
            plan.bandAt[ch][p] = -1;
        for (int k = 0; k < chains[ch].count; ++k) {
            const int position = layout.positionOf[ch][k];
            plan.bandAt[ch][position] = k;
            if (!permutes)
                plan.laneOf[ch][k] = position * chainCount + ch;
            else
                plan.laneOf[ch][k] = isPeak(chains[ch], k) ? nextPeak++ : nextBiquad++;
            plan.source[plan.laneOf[ch][k]] = k == 0 ? simd::kFreshLane + ch : plan.laneOf[ch][k - 1];
        }
    }
}

// Lanes that pass their input on only ever share a vector with bands of
// one kind (kindAlignedLayout).
simd::LaneKind kindOf(const LanePlan &plan, const bool *used, int first, int width)
{
    bool peak = false, biquad = false, passing = false;
    for (int lane = first; lane < first + width; ++lane) {
        if (used[lane])
            (plan.peakLane[lane] != 0.0 ? peak : biquad) = true;
        passing |= plan.passLane[lane] != 0.0;
    }
    assert(!(peak && biquad && passing));
    if (peak && biquad)
        return simd::mixedKind;
    if (passing)
        return peak ? simd::peakPassingKind : biquad ? simd::biquadPassingKind : simd::unusedKind;
    return peak ? simd::peakKind : biquad ? simd::biquadKind : simd::unusedKind;
}

// Lanes without a band stay at zero coefficients: they compute harmless
// values that nothing reads, or that a passing lane replaces by its input.
void makePlan(LanePlan &plan, LaneState &state, const CascadeChain *chains, int chainCount, int width,
              bool permutes, int frameLength, Direction direction)
{
    std::memset(&plan, 0, sizeof plan);
    std::memset(&state, 0, sizeof state);
    plan.chains = chainCount;
    plan.frameLength = frameLength;
    plan.stride = direction == Direction::forward ? 1 : -1;
    const bool forward = direction == Direction::forward;
    const LaneLayout layout = chooseLayout(chains, chainCount, width, permutes);
    placeLanes(plan, layout, chains, chainCount, permutes);
    bool used[simd::kMaxLanes] = {};
    for (int ch = 0; ch < chainCount; ++ch) {
        const CascadeChain &chain = chains[ch];
        plan.samples[ch] = forward ? chain.samples : chain.samples + frameLength - 1;
        if (chain.count == 0)
            continue;
        plan.lastLane[ch] = plan.laneOf[ch][chain.count - 1];
        for (int k = 0; k < chain.count; ++k) {
            const int lane = plan.laneOf[ch][k];
            used[lane] = true;
            fillLane(plan, lane, *chain.bands[k].band, layout.positionOf[ch][k]);
            if (forward) {
                state.a[lane] = chain.bands[k].state[0];
                state.b[lane] = chain.bands[k].state[1];
            }
        }
        const int lastPosition = layout.positionOf[ch][chain.count - 1];
        plan.lag[ch] = kWavefrontSkew * lastPosition;
        for (int position = 0; position < lastPosition; ++position)
            if (plan.bandAt[ch][position] < 0)
                plan.passLane[position * chainCount + ch] = 1.0;
    }
    for (int v = 0; v < plan.vectors; ++v) {
        plan.kind[v] = kindOf(plan, used, v * width, width);
        plan.passing |= plan.kind[v] == simd::peakPassingKind || plan.kind[v] == simd::biquadPassingKind;
    }
}

// The bands of every chain at `position` have just finished their hop:
// store their carried states as the scalar frame driver does (a peak's
// flushed) and go on from there.
void saveBands(const LanePlan &plan, LaneState &state, const CascadeChain *chains, int position)
{
    for (int ch = 0; ch < plan.chains; ++ch) {
        const int k = plan.bandAt[ch][position];
        if (k < 0)
            continue;
        const int lane = plan.laneOf[ch][k];
        const CascadeBand &entry = chains[ch].bands[k];
        const double reached[2] = {state.a[lane], state.b[lane]};
        storeCarriedState(*entry.band, reached, entry.state);
        state.a[lane] = entry.state[0];
        state.b[lane] = entry.state[1];
    }
}

// The bands at `position` have just taken their last sample before the
// hand-over point: note the states they reached, unflushed.
void noteBands(const LanePlan &plan, const LaneState &state, const CascadeChain *chains, int position)
{
    for (int ch = 0; ch < plan.chains; ++ch) {
        const int k = plan.bandAt[ch][position];
        if (k < 0)
            continue;
        const int lane = plan.laneOf[ch][k];
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
    const int positions = run.plan.positions;
    run.laneSteps = kernels.laneSteps;
    run.handOver = handOver;
    // Until step `settled` some lanes wait for their first sample; the last
    // band's last sample is done at step `end` - 1.
    run.settled = kWavefrontSkew * (positions - 1);
    run.end = positions == 0 || length <= 0 ? 0 : length + run.settled;
    run.t = 0;
    run.handOverAt = handOver == HandOver::none ? 0 : handOverAt;
    run.handedOver = run.handOverAt > 0 ? 0 : positions;
    run.positions = positions;
}

// The state of the band at position p is handed over right after the band
// takes sample handOverAt - 1, at step handOverAt - 1 + kSkew*p: before
// later samples change it. Runs of steps stop there and where the last
// lane has started.
bool continueWave(WaveRun &run, const CascadeChain *chains, int maxSteps)
{
    if (run.end == 0)
        return true;
    const int limit = std::min(run.end, run.t + std::max(maxSteps, 0));
    for (;;) {
        while (run.handedOver < run.positions && run.t == run.handOverAt + kWavefrontSkew * run.handedOver) {
            if (run.handOver == HandOver::carried)
                saveBands(run.plan, run.state, chains, run.handedOver);
            else
                noteBands(run.plan, run.state, chains, run.handedOver);
            ++run.handedOver;
        }
        if (run.t >= limit)
            break;
        int stop = limit;
        if (run.t < run.settled)
            stop = std::min(stop, run.settled);
        if (run.handedOver < run.positions)
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
    return chooseLayout(chains, chainCount, kernels.width, kernels.permutes).vectors;
}

int waveSteps(const CascadeChain *chains, int chainCount, int length, KernelSet set)
{
    const VectorKernels &kernels = *vectorKernels(set);
    const int positions = chooseLayout(chains, chainCount, kernels.width, kernels.permutes).positions;
    return positions == 0 || length <= 0 ? 0 : length + kWavefrontSkew * (positions - 1);
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
