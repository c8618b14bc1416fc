// An independent model of the engine, written for clarity rather than
// speed: every stage is the plain step-by-step computation, so the engine's
// optimised code can be checked against it bit for bit.
#pragma once

#include <cstdint>
#include <vector>

#include "lintaq.h"

namespace reference {

// The model's own process-wide noise generator. Tests copy the engine's
// state into it before a run so that both draw the same values.
extern uint32_t noiseState;

struct Band {
    uint32_t bandType = 0, bypass = 0, enable = 0;
    double fb1 = 0, fb2 = 0, ff0 = 0, ff1 = 0, ff2 = 0, negCosW0 = 0;
    double peakGain = 1.0; // identity peak until the first design
    double fwdState[2] = {0, 0}, fwdState2[2] = {0, 0};
};

struct Channel {
    std::vector<float> upHistory, downHistory, inFrame, outAccum, inFrame2x, outAccum2x, delayRing, workFrame;
    int ringPos = 0;
};

struct Engine {
    Engine(int mode, int stereo);
    void setPar(const PeqParams *params);
    void proc(float *samples, int n);
    void procST(float *left, float *right, int count);

    uint32_t stereo;
    int segmentLength = 4096, lookahead;
    Channel channel[2];
    std::vector<float> windowHalf, windowFull;
    int pending, pending2x;
    uint32_t redesignAll = 0, bandsChanged = 0, bandDirty[LINTAQ_BANDS] = {};
    Band bands[LINTAQ_BANDS];
    float freq[LINTAQ_BANDS], gain[LINTAQ_BANDS], q[LINTAQ_BANDS];
    uint32_t enable[LINTAQ_BANDS] = {}, type[LINTAQ_BANDS] = {};
    int32_t sampleRate = 48000;
    uint32_t noise = 0, oversample = 0;

private:
    void designBands();
    void stream(float *const *io, int channels, int n);
};

} // namespace reference
