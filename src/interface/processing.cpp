// The processing calls: argument checks at the edge, then the stream path.
#include "interface/instance.h"
#include "lintaq.h"
#include "stream/stream_path.h"

extern "C" void LintaqProc(PeqInstance *inst, float *samples, int n)
{
    if (inst == nullptr)
        return;
    lintaq::processBlock(*inst, {{samples, nullptr}, 1}, n);
}

extern "C" void LintaqProcST(PeqInstance *inst, float *left, float *right, int count)
{
    // A mono instance has no second channel to work with.
    if (inst == nullptr || inst->stereo == 0)
        return;
    lintaq::processBlock(*inst, {{left, right}, 2}, count);
}
