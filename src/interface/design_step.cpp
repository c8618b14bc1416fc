#include "interface/design_step.h"

#include "design/design_bands.h"
#include "design/filtering_rate.h"
#include "interface/instance.h"

namespace lintaq {

void designBands(PeqInstance &inst)
{
    if (inst.redesignAll == 0 && inst.bandsChanged == 0)
        return;
    const double limit = bypassLimit(inst.sampleRate);
    const float rate = filteringRate(inst.sampleRate, inst.oversample);
    for (int k = 0; k < kBandCount; ++k) {
        if (inst.redesignAll == 0 && inst.bandDirty[k] == 0)
            continue;
        PeqBandState &band = inst.bands[k];
        const bool reachesLimit = !(static_cast<double>(inst.freq[k]) < limit); // NaN too
        band.enable = inst.enable[k];
        band.bandType = inst.type[k];
        // A bypassed band's coefficients are never read (only running bands
        // join the frame chains), so it is not designed; it is designed
        // again when a setting or the rate changes.
        const bool bypassed = reachesLimit || inst.enable[k] == LINTAQ_OFF ||
                              !settingsUsable(inst.type[k], inst.freq[k], inst.q[k]);
        const bool workable =
            bypassed || designBand(band, inst.type[k], inst.freq[k], inst.gain[k], inst.q[k], rate);
        band.bypass = (bypassed || !workable) ? 1u : 0u;
        inst.bandDirty[k] = 0;
    }
    inst.redesignAll = 0;
    inst.bandsChanged = 0;
    ++inst.designGeneration;
}

} // namespace lintaq
