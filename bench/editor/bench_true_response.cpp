// The true response's cost and what it shows.
//
//   bench_true_response [RUNS]
//
// Times computeTrueResponse for a stereo 48 kHz instance with twelve bands
// on, 512 log-spaced points from 20 Hz to 20 kHz, in modes 0 to 3 (median
// and maximum of RUNS runs each, modes taken in turn so that load from
// other work on the machine spreads over all of them), and the worker's
// time from a request to its result in modes 0 and 3; then prints, for the
// issue's examples, the largest difference between the measured response
// and the ideal curve of the response graph in each mode, and how much the
// impulse's place in the engine's hop changes the result.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "band_params.h"
#include "true_response.h"

namespace {

using lintaq_response::TrueResponseRequest;
using true_response_test::Band;
using true_response_test::graphFrequencies;
using true_response_test::paramsOf;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

const std::vector<Band> kTwelveBands = {
    {LINTAQ_HIGH_PASS, 30, 0, 0.7f}, {LINTAQ_LOW_SHELF, 100, 3, 0.7f}, {LINTAQ_PEAK, 180, -2, 1.5f},
    {LINTAQ_PEAK, 300, 2, 4},        {LINTAQ_PEAK, 500, -3, 2},        {LINTAQ_PEAK, 800, 1.5f, 1},
    {LINTAQ_PEAK, 1200, -4, 6},      {LINTAQ_PEAK, 2500, 2, 1},        {LINTAQ_PEAK, 4000, -2, 3},
    {LINTAQ_PEAK, 6000, 3, 2},       {LINTAQ_HIGH_SHELF, 9000, 2, 0.7f}, {LINTAQ_LOW_PASS, 19000, 0, 0.7f},
};

// The timed case: stereo, 48 kHz, oversampling on, the left view, 512
// points from 20 Hz to 20 kHz.
TrueResponseRequest twelveBandRequest()
{
    TrueResponseRequest req;
    req.params = paramsOf(kTwelveBands, 48000, true);
    req.channels = 2;
    req.view = LINTAQ_LEFT;
    req.frequencies = graphFrequencies(512, 20, 20000);
    return req;
}

void timeModes(int runs)
{
    TrueResponseRequest req = twelveBandRequest();
    std::vector<std::vector<double>> ms(4), irMs(4);
    std::size_t irLength[4] = {};
    const std::atomic<bool> never{false};
    for (int r = 0; r < runs; ++r) {
        for (int mode = 0; mode < 4; ++mode) {
            req.mode = mode;
            const auto t0 = std::chrono::steady_clock::now();
            const auto res = lintaq_response::computeTrueResponse(req);
            const auto t1 = std::chrono::steady_clock::now();
            lintaq_response::ImpulseResponse ir;
            lintaq_response::measureImpulseResponse(req, never, ir);
            const auto t2 = std::chrono::steady_clock::now();
            if (res.magnitudeDb.size() != req.frequencies.size()) std::abort();
            ms[mode].push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            irMs[mode].push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
            irLength[mode] = ir.samples.size();
        }
    }
    std::printf("computeTrueResponse, 48000 Hz stereo, 12 bands, oversampling on, 512 points, %d runs\n", runs);
    std::printf("mode  median ms  max ms  (impulse response alone: median ms, samples)\n");
    for (int mode = 0; mode < 4; ++mode)
        std::printf("%4d  %9.1f  %6.1f  (%6.1f, %zu)\n", mode, median(ms[mode]),
                    *std::max_element(ms[mode].begin(), ms[mode].end()), median(irMs[mode]), irLength[mode]);
}

struct Departure {
    const char *name;
    Band band;  // type 99: every band off
    int rate;
    bool oversample;
    float fmin, fmax;
};

void departures()
{
    const Departure cases[] = {
        {"peak -12 dB Q 8 at 1 kHz, 48 kHz", {LINTAQ_PEAK, 1000, -12, 8}, 48000, true, 20, 20000},
        {"peak +15 dB Q 20 at 200 Hz, 48 kHz", {LINTAQ_PEAK, 200, 15, 20}, 48000, true, 20, 20000},
        {"peak +10 dB Q 1 at 19 kHz, 48 kHz, no 2x", {LINTAQ_PEAK, 19000, 10, 1}, 48000, false, 20, 21700},
        {"all bands off, 44.1 kHz, 2x", {99, 1000, 0, 1}, 44100, true, 20, 21900},
        {"all bands off, 48 kHz, 2x", {99, 1000, 0, 1}, 48000, true, 20, 23900},
        {"peak +6 dB Q 1 at 1 kHz, 48 kHz", {LINTAQ_PEAK, 1000, 6, 1}, 48000, true, 20, 15000},
    };
    std::printf("\nlargest |measured - ideal| in dB (at Hz), 1024 points\n%-42s", "case");
    for (int mode = 0; mode < 4; ++mode) std::printf("  mode %d           ", mode);
    std::printf("\n");
    for (const Departure &c : cases) {
        std::vector<Band> bands;
        if (c.band.type != 99) bands.push_back(c.band);
        TrueResponseRequest req;
        req.params = paramsOf(bands, c.rate, c.oversample);
        req.channels = 1;
        req.frequencies = graphFrequencies(1024, c.fmin, c.fmax);
        PeqGraph *g = InitPeqGraph(&req.params, 1024, c.fmin, c.fmax);
        std::vector<float> ideal(1024, 0.0f);
        if (!bands.empty()) LintaqGraph(&req.params, g, ideal.data(), 0);
        const int count = g->pointCount;
        ExitPeqGraph(g);
        std::printf("%-42s", c.name);
        for (int mode = 0; mode < 4; ++mode) {
            req.mode = mode;
            const auto res = lintaq_response::computeTrueResponse(req);
            double worst = 0, at = 0;
            for (int i = 0; i < count; ++i) {
                const double d = res.magnitudeDb[i] - ideal[i];
                if (std::fabs(d) > std::fabs(worst)) worst = d, at = req.frequencies[i];
            }
            std::printf("  %+6.2f (%7.0f)  ", worst, at);
        }
        std::printf("\n");
    }
}

// What the editor waits for: from a request to the worker to its result
// being ready to take, polled every millisecond as a UI timer would. A
// single change, and the end of a drag (a request every 16 ms for half a
// second, timed from the last one; the computation running when it came
// is finished first).
void workerLatency(int runs)
{
    TrueResponseRequest req = twelveBandRequest();
    const auto waitFor = [](lintaq_response::TrueResponseWorker &w, uint64_t generation) {
        lintaq_response::TrueResponse out;
        for (;;) {
            if (w.takeResult(out) && out.generation == generation) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    std::printf("\nworker: request to result ready, 48000 Hz stereo, 12 bands, 512 points, %d runs\n", runs);
    std::printf("mode  single change: median ms  max ms   end of a drag: median ms  max ms\n");
    for (int mode : {0, 3}) {
        req.mode = mode;
        std::vector<double> single, drag;
        lintaq_response::TrueResponseWorker worker;
        for (int r = 0; r < runs; ++r) {
            req.params.gain[5] = float(r % 7);
            auto t0 = std::chrono::steady_clock::now();
            waitFor(worker, worker.request(req));
            single.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
            uint64_t last = 0;
            for (int step = 0; step < 30; ++step) {
                req.params.freq[5] = 800.0f + 10.0f * float(step);
                t0 = std::chrono::steady_clock::now();
                last = worker.request(req);
                if (step + 1 < 30) std::this_thread::sleep_for(std::chrono::milliseconds(16));
            }
            waitFor(worker, last);
            drag.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        }
        std::printf("%4d  %24.1f  %6.1f   %24.1f  %6.1f\n", mode, median(single),
                    *std::max_element(single.begin(), single.end()), median(drag),
                    *std::max_element(drag.begin(), drag.end()));
    }
}

// How much the impulse's place in the engine's hop matters: for bands
// that ring past a frame, the responses at 64 places in the hop against
// their mean (what a steady tone meets), 400 points 20 Hz to 20 kHz.
void hopPositions()
{
    constexpr int kPositions = 64;
    const struct {
        const char *name;
        Band band;
        int mode;
    } cases[] = {
        {"+15 dB Q 20 at 30 Hz, mode 3", {LINTAQ_PEAK, 30, 15, 20}, 3},
        {"+15 dB Q 20 at 30 Hz, mode 0", {LINTAQ_PEAK, 30, 15, 20}, 0},
        {"+15 dB Q 20 at 200 Hz, mode 3", {LINTAQ_PEAK, 200, 15, 20}, 3},
        {"-15 dB Q 10 at 60 Hz, mode 3", {LINTAQ_PEAK, 60, -15, 10}, 3},
        {"-12 dB Q 8 at 1 kHz, mode 3", {LINTAQ_PEAK, 1000, -12, 8}, 3},
    };
    const std::atomic<bool> never{false};
    std::printf("\nimpulse position in the hop, %d positions, largest dB over 20 Hz..20 kHz\n", kPositions);
    std::printf("%-32s  spread  |half hop - mean|  |hop start - mean|  worst position\n", "case");
    for (const auto &c : cases) {
        TrueResponseRequest req;
        req.params = paramsOf({c.band}, 48000, true);
        req.mode = c.mode;
        req.channels = 1;
        req.frequencies = graphFrequencies(400, 20, 20000);
        std::vector<lintaq_response::ImpulseResponse> each;
        const lintaq_response::ImpulseResponse mean = true_response_test::meanOverHop(req, kPositions, each);
        std::vector<std::vector<float>> db(kPositions);
        for (int p = 0; p < kPositions; ++p) lintaq_response::spectrumDb(each[p], req.frequencies, never, db[p]);
        std::vector<float> meanDb;
        lintaq_response::spectrumDb(mean, req.frequencies, never, meanDb);
        double spread = 0, half = 0, start = 0, worst = 0;
        for (std::size_t i = 0; i < meanDb.size(); ++i) {
            double lo = 1e9, hi = -1e9;
            for (int p = 0; p < kPositions; ++p) {
                lo = std::min(lo, double(db[p][i]));
                hi = std::max(hi, double(db[p][i]));
                worst = std::max(worst, std::fabs(double(db[p][i]) - meanDb[i]));
            }
            spread = std::max(spread, hi - lo);
            half = std::max(half, std::fabs(double(db[kPositions / 2][i]) - meanDb[i]));
            start = std::max(start, std::fabs(double(db[0][i]) - meanDb[i]));
        }
        std::printf("%-32s  %6.3f  %17.3f  %18.3f  %14.3f\n", c.name, spread, half, start, worst);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    timeModes(runs);
    workerLatency(runs);
    departures();
    hopPositions();
    return 0;
}
