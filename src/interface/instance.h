// The engine instance record. Every buffer processing touches is obtained
// at creation; the stream paths only index into it.
#pragma once

#include <cstdint>

#include "design/band_state.h"
#include "stream/stream_record.h"

// The stream paths' record, then what the parameter intake compares
// against and the design step reads.
struct PeqInstance : lintaq::StreamRecord {
    uint32_t stereo;
    uint32_t redesignAll;
    uint32_t bandsChanged;
    uint32_t bandDirty[lintaq::kBandCount];
    float freq[lintaq::kBandCount];
    float gain[lintaq::kBandCount];
    float q[lintaq::kBandCount];
    uint32_t enable[lintaq::kBandCount];
    uint32_t type[lintaq::kBandCount];
};
