// Parameter intake: copy what changed and flag it; design waits for the
// next processing call, so this stays cheap enough for any thread.
#include <cstring>

#include "interface/instance.h"
#include "lintaq.h"

namespace {

bool bandDiffers(const PeqInstance &inst, const PeqParams &p, int k)
{
    // Ordered float equality: -0 equals +0, and NaN never equals, so a NaN
    // band is flagged on every call.
    return !(inst.freq[k] == p.freq[k]) || !(inst.gain[k] == p.gain[k]) || !(inst.q[k] == p.q[k]) ||
           inst.enable[k] != p.enable[k] || inst.type[k] != p.type[k];
}

} // namespace

extern "C" void LintaqSetPar(PeqInstance *inst, const PeqParams *params)
{
    if (inst == nullptr || params == nullptr)
        return;
    const PeqParams &p = *params;
    if (inst->noise != p.noise)
        inst->noise = p.noise;
    if (inst->sampleRate != p.sampleRate || inst->oversample != p.oversample) {
        inst->sampleRate = p.sampleRate;
        inst->oversample = p.oversample;
        inst->redesignAll = 1;
    }
    for (int k = 0; k < lintaq::kBandCount; ++k) {
        if (!bandDiffers(*inst, p, k))
            continue;
        // Bit for bit, so a NaN payload or a -0 reaches the design unchanged.
        std::memcpy(&inst->freq[k], &p.freq[k], sizeof(float));
        std::memcpy(&inst->gain[k], &p.gain[k], sizeof(float));
        std::memcpy(&inst->q[k], &p.q[k], sizeof(float));
        inst->enable[k] = p.enable[k];
        inst->type[k] = p.type[k];
        inst->bandDirty[k] = 1;
        inst->bandsChanged = 1;
    }
}
