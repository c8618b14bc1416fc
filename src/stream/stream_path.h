// The stream paths behind the processing calls: a host block of any
// length in, as many delayed, equalised samples out.
#pragma once

namespace lintaq {

struct StreamRecord;

// The caller's block: one array per channel, the same position in each.
struct Block {
    float *samples[2];
    int channels;
};

// Runs the block through the path the rate and the oversampling switch
// choose. A negative count is taken as 0. The caller designs first.
void processBlock(StreamRecord &stream, const Block &block, int count);

} // namespace lintaq
