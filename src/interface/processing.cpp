// The processing calls: argument checks at the edge, the design step, then
// the stream path.
#include "interface/design_step.h"
#include "interface/instance.h"
#include "lintaq.h"
#include "stream/stream_path.h"

extern "C" void LintaqProc(PeqInstance *inst, float *samples, int n)
{
    if (inst == nullptr)
        return;
    lintaq::designBands(*inst);
    lintaq::processBlock(*inst, {{samples, nullptr}, 1}, n);
}

extern "C" void LintaqProcST(PeqInstance *inst, float *left, float *right, int count)
{
    // A mono instance has no second channel to work with.
    if (inst == nullptr || inst->stereo == 0)
        return;
    lintaq::designBands(*inst);
    lintaq::processBlock(*inst, {{left, right}, 2}, count);
}
