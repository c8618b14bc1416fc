// Processing cost of the engine with twelve working bands (a 30 Hz
// high-pass, an 80 Hz low shelf, eight peaks from 150 Hz to 6 kHz, a 10 kHz
// high shelf and an 18 kHz low-pass), on every mode and path:
//   realTime: average speed in 1024-sample blocks, as a real-time factor,
//             for the plain loops and the fastest kernel set in one run;
//   callCost: the mean, 99th percentile and worst cost of a call at 32,
//             64 and 256-frame blocks, stereo, for the plain instance and
//             the even-load one (LintaqInitSmooth) side by side;
//   automation: what changing all twelve gains (or frequencies) before
//             every 64-frame call adds to the mean call, stereo, 48 kHz,
//             noise on.
// bench/run.sh runs both and prints them as tables with the ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <sys/resource.h>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "lintaq.h"
#include "stream/kernel_set.h"

namespace {

using lintaq::KernelSet;

PeqParams testCurve(int rate, bool oversample, bool noise)
{
    PeqParams p{};
    const float peaks[8] = {150, 300, 500, 900, 1500, 2500, 4000, 6000};
    const struct { unsigned type; float freq, gain, q; } bands[LINTAQ_BANDS] = {
        {3, 30, 0, 0.7071f},       {1, 80, 4, 0.7f},          {0, peaks[0], -3, 1}, {0, peaks[1], 3, 1.5f},
        {0, peaks[2], -2, 2},      {0, peaks[3], 4, 1},       {0, peaks[4], -4, 3}, {0, peaks[5], 2, 1},
        {0, peaks[6], -3, 2},      {0, peaks[7], 3, 1.2f},    {2, 10000, -3, 0.7f}, {4, 18000, 0, 0.7071f},
    };
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.type[k] = bands[k].type;
        p.freq[k] = bands[k].freq;
        p.gain[k] = bands[k].gain;
        p.q[k] = bands[k].q;
        p.enable[k] = 1;
    }
    p.sampleRate = rate;
    p.oversample = oversample ? 1u : 0u;
    p.noise = noise ? 1u : 0u;
    return p;
}

// The paths: 48 kHz at the host rate, 48 kHz with 2x, 44.1 kHz with 2x.
struct Path {
    int rate;
    bool oversample;
};
constexpr Path kPaths[] = {{48000, false}, {48000, true}, {44100, true}};

using Instance = std::unique_ptr<PeqInstance, void (*)(PeqInstance *)>;

// Processing works in place, so every call gets a fresh copy of the same
// noise block: the filters always see signal, never their own output.
struct Stream {
    Instance eq;
    int channels;
    std::vector<float> sourceLeft, sourceRight, left, right;

    Stream(int mode, int channelCount, const PeqParams &p, int block)
        : eq(LintaqInit(mode, channelCount == 2), LintaqExit), channels(channelCount), sourceLeft(size_t(block)),
          sourceRight(size_t(block)), left(size_t(block)), right(size_t(block))
    {
        LintaqSetPar(eq.get(), &p);
        std::mt19937 rng(1);
        std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
        for (size_t i = 0; i < left.size(); ++i)
            sourceLeft[i] = dist(rng), sourceRight[i] = dist(rng);
    }
    void process()
    {
        const int n = int(left.size());
        std::copy(sourceLeft.begin(), sourceLeft.end(), left.begin());
        std::copy(sourceRight.begin(), sourceRight.end(), right.begin());
        if (channels == 2)
            LintaqProcST(eq.get(), left.data(), right.data(), n);
        else
            LintaqProc(eq.get(), left.data(), n);
    }
};

KernelSet chosenSet(benchmark::State &state, int64_t arg)
{
    const KernelSet set = arg == 0 ? KernelSet::plain : lintaq::activeKernelSet();
    state.SetLabel(lintaq::kernelSetName(set));
    return set;
}

// args: fast (0 plain, 1 the widest set), mode, channels, path, noise
void realTime(benchmark::State &state)
{
    const KernelSet previous = lintaq::activeKernelSet();
    lintaq::forceKernelSet(chosenSet(state, state.range(0)));
    const Path path = kPaths[state.range(3)];
    constexpr int kBlock = 1024;
    Stream stream(int(state.range(1)), int(state.range(2)), testCurve(path.rate, path.oversample, state.range(4) != 0),
                  kBlock);
    for (auto _ : state) {
        stream.process();
        benchmark::ClobberMemory();
    }
    // Seconds of audio per second of processing.
    state.counters["x_realtime"] =
        benchmark::Counter(double(kBlock) / path.rate, benchmark::Counter::kIsIterationInvariantRate);
    lintaq::forceKernelSet(previous);
}
BENCHMARK(realTime)
    ->ArgNames({"fast", "mode", "ch", "path", "noise"})
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3}, {1, 2}, {0, 1, 2}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

// args: kernel set, mode, channels. 48 kHz, noise on: what each set gives.
void kernelSets(benchmark::State &state)
{
    const auto set = static_cast<KernelSet>(state.range(0));
    if (!lintaq::kernelSetAvailable(set)) {
        state.SkipWithError("not available on this processor");
        return;
    }
    const KernelSet previous = lintaq::activeKernelSet();
    lintaq::forceKernelSet(set);
    state.SetLabel(lintaq::kernelSetName(set));
    constexpr int kBlock = 1024;
    Stream stream(int(state.range(1)), int(state.range(2)), testCurve(48000, false, true), kBlock);
    for (auto _ : state)
        stream.process();
    state.counters["x_realtime"] =
        benchmark::Counter(double(kBlock) / 48000, benchmark::Counter::kIsIterationInvariantRate);
    lintaq::forceKernelSet(previous);
}
BENCHMARK(kernelSets)
    ->ArgNames({"set", "mode", "ch"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {0, 3}, {2, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

// args: mode, noise. Stereo at 48 kHz: a quarter second of signal, then two
// seconds of silence, over and over. With the noise off the filters' states
// decay towards zero instead of being kept busy, which must cost no more.
void silenceAfterBurst(benchmark::State &state)
{
    constexpr int kBlock = 1024, kBurstBlocks = 12, kSilentBlocks = 94;
    Stream stream(int(state.range(0)), 2, testCurve(48000, false, state.range(1) != 0), kBlock);
    const std::vector<float> signalLeft = stream.sourceLeft, signalRight = stream.sourceRight;
    for (auto _ : state) {
        stream.sourceLeft = signalLeft, stream.sourceRight = signalRight;
        for (int i = 0; i < kBurstBlocks; ++i)
            stream.process();
        std::fill(stream.sourceLeft.begin(), stream.sourceLeft.end(), 0.0f);
        std::fill(stream.sourceRight.begin(), stream.sourceRight.end(), 0.0f);
        for (int i = 0; i < kSilentBlocks; ++i)
            stream.process();
    }
    state.counters["x_realtime"] = benchmark::Counter(double(kBlock) * (kBurstBlocks + kSilentBlocks) / 48000,
                                                      benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(silenceAfterBurst)
    ->ArgNames({"mode", "noise"})
    ->ArgsProduct({{0, 3}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime();

double threadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

// What every call of a stream costs, in thread CPU time (other processes on
// the machine do not count), for the two kinds of instance driven in turn,
// one hop each, so that both see the same load.
// A call before which or during which the thread was switched out finds
// its buffers gone from the caches and pays for it; the worst of the calls
// that ran undisturbed is given as well.
long involuntarySwitches()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nivcsw;
}

struct CallCosts {
    std::vector<double> seconds, undisturbed;
    std::vector<double> byPosition; // summed over hops, per call position in the hop
    double total = 0.0;

    void hop(Stream &stream, int calls)
    {
        byPosition.resize(size_t(calls));
        long switches = involuntarySwitches();
        for (int i = 0; i < calls; ++i) {
            const double start = threadSeconds();
            stream.process();
            const double spent = threadSeconds() - start;
            const long after = involuntarySwitches();
            seconds.push_back(spent);
            if (after == switches)
                undisturbed.push_back(spent);
            switches = after;
            byPosition[size_t(i)] += spent;
            total += spent;
        }
    }
    // The dearest position in the hop, on average over the hops: what the
    // schedule itself gives, without the machine's noise.
    double worstPosition() const
    {
        const double hops = double(seconds.size()) / double(byPosition.size());
        return *std::max_element(byPosition.begin(), byPosition.end()) / hops;
    }
    // The fraction `q` of calls cost at most this.
    static double quantile(std::vector<double> &costs, double q)
    {
        if (costs.empty())
            return 0.0;
        std::sort(costs.begin(), costs.end());
        return costs[std::min(costs.size() - 1, size_t(q * double(costs.size())))];
    }
};

// args: mode, path, noise, block. Stereo: the plain instance, whose call
// that completes a hop filters a whole frame, against the even-load one.
void callCost(benchmark::State &state)
{
    const Path path = kPaths[state.range(1)];
    const int block = int(state.range(3));
    const int callsPerHop = 2048 / block;
    const PeqParams p = testCurve(path.rate, path.oversample, state.range(2) != 0);
    Stream plain(int(state.range(0)), 2, p, block), smooth(int(state.range(0)), 2, p, block);
    smooth.eq = Instance(LintaqInitSmooth(int(state.range(0)), 1), LintaqExit);
    LintaqSetPar(smooth.eq.get(), &p);
    CallCosts plainCosts, smoothCosts;
    for (int i = 0; i < 8 * callsPerHop; ++i) // past the first frames
        plain.process(), smooth.process();
    for (auto _ : state) {
        plainCosts.hop(plain, callsPerHop);
        smoothCosts.hop(smooth, callsPerHop);
    }
    const double calls = double(plainCosts.seconds.size());
    const double audio = calls * block / path.rate;
    for (auto [name, costs] : {std::pair{"plain", &plainCosts}, std::pair{"smooth", &smoothCosts}}) {
        const std::string prefix(name);
        const double mean = costs->total / calls;
        state.counters[prefix + "_mean_us"] = 1e6 * mean;
        state.counters[prefix + "_p99_us"] = 1e6 * CallCosts::quantile(costs->seconds, 0.99);
        state.counters[prefix + "_max_us"] = 1e6 * CallCosts::quantile(costs->seconds, 1.0);
        state.counters[prefix + "_max_of_mean"] = CallCosts::quantile(costs->seconds, 1.0) / mean;
        state.counters[prefix + "_undisturbed_max_of_mean"] = CallCosts::quantile(costs->undisturbed, 1.0) / mean;
        state.counters[prefix + "_worst_position_of_mean"] = costs->worstPosition() / mean;
        state.counters[prefix + "_cpu_per_audio_s"] = costs->total / audio;
    }
    state.counters["smooth_over_plain"] = smoothCosts.total / plainCosts.total;
}
BENCHMARK(callCost)
    ->ArgNames({"mode", "path", "noise", "block"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}, {1, 0}, {32, 64, 256}})
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond);

// args: mode, what (0 gains, 1 frequencies). Stereo, 48 kHz, noise on,
// 64-frame blocks: the mean call when all twelve gains (or frequencies)
// change before every call (host automation), against the same call with
// the settings unchanged, in one run: two instances, called alternately,
// each call timed in thread CPU time.
void automation(benchmark::State &state)
{
    constexpr int kBlock = 64;
    const int mode = int(state.range(0));
    const bool frequencies = state.range(1) != 0;
    const PeqParams base = testCurve(48000, false, true);
    Stream fixed(mode, 2, base, kBlock), automated(mode, 2, base, kBlock);
    PeqParams moving = base;
    double fixedSeconds = 0.0, automatedSeconds = 0.0;
    int64_t calls = 0;
    for (auto _ : state) {
        for (int i = 0; i < 256; ++i, ++calls) {
            const float step = 0.01f * float(calls % 200);
            for (int k = 0; k < LINTAQ_BANDS; ++k) {
                if (frequencies)
                    moving.freq[k] = base.freq[k] * (1.0f + 0.01f * step);
                else
                    moving.gain[k] = base.gain[k] + step;
            }
            double start = threadSeconds();
            LintaqSetPar(automated.eq.get(), &moving);
            automated.process();
            automatedSeconds += threadSeconds() - start;
            start = threadSeconds();
            LintaqSetPar(fixed.eq.get(), &base);
            fixed.process();
            fixedSeconds += threadSeconds() - start;
        }
    }
    state.counters["static_us"] = 1e6 * fixedSeconds / double(calls);
    state.counters["automated_us"] = 1e6 * automatedSeconds / double(calls);
    state.counters["automation_adds_pct"] = 100.0 * (automatedSeconds / fixedSeconds - 1.0);
}
BENCHMARK(automation)
    ->ArgNames({"mode", "what"})
    ->ArgsProduct({{0, 3}, {0, 1}})
    ->Iterations(400)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
