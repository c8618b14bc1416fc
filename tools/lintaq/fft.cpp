#include "fft.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace lintaq_cli {

void fft(std::vector<std::complex<double>> &x)
{
    const std::size_t n = x.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    // Twiddles from the angle directly (no drift from repeated products),
    // once for the largest stage; smaller stages take every stride-th one.
    std::vector<std::complex<double>> twiddle(n / 2);
    for (std::size_t k = 0; k < n / 2; ++k)
        twiddle[k] = std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n));
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::size_t stride = n / len;
        for (std::size_t start = 0; start < n; start += len) {
            for (std::size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> w = twiddle[k * stride];
                const std::complex<double> a = x[start + k];
                const std::complex<double> b = x[start + k + len / 2] * w;
                x[start + k] = a + b;
                x[start + k + len / 2] = a - b;
            }
        }
    }
}

}  // namespace lintaq_cli
