// Creation, release and the queries that need no processing.
#include "interface/instance.h"

#include <algorithm>
#include <new>

#include "design/fade_window.h"
#include "lintaq.h"
#include "stream/resample.h"
#include "stream/smooth_path.h"

namespace {

constexpr int kLookaheadByMode[4] = {32768, 16384, 8192, 4096};

float *obtainZeroed(size_t count)
{
    return new (std::nothrow) float[count]();
}

float *obtainUninitialised(size_t count)
{
    return new (std::nothrow) float[count];
}

bool obtainChannel(PeqInstance &inst, int ch)
{
    const size_t frame = static_cast<size_t>(inst.lookahead + inst.segmentLength);
    inst.upHistory[ch] = obtainZeroed(lintaq::kUpHistoryLength);
    inst.downHistory[ch] = obtainZeroed(lintaq::kDownHistoryLength);
    inst.inFrame[ch] = obtainZeroed(frame);
    inst.outAccum[ch] = obtainZeroed(frame);
    inst.inFrame2x[ch] = obtainZeroed(2 * frame);
    inst.outAccum2x[ch] = obtainZeroed(2 * frame);
    inst.delayRing[ch] = obtainZeroed(lintaq::kDelayRingLength);
    inst.workFrame[ch] = obtainUninitialised(2 * frame);
    inst.forward.output[ch] = obtainUninitialised(2 * frame);
    return inst.upHistory[ch] && inst.downHistory[ch] && inst.inFrame[ch] && inst.outAccum[ch] &&
           inst.inFrame2x[ch] && inst.outAccum2x[ch] && inst.delayRing[ch] && inst.workFrame[ch] &&
           inst.forward.output[ch];
}

void releaseChannel(PeqInstance &inst, int ch)
{
    delete[] inst.upHistory[ch];
    delete[] inst.downHistory[ch];
    delete[] inst.inFrame[ch];
    delete[] inst.outAccum[ch];
    delete[] inst.inFrame2x[ch];
    delete[] inst.outAccum2x[ch];
    delete[] inst.delayRing[ch];
    delete[] inst.workFrame[ch];
    delete[] inst.forward.output[ch];
}

void setCreationParameters(PeqInstance &inst)
{
    for (int k = 0; k < lintaq::kBandCount; ++k) {
        lintaq::resetBand(inst.bands[k]);
        inst.freq[k] = 1000.0f;
        inst.gain[k] = 0.0f;
        inst.q[k] = 0.7f;
        inst.enable[k] = 0;
        inst.type[k] = 0;
        inst.bandDirty[k] = 0;
    }
    inst.sampleRate = 48000;
    inst.noise = 0;
    inst.oversample = 0;
    inst.redesignAll = 0;
    inst.bandsChanged = 0;
}

bool obtainSmoothPipeline(PeqInstance &inst)
{
    inst.smooth = new (std::nothrow) lintaq::SmoothPipeline;
    if (inst.smooth == nullptr)
        return false;
    inst.smooth->parked[0] = inst.smooth->parked[1] = nullptr;
    inst.smooth->interpolatedHop[0] = inst.smooth->interpolatedHop[1] = nullptr;
    inst.smooth->interpolatorInput[0] = inst.smooth->interpolatorInput[1] = nullptr;
    lintaq::resetSmoothPipeline(*inst.smooth);
    for (int ch = 0; ch < 2; ++ch) {
        const bool exists = ch == 0 || inst.stereo != 0;
        inst.smooth->parked[ch] = exists ? obtainUninitialised(2 * lintaq::kSegmentLength) : nullptr;
        inst.smooth->interpolatedHop[ch] = exists ? obtainUninitialised(lintaq::kSegmentLength) : nullptr;
        inst.smooth->interpolatorInput[ch] =
            exists ? obtainUninitialised(lintaq::kMaxInterpolatorHistory + lintaq::kHop) : nullptr;
        if (exists && (inst.smooth->parked[ch] == nullptr || inst.smooth->interpolatedHop[ch] == nullptr ||
                       inst.smooth->interpolatorInput[ch] == nullptr))
            return false;
    }
    return true;
}

void releaseSmoothPipeline(PeqInstance &inst)
{
    if (inst.smooth == nullptr)
        return;
    delete[] inst.smooth->parked[0];
    delete[] inst.smooth->parked[1];
    delete[] inst.smooth->interpolatedHop[0];
    delete[] inst.smooth->interpolatedHop[1];
    delete[] inst.smooth->interpolatorInput[0];
    delete[] inst.smooth->interpolatorInput[1];
    delete inst.smooth;
}

} // namespace

extern "C" {

PeqInstance *LintaqInitSmooth(int mode, int stereo)
{
    PeqInstance *inst = LintaqInit(mode, stereo);
    if (inst != nullptr && !obtainSmoothPipeline(*inst)) {
        LintaqExit(inst);
        return nullptr;
    }
    return inst;
}

PeqInstance *LintaqInit(int mode, int stereo)
{
    // Value-initialised, so every pointer a failed creation leaves is null
    // and the release below can run whatever was obtained.
    PeqInstance *inst = new (std::nothrow) PeqInstance{};
    if (inst == nullptr)
        return nullptr;
    inst->stereo = static_cast<uint32_t>(stereo);
    inst->lookahead = kLookaheadByMode[std::clamp(mode, 0, 3)];
    inst->segmentLength = lintaq::kSegmentLength;

    bool complete = obtainChannel(*inst, 0) && (stereo == 0 || obtainChannel(*inst, 1));
    if (complete) {
        inst->windowHalf = obtainUninitialised(lintaq::kHop);
        inst->windowFull = obtainUninitialised(lintaq::kSegmentLength);
        complete = inst->windowHalf && inst->windowFull;
    }
    if (!complete) {
        LintaqExit(inst);
        return nullptr;
    }
    inst->pending = lintaq::kHop;
    inst->pending2x = lintaq::kHop;
    lintaq::makeFadeWindow(inst->windowHalf, lintaq::kHop);
    lintaq::makeFadeWindow(inst->windowFull, lintaq::kSegmentLength);
    inst->ringPos[0] = inst->ringPos[1] = 0;
    setCreationParameters(*inst);
    return inst;
}

void LintaqExit(PeqInstance *inst)
{
    if (inst == nullptr)
        return;
    releaseChannel(*inst, 0);
    if (inst->stereo != 0)
        releaseChannel(*inst, 1);
    delete[] inst->windowHalf;
    delete[] inst->windowFull;
    releaseSmoothPipeline(*inst);
    delete inst;
}

int LintaqGetLatency(const PeqInstance *inst)
{
    // Nothing to compensate for: a host that asks before creating an
    // instance, or after creation failed, shifts nothing.
    if (inst == nullptr)
        return 0;
    const int smoothDelay = inst->smooth != nullptr ? lintaq::kSmoothDelay : 0;
    return inst->segmentLength + lintaq::kRingHostRate + inst->lookahead + smoothDelay;
}

int LintaqGetVersion(void)
{
    return LINTAQ_VERSION;
}

} // extern "C"
