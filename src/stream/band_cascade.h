// Runs a chain of bands over one signal of a frame: every band forwards
// (from its carried state, saved after headLen samples), or every band
// backwards from zero state.
#pragma once

#include "design/band_state.h"
#include "filter/sections.h"

namespace lintaq {

// One band of a cascade and the state field it carries on this signal.
struct CascadeBand {
    const PeqBandState *band;
    double *state;
};

// Band by band, as the algorithm reads: the reference.
void runCascadeReference(float *frame, const CascadeBand *bands, int count, int headLen, int tailLen,
                         Direction direction);

// The same result, bit for bit, with up to four bands in flight at once:
// band k works on sample i while band k+1 works on sample i-1, which hides
// the latency of each section's recursion.
void runCascade(float *frame, const CascadeBand *bands, int count, int headLen, int tailLen,
                Direction direction);

} // namespace lintaq
