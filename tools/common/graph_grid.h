// The frequencies of a response grid's points. The grid keeps only their
// warped squares, so whoever draws or measures at the points forms them
// again, here as InitPeqGraph forms them: the span's logarithm in double,
// the step in single precision, then a running single-precision product.
// A curve measured at these frequencies then lines up with the drawn one.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace lintaq_grid {

// All n points from fmin (n >= 2); the grid counts only the first
// pointCount of them.
inline std::vector<float> gridFrequencies(int n, float fmin, float fmax)
{
    const double span = std::log(static_cast<double>(fmax)) - std::log(static_cast<double>(fmin));
    const float step = static_cast<float>(span) / static_cast<float>(n - 1);
    const float ratio = static_cast<float>(std::exp(static_cast<double>(step)));
    std::vector<float> f(static_cast<std::size_t>(n));
    float x = fmin;
    for (std::size_t i = 0; i < f.size(); ++i) {
        f[i] = x;
        x *= ratio;
    }
    return f;
}

} // namespace lintaq_grid
