// The engine's correctly rounded elementary functions against the C
// library's, in one run, on random arguments in the ranges the design and
// the graph use; then how often the fast paths fall back on those ranges,
// what a 512-point curve costs, and what the window's cosines add to
// LintaqInit. Thread CPU time; each figure is the best of several rounds
// taken alternately, so both sides see the same machine load.
//   build/bench/maths/bench_maths
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "design/fade_window.h"
#include "lintaq.h"
#include "maths/elementary.h"
#include "maths/fast_paths.h"

namespace {

using lintaq::maths::Function;

double threadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

struct Range {
    const char *name;
    double (*ours)(double);
    double (*libc)(double);
    Function fn;
    double lo, hi;
    bool asFloat; // the graph's arguments are floats
};

double libSin(double x) { return std::sin(x); }
double libCos(double x) { return std::cos(x); }
double libTan(double x) { return std::tan(x); }
double libExp(double x) { return std::exp(x); }
double libPow10(double x) { return std::pow(10.0, x); }
double libLog(double x) { return std::log(x); }
double libLog10(double x) { return std::log10(x); }

// Design angles 2 pi f / Fd lie in (0, 0.91 pi) and the window's in (0, pi);
// tangents of half bandwidths and warped graph angles reach just below
// pi/2; exponentials of grid steps and gains; logarithms of grid ends and
// power ratios.
const Range kRanges[] = {
    {"sin", lintaq::maths::sin, libSin, Function::sin, 0.0, 3.14159, false},
    {"cos", lintaq::maths::cos, libCos, Function::cos, 0.0, 3.14159, false},
    {"tan", lintaq::maths::tan, libTan, Function::tan, 0.0, 1.57075, true},
    {"exp", lintaq::maths::exp, libExp, Function::exp, -10.0, 10.0, false},
    {"exp10", lintaq::maths::exp10, libPow10, Function::exp10, -3.0, 3.0, false},
    {"log", lintaq::maths::log, libLog, Function::log, 1e-6, 1e6, false},
    {"log10", lintaq::maths::log10, libLog10, Function::log10, 1e-6, 1e6, true},
};

std::vector<double> arguments(const Range &r, size_t n, uint64_t seed)
{
    std::mt19937_64 g(seed);
    std::uniform_real_distribution<double> d(r.lo, r.hi);
    std::vector<double> v(n);
    for (double &x : v) {
        x = d(g);
        if (r.asFloat)
            x = static_cast<float>(x);
    }
    return v;
}

// Nanoseconds per call over the arguments, called through a pointer.
double nsPerCall(double (*f)(double), const std::vector<double> &args)
{
    volatile double sink = 0.0;
    const double start = threadSeconds();
    double acc = 0.0;
    for (double x : args)
        acc += f(x);
    sink = acc;
    (void)sink;
    return 1e9 * (threadSeconds() - start) / double(args.size());
}

void compareFunctions()
{
    std::printf("%-7s %10s %10s %7s %14s\n", "", "own ns", "libm ns", "ratio", "fallbacks");
    for (const Range &r : kRanges) {
        const std::vector<double> args = arguments(r, 4096, 7);
        double own = 1e9, lib = 1e9;
        for (int round = 0; round < 200; ++round) {
            own = std::min(own, nsPerCall(r.ours, args));
            lib = std::min(lib, nsPerCall(r.libc, args));
        }
        const std::vector<double> many = arguments(r, 1000000, 11);
        lintaq::maths::resetFallbackCounts();
        for (double x : many)
            (void)r.ours(x);
        const uint64_t fallbacks = lintaq::maths::fallbackCount(r.fn);
        std::printf("%-7s %10.1f %10.1f %7.2f %7llu in 1e6\n", r.name, own, lib, own / lib,
                    static_cast<unsigned long long>(fallbacks));
    }
}

// A peak band's curve on a fresh 512-point grid, as an editor redraws it.
// Timed in batches: reading the thread clock costs about a microsecond
// here, which would otherwise land in every figure.
void curveCost()
{
    PeqParams p{};
    for (int k = 0; k < LINTAQ_BANDS; ++k) {
        p.type[k] = LINTAQ_PEAK;
        p.freq[k] = 1000.0f;
        p.gain[k] = 6.0f;
        p.q[k] = 1.0f;
    }
    p.sampleRate = 48000;
    std::vector<float> db(512);
    constexpr int kBatch = 20;
    PeqGraph *graphs[kBatch];
    double curve = 1e9, grid = 1e9, drawn = 1e9;
    for (int round = 0; round < 300; ++round) {
        double start = threadSeconds();
        for (int b = 0; b < kBatch; ++b) {
            p.gain[0] = 6.0f + 0.01f * float((round * kBatch + b) % 100); // as while a handle is dragged
            PeqGraph *graph = InitPeqGraph(&p, 512, 20.0f, 20000.0f);
            LintaqGraph(&p, graph, db.data(), 0);
            ExitPeqGraph(graph);
        }
        curve = std::min(curve, (threadSeconds() - start) / kBatch);
        start = threadSeconds();
        for (PeqGraph *&graph : graphs)
            graph = InitPeqGraph(&p, 512, 20.0f, 20000.0f);
        const double middle = threadSeconds();
        for (PeqGraph *graph : graphs)
            LintaqGraph(&p, graph, db.data(), 0);
        const double end = threadSeconds();
        for (PeqGraph *graph : graphs)
            ExitPeqGraph(graph);
        grid = std::min(grid, (middle - start) / kBatch);
        drawn = std::min(drawn, (end - middle) / kBatch);
    }
    std::printf("512-point curve (InitPeqGraph + LintaqGraph + ExitPeqGraph): %.2f us (grid %.2f us, "
                "curve %.2f us)\n",
                1e6 * curve, 1e6 * grid, 1e6 * drawn);
}

// The fade window's loop with the C library's cosine, for comparison.
void libmWindow(float *window, int n)
{
    const double step = lintaq::maths::kPi / n;
    double phase = step * 0.5;
    for (int i = 0; i < n; ++i) {
        window[i] = static_cast<float>((1.0 - std::cos(phase)) * 0.5);
        phase += step;
    }
}

void initCost()
{
    std::vector<float> w(4096);
    double own = 1e9, lib = 1e9, init = 1e9;
    for (int round = 0; round < 50; ++round) {
        double start = threadSeconds();
        lintaq::makeFadeWindow(w.data(), 2048);
        lintaq::makeFadeWindow(w.data(), 4096);
        own = std::min(own, threadSeconds() - start);
        start = threadSeconds();
        libmWindow(w.data(), 2048);
        libmWindow(w.data(), 4096);
        lib = std::min(lib, threadSeconds() - start);
        start = threadSeconds();
        PeqInstance *inst = LintaqInit(3, 1);
        init = std::min(init, threadSeconds() - start);
        LintaqExit(inst);
    }
    std::printf("LintaqInit(3, stereo): %.3f ms; its window cosines %.3f ms (libm %.3f ms): %+.3f ms against libm\n",
                1e3 * init, 1e3 * own, 1e3 * lib, 1e3 * (own - lib));
}

} // namespace

int main()
{
    compareFunctions();
    curveCost();
    initCost();
    return 0;
}
