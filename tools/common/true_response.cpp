#include "true_response.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <utility>

namespace lintaq_response {
namespace {

constexpr int kHop = kEngineHop;
constexpr int kRingDelay = 74;          // latency minus the frame length
constexpr int kResamplerSpread = 256;   // the 2x filters' reach, host-rate samples, rounded up
constexpr double kTailFloor = 1e-6;     // -120 dB of the peak: the tail below it is left off
constexpr double kLongestTailSeconds = 2.0;
constexpr double kFloorDb = -200.0, kCeilingDb = 500.0;

struct InstanceDeleter {
    void operator()(PeqInstance *p) const { LintaqExit(p); }
};
using InstancePtr = std::unique_ptr<PeqInstance, InstanceDeleter>;

// The two inputs and how the outputs combine, for one view.
struct ViewWeights {
    float toLeft, toRight;      // impulse value into each input
    double fromLeft, fromRight; // weight of each output in the response
};

ViewWeights viewWeights(int view)
{
    switch (view) {
    case LINTAQ_RIGHT: return {0.0f, 1.0f, 0.0, 1.0};
    case LINTAQ_MID: return {1.0f, 1.0f, 0.5, 0.5};
    case LINTAQ_SIDE: return {1.0f, -1.0f, 0.5, -0.5};
    default: return {1.0f, 0.0f, 1.0, 0.0};
    }
}

bool rateInRange(int32_t rate) { return rate >= 8000 && rate <= 384000; }

int normalView(int view)
{
    return view == LINTAQ_RIGHT || view == LINTAQ_MID || view == LINTAQ_SIDE ? view : LINTAQ_LEFT;
}

// A stereo view reached only by bands on both channels (and, for the left
// or right view, bands on that channel) is what a mono instance with just
// those bands does: the stereo chain runs them on each channel alike and
// in the same order, and the sum and difference of a pair that only they
// touched convert back unchanged. It takes half the work. Bands on mid or
// side, or on one channel in the mid or side view, need the stereo engine.
bool monoEquivalent(const PeqParams &stereo, int view, PeqParams &mono)
{
    mono = stereo;
    const bool channelView = view == LINTAQ_LEFT || view == LINTAQ_RIGHT;
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        const uint32_t code = stereo.enable[k];
        if (code == LINTAQ_BOTH) continue;
        if (code == LINTAQ_OFF || code > LINTAQ_SIDE) {
            mono.enable[k] = LINTAQ_OFF;  // mono would apply any nonzero code
        } else if (channelView && (code == LINTAQ_LEFT || code == LINTAQ_RIGHT)) {
            mono.enable[k] = code == static_cast<uint32_t>(view) ? LINTAQ_BOTH : LINTAQ_OFF;
        } else {
            return false;
        }
    }
    return true;
}

double peakOf(const std::vector<double> &h, std::size_t from, std::size_t to)
{
    double m = 0.0;
    for (std::size_t i = from; i < to; ++i) m = std::max(m, std::fabs(h[i]));
    return m;
}

constexpr std::size_t kLanes = 8;

// |sum_n h[n] e^{-j w n}| for kLanes frequencies at once: each Goertzel
// recursion waits on its own previous step, so several independent ones
// keep the processor busy, and the impulse response is read once per
// group. (Measured: 4, 8 and 16 lanes run equally fast here; 8 keep their
// state in SSE2's registers.) In double: with at most a few hundred
// thousand samples the rounding stays far below what a curve shows
// (relative error about N * 1e-16 / w, under 1e-8 at 10 Hz and 384 kHz).
void goertzelLanes(const std::vector<double> &h, const double (&w)[kLanes], double (&mag)[kLanes])
{
    double c[kLanes], s1[kLanes] = {}, s2[kLanes] = {};
    for (std::size_t j = 0; j < kLanes; ++j) c[j] = 2.0 * std::cos(w[j]);
    for (const double v : h) {
        for (std::size_t j = 0; j < kLanes; ++j) {
            const double next = v + c[j] * s1[j] - s2[j];
            s2[j] = s1[j];
            s1[j] = next;
        }
    }
    for (std::size_t j = 0; j < kLanes; ++j) {
        const double re = s1[j] - 0.5 * c[j] * s2[j];
        const double im = std::sin(w[j]) * s2[j];
        mag[j] = std::sqrt(re * re + im * im);
    }
}

}  // namespace

bool measureImpulseResponse(const TrueResponseRequest &request, const std::atomic<bool> &abandon,
                            ImpulseResponse &out, int hopPhase)
{
    out = ImpulseResponse{};
    PeqParams params = request.params;
    if (!rateInRange(params.sampleRate)) return true;
    params.noise = 0;
    const int view = normalView(request.view);
    PeqParams mono;
    bool stereo = request.channels != 1;
    if (stereo && request.useMonoWherePossible && monoEquivalent(params, view, mono)) {
        stereo = false;
        params = mono;
    }
    InstancePtr eq(LintaqInit(request.mode, stereo ? 1 : 0));
    if (!eq) return true;
    LintaqSetPar(eq.get(), &params);

    // An output sample depends on the input of the frames whose first
    // 4096 samples hold it, so the response reaches a frame length before
    // the impulse (plus the resamplers' spread); that part comes out within
    // the latency and costs nothing extra. After the impulse, the forward
    // passes carry each band's ringing on for as long as it lasts: the
    // engine runs on, a hop at a time, until a whole hop lies below the
    // floor, so ordinary bands cost a few hops beyond the latency.
    const int latency = LintaqGetLatency(eq.get());
    const std::size_t frame = static_cast<std::size_t>(latency - kRingDelay);
    const std::size_t before = frame + kResamplerSpread;
    const std::size_t shortestAfter = 2 * kHop;
    const std::size_t longestAfter =
        std::max(shortestAfter, static_cast<std::size_t>(kLongestTailSeconds * params.sampleRate));

    // Frames start at multiples of the hop from the first input sample, so
    // input sample `hopPhase` (after the first hop, which leaves room for
    // the response before the impulse) has that phase.
    const std::size_t impulseAt = kHop + static_cast<std::size_t>(std::clamp(hopPhase, 0, kHop - 1));
    const std::size_t first = impulseAt + static_cast<std::size_t>(latency) - before;  // output index of h[0]
    const ViewWeights vw = viewWeights(view);

    std::vector<float> left(kHop), right(stereo ? kHop : 0);
    std::vector<double> &h = out.samples;
    h.reserve(before + shortestAfter + kHop);
    std::size_t fed = 0;
    double peak = 0.0;
    for (;;) {
        if (abandon.load(std::memory_order_relaxed)) {
            out = ImpulseResponse{};
            return false;
        }
        std::fill(left.begin(), left.end(), 0.0f);
        std::fill(right.begin(), right.end(), 0.0f);
        if (impulseAt >= fed && impulseAt < fed + kHop) {
            left[impulseAt - fed] = stereo ? vw.toLeft : 1.0f;
            if (stereo) right[impulseAt - fed] = vw.toRight;
        }
        if (stereo) LintaqProcST(eq.get(), left.data(), right.data(), kHop);
        else LintaqProc(eq.get(), left.data(), kHop);
        const std::size_t chunkStart = h.size();
        for (std::size_t i = 0; i < static_cast<std::size_t>(kHop); ++i) {
            if (fed + i < first) continue;
            h.push_back(stereo ? vw.fromLeft * left[i] + vw.fromRight * right[i] : static_cast<double>(left[i]));
        }
        fed += kHop;
        if (h.size() < before + shortestAfter) continue;
        if (peak == 0.0) peak = peakOf(h, 0, h.size());
        // Stop once a whole hop of the tail lies below the floor.
        if (peakOf(h, chunkStart, h.size()) <= kTailFloor * peak || h.size() >= before + longestAfter) break;
    }
    // Before the impulse the response is the backward passes' mirror of
    // the ringing, as short as the tail for ordinary bands: the lead-in
    // below the same floor is left off, which spares the spectrum most of
    // a frame's worth of near-zero samples.
    std::size_t lead = 0;
    while (lead < before && std::fabs(h[lead]) <= kTailFloor * peak) ++lead;
    h.erase(h.begin(), h.begin() + static_cast<std::ptrdiff_t>(lead));
    out.centre = before - lead;
    out.sampleRate = params.sampleRate;
    return true;
}

bool spectrumDb(const ImpulseResponse &ir, const std::vector<float> &frequencies,
                const std::atomic<bool> &abandon, std::vector<float> &out)
{
    out.assign(frequencies.size(), std::numeric_limits<float>::quiet_NaN());
    if (ir.samples.empty()) return true;
    const double nyquist = 0.5 * ir.sampleRate;
    std::vector<std::size_t> inside;
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
        const double f = frequencies[i];
        if (f > 0.0 && f < nyquist) inside.push_back(i);
    }
    const double radiansPerHz = 2.0 * 3.14159265358979323846 / ir.sampleRate;
    for (std::size_t g = 0; g < inside.size(); g += kLanes) {
        if (abandon.load(std::memory_order_relaxed)) return false;
        double w[kLanes], mag[kLanes];
        for (std::size_t j = 0; j < kLanes; ++j)
            w[j] = radiansPerHz * frequencies[inside[std::min(g + j, inside.size() - 1)]];
        goertzelLanes(ir.samples, w, mag);
        for (std::size_t j = 0; j < kLanes && g + j < inside.size(); ++j) {
            // A NaN stays one (an engine fed settings far outside their
            // ranges); zero and overflow are held to the floor and ceiling.
            const double db = 20.0 * std::log10(mag[j]);
            out[inside[g + j]] = std::isnan(db) ? static_cast<float>(db)
                                                : static_cast<float>(std::clamp(db, kFloorDb, kCeilingDb));
        }
    }
    return true;
}

bool computeTrueResponse(const TrueResponseRequest &request, const std::atomic<bool> &abandon,
                         TrueResponse &out)
{
    ImpulseResponse ir;
    if (!measureImpulseResponse(request, abandon, ir)) return false;
    out.frequencies = request.frequencies;
    return spectrumDb(ir, request.frequencies, abandon, out.magnitudeDb);
}

TrueResponse computeTrueResponse(const TrueResponseRequest &request)
{
    const std::atomic<bool> never{false};
    TrueResponse out;
    computeTrueResponse(request, never, out);
    return out;
}

TrueResponseWorker::TrueResponseWorker() : thread_([this] { run(); }) {}

TrueResponseWorker::~TrueResponseWorker()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        abandon_.store(true);
    }
    wake_.notify_one();
    thread_.join();
}

uint64_t TrueResponseWorker::request(const TrueResponseRequest &req)
{
    TrueResponseRequest copy = req;  // copied outside the lock
    uint64_t generation;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(pending_, copy);
        hasPending_ = true;
        generation = ++newestGeneration_;
    }
    wake_.notify_one();
    return generation;  // `copy` (the replaced request) is freed out here
}

bool TrueResponseWorker::takeResult(TrueResponse &out)
{
    TrueResponse taken;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!hasReady_) return false;
        std::swap(taken, ready_);
        hasReady_ = false;
    }
    out = std::move(taken);
    return true;
}

void TrueResponseWorker::run()
{
    for (;;) {
        TrueResponseRequest req;
        uint64_t generation;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || hasPending_; });
            if (stopping_) return;
            std::swap(req, pending_);
            hasPending_ = false;
            generation = newestGeneration_;
        }
        TrueResponse result;
        if (!computeTrueResponse(req, abandon_, result)) continue;
        result.generation = generation;
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(ready_, result);
        hasReady_ = true;
    }
}

}  // namespace lintaq_response
