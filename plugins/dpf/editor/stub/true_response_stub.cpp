// Stand-in for the engine's measured response: the ideal curve of the bands
// in the view, on the same worker-thread interface, so the editor runs (and
// draws no difference) until the real calculation is built in.
#include "true_response.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace lintaq_editor {

TrueResponse computeTrueResponse(const TrueResponseRequest &request)
{
    TrueResponse out;
    out.frequencies = request.frequencies;
    out.magnitudeDb.assign(request.frequencies.size(), 0.0f);
    const int n = static_cast<int>(request.frequencies.size());
    if (n < 2) return out;
    // The request's points are taken as a logarithmic grid from the first to the last.
    PeqGraph *grid = InitPeqGraph(&request.params, n, request.frequencies.front(), request.frequencies.back());
    if (grid == nullptr) return out;
    std::vector<float> band(static_cast<size_t>(grid->pointCount));
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        const uint32_t routing = request.params.enable[k];
        const bool inView = routing != LINTAQ_OFF &&
                            (request.channels == 1 || routing == LINTAQ_BOTH ||
                             routing == static_cast<uint32_t>(request.view));
        if (!inView) continue;
        LintaqGraph(&request.params, grid, band.data(), k);
        for (int i = 0; i < grid->pointCount; ++i) out.magnitudeDb[static_cast<size_t>(i)] += band[static_cast<size_t>(i)];
    }
    ExitPeqGraph(grid);
    return out;
}

struct TrueResponseWorker::State {
    std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
    bool pending = false;
    uint64_t generation = 0, taken = 0;
    TrueResponseRequest next;
    TrueResponse result;
    std::thread thread;
};

TrueResponseWorker::TrueResponseWorker() : fState(new State)
{
    State *s = fState;
    s->thread = std::thread([s] {
        std::unique_lock<std::mutex> hold(s->lock);
        for (;;) {
            s->wake.wait(hold, [s] { return s->stop || s->pending; });
            if (s->stop) return;
            TrueResponseRequest req = s->next;
            const uint64_t generation = s->generation;
            s->pending = false;
            hold.unlock();
            TrueResponse r = computeTrueResponse(req);
            r.generation = generation;
            hold.lock();
            s->result = std::move(r);
        }
    });
}

TrueResponseWorker::~TrueResponseWorker()
{
    {
        std::lock_guard<std::mutex> hold(fState->lock);
        fState->stop = true;
    }
    fState->wake.notify_one();
    fState->thread.join();
    delete fState;
}

uint64_t TrueResponseWorker::request(const TrueResponseRequest &req)
{
    uint64_t generation;
    {
        std::lock_guard<std::mutex> hold(fState->lock);
        fState->next = req;
        fState->pending = true;
        generation = ++fState->generation;
    }
    fState->wake.notify_one();
    return generation;
}

bool TrueResponseWorker::takeResult(TrueResponse &out)
{
    std::lock_guard<std::mutex> hold(fState->lock);
    if (fState->result.generation <= fState->taken) return false;
    fState->taken = fState->result.generation;
    out = fState->result;
    return true;
}

} // namespace lintaq_editor
