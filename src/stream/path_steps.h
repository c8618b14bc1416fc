// The stream paths taken apart: what happens to the input (gathering a hop,
// moving the frame down, interpolating) and what happens to the output
// (giving out through the ring, moving the accumulator, decimating). The
// plain processing calls do both at the same sample; the even-load
// instance does the output side one hop later.
#pragma once

#include "stream/kernel_set.h"
#include "stream/stream_path.h"

namespace lintaq {

struct StreamRecord;

enum class StreamPath {
    hostRate,       // frames at the host rate, 74-sample ring
    doubleRateRing, // 45000..63999 Hz: 156/20 filters and a 31-sample ring
    doubleRate      // below 45000 Hz: 278/22 filters, no ring
};

StreamPath choosePath(const StreamRecord &stream);

inline bool isDoubleRate(StreamPath path)
{
    return path != StreamPath::hostRate;
}

// Input side. `missing` is the hop's count of samples still to come before
// this take. A NaN or infinity is taken as silence.
void takeInput(StreamRecord &stream, const Block &block, int pos, int count, int missing, StreamPath path);

// A host-rate hop is complete and its frame taken: move the frame down.
void endInputHopHostRate(StreamRecord &stream, int channels);

// A double-rate hop is complete: move the double-rate frame down and
// interpolate the staged hop onto its end, ready to be taken.
void endInputHopDoubleRate(StreamRecord &stream, int channels, StreamPath path, KernelSet set);

// The double-rate frame moves down one hop, making room for the next one.
void moveDoubleRateFrameDown(StreamRecord &stream, int channels);

// The interpolation table of a double-rate path and its length.
const double *upTable(StreamPath path);
int upTableLength(StreamPath path);

// Output side: `count` finished samples through the path's ring into the
// block (a channel without an array is given out to nowhere).
void giveOutput(StreamRecord &stream, const Block &block, int pos, int count, int missing, StreamPath path);

// Before a host-rate frame is added: the accumulator moves down one hop.
void moveAccumulatorDown(StreamRecord &stream, int channels);

// After a double-rate frame is added: decimate its first hop into the
// output hop and move the double-rate accumulator down.
void endOutputHopDoubleRate(StreamRecord &stream, int channels, StreamPath path, KernelSet set);

// The even-load instance's stream path (smooth_path.cpp).
void processBlockSmooth(StreamRecord &stream, const Block &block, int count);

} // namespace lintaq
