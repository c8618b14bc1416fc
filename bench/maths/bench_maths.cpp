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

template <double (*F)(double)>
void run(benchmark::State &state, double lo, double hi)
{
    const std::vector<double> args = arguments(lo, hi);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(F(args[i]));
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
BENCHMARK_CAPTURE(run<lintaq::maths::sin>, own_sin, 0.0, 3.14);
BENCHMARK_CAPTURE(run<libSin>, libc_sin, 0.0, 3.14);
BENCHMARK_CAPTURE(run<lintaq::maths::cos>, own_cos, 0.0, 3.14);
BENCHMARK_CAPTURE(run<libCos>, libc_cos, 0.0, 3.14);
BENCHMARK_CAPTURE(run<lintaq::maths::tan>, own_tan, 0.0, 1.57);
BENCHMARK_CAPTURE(run<libTan>, libc_tan, 0.0, 1.57);
BENCHMARK_CAPTURE(run<lintaq::maths::exp>, own_exp, -10.0, 10.0);
BENCHMARK_CAPTURE(run<libExp>, libc_exp, -10.0, 10.0);
BENCHMARK_CAPTURE(run<lintaq::maths::exp10>, own_pow10, -3.0, 3.0);
BENCHMARK_CAPTURE(run<libPow10>, libc_pow10, -3.0, 3.0);
BENCHMARK_CAPTURE(run<lintaq::maths::log>, own_log, 1e-6, 1e6);
BENCHMARK_CAPTURE(run<libLog>, libc_log, 1e-6, 1e6);
BENCHMARK_CAPTURE(run<lintaq::maths::log10>, own_log10, 1e-6, 1e6);
BENCHMARK_CAPTURE(run<libLog10>, libc_log10, 1e-6, 1e6);
// Large angles take the long reduction.
BENCHMARK_CAPTURE(run<lintaq::maths::sin>, own_sin_large, 1e6, 1e30);
BENCHMARK_CAPTURE(run<libSin>, libc_sin_large, 1e6, 1e30);

BENCHMARK_MAIN();
