// Time from a parameter change to the engine's measured curve being ready
// for the editor: a request to TrueResponseWorker, then takeResult polled
// every millisecond (the editor polls at each host idle call, typically
// every 16 to 33 ms, and draws at once). Twenty changes of a narrow cut's
// gain per quality mode, at the editor's 480 points; prints the median and
// the maximum.
//   bench_true_curve_latency [CHANGES]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "editor_model.h"
#include "graph_grid.h"
#include "true_response.h"

int main(int argc, char **argv)
{
    using namespace lintaq_editor;
    using namespace lintaq_response;
    using namespace lintaq_plugin;
    const int changes = argc > 1 ? std::atoi(argv[1]) : 20;
    const std::vector<float> freqs = lintaq_grid::gridFrequencies(480, kViewMinHz, kViewMaxHz);
    for (int mode : {0, 3}) {
        Values v{};
        for (uint32_t p = 0; p < kParamCount; ++p) v[p] = paramRange(Variant::stereo, p).def;
        v[kQuality] = static_cast<float>(mode);
        v[bandParam(2, kEnable)] = LINTAQ_BOTH;
        v[bandParam(2, kType)] = LINTAQ_PEAK;
        v[bandParam(2, kFreq)] = 150;
        v[bandParam(2, kQ)] = 20;
        TrueResponseWorker worker;
        std::vector<double> ms;
        for (int i = 0; i < changes; ++i) {
            v[bandParam(2, kGain)] = -15.0f + 0.5f * static_cast<float>(i % 7);
            TrueResponseRequest req;
            req.params = engineParams(v, 48000);
            req.mode = mode;
            req.channels = 2;
            req.view = LINTAQ_LEFT;
            req.frequencies = freqs;
            const auto start = std::chrono::steady_clock::now();
            const uint64_t generation = worker.request(req);
            TrueResponse r;
            while (!(worker.takeResult(r) && r.generation == generation))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(ms.begin(), ms.end());
        std::printf("mode %d: median %.1f ms, max %.1f ms over %d changes\n", mode, ms[ms.size() / 2], ms.back(),
                    changes);
    }
    return 0;
}
