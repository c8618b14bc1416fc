// The logarithmic frequency grid the curve is drawn on.
#include <cmath>
#include <new>

#include "graph/graph_points.h"
#include "lintaq.h"
#include "maths/elementary.h"

extern "C" PeqGraph *InitPeqGraph(const PeqParams *params, int n, float fmin, float fmax)
{
    if (params == nullptr || n < 2 || !(fmin > 0.0f) || !(fmax > 0.0f) || !std::isfinite(fmin) ||
        !std::isfinite(fmax))
        return nullptr;
    PeqGraph *graph = new (std::nothrow) PeqGraph{n, nullptr};
    if (graph == nullptr)
        return nullptr;
    const float rate = lintaq::graphRate(*params);
    const double span = lintaq::maths::log(static_cast<double>(fmax)) - lintaq::maths::log(static_cast<double>(fmin));
    const float step = static_cast<float>(span) / static_cast<float>(n - 1);
    const float ratio = static_cast<float>(lintaq::maths::exp(static_cast<double>(step)));
    // Zeroed: a grid that stops early leaves the entries past its stored
    // points unwritten, and they must read the same everywhere.
    graph->warpedSq = new (std::nothrow) float[static_cast<size_t>(n)]();
    if (graph->warpedSq == nullptr) {
        delete graph;
        return nullptr;
    }
    // Not the band limit: points past this are too close to Nyquist to draw.
    const float limit = rate * 0.45351f;
    const float inverseRate = 1.0f / rate;
    const float warpScale = rate * lintaq::kInvPiSingle;
    // The frequencies first (a running product), then their warps.
    float freq = fmin;
    int stored = n;
    for (int i = 0; i < n; ++i) {
        graph->warpedSq[i] = freq;
        freq = freq * ratio;
        if (freq > limit) {
            graph->pointCount = i; // point i is stored but not counted
            stored = i + 1;
            break;
        }
    }
    lintaq::warpFrequencies(graph->warpedSq, stored, inverseRate, warpScale);
    return graph;
}

extern "C" void ExitPeqGraph(PeqGraph *graph)
{
    if (graph == nullptr)
        return;
    delete[] graph->warpedSq;
    delete graph;
}
