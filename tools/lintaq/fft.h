// A small radix-2 FFT, enough to look at an impulse response.
#pragma once

#include <complex>
#include <vector>

namespace lintaq_cli {

// In place, forward (e^{-j...}); the size must be a power of two.
void fft(std::vector<std::complex<double>> &x);

}  // namespace lintaq_cli
