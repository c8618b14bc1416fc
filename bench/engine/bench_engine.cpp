// Processing cost of the engine: twelve active bands, every mode and path.
// Reported as CPU seconds per minute of audio ("cpu_s_per_min").
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "lintaq.h"
#include "stream/band_cascade.h"
#include "stream/resample.h"
#include "stream/resample_tables.h"
#include "design/design_bands.h"

namespace {

PeqParams twelveBands(int rate, bool oversample)
{
    PeqParams p{};
    const unsigned types[LINTAQ_BANDS] = {3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 2, 4};
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.freq[k] = 30.0f * std::pow(2.0f, 0.8f * static_cast<float>(k));
        p.gain[k] = (k % 2 == 0) ? 3.0f : -3.0f;
        p.q[k] = 1.0f;
        p.type[k] = types[k];
        p.enable[k] = 1;
    }
    p.sampleRate = rate;
    p.oversample = oversample ? 1u : 0u;
    p.noise = 1;
    return p;
}

// args: mode, channels, rate, oversample
void processStream(benchmark::State &state)
{
    const int mode = static_cast<int>(state.range(0));
    const int channels = static_cast<int>(state.range(1));
    const int rate = static_cast<int>(state.range(2));
    const bool oversample = state.range(3) != 0;
    std::unique_ptr<PeqInstance, void (*)(PeqInstance *)> eq(LintaqInit(mode, channels == 2), LintaqExit);
    const PeqParams p = twelveBands(rate, oversample);
    LintaqSetPar(eq.get(), &p);
    constexpr int kBlock = 1024;
    std::vector<float> left(kBlock), right(kBlock);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    for (int i = 0; i < kBlock; ++i) {
        left[i] = dist(rng);
        right[i] = dist(rng);
    }
    for (auto _ : state) {
        if (channels == 2)
            LintaqProcST(eq.get(), left.data(), right.data(), kBlock);
        else
            LintaqProc(eq.get(), left.data(), kBlock);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
    // Seconds of processing per minute of audio at this rate.
    state.counters["cpu_s_per_min"] = benchmark::Counter(
        kBlock / (60.0 * rate), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(processStream)
    ->ArgNames({"mode", "ch", "rate", "2x"})
    ->ArgsProduct({{0, 3}, {1, 2}, {48000}, {0, 1}})
    ->Args({3, 2, 44100, 1})
    ->Args({3, 2, 96000, 0})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

// One hop through the interpolator: the plain loop against the one that
// works on four outputs at once. arg: 0 plain, 1 fast; table 156 or 278.
void interpolateHop(benchmark::State &state)
{
    const bool fast = state.range(0) != 0;
    const int tableLength = static_cast<int>(state.range(1));
    const double *table = tableLength == 156 ? lintaq::upTaps156 : lintaq::upTaps278;
    std::vector<float> src(2048), dest(4096), history(278);
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (float &x : src)
        x = dist(rng);
    for (auto _ : state) {
        (fast ? lintaq::interpolate2x : lintaq::interpolate2xReference)(
            dest.data(), 4096, src.data(), 2048, table, history.data(), tableLength);
        benchmark::DoNotOptimize(dest.data());
    }
}
BENCHMARK(interpolateHop)->ArgNames({"fast", "taps"})->ArgsProduct({{0, 1}, {156, 278}});

// Twelve bands over one mode-0 frame, forwards then backwards: band by band
// against four bands in flight. arg: 0 plain, 1 interleaved.
void cascadeFrame(benchmark::State &state)
{
    const bool fast = state.range(0) != 0;
    lintaq::PeqBandState bands[12];
    double states[12][2] = {};
    lintaq::CascadeBand entries[12];
    for (int k = 0; k < 12; ++k) {
        lintaq::resetBand(bands[k]);
        lintaq::designBand(bands[k], k % 3 == 0 ? 1u : 0u, 40.0f * static_cast<float>(k + 1), 4.0f, 1.0f, 48000.0f);
        entries[k] = {&bands[k], states[k]};
    }
    std::vector<float> frame(36864);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (float &x : frame)
        x = dist(rng);
    const auto run = fast ? lintaq::runCascade : lintaq::runCascadeReference;
    for (auto _ : state) {
        run(frame.data(), entries, 12, 2048, 34816, lintaq::Direction::forward);
        run(frame.data(), entries, 12, 2048, 34816, lintaq::Direction::backward);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(cascadeFrame)->ArgNames({"fast"})->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
