#include "stream/forward_pass.h"

#include <cstring>

#include "design/section_kernels.h"

namespace lintaq {

namespace {

bool sameBits(const double *a, const double *b)
{
    return std::memcmp(a, b, 2 * sizeof(double)) == 0;
}

// The chains again, each band's entry pointing at `states` instead of its
// carried field.
struct SpanChains {
    CascadeBand entries[2][kBandCount] = {};
    CascadeChain chains[2] = {};

    SpanChains(const CascadeChain *from, int chainCount, float *const *samples, double (*states)[kBandCount][2])
    {
        for (int c = 0; c < chainCount; ++c) {
            for (int k = 0; k < from[c].count; ++k)
                entries[c][k] = {from[c].bands[k].band, states[c][k]};
            chains[c] = {samples[c], entries[c], from[c].count};
        }
    }
};

bool memoryFits(const ForwardMemory &memory, int headLen, int tailLen, int channels, uint32_t generation)
{
    return memory.valid && memory.generation == generation && memory.headLen == headLen &&
           memory.tailLen == tailLen && memory.channels == channels;
}

// The whole frame: the hop with the state stored at its end, then hop by
// hop to the frame's end, noting the continuing run's state at each hop
// boundary.
void runWholeFrame(const CascadeChain *chains, const int *signal, int chainCount, int headLen, int hops,
                   ForwardMemory &memory, KernelSet set)
{
    runWavefront(chains, chainCount, headLen, 0, Direction::forward, set);
    double states[2][kBandCount][2];
    float *at[2];
    for (int c = 0; c < chainCount; ++c)
        for (int k = 0; k < chains[c].count; ++k)
            std::memcpy(states[c][k], chains[c].bands[k].state, sizeof states[c][k]);
    for (int m = 2; m <= hops; ++m) {
        for (int c = 0; c < chainCount; ++c)
            at[c] = chains[c].samples + (m - 1) * headLen;
        SpanChains span(chains, chainCount, at, states);
        runWavefrontSpan(span.chains, chainCount, headLen, set);
        for (int c = 0; c < chainCount; ++c)
            for (int k = 0; k < chains[c].count; ++k)
                std::memcpy(memory.boundary[signal[c]][k][m], states[c][k], sizeof states[c][k]);
    }
}

// The previous frame's forward output serves for all but the last hop if
// no band's stored state changes at this frame's hop; then only the last
// hop is filtered, from the state the previous frame ended with.
bool reusePreviousFrame(const CascadeChain *chains, const int *signal, int chainCount, int headLen, int hops,
                        ForwardMemory &memory, KernelSet set)
{
    double stored[2][kBandCount][2];
    for (int c = 0; c < chainCount; ++c)
        for (int k = 0; k < chains[c].count; ++k) {
            const double *reached = memory.boundary[signal[c]][k][2];
            storeCarriedState(*chains[c].bands[k].band, reached, stored[c][k]);
            if (!sameBits(stored[c][k], reached))
                return false;
        }
    const int extent = (hops - 1) * headLen;
    double states[2][kBandCount][2];
    float *last[2];
    for (int c = 0; c < chainCount; ++c) {
        std::memcpy(chains[c].samples, memory.output[signal[c]] + headLen, sizeof(float) * extent);
        last[c] = chains[c].samples + extent;
        for (int k = 0; k < chains[c].count; ++k) {
            std::memcpy(chains[c].bands[k].state, stored[c][k], sizeof stored[c][k]);
            std::memcpy(states[c][k], memory.boundary[signal[c]][k][hops], sizeof states[c][k]);
        }
    }
    SpanChains span(chains, chainCount, last, states);
    runWavefrontSpan(span.chains, chainCount, headLen, set);
    for (int c = 0; c < chainCount; ++c)
        for (int k = 0; k < chains[c].count; ++k) {
            double(*boundary)[2] = memory.boundary[signal[c]][k];
            std::memmove(boundary[2], boundary[3], sizeof(double) * 2 * (hops - 2));
            std::memcpy(boundary[hops], states[c][k], sizeof states[c][k]);
        }
    return true;
}

} // namespace

void runFirstForward(const CascadeChain *chains, const int *signal, int chainCount, int headLen,
                     int tailLen, uint32_t noise, int channels, const FrameKernels &kernels)
{
    ForwardMemory *memory = kernels.memory;
    const int frameLength = headLen + tailLen;
    const int hops = frameLength / headLen;
    // Noise makes every frame's input new; odd frame shapes are not framed
    // by the stream paths.
    if (memory == nullptr || noise != 0 || frameLength % headLen != 0 || hops > kMaxFrameHops) {
        if (memory != nullptr)
            memory->valid = false;
        runWavefront(chains, chainCount, headLen, tailLen, Direction::forward, kernels.set);
        return;
    }
    if (!memoryFits(*memory, headLen, tailLen, channels, kernels.generation) ||
        !reusePreviousFrame(chains, signal, chainCount, headLen, hops, *memory, kernels.set))
        runWholeFrame(chains, signal, chainCount, headLen, hops, *memory, kernels.set);
    for (int c = 0; c < chainCount; ++c)
        std::memcpy(memory->output[signal[c]] + headLen, chains[c].samples + headLen,
                    sizeof(float) * (frameLength - headLen));
    memory->valid = true;
    memory->generation = kernels.generation;
    memory->headLen = headLen;
    memory->tailLen = tailLen;
    memory->channels = channels;
}

} // namespace lintaq
