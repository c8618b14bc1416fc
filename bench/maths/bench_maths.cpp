// The engine's correctly rounded elementary functions against the C
// library's, over the arguments the design and the graph typically see.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "maths/elementary.h"

namespace {

std::vector<double> arguments(double lo, double hi)
{
    std::mt19937_64 g(7);
    std::uniform_real_distribution<double> d(lo, hi);
    std::vector<double> v(4096);
    for (double &x : v)
        x = d(g);
    return v;
}

// Both sides are called through a pointer, so neither is inlined.
void run(benchmark::State &state, double (*f)(double), double lo, double hi)
{
    const std::vector<double> args = arguments(lo, hi);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f(args[i]));
        i = (i + 1) & 4095;
    }
}

double libSin(double x) { return std::sin(x); }
double libCos(double x) { return std::cos(x); }
double libTan(double x) { return std::tan(x); }
double libExp(double x) { return std::exp(x); }
double libPow10(double x) { return std::pow(10.0, x); }
double libLog(double x) { return std::log(x); }
double libLog10(double x) { return std::log10(x); }

} // namespace

// Design angles lie in (0, pi); graph power ratios and grid spans are
// moderate; gains are a few tens of dB.
BENCHMARK_CAPTURE(run, own_sin, lintaq::maths::sin, 0.0, 3.14);
BENCHMARK_CAPTURE(run, libc_sin, libSin, 0.0, 3.14);
BENCHMARK_CAPTURE(run, own_cos, lintaq::maths::cos, 0.0, 3.14);
BENCHMARK_CAPTURE(run, libc_cos, libCos, 0.0, 3.14);
BENCHMARK_CAPTURE(run, own_tan, lintaq::maths::tan, 0.0, 1.57);
BENCHMARK_CAPTURE(run, libc_tan, libTan, 0.0, 1.57);
BENCHMARK_CAPTURE(run, own_exp, lintaq::maths::exp, -10.0, 10.0);
BENCHMARK_CAPTURE(run, libc_exp, libExp, -10.0, 10.0);
BENCHMARK_CAPTURE(run, own_pow10, lintaq::maths::exp10, -3.0, 3.0);
BENCHMARK_CAPTURE(run, libc_pow10, libPow10, -3.0, 3.0);
BENCHMARK_CAPTURE(run, own_log, lintaq::maths::log, 1e-6, 1e6);
BENCHMARK_CAPTURE(run, libc_log, libLog, 1e-6, 1e6);
BENCHMARK_CAPTURE(run, own_log10, lintaq::maths::log10, 1e-6, 1e6);
BENCHMARK_CAPTURE(run, libc_log10, libLog10, 1e-6, 1e6);
// Large angles take the long reduction.
BENCHMARK_CAPTURE(run, own_sin_large, lintaq::maths::sin, 1e6, 1e30);
BENCHMARK_CAPTURE(run, libc_sin_large, libSin, 1e6, 1e30);

BENCHMARK_MAIN();
